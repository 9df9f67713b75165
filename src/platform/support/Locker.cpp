#include "platform/support/Locker.h"

#include <cerrno>
#include <ctime>
#include <unistd.h>

namespace
{

int32 current_thread()
{
    return int32(gettid());
}

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
        result = pthread_mutex_clocklock(&fMutex, CLOCK_MONOTONIC, &deadline);
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
    pthread_mutex_unlock(&fMutex);
}

bool BLocker::IsLocked() const
{
    return fOwner.load(std::memory_order_relaxed) == current_thread();
}
