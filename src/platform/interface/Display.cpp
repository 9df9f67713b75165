// The display thread. Other threads queue requests (open, show, resize...)
// and wake it with an SDL user event; it presents changed pictures at most
// every few milliseconds and posts the user's actions to the windows and to
// the application as messages.

#include "platform/interface/Display.h"

#include "platform/app/AppDefs.h"
#include "platform/app/Application.h"
#include "platform/app/Message.h"
#include "platform/interface/Window.h"
#include "platform/kernel/OS.h"
#include "platform/storage/Entry.h"
#include "platform/support/Debug.h"

#include <SDL.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <thread>
#include <unordered_map>

namespace display
{

namespace
{

// How long the thread sleeps between looks at its queue when nothing
// happens; changed pictures wake it at once.
constexpr int kIdleWaitMs = 50;

struct display_state {
    std::mutex lock;
    std::condition_variable started;
    bool starting = false; // the thread is starting SDL; requests wait for it
    bool running = false;
    bool available = false;
    bool stopping = false;
    std::thread thread;
    std::vector<std::function<void()>> requests;
    std::vector<std::shared_ptr<surface>> dirty;
    uint32 wakeEvent = 0;
    // Display thread only.
    std::unordered_map<uint32, std::shared_ptr<surface>> windows;
};

display_state& state()
{
    static display_state* sState = new display_state; // used until exit
    return *sState;
}

// Whether requests are taken: while the thread starts up they wait in the
// queue, so the window system starts while the caller goes on.
bool accepting_locked(const display_state& s)
{
    return (s.available || s.starting) && !s.stopping;
}

void wake_locked(display_state& s)
{
    if (!s.available)
        return;
    SDL_Event event = {};
    event.type = s.wakeEvent;
    SDL_PushEvent(&event);
}

// Queues work for the display thread; dropped when there is no display.
void request(std::function<void()> work)
{
    display_state& s = state();
    std::lock_guard<std::mutex> locked(s.lock);
    if (!accepting_locked(s))
        return;
    s.requests.push_back(std::move(work));
    wake_locked(s);
}

std::shared_ptr<surface> find_window(uint32 id)
{
    auto found = state().windows.find(id);
    return found == state().windows.end() ? nullptr : found->second;
}

void post_to_owner(surface& target, BMessage* message)
{
    std::lock_guard<std::mutex> locked(target.lock);
    if (target.owner != nullptr)
        target.owner->PostMessage(message);
}

void present(surface& target)
{
    {
        std::lock_guard<std::mutex> locked(target.lock);
        target.dirty = false;
    }
    auto* window = static_cast<SDL_Window*>(target.sdlWindow);
    if (window == nullptr)
        return;
    SDL_Surface* screen = SDL_GetWindowSurface(window);
    if (screen == nullptr)
        return;
    {
        std::lock_guard<std::mutex> locked(target.lock);
        if (screen->w > target.width || screen->h > target.height)
            SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 0, 0, 0));
        if (target.width > 0 && target.height > 0) {
            SDL_Surface* picture = SDL_CreateRGBSurfaceWithFormatFrom(
                target.pixels.data(), target.width, target.height, 32, target.width * 4,
                SDL_PIXELFORMAT_ARGB8888);
            if (picture != nullptr) {
                SDL_SetSurfaceBlendMode(picture, SDL_BLENDMODE_NONE);
                SDL_BlitSurface(picture, nullptr, screen, nullptr);
                SDL_FreeSurface(picture);
            }
        }
    }
    SDL_UpdateWindowSurface(window);
}

void handle_window_event(const SDL_WindowEvent& event)
{
    std::shared_ptr<surface> target = find_window(event.windowID);
    if (target == nullptr)
        return;
    switch (event.event) {
    case SDL_WINDOWEVENT_CLOSE: {
        BMessage message(B_QUIT_REQUESTED);
        post_to_owner(*target, &message);
        break;
    }
    case SDL_WINDOWEVENT_SIZE_CHANGED: {
        BMessage message(B_WINDOW_RESIZED);
        message.AddInt32("width", event.data1);
        message.AddInt32("height", event.data2);
        post_to_owner(*target, &message);
        present(*target);
        break;
    }
    case SDL_WINDOWEVENT_EXPOSED:
    case SDL_WINDOWEVENT_SHOWN:
        present(*target);
        break;
    default:
        break;
    }
}

