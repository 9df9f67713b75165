#include "ModuleFixture.h"

#include "platform/kernel/ModuleSpace.h"
#include "winemu/loader/ImportTable.h"

#include <algorithm>
#include <atomic>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{

// Runs `body` on a thread of its own (a fresh execution context).
template <typename F>
void on_new_thread(F body)
{
    std::thread thread(body);
    thread.join();
}

} // namespace

TEST_F(ModuleTest, ThunksKeepEachRowsStackEffect)
{
    pe_add_on_t* addOn = Load("callloop.dll");
    ASSERT_NE(addOn, nullptr);
    // stdcall rows remove exactly their bytes, cdecl rows none, 1000 times.
    EXPECT_EQ(Call(addOn, "ThunkLoop", {1000}), 0u);
    EXPECT_EQ(Call(addOn, "ImportCalls", {50}), 50u);
    EXPECT_EQ(Call(addOn, "AllocateMany", {64}), 64u);
    EXPECT_EQ(Call(addOn, "Identity", {0xFEEDF00D}), 0xFEEDF00Du);
}

TEST_F(ModuleTest, CallsNestThroughReplacementsAndComeBackIntact)
{
    pe_add_on_t* outer = Load("testdll.dll");
    ASSERT_NE(outer, nullptr);
    // Host -> testdll -> LoadLibraryA -> faults.dll's entry point, and back.
    uint32 name = heap_string("faults.dll");
    uint32 loaded = Call(outer, "Load", {name});
    pe_add_on_t* inner = pe_get_add_on_from_start(loaded);
    ASSERT_NE(inner, nullptr);
    EXPECT_STREQ(inner->name, "faults.dll");
    EXPECT_EQ(Call(outer, "Sum3", {4, 5, 6}), 15u);
    // GetProcAddress from module code finds exports of another module.
    uint32 symbol = heap_string("Divide");
    EXPECT_EQ(Call(outer, "Lookup", {loaded, symbol}), Export(inner, "Divide"));
    uint32 nothing = heap_string("NotThere");
    EXPECT_EQ(Call(outer, "Lookup", {loaded, nothing}), 0u);
    EXPECT_EQ(Call(outer, "Unload", {loaded}), 1u);
    EXPECT_EQ(pe_get_add_on_from_start(loaded), nullptr);
    // A fault deep inside a nested call fails only that call.
    Copy("faults.dll", "fault-attach.dll");
    uint32 faulty = heap_string("fault-attach.dll");
    testing::internal::CaptureStderr();
    EXPECT_EQ(Call(outer, "Load", {faulty}), 0u);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("module fault in 'fault-attach.dll'"), std::string::npos) << errors;
    EXPECT_EQ(Call(outer, "Sum3", {1, 1, 1}), 3u);
}

