// Construction with the stream scan, the reader thread and the three
// callbacks through which the demultiplexer delivers payloads.

#include "player/ASFPlayer.h"

#include "platform/storage/Entry.h"

namespace
{

// Where a new player window appears and how big it is before a video sets
// its size.
const BRect kInitialFrame(50, 50, 400, 400);

const char* title_for(const entry_ref* ref)
{
    return ref != nullptr && ref->name != nullptr ? ref->name : "";
}

} // namespace

CASFPlayer::CASFPlayer(const entry_ref* ref)
    : BWindow(kInitialFrame, title_for(ref), B_TITLED_WINDOW_LOOK, B_NORMAL_WINDOW_FEEL, 0,
              B_CURRENT_WORKSPACE),
      fInitStatus(-1), fFile(ref, B_READ_ONLY), fExtractor(&fFile), fContentView(nullptr),
      fVideoDecoder(nullptr), fVideoStream(-1), fFrames{}, fFrameTimes{}, fWriteFrame(0),
      fReadFrame(0), fVideoReadSem(create_sem(0, "VideoRead")),
      fVideoWriteSem(create_sem(3, "VideoWrite")), fAudioStream(-1), fAudioCodec(nullptr),
      fAudioBlockSize(0), fSound(nullptr), fAudioThread(-1), fPCMLock("PCMLock"), fPCMLimit(0),
      fPCMSpaceSem(-1), fPCMEnded(false), fVideoThread(-1), fReaderThread(-1)
{
    fInitStatus = fExtractor.InitCheck();
    if (fInitStatus < B_OK)
        return;

    fVideoStream = -1;
    fAudioStream = -1;
    // From the last stream down: the highest-numbered stream of each kind
    // whose set-up succeeds is played.
    for (int32 i = fExtractor.CountStreams() - 1; i >= 0; i--) {
        const CASFExtractor::stream_info* info = fExtractor.StreamInfoAt(i);
        if (fVideoStream < 0 && info->type == CASFExtractor::kVideoStream) {
            if (SetUpVideo(info))
                fVideoStream = i;
        } else if (fAudioStream < 0 && info->type == CASFExtractor::kAudioStream) {
            if (SetUpAudio(info))
                fAudioStream = i;
        }
    }
    fInitStatus = fVideoStream >= 0 || fAudioStream >= 0 ? B_OK : -1;
    if (fInitStatus == B_OK)
        InitViews();
}

void CASFPlayer::Start()
{
    fReaderThread = spawn_thread(ReaderThreadWrapper, "ReaderThread", B_NORMAL_PRIORITY, this);
    resume_thread(fReaderThread);
}

int32 CASFPlayer::ReaderThreadWrapper(void* player)
{
    return static_cast<CASFPlayer*>(player)->ReaderThread();
}

int32 CASFPlayer::AudioThreadWrapper(void* player)
{
    return static_cast<CASFPlayer*>(player)->AudioThread();
}

int32 CASFPlayer::VideoThreadWrapper(void* player)
{
    return static_cast<CASFPlayer*>(player)->VideoThread();
}

void CASFPlayer::StreamFunctionWrapper(int32 stream, BDataIO* source, uint32 size, void* cookie)
{
    static_cast<CASFPlayer*>(cookie)->StreamFunction(stream, source, size);
}

void CASFPlayer::FlushFunctionWrapper(int32 stream, bool flag, uint32 time, void* cookie)
{
    static_cast<CASFPlayer*>(cookie)->FlushFunction(stream, flag, time);
}

void CASFPlayer::SkipFunctionWrapper(int32 stream, void* cookie)
{
    static_cast<CASFPlayer*>(cookie)->SkipFunction(stream);
}

int32 CASFPlayer::ReaderThread()
{
    while (!has_kill_request()) {
        status_t status = fExtractor.ReadOn(StreamFunctionWrapper, FlushFunctionWrapper,
                                            SkipFunctionWrapper, this);
        if (status != B_OK)
            break;
    }
    if (!has_kill_request())
        AudioFinish();
    EndPCM();
    // At the end of the data, or after a read error, the reader idles until
    // the window is closed: the window stays open on its last picture.
    while (!has_kill_request())
        snooze(B_INFINITE_TIMEOUT);
    return B_OK;
}

void CASFPlayer::StreamFunction(int32 stream, BDataIO* source, uint32 size)
{
    if (fAudioStream >= 0 && stream == fAudioStream) {
        fAudioData.WriteFromStream(source, size);
    } else if (fVideoStream >= 0 && stream == fVideoStream) {
        fVideoData.WriteFromStream(source, size);
    } else if (auto* positionable = dynamic_cast<BPositionIO*>(source)) {
        // Not played: stepped over, not read.
        positionable->Seek(off_t(size), SEEK_CUR);
    }
}

void CASFPlayer::FlushFunction(int32 stream, bool, uint32)
{
    // A frame is shown at its own presentation time. The time handed to the
    // flush is the send time of the packet where the next object begins:
    // frames that share a packet would share it and all but one come late.
    if (fVideoStream >= 0 && stream == fVideoStream)
        VideoFlush(fExtractor.ObjectTime(stream));
    else if (fAudioStream >= 0 && stream == fAudioStream)
        AudioFlush();
}

void CASFPlayer::SkipFunction(int32 stream)
{
    if (fVideoStream >= 0 && stream == fVideoStream)
        fVideoData.MakeEmpty(true);
    else if (fAudioStream >= 0 && stream == fAudioStream)
        fAudioData.MakeEmpty(true);
}
