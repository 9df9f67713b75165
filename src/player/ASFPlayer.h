// The player of one ASF file: a window that owns the file and its
// demultiplexer and plays at most one video and one audio stream through
// its parts: the reader (routing and seeks), the audio path, the video
// path, the clock and the controls.
#pragma once

#include "asf/ASFExtractor.h"
#include "platform/interface/Rect.h"
#include "platform/interface/Window.h"
#include "platform/kernel/OS.h"
#include "platform/storage/File.h"
#include "player/AudioPath.h"
#include "player/PlaybackClock.h"
#include "player/PlayerCaptions.h"
#include "player/PlayerControls.h"
#include "player/PlayerReader.h"
#include "player/VideoPath.h"

#include <memory>
#include <string>

class BMenuBar;
class BView;
class CPlayerView;
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
    // The file is protected by DRM: its window opens, nothing plays.
    bool IsProtected() const { return fProtected; }
    // Starts the threads; once, after the window is shown.
    void Start();

    void Quit() override;
    bool QuitRequested() override;
    void DispatchMessage(BMessage* message, BHandler* target) override;
    void FrameResized(float width, float height) override;

    // The parts, for the controls and the tests; null when not played.
    CPlayerReader& Reader() { return fReader; }
    CPlaybackClock& Clock() { return fClock; }
    CAudioPath* Audio() { return fAudio.get(); }
    CVideoPath* Video() { return fVideo.get(); }
    CPlayerControls& Controls() { return *fControls; }
    int32 AudioStream() const { return fAudioStream; }
    int32 VideoStream() const { return fVideoStream; }
    BView* ContentView() const;
    CASFExtractor& Extractor() { return fExtractor; }
    // The information panel's lines (key `i`; PlayerInfo.cpp): the file,
    // its tags, each stream and what decodes it, the position.
    std::vector<std::string> InfoLines();

private:
    void InitViews();
    // Places the picture in the content view: as large as fits, its aspect
    // ratio kept, centred.
    void LayOut();
    void ArrangeViews();
    // The caption of the moment over the picture; with the window locked.
    void DrawCaption();
    void ToggleInfo();
    void DrawInfo();
    // The picture held, its caption, the panel and the bar again over the
    // views, painted afresh first when asked.
    void Repaint(bool paintViews = true);

    status_t fInitStatus;
    BFile fFile;
    CASFExtractor fExtractor;
    CPlaybackClock fClock;
    CPlayerReader fReader;
    std::unique_ptr<CAudioPath> fAudio;
    std::unique_ptr<CVideoPath> fVideo;
    int32 fAudioStream;
    int32 fVideoStream;
    std::unique_ptr<CPlayerControls> fControls;
    std::unique_ptr<CPlayerCaptions> fCaptions;
    BMenuBar* fMenuBar;
    CPlayerView* fContentView;
    bool fStarted;
    bool fHasAudioStream;
    bool fHasVideoStream;
    bool fProtected; // DRM: nothing plays
    bool fInfoShown;
    std::string fSoundNote; // why the sound cannot be played, if so
    std::string fVideoNote; // why the pictures cannot be shown, if so
    std::string fFileName;
};