TEST_F(ModuleTest, FaultsEndTheCallWithOneLineNamingModuleAndAddress)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    struct {
        const char* function;
        std::vector<uint32> args;
        const char* expected;
    } cases[] = {
        {"ReadNull", {}, ": read of unmapped address 0x00000000\n"},
        {"WriteHigh", {}, ": write of unmapped address 0x90000000\n"},
        {"BadInstruction", {}, ": invalid instruction\n"},
        {"Divide", {1, 0}, ": processor exception 0\n"},
        {"JumpNowhere", {}, ": jump to unmapped address 0x00001234"},
        {"StrayInterrupt", {}, ": interrupt 0x80 outside an import thunk (eax 0x00000003)\n"},
        {"CallUnresolved", {}, ": call of unresolved import 'NoSuchFunction' (0xdead"},
        {"Recurse", {0}, ": stack overflow (0x"},
    };
    // Runaway recursion stops at the guard page below the stack and leaves
    // the memory below that alone.
    uint32 limit = Call(addOn, "ReadFs", {0x08});
    uint32* below = module_pointer<uint32>(limit - B_PAGE_SIZE - 4);
    ASSERT_NE(below, nullptr);
    *below = 0x5AFE5AFE;
    for (const auto& test : cases) {
        uint32 function = Export(addOn, test.function);
        testing::internal::CaptureStderr();
        status_t status = call_module(function, test.args.data(), test.args.size(), nullptr);
        std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, B_BAD_ADDRESS) << test.function;
        EXPECT_TRUE(errors.starts_with("module fault in 'faults.dll'")) << errors;
        EXPECT_NE(errors.find(test.expected), std::string::npos) << errors;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
        // The context goes on working after each fault.
        EXPECT_EQ(Call(addOn, "Divide", {84, 2}), 42u);
    }
    EXPECT_EQ(*below, 0x5AFE5AFEu);
    // The address named is inside the module's code.
    testing::internal::CaptureStderr();
    call_module(Export(addOn, "ReadNull"), {}, nullptr);
    std::string errors = testing::internal::GetCapturedStderr();
    unsigned long at = 0;
    ASSERT_EQ(sscanf(errors.c_str(), "module fault in 'faults.dll' at 0x%lx", &at), 1) << errors;
    EXPECT_GE(at, Export(addOn, "ReadNull"));
    EXPECT_LT(at, Export(addOn, "ReadNull") + 16);

    // Code outside any module is named as such; a call to address 0 faults.
    testing::internal::CaptureStderr();
    EXPECT_EQ(call_module(0, {}, nullptr), B_BAD_ADDRESS);
    errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(errors.starts_with("module fault in unknown code")) << errors;
}

TEST_F(ModuleTest, ThreadBlockIsReachedThroughFS)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    int32 slot = tls_allocate();
    ASSERT_GE(slot, 0);
    tls_set(slot, reinterpret_cast<void*>(0x1234));
    uint8* block = thread_block();
    ASSERT_NE(block, nullptr);
    uint32 self = module_address(block);
    EXPECT_EQ(Call(addOn, "ReadFs", {0x18}), self);
    EXPECT_EQ(Call(addOn, "ReadFs", {0x00}), 0xFFFFFFFFu);
    EXPECT_EQ(Call(addOn, "ReadFs", {0x24}), uint32(gettid()));
    uint32 slots = Call(addOn, "ReadFs", {0x2C});
    EXPECT_EQ(slots, self + kThreadBlockTLSSlots);
    EXPECT_EQ(*module_pointer<uint32>(slots + 4 * uint32(slot)), 0x1234u);
    EXPECT_EQ(Call(addOn, "ReadFs", {kThreadBlockTLSSlots + 4 * uint32(slot)}), 0x1234u);
    // The stack limits are this thread's module stack.
    uint32 base = Call(addOn, "ReadFs", {0x04});
    uint32 limit = Call(addOn, "ReadFs", {0x08});
    EXPECT_EQ(base - limit, 1024u * 1024u);

    // Another thread has a block and a value of its own.
    on_new_thread([&] {
        EXPECT_EQ(tls_get(slot), nullptr);
        uint32 result = 0;
        EXPECT_EQ(call_module(Export(addOn, "ReadFs"), {0x18}, &result), B_OK);
        EXPECT_NE(result, self);
        EXPECT_EQ(result, module_address(thread_block()));
    });
}

TEST_F(ModuleTest, CodeRewrittenAfterItRanRunsAsRewritten)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    EXPECT_EQ(Call(addOn, "RewrittenCode", {41}), 3u);
}

