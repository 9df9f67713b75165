// The process's one application object: the main thread's message loop,
// command-line arguments and opened files as messages, and orderly quitting
// (also on SIGINT and SIGTERM).
#pragma once

#include "platform/app/AppDefs.h"
#include "platform/app/Looper.h"

#include <vector>

struct app_info;

class BApplication : public BLooper
{
public:
    explicit BApplication(const char* signature);
    ~BApplication() override;

    status_t InitCheck() const { return fInitStatus; }

    // Runs the loop on the calling thread: ArgvReceived (when there are
    // arguments), ReadyToRun, then messages until Quit(). Returns the thread.
    thread_id Run() override;
    void Quit() override;
    // By default asks every window, the most recently opened first; true
    // when all of them agreed to close (those windows are then quit).
    bool QuitRequested() override;
    void DispatchMessage(BMessage* message, BHandler* target) override;

    virtual void ArgvReceived(int32 argc, char** argv);
    virtual void ReadyToRun();
    virtual void RefsReceived(BMessage* message);

    status_t GetAppInfo(app_info* info) const;

    int32 CountWindows() const;

private:
    // Windows register themselves; the application kit sees them as the
    // loopers they are, so it needs nothing from the interface kit.
    friend class BWindow;
    void AddWindow(BLooper* window);
    void RemoveWindow(BLooper* window);
    BLooper* WindowAt(int32 index) const;
    void StartSignalThread();
    void StopSignalThread();

    status_t fInitStatus;
    std::vector<char*> fArgv;
    mutable std::mutex fWindowLock;
    std::vector<BLooper*> fWindows;
    struct signal_watch;
    signal_watch* fSignals;
};

extern BApplication* be_app;

// A kit above this one (the display) registers how it ends; the application
// object runs every registered hook, the last one first, as it goes.
void add_application_exit_hook(void (*hook)());
