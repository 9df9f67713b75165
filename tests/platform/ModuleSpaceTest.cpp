#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace
{

void* at(uint32 address)
{
    return reinterpret_cast<void*>(uintptr_t(address));
}

} // namespace

TEST(ModuleSpace, IsReservedAndChecksRanges)
{
    ASSERT_EQ(module_space_init(), B_OK);
    EXPECT_TRUE(is_module_range(kModuleSpaceStart, 0));
    EXPECT_TRUE(is_module_range(kModuleSpaceEnd - 4, 4));
    EXPECT_FALSE(is_module_range(kModuleSpaceEnd - 4, 5));
    EXPECT_FALSE(is_module_range(kModuleSpaceStart - 1, 1));
    EXPECT_FALSE(is_module_range(0, 0));
    EXPECT_FALSE(is_module_range(0xFFFFFFFF, 0xFFFFFFFF));

    EXPECT_EQ(module_pointer<uint32>(0), nullptr);
    EXPECT_EQ(module_pointer<uint32>(kModuleSpaceEnd - 2), nullptr);
    EXPECT_EQ(module_pointer<uint32>(0x10000, 0x40000000), nullptr);
    EXPECT_EQ(module_pointer<uint32>(0x10000, SIZE_MAX / 2), nullptr);
    EXPECT_EQ(module_pointer<uint32>(0x20000, 4), at(0x20000));
    EXPECT_EQ(module_address(nullptr), 0u);
    int onHostStack = 0;
    EXPECT_EQ(module_address(&onHostStack), 0u);
    EXPECT_EQ(module_string(0x00001000), nullptr);

    // A string must end inside the window.
    void* last = nullptr;
    area_id area = create_area("end", &last, B_ANY_ADDRESS, B_PAGE_SIZE, B_NO_LOCK, 3);
    ASSERT_GE(area, 0);
    char* text = static_cast<char*>(last);
    strcpy(text, "inside");
    EXPECT_STREQ(module_string(module_address(text)), "inside");
    delete_area(area);
}

TEST(Areas, ExactAndAnyAddressesWithRoundedSizes)
{
    void* address = at(0x30000000);
    area_id exact = create_area("exact", &address, B_EXACT_ADDRESS, 5000, B_NO_LOCK,
                                B_READ_AREA | B_WRITE_AREA);
    ASSERT_GE(exact, 0);
    EXPECT_EQ(address, at(0x30000000));
    area_info info;
    ASSERT_EQ(get_area_info(exact, &info), B_OK);
    EXPECT_EQ(info.size, 8192u);
    EXPECT_STREQ(info.name, "exact");
    EXPECT_EQ(info.protection, uint32(B_READ_AREA | B_WRITE_AREA));

    // Overlapping the first page or the last one, or unaligned: refused.
    void* below = at(0x2FFFF000);
    EXPECT_EQ(create_area("overlap", &below, B_EXACT_ADDRESS, 4097, B_NO_LOCK, 3), B_NO_MEMORY);
    void* inside = at(0x30001000);
    EXPECT_EQ(create_area("overlap", &inside, B_EXACT_ADDRESS, 4096, B_NO_LOCK, 3), B_NO_MEMORY);
    void* unaligned = at(0x30100010);
    EXPECT_EQ(create_area("odd", &unaligned, B_EXACT_ADDRESS, 4096, B_NO_LOCK, 3), B_BAD_VALUE);
    void* outside = at(0x80000000);
    EXPECT_EQ(create_area("out", &outside, B_EXACT_ADDRESS, 4096, B_NO_LOCK, 3), B_BAD_VALUE);
    void* inHeap = at(kModuleHeapStart);
    EXPECT_EQ(create_area("heap", &inHeap, B_EXACT_ADDRESS, 4096, B_NO_LOCK, 3), B_BAD_VALUE);
    void* any = nullptr;
    EXPECT_EQ(create_area("zero", &any, B_ANY_ADDRESS, 0, B_NO_LOCK, 3), B_BAD_VALUE);
    EXPECT_EQ(create_area("kind", &any, 7, 4096, B_NO_LOCK, 3), B_BAD_VALUE);
    EXPECT_EQ(create_area("huge", &any, B_ANY_ADDRESS, size_t(1) << 33, B_NO_LOCK, 3), B_NO_MEMORY);

    // Protection is kept as given, even none.
    area_id none = create_area("none", &any, B_ANY_ADDRESS, 1, B_NO_LOCK, 0);
    ASSERT_GE(none, 0);
    ASSERT_EQ(get_area_info(none, &info), B_OK);
    EXPECT_EQ(info.protection, 0u);
    EXPECT_EQ(info.size, 4096u);
    EXPECT_TRUE(is_module_range(uint32(reinterpret_cast<uintptr_t>(any)), 4096));

    EXPECT_EQ(area_for(at(0x30000000)), exact);
    EXPECT_EQ(area_for(at(0x30001FFF)), exact);
    EXPECT_LT(area_for(at(0x30002000)), 0);
    EXPECT_LT(area_for(at(0x2FFFFFFF)), 0);
    EXPECT_LT(area_for(nullptr), 0);
    EXPECT_EQ(delete_area(exact), B_OK);
    EXPECT_EQ(delete_area(exact), B_BAD_VALUE);
    EXPECT_LT(area_for(at(0x30000000)), 0);
    EXPECT_EQ(get_area_info(exact, &info), B_BAD_VALUE);
    EXPECT_EQ(delete_area(none), B_OK);
}