// A small loop runs several passes in one translated block: whichever pass
// it leaves from, its registers and flags are the module's own.
TEST_F(ModuleTest, ALoopLeftAfterAnyNumberOfPassesLeavesItsRegistersAndFlags)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    auto* out = static_cast<uint32*>(module_malloc(3 * sizeof(uint32)));
    ASSERT_NE(out, nullptr);
    uint32 sum = 0, carry = 0;
    for (uint32 passes = 1; passes <= 13; passes++) {
        carry = sum + 0x30000000u < sum;
        sum += 0x30000000u;
        ASSERT_EQ(call_module(Export(addOn, "CountedLoop"), {passes, module_address(out)}), B_OK);
        EXPECT_EQ(out[0], sum) << passes << " passes";
        EXPECT_EQ(out[1], 0u) << passes << " passes";
        // OF, SF, ZF, AF, PF and CF
        EXPECT_EQ(out[2] & 0x8D5u, 0x44u | carry) << passes << " passes";
    }
    // A fault on a later pass names the instruction that faulted.
    auto* table = static_cast<uint32*>(module_malloc(8 * sizeof(uint32)));
    ASSERT_NE(table, nullptr);
    for (uint32 i = 0; i < 8; i++)
        table[i] = i < 3 ? module_address(out) : i == 3 ? 0x90000000u : 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(call_module(Export(addOn, "ReadEach"), {module_address(table), module_address(out)}),
              B_BAD_ADDRESS);
    std::string errors = testing::internal::GetCapturedStderr();
    char expected[96];
    snprintf(expected, sizeof(expected), "at 0x%08x: read of unmapped address 0x90000000", out[0]);
    EXPECT_NE(errors.find(expected), std::string::npos) << errors;
    module_free(table);
    module_free(out);
}

TEST_F(ModuleTest, LongStraightLineX87BlockRuns)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    double* operands = static_cast<double*>(module_malloc(2 * sizeof(double)));
    ASSERT_NE(operands, nullptr);
    operands[0] = 1.5;
    operands[1] = 3.0;
    uint32 a = module_address(&operands[0]);
    // 120 rounds of five register instructions in one block: 120 * 4.5.
    EXPECT_EQ(Call(addOn, "LongX87Block", {a, a + 8}), 540u);
    module_free(operands);
}

TEST_F(ModuleTest, StopTakesEffectAtTheNextImportCall)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    uint32 spin = Export(addOn, "SpinWithImports");
    std::atomic<thread_id> worker{-1};
    std::atomic<status_t> status{B_OK};
    std::thread thread([&] {
        worker = thread_id(gettid());
        status = call_module(spin, {}, nullptr);
        // Killed for good: later calls do not run.
        status_t again = call_module(spin, {}, nullptr);
        EXPECT_EQ(again, B_INTERRUPTED);
        EXPECT_TRUE(module_stop_requested());
    });
    while (worker == -1)
        std::this_thread::yield();
    // Before the thread runs module code it has no context to stop; wait
    // until it has one.
    while (request_module_stop(worker) == B_BAD_THREAD_ID)
        std::this_thread::yield();
    thread.join();
    EXPECT_EQ(status, B_INTERRUPTED);
    EXPECT_FALSE(module_stop_requested());
}

TEST_F(ModuleTest, CodeThatNeverCallsOutIsStoppedFromOutsideAfterTheGracePeriod)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    uint32 spin = Export(addOn, "SpinForever");
    std::atomic<thread_id> worker{-1};
    std::atomic<bool> running{false};
    std::atomic<status_t> status{B_OK};
    std::thread thread([&] {
        worker = thread_id(gettid());
        // Make the context first, so the stop finds it.
        uint32 quotient = 0;
        EXPECT_EQ(call_module(Export(addOn, "Divide"), {9, 3}, &quotient), B_OK);
        running = true;
        status = call_module(spin, {}, nullptr);
    });
    while (!running)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(request_module_stop(worker), B_OK);
    thread.join();
    EXPECT_EQ(status, B_INTERRUPTED);
}

TEST_F(ModuleTest, ContextsOnManyThreadsRunIndependently)
{
    pe_add_on_t* addOn = Load("callloop.dll");
    ASSERT_NE(addOn, nullptr);
    uint32 loop = Export(addOn, "ThunkLoop");
    uint32 allocate = Export(addOn, "AllocateMany");
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 6; t++) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; i++) {
                uint32 wrong = 1, blocks = 0;
                if (call_module(loop, {50}, &wrong) != B_OK || wrong != 0)
                    failures++;
                if (call_module(allocate, {64}, &blocks) != B_OK || blocks != 64)
                    failures++;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
}

