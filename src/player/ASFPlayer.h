// The player of one ASF file: a window that owns the playback session of
// the file (at most one video and one audio stream), shows its pictures
// and takes the user's controls.
#pragma once

#include "platform/interface/Rect.h"
#include "platform/interface/Window.h"
#include "platform/support/Result.h"
#include "player/PlaybackSession.h"
#include "player/PlayerCaptions.h"
#include "player/PlayerControls.h"

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

    // Whether the file opened and something of it can play; if not, the
    // sentence says why.
    status_t InitCheck() const { return fOpened.Code(); }
    const CResult& OpenResult() const { return fOpened; }
    // The file is protected by DRM: its window opens, nothing plays.
    bool IsProtected() const { return fSession.IsProtected(); }
    // Starts the threads; once, after the window is shown.
    void Start();

    void Quit() override;
    bool QuitRequested() override;
    void DispatchMessage(BMessage* message, BHandler* target) override;
    void FrameResized(float width, float height) override;

    // The session and its parts, for the controls and the tests.
    CPlaybackSession& Session() { return fSession; }
    CPlayerReader& Reader() { return fSession.Reader(); }
    CPlaybackClock& Clock() { return fSession.Clock(); }
    CAudioPath* Audio() { return fSession.Audio(); }
    CVideoPath* Video() { return fSession.Video(); }
    CPlayerControls& Controls() { return *fControls; }
    int32 AudioStream() const { return fSession.AudioStream(); }
    int32 VideoStream() const { return fSession.VideoStream(); }
    CASFExtractor& Extractor() { return fSession.Extractor(); }
    BView* ContentView() const;
    // Where the pictures are drawn in the content view.
    BRect PictureFrame() const;
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

    CPlaybackSession fSession;
    CResult fOpened;
    std::unique_ptr<CPlayerControls> fControls;
    std::unique_ptr<CPlayerCaptions> fCaptions;
    BMenuBar* fMenuBar;
    CPlayerView* fContentView;
    bool fStarted;
    bool fInfoShown;
    std::string fFileName;
};
