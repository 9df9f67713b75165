// Start, the request to end and the wait of a player worker thread.

#include "player/WorkerThread.h"

#include <chrono>
#include <thread>

namespace
{

// How often a killed caller looks again whether the thread has ended: the
// platform's waits return at once for it.
constexpr std::chrono::milliseconds kKilledJoinStep(1);

} // namespace

CWorkerThread::~CWorkerThread()
{
    AskToEnd();
    Join();
}

bool CWorkerThread::Start(const char* name, std::function<int32()> body)
{
    if (Running())
        return false;
    fBody = std::move(body);
    thread_id thread = spawn_thread(ThreadWrapper, name, B_NORMAL_PRIORITY, this);
    if (thread < 0)
        return false;
    fThread = thread;
    resume_thread(fThread);
    return true;
}

void CWorkerThread::AskToEnd()
{
    if (Running())
        kill_thread(fThread);
}

void CWorkerThread::Join()
{
    if (!Running())
        return;
    // A killed caller gets B_INTERRUPTED at once, while the thread may still
    // use what the caller releases next; an ended thread's wait succeeds
    // even then, so it is asked again until it does.
    while (wait_for_thread(fThread, nullptr) == B_INTERRUPTED)
        std::this_thread::sleep_for(kKilledJoinStep);
    fThread = -1;
}

int32 CWorkerThread::ThreadWrapper(void* owner)
{
    return static_cast<CWorkerThread*>(owner)->fBody();
}
