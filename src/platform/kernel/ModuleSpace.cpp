// The window reservation and the areas inside it.
#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/mman.h>

uint32 module_heap_top(); // ModuleHeap.cpp

namespace
{

status_t reserve_window()
{
    void* wanted = module_space_base();
    size_t size = kModuleSpaceEnd - kModuleSpaceStart;
    void* got = mmap(wanted, size, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE | MAP_NORESERVE, -1, 0);
    if (got == wanted)
        return B_OK;
    int error = errno;
    if (got != MAP_FAILED)
        munmap(got, size); // an old kernel that took the address as a hint
    fprintf(stderr,
            "reelmoth: cannot reserve the module address space 0x%08x-0x%08x (%s); "
            "Windows codec modules cannot run\n",
            kModuleSpaceStart, kModuleSpaceEnd, strerror(error != 0 ? error : EEXIST));
    return B_NO_MEMORY;
}

std::atomic<bool> sGuarded{false};
std::atomic<bool> sSurrounded{false};

uint32 page_up(uint64 address)
{
    return uint32((address + B_PAGE_SIZE - 1) & ~uint64(B_PAGE_SIZE - 1));
}

// Closes [start, end) where nothing is mapped; false when something is.
bool close_free_range(uint64 start, uint64 end)
{
    void* wanted = reinterpret_cast<void*>(uintptr_t(start));
    void* got = mmap(wanted, end - start, PROT_NONE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE | MAP_NORESERVE, -1, 0);
    if (got == wanted)
        return true;
    if (got != MAP_FAILED)
        munmap(got, end - start);
    return false;
}

// The rest of the low 4 GiB, below and above the window, closed. Below it
// the kernel keeps the first pages (vm.mmap_min_addr) from any mapping but
// a privileged one; a process allowed to map there closes them itself, any
// other the pages between.
bool close_rest_of_low_space()
{
    if (!close_free_range(kModuleSpaceEnd, uint64(1) << 32))
        return false;
    if (close_free_range(0, kModuleSpaceStart))
        return true;
    if (errno != EPERM && errno != EACCES)
        return false;
    unsigned long lowest = 0;
    FILE* limit = fopen("/proc/sys/vm/mmap_min_addr", "r");
    if (limit != nullptr) {
        if (fscanf(limit, "%lu", &lowest) != 1)
            lowest = 0;
        fclose(limit);
    }
    lowest = page_up(lowest);
    return lowest >= kModuleSpaceStart ||
           (lowest > 0 && close_free_range(lowest, kModuleSpaceStart));
}

// The heap is open one page past its top: the emulator lets module code
// reach a page directly only when the page after it is open too (an access
// may cross into it), and the top page holds the blocks handed out last,
// often a stream's buffers.
uint32 heap_open_end()
{
    return uint32(
        std::min<uint64>(uint64(page_up(module_heap_top())) + B_PAGE_SIZE, kModuleSpaceEnd));
}

void set_access(uint32 start, uint64 size, bool open)
{
    if (size > 0)
        mprotect(reinterpret_cast<void*>(uintptr_t(start)), size,
                 open ? PROT_READ | PROT_WRITE : PROT_NONE);
}

// Reserved before main so nothing else can take the range first.
const status_t sReservedAtStartUp = module_space_init();

struct area_record {
    area_id id;
    uint32 start;
    uint32 size;
    uint32 lock;
    uint32 protection;
    char name[B_OS_NAME_LENGTH];
};

constexpr int kDeletedLogSize = 64;

struct area_table {
    std::mutex lock;
    std::map<uint32, area_record> byStart;
    std::map<area_id, uint32> startById;
    area_id nextId = 1;
    uint64 generation = 0;
    std::atomic<uint64> publishedGeneration{0};
    struct {
        uint32 start, end;
    } deleted[kDeletedLogSize];
};

// Memory a guarded window opened (areas made, the heap grown), logged as
// deletions are: an emulator that found a page's neighbour closed looks
// again. A lock of its own: the heap logs under its own lock, which the
// area table's lock may be held around (module_space_guard).
struct opened_log {
    std::mutex lock;
    uint64 generation = 0;
    std::atomic<uint64> published{0};
    struct {
        uint32 start, end;
    } ranges[kDeletedLogSize];
};

opened_log& opened()
{
    static opened_log* log = new opened_log; // lives until exit, like the table
    return *log;
}

void log_opened(uint32 start, uint32 end)
{
    opened_log& log = opened();
    std::lock_guard<std::mutex> guard(log.lock);
    auto& logged = log.ranges[log.generation % kDeletedLogSize];
    logged.start = start;
    logged.end = end;
    log.generation++;
    log.published.store(log.generation, std::memory_order_release);
}

area_table& areas()
{
    static area_table* table = new area_table; // lives until exit, used by exit-time code
    return *table;
}

bool range_is_free(const area_table& table, uint32 start, uint64 size)
{
    auto next = table.byStart.lower_bound(start);
    if (next != table.byStart.end() && next->first < start + size)
        return false;
    if (next != table.byStart.begin()) {
        auto previous = std::prev(next);
        if (uint64(previous->first) + previous->second.size > start)
            return false;
    }
    return true;
}

// Top-down first fit below the heap, so that the low addresses that images
// prefer stay free as long as possible.
bool find_free_range(const area_table& table, uint64 size, uint32* start)
{
    uint64 top = kModuleHeapStart;
    for (auto it = table.byStart.end();;) {
        uint64 bottom = kModuleSpaceStart;
        if (it != table.byStart.begin()) {
            auto below = std::prev(it);
            bottom = uint64(below->first) + below->second.size;
        }
        if (top >= bottom && top - bottom >= size) {
            *start = uint32(top - size);
            return true;
        }
        if (it == table.byStart.begin())
            return false;
        --it;
        top = it->first;
    }
}

} // namespace

