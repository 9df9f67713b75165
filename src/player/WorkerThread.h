// The one owner of a player worker thread: starts it, asks it to end and
// waits for it, for the reader, the audio and video paths and the controls.
#pragma once

#include "platform/kernel/OS.h"

#include <functional>

class CWorkerThread
{
public:
    CWorkerThread() = default;
    // Asks a thread still running to end and waits for it: its body may use
    // whatever owns this.
    ~CWorkerThread();
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    // Spawns the thread `name` running `body` and resumes it; false when one
    // already runs or none could be made.
    bool Start(const char* name, std::function<int32()> body);
    // Cooperative: kill_thread marks the thread and wakes it wherever it
    // waits; its body ends at its next check.
    void AskToEnd();
    // Returns once the thread has ended; at once when none was started or
    // it was waited for before. A caller that is killed itself still waits.
    void Join();
    // Started and not yet waited for.
    bool Running() const { return fThread >= 0; }
    thread_id Thread() const { return fThread; }

    static int32 ThreadWrapper(void* owner);

private:
    std::function<int32()> fBody;
    thread_id fThread = -1;
};
