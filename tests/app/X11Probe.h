// What the end-to-end tests do with a real X server: start a private Xvfb,
// find the player's windows, read their pixels, click, close them the way a
// window manager does, and drop files on them with the XDND protocol.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

typedef unsigned long x_window;

class x_server
{
public:
    // Starts Xvfb on a free display and points DISPLAY at it.
    x_server();
    ~x_server();

    bool Ok() const { return fDisplay != nullptr; }

    struct window_info {
        x_window id;
        std::string title;
        int x, y, width, height;
    };

    // The mapped top-level windows that have a title.
    std::vector<window_info> Windows();
    // Waits (up to `seconds`) until exactly `count` titled windows are mapped.
    bool WaitForWindows(size_t count, double seconds);
    window_info* Find(std::vector<window_info>& windows, const std::string& title);

    // The pixel at (x, y) of the window as 0xRRGGBB.
    unsigned Pixel(x_window window, int x, int y);
    // A rectangle of the window's pixels as B, G, R, 255 bytes, row by row;
    // empty when the window cannot be read.
    std::vector<unsigned char> Pixels(x_window window, int x, int y, int width, int height);
    // Puts the window above the others.
    void Raise(x_window window);
    // Asks the window to close, as a window manager's close button does.
    void Close(x_window window);
    // Resizes the window as a user dragging its border would.
    void Resize(x_window window, int width, int height);
    // A left click at (x, y) inside the window.
    void Click(const window_info& window, int x, int y);
    // Two clicks in quick succession.
    void DoubleClick(const window_info& window, int x, int y);
    // Turns the mouse wheel at (x, y) by `steps` notches, away from the
    // user when positive.
    void Wheel(const window_info& window, int x, int y, int steps);
    // Gives the window the keyboard and presses the key named by its X
    // keysym name ("space", "Left", "q", ...).
    void Key(const window_info& window, const char* keysym);
    // Drags `path` onto the window and drops it there; true when the
    // window took the drop.
    bool DropFile(const window_info& window, const std::string& path);

private:
    void Start();

    pid_t fServer;
    void* fDisplay; // Display*
};

// Starts an Xvfb of its own on a free display, which it names; its pid, or
// -1. Nothing in this process connects to it.
pid_t start_xvfb(std::string* display);

// A child process of the real `reelmoth`, with its standard output and
// standard error kept. Its HOME, XDG_CONFIG_HOME and XDG_DATA_HOME are
// folders of a temporary home of its own, and SDL's audio goes to the dummy
// driver, unless `environment` ("NAME=value" entries, set in the child) says
// otherwise.
class player_process
{
public:
    player_process(const std::vector<std::string>& arguments, bool debug = false,
                   const std::vector<std::string>& environment = {});
    ~player_process();

    // Waits (up to `seconds`) for the process to end; its exit status, or
    // -1 when it did not end (it is then killed), or 128 + signal.
    int Wait(double seconds);
    bool Running();
    void Signal(int signal);
    std::string ErrorOutput() const;
    std::string Output() const;
    // The temporary home; removed with the object.
    const std::string& Home() const { return fHome; }
    pid_t Pid() const { return fPid; }

private:
    pid_t fPid;
    int fStatus;
    std::string fErrorFile;
    std::string fOutputFile;
    std::string fHome;
};
