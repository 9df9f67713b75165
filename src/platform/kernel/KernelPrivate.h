// Shared state of the kernel kit's threads and semaphores. Not a public
// header: only the kernel's own files include it.
//
// Every blocking kernel call waits on the calling thread's own condition
// variable under the one kernel lock. Whoever changes what a thread waits for
// (a release, a deletion, a thread's exit, a kill) notifies that thread's
// condition variable, so a kill can wake a thread whatever it waits on.
#pragma once

#include "platform/kernel/OS.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace kernel
{

struct thread_record {
    thread_id id = -1;
    char name[B_OS_NAME_LENGTH] = {};
    int32 priority = B_NORMAL_PRIORITY;
    std::condition_variable cond;

    // Threads made by spawn_thread; others (the main thread, library
    // threads) get a record the first time they use the kernel.
    bool spawned = false;
    bool resumed = false;
    bool exited = false;
    status_t exitStatus = B_OK;
    thread_func function = nullptr;
    void* data = nullptr;

    std::atomic<bool> killed{false};
    // Threads blocked in wait_for_thread on this one.
    std::vector<thread_record*> joiners;

    // Held while the hook runs, so that clearing the hook also waits for a
    // call in progress to end.
    std::mutex hookLock;
    thread_interrupt_hook hook = nullptr;
    void* hookCookie = nullptr;
};

// The one lock over every thread record and semaphore.
std::mutex& lock();

// The calling thread's record, made and registered on first use.
thread_record& current();

// Waits on the calling thread's condition variable until `done()` holds
// (B_OK), the thread is killed (B_INTERRUPTED) or `deadline` (system_time
// microseconds; B_INFINITE_TIMEOUT for none) passes (B_TIMED_OUT). `done` is
// checked first, so a wait that was satisfied wins over a kill.
template <typename Done>
status_t wait(std::unique_lock<std::mutex>& locked, thread_record& self, bigtime_t deadline,
              Done done);

// Absolute deadline for a timeout given with the semaphore flags.
bigtime_t deadline_for(uint32 flags, bigtime_t timeout);

// Implementation of wait(): the deadline form of the condition wait.
bool wait_until(std::unique_lock<std::mutex>& locked, thread_record& self, bigtime_t deadline);

template <typename Done>
status_t wait(std::unique_lock<std::mutex>& locked, thread_record& self, bigtime_t deadline,
              Done done)
{
    bool timedOut = false;
    for (;;) {
        if (done())
            return B_OK;
        if (self.killed.load(std::memory_order_relaxed))
            return B_INTERRUPTED;
        if (timedOut)
            return B_TIMED_OUT;
        timedOut = !wait_until(locked, self, deadline);
    }
}

} // namespace kernel
