// Construction with the stream scan, and the start of the parts.

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
      fInitStatus(-1), fFile(ref, B_READ_ONLY), fExtractor(&fFile), fReader(&fExtractor, &fClock),
      fAudioStream(-1), fVideoStream(-1), fMenuBar(nullptr), fContentView(nullptr), fStarted(false),
      fHasAudioStream(false), fHasVideoStream(false), fProtected(false), fInfoShown(false)
{
    fInitStatus = fExtractor.InitCheck();
    if (fInitStatus < B_OK)
        return;
    fFileName = title_for(ref);
    std::string title = fExtractor.Info().DisplayTitle();
    if (!title.empty())
        SetTitle(title.c_str());

    // Of several streams of a kind (the same content at several bitrates),
    // the one of the highest bitrate whose set-up succeeds is played.
    std::vector<int32> videoStreams = fExtractor.StreamsToTry(CASFExtractor::kVideoStream);
    std::vector<int32> audioStreams = fExtractor.StreamsToTry(CASFExtractor::kAudioStream);
    fHasVideoStream = !videoStreams.empty();
    fHasAudioStream = !audioStreams.empty();
    if (fExtractor.Info().isProtected) {
        // Protected content decodes into noise or silence: nothing plays,
        // the window says why (and the application, on stderr).
        fProtected = true;
        fSoundNote = "Protected by DRM: this file cannot be played";
        videoStreams.clear();
        audioStreams.clear();
    }
    for (int32 i : videoStreams) {
        auto video = std::make_unique<CVideoPath>(fReader.RoomWake(), &fClock);
        if (video->SetUp(fExtractor.StreamInfoAt(i))) {
            fVideo = std::move(video);
            fVideoStream = i;
            break;
        }
        if (fVideoNote.empty())
            fVideoNote = video->Note();
    }
    // With a picture to show first, the one sound stream's module and
    // output open on the audio thread meanwhile: loading them is what a
    // start waits for longest. With a choice of streams, or no picture,
    // they open here, so that another stream or the window's text can
    // take over.
    bool openLater = fVideo != nullptr && audioStreams.size() == 1;
    for (int32 i : audioStreams) {
        auto audio = std::make_unique<CAudioPath>(fReader.RoomWake());
        if (audio->SetUp(fExtractor.StreamInfoAt(i), openLater)) {
            fAudio = std::move(audio);
            fAudioStream = i;
            break;
        }
        if (fSoundNote.empty())
            fSoundNote = audio->Note();
    }
    fReader.SetAudio(fAudio.get(), fAudioStream);
    fReader.SetVideo(fVideo.get(), fVideoStream);
    fClock.SetAudio(fAudio.get());
    if (fAudio != nullptr)
        fAudio->SetWaitForPicture(fVideo != nullptr);
    fControls =
        std::make_unique<CPlayerControls>(this, &fReader, &fClock, fAudio.get(), fVideo.get());
    std::vector<std::pair<uint32, std::string>> markers;
    for (const asf_marker& marker : fExtractor.Info().markers)
        markers.emplace_back(marker.time, marker.name);
    fControls->SetMarkers(std::move(markers));
    fCaptions = std::make_unique<CPlayerCaptions>(fExtractor.Info().scriptCommands);
    // A sound-only file opens its window even when nothing can decode its
    // sound: the window says why, and its time runs.
    bool soundOnly = fHasAudioStream && !fHasVideoStream;
    fInitStatus = fVideo != nullptr || fAudio != nullptr || soundOnly || fProtected ? B_OK : -1;
    if (fInitStatus == B_OK)
        InitViews();
}

void CASFPlayer::Start()
{
    if (fStarted || fInitStatus != B_OK)
        return;
    fStarted = true;
    if (fVideo != nullptr)
        fVideo->Start();
    if (fAudio != nullptr)
        fAudio->Start();
    fReader.Start();
    fControls->Start();
}
