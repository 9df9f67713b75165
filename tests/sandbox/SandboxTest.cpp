// A hostile module (tests/modules/hostile.c) against the host: whatever it
// writes into its own memory and whatever it passes, host memory outside the
// module window stays as it was, its calls fail or end as faults, and the
// host, the module heap and other modules go on working.
#include "ModuleFixture.h"

#include "platform/kernel/OS.h"
#include "winemu/cpu/ModuleLimits.h"
#include "winemu/loader/ImportTable.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace
{

size_t count_lines(const std::string& text, const std::string& line)
{
    size_t count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        count++;
    return count;
}

class SandboxTest : public ModuleTest
{
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        fModule = Load("hostile.dll");
        ASSERT_NE(fModule, nullptr);
        fResults = module_pointer<uint32>(Call(fModule, "Results"), 32);
        ASSERT_NE(fResults, nullptr);
    }

    // Calls an export that may end as a fault; its status.
    status_t Run(const char* name, std::initializer_list<uint32> args = {},
                 uint32* result = nullptr)
    {
        return call_module(Export(fModule, name), args, result);
    }

    // The thunk of the row named `name`; 0 when there is none.
    static uint32 Thunk(const char* name)
    {
        for (uint32 i = 0; const import_entry* entry = import_entry_at(i); i++) {
            if (strcmp(entry->name, name) == 0)
                return import_thunk_base() + i * kThunkSize;
        }
        return 0;
    }

    pe_add_on_t* fModule = nullptr;
    const uint32* fResults = nullptr;
};

// In the argument lists of EdgeRace: text ending at the window's edge, and
// a scratch block.
constexpr uint32 kEdgeText = 0xE0E0E0E0;
constexpr uint32 kScratch = 0xE0E0E0E1;

// Host memory of every kind the process has: the host heap, static data and
// the stack.
uint8 sStaticCanary[4096];

} // namespace

TEST_F(SandboxTest, WhateverTheModuleWritesAndPassesHostMemoryStaysIntact)
{
    std::vector<uint8> heapCanary(1 << 20, 0x5C);
    uint8 stackCanary[4096];
    std::fill(std::begin(stackCanary), std::end(stackCanary), 0xC5);
    std::fill(std::begin(sStaticCanary), std::end(sStaticCanary), 0x3A);

    // The registry's complaints about forged keys go to stdout.
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    uint32 values = 0;
    ASSERT_EQ(Run("Prepare", {}, &values), B_OK);
    ASSERT_GT(values, 0u);
    uint32 done = 0;
    ASSERT_EQ(Run("Scribble", {}, &done), B_OK);
    EXPECT_EQ(done, 1u);
    const uint32* r = fResults;
    // Frees of anything but a live block's start fail, a second free too.
    EXPECT_EQ(r[0], 0u);
    EXPECT_EQ(r[1], 0u);
    EXPECT_EQ(r[2], 1u);
    EXPECT_EQ(r[3], 0u);
    EXPECT_EQ(r[4], 0xFFFFFFFFu);
    EXPECT_EQ(r[5], 0u);
    EXPECT_EQ(r[6], 0u);
    EXPECT_EQ(r[7], kModuleSpaceEnd - 16);
    // Scribbled over, the heap still gives out sound blocks.
    EXPECT_EQ(r[8], 1u);
    // A section holds a token that is no module address.
    EXPECT_FALSE(is_module_range(r[9], 0));
    // With thread and process blocks overwritten, the last error, TLS and
    // the heap still work.
    EXPECT_EQ(r[12], 1234u);
    EXPECT_EQ(r[13], 0x1234u);
    EXPECT_EQ(r[14], 1u);

    // Every replacement with every hostile value in every position; those
    // that wait, sleep, load, end the call or show something are left out.
    const std::set<std::string> skipped = {"Sleep",
                                           "WaitForSingleObject",
                                           "EnterCriticalSection",
                                           "CreateThread",
                                           "LoadLibraryA",
                                           "FreeLibrary",
                                           "MessageBoxA",
                                           "abort",
                                           "_purecall",
                                           "_assert",
                                           "qsort"};
    int rows = 0;
    int ended = 0;
    for (uint32 i = 0;; i++) {
        const import_entry* entry = import_entry_at(i);
        if (entry == nullptr)
            break;
        if (entry->invoke == nullptr || skipped.count(entry->name) != 0)
            continue;
        uint32 words = entry->argumentBytes > 0 ? entry->argumentBytes / 4 : 8;
        // Text the calls may have left unended is ended again.
        ASSERT_EQ(Run("Refresh"), B_OK);
        status_t status = Run("CallRow", {import_thunk_base() + i * kThunkSize, words});
        EXPECT_TRUE(status == B_OK || status == B_BAD_ADDRESS) << entry->name;
        rows++;
        ended += status != B_OK;
    }
    EXPECT_GT(rows, 200);

    // Writing the import thunks faults; they stay as they were.
    EXPECT_EQ(Run("WriteThunks"), B_BAD_ADDRESS);
    std::string errors = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    EXPECT_NE(errors.find("module fault in 'hostile.dll' at 0x"), std::string::npos);
    EXPECT_NE(errors.find(": write of unmapped address 0x7fff"), std::string::npos) << errors;
    printf("%d rows called, %d of them ended as faults\n", rows, ended);

    EXPECT_TRUE(
        std::all_of(heapCanary.begin(), heapCanary.end(), [](uint8 b) { return b == 0x5C; }));
    EXPECT_TRUE(std::all_of(std::begin(stackCanary), std::end(stackCanary),
                            [](uint8 b) { return b == 0xC5; }));
    EXPECT_TRUE(std::all_of(std::begin(sStaticCanary), std::end(sStaticCanary),
                            [](uint8 b) { return b == 0x3A; }));

    // The heap, the module and another module go on working.
    void* block = module_malloc(1000);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(module_block_size(block), 1008u);
    EXPECT_TRUE(module_free(block));
    EXPECT_FALSE(module_free(block));
    EXPECT_EQ(Call(fModule, "Ping", {7}), 7u);
    pe_add_on_t* other = Load("callloop.dll");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(Call(other, "ThunkLoop", {10}), 0u);
    EXPECT_EQ(Call(other, "AllocateMany", {64}), 64u);
}

