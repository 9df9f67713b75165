// The process's one application object: the main thread's message loop,
// command-line arguments and opened files as messages, and orderly quitting
// (also on SIGINT and SIGTERM).
#pragma once

#include "platform/AppDefs.h"
#include "platform/Looper.h"

#include <vector>

class BWindow;
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
    BWindow* WindowAt(int32 index) const;

private:
    friend class BWindow;
    void AddWindow(BWindow* window);
    void RemoveWindow(BWindow* window);
    void StartSignalThread();
    void StopSignalThread();

    status_t fInitStatus;
    std::vector<char*> fArgv;
    mutable std::mutex fWindowLock;
    std::vector<BWindow*> fWindows;
    struct signal_watch;
    signal_watch* fSignals;
};

extern BApplication* be_app;
