// The video path: the decoder, the queue of compressed pictures, the ring of
// three decoded frames and the "VideoThread", which decodes into the ring
// ahead of time and shows each frame when the clock reaches it.
#pragma once

#include "asf/ASFExtractor.h"
#include "platform/interface/GraphicsDefs.h"
#include "platform/interface/Rect.h"
#include "platform/media/MediaDefs.h"
#include "platform/support/Result.h"
#include "player/MediaQueue.h"
#include "player/WorkerThread.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class BBitmap;
class CPictureDecoder;
class CPictureSink;
class CPlaybackClock;

class CVideoPath
{
public:
    CVideoPath(CWakeUp* readerWake, CPlaybackClock* clock);
    ~CVideoPath();
    CVideoPath(const CVideoPath&) = delete;
    CVideoPath& operator=(const CVideoPath&) = delete;

    // Opens the decoder and makes the ring; a failure leaves nothing
    // behind.
    // `output`: B_RGB32 pictures for a sink, or B_YUV420 from the decoder
    // alone (a session that renders drives it).
    CResult SetUp(const CASFExtractor::stream_info* info, color_space output = B_RGB32);
    CPictureDecoder* Decoder() const { return fDecoder.get(); }
    // What decodes the pictures, for the user.
    std::string Description() const;
    bool IsSetUp() const { return fDecoder != nullptr; }
    int32 Width() const { return fWidth; }
    int32 Height() const { return fHeight; }

    // Where pictures go; before Start.
    void SetSink(CPictureSink* sink) { fSink = sink; }
    // Starts the "VideoThread".
    void Start();
    void Kill() { fWorker.AskToEnd(); }
    void WaitForThread() { fWorker.Join(); }
    void Release();

    CMediaQueue& Queue() { return fQueue; }
    thread_id Thread() const { return fWorker.Thread(); }
    sem_id ReadSem() const { return fReadSem; }
    sem_id WriteSem() const { return fWriteSem; }

    // Everything decoded or queued before belongs to an older seek.
    void Seek(uint32 generation);
    // The picture last shown, to draw again (after the window changed);
    // null before the first. Only the video thread changes which picture
    // is held, and never while one is shown.
    const BBitmap* HeldPicture() const;
    // Called once, on the video thread, when no more pictures can be
    // decoded, with the sentence for the user.
    void SetFailureHandler(std::function<void(const std::string&)> handler)
    {
        fFailureHandler = std::move(handler);
    }
    // Frames drawn since the start (tests, the controls).
    int32 FramesShown() const { return fShown; }
    // The time of the frame last shown, ms.
    uint32 LastShownTime() const { return fLastShownTime; }

private:
    int32 Thread();
    // Decodes the next object into the ring when a slot is free; false
    // when there was nothing to do within `timeout`.
    bool DecodeAhead(bigtime_t timeout);
    void Draw(int32 slot);
    // The frame in `slot` is done with: it stays held as the picture to
    // redraw, and the one held before is free again.
    void Done(int32 slot);
    void ApplySeek();

    std::unique_ptr<CPictureDecoder> fDecoder;
    int32 fWidth;
    int32 fHeight;
    CMediaQueue fQueue;
    CPlaybackClock* fClock;

    std::unique_ptr<BBitmap> fFrames[3];
    uint32 fFrameTimes[3];
    uint32 fFrameShowFrom[3];
    int32 fWriteFrame;
    int32 fReadFrame;
    sem_id fReadSem;
    sem_id fWriteSem;
    CWorkerThread fWorker;

    CPictureSink* fSink;
    std::atomic<int32> fLastShown; // the slot drawn last, -1 none

    uint32 fGeneration;
    std::atomic<uint32> fWantedGeneration;
    std::unique_ptr<media_object> fStash;
    std::function<void(const std::string&)> fFailureHandler;
    bool fFailureTold;
    std::atomic<int32> fShown;
    std::atomic<uint32> fLastShownTime;
};
