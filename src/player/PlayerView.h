// The content view: black where the picture does not cover it, and the
// controls' bar drawn over the bottom of the picture.
#pragma once

#include "platform/interface/Bitmap.h"
#include "platform/interface/View.h"
#include "player/PictureSink.h"

#include <functional>
#include <mutex>

#include <memory>
#include <string>
#include <vector>

// The window's picture sink: each picture is drawn into the movie's frame,
// and the overlay (caption, panel, bar) over it.
class CPlayerView : public BView, public CPictureSink
{
public:
    explicit CPlayerView(BRect frame);

    // Where the movie's pictures are drawn (view coordinates); it may
    // change at any time (full screen, resizing).
    void SetMovieFrame(BRect frame);
    BRect MovieFrame() const;
    // Drawn over each picture shown, with the window locked.
    void SetOverlay(std::function<void()> overlay) { fOverlay = std::move(overlay); }
    // Video thread: locks the window (which fails once the thread is
    // killed: the window is closing) and draws.
    bool ShowPicture(const BBitmap* picture, uint32 time) override;

    // The bar in `frame` (view coordinates): a track filled to `progress`
    // (0..1) with a tick at each of `ticks` (0..1), `left` and `right`
    // written at its ends, and `label` (a marker's name) above the track
    // when the frame is tall enough for two rows.
    // What lies under it is kept and comes back when the bar goes.
    void DrawBar(BRect frame, float progress, const char* left, const char* right,
                 const std::vector<float>& ticks = {}, const char* label = nullptr);
    void RemoveBar();
    // `text` wrapped to the width of `picture` (view coordinates) over its
    // bottom, white on a dark box, above where the bar goes; drawn over
    // each picture by the caller.
    void DrawCaption(BRect picture, const std::string& text);
    // The information panel: `lines` on a dark box at the top left, over
    // whatever is there; the caller paints afresh to take it away.
    void DrawPanel(const std::vector<std::string>& lines);
    // A new picture was drawn over the bar's place: that is what lies under
    // the bar now.
    void PictureDrawn() { fUnderValid = false; }

    // Lines shown in the picture area when there is no picture: what plays,
    // or why nothing can.
    void SetText(const std::vector<std::string>& lines);
    // A picture shown below the lines, scaled to fit what is left of the
    // view, its aspect kept (a song's cover).
    void SetPicture(std::unique_ptr<BBitmap> picture);
    // Where the picture is drawn (view coordinates); invalid without one.
    BRect PictureFrame() const;

    void Draw(BRect updateRect) override;

private:
    mutable std::mutex fMovieLock;
    BRect fMovieFrame;
    std::function<void()> fOverlay;
    std::vector<std::string> fText;
    std::unique_ptr<BBitmap> fPicture;
    std::vector<uint32> fUnder;
    BRect fUnderFrame;
    bool fUnderValid;
};
