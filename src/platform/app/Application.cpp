#include "platform/app/Application.h"

#include "platform/app/Message.h"
#include "platform/app/Roster.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

BApplication* be_app = nullptr;

namespace
{

std::mutex gExitHookLock;
std::vector<void (*)()> gExitHooks;

} // namespace

void add_application_exit_hook(void (*hook)())
{
    std::lock_guard<std::mutex> locked(gExitHookLock);
    if (std::find(gExitHooks.begin(), gExitHooks.end(), hook) == gExitHooks.end())
        gExitHooks.push_back(hook);
}

struct BApplication::signal_watch {
    std::thread thread;
    std::atomic<bool> stop{false};
};

namespace
{

// The process's arguments as the kernel recorded them.
std::vector<char*> read_arguments()
{
    std::vector<char*> argv;
    FILE* file = fopen("/proc/self/cmdline", "rb");
    if (file == nullptr)
        return argv;
    std::string current;
    int c;
    while ((c = fgetc(file)) != EOF) {
        if (c == '\0') {
            argv.push_back(strdup(current.c_str()));
            current.clear();
        } else {
            current += char(c);
        }
    }
    fclose(file);
    return argv;
}

} // namespace

BApplication::BApplication(const char* signature)
    : BLooper("application"), fInitStatus(B_OK), fArgv(read_arguments()), fSignals(nullptr)
{
    if (be_app != nullptr) {
        fprintf(stderr, "reelmoth: only one application object may exist\n");
        fInitStatus = B_ALREADY_RUNNING;
        return;
    }
    be_app = this;
    set_running_app_signature(signature);
    StartSignalThread();
}

BApplication::~BApplication()
{
    for (char* argument : fArgv)
        free(argument);
    if (be_app != this)
        return; // a second application object, refused
    StopSignalThread();
    std::vector<void (*)()> hooks;
    {
        std::lock_guard<std::mutex> locked(gExitHookLock);
        hooks = gExitHooks;
    }
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it)
        (*it)();
    set_running_app_signature(nullptr);
    be_app = nullptr;
}

void BApplication::StartSignalThread()
{
    // SIGINT and SIGTERM are taken by one thread and become a quit request,
    // so that a normal shutdown runs. Threads made later inherit the mask.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    fSignals = new signal_watch;
    signal_watch* watch = fSignals;
    fSignals->thread = std::thread([watch, set] {
        while (!watch->stop.load()) {
            struct timespec wait = {0, 100 * 1000 * 1000};
            int signal = sigtimedwait(&set, nullptr, &wait);
            if ((signal == SIGINT || signal == SIGTERM) && be_app != nullptr)
                be_app->PostMessage(B_QUIT_REQUESTED);
        }
    });
}

void BApplication::StopSignalThread()
{
    if (fSignals == nullptr)
        return;
    fSignals->stop = true;
    fSignals->thread.join();
    delete fSignals;
    fSignals = nullptr;
}

thread_id BApplication::Run()
{
    SetThread(find_thread(nullptr));
    // The lock taken at construction is now the loop's.
    if (IsLocked() && LockingThread() == Thread()) {
        Lock();
        if (fArgv.size() > 1)
            ArgvReceived(int32(fArgv.size()), fArgv.data());
        ReadyToRun();
        while (IsLocked())
            Unlock();
    }
    if (!IsQuitting())
        Loop();
    while (IsLocked())
        Unlock();
    return Thread();
}

void BApplication::Quit()
{
    if (Thread() >= 0 && find_thread(nullptr) != Thread()) {
        PostMessage(B_QUIT_REQUESTED);
        return;
    }
    // Windows still open go first, the most recent first.
    for (int32 i = CountWindows() - 1; i >= 0; i--) {
        BLooper* window = WindowAt(i);
        if (window != nullptr && window->Lock())
            window->Quit();
    }
    EndLoop();
}

bool BApplication::QuitRequested()
{
    std::vector<BLooper*> windows;
    {
        std::lock_guard<std::mutex> locked(fWindowLock);
        windows = fWindows;
    }
    bool all = true;
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        BLooper* window = *it;
        if (!window->Lock())
            continue;
        if (window->QuitRequested()) {
            window->Quit();
        } else {
            window->Unlock();
            all = false;
        }
    }
    return all;
}

void BApplication::DispatchMessage(BMessage* message, BHandler* target)
{
    switch (message->what) {
    case B_REFS_RECEIVED:
        RefsReceived(message);
        break;
    default:
        BLooper::DispatchMessage(message, target);
        break;
    }
}

void BApplication::ArgvReceived(int32, char**) {}

void BApplication::ReadyToRun() {}

void BApplication::RefsReceived(BMessage*) {}

status_t BApplication::GetAppInfo(app_info* info) const
{
    return get_running_app_info(info);
}

int32 BApplication::CountWindows() const
{
    std::lock_guard<std::mutex> locked(fWindowLock);
    return int32(fWindows.size());
}

BLooper* BApplication::WindowAt(int32 index) const
{
    std::lock_guard<std::mutex> locked(fWindowLock);
    return index >= 0 && size_t(index) < fWindows.size() ? fWindows[size_t(index)] : nullptr;
}

void BApplication::AddWindow(BLooper* window)
{
    std::lock_guard<std::mutex> locked(fWindowLock);
    fWindows.push_back(window);
}

void BApplication::RemoveWindow(BLooper* window)
{
    std::lock_guard<std::mutex> locked(fWindowLock);
    std::erase(fWindows, window);
}