TEST(Areas, ANewAreaReadsAsZerosWhereAnOldOneWas)
{
    void* address = at(0x31000000);
    area_id first = create_area("dirty", &address, B_EXACT_ADDRESS, 3 * 4096, B_NO_LOCK, 3);
    ASSERT_GE(first, 0);
    memset(address, 0xAB, 3 * 4096);
    uint64 generation = module_space_generation();
    ASSERT_EQ(delete_area(first), B_OK);
    EXPECT_EQ(module_space_generation(), generation + 1);
    std::vector<std::pair<uint32, uint32>> ranges;
    EXPECT_TRUE(module_space_deleted_ranges(
        generation,
        [](uint32 start, uint32 end, void* cookie) {
            static_cast<std::vector<std::pair<uint32, uint32>>*>(cookie)->push_back({start, end});
        },
        &ranges));
    ASSERT_EQ(ranges.size(), 1u);
    EXPECT_EQ(ranges[0], std::make_pair(0x31000000u, 0x31003000u));

    area_id second = create_area("clean", &address, B_EXACT_ADDRESS, 3 * 4096, B_NO_LOCK, 3);
    ASSERT_GE(second, 0);
    const uint8* bytes = static_cast<const uint8*>(address);
    for (size_t i = 0; i < 3 * 4096; i++)
        ASSERT_EQ(bytes[i], 0) << i;
    delete_area(second);
}

TEST(Areas, AnyAddressAreasDoNotOverlapAndManyThreadsMayMakeThem)
{
    std::vector<std::thread> threads;
    std::mutex lock;
    std::vector<std::pair<uint32, area_id>> made;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; i++) {
                void* address = nullptr;
                area_id area = create_area("many", &address, B_ANY_ADDRESS,
                                           4096 * size_t(1 + (i + t) % 5), B_NO_LOCK, 3);
                ASSERT_GE(area, 0);
                memset(address, t, 4096);
                std::lock_guard<std::mutex> guard(lock);
                made.push_back({uint32(reinterpret_cast<uintptr_t>(address)), area});
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    std::sort(made.begin(), made.end());
    for (size_t i = 0; i + 1 < made.size(); i++) {
        area_info info;
        ASSERT_EQ(get_area_info(made[i].second, &info), B_OK);
        EXPECT_LE(made[i].first + info.size, made[i + 1].first);
        EXPECT_LE(made[i + 1].first + 4096, kModuleHeapStart);
    }
    for (auto& [address, area] : made)
        EXPECT_EQ(delete_area(area), B_OK);
}