void handle_drop(const SDL_DropEvent& event)
{
    if (event.file == nullptr)
        return;
    entry_ref ref;
    if (be_app != nullptr && get_ref_for_path(event.file, &ref) == B_OK) {
        BMessage message(B_REFS_RECEIVED);
        message.AddRef("refs", &ref);
        be_app->PostMessage(&message);
    }
    SDL_free(event.file);
}

// The character a key gives, or the interface kit's code for keys
// without one; 0 for keys nobody asks for.
int32 key_code(const SDL_Keysym& key)
{
    switch (key.sym) {
    case SDLK_HOME:
        return B_HOME;
    case SDLK_END:
        return B_END;
    case SDLK_PAGEUP:
        return B_PAGE_UP;
    case SDLK_PAGEDOWN:
        return B_PAGE_DOWN;
    case SDLK_ESCAPE:
        return B_ESCAPE;
    case SDLK_LEFT:
        return B_LEFT_ARROW;
    case SDLK_RIGHT:
        return B_RIGHT_ARROW;
    case SDLK_UP:
        return B_UP_ARROW;
    case SDLK_DOWN:
        return B_DOWN_ARROW;
    default:
        break;
    }
    if ((key.mod & (KMOD_CTRL | KMOD_ALT | KMOD_GUI)) != 0)
        return 0;
    return key.sym >= 0x20 && key.sym < 0x7F ? int32(key.sym) : 0;
}

void handle_event(const SDL_Event& event)
{
    switch (event.type) {
    case SDL_WINDOWEVENT:
        handle_window_event(event.window);
        break;
    case SDL_MOUSEBUTTONDOWN: {
        std::shared_ptr<surface> target = find_window(event.button.windowID);
        if (target == nullptr || event.button.button != SDL_BUTTON_LEFT)
            break;
        BMessage message(B_MOUSE_DOWN);
        message.AddInt32("x", event.button.x);
        message.AddInt32("y", event.button.y);
        message.AddInt32("clicks", event.button.clicks);
        post_to_owner(*target, &message);
        break;
    }
    case SDL_MOUSEMOTION: {
        std::shared_ptr<surface> target = find_window(event.motion.windowID);
        if (target == nullptr)
            break;
        BMessage message(B_MOUSE_MOVED);
        message.AddInt32("x", event.motion.x);
        message.AddInt32("y", event.motion.y);
        post_to_owner(*target, &message);
        break;
    }
    case SDL_MOUSEWHEEL: {
        std::shared_ptr<surface> target = find_window(event.wheel.windowID);
        if (target == nullptr || event.wheel.y == 0)
            break;
        BMessage message(B_MOUSE_WHEEL_CHANGED);
        int32 delta =
            event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y;
        message.AddFloat("be:wheel_delta_y", float(delta));
        post_to_owner(*target, &message);
        break;
    }
    case SDL_KEYDOWN: {
        std::shared_ptr<surface> target = find_window(event.key.windowID);
        int32 key = key_code(event.key.keysym);
        if (target == nullptr || key == 0)
            break;
        BMessage message(B_KEY_DOWN);
        message.AddInt32("key", key);
        post_to_owner(*target, &message);
        break;
    }
    case SDL_DROPFILE:
        handle_drop(event.drop);
        break;
    default:
        break;
    }
}

std::atomic<bool> sDisplayFailed{false};
std::atomic<void (*)()> sDisplayLost{nullptr};

// Xlib ends the process with exit() when the X server goes away, from this
// thread, while the players' threads still run: static objects would be
// destroyed under them. The hook runs instead, and the process ends here.
int on_connection_lost(void*)
{
    if (void (*hook)() = sDisplayLost.load())
        hook();
    fflush(stdout);
    fflush(stderr);
    _exit(1);
}

// Set once SDL has opened the display (SDL sets a handler of its own then).
void watch_connection()
{
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (x11 == nullptr)
        return; // not X11
    using handler = int (*)(void*);
    using setter = handler (*)(handler);
    if (auto set = reinterpret_cast<setter>(dlsym(x11, "XSetIOErrorHandler")))
        set(on_connection_lost);
    dlclose(x11); // still loaded by SDL
}

