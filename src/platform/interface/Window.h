// A window on the screen with a message loop of its own. The platform draws
// its views into a backing picture that the display thread shows.
#pragma once

#include "platform/app/Looper.h"
#include "platform/interface/InterfaceDefs.h"
#include "platform/interface/Rect.h"

#include <memory>
#include <vector>

class BView;
namespace display
{
struct surface;
}

class BWindow : public BLooper
{
public:
    // `frame` is the content area in screen coordinates.
    BWindow(BRect frame, const char* title, window_look look, window_feel feel, uint32 flags,
            uint32 workspace = B_CURRENT_WORKSPACE);
    ~BWindow() override;

    // The first Show() starts the window's thread.
    void Show();
    void Hide();
    bool IsHidden() const { return fHidden; }

    void Quit() override;
    void DispatchMessage(BMessage* message, BHandler* target) override;
    virtual void FrameResized(float width, float height);

    const char* Title() const { return fTitle; }
    void SetTitle(const char* title);
    BRect Frame() const { return fFrame; }
    BRect Bounds() const;
    void ResizeTo(float width, float height);
    void ResizeBy(float dx, float dy);
    void MoveTo(float x, float y);
    // Full screen and back; the window's new size arrives as B_WINDOW_RESIZED.
    void SetFullScreen(bool fullScreen);
    bool IsFullScreen() const { return fFullScreen; }

    // The window owns its children.
    void AddChild(BView* child);
    bool RemoveChild(BView* child);
    int32 CountChildren() const { return int32(fChildren.size()); }
    BView* ChildAt(int32 index) const;
    BView* FindView(const char* name) const;

    // Pixels of the backing picture (B_RGB32, the size of Bounds()) for the
    // views to draw into; call with the window locked.
    uint32* LockPixels(int32* width, int32* height, int32* stride);
    void UnlockPixels(bool changed);

    // Repaints every view.
    void RedrawAll();
    // Paints open menus over the picture again, into pixels the caller has
    // locked with LockPixels.
    void PaintOpenMenus(uint32* pixels, int32 width, int32 height, int32 stride);

private:
    void ResizeInternal(float width, float height, bool fromScreen);

    char* fTitle;
    BRect fFrame;
    bool fHidden;
    bool fFullScreen;
    bool fStarted;
    std::vector<BView*> fChildren;
    std::shared_ptr<display::surface> fSurface;
};
