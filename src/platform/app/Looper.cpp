#include "platform/app/Looper.h"

#include "platform/app/AppDefs.h"
#include "platform/app/Message.h"

namespace
{

// Ends a loop whose Quit() was called from another thread.
constexpr uint32 kQuitLoop = '_QIT';

// How often a thread waiting for a looper's lock looks whether it was killed.
constexpr bigtime_t kKilledCheckInterval = 20000;

} // namespace

BLooper::BLooper(const char* name, int32 priority)
    : BHandler(name), fLocker(name != nullptr ? name : "looper"),
      fQueueSem(create_sem(0, "looper queue")), fThread(-1), fPriority(priority), fQuitting(false)
{
    SetLooper(this);
    fLocker.Lock(); // released by Run()
}

BLooper::~BLooper()
{
    // A looper that never ran is still locked by its construction.
    while (fLocker.IsLocked())
        fLocker.Unlock();
    std::lock_guard<std::mutex> locked(fQueueLock);
    for (BMessage* message : fQueue)
        delete message;
    fQueue.clear();
    delete_sem(fQueueSem);
}

thread_id BLooper::Run()
{
    if (fThread >= 0)
        return B_BAD_THREAD_STATE;
    fThread =
        spawn_thread(LoopThreadWrapper, Name() != nullptr ? Name() : "looper", fPriority, this);
    if (fThread < 0)
        return fThread;
    resume_thread(fThread);
    Unlock();
    return fThread;
}

int32 BLooper::LoopThreadWrapper(void* looper)
{
    auto* self = static_cast<BLooper*>(looper);
    self->Loop();
    if (self->IsQuitting()) {
        // The looper ends with its object: unlock what the loop still holds.
        while (self->fLocker.IsLocked())
            self->fLocker.Unlock();
        delete self;
    }
    return B_OK;
}

void BLooper::Loop()
{
    while (!fQuitting) {
        BMessage* message = NextMessage();
        if (message == nullptr)
            return;
        Lock();
        if (message->what == kQuitLoop)
            fQuitting = true;
        else
            DispatchMessage(message, this);
        delete message;
        if (!fQuitting)
            Unlock();
    }
}

BMessage* BLooper::NextMessage()
{
    if (acquire_sem(fQueueSem) != B_OK)
        return nullptr;
    std::lock_guard<std::mutex> locked(fQueueLock);
    if (fQueue.empty())
        return nullptr;
    BMessage* message = fQueue.front();
    fQueue.pop_front();
    return message;
}

void BLooper::Quit()
{
    if (fThread < 0) {
        // Never ran: nothing to stop.
        while (fLocker.IsLocked())
            fLocker.Unlock();
        delete this;
        return;
    }
    if (find_thread(nullptr) == fThread) {
        fQuitting = true; // the loop ends after the current message
        return;
    }
    QuitFromOutside();
}

void BLooper::QuitFromOutside()
{
    thread_id thread = fThread;
    PostMessage(kQuitLoop);
    // The last unlock lets the loop delete the object: count first, and
    // touch nothing of it afterwards.
    int32 locks = fLocker.IsLocked() ? fLocker.CountLocks() : 0;
    BLocker* locker = &fLocker;
    for (int32 i = 0; i < locks; i++)
        locker->Unlock();
    // Quit() returns only once the object is gone.
    wait_for_thread(thread, nullptr);
}

bool BLooper::QuitRequested()
{
    return true;
}

status_t BLooper::PostMessage(uint32 what)
{
    BMessage message(what);
    return PostMessage(&message);
}

status_t BLooper::PostMessage(BMessage* message)
{
    if (message == nullptr)
        return B_BAD_VALUE;
    auto* copy = new BMessage(*message);
    {
        std::lock_guard<std::mutex> locked(fQueueLock);
        fQueue.push_back(copy);
    }
    status_t status = release_sem(fQueueSem);
    if (status != B_OK) {
        std::lock_guard<std::mutex> locked(fQueueLock);
        if (!fQueue.empty() && fQueue.back() == copy) {
            fQueue.pop_back();
            delete copy;
        }
    }
    return status;
}

void BLooper::DispatchMessage(BMessage* message, BHandler* target)
{
    if (message->what == B_QUIT_REQUESTED && target == this) {
        if (QuitRequested())
            Quit();
        return;
    }
    (target != nullptr ? target : this)->MessageReceived(message);
}

bool BLooper::Lock()
{
    // A killed thread gives up waiting, so that whoever killed it while
    // holding this lock can wait for it to end.
    for (;;) {
        status_t status = fLocker.LockWithTimeout(kKilledCheckInterval);
        if (status == B_OK)
            return true;
        if (status != B_TIMED_OUT || has_kill_request())
            return false;
    }
}

void BLooper::Unlock()
{
    fLocker.Unlock();
}