status_t module_space_init()
{
    static const status_t status = reserve_window();
    return status;
}

status_t module_space_guard()
{
    if (module_space_init() != B_OK)
        return B_NO_MEMORY;
    area_table& table = areas();
    std::lock_guard<std::mutex> guard(table.lock);
    if (sGuarded.load())
        return B_OK;
    set_access(kModuleSpaceStart, uint64(kModuleSpaceEnd) - kModuleSpaceStart, false);
    for (const auto& [start, record] : table.byStart)
        set_access(start, record.size, true);
    set_access(kModuleHeapStart, heap_open_end() - kModuleHeapStart, true);
    sSurrounded.store(close_rest_of_low_space());
    sGuarded.store(true);
    return B_OK;
}

bool module_space_surrounded()
{
    return sSurrounded.load(std::memory_order_relaxed);
}

bool module_space_guarded()
{
    return sGuarded.load(std::memory_order_relaxed);
}

bool module_range_accessible(uint32 address, uint64 size)
{
    if (address < kModuleSpaceStart || size > uint64(kModuleSpaceEnd) - address)
        return false;
    if (!sGuarded.load(std::memory_order_relaxed))
        return true;
    uint64 end = uint64(address) + size;
    if (address >= kModuleHeapStart)
        return end <= heap_open_end();
    area_table& table = areas();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.byStart.upper_bound(address);
    if (found == table.byStart.begin())
        return false;
    --found;
    return end <= uint64(found->first) + found->second.size;
}

void module_space_heap_grew(uint32 from, uint32 to)
{
    if (!sGuarded.load(std::memory_order_relaxed))
        return;
    // The page past the old top was open already.
    uint32 first = uint32(std::min<uint64>(uint64(page_up(from)) + B_PAGE_SIZE, kModuleSpaceEnd));
    uint32 end = uint32(std::min<uint64>(uint64(page_up(to)) + B_PAGE_SIZE, kModuleSpaceEnd));
    if (end > first) {
        set_access(first, end - first, true);
        log_opened(first, end);
    }
}

uint64 module_space_opened_generation()
{
    return opened().published.load(std::memory_order_acquire);
}

bool module_space_opened_ranges(uint64 since, void (*forget)(uint32, uint32, void*), void* cookie)
{
    opened_log& log = opened();
    std::lock_guard<std::mutex> guard(log.lock);
    if (log.generation - since > kDeletedLogSize)
        return false;
    for (uint64 g = since; g < log.generation; g++) {
        auto& range = log.ranges[g % kDeletedLogSize];
        forget(range.start, range.end, cookie);
    }
    return true;
}

uint64 module_space_generation()
{
    return areas().publishedGeneration.load(std::memory_order_acquire);
}