TEST_F(SandboxTest, EachLimitIsReportedOnceAndEndsTheCallAndTheHostGoesOn)
{
    // A copy of its own: registry data is counted by module name for the
    // process's life.
    ASSERT_EQ(pe_unload_add_on(fModule), B_OK);
    Copy("hostile.dll", "limits.dll");
    fModule = Load("limits.dll");
    ASSERT_NE(fModule, nullptr);
    fResults = module_pointer<uint32>(Call(fModule, "Results"), 32);
    ASSERT_NE(fResults, nullptr);
    const std::string name = "module 'limits.dll' went over its ";
    testing::internal::CaptureStderr();
    // Threads alive: the 65th is refused, and so is the next while they live.
    bigtime_t started = system_time();
    EXPECT_EQ(Run("ManyThreads", {1500}), B_BAD_ADDRESS);
    EXPECT_EQ(fResults[16], uint32(kModuleThreadLimit));
    EXPECT_EQ(Run("ManyThreads", {1500}), B_BAD_ADDRESS);
    EXPECT_EQ(fResults[16], 0u);
    // Registry: one value too big; then values until 16 MiB are used up.
    EXPECT_EQ(Run("RegistryFlood", {0}), B_BAD_ADDRESS);
    EXPECT_EQ(Run("RegistryFlood", {1}), B_BAD_ADDRESS);
    EXPECT_EQ(fResults[17], 16u);
    // Events, semaphores and critical sections alive.
    EXPECT_EQ(Run("ManyEvents"), B_BAD_ADDRESS);
    EXPECT_EQ(fResults[19], uint32(kModuleObjectLimit));
    // VirtualAlloc beyond 256 MiB.
    EXPECT_EQ(Run("HugeArea"), B_BAD_ADDRESS);
    // Calls nested through qsort's comparison: the outer call and the
    // sixteen below it run, the next is refused and the whole call ends.
    EXPECT_EQ(Run("DeepCalls"), B_BAD_ADDRESS);
    EXPECT_EQ(fResults[18], uint32(kModuleCallDepthLimit - 1));
    EXPECT_EQ(Call(fModule, "Ping", {9}), 9u);
    // The threads end as the module meant them to; only then is it unloaded.
    snooze_until(started + 2500000, B_SYSTEM_TIMEBASE);
    std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_EQ(count_lines(errors, name + "limit of 64 threads alive\n"), 1u) << errors;
    EXPECT_EQ(count_lines(errors, name + "limit of 1 MiB per registry value\n"), 1u) << errors;
    EXPECT_EQ(count_lines(errors, name + "limit of 16 MiB of registry data\n"), 1u) << errors;
    EXPECT_EQ(count_lines(errors, name + "limit of 256 MiB or 1024 areas from VirtualAlloc\n"), 1u)
        << errors;
    EXPECT_EQ(count_lines(errors, name + "limit of 16 nested calls\n"), 1u) << errors;
    EXPECT_EQ(
        count_lines(errors, name + "limit of 4096 events, semaphores and critical sections\n"), 1u)
        << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 6) << errors;
}

