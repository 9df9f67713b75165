#include "platform/kernel/OS.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace
{

// Waits (bounded) until `count` units are wanted by blocked waiters.
bool wait_for_waiters(sem_id sem, int32 wanted)
{
    for (int i = 0; i < 20000; i++) {
        int32 count = 0;
        if (get_sem_count(sem, &count) == B_OK && count == -wanted)
            return true;
        snooze(500);
    }
    return false;
}

struct acquire_job {
    sem_id sem;
    int32 count = 1;
    uint32 flags = 0;
    bigtime_t timeout = 0;
};

int32 acquire_thread(void* data)
{
    auto* job = static_cast<acquire_job*>(data);
    return acquire_sem_etc(job->sem, job->count, job->flags, job->timeout);
}

thread_id spawn_acquirer(acquire_job* job)
{
    thread_id thread = spawn_thread(acquire_thread, "acquirer", B_NORMAL_PRIORITY, job);
    EXPECT_GT(thread, 0);
    EXPECT_EQ(resume_thread(thread), B_OK);
    return thread;
}

status_t exit_of(thread_id thread)
{
    status_t exitValue = 12345;
    EXPECT_EQ(wait_for_thread(thread, &exitValue), B_OK);
    return exitValue;
}

} // namespace

TEST(Semaphore, CountsPollsAndTimesOut)
{
    sem_id sem = create_sem(2, "counting");
    ASSERT_GT(sem, 0);
    EXPECT_EQ(acquire_sem_etc(sem, 2, B_TIMEOUT, 0), B_OK);
    int32 count = -1;
    EXPECT_EQ(get_sem_count(sem, &count), B_OK);
    EXPECT_EQ(count, 0);

    // A zero relative timeout polls; a positive one waits that long at least.
    EXPECT_EQ(acquire_sem_etc(sem, 1, B_RELATIVE_TIMEOUT, 0), B_WOULD_BLOCK);
    bigtime_t start = system_time();
    EXPECT_EQ(acquire_sem_etc(sem, 1, B_RELATIVE_TIMEOUT, 20000), B_TIMED_OUT);
    EXPECT_GE(system_time() - start, 20000);

    // The absolute form takes a system_time() deadline; a past one polls.
    start = system_time();
    EXPECT_EQ(acquire_sem_etc(sem, 1, B_ABSOLUTE_TIMEOUT, start + 15000), B_TIMED_OUT);
    EXPECT_GE(system_time(), start + 15000);
    EXPECT_EQ(acquire_sem_etc(sem, 1, B_ABSOLUTE_TIMEOUT, start - 1), B_WOULD_BLOCK);

    EXPECT_EQ(release_sem_etc(sem, 3, 0), B_OK);
    EXPECT_EQ(acquire_sem_etc(sem, 3, B_ABSOLUTE_TIMEOUT, 0), B_OK);
    EXPECT_EQ(release_sem(sem), B_OK);
    EXPECT_EQ(acquire_sem(sem), B_OK);

    EXPECT_EQ(acquire_sem_etc(sem, 0, 0, 0), B_BAD_VALUE);
    EXPECT_EQ(release_sem_etc(sem, 0, 0), B_BAD_VALUE);
    EXPECT_EQ(release_sem_etc(sem, INT32_MAX, 0), B_OK);
    EXPECT_EQ(release_sem(sem), B_BAD_VALUE); // the count would overflow
    EXPECT_EQ(delete_sem(sem), B_OK);

    EXPECT_EQ(delete_sem(sem), B_BAD_SEM_ID);
    EXPECT_EQ(acquire_sem(sem), B_BAD_SEM_ID);
    EXPECT_EQ(release_sem(sem), B_BAD_SEM_ID);
    EXPECT_EQ(get_sem_count(sem, &count), B_BAD_SEM_ID);
    EXPECT_EQ(create_sem(-1, "negative"), B_BAD_VALUE);
    sem_id unnamed = create_sem(0, nullptr);
    EXPECT_GT(unnamed, 0);
    EXPECT_NE(unnamed, sem); // ids are not reused at once
    EXPECT_EQ(delete_sem(unnamed), B_OK);
}