void display_thread()
{
    display_state& s = state();
    bool ok;
    uint32 wake;
    {
        std::lock_guard<std::mutex> sdl(sdl_lock());
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
        // Pictures are blitted in memory and sent with the window system's
        // own image calls: no GL library is loaded, and none is needed.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        ok = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
        wake = ok ? SDL_RegisterEvents(1) : uint32(-1);
    }
    {
        std::lock_guard<std::mutex> locked(s.lock);
        s.available = ok && wake != uint32(-1);
        s.wakeEvent = wake;
        s.starting = false;
        s.running = true;
        if (!s.available) {
            s.requests.clear();
            s.dirty.clear();
        }
    }
    s.started.notify_all();
    if (!ok) {
        const char* name = getenv("DISPLAY");
        if (name == nullptr || name[0] == '\0')
            name = getenv("WAYLAND_DISPLAY");
        fprintf(stderr, "reelmoth: no display: cannot open '%s' (%s)\n",
                name != nullptr ? name : "", SDL_GetError());
        sDisplayFailed = true;
        // Windows that wait for the screen would wait for ever.
        if (be_app != nullptr)
            be_app->PostMessage(B_QUIT_REQUESTED);
        return;
    }
    watch_connection();
    SDL_EventState(SDL_DROPFILE, SDL_ENABLE);

    for (;;) {
        // What came while SDL started, or since the last look.
        std::vector<std::function<void()>> requests;
        std::vector<std::shared_ptr<surface>> dirty;
        bool stopping;
        {
            std::lock_guard<std::mutex> locked(s.lock);
            requests.swap(s.requests);
            dirty.swap(s.dirty);
            stopping = s.stopping;
        }
        for (auto& work : requests)
            work();
        for (auto& target : dirty)
            present(*target);
        if (stopping)
            break;
        SDL_Event event;
        if (SDL_WaitEventTimeout(&event, kIdleWaitMs)) {
            do {
                handle_event(event);
            } while (SDL_PollEvent(&event));
        }
    }
    for (auto& [id, target] : s.windows)
        SDL_DestroyWindow(static_cast<SDL_Window*>(target->sdlWindow));
    s.windows.clear();
    std::lock_guard<std::mutex> sdl(sdl_lock());
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
}

// Starts the thread; SDL comes up on it while the caller goes on.
void start_locked(display_state& s)
{
    if (s.running || s.starting || s.stopping)
        return;
    s.starting = true;
    // The application object ends the display as it goes.
    add_application_exit_hook(&display::shutdown);
    prepare_display_environment();
    s.thread = std::thread(display_thread);
}

} // namespace

} // namespace display

void prepare_display_environment()
{
    // Without a session bus named in the environment, D-Bus would start
    // one while SDL starts: it forks this threaded process and runs code
    // in the child that is not safe after a fork (it hangs there when
    // another thread held the allocator), and leaves a bus daemon behind.
    // Told there is none, SDL goes without.
    setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0);
    // The window system the environment names, and no other: failing that,
    // SDL would go on to drivers that open no window at all.
    const char* x11 = getenv("DISPLAY");
    setenv("SDL_VIDEODRIVER", x11 != nullptr && x11[0] != '\0' ? "x11" : "wayland", 0);
}

bool display_unavailable()
{
    return display::sDisplayFailed.load();
}

void set_display_lost_hook(void (*hook)())
{
    display::sDisplayLost.store(hook);
}

