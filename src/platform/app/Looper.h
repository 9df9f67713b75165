// A message loop on a thread of its own, with a recursive lock that every
// handler of the loop runs under.
//
// A looper is constructed locked by the constructing thread; Run() starts the
// thread and releases that lock. Quit() must be called with the looper
// locked: from the looper's own thread it ends the loop once the current
// message is handled; from another thread it asks the loop to end and waits
// for it. Either way the looper object is deleted by Quit() - on a looper that
// never ran, at once.
#pragma once

#include "platform/app/Handler.h"
#include "platform/kernel/OS.h"
#include "platform/support/Locker.h"

#include <deque>
#include <mutex>

class BLooper : public BHandler
{
public:
    explicit BLooper(const char* name = nullptr, int32 priority = B_NORMAL_PRIORITY);
    ~BLooper() override;

    // Starts the loop's thread; returns its id.
    virtual thread_id Run();
    virtual void Quit();
    // Asked before a B_QUIT_REQUESTED message quits the looper; true agrees.
    virtual bool QuitRequested();

    // The message is copied; the caller keeps its own.
    status_t PostMessage(uint32 what);
    status_t PostMessage(BMessage* message);

    virtual void DispatchMessage(BMessage* message, BHandler* target);

    // Fails when the looper cannot be locked, also when the calling thread is
    // killed while it waits.
    bool Lock();
    void Unlock();
    bool IsLocked() const { return fLocker.IsLocked(); }
    thread_id LockingThread() const { return fLocker.LockingThread(); }
    thread_id Thread() const { return fThread; }

protected:
    // Takes the oldest queued message, waiting for one; null when the loop
    // must end.
    BMessage* NextMessage();
    // Runs the loop on the calling thread until Quit().
    void Loop();
    bool IsQuitting() const { return fQuitting; }
    // Makes the loop end after the message being handled.
    void EndLoop() { fQuitting = true; }
    void SetThread(thread_id thread) { fThread = thread; }
    // Ends the loop of a looper whose Quit() runs on another thread; the
    // caller holds the lock, which this gives up entirely while waiting.
    void QuitFromOutside();

private:
    static int32 LoopThreadWrapper(void* looper);

    BLocker fLocker;
    std::mutex fQueueLock;
    std::deque<BMessage*> fQueue;
    sem_id fQueueSem;
    thread_id fThread;
    int32 fPriority;
    bool fQuitting;
};
