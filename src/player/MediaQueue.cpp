// The per-stream queue of compressed media objects.

#include "player/MediaQueue.h"

CWakeUp::CWakeUp(const char* name) : fSem(create_sem(0, name)), fWaiting(false) {}

CWakeUp::~CWakeUp()
{
    delete_sem(fSem);
}

status_t CWakeUp::Wait(bigtime_t timeout)
{
    {
        std::lock_guard<std::mutex> locked(fLock);
        fWaiting = true;
    }
    status_t status = acquire_sem_etc(fSem, 1, B_RELATIVE_TIMEOUT, timeout);
    std::lock_guard<std::mutex> locked(fLock);
    fWaiting = false;
    return status;
}

void CWakeUp::Wake()
{
    std::lock_guard<std::mutex> locked(fLock);
    if (fWaiting) {
        // One wake per wait: a second waker finds the flag cleared.
        fWaiting = false;
        release_sem(fSem);
    }
}

CMediaQueue::CMediaQueue(const char* name, CWakeUp* taken)
    : fBytes(0), fEnded(false), fPushed(name), fTaken(taken)
{
}

CMediaQueue::~CMediaQueue() = default;

void CMediaQueue::Push(std::unique_ptr<media_object> object)
{
    {
        std::lock_guard<std::mutex> locked(fLock);
        fBytes += object->data.size();
        fObjects.push_back(std::move(object));
    }
    fPushed.Wake();
}

std::unique_ptr<media_object> CMediaQueue::Pop(bigtime_t timeout)
{
    for (int attempt = 0; attempt < 2; attempt++) {
        {
            std::lock_guard<std::mutex> locked(fLock);
            if (!fObjects.empty()) {
                std::unique_ptr<media_object> object = std::move(fObjects.front());
                fObjects.pop_front();
                fBytes -= object->data.size();
                if (fTaken != nullptr)
                    fTaken->Wake();
                return object;
            }
            if (fEnded || timeout <= 0)
                return nullptr;
        }
        if (attempt == 0 && fPushed.Wait(timeout) == B_INTERRUPTED)
            return nullptr;
    }
    return nullptr;
}

void CMediaQueue::Flush()
{
    {
        std::lock_guard<std::mutex> locked(fLock);
        fObjects.clear();
        fBytes = 0;
        fEnded = false;
    }
    if (fTaken != nullptr)
        fTaken->Wake();
}

void CMediaQueue::SetEnded()
{
    {
        std::lock_guard<std::mutex> locked(fLock);
        fEnded = true;
    }
    fPushed.Wake();
}

bool CMediaQueue::IsDrained()
{
    std::lock_guard<std::mutex> locked(fLock);
    return fEnded && fObjects.empty();
}

uint32 CMediaQueue::Span()
{
    std::lock_guard<std::mutex> locked(fLock);
    if (fObjects.size() < 2 || fObjects.back()->time < fObjects.front()->time)
        return 0;
    return fObjects.back()->time - fObjects.front()->time;
}

size_t CMediaQueue::Bytes()
{
    std::lock_guard<std::mutex> locked(fLock);
    return fBytes;
}

size_t CMediaQueue::Count()
{
    std::lock_guard<std::mutex> locked(fLock);
    return fObjects.size();
}