TEST(Semaphore, ReleaseWakesWaitersInArrivalOrder)
{
    sem_id sem = create_sem(0, "queue");
    // A big request first, then a small one: the small one must not pass it.
    acquire_job big{sem, 3};
    thread_id first = spawn_acquirer(&big);
    ASSERT_TRUE(wait_for_waiters(sem, 3));
    acquire_job small{sem, 1};
    thread_id second = spawn_acquirer(&small);
    ASSERT_TRUE(wait_for_waiters(sem, 4));

    EXPECT_EQ(release_sem_etc(sem, 2, 0), B_OK);
    snooze(20000);
    int32 count = 0;
    EXPECT_EQ(get_sem_count(sem, &count), B_OK);
    EXPECT_EQ(count, -2); // both still wait (3, then 1): 2 units are held back for the first

    EXPECT_EQ(release_sem_etc(sem, 2, 0), B_OK);
    EXPECT_EQ(exit_of(first), B_OK);
    EXPECT_EQ(exit_of(second), B_OK);
    EXPECT_EQ(get_sem_count(sem, &count), B_OK);
    EXPECT_EQ(count, 0);

    // A waiter that times out leaves the queue and lets the next one in.
    acquire_job impatient{sem, 5, B_RELATIVE_TIMEOUT, 30000};
    thread_id third = spawn_acquirer(&impatient);
    ASSERT_TRUE(wait_for_waiters(sem, 5));
    acquire_job patient{sem, 1};
    thread_id fourth = spawn_acquirer(&patient);
    ASSERT_TRUE(wait_for_waiters(sem, 6));
    EXPECT_EQ(release_sem(sem), B_OK);
    EXPECT_EQ(exit_of(third), B_TIMED_OUT);
    EXPECT_EQ(exit_of(fourth), B_OK);
    EXPECT_EQ(delete_sem(sem), B_OK);
}

TEST(Semaphore, DeleteWakesEveryWaiterWithBadSemId)
{
    sem_id sem = create_sem(0, "doomed");
    acquire_job forever{sem, 1};
    acquire_job timed{sem, 2, B_RELATIVE_TIMEOUT, B_INFINITE_TIMEOUT};
    acquire_job absolute{sem, 1, B_ABSOLUTE_TIMEOUT, system_time() + 60000000};
    std::vector<thread_id> threads = {spawn_acquirer(&forever), spawn_acquirer(&timed),
                                      spawn_acquirer(&absolute)};
    ASSERT_TRUE(wait_for_waiters(sem, 4));
    EXPECT_EQ(delete_sem(sem), B_OK);
    for (thread_id thread : threads)
        EXPECT_EQ(exit_of(thread), B_BAD_SEM_ID);
}

namespace
{

std::atomic<int> sRuns;

int32 counting_thread(void* data)
{
    sRuns++;
    EXPECT_EQ(find_thread(nullptr), thread_id(gettid()));
    *static_cast<thread_id*>(data) = find_thread(nullptr);
    return 42;
}

} // namespace

TEST(Thread, SpawnsSuspendedResumesAndReportsItsExitStatus)
{
    sRuns = 0;
    thread_id self = 0;
    thread_id thread = spawn_thread(counting_thread, "counter thread", B_NORMAL_PRIORITY, &self);
    ASSERT_GT(thread, 0);
    EXPECT_EQ(find_thread("counter thread"), thread);
    snooze(20000);
    EXPECT_EQ(sRuns.load(), 0); // created suspended

    EXPECT_EQ(resume_thread(thread), B_OK);
    EXPECT_EQ(exit_of(thread), 42);
    EXPECT_EQ(sRuns.load(), 1);
    EXPECT_EQ(self, thread); // the id is the thread's Linux id
    EXPECT_EQ(find_thread("counter thread"), B_NAME_NOT_FOUND);
    EXPECT_EQ(wait_for_thread(thread, nullptr), B_BAD_THREAD_ID); // collected
    EXPECT_EQ(resume_thread(thread), B_BAD_THREAD_ID);
    EXPECT_EQ(kill_thread(thread), B_BAD_THREAD_ID);

    // Waiting for a thread that was never resumed starts it.
    thread = spawn_thread(counting_thread, "never resumed", B_NORMAL_PRIORITY, &self);
    EXPECT_EQ(exit_of(thread), 42);
    EXPECT_EQ(sRuns.load(), 2);

    EXPECT_EQ(find_thread(nullptr), thread_id(gettid()));
    EXPECT_EQ(wait_for_thread(find_thread(nullptr), nullptr), B_DONT_DO_THAT);
    EXPECT_EQ(spawn_thread(nullptr, "no function", B_NORMAL_PRIORITY, nullptr), B_BAD_VALUE);
}

