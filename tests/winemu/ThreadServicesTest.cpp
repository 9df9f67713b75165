// Threads, events, semaphores, critical sections, TLS and the clock, as
// threads.dll uses them from module code through the import table.
#include "ModuleFixture.h"

#include "winemu/cpu/ModuleLimits.h"
#include "winemu/kernel32/KernelObjects.h"
#include "winemu/kernel32/SyncServices.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace
{

constexpr uint32 kUnwritten = 0xCCCCCCCC;

struct scenario {
    std::vector<uint32> r; // what the module wrote
    std::string errors;    // what went to stderr meanwhile
};

size_t count_lines(const std::string& text, const std::string& line)
{
    size_t count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        count++;
    return count;
}

std::string report(int line, const char* condition)
{
    return "pe_patches:" + std::to_string(line) + ": assertion failed: " + condition + "\n";
}

} // namespace

class ThreadModuleTest : public ModuleTest
{
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        fModule = Load("threads.dll");
        ASSERT_NE(fModule, nullptr);
    }

    // Calls `function`(results, extra...) and returns the results.
    scenario Run(const char* function, size_t count, std::vector<uint32> extra = {})
    {
        uint32* results = static_cast<uint32*>(module_malloc(count * 4));
        std::fill(results, results + count, kUnwritten);
        std::vector<uint32> args = {module_address(results)};
        args.insert(args.end(), extra.begin(), extra.end());
        testing::internal::CaptureStderr();
        status_t status = call_module(Export(fModule, function), args.data(), args.size(), nullptr);
        scenario out{std::vector<uint32>(results, results + count),
                     testing::internal::GetCapturedStderr()};
        EXPECT_EQ(status, B_OK) << function;
        module_free(results);
        return out;
    }

    pe_add_on_t* fModule = nullptr;
};

TEST_F(ThreadModuleTest, EventsCountSetsAndTimeOut)
{
    scenario s = Run("Events", 20);
    const std::vector<uint32>& r = s.r;
    EXPECT_EQ(r[0], 1u);
    // New, unsignalled: a zero timeout fails at once; one set, one wait.
    EXPECT_EQ(r[1], kWaitTimeout);
    EXPECT_EQ(r[2], 1u);
    EXPECT_EQ(r[3], kWaitObject0);
    EXPECT_EQ(r[4], kWaitTimeout);
    // Two sets, two waits.
    EXPECT_EQ(r[5], kWaitObject0);
    EXPECT_EQ(r[6], kWaitObject0);
    EXPECT_EQ(r[7], kWaitTimeout);
    // Created signalled: one wait.
    EXPECT_EQ(r[8], kWaitObject0);
    EXPECT_EQ(r[9], kWaitTimeout);
    // 50 ms on an unsignalled event.
    EXPECT_EQ(r[10], kWaitTimeout);
    EXPECT_GE(r[11], 50000u);
    // Set by another module thread while this one waits without limit.
    EXPECT_EQ(r[12], kWaitObject0);
    EXPECT_GE(r[13], 10000u);
    EXPECT_EQ(r[14], kWaitObject0);
    // CloseHandle succeeds and ends nothing.
    EXPECT_EQ(r[15], 1u);
    EXPECT_EQ(r[16], 1u);
    EXPECT_EQ(r[17], kWaitObject0);
    // A BOOL of -1 is one signal, not a failure.
    EXPECT_EQ(r[18], kWaitObject0);
    EXPECT_EQ(r[19], kWaitTimeout);
    EXPECT_EQ(s.errors, "");
}

TEST_F(ThreadModuleTest, SemaphoresCountWithoutAMaximum)
{
    scenario s = Run("Semaphores", 19);
    const std::vector<uint32>& r = s.r;
    EXPECT_EQ(r[0], 1u);
    EXPECT_EQ(r[1], kWaitObject0);
    EXPECT_EQ(r[2], kWaitObject0);
    EXPECT_EQ(r[3], kWaitTimeout);
    // Released by 3 although the maximum was 1.
    EXPECT_EQ(r[4], 1u);
    EXPECT_EQ(r[5], kWaitObject0);
    EXPECT_EQ(r[6], kWaitObject0);
    EXPECT_EQ(r[7], kWaitObject0);
    EXPECT_EQ(r[8], kWaitTimeout);
    EXPECT_EQ(r[9], kWaitTimeout);
    EXPECT_GE(r[10], 50000u);
    // Released from another module thread during a finite wait.
    EXPECT_EQ(r[11], kWaitObject0);
    EXPECT_GE(r[12], 10000u);
    EXPECT_EQ(r[13], kWaitObject0);
    // A negative initial count makes nothing; counts below 1 release nothing.
    EXPECT_EQ(r[14], 0u);
    EXPECT_EQ(r[15], 0u);
    EXPECT_EQ(r[16], 0u);
    EXPECT_EQ(r[17], kWaitTimeout);
    EXPECT_EQ(r[18], 1u);
    EXPECT_EQ(s.errors, "");
}

