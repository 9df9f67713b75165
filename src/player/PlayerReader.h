// The reader and the routing: the "ReaderThread" demultiplexes the file into
// one bounded queue of compressed objects per played stream, never waiting
// on a picture, and carries out seeks.
#pragma once

#include "asf/ASFExtractor.h"
#include "asf/VariableBuffer.h"
#include "player/MediaQueue.h"
#include "player/WorkerThread.h"

#include <atomic>
#include <memory>
#include <vector>

class CAudioPath;
class CPlaybackClock;
class CVideoPath;

class CPlayerReader
{
public:
    // Sound is queued at least this far ahead of the output (ms); pictures
    // as far as the sound, or this far without sound.
    static constexpr uint32 kAheadTime = 3000;
    // What all queues of a player may hold, whatever the file declares.
    static constexpr size_t kMemoryCap = 64 * 1024 * 1024;

    CPlayerReader(CASFExtractor* extractor, CPlaybackClock* clock);
    ~CPlayerReader();
    CPlayerReader(const CPlayerReader&) = delete;
    CPlayerReader& operator=(const CPlayerReader&) = delete;

    // The paths the played streams go to; called before Start.
    void SetAudio(CAudioPath* audio, int32 stream);
    void SetVideo(CVideoPath* video, int32 stream);
    // The wake-up the paths' queues give when an object leaves them.
    CWakeUp* RoomWake() { return &fRoom; }

    void Start();
    void Kill() { fWorker.AskToEnd(); }
    void WaitForThread() { fWorker.Join(); }
    thread_id Thread() const { return fWorker.Thread(); }

    // Playback length in milliseconds: as the file says, or for a live
    // capture the last packet's time, then the latest object read (0 until
    // known).
    uint32 Duration() const;
    // Goes to `time` (ms); the latest request wins.
    void RequestSeek(uint32 time);
    // Seeks carried out so far (tests, the controls).
    uint32 SeeksDone() const { return fGeneration; }
    // Whether the reader has reached the end of the data.
    bool AtEnd() const { return fAtEnd; }

    static void StreamFunctionWrapper(int32 stream, BDataIO* source, uint32 size, void* cookie);
    static void FlushFunctionWrapper(int32 stream, bool flag, uint32 time, void* cookie);
    static void SkipFunctionWrapper(int32 stream, void* cookie);

private:
    int32 Thread();
    bool DurationUnknown() const;
    void StreamFunction(int32 stream, BDataIO* source, uint32 size);
    void FlushFunction(int32 stream);
    void SkipFunction(int32 stream);
    bool NeedsRoom();
    void Route(std::unique_ptr<media_object> object, bool video);
    void BeginSeek(uint32 target);
    // Reading from fSeekOffset did not meet a key frame before the target:
    // starts again further back.
    void BackOff();
    // The target is reached (or the data ended): what was held goes out.
    void EndSeek(bool atEnd);
    // The packet to read from for `target`: the index's, else the last
    // packet sent at or before it, found by bisecting the data's bytes.
    uint64 StartOffset(uint32 target);
    void Restart(uint64 offset);

    CASFExtractor* fExtractor;
    CPlaybackClock* fClock;
    CAudioPath* fAudio;
    CVideoPath* fVideo;
    int32 fAudioStream;
    int32 fVideoStream;
    CVariableBuffer fAssembly[CASFExtractor::kMaxStreams];
    CWakeUp fRoom;

    std::atomic<uint32> fSeekRequests;
    std::atomic<uint32> fSeekTarget;
    uint32 fSeeksSeen;
    std::atomic<uint32> fGeneration;
    std::atomic<bool> fAtEnd;
    std::atomic<uint32> fFoundDuration;

    // While a seek looks for its place.
    bool fSeeking;
    uint32 fTarget;
    uint64 fSeekOffset; // of the packet the seek reads from
    uint64 fBackOffBytes;
    bool fHaveKey;
    bool fNeedBackOff;
    std::vector<std::unique_ptr<media_object>> fHeldVideo;
    std::vector<std::unique_ptr<media_object>> fHeldAudio;

    // Last: gone first, so that a thread still running ends before what it
    // uses.
    CWorkerThread fWorker;
};