namespace
{

int32 resume_twice_thread(void*)
{
    snooze(100000);
    return 7;
}

struct join_job {
    thread_id target;
    status_t exitValue = 0;
};

int32 joining_thread(void* data)
{
    auto* job = static_cast<join_job*>(data);
    return wait_for_thread(job->target, &job->exitValue);
}

} // namespace

TEST(Thread, SeveralThreadsWaitForOne)
{
    thread_id target = spawn_thread(resume_twice_thread, "target", B_NORMAL_PRIORITY, nullptr);
    EXPECT_EQ(resume_thread(target), B_OK);
    EXPECT_EQ(resume_thread(target), B_BAD_THREAD_STATE);
    join_job a{target}, b{target};
    thread_id ja = spawn_thread(joining_thread, "joiner a", B_NORMAL_PRIORITY, &a);
    thread_id jb = spawn_thread(joining_thread, "joiner b", B_NORMAL_PRIORITY, &b);
    resume_thread(ja);
    resume_thread(jb);
    EXPECT_EQ(exit_of(ja), B_OK);
    EXPECT_EQ(exit_of(jb), B_OK);
    EXPECT_EQ(a.exitValue, 7);
    EXPECT_EQ(b.exitValue, 7);
}

namespace
{

struct kill_job {
    sem_id sem = -1;
    std::atomic<bool> sawKill{false};
    thread_id waitFor = -1;
};

int32 blocked_on_sem(void* data)
{
    auto* job = static_cast<kill_job*>(data);
    status_t status = acquire_sem(job->sem);
    job->sawKill = has_kill_request();
    // A killed thread's later waits fail at once instead of blocking again.
    if (acquire_sem_etc(job->sem, 1, B_RELATIVE_TIMEOUT, 10000000) != B_INTERRUPTED)
        return B_ERROR;
    return status;
}

int32 snoozing(void* data)
{
    auto* job = static_cast<kill_job*>(data);
    status_t status = snooze(60000000);
    job->sawKill = has_kill_request();
    return status;
}

int32 waiting_for_thread(void* data)
{
    auto* job = static_cast<kill_job*>(data);
    return wait_for_thread(job->waitFor, nullptr);
}

int32 spinning_until_killed(void*)
{
    while (!has_kill_request())
        snooze(1000);
    return 5;
}

std::atomic<thread_id> sHookThread;
std::atomic<thread_id> sHookCaller;
std::atomic<void*> sHookCookie;

void record_hook(thread_id thread, void* cookie)
{
    sHookThread = thread;
    sHookCaller = find_thread(nullptr);
    sHookCookie = cookie;
}

sem_id sHookSet = -1;

int32 with_hook(void* data)
{
    set_thread_interrupt_hook(record_hook, data);
    release_sem(sHookSet);
    // Woken by the kill, it clears its hook at once: the hook must have run
    // by then.
    sem_id never = create_sem(0, "never");
    acquire_sem(never);
    delete_sem(never);
    set_thread_interrupt_hook(nullptr, nullptr);
    return 0;
}

} // namespace

