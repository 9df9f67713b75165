#include "platform/interface/Window.h"

#include "platform/app/AppDefs.h"
#include "platform/app/Application.h"
#include "platform/app/Message.h"
#include "platform/interface/Display.h"
#include "platform/interface/Menu.h"
#include "platform/interface/View.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace
{

constexpr uint32 kPanelPixel = 0xFF000000u | kPanelGrey * 0x10101u;

// Window sizes are kept within what a screen window and its picture can be.
constexpr float kMaxSide = 16383;

float clamp_side(float side)
{
    return std::clamp(side, 0.0f, kMaxSide);
}

} // namespace

BWindow::BWindow(BRect frame, const char* title, window_look, window_feel, uint32, uint32)
    : BLooper(title), fTitle(strdup(title != nullptr ? title : "")), fFrame(frame), fHidden(true),
      fFullScreen(false), fStarted(false)
{
    fFrame.right = fFrame.left + clamp_side(frame.Width());
    fFrame.bottom = fFrame.top + clamp_side(frame.Height());
    fSurface = display::open_surface(this, fFrame, fTitle);
    if (be_app != nullptr)
        be_app->AddWindow(this);
}

BWindow::~BWindow()
{
    display::close_surface(fSurface);
    if (be_app != nullptr)
        be_app->RemoveWindow(this);
    for (BView* child : fChildren)
        delete child;
    free(fTitle);
}

void BWindow::Show()
{
    fHidden = false;
    if (!fStarted) {
        fStarted = true;
        RedrawAll();
        display::show(fSurface, true);
        Run();
        return;
    }
    display::show(fSurface, true);
}

void BWindow::Hide()
{
    fHidden = true;
    display::show(fSurface, false);
}

void BWindow::Quit()
{
    BLooper::Quit();
}

void BWindow::DispatchMessage(BMessage* message, BHandler* target)
{
    switch (message->what) {
    case B_WINDOW_RESIZED: {
        int32 width = 0, height = 0;
        if (message->FindInt32("width", &width) == B_OK &&
            message->FindInt32("height", &height) == B_OK && width > 0 && height > 0)
            ResizeInternal(float(width - 1), float(height - 1), true);
        break;
    }
    case B_MOUSE_DOWN: {
        int32 x = 0, y = 0;
        if (message->FindInt32("x", &x) != B_OK || message->FindInt32("y", &y) != B_OK)
            break;
        BPoint where{float(x), float(y)};
        // An open menu takes the next click wherever it lands.
        BView* hit = nullptr;
        for (BView* child : fChildren) {
            auto* bar = dynamic_cast<BMenuBar*>(child);
            if (bar != nullptr && !bar->IsHidden() && bar->OpenIndex() >= 0)
                hit = bar;
        }
        for (auto it = fChildren.rbegin(); hit == nullptr && it != fChildren.rend(); ++it) {
            if (!(*it)->IsHidden() && (*it)->Frame().Contains(where))
                hit = *it;
        }
        if (hit != nullptr)
            hit->MouseDown(BPoint(where.x - hit->Frame().left, where.y - hit->Frame().top));
        break;
    }
    default:
        BLooper::DispatchMessage(message, target);
        break;
    }
}

void BWindow::FrameResized(float, float) {}

void BWindow::SetTitle(const char* title)
{
    free(fTitle);
    fTitle = strdup(title != nullptr ? title : "");
    display::set_title(fSurface, fTitle);
}

BRect BWindow::Bounds() const
{
    return BRect(0, 0, fFrame.Width(), fFrame.Height());
}

void BWindow::ResizeTo(float width, float height)
{
    ResizeInternal(width, height, false);
}

void BWindow::ResizeBy(float dx, float dy)
{
    ResizeInternal(fFrame.Width() + dx, fFrame.Height() + dy, false);
}

void BWindow::MoveTo(float x, float y)
{
    fFrame.OffsetTo(x, y);
    display::move(fSurface, int32(x), int32(y));
}

void BWindow::SetFullScreen(bool fullScreen)
{
    fFullScreen = fullScreen;
    display::set_full_screen(fSurface, fullScreen);
}

void BWindow::ResizeInternal(float width, float height, bool fromScreen)
{
    width = clamp_side(width);
    height = clamp_side(height);
    float dx = width - fFrame.Width();
    float dy = height - fFrame.Height();
    if (dx == 0 && dy == 0)
        return;
    fFrame.right = fFrame.left + width;
    fFrame.bottom = fFrame.top + height;
    {
        std::lock_guard<std::mutex> locked(fSurface->lock);
        fSurface->width = int32(width) + 1;
        fSurface->height = int32(height) + 1;
        fSurface->pixels.assign(size_t(fSurface->width) * fSurface->height, kPanelPixel);
    }
    for (BView* child : fChildren)
        child->ParentResizedBy(dx, dy);
    RedrawAll();
    if (!fromScreen)
        display::resize(fSurface, int32(width) + 1, int32(height) + 1);
    FrameResized(width, height);
}

void BWindow::AddChild(BView* child)
{
    if (child == nullptr || child->fWindow != nullptr)
        return;
    fChildren.push_back(child);
    child->fWindow = this;
    child->SetLooper(this);
    child->AttachedToWindow();
    child->Draw(child->Bounds());
}

bool BWindow::RemoveChild(BView* child)
{
    auto found = std::find(fChildren.begin(), fChildren.end(), child);
    if (found == fChildren.end())
        return false;
    fChildren.erase(found);
    child->fWindow = nullptr;
    child->SetLooper(nullptr);
    RedrawAll();
    return true;
}

BView* BWindow::ChildAt(int32 index) const
{
    return index >= 0 && index < CountChildren() ? fChildren[size_t(index)] : nullptr;
}

BView* BWindow::FindView(const char* name) const
{
    for (BView* child : fChildren) {
        if (name != nullptr && child->Name() != nullptr && strcmp(child->Name(), name) == 0)
            return child;
    }
    return nullptr;
}

uint32* BWindow::LockPixels(int32* width, int32* height, int32* stride)
{
    fSurface->lock.lock();
    *width = fSurface->width;
    *height = fSurface->height;
    *stride = fSurface->width;
    return fSurface->pixels.data();
}

void BWindow::UnlockPixels(bool changed)
{
    fSurface->lock.unlock();
    if (changed)
        display::invalidate(fSurface);
}

void BWindow::RedrawAll()
{
    {
        std::lock_guard<std::mutex> locked(fSurface->lock);
        std::fill(fSurface->pixels.begin(), fSurface->pixels.end(), kPanelPixel);
    }
    for (BView* child : fChildren) {
        if (!child->IsHidden())
            child->Draw(child->Bounds());
    }
    for (BView* child : fChildren) {
        auto* bar = dynamic_cast<BMenuBar*>(child);
        if (bar != nullptr && !bar->IsHidden())
            bar->DrawOpenMenu();
    }
    display::invalidate(fSurface);
}

void BWindow::PaintOpenMenus(uint32* pixels, int32 width, int32 height, int32 stride)
{
    for (BView* child : fChildren) {
        auto* bar = dynamic_cast<BMenuBar*>(child);
        if (bar != nullptr && !bar->IsHidden() && bar->OpenIndex() >= 0)
            bar->PaintOpenMenu(pixels, width, height, stride);
    }
}
