// Opening a file and choosing its streams, and the session's threads.

#include "player/PlaybackSession.h"

#include "platform/storage/Entry.h"
#include "platform/storage/Path.h"

#include <algorithm>

CResult open_asf_file(const entry_ref* ref, const char* path, std::unique_ptr<BFile>* file,
                      std::unique_ptr<CASFExtractor>* extractor)
{
    *file = ref != nullptr ? std::make_unique<BFile>(ref, B_READ_ONLY)
                           : std::make_unique<BFile>(path, B_READ_ONLY);
    status_t status = (*file)->InitCheck();
    if (status < B_OK)
        return CResult(status,
                       status == B_ENTRY_NOT_FOUND ? "no such file" : status_string(status));
    *extractor = std::make_unique<CASFExtractor>(file->get());
    status = (*extractor)->InitCheck();
    if (status < B_OK)
        return CResult(status, "not an ASF file, or its header is damaged");
    return CResult();
}

CPlaybackSession::CPlaybackSession() = default;

CPlaybackSession::~CPlaybackSession()
{
    Stop();
}

CResult CPlaybackSession::Open(const entry_ref* ref, session_mode mode)
{
    fMode = mode;
    BPath path(ref);
    fPath = path.Path() != nullptr ? path.Path() : "";
    CResult opened = open_asf_file(ref, nullptr, &fFile, &fExtractor);
    return opened.IsOK() ? OpenStreams() : opened;
}

CResult CPlaybackSession::Open(const char* path, session_mode mode)
{
    fMode = mode;
    fPath = path;
    CResult opened = open_asf_file(nullptr, path, &fFile, &fExtractor);
    return opened.IsOK() ? OpenStreams() : opened;
}

CResult CPlaybackSession::OpenStreams()
{
    fReader = std::make_unique<CPlayerReader>(fExtractor.get(), &fClock);
    SetUpStreams();
    // A sound-only file opens even when nothing can decode its sound: the
    // window says why, and its time runs.
    bool soundOnly = fHasAudioStream && !fHasVideoStream;
    if (fVideo == nullptr && fAudio == nullptr && !soundOnly && !fProtected) {
        // Each stream's own reason, as its path met it.
        std::string why = fVideoNote;
        if (!fSoundNote.empty())
            why += (why.empty() ? "" : ". ") + fSoundNote;
        return CResult::Failure(why.empty() ? "no video or audio stream that can be played" : why);
    }
    return CResult();
}

void CPlaybackSession::SetUpStreams()
{
    // Of several streams of a kind (the same content at several bitrates),
    // the one of the highest bitrate whose set-up succeeds is played.
    std::vector<int32> videoStreams = fExtractor->StreamsToTry(CASFExtractor::kVideoStream);
    std::vector<int32> audioStreams = fExtractor->StreamsToTry(CASFExtractor::kAudioStream);
    fHasVideoStream = !videoStreams.empty();
    fHasAudioStream = !audioStreams.empty();
    if (fExtractor->Info().isProtected) {
        // Protected content decodes into noise or silence: nothing plays.
        fProtected = true;
        fSoundNote = "Protected by DRM: this file cannot be played";
        videoStreams.clear();
        audioStreams.clear();
    }
    for (int32 i : videoStreams) {
        auto video = std::make_unique<CVideoPath>(fReader->RoomWake(), &fClock);
        CResult result =
            video->SetUp(fExtractor->StreamInfoAt(i), fMode == kRender ? B_YUV420 : B_RGB32);
        if (result.IsOK()) {
            fVideo = std::move(video);
            fVideoStream = i;
            break;
        }
        if (fVideoNote.empty())
            fVideoNote = result.Why();
    }
    // With a picture to show first, the one sound stream's module and
    // output open on the audio thread meanwhile: loading them is what a
    // start waits for longest. With a choice of streams, or no picture,
    // they open here, so that another stream or the window's text can
    // take over.
    bool openLater = fVideo != nullptr && audioStreams.size() == 1 && fMode == kPlayInRealTime;
    for (int32 i : audioStreams) {
        auto audio = std::make_unique<CAudioPath>(fReader->RoomWake());
        CResult result =
            audio->SetUp(fExtractor->StreamInfoAt(i), openLater, fMode == kPlayInRealTime);
        if (result.IsOK()) {
            fAudio = std::move(audio);
            fAudioStream = i;
            break;
        }
        if (fSoundNote.empty())
            fSoundNote = result.Why();
    }
    fReader->SetAudio(fAudio.get(), fAudioStream);
    fReader->SetVideo(fVideo.get(), fVideoStream);
    fClock.SetAudio(fAudio.get());
    if (fAudio != nullptr)
        fAudio->SetWaitForPicture(fVideo != nullptr);
}

void CPlaybackSession::SetPictureSink(CPictureSink* sink)
{
    if (fVideo != nullptr)
        fVideo->SetSink(sink);
}

void CPlaybackSession::Start()
{
    if (fStarted || fReader == nullptr || fMode != kPlayInRealTime)
        return;
    fStarted = true;
    if (fVideo != nullptr)
        fVideo->Start();
    if (fAudio != nullptr)
        fAudio->Start();
    fReader->Start();
}

void CPlaybackSession::Seek(uint32 time)
{
    if (fReader == nullptr)
        return;
    uint32 duration = fReader->Duration();
    fReader->RequestSeek(duration > 0 ? std::min(time, duration) : time);
}

uint32 CPlaybackSession::Position()
{
    bigtime_t now = fClock.Now() / 1000;
    uint32 duration = fReader != nullptr ? fReader->Duration() : 0;
    if (now < 0)
        return 0;
    return duration > 0 ? uint32(std::min<bigtime_t>(now, duration)) : uint32(now);
}

void CPlaybackSession::Stop()
{
    if (fReader == nullptr)
        return;
    // Killing wakes each thread wherever it waits; waiting for them before
    // anything is released means no thread can touch what goes next.
    fReader->Kill();
    if (fVideo != nullptr)
        fVideo->Kill();
    if (fAudio != nullptr)
        fAudio->Kill();
    fReader->WaitForThread();
    if (fVideo != nullptr)
        fVideo->WaitForThread();
    if (fAudio != nullptr)
        fAudio->WaitForThread();
    fClock.SetAudio(nullptr);
    fAudio.reset();
    fVideo.reset();
}