TEST_F(ThreadModuleTest, ThreadsRunTheStartRoutineOnAThreadOfTheirOwn)
{
    scenario s = Run("Threads", 20);
    const std::vector<uint32>& r = s.r;
    EXPECT_EQ(r[0], 1u);
    EXPECT_NE(r[1], 0u);
    EXPECT_EQ(r[2], uint32(find_thread(nullptr)));
    EXPECT_NE(r[1], r[2]);
    EXPECT_EQ(r[3], kWaitObject0);
    // The routine ran on the thread whose id CreateThread stored, and got
    // its parameter.
    EXPECT_EQ(r[4], r[1]);
    EXPECT_EQ(r[5], 0x1234u);
    EXPECT_EQ(r[6], kWaitObject0);
    EXPECT_EQ(r[7], 1u);
    // Without an id pointer.
    EXPECT_EQ(r[8], 1u);
    EXPECT_EQ(r[9], kWaitObject0);
    EXPECT_EQ(r[10], 7u);
    // The routine's result is the platform thread's exit status.
    status_t exit = B_ERROR;
    EXPECT_EQ(wait_for_thread(thread_id(r[11]), &exit), B_OK);
    EXPECT_EQ(exit, 0x42);
    // Created suspended: has an id, never runs; killed, it ends unrun.
    EXPECT_EQ(r[12], 1u);
    EXPECT_NE(r[13], 0u);
    EXPECT_EQ(r[14], 0u);
    EXPECT_EQ(kill_thread(thread_id(r[13])), B_OK);
    EXPECT_EQ(wait_for_thread(thread_id(r[13]), &exit), B_OK);
    EXPECT_EQ(exit, B_INTERRUPTED);
    EXPECT_EQ(Call(fModule, "SuspendedRan"), 0u);
    // A 10 ms wait for a thread that sleeps 60 ms: reported, and it lasts
    // to the thread's end.
    EXPECT_EQ(r[15], kWaitObject0);
    EXPECT_GE(r[16], 30000u);
    EXPECT_EQ(s.errors, report(671, "in_timeout==INFINITE"));
    // Two threads waited for a third.
    EXPECT_EQ(r[17], kWaitObject0);
    EXPECT_EQ(r[18], kWaitObject0);
    EXPECT_EQ(r[19], kWaitObject0);
}

TEST_F(ThreadModuleTest, ThreadsThatFailEndWithTheFailure)
{
    // A thread waiting for its own end would never end: the wait fails.
    thread_id thread = thread_id(Call(fModule, "StartSelfWaiter"));
    ASSERT_GT(thread, 0);
    status_t exit = B_OK;
    EXPECT_EQ(wait_for_thread(thread, &exit), B_OK);
    EXPECT_EQ(uint32(exit), kWaitFailed);
    // A routine that faults ends its thread with the call's status.
    testing::internal::CaptureStderr();
    thread = thread_id(Call(fModule, "StartFaulting"));
    ASSERT_GT(thread, 0);
    EXPECT_EQ(wait_for_thread(thread, &exit), B_OK);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(exit, B_BAD_ADDRESS);
    EXPECT_TRUE(errors.starts_with("module fault in 'threads.dll' at 0x")) << errors;
    EXPECT_NE(errors.find(": read of unmapped address 0x00000000\n"), std::string::npos);
}

TEST_F(ThreadModuleTest, CriticalSectionsAreRecursiveAndExclusive)
{
    scenario s = Run("CriticalSections", 9);
    const std::vector<uint32>& r = s.r;
    // Only the sixth word is written, with a token that is no module
    // address: the lock itself is out of the module's reach.
    EXPECT_EQ(r[0], 1u);
    EXPECT_FALSE(is_module_range(r[1], 0));
    // Entered twice; the other thread waits until both leaves.
    EXPECT_EQ(r[2], 0u);
    EXPECT_EQ(r[3], 0u);
    EXPECT_EQ(r[4], kWaitObject0);
    EXPECT_EQ(r[5], 1u);
    // Two threads, 2000 guarded increments each, none lost.
    EXPECT_EQ(r[6], 4000u);
    // Deleting leaves the words as they were.
    EXPECT_EQ(r[7], r[1]);
    EXPECT_EQ(r[8], 0xA0A0A000u);
    EXPECT_EQ(s.errors, "");
}