TEST(ModuleHeap, StaysInsideTheWindowAndIsThreadSafe)
{
    void* block = module_malloc(100);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(is_module_heap_pointer(block));
    EXPECT_GE(reinterpret_cast<uintptr_t>(block), kModuleHeapStart);
    memset(block, 0x5A, 100);
    void* grown = module_realloc(block, 100000);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(static_cast<uint8*>(grown)[99], 0x5A);
    EXPECT_TRUE(is_module_heap_pointer(grown));
    module_free(grown);

    uint8* zeroed = static_cast<uint8*>(module_calloc(1000, 10));
    ASSERT_NE(zeroed, nullptr);
    for (int i = 0; i < 10000; i++)
        ASSERT_EQ(zeroed[i], 0);
    module_free(zeroed);
    EXPECT_EQ(module_calloc(SIZE_MAX / 2, 4), nullptr);

    // Large blocks come from the window too.
    void* big = module_malloc(64 << 20);
    ASSERT_NE(big, nullptr);
    EXPECT_TRUE(is_module_range(reinterpret_cast<uintptr_t>(big), 64 << 20));
    module_free(big);

    // The bookkeeping is the host's: blocks and everything around them may
    // be written over; only a live block's start can be freed, once.
    uint8* first = static_cast<uint8*>(module_malloc(64));
    uint8* second = static_cast<uint8*>(module_malloc(64));
    ASSERT_TRUE(first != nullptr && second != nullptr);
    uint8* low = std::min(first, second);
    uint8* high = std::max(first, second) + 64;
    uint8* from = std::max(low - 16, static_cast<uint8*>(at(kModuleHeapStart)));
    memset(from, 0xFF, size_t(high + 16 - from));
    EXPECT_FALSE(module_free(first + 16));
    EXPECT_EQ(module_realloc(first + 16, 8), nullptr);
    EXPECT_EQ(module_block_size(first + 16), 0u);
    EXPECT_TRUE(module_free(first));
    EXPECT_FALSE(module_free(first));
    EXPECT_EQ(module_block_size(second), 64u);
    EXPECT_TRUE(module_free(second));

    // Pointers that are not heap blocks are ignored, not crashed on.
    int onHostStack = 0;
    module_free(&onHostStack);
    module_free(nullptr);
    module_free(at(kModuleHeapStart + 3));
    EXPECT_EQ(module_realloc(&onHostStack, 10), nullptr);
    EXPECT_FALSE(is_module_heap_pointer(&onHostStack));
    void* fresh = module_realloc(nullptr, 10);
    EXPECT_NE(fresh, nullptr);
    module_free(fresh);

    // Allocation on many threads; blocks freed on a thread other than the
    // one that made them.
    std::vector<void*> handed(8 * 500);
    std::atomic<int> outside{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; i++) {
                void* p = module_malloc(size_t(16 + (i * 37) % 4000));
                if (p == nullptr || !is_module_heap_pointer(p))
                    outside++;
                memset(p, t, 16);
                handed[size_t(t) * 500 + size_t(i)] = p;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(outside, 0);
    std::set<void*> distinct(handed.begin(), handed.end());
    EXPECT_EQ(distinct.size(), handed.size());
    std::thread freer([&] {
        for (void* p : handed)
            module_free(p);
    });
    freer.join();
}

TEST(ThreadLocalStorage, SlotsArePerThreadAndLiveInTheThreadBlock)
{
    int32 first = tls_allocate();
    int32 second = tls_allocate();
    ASSERT_GE(first, 0);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(tls_get(first), nullptr);
    tls_set(first, at(0x12345678));
    EXPECT_EQ(tls_get(first), at(0x12345678));
    uint8* block = thread_block();
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(tls_address(first), reinterpret_cast<uint32*>(block + kThreadBlockTLSSlots) + first);
    EXPECT_EQ(*tls_address(first), 0x12345678u);
    uint32 self = module_address(block);
    EXPECT_EQ(*reinterpret_cast<uint32*>(block + kThreadBlockSelf), self);
    EXPECT_EQ(*reinterpret_cast<uint32*>(block + kThreadBlockTLSPointer),
              self + kThreadBlockTLSSlots);

    // Indexes never handed out are neither read nor written.
    EXPECT_EQ(tls_get(-1), nullptr);
    EXPECT_EQ(tls_get(B_TLS_SLOT_COUNT), nullptr);
    EXPECT_EQ(tls_address(second + 1), nullptr);
    tls_set(second + 1, at(1));

    uint8* otherBlock = nullptr;
    std::thread other([&] {
        EXPECT_EQ(tls_get(first), nullptr);
        tls_set(first, at(7));
        EXPECT_EQ(tls_get(first), at(7));
        otherBlock = thread_block();
    });
    other.join();
    EXPECT_NE(otherBlock, block);
    EXPECT_EQ(tls_get(first), at(0x12345678));
    // The ended thread's block was given back.
    EXPECT_LT(area_for(otherBlock), 0);

    // The slots run out, cleanly.
    int32 last = second;
    for (int32 slot; (slot = tls_allocate()) >= 0;)
        last = slot;
    EXPECT_EQ(last, B_TLS_SLOT_COUNT - 1);
    EXPECT_EQ(tls_allocate(), B_NO_MEMORY);

    // A slot given back is handed out again, reading as null on every
    // thread, also one that stored a value in it before.
    std::mutex lock;
    std::condition_variable changed;
    int step = 0;
    void* seen = at(1);
    std::thread user([&] {
        tls_set(first, at(9));
        std::unique_lock<std::mutex> locked(lock);
        step = 1;
        changed.notify_all();
        changed.wait(locked, [&] { return step == 2; });
        seen = tls_get(first);
    });
    {
        std::unique_lock<std::mutex> locked(lock);
        changed.wait(locked, [&] { return step == 1; });
    }
    EXPECT_TRUE(tls_free(first));
    EXPECT_FALSE(tls_free(first));
    EXPECT_EQ(tls_address(first), nullptr);
    EXPECT_EQ(tls_allocate(), first);
    {
        std::lock_guard<std::mutex> locked(lock);
        step = 2;
        changed.notify_all();
    }
    user.join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(tls_get(first), nullptr);
    EXPECT_FALSE(tls_free(-1));
    EXPECT_FALSE(tls_free(B_TLS_SLOT_COUNT));
    for (int32 slot = first; slot < B_TLS_SLOT_COUNT; slot++)
        tls_free(slot);
}