TEST_F(ModuleTest, CodeLoadedWhereOtherCodeRanIsNotStale)
{
    // Two different modules at the same address, one after the other, run
    // on the same context: the second must not run the first's translation.
    pe_add_on_t* first = Load("testdll.dll");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Call(first, "Sum3", {1, 2, 3}), 6u);
    pe_unload_add_on(first);
    EXPECT_EQ(pe_first_add_on(), nullptr); // its detach freed the helper
    pe_add_on_t* second = Load("relocated.dll");
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(second->image_base, 0x10000000u);
    EXPECT_EQ(Call(second, "SumThroughPointers"), 10u);
}

namespace
{

struct kill_test {
    uint32 function;
    std::atomic<bool> running{false};
    std::atomic<status_t> status{B_OK};
    status_t again = B_OK;
};

} // namespace

TEST_F(ModuleTest, KillThreadStopsModuleCode)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    for (const char* function : {"SpinWithImports", "SpinForever"}) {
        kill_test test;
        test.function = Export(addOn, function);
        thread_id thread = spawn_thread(
            [](void* cookie) -> int32 {
                kill_test* t = static_cast<kill_test*>(cookie);
                uint32 unused = 0;
                t->running = true;
                t->status = call_module(t->function, {}, &unused);
                t->again = call_module(t->function, {}, &unused);
                return 0;
            },
            "module runner", B_NORMAL_PRIORITY, &test);
        ASSERT_GE(thread, 0);
        ASSERT_EQ(resume_thread(thread), B_OK);
        while (!test.running)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(kill_thread(thread), B_OK);
        status_t exit = B_ERROR;
        EXPECT_EQ(wait_for_thread(thread, &exit), B_OK);
        EXPECT_EQ(test.status, B_INTERRUPTED) << function;
        EXPECT_EQ(test.again, B_INTERRUPTED) << function;
    }
}

TEST_F(ModuleTest, AThreadKilledBeforeItsFirstModuleCallRunsNone)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    kill_test test;
    test.function = Export(addOn, "SpinForever");
    thread_id thread = spawn_thread(
        [](void* cookie) -> int32 {
            kill_test* t = static_cast<kill_test*>(cookie);
            t->running = true;
            while (!has_kill_request())
                snooze(1000);
            t->status = call_module(t->function, {}, nullptr);
            return 0;
        },
        "killed early", B_NORMAL_PRIORITY, &test);
    ASSERT_GE(thread, 0);
    test.status = B_OK;
    resume_thread(thread);
    while (!test.running)
        std::this_thread::yield();
    kill_thread(thread);
    status_t exit;
    EXPECT_EQ(wait_for_thread(thread, &exit), B_OK);
    EXPECT_EQ(test.status, B_INTERRUPTED);
}

namespace
{

// Touch (faults.dll) kinds: byte, word and write, x87 load, SSE read and
// write of 16 bytes, x87 load computed in software.
enum {
    kTouchByte,
    kTouchWord,
    kTouchWrite,
    kTouchX87,
    kTouchSSE,
    kTouchSSEWrite,
    kTouchX87Software,
    kTouchX87Held,
    kTouchKinds
};

struct touch_result {
    status_t status;
    uint32 value;
    std::string errors;
};

touch_result touch(uint32 function, uint32 address, int kind)
{
    touch_result result{B_OK, 0, ""};
    testing::internal::CaptureStderr();
    result.status = call_module(function, {address, uint32(kind)}, &result.value);
    result.errors = testing::internal::GetCapturedStderr();
    return result;
}

std::string hex(uint32 value)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%08x", value);
    return text;
}

} // namespace

