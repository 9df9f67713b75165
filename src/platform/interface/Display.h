// The display thread: the one thread that talks to SDL. Windows hand it
// their backing pictures; it shows them and turns the user's actions (close
// button, mouse clicks, resizing, dropped files) into messages. Not a public
// header: only the interface kit uses it.
#pragma once

#include "platform/interface/GraphicsDefs.h"
#include "platform/interface/Rect.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class BWindow;

namespace display
{

// One window's share: its backing picture (B_RGB32, guarded by `lock`) and
// the window it belongs to, cleared when that window goes.
struct surface {
    std::mutex lock;
    std::vector<uint32> pixels;
    int32 width = 0;
    int32 height = 0;
    bool dirty = false;
    BWindow* owner = nullptr;

    // Owned by the display thread.
    void* sdlWindow = nullptr;
    uint32 sdlId = 0;
    bool fullScreen = false;
    struct {
        int x, y, w, h;
    } windowedFrame = {0, 0, 0, 0};
};

// Held while SDL's subsystems start or end: SDL's own bookkeeping of them is
// not safe across threads (the display and the sound outputs start theirs).
std::mutex& sdl_lock();

// Makes the window's surface (hidden) with the content area `frame`; the
// screen window follows once the display thread has started.
std::shared_ptr<surface> open_surface(BWindow* owner, BRect frame, const char* title);
// Detaches the owner and destroys the screen window; returns at once.
void close_surface(const std::shared_ptr<surface>& target);
void show(const std::shared_ptr<surface>& target, bool visible);
void set_title(const std::shared_ptr<surface>& target, const char* title);
// The owner resized its picture; the screen window follows.
void resize(const std::shared_ptr<surface>& target, int32 width, int32 height);
void move(const std::shared_ptr<surface>& target, int32 x, int32 y);
// Full screen (the screen window takes the whole screen; its new size comes
// back as B_WINDOW_RESIZED) or back to the window it was.
void set_full_screen(const std::shared_ptr<surface>& target, bool fullScreen);
// The picture changed: show it soon.
void invalidate(const std::shared_ptr<surface>& target);
// Ends the display thread and SDL; windows still open are closed.
void shutdown();

// Text in the interface font (DejaVu Sans), serialised across threads; at
// `pointSize`, or the interface's own size (12) when 0.
int32 font_height(int32 pointSize = 0);
int32 text_width(const char* text, int32 pointSize = 0);
// Draws `text` with its top-left corner at (x, y), clipped to `clip`.
void draw_text(uint32* pixels, int32 width, int32 height, int32 stride, BRect clip, int32 x,
               int32 y, const char* text, rgb_color color, int32 pointSize = 0);

} // namespace display
