// A recursive lock: the owner may lock it again and must unlock as often.
// A lock whose holding thread ends passes to the next thread that asks.
// Uncontended locking is one atomic operation, as with a benaphore; waiters
// sleep in the kernel (a futex-backed mutex) instead of spinning.
#pragma once

#include "platform/support/SupportDefs.h"

#include <atomic>
#include <pthread.h>

class BLocker
{
public:
    BLocker();
    explicit BLocker(const char* name, bool benaphoreStyle = true);
    virtual ~BLocker();

    BLocker(const BLocker&) = delete;
    BLocker& operator=(const BLocker&) = delete;

    bool Lock();
    // B_OK, B_TIMED_OUT (B_WOULD_BLOCK for a zero timeout) or B_BAD_VALUE.
    status_t LockWithTimeout(bigtime_t timeout);
    void Unlock();

    bool IsLocked() const; // by the calling thread
    int32 LockingThread() const { return fOwner.load(std::memory_order_relaxed); }
    int32 CountLocks() const { return fOwnerCount; }
    const char* Name() const { return fName; }

private:
    const char* fName;
    pthread_mutex_t fMutex;
    std::atomic<int32> fOwner;
    int32 fOwnerCount;
};

class BAutolock
{
public:
    explicit BAutolock(BLocker* locker)
        : fLocker(locker), fLocked(locker != nullptr && locker->Lock())
    {
    }
    explicit BAutolock(BLocker& locker) : BAutolock(&locker) {}
    ~BAutolock()
    {
        if (fLocked)
            fLocker->Unlock();
    }

    BAutolock(const BAutolock&) = delete;
    BAutolock& operator=(const BAutolock&) = delete;

    bool IsLocked() const { return fLocked; }

private:
    BLocker* fLocker;
    bool fLocked;
};
