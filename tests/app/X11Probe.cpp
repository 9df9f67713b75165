#include "X11Probe.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

double now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void pause_ms(int ms)
{
    usleep(useconds_t(ms) * 1000);
}

Display* dpy(void* display)
{
    return static_cast<Display*>(display);
}

// Windows come and go while the tests look at them: a request about one
// that has just gone fails, and that is no reason to end the test process
// (Xlib's default handler would).
int ignore_errors(Display*, XErrorEvent*)
{
    return 0;
}

// Children end with the test process, also when it dies.
void die_with_parent()
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
}

std::string title_of(Display* display, Window window)
{
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name != nullptr) {
        title = name;
        XFree(name);
    }
    return title;
}

} // namespace

x_server::x_server() : fServer(-1), fDisplay(nullptr)
{
    // Servers started at the same moment may race for a display number;
    // the loser exits, and a new try picks another.
    for (int attempt = 0; attempt < 5 && fDisplay == nullptr; attempt++) {
        if (fServer > 0) {
            kill(fServer, SIGTERM);
            waitpid(fServer, nullptr, 0);
            fServer = -1;
        }
        Start();
    }
}

pid_t start_xvfb(std::string* display)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    pid_t server = fork();
    if (server == 0) {
        die_with_parent();
        close(fds[0]);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 2);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    // Xvfb writes the display number and a newline once it accepts
    // connections; end of file means it gave up.
    for (double start = now(); now() - start < 20;) {
        char c;
        ssize_t got = read(fds[0], &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || c == '\n')
            break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
        return -1;
    }
    *display = ":" + number;
    return server;
}

void x_server::Start()
{
    std::string display;
    fServer = start_xvfb(&display);
    if (fServer < 0)
        return;
    setenv("DISPLAY", display.c_str(), 1);
    XSetErrorHandler(ignore_errors);
    fDisplay = XOpenDisplay(display.c_str());
}

x_server::~x_server()
{
    if (fDisplay != nullptr)
        XCloseDisplay(dpy(fDisplay));
    if (fServer > 0) {
        kill(fServer, SIGTERM);
        waitpid(fServer, nullptr, 0);
    }
}

std::vector<x_server::window_info> x_server::Windows()
{
    std::vector<window_info> result;
    Display* display = dpy(fDisplay);
    if (display == nullptr)
        return result;
    XSync(display, False);
    Window root = DefaultRootWindow(display), parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count))
        return result;
    for (unsigned int i = 0; i < count; i++) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes) ||
            attributes.map_state != IsViewable)
            continue;
        std::string title = title_of(display, children[i]);
        if (title.empty())
            continue;
        int x = 0, y = 0;
        Window child;
        XTranslateCoordinates(display, children[i], root, 0, 0, &x, &y, &child);
        result.push_back({children[i], title, x, y, attributes.width, attributes.height});
    }
    if (children != nullptr)
        XFree(children);
    return result;
}

bool x_server::WaitForWindows(size_t count, double seconds)
{
    for (double start = now(); now() - start < seconds; pause_ms(50)) {
        if (Windows().size() == count)
            return true;
    }
    return false;
}

x_server::window_info* x_server::Find(std::vector<window_info>& windows, const std::string& title)
{
    for (window_info& window : windows) {
        if (window.title == title)
            return &window;
    }
    return nullptr;
}

unsigned x_server::Pixel(x_window window, int x, int y)
{
    Display* display = dpy(fDisplay);
    XImage* image = XGetImage(display, window, x, y, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr)
        return 0xFFFFFFFF;
    unsigned pixel = unsigned(XGetPixel(image, 0, 0)) & 0xFFFFFF;
    XDestroyImage(image);
    return pixel;
}