bool module_space_deleted_ranges(uint64 since, void (*forget)(uint32, uint32, void*), void* cookie)
{
    area_table& table = areas();
    std::lock_guard<std::mutex> guard(table.lock);
    if (table.generation - since > kDeletedLogSize)
        return false;
    for (uint64 g = since; g < table.generation; g++) {
        auto& range = table.deleted[g % kDeletedLogSize];
        forget(range.start, range.end, cookie);
    }
    return true;
}

area_id create_area(const char* name, void** startAddress, uint32 addressSpec, size_t size,
                    uint32 lock, uint32 protection)
{
    (void)sReservedAtStartUp;
    if (module_space_init() != B_OK)
        return B_NO_MEMORY;
    if (startAddress == nullptr || size == 0 ||
        (addressSpec != B_ANY_ADDRESS && addressSpec != B_EXACT_ADDRESS))
        return B_BAD_VALUE;
    uint64 rounded = (uint64(size) + B_PAGE_SIZE - 1) & ~uint64(B_PAGE_SIZE - 1);
    if (rounded > kModuleHeapStart - kModuleSpaceStart)
        return B_NO_MEMORY;

    area_table& table = areas();
    std::lock_guard<std::mutex> guard(table.lock);
    uint32 start;
    if (addressSpec == B_EXACT_ADDRESS) {
        uintptr_t wanted = reinterpret_cast<uintptr_t>(*startAddress);
        if (wanted % B_PAGE_SIZE != 0 || wanted < kModuleSpaceStart ||
            wanted + rounded > kModuleHeapStart)
            return B_BAD_VALUE;
        start = uint32(wanted);
        if (!range_is_free(table, start, rounded))
            return B_NO_MEMORY;
    } else if (!find_free_range(table, rounded, &start)) {
        return B_NO_MEMORY;
    }

    area_record record = {};
    record.id = table.nextId++;
    record.start = start;
    record.size = uint32(rounded);
    record.lock = lock;
    record.protection = protection;
    strncpy(record.name, name != nullptr ? name : "", B_OS_NAME_LENGTH - 1);
    table.byStart.emplace(start, record);
    table.startById.emplace(record.id, start);
    if (sGuarded.load(std::memory_order_relaxed)) {
        set_access(start, rounded, true);
        log_opened(start, uint32(start + rounded));
    }
    *startAddress = reinterpret_cast<void*>(uintptr_t(start));
    return record.id;
}

status_t delete_area(area_id id)
{
    area_table& table = areas();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.startById.find(id);
    if (found == table.startById.end())
        return B_BAD_VALUE;
    area_record& record = table.byStart.at(found->second);
    // Drops the pages: the range reads as zeros again for the next area.
    madvise(reinterpret_cast<void*>(uintptr_t(record.start)), record.size, MADV_DONTNEED);
    if (sGuarded.load(std::memory_order_relaxed))
        set_access(record.start, record.size, false);
    auto& logged = table.deleted[table.generation % kDeletedLogSize];
    logged.start = record.start;
    logged.end = record.start + record.size;
    table.generation++;
    table.publishedGeneration.store(table.generation, std::memory_order_release);
    table.byStart.erase(record.start);
    table.startById.erase(found);
    return B_OK;
}

area_id area_for(void* address)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(address);
    if (!is_module_range(value, 1))
        return B_ERROR;
    area_table& table = areas();
    std::lock_guard<std::mutex> guard(table.lock);
    auto next = table.byStart.upper_bound(uint32(value));
    if (next == table.byStart.begin())
        return B_ERROR;
    const area_record& record = std::prev(next)->second;
    if (value >= uint64(record.start) + record.size)
        return B_ERROR;
    return record.id;
}

status_t get_area_info(area_id id, area_info* info)
{
    if (info == nullptr)
        return B_BAD_VALUE;
    area_table& table = areas();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.startById.find(id);
    if (found == table.startById.end())
        return B_BAD_VALUE;
    const area_record& record = table.byStart.at(found->second);
    info->area = record.id;
    memcpy(info->name, record.name, sizeof(info->name));
    info->size = record.size;
    info->lock = record.lock;
    info->protection = record.protection;
    info->address = reinterpret_cast<void*>(uintptr_t(record.start));
    return B_OK;
}