// Module code reads and writes module memory at the host's address, with
// no translation: an access inside the window works whether it is the
// page's first (which the emulator checks) or a later one (which it may
// run directly), crossing pages too; one that reaches a page the engine
// does not map faults as the module's own, reported as ever.
TEST_F(ModuleTest, AccessesWorkInsideTheWindowAndFaultOutsideItAsTheModulesOwn)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    uint32 function = Export(addOn, "Touch");
    uint8* block = static_cast<uint8*>(module_calloc(3, B_PAGE_SIZE));
    ASSERT_NE(block, nullptr);
    uint32 page = (module_address(block) + B_PAGE_SIZE - 1) & ~uint32(B_PAGE_SIZE - 1);
    for (uint32 round = 0; round < 3; round++) {
        for (uint32 address : {page + 64, page + B_PAGE_SIZE - 2, page + B_PAGE_SIZE - 9}) {
            SCOPED_TRACE(hex(address));
            uint8* host = reinterpret_cast<uint8*>(uintptr_t(address));
            for (int kind = 0; kind < kTouchKinds; kind++) {
                uint32 word = 0x01020304u * (round + 1) + uint32(kind);
                memset(host, 0xEE, 20);
                memcpy(host, &word, 4);
                touch_result got = touch(function, address, kind);
                ASSERT_EQ(got.status, B_OK) << kind << got.errors;
                EXPECT_EQ(got.errors, "");
                uint32 now = 0;
                memcpy(&now, host, 4);
                if (kind == kTouchWrite) {
                    EXPECT_EQ(now, 0x5AFE5AFEu);
                    EXPECT_EQ(host[4], 0xEE);
                } else if (kind == kTouchSSEWrite) {
                    EXPECT_TRUE(std::all_of(host, host + 16, [](uint8 b) { return b == 0; }));
                    EXPECT_EQ(host[16], 0xEE);
                } else {
                    EXPECT_EQ(got.value, kind == kTouchByte ? (word & 0xFF) : word) << kind;
                    EXPECT_EQ(now, word);
                }
            }
        }
    }
    module_free(block);

    // The window's last bytes are module memory; the page after it holds
    // the import thunks, which module code may read but never write.
    EXPECT_EQ(touch(function, kModuleSpaceEnd - 16, kTouchSSE).status, B_OK);
    EXPECT_EQ(touch(function, kModuleSpaceEnd - 4, kTouchX87).status, B_OK);
    EXPECT_EQ(touch(function, kModuleSpaceEnd - 2, kTouchWord).status, B_OK);
    for (int kind : {kTouchWrite, kTouchSSEWrite}) {
        touch_result got = touch(function, kModuleSpaceEnd - 2, kind);
        EXPECT_EQ(got.status, B_BAD_ADDRESS) << kind;
        EXPECT_NE(got.errors.find(": write of unmapped address 0x7fff"), std::string::npos)
            << got.errors;
    }

    // The page below the stack is the engine's own hole in the window:
    // whatever the kind, and crossing into it from either side, an access
    // there is a stack overflow, even after the page above it was run on
    // directly, and the memory below it stays as it was.
    uint32 limit = Call(addOn, "ReadFs", {0x08});
    uint32 guard = limit - B_PAGE_SIZE;
    uint32* below = module_pointer<uint32>(guard - 16);
    ASSERT_NE(below, nullptr);
    *below = 0x5AFE5AFE;
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(touch(function, limit + 16, kTouchWord).status, B_OK);
        EXPECT_EQ(touch(function, guard - 32, kTouchWord).status, B_OK);
    }
    for (int kind = 0; kind < kTouchKinds; kind++) {
        for (uint32 address : {guard + 8, limit - 2, guard - 2}) {
            if (kind == kTouchByte && address == guard - 2)
                continue; // a byte crosses nothing
            touch_result got = touch(function, address, kind);
            EXPECT_EQ(got.status, B_BAD_ADDRESS) << kind << " " << hex(address);
            EXPECT_NE(got.errors.find(": stack overflow (0x"), std::string::npos) << got.errors;
            EXPECT_EQ(std::count(got.errors.begin(), got.errors.end(), '\n'), 1) << got.errors;
        }
        touch_result exact = touch(function, guard + 8, kind);
        EXPECT_NE(exact.errors.find("stack overflow (" + hex(guard + 8) + ")"), std::string::npos)
            << exact.errors;
    }
    EXPECT_EQ(*below, 0x5AFE5AFEu);
    EXPECT_EQ(Call(addOn, "Divide", {84, 2}), 42u);
    EXPECT_EQ(touch(function, limit + 16, kTouchX87).status, B_OK); // the usual control word
}