namespace display
{

std::mutex& sdl_lock()
{
    static std::mutex* sLock = new std::mutex; // used until exit
    return *sLock;
}

std::shared_ptr<surface> open_surface(BWindow* owner, BRect frame, const char* title)
{
    auto target = std::make_shared<surface>();
    target->owner = owner;
    target->width = int32(frame.IntegerWidth()) + 1;
    target->height = int32(frame.IntegerHeight()) + 1;
    target->pixels.assign(size_t(target->width) * target->height,
                          0xFF000000 | kPanelGrey * 0x10101);
    {
        display_state& s = state();
        std::lock_guard<std::mutex> locked(s.lock);
        start_locked(s);
    }
    std::string name = title != nullptr ? title : "";
    int x = int(frame.left), y = int(frame.top);
    request([target, name, x, y] {
        int32 width, height;
        {
            std::lock_guard<std::mutex> locked(target->lock);
            width = target->width;
            height = target->height;
        }
        SDL_Window* window = SDL_CreateWindow(name.c_str(), x, y, width, height,
                                              SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
        if (window == nullptr) {
            fprintf(stderr, "reelmoth: cannot open a window: %s\n", SDL_GetError());
            return;
        }
        target->sdlWindow = window;
        target->sdlId = SDL_GetWindowID(window);
        state().windows[target->sdlId] = target;
    });
    return target;
}

void close_surface(const std::shared_ptr<surface>& target)
{
    {
        std::lock_guard<std::mutex> locked(target->lock);
        target->owner = nullptr;
    }
    request([target] {
        if (target->sdlWindow == nullptr)
            return;
        state().windows.erase(target->sdlId);
        SDL_DestroyWindow(static_cast<SDL_Window*>(target->sdlWindow));
        target->sdlWindow = nullptr;
    });
}

void show(const std::shared_ptr<surface>& target, bool visible)
{
    request([target, visible] {
        auto* window = static_cast<SDL_Window*>(target->sdlWindow);
        if (window == nullptr)
            return;
        if (visible) {
            SDL_ShowWindow(window);
            present(*target);
        } else {
            SDL_HideWindow(window);
        }
    });
}

void set_title(const std::shared_ptr<surface>& target, const char* title)
{
    std::string name = title != nullptr ? title : "";
    request([target, name] {
        if (target->sdlWindow != nullptr)
            SDL_SetWindowTitle(static_cast<SDL_Window*>(target->sdlWindow), name.c_str());
    });
}

void resize(const std::shared_ptr<surface>& target, int32 width, int32 height)
{
    request([target, width, height] {
        auto* window = static_cast<SDL_Window*>(target->sdlWindow);
        if (window == nullptr)
            return;
        int currentWidth = 0, currentHeight = 0;
        SDL_GetWindowSize(window, &currentWidth, &currentHeight);
        if (currentWidth != width || currentHeight != height)
            SDL_SetWindowSize(window, width, height);
        present(*target);
    });
}

void move(const std::shared_ptr<surface>& target, int32 x, int32 y)
{
    request([target, x, y] {
        auto* window = static_cast<SDL_Window*>(target->sdlWindow);
        if (window == nullptr)
            return;
        // Kept on the screen: a window that would reach past its right or
        // bottom edge moves back inside, as far as it fits.
        int left = x, top = y;
        SDL_Rect screen;
        int width = 0, height = 0;
        SDL_GetWindowSize(window, &width, &height);
        if (SDL_GetDisplayUsableBounds(std::max(0, SDL_GetWindowDisplayIndex(window)), &screen) ==
            0) {
            left = std::max(screen.x, std::min(left, screen.x + screen.w - width));
            top = std::max(screen.y, std::min(top, screen.y + screen.h - height));
        }
        SDL_SetWindowPosition(window, left, top);
    });
}

void set_full_screen(const std::shared_ptr<surface>& target, bool fullScreen)
{
    request([target, fullScreen] {
        auto* window = static_cast<SDL_Window*>(target->sdlWindow);
        if (window == nullptr || target->fullScreen == fullScreen)
            return;
        target->fullScreen = fullScreen;
        if (fullScreen) {
            SDL_GetWindowPosition(window, &target->windowedFrame.x, &target->windowedFrame.y);
            SDL_GetWindowSize(window, &target->windowedFrame.w, &target->windowedFrame.h);
            SDL_Rect screen;
            if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &screen) != 0)
                return;
            // Without a window manager the window system has no full screen
            // of its own: the window itself takes the screen, borderless.
            SDL_SetWindowBordered(window, SDL_FALSE);
            SDL_SetWindowPosition(window, screen.x, screen.y);
            SDL_SetWindowSize(window, screen.w, screen.h);
            SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
        } else {
            SDL_SetWindowFullscreen(window, 0);
            SDL_SetWindowBordered(window, SDL_TRUE);
            SDL_SetWindowSize(window, target->windowedFrame.w, target->windowedFrame.h);
            SDL_SetWindowPosition(window, target->windowedFrame.x, target->windowedFrame.y);
        }
    });
}

void invalidate(const std::shared_ptr<surface>& target)
{
    {
        std::lock_guard<std::mutex> locked(target->lock);
        if (target->dirty)
            return; // already on its way: one wake-up per shown picture
        target->dirty = true;
    }
    display_state& s = state();
    std::lock_guard<std::mutex> locked(s.lock);
    if (!accepting_locked(s))
        return;
    s.dirty.push_back(target);
    wake_locked(s);
}

void shutdown()
{
    display_state& s = state();
    {
        std::lock_guard<std::mutex> locked(s.lock);
        if (!s.running && !s.starting)
            return;
        s.stopping = true;
        wake_locked(s);
    }
    if (s.thread.joinable())
        s.thread.join();
    std::lock_guard<std::mutex> locked(s.lock);
    s.running = false;
    s.available = false;
}

} // namespace display
