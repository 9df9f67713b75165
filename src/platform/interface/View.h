// A rectangle of a window that draws itself. Views are direct children of
// their window; frames are in window coordinates, bounds start at (0, 0).
#pragma once

#include "platform/app/Handler.h"
#include "platform/interface/GraphicsDefs.h"
#include "platform/interface/InterfaceDefs.h"
#include "platform/interface/Rect.h"

class BBitmap;
class BWindow;

class BView : public BHandler
{
public:
    BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags);
    ~BView() override;

    BWindow* Window() const { return fWindow; }
    BRect Frame() const { return fFrame; }
    BRect Bounds() const;
    uint32 ResizingMode() const { return fResizingMode; }
    uint32 Flags() const { return fFlags; }

    void SetViewColor(rgb_color color);
    void SetViewColor(uint8 red, uint8 green, uint8 blue, uint8 alpha = 255);
    rgb_color ViewColor() const { return fViewColor; }

    void MoveTo(float x, float y);
    void ResizeTo(float width, float height);
    // A hidden view is neither drawn nor clicked; its window is repainted
    // by whoever arranges the views.
    void Hide() { fHidden = true; }
    void Show() { fHidden = false; }
    bool IsHidden() const { return fHidden; }

    // Draws the bitmap scaled into `destination` (view coordinates), clipped
    // to the view. Call with the window locked.
    void DrawBitmap(const BBitmap* bitmap, BRect destination);

    // Paints the view into its window; the default fills the view colour.
    virtual void Draw(BRect updateRect);
    virtual void MouseDown(BPoint where);
    virtual void AttachedToWindow();
    virtual void FrameResized(float width, float height);

    // Asks the window to show the view's current pixels.
    void Invalidate();

    // The size DrawString draws at, in points; 0 is the interface's own.
    void SetFontSize(float points) { fFontSize = points; }
    float FontSize() const { return fFontSize; }
    // The font's measures at that size, in pixels.
    float StringWidth(const char* text) const;
    float FontHeight() const;

protected:
    void SetResizingMode(uint32 mode) { fResizingMode = mode; }
    // Fills a rectangle (view coordinates) of the window's pixels.
    void FillRect(BRect rect, rgb_color color);
    // Draws text with its top-left corner at `where` (view coordinates).
    void DrawString(const char* text, BPoint where, rgb_color color);

private:
    friend class BWindow;
    // The parent grew by (dx, dy): move the edges the resizing mode ties to
    // the parent's right and bottom sides.
    void ParentResizedBy(float dx, float dy);

    BWindow* fWindow;
    BRect fFrame;
    uint32 fResizingMode;
    uint32 fFlags;
    rgb_color fViewColor;
    bool fHidden = false;
    float fFontSize = 0;
};
