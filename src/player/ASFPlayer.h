// The player of one ASF file: a window that owns the file and its
// demultiplexer, plays at most one video and one audio stream, and routes
// the demultiplexer's payloads to them from a reader thread.
#pragma once

#include "asf/ASFExtractor.h"
#include "asf/VariableBuffer.h"
#include "platform/interface/Rect.h"
#include "platform/interface/Window.h"
#include "platform/kernel/OS.h"
#include "platform/storage/File.h"
#include "platform/support/Locker.h"

class BBitmap;
class BMediaBufferDecoder;
class BPushGameSound;
class BView;
class CACMCodec;
struct entry_ref;

// What a closing player window asks of the application; field "player".
enum { kMsgClosePlayer = 'plRC' };

class CASFPlayer : public BWindow
{
public:
    explicit CASFPlayer(const entry_ref* ref);
    ~CASFPlayer() override;

    // The extractor's negative status when the file did not parse, -1 when
    // no stream could be set up, 0 otherwise.
    status_t InitCheck() const { return fInitStatus; }
    // Starts the reader thread; once, after the window is shown.
    void Start();

    void Quit() override;
    bool QuitRequested() override;

    static int32 ReaderThreadWrapper(void* player);
    static int32 AudioThreadWrapper(void* player);
    static int32 VideoThreadWrapper(void* player);
    static void StreamFunctionWrapper(int32 stream, BDataIO* source, uint32 size, void* cookie);
    static void FlushFunctionWrapper(int32 stream, bool flag, uint32 time, void* cookie);
    static void SkipFunctionWrapper(int32 stream, void* cookie);

private:
    friend struct player_probe; // the tests' window into the player

    void InitViews();
    void StreamFunction(int32 stream, BDataIO* source, uint32 size);
    void FlushFunction(int32 stream, bool flag, uint32 time);
    void SkipFunction(int32 stream);
    int32 ReaderThread();
    int32 AudioThread();
    int32 VideoThread();

    // The two paths, each in a file of its own. A set-up that fails leaves
    // nothing behind.
    bool SetUpVideo(const CASFExtractor::stream_info* info);
    void VideoFlush(uint32 time);
    void ReleaseVideo();
    bool SetUpAudio(const CASFExtractor::stream_info* info);
    // The sound output for PCM at `rate` and `channels`, and the audio
    // thread that feeds it; false leaves nothing behind.
    bool StartSound(uint32 rate, uint16 channels);
    void AudioFlush();
    // At the end of the stream: what is left, short of a block, goes to the
    // codec as its last conversion.
    void AudioFinish();
    // Appends converted PCM to the queue, waiting while the queue holds its
    // limit; false when the reader was killed while it waited.
    bool QueuePCM(const void* pcm, uint32 size);
    void EndPCM();
    void ReleaseAudio();

    // Ends a thread killed by Quit: waits until it has left its loop.
    static void StopThread(thread_id* thread);

    status_t fInitStatus;
    BFile fFile;
    CASFExtractor fExtractor;
    BView* fContentView;
    BRect fVideoRect;
    BMediaBufferDecoder* fVideoDecoder;
    int32 fVideoStream;
    CVariableBuffer fVideoData;
    BBitmap* fFrames[3];
    uint32 fFrameTimes[3];
    int32 fWriteFrame;
    int32 fReadFrame;
    sem_id fVideoReadSem;
    sem_id fVideoWriteSem;
    int32 fAudioStream;
    CVariableBuffer fAudioData;
    CACMCodec* fAudioCodec;
    uint32 fAudioBlockSize;
    BPushGameSound* fSound;
    CVariableBuffer fPCMData;
    thread_id fAudioThread;
    BLocker fPCMLock;
    // The queue's bound (about two seconds of sound) and the semaphore the
    // audio thread releases when it takes from a full queue.
    uint32 fPCMLimit;
    sem_id fPCMSpaceSem;
    // Set (under fPCMLock) once the reader has queued its last sound: the
    // audio thread then plays a last part page rather than waiting for more.
    bool fPCMEnded;
    thread_id fVideoThread;
    thread_id fReaderThread;
};