TEST_F(ThreadModuleTest, TlsValuesArePerThread)
{
    scenario s = Run("Tls", 14);
    const std::vector<uint32>& r = s.r;
    ASSERT_LT(r[0], uint32(B_TLS_SLOT_COUNT));
    EXPECT_EQ(r[1], 1u);
    EXPECT_EQ(r[2], 0x1111u);
    // The new thread starts with nothing and keeps its own value, which its
    // module code also sees through FS.
    EXPECT_EQ(r[3], 0u);
    EXPECT_EQ(r[4], 1u);
    EXPECT_EQ(r[5], 0x2222u);
    EXPECT_EQ(r[6], 0x2222u);
    EXPECT_EQ(r[7], 0x1111u);
    EXPECT_EQ(r[8], 0x1111u);
    EXPECT_EQ(r[9], 1u);
    // Freed by the module: no longer in use.
    EXPECT_EQ(tls_address(int32(r[0])), nullptr);
    // Indexes that were never allocated.
    EXPECT_EQ(r[10], 0u);
    EXPECT_EQ(r[11], 0u);
    EXPECT_EQ(r[12], 0u);
    EXPECT_EQ(r[13], 0u);
}

TEST_F(ThreadModuleTest, TlsAllocFailsWithOutOfIndexesWhenNoSlotIsLeftForTheModule)
{
    uint32* last = static_cast<uint32*>(module_calloc(1, 4));
    ASSERT_NE(last, nullptr);
    // The module's share used up.
    EXPECT_EQ(Call(fModule, "AllocateAllSlots", {module_address(last)}),
              uint32(kModuleTlsSlotLimit));
    EXPECT_EQ(*last, 0xFFFFFFFFu);
    // The process's slots used up.
    ASSERT_EQ(pe_unload_add_on(fModule), B_OK);
    fModule = Load("threads.dll");
    ASSERT_NE(fModule, nullptr);
    std::vector<int32> taken;
    for (int32 slot; (slot = tls_allocate()) >= 0;)
        taken.push_back(slot);
    EXPECT_EQ(Call(fModule, "AllocateAllSlots", {module_address(last)}), 0u);
    EXPECT_EQ(*last, 0xFFFFFFFFu);
    for (int32 slot : taken)
        tls_free(slot);
    module_free(last);
}

TEST_F(ThreadModuleTest, ClockIsTheSystemTimeInMicroseconds)
{
    bigtime_t before = system_time();
    scenario s = Run("Clock", 13);
    bigtime_t after = system_time();
    const std::vector<uint32>& r = s.r;
    EXPECT_EQ(r[0], 1u);
    EXPECT_EQ(r[1], 1000000u);
    EXPECT_EQ(r[2], 0u);
    EXPECT_EQ(r[3], 1u);
    uint64 counter = uint64(r[6]) << 32 | r[5];
    uint64 later = uint64(r[8]) << 32 | r[7];
    EXPECT_GE(counter, uint64(before));
    EXPECT_LE(counter, later);
    EXPECT_LE(later, uint64(after));
    // timeGetTime is the same clock in milliseconds, taken in between.
    EXPECT_GE(r[4], uint32(counter / 1000));
    EXPECT_LE(r[4], uint32(later / 1000));
    EXPECT_GE(r[9], 20000u);
    EXPECT_GE(r[10], 19u);
    EXPECT_EQ(r[11], 1u);
    EXPECT_EQ(r[12], 1u);
}

