#include "platform/support/Locker.h"

#include <cerrno>
#include <ctime>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define REELMOTH_TSAN_LOCKS 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define REELMOTH_TSAN_LOCKS 1
#endif

#ifdef REELMOTH_TSAN_LOCKS
#include <algorithm>
#include <sanitizer/tsan_interface.h>
#include <vector>
#endif

namespace
{

int32 current_thread()
{
    return int32(gettid());
}

#ifdef REELMOTH_TSAN_LOCKS
// ThreadSanitizer sees pthread_mutex_lock, trylock and unlock, but not
// pthread_mutex_clocklock, nor that a robust lock passes on when its holder
// ends: the timed path and the holder's end are told to it here. A timed
// lock counts as a try (as ThreadSanitizer counts pthread_mutex_timedlock):
// it gives up rather than closing a lock cycle.

// The locks this thread holds. Trivially destroyed, so that static
// destructors, which run after the main thread's own objects are gone, can
// still lock and unlock.
thread_local std::vector<pthread_mutex_t*>* tHeld = nullptr;
thread_local bool tEnded = false;

// A thread that ends holding locks hands them on: the next holder gets
// EOWNERDEAD, after this.
struct held_locks_handover {
    ~held_locks_handover()
    {
        tEnded = true;
        if (tHeld == nullptr)
            return;
        for (pthread_mutex_t* mutex : *tHeld) {
            __tsan_mutex_pre_unlock(mutex, 0);
            __tsan_mutex_post_unlock(mutex, 0);
        }
        delete tHeld;
        tHeld = nullptr;
    }
};

thread_local held_locks_handover tHandover;

void note_locked(pthread_mutex_t* mutex)
{
    if (tEnded)
        return;
    if (tHeld == nullptr) {
        static_cast<void>(&tHandover); // made now, so that it runs as the thread ends
        tHeld = new std::vector<pthread_mutex_t*>;
    }
    tHeld->push_back(mutex);
}

void note_unlocked(pthread_mutex_t* mutex)
{
    if (tHeld == nullptr)
        return;
    auto found = std::find(tHeld->rbegin(), tHeld->rend(), mutex);
    if (found != tHeld->rend())
        tHeld->erase(std::next(found).base());
}

int timed_lock(pthread_mutex_t* mutex, const struct timespec* deadline)
{
    __tsan_mutex_pre_lock(mutex, __tsan_mutex_try_lock);
    int result = pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, deadline);
    bool locked = result == 0 || result == EOWNERDEAD;
    __tsan_mutex_post_lock(mutex,
                           __tsan_mutex_try_lock | (locked ? 0 : __tsan_mutex_try_lock_failed), 0);
    return result;
}
#else
void note_locked(pthread_mutex_t*) {}
void note_unlocked(pthread_mutex_t*) {}

int timed_lock(pthread_mutex_t* mutex, const struct timespec* deadline)
{
    return pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, deadline);
}
#endif

} // namespace

BLocker::BLocker() : BLocker("some BLocker") {}

BLocker::BLocker(const char* name, bool) : fName(name), fOwner(-1), fOwnerCount(0)
{
    // Robust: a lock whose holder ends (a thread killed inside module code
    // that held a critical section) passes to the next one who asks,
    // instead of leaving everyone after it waiting for ever.
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&fMutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

BLocker::~BLocker()
{
    note_unlocked(&fMutex);
    pthread_mutex_destroy(&fMutex);
}

bool BLocker::Lock()
{
    return LockWithTimeout(B_INFINITE_TIMEOUT) == B_OK;
}

status_t BLocker::LockWithTimeout(bigtime_t timeout)
{
    int32 self = current_thread();
    if (fOwner.load(std::memory_order_relaxed) == self) {
        fOwnerCount++;
        return B_OK;
    }
    if (timeout < 0)
        return B_BAD_VALUE;

    int result;
    if (timeout == B_INFINITE_TIMEOUT) {
        result = pthread_mutex_lock(&fMutex);
    } else if (timeout == 0) {
        result = pthread_mutex_trylock(&fMutex);
        if (result == EBUSY)
            return B_WOULD_BLOCK;
    } else {
        struct timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += time_t(timeout / 1000000);
        deadline.tv_nsec += long(timeout % 1000000) * 1000;
        if (deadline.tv_nsec >= 1000000000) {
            deadline.tv_sec++;
            deadline.tv_nsec -= 1000000000;
        }
        result = timed_lock(&fMutex, &deadline);
    }
    if (result == EOWNERDEAD) {
        // The holder ended without unlocking: the lock is ours, whatever it
        // guarded is as that thread left it.
        pthread_mutex_consistent(&fMutex);
        result = 0;
    }
    if (result == ETIMEDOUT)
        return B_TIMED_OUT;
    if (result != 0)
        return B_ERROR;
    note_locked(&fMutex);
    fOwner.store(self, std::memory_order_relaxed);
    fOwnerCount = 1;
    return B_OK;
}

void BLocker::Unlock()
{
    if (fOwner.load(std::memory_order_relaxed) != current_thread())
        return; // not ours to release
    if (--fOwnerCount > 0)
        return;
    fOwner.store(-1, std::memory_order_relaxed);
    note_unlocked(&fMutex);
    pthread_mutex_unlock(&fMutex);
}

bool BLocker::IsLocked() const
{
    return fOwner.load(std::memory_order_relaxed) == current_thread();
}
