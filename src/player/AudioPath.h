// The audio path: the stream's codec module converts the compressed
// objects of the audio queue to 16-bit PCM on the audio thread, which
// writes it page by page into the sound output and tells the clock how far
// the output has played.
#pragma once

#include "asf/ASFExtractor.h"
#include "asf/VariableBuffer.h"
#include "platform/media/MediaDefs.h"
#include "platform/support/Result.h"
#include "player/MediaQueue.h"
#include "player/SoundDecoder.h"
#include "player/WorkerThread.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class BPushGameSound;

class CAudioPath
{
public:
    // The sound output's ring: pages of 1024 frames, eight of them (with
    // the PCM converted ahead, a busy machine may hold the audio thread up
    // for a third of a second without a dropout).
    static constexpr size_t kFramesPerPage = 1024;
    static constexpr size_t kPageCount = 8;

    // `readerWake` is woken whenever an object leaves the queue.
    explicit CAudioPath(CWakeUp* readerWake);
    ~CAudioPath();
    CAudioPath(const CAudioPath&) = delete;
    CAudioPath& operator=(const CAudioPath&) = delete;

    // Chooses the stream's decoder and opens the sound output; a failure
    // leaves nothing behind. With `openLater`, only the format is read
    // here: the thread opens decoder and output while the first picture is
    // made, and should that fail, passes the stream over and leaves the
    // clock to the system. Without `output`, only the decoder opens (a
    // session that renders drives it).
    CResult SetUp(const CASFExtractor::stream_info* info, bool openLater = false,
                  bool output = true);
    CSoundDecoder* Decoder() const { return fDecoder.get(); }
    // What decodes the sound ("codec module l3codeca.acm"), or why nothing
    // does ("No decoder for audio format 0x0162").
    std::string Description() const { return fDecoder != nullptr ? fDecoder->Description() : ""; }
    uint16 FormatTag() const { return fFormatTag; }
    bool IsSetUp() const { return fSound != nullptr; }
    // Starts the sound output and the "AudioThread".
    void Start();
    // Asks the thread to end (it may be inside module code); WaitForThread
    // returns once it has.
    void Kill() { fWorker.AskToEnd(); }
    void WaitForThread() { fWorker.Join(); }
    // After the thread has ended: closes the output and the codec.
    void Release();

    CMediaQueue& Queue() { return fQueue; }
    thread_id Thread() const { return fWorker.Thread(); }
    uint32 Rate() const { return fRate; }
    uint16 Channels() const { return fChannels; }

    // Everything queued before belongs to an older seek: the thread drops
    // what it holds, restarts the conversion and plays from `target` (ms).
    void Seek(uint32 generation, uint32 target);
    // After a start or a seek, with pictures: the sound waits (converted,
    // not played) until the first picture is ready, so that both begin
    // together; a second at most.
    void SetWaitForPicture(bool wait) { fWaitForPicture = wait; }
    // The first picture after seek `generation` (0: the start) is ready.
    void PictureReady(uint32 generation) { fPictureReady = generation + 1; }
    // The sound of seek `generation` (0: the start) is converted and can
    // begin, or there is none to wait for.
    bool SoundReady(uint32 generation) const { return fSoundReady > generation; }
    // Paused: no more pages are written; the output plays silence once the
    // pages already queued have played.
    void SetPaused(bool paused);
    // The output's gain, 0..1, heard within one device buffer (the pages
    // queued included); muted plays silence.
    void SetVolume(float volume);
    void SetMuted(bool muted);

    // Where in the stream the output is (µs of media time): true while the
    // sound is what the clock follows; false once it has ended or stalled.
    bool Position(bigtime_t* mediaTime);

    // Every object converted and every frame written into pages (tests).
    bool AllQueued();

private:
    struct page_record {
        uint64 startFrame; // in the output's count of page frames
        uint64 frames;
        bigtime_t mediaTime; // of the page's first frame
    };

    int32 Thread();
    CResult Open();
    // The gain volume and mute ask for.
    float Gain() const;
    void StartOutput();
    void ApplySeek();
    // Converts one object into fPCM; false when the codec failed.
    void Convert(const media_object& object);
    // Nothing queued: what a codec host gives back meanwhile.
    void Idle();
    // The stream's end: the codec's last conversion.
    void Finish();
    // After a seek, what comes before the target is not played.
    void DropBeforeTarget();
    void WritePage();

    std::unique_ptr<CSoundDecoder> fDecoder;
    uint16 fFormatTag = 0;
    uint32 fRate;
    uint16 fChannels;
    uint32 fFrameSize;
    sound_stream_format fFormat{};
    bool fOpenLater = false;
    bool fWithOutput = true;
    std::unique_ptr<BPushGameSound> fSound;
    std::atomic<bool> fOutputStarted{false}; // read by the clock
    CMediaQueue fQueue;
    CWorkerThread fWorker;

    // Audio thread only.
    CVariableBuffer fPCM;
    bigtime_t fPCMTime; // media time of fPCM's first frame
    bool fHavePCMTime;
    std::atomic<uint32> fGeneration; // read by the clock
    uint32 fShowFrom;
    bool fConversionStarted;
    bool fDevicePlaying = false;

    std::atomic<uint32> fWantedGeneration;
    std::atomic<uint32> fWantedTarget;
    std::atomic<bool> fPaused;
    std::atomic<bool> fWaitForPicture;
    std::atomic<uint32> fPictureReady; // the generation ready, plus one
    std::atomic<uint32> fSoundReady;   // the same for the sound
    bigtime_t fHeldSince;
    std::atomic<float> fVolume;
    std::atomic<bool> fMuted;

    // What the thread has queued in the output, page by page, for Position.
    std::mutex fPagesLock;
    std::deque<page_record> fPages;
    uint64 fQueuedFrames;
    bigtime_t fBase; // media time before the first page
    bigtime_t fBaseSince;
    uint64 fLastPlayed;
    bigtime_t fLastAdvance;
    bool fEnded;    // the queue is drained and every frame queued
    bool fFinished; // audio thread: the last conversion was made
};