// As in the codec host, whose window is readable and writable only where
// areas and the heap were handed out: module code that reaches anywhere
// else in it, read or write, even crossing from its own page, and memory
// it gave back, during the call or before it, faults as the module's own
// and the process goes on. (A child process: guarding is for good.)
TEST_F(ModuleTest, InAGuardedWindowMemoryNotHandedOutFaultsAsTheModulesOwn)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    fflush(stderr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failures = 0;
        auto check = [&failures](bool good, const std::string& what) {
            if (!good) {
                fprintf(stderr, "guarded window: %s\n", what.c_str());
                failures++;
            }
        };
        check(module_space_guard() == B_OK && install_module_fault_handler() == B_OK, "guard");
        uint32 function = Export(addOn, "Touch");
        // One page handed out with two that are not above it.
        void* address = nullptr;
        area_id wide = create_area("probe", &address, B_ANY_ADDRESS, 3 * B_PAGE_SIZE, B_NO_LOCK,
                                   B_READ_AREA | B_WRITE_AREA);
        check(wide >= 0 && delete_area(wide) == B_OK, "areas");
        area_id one = create_area("probe", &address, B_EXACT_ADDRESS, B_PAGE_SIZE, B_NO_LOCK,
                                  B_READ_AREA | B_WRITE_AREA);
        check(one >= 0, "area");
        uint32 page = module_address(address);
        for (int i = 0; i < 3; i++) {
            for (int kind = 0; kind < kTouchKinds; kind++)
                check(touch(function, page + 64, kind).status == B_OK, "handed out");
        }
        for (int kind = 0; kind < kTouchKinds; kind++) {
            for (uint32 at : {page + B_PAGE_SIZE + 64, page + B_PAGE_SIZE - 2}) {
                if (kind == kTouchByte && at == page + B_PAGE_SIZE - 2)
                    continue;
                touch_result got = touch(function, at, kind);
                const char* verb = kind == kTouchWrite || kind == kTouchSSEWrite ? "write" : "read";
                check(got.status == B_BAD_ADDRESS &&
                          got.errors.find(std::string(": ") + verb + " of unmapped address 0x") !=
                              std::string::npos &&
                          std::count(got.errors.begin(), got.errors.end(), '\n') == 1,
                      std::to_string(kind) + " at " + hex(at) + ": " + got.errors);
            }
        }
        // Outside the window, where nothing of the module's is (a null
        // pointer, the upper half, the last bytes below 4 GiB): reads
        // there may run with no check and fault on the host too.
        for (int kind = 0; kind < kTouchKinds; kind++) {
            if (kind == kTouchWrite || kind == kTouchSSEWrite)
                continue;
            for (uint32 at : {0x20u, 0x80001000u, 0xFFFFFFF8u}) {
                touch_result got = touch(function, at, kind);
                check(got.status == B_BAD_ADDRESS &&
                          got.errors.find(": read of unmapped address 0x") != std::string::npos,
                      "outside: " + std::to_string(kind) + " at " + hex(at) + ": " + got.errors);
            }
        }
        touch_result exact = touch(function, page + B_PAGE_SIZE + 64, kTouchWord);
        check(exact.errors.find("read of unmapped address " + hex(page + B_PAGE_SIZE + 64)) !=
                  std::string::npos,
              exact.errors);
        // Reads find no page lookup here: the host's fault on the page below
        // the stack is the module's stack overflow, and the host goes on.
        uint32 guard = Call(addOn, "ReadFs", {0x08}) - B_PAGE_SIZE;
        for (int kind = 0; kind < kTouchKinds; kind++) {
            touch_result got = touch(function, guard + 8, kind);
            check(got.status == B_BAD_ADDRESS &&
                      got.errors.find("stack overflow (" + hex(guard + 8) + ")") !=
                          std::string::npos,
                  "guard page: " + std::to_string(kind) + ": " + got.errors);
        }
        // Reads the bounds check sends to the slow path (the import thunks
        // above the window) get the module the thunks' bytes, x87 ones too,
        // whose instruction the slow path then runs on its own copy.
        touch_result thunks = touch(function, import_thunk_base() + 4, kTouchWord);
        check(thunks.status == B_OK && thunks.value != 0, "thunks: " + thunks.errors);
        for (int i = 0; i < 3; i++) {
            for (int kind : {kTouchX87, kTouchX87Software, kTouchX87Held}) {
                touch_result got = touch(function, import_thunk_base() + 4, kind);
                check(got.status == B_OK && got.value == thunks.value,
                      "thunks: " + std::to_string(kind) + ": " + hex(got.value) + " " + got.errors);
            }
        }
        // Deleted between calls, and given back inside one.
        check(delete_area(one) == B_OK, "delete");
        touch_result gone = touch(function, page + 64, kTouchWord);
        check(gone.status == B_BAD_ADDRESS && gone.errors.find("read of unmapped address " +
                                                               hex(page + 64)) != std::string::npos,
              "deleted: " + gone.errors);
        testing::internal::CaptureStderr();
        uint32 sum = 0;
        status_t freed = call_module(Export(addOn, "ReadAfterFree"), {}, &sum);
        std::string errors = testing::internal::GetCapturedStderr();
        check(freed == B_BAD_ADDRESS &&
                  errors.find(": read of unmapped address 0x") != std::string::npos,
              "given back: " + errors);
        uint32 quotient = 0;
        check(call_module(Export(addOn, "Divide"), {84, 2}, &quotient) == B_OK && quotient == 42,
              "goes on");
        fflush(stderr);
        _exit(failures);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A module told a processor feature is there finds it in CPUID too and can
// run it: modules of the era chose their code by either. Both tell the SIMD
// the emulator runs inline, and none it would run as helper calls.
TEST_F(ModuleTest, TheFeaturesReportedAreTheEmulatedProcessorsAndRun)
{
    pe_add_on_t* addOn = Load("faults.dll");
    ASSERT_NE(addOn, nullptr);
    uint32* out = static_cast<uint32*>(module_calloc(19, sizeof(uint32)));
    ASSERT_NE(out, nullptr);
    uint32 ran = Call(addOn, "Features", {module_address(out)});
    const struct {
        uint32 feature; // PF_...
        int leaf;       // 0: CPUID.1:EDX, 1: CPUID.80000001h:EDX, 18: CPUID.1:ECX
        uint32 bit;
    } features[] = {
        {2, 0, 8},   // CMPXCHG8B
        {3, 0, 23},  // MMX
        {6, 0, 25},  // SSE
        {7, 1, 31},  // 3DNow!
        {8, 0, 4},   // RDTSC
        {10, 0, 26}, // SSE2
        {13, 18, 0}, // SSE3
    };
    for (const auto& f : features) {
        if (out[2 + f.feature] == 0)
            continue;
        EXPECT_EQ(out[2 + f.feature], 1u) << f.feature;
        EXPECT_TRUE(out[f.leaf] & (1u << f.bit)) << "reported without CPUID: " << f.feature;
        EXPECT_TRUE(ran & (1u << f.feature)) << "did not run: " << f.feature;
    }
    // The emulated processor has no 3DNow! (its instructions are invalid).
    EXPECT_FALSE(out[1] & (1u << 31));
    EXPECT_EQ(out[2 + 7], 0u);
    EXPECT_EQ(out[2 + 2], 1u);
    EXPECT_EQ(out[2 + 3], 1u);
    EXPECT_EQ(out[2 + 6], 1u);
    EXPECT_EQ(out[2 + 10], 1u);
    EXPECT_EQ(out[2 + 13], 1u);
    // SSSE3, SSE4.1, SSE4.2 and POPCNT would run as helper calls.
    EXPECT_EQ(out[18] & ((1u << 9) | (1u << 19) | (1u << 20) | (1u << 23)), 0u);
    module_free(out);
}