std::vector<unsigned char> x_server::Pixels(x_window window, int x, int y, int width, int height)
{
    std::vector<unsigned char> result;
    Display* display = dpy(fDisplay);
    XImage* image =
        XGetImage(display, window, x, y, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (image == nullptr)
        return result;
    result.reserve(size_t(width) * height * 4);
    for (int row = 0; row < height; row++) {
        for (int column = 0; column < width; column++) {
            unsigned long pixel = XGetPixel(image, column, row);
            result.push_back((unsigned char)(pixel & 0xFF));
            result.push_back((unsigned char)(pixel >> 8 & 0xFF));
            result.push_back((unsigned char)(pixel >> 16 & 0xFF));
            result.push_back(0xFF);
        }
    }
    XDestroyImage(image);
    return result;
}

void x_server::Raise(x_window window)
{
    Display* display = dpy(fDisplay);
    XRaiseWindow(display, window);
    XSync(display, False);
}

void x_server::Close(x_window window)
{
    Display* display = dpy(fDisplay);
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

void x_server::Resize(x_window window, int width, int height)
{
    Display* display = dpy(fDisplay);
    XResizeWindow(display, window, unsigned(width), unsigned(height));
    XSync(display, False);
}

void x_server::Click(const window_info& window, int x, int y)
{
    Display* display = dpy(fDisplay);
    XTestFakeMotionEvent(display, -1, window.x + x, window.y + y, CurrentTime);
    XSync(display, False);
    pause_ms(30);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XSync(display, False);
}

void x_server::DoubleClick(const window_info& window, int x, int y)
{
    Display* display = dpy(fDisplay);
    XTestFakeMotionEvent(display, -1, window.x + x, window.y + y, CurrentTime);
    XSync(display, False);
    pause_ms(30);
    for (int i = 0; i < 2; i++) {
        XTestFakeButtonEvent(display, 1, True, CurrentTime);
        XTestFakeButtonEvent(display, 1, False, CurrentTime);
    }
    XSync(display, False);
}

void x_server::Wheel(const window_info& window, int x, int y, int steps)
{
    Display* display = dpy(fDisplay);
    XTestFakeMotionEvent(display, -1, window.x + x, window.y + y, CurrentTime);
    XSync(display, False);
    pause_ms(30);
    // X reports the wheel as buttons 4 (up) and 5 (down).
    unsigned button = steps > 0 ? 4 : 5;
    for (int i = 0; i < std::abs(steps); i++) {
        XTestFakeButtonEvent(display, button, True, CurrentTime);
        XTestFakeButtonEvent(display, button, False, CurrentTime);
    }
    XSync(display, False);
}

void x_server::Key(const window_info& window, const char* keysym)
{
    Display* display = dpy(fDisplay);
    XTestFakeMotionEvent(display, -1, window.x + window.width / 2, window.y + window.height / 2,
                         CurrentTime);
    XSetInputFocus(display, window.id, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
    pause_ms(30);
    KeyCode code = XKeysymToKeycode(display, XStringToKeysym(keysym));
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XSync(display, False);
}

bool x_server::DropFile(const window_info& target, const std::string& path)
{
    Display* display = dpy(fDisplay);
    Atom aware = XInternAtom(display, "XdndAware", False);
    Atom enter = XInternAtom(display, "XdndEnter", False);
    Atom position = XInternAtom(display, "XdndPosition", False);
    Atom status = XInternAtom(display, "XdndStatus", False);
    Atom drop = XInternAtom(display, "XdndDrop", False);
    Atom finished = XInternAtom(display, "XdndFinished", False);
    Atom selection = XInternAtom(display, "XdndSelection", False);
    Atom copy = XInternAtom(display, "XdndActionCopy", False);
    Atom uriList = XInternAtom(display, "text/uri-list", False);

    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, target.id, aware, 0, 1, False, AnyPropertyType, &type, &format,
                           &count, &after, &data) != Success ||
        data == nullptr)
        return false;
    long version = std::min(5L, *reinterpret_cast<long*>(data));
    XFree(data);

    Window source = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(display, selection, source, CurrentTime);
    auto send = [&](Atom message, long l1, long l2, long l3, long l4) {
        XEvent event = {};
        event.xclient.type = ClientMessage;
        event.xclient.window = target.id;
        event.xclient.message_type = message;
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(source);
        event.xclient.data.l[1] = l1;
        event.xclient.data.l[2] = l2;
        event.xclient.data.l[3] = l3;
        event.xclient.data.l[4] = l4;
        XSendEvent(display, target.id, False, NoEventMask, &event);
        XFlush(display);
    };
    send(enter, version << 24, long(uriList), 0, 0);
    long where = long(target.x + target.width / 2) << 16 | long(target.y + target.height / 2);
    send(position, 0, where, CurrentTime, long(copy));

    std::string uri = "file://" + path + "\r\n";
    bool dropped = false, done = false;
    for (double start = now(); !done && now() - start < 10;) {
        if (!XPending(display)) {
            pause_ms(10);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage && event.xclient.message_type == status && !dropped) {
            dropped = true;
            send(drop, 0, CurrentTime, 0, 0);
        } else if (event.type == SelectionRequest) {
            XSelectionRequestEvent& request = event.xselectionrequest;
            XChangeProperty(display, request.requestor, request.property, request.target, 8,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(uri.data()),
                            int(uri.size()));
            XEvent reply = {};
            reply.xselection.type = SelectionNotify;
            reply.xselection.requestor = request.requestor;
            reply.xselection.selection = request.selection;
            reply.xselection.target = request.target;
            reply.xselection.property = request.property;
            reply.xselection.time = request.time;
            XSendEvent(display, request.requestor, False, NoEventMask, &reply);
            XFlush(display);
        } else if (event.type == ClientMessage && event.xclient.message_type == finished) {
            done = true;
        }
    }
    XDestroyWindow(display, source);
    XFlush(display);
    return done;
}

player_process::player_process(const std::vector<std::string>& arguments, bool debug,
                               const std::vector<std::string>& environment)
    : fPid(-1), fStatus(-1)
{
    char errorPattern[] = "/tmp/reelmoth-stderr-XXXXXX";
    int fd = mkstemp(errorPattern);
    fErrorFile = errorPattern;
    char outputPattern[] = "/tmp/reelmoth-stdout-XXXXXX";
    int outputFd = mkstemp(outputPattern);
    fOutputFile = outputPattern;
    char homePattern[] = "/tmp/reelmoth-home-XXXXXX";
    fHome = mkdtemp(homePattern) != nullptr ? homePattern : "/nonexistent";
    fPid = fork();
    if (fPid == 0) {
        die_with_parent();
        dup2(outputFd, 1);
        dup2(fd, 2);
        setenv("SDL_AUDIODRIVER", "dummy", 1);
        // The registry file and codec modules of the test, not the user's.
        setenv("HOME", fHome.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (fHome + "/config").c_str(), 1);
        setenv("XDG_DATA_HOME", (fHome + "/data").c_str(), 1);
        for (const std::string& entry : environment) {
            size_t equals = entry.find('=');
            if (equals != std::string::npos)
                setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
        }
        setenv("LSAN_OPTIONS", "print_suppressions=0:suppressions=" REELMOTH_LSAN_SUPPRESSIONS, 1);
        if (debug)
            setenv("REELMOTH_DEBUG", "1", 1);
        std::string program = std::string(REELMOTH_BINARY_DIR) + "/reelmoth";
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(fd);
    close(outputFd);
}

player_process::~player_process()
{
    if (Running())
        Wait(0);
    unlink(fErrorFile.c_str());
    unlink(fOutputFile.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(fHome, ignored);
}

bool player_process::Running()
{
    if (fPid <= 0)
        return false;
    int status;
    pid_t done = waitpid(fPid, &status, WNOHANG);
    if (done == fPid) {
        fStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        fPid = -1;
        return false;
    }
    return true;
}

int player_process::Wait(double seconds)
{
    for (double start = now(); Running() && now() - start < seconds;)
        pause_ms(20);
    if (Running()) {
        kill(fPid, SIGKILL);
        waitpid(fPid, nullptr, 0);
        fPid = -1;
        return -1;
    }
    return fStatus;
}

void player_process::Signal(int signal)
{
    if (fPid > 0)
        kill(fPid, signal);
}

namespace
{

std::string file_text(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

std::string player_process::ErrorOutput() const
{
    return file_text(fErrorFile);
}

std::string player_process::Output() const
{
    return file_text(fOutputFile);
}