TEST_F(ThreadModuleTest, BadHandlesAndPointersFailAndTouchNothingElse)
{
    sem_id host = create_sem(0, "not the module's");
    ASSERT_GE(host, 0);
    scenario s = Run("BadArguments", 28, {uint32(host)});
    const std::vector<uint32>& r = s.r;
    // Wrong kinds: nothing is released.
    EXPECT_EQ(r[0], 0u);
    EXPECT_EQ(r[1], 0u);
    EXPECT_EQ(r[2], kWaitTimeout);
    EXPECT_EQ(r[3], 0u);
    EXPECT_EQ(r[4], kWaitTimeout);
    // A previous-count pointer: reported, not written, released anyway.
    EXPECT_EQ(r[5], 1u);
    EXPECT_EQ(r[6], 0x5555u);
    EXPECT_EQ(r[7], kWaitObject0);
    // Forged objects reach nothing.
    EXPECT_EQ(r[8], kWaitFailed);
    EXPECT_EQ(r[9], 0u);
    EXPECT_EQ(r[10], 0u);
    int32 count = -1;
    EXPECT_EQ(get_sem_count(host, &count), B_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(r[11], kWaitFailed);
    EXPECT_EQ(r[12], kWaitFailed);
    EXPECT_EQ(r[13], kWaitFailed);
    EXPECT_EQ(r[14], kWaitFailed);
    EXPECT_EQ(r[15], 0u);
    EXPECT_EQ(r[16], 0u);
    // Bad pointers fail the call; nothing is made or written.
    for (int i = 17; i <= 21; i++)
        EXPECT_EQ(r[i], 0u) << i;
    EXPECT_EQ(r[22], 0x7777u);
    EXPECT_EQ(r[23], 0u);
    EXPECT_EQ(r[24], 0u);
    EXPECT_EQ(r[25], 0u);
    // A thread waiting for a section that was deleted gives up.
    EXPECT_EQ(r[26], kWaitObject0);
    EXPECT_EQ(r[27], 1u);
    EXPECT_EQ(delete_sem(host), B_OK);

    // Each misuse is one report line.
    EXPECT_EQ(count_lines(s.errors, report(690, "data[0]=='EVNT'")), 3u) << s.errors;
    EXPECT_EQ(count_lines(s.errors, report(1049, "data[0]=='SEMA'")), 2u) << s.errors;
    EXPECT_EQ(count_lines(s.errors, report(1046, "lpPreviousCount==NULL")), 1u) << s.errors;
    EXPECT_EQ(count_lines(s.errors, "assertion failed: lpCriticalSection!=NULL\n"), 4u) << s.errors;
    // The holder of a deleted section may still leave it (and so free it).
    EXPECT_EQ(count_lines(s.errors, "assertion failed: locker!=NULL\n"), 5u) << s.errors;
    EXPECT_EQ(std::count(s.errors.begin(), s.errors.end(), '\n'), 15) << s.errors;
}

TEST_F(ThreadModuleTest, EveryRowRemovesExactlyItsArguments)
{
    // Called with zero arguments, which every row must survive.
    testing::internal::CaptureStderr();
    EXPECT_EQ(Call(fModule, "StackEffects"), 0u);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_lines(errors, "assertion failed: lpCriticalSection!=NULL\n"), 4u) << errors;
}

TEST_F(ThreadModuleTest, KillThreadStopsModuleThreadsWhereverTheyAre)
{
    const char* kinds[] = {
        "waiting for an event",    "waiting for a semaphore", "waiting for a thread", "sleeping",
        "entering a held section", "spinning without calls",  "spinning with calls"};
    for (uint32 kind = 0; kind < std::size(kinds); kind++) {
        thread_id thread = thread_id(Call(fModule, "StartBlocked", {kind}));
        ASSERT_GT(thread, 0) << kinds[kind];
        // Until the thread is seen waiting in its semaphore where that can
        // be seen, else for a while.
        uint32 handle = Call(fModule, "BlockedOn");
        if (kernel_record* record = find_kernel_object(handle)) {
            int32 count = 0;
            while (get_sem_count(record->id, &count) == B_OK && count >= 0)
                snooze(1000);
        } else {
            snooze(50000);
        }
        EXPECT_EQ(kill_thread(thread), B_OK) << kinds[kind];
        status_t exit = B_OK;
        EXPECT_EQ(wait_for_thread(thread, &exit), B_OK) << kinds[kind];
        EXPECT_EQ(exit, B_INTERRUPTED) << kinds[kind];
        if (thread_id helper = thread_id(Call(fModule, "Helper")); helper > 0) {
            EXPECT_EQ(kill_thread(helper), B_OK);
            EXPECT_EQ(wait_for_thread(helper, &exit), B_OK);
            EXPECT_EQ(exit, B_INTERRUPTED);
        }
    }
    // The caller's own module code still runs.
    EXPECT_EQ(Call(fModule, "SuspendedRan"), 0u);
}

TEST_F(ThreadModuleTest, AModulesThreadsEndWhenItsLastCopyUnloads)
{
    // Threads that would never end by themselves: waiting, sleeping,
    // spinning in module code. They must not outlive the code they run.
    std::vector<thread_id> threads;
    for (uint32 kind : {0u, 3u, 5u}) {
        threads.push_back(thread_id(Call(fModule, "StartBlocked", {kind})));
        ASSERT_GT(threads.back(), 0);
    }
    snooze(50000);
    ASSERT_EQ(pe_unload_add_on(fModule), B_OK);
    fModule = nullptr;
    for (thread_id thread : threads) {
        status_t exit = B_OK;
        EXPECT_EQ(wait_for_thread(thread, &exit), B_OK);
        EXPECT_EQ(exit, B_INTERRUPTED);
    }
}