TEST_F(SandboxTest, TextEndingAtTheWindowsEdgeIsReadOnceWhileAnotherThreadChangesIt)
{
    // Each call takes text whose last byte, the window's last, another
    // module thread turns from NUL to a digit and back all the while. Text
    // read a second time after its NUL was found would run on past the
    // window.
    struct race {
        const char* row;
        std::vector<uint32> args;
    };
    const uint32 user = 0x80000001; // HKEY_CURRENT_USER
    const std::vector<race> races = {
        {"atoi", {kEdgeText}},
        {"atol", {kEdgeText}},
        {"strtol", {kEdgeText, kScratch, 10}},
        {"strtoul", {kEdgeText, kScratch, 0}},
        {"strtod", {kEdgeText, kScratch}},
        {"atof", {kEdgeText}},
        {"RegCreateKeyA", {user, kEdgeText, kScratch}},
        {"RegOpenKeyA", {user, kEdgeText, kScratch}},
        {"RegOpenKeyExA", {user, kEdgeText, 0, 0, kScratch}},
        {"RegSetValueExA", {user, kEdgeText, 0, 4, kScratch, 4}},
        {"RegQueryValueExA", {user, kEdgeText, 0, kScratch, 0, 0}},
        {"RegQueryValueA", {user, kEdgeText, 0, 0}},
        {"CreateEventA", {0, 0, 0, kEdgeText}},
        {"CreateSemaphoreA", {0, 0, 1, kEdgeText}},
        {"MultiByteToWideChar", {0, 0, kEdgeText, 0xFFFFFFFF, 0, 0}},
    };
    uint32* args = static_cast<uint32*>(module_calloc(10, 4));
    ASSERT_NE(args, nullptr);
    testing::internal::CaptureStdout();
    for (const race& r : races) {
        uint32 thunk = Thunk(r.row);
        ASSERT_NE(thunk, 0u) << r.row;
        std::copy(r.args.begin(), r.args.end(), args);
        // Text short enough for the names' own bounds, and long.
        for (uint32 length : {16u, 600u}) {
            uint32 rounds = 0;
            ASSERT_EQ(Run("EdgeRace",
                          {thunk, module_address(args), uint32(r.args.size()), length, 300},
                          &rounds),
                      B_OK)
                << r.row;
            EXPECT_EQ(rounds, 300u) << r.row;
        }
    }
    testing::internal::GetCapturedStdout();
    module_free(args);
    EXPECT_EQ(Call(fModule, "Ping", {5}), 5u);
}

TEST_F(SandboxTest, SortingElementsOfAnyWidthTakesLittleHostMemory)
{
    // Two elements of 768 MiB: the host may take no more than 64 MiB of
    // address space meanwhile. Both read as zeros, so nothing moves.
    const uint32 width = 0x30000000;
    long pages = 0;
    FILE* statm = fopen("/proc/self/statm", "r");
    ASSERT_NE(statm, nullptr);
    ASSERT_EQ(fscanf(statm, "%ld", &pages), 1);
    fclose(statm);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &before), 0);
    rlimit tight = before;
    tight.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (64u << 20);
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    uint32 compared = 0;
    status_t status = Run("Sort", {kModuleSpaceStart, 2, width}, &compared);
    setrlimit(RLIMIT_AS, &before);
    EXPECT_EQ(status, B_OK);
    EXPECT_EQ(compared, 1u);

    // Elements wider than the host's piece of them move whole: three keys
    // in a cycle (the last first), with bytes that tell each element apart.
    const uint32 wide = 1000;
    uint8* elements = static_cast<uint8*>(module_malloc(3 * wide));
    ASSERT_NE(elements, nullptr);
    const uint32 keys[3] = {3, 1, 2};
    for (uint32 e = 0; e < 3; e++) {
        for (uint32 i = 0; i < wide; i++)
            elements[e * wide + i] = uint8(keys[e] * 7 + i);
        memcpy(elements + e * wide, &keys[e], 4);
    }
    EXPECT_GT(Call(fModule, "Sort", {module_address(elements), 3, wide}), 0u);
    for (uint32 e = 0; e < 3; e++) {
        uint32 key = 0;
        memcpy(&key, elements + e * wide, 4);
        EXPECT_EQ(key, e + 1);
        for (uint32 i = 4; i < wide; i++)
            ASSERT_EQ(elements[e * wide + i], uint8(key * 7 + i)) << e << " " << i;
    }
    module_free(elements);
}