TEST(Thread, KillInterruptsEveryKindOfWait)
{
    kill_job semJob;
    semJob.sem = create_sem(0, "never released");
    thread_id onSem = spawn_thread(blocked_on_sem, "on sem", B_NORMAL_PRIORITY, &semJob);
    resume_thread(onSem);
    ASSERT_TRUE(wait_for_waiters(semJob.sem, 1));
    EXPECT_EQ(kill_thread(onSem), B_OK);
    EXPECT_EQ(exit_of(onSem), B_INTERRUPTED);
    EXPECT_TRUE(semJob.sawKill);
    int32 count = -1;
    EXPECT_EQ(get_sem_count(semJob.sem, &count), B_OK);
    EXPECT_EQ(count, 0); // the killed waiter left the queue
    delete_sem(semJob.sem);

    kill_job snoozeJob;
    thread_id sleeper = spawn_thread(snoozing, "sleeper", B_NORMAL_PRIORITY, &snoozeJob);
    resume_thread(sleeper);
    snooze(20000);
    bigtime_t start = system_time();
    EXPECT_EQ(kill_thread(sleeper), B_OK);
    EXPECT_EQ(exit_of(sleeper), B_INTERRUPTED);
    EXPECT_LT(system_time() - start, 30000000); // not the full minute
    EXPECT_TRUE(snoozeJob.sawKill);

    // A thread waiting for another one is interrupted; the other goes on.
    thread_id spinner = spawn_thread(spinning_until_killed, "spinner", B_NORMAL_PRIORITY, nullptr);
    resume_thread(spinner);
    kill_job joinJob;
    joinJob.waitFor = spinner;
    thread_id joiner = spawn_thread(waiting_for_thread, "joiner", B_NORMAL_PRIORITY, &joinJob);
    resume_thread(joiner);
    snooze(20000);
    EXPECT_EQ(kill_thread(joiner), B_OK);
    EXPECT_EQ(exit_of(joiner), B_INTERRUPTED);
    EXPECT_EQ(kill_thread(spinner), B_OK);
    EXPECT_EQ(exit_of(spinner), 5);

    // Killed before it was resumed: the function never runs.
    sRuns = 0;
    thread_id self = 0;
    thread_id unstarted = spawn_thread(counting_thread, "unstarted", B_NORMAL_PRIORITY, &self);
    EXPECT_EQ(kill_thread(unstarted), B_OK);
    EXPECT_EQ(exit_of(unstarted), B_INTERRUPTED);
    EXPECT_EQ(sRuns.load(), 0);

    EXPECT_EQ(kill_thread(-1), B_BAD_THREAD_ID);
}

TEST(Thread, KillRunsTheTargetsInterruptHookOnTheKillersThread)
{
    for (int round = 0; round < 20; round++) {
        sHookThread = -1;
        int cookie = 0;
        sHookSet = create_sem(0, "hook set");
        thread_id thread = spawn_thread(with_hook, "hooked", B_NORMAL_PRIORITY, &cookie);
        resume_thread(thread);
        ASSERT_EQ(acquire_sem(sHookSet), B_OK);
        delete_sem(sHookSet);
        EXPECT_EQ(kill_thread(thread), B_OK);
        EXPECT_EQ(sHookThread.load(), thread);
        EXPECT_EQ(sHookCaller.load(), find_thread(nullptr));
        EXPECT_EQ(sHookCookie.load(), &cookie);
        EXPECT_EQ(exit_of(thread), 0);
    }
}

TEST(Time, SystemTimeIsMonotonicMicrosecondsAndSnoozeSleeps)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    bigtime_t before = bigtime_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
    bigtime_t t1 = system_time();
    EXPECT_GE(t1, before);
    EXPECT_LT(t1 - before, 10000000);

    EXPECT_EQ(snooze(20000), B_OK);
    bigtime_t t2 = system_time();
    EXPECT_GE(t2 - t1, 20000);

    EXPECT_EQ(snooze_until(t2 + 15000, B_SYSTEM_TIMEBASE), B_OK);
    EXPECT_GE(system_time(), t2 + 15000);
    EXPECT_EQ(snooze_until(t2 - 1000, B_SYSTEM_TIMEBASE), B_OK); // already past
    EXPECT_EQ(snooze_until(t2, 1), B_BAD_VALUE);
    EXPECT_EQ(snooze(-1), B_BAD_VALUE);
}

TEST(SystemInfo, ReportsTheProcessors)
{
    system_info info;
    ASSERT_EQ(get_system_info(&info), B_OK);
    EXPECT_EQ(info.cpu_count, int32(sysconf(_SC_NPROCESSORS_ONLN)));
    EXPECT_NE(info.cpu_revision, 0); // the processor signature
    EXPECT_GT(info.max_pages, 0);
    EXPECT_EQ(get_system_info(nullptr), B_BAD_VALUE);
}
