#include "platform/interface/View.h"

#include "platform/interface/Bitmap.h"
#include "platform/interface/Display.h"
#include "platform/interface/FrameLog.h"
#include "platform/interface/Window.h"
#include "platform/kernel/OS.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace
{

uint32 pixel_of(rgb_color color)
{
    return 0xFF000000u | uint32(color.red) << 16 | uint32(color.green) << 8 | color.blue;
}

// The rectangle in whole pixels of the window, clipped to the window.
struct pixel_rect {
    int32 left, top, right, bottom;
    bool Empty() const { return left > right || top > bottom; }
};

pixel_rect clip_to(BRect rect, int32 width, int32 height)
{
    pixel_rect r;
    r.left = std::max<int32>(0, int32(std::floor(rect.left)));
    r.top = std::max<int32>(0, int32(std::floor(rect.top)));
    r.right = std::min<int32>(width - 1, int32(std::floor(rect.right)));
    r.bottom = std::min<int32>(height - 1, int32(std::floor(rect.bottom)));
    return r;
}

} // namespace

BView::BView(BRect frame, const char* name, uint32 resizingMode, uint32 flags)
    : BHandler(name), fWindow(nullptr), fFrame(frame), fResizingMode(resizingMode),
      fFlags(flags), fViewColor{255, 255, 255, 255}
{
}

BView::~BView() = default;

BRect BView::Bounds() const
{
    return BRect(0, 0, fFrame.Width(), fFrame.Height());
}

void BView::SetViewColor(rgb_color color)
{
    fViewColor = color;
}

void BView::SetViewColor(uint8 red, uint8 green, uint8 blue, uint8 alpha)
{
    SetViewColor(rgb_color{red, green, blue, alpha});
}

void BView::MoveTo(float x, float y)
{
    fFrame.OffsetTo(x, y);
}

void BView::ResizeTo(float width, float height)
{
    fFrame.right = fFrame.left + width;
    fFrame.bottom = fFrame.top + height;
    FrameResized(width, height);
}

void BView::ParentResizedBy(float dx, float dy)
{
    uint32 mode = fResizingMode;
    // Each edge moves with the parent's far side only when tied to it.
    if (((mode >> 8) & 0xF) == _VIEW_RIGHT_)
        fFrame.left += dx;
    if ((mode & 0xF) == _VIEW_RIGHT_)
        fFrame.right += dx;
    if (((mode >> 12) & 0xF) == _VIEW_BOTTOM_)
        fFrame.top += dy;
    if (((mode >> 4) & 0xF) == _VIEW_BOTTOM_)
        fFrame.bottom += dy;
    if (((mode & 0xF) == _VIEW_RIGHT_ && ((mode >> 8) & 0xF) != _VIEW_RIGHT_) ||
        (((mode >> 4) & 0xF) == _VIEW_BOTTOM_ && ((mode >> 12) & 0xF) != _VIEW_BOTTOM_))
        FrameResized(fFrame.Width(), fFrame.Height());
}

void BView::Draw(BRect)
{
    if (!(fViewColor == B_TRANSPARENT_COLOR))
        FillRect(Bounds(), fViewColor);
}

void BView::MouseDown(BPoint) {}

void BView::AttachedToWindow() {}

void BView::FrameResized(float, float) {}

void BView::Invalidate()
{
    if (fWindow == nullptr)
        return;
    int32 width, height, stride;
    if (fWindow->LockPixels(&width, &height, &stride) != nullptr)
        fWindow->UnlockPixels(true);
}

void BView::FillRect(BRect rect, rgb_color color)
{
    if (fWindow == nullptr)
        return;
    rect.OffsetBy(fFrame.left, fFrame.top);
    int32 width, height, stride;
    uint32* pixels = fWindow->LockPixels(&width, &height, &stride);
    pixel_rect r = clip_to(rect & fFrame, width, height);
    uint32 value = pixel_of(color);
    for (int32 y = r.top; !r.Empty() && y <= r.bottom; y++)
        std::fill(pixels + size_t(y) * stride + r.left, pixels + size_t(y) * stride + r.right + 1,
                  value);
    fWindow->UnlockPixels(!r.Empty());
}

float BView::StringWidth(const char* text) const
{
    return float(display::text_width(text, int32(fFontSize)));
}

float BView::FontHeight() const
{
    return float(display::font_height(int32(fFontSize)));
}

void BView::DrawString(const char* text, BPoint where, rgb_color color)
{
    if (fWindow == nullptr)
        return;
    int32 width, height, stride;
    uint32* pixels = fWindow->LockPixels(&width, &height, &stride);
    display::draw_text(pixels, width, height, stride, fFrame, int32(fFrame.left + where.x),
                       int32(fFrame.top + where.y), text, color, int32(fFontSize));
    fWindow->UnlockPixels(true);
}

void BView::DrawBitmap(const BBitmap* bitmap, BRect destination)
{
    if (fWindow == nullptr || bitmap == nullptr || bitmap->Bits() == nullptr ||
        !destination.IsValid())
        return;
    bigtime_t when = frame_log::enabled() ? system_time() : 0;
    destination.OffsetBy(fFrame.left, fFrame.top);
    int32 sourceWidth = bitmap->Bounds().IntegerWidth() + 1;
    int32 sourceHeight = bitmap->Bounds().IntegerHeight() + 1;
    int32 destLeft = int32(std::floor(destination.left));
    int32 destTop = int32(std::floor(destination.top));
    int32 destWidth = destination.IntegerWidth() + 1;
    int32 destHeight = destination.IntegerHeight() + 1;

    int32 width, height, stride;
    uint32* pixels = fWindow->LockPixels(&width, &height, &stride);
    pixel_rect r = clip_to(destination & fFrame, width, height);
    if (!r.Empty()) {
        // Nearest source column of each destination column, worked out once.
        std::vector<int32> columns(size_t(r.right - r.left + 1));
        for (int32 x = r.left; x <= r.right; x++)
            columns[size_t(x - r.left)] = int32(int64(x - destLeft) * sourceWidth / destWidth);
        const uint8* bits = static_cast<const uint8*>(bitmap->Bits());
        bool sameWidth = sourceWidth == destWidth;
        for (int32 y = r.top; y <= r.bottom; y++) {
            int32 sourceRow = int32(int64(y - destTop) * sourceHeight / destHeight);
            const uint32* source =
                reinterpret_cast<const uint32*>(bits + size_t(sourceRow) * bitmap->BytesPerRow());
            uint32* target = pixels + size_t(y) * stride;
            if (sameWidth) {
                memcpy(target + r.left, source + (r.left - destLeft),
                       size_t(r.right - r.left + 1) * 4);
            } else {
                for (int32 x = r.left; x <= r.right; x++)
                    target[x] = source[columns[size_t(x - r.left)]];
            }
        }
        // An open menu stays on top of the pictures drawn below the bar.
        fWindow->PaintOpenMenus(pixels, width, height, stride);
    }
    fWindow->UnlockPixels(!r.Empty());
    if (when != 0)
        frame_log::note_draw(bitmap, when);
}