namespace
{

// The TLS slots nobody holds (taken and given back again).
int32 free_tls_slots()
{
    std::vector<int32> taken;
    for (int32 slot; (slot = tls_allocate()) >= 0;)
        taken.push_back(slot);
    for (int32 slot : taken)
        tls_free(slot);
    return int32(taken.size());
}

} // namespace

TEST_F(SandboxTest, TlsSlotsGoBackAndNoModuleTakesThemAll)
{
    const int32 available = free_tls_slots();
    ASSERT_GE(available, 2 * kModuleTlsSlotLimit + 1);
    // Taken and given back far more often than there are slots.
    EXPECT_EQ(Call(fModule, "TlsChurn", {1000}), 1000u);
    EXPECT_EQ(free_tls_slots(), available);
    // One module holds at most its share; another still gets its own.
    EXPECT_EQ(Call(fModule, "TlsHog"), uint32(kModuleTlsSlotLimit));
    pe_add_on_t* other = Load("threads.dll");
    ASSERT_NE(other, nullptr);
    uint32* last = static_cast<uint32*>(module_calloc(1, 4));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(Call(other, "AllocateAllSlots", {module_address(last)}), uint32(kModuleTlsSlotLimit));
    EXPECT_EQ(*last, 0xFFFFFFFFu);
    module_free(last);
    EXPECT_EQ(free_tls_slots(), available - 2 * kModuleTlsSlotLimit);
    // A module frees only its own slots.
    int32 host = tls_allocate();
    ASSERT_GE(host, 0);
    EXPECT_EQ(Call(fModule, "FreeSlot", {uint32(host)}), 0u);
    EXPECT_NE(tls_address(host), nullptr);
    EXPECT_TRUE(tls_free(host));
    // Unloaded modules' slots go back, though they never freed them.
    ASSERT_EQ(pe_unload_add_on(other), B_OK);
    ASSERT_EQ(pe_unload_add_on(fModule), B_OK);
    fModule = nullptr;
    EXPECT_EQ(free_tls_slots(), available);
}

TEST_F(SandboxTest, HeapBlocksAliveAreLimitedPerModule)
{
    pe_add_on_t* other = Load("callloop.dll");
    ASSERT_NE(other, nullptr);
    testing::internal::CaptureStderr();
    // Blocks without end: the one past the limit is refused and the call
    // ends; again, the first refused at once.
    EXPECT_EQ(Run("ManyBlocks"), B_BAD_ADDRESS);
    const uint32 made = fResults[21];
    EXPECT_EQ(made, uint32(kModuleHeapBlockLimit));
    // Another module and the host still get blocks.
    EXPECT_EQ(Call(other, "AllocateMany", {64}), 64u);
    void* host = module_malloc(16);
    EXPECT_NE(host, nullptr);
    module_free(host);
    // Freed, they can be made again.
    EXPECT_EQ(Call(fModule, "FreeBlocks"), made);
    EXPECT_EQ(Call(fModule, "Ping", {3}), 3u);
    EXPECT_EQ(Run("ManyBlocks"), B_BAD_ADDRESS);
    EXPECT_EQ(fResults[21], made);
    EXPECT_EQ(Call(fModule, "FreeBlocks"), made);
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count_lines(errors, "module 'hostile.dll' went over its limit of 262144 heap "
                                  "blocks alive\n"),
              1u)
        << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
}
