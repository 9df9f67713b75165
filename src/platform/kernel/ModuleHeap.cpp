// The module heap: blocks in the top of the window, bookkeeping in host
// memory. Module code can write every byte of the heap range, so nothing the
// allocator relies on lies there: block sizes, the free ranges and the
// never-used top are kept in host containers, and a pointer is a block only
// when the host's table of live blocks says so. Freeing or reallocating
// anything else, a block twice included, fails and changes nothing.
//
// Best fit over free ranges that are merged with their neighbours on free,
// with freed small blocks kept by size for reuse; one lock. Codecs allocate
// rarely, so simple and safe wins over fast.
#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sys/mman.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace
{

constexpr uint32 kBlockAlignment = 16;
// Freed blocks of at least this size give their whole pages back to the
// system (they read as zeros afterwards).
constexpr uint32 kReleaseSize = 64 * 1024;
// Freed small blocks wait in a list per size for the next block of that
// size (no merging: a codec's buffers come and go in few sizes); so many a
// size at most, the rest go back to the free ranges.
constexpr uint32 kCachedSizeLimit = 1024;
constexpr size_t kCacheDepth = 256;

struct live_block {
    uint32 size;
    uint32 owner; // 0: the host's
};

struct heap_state {
    std::mutex lock;
    // [kModuleHeapStart, top) has been handed out at some time; above it
    // nothing has.
    uint32 top = kModuleHeapStart;
    std::map<uint32, uint32> freeByStart;           // start -> size
    std::set<std::pair<uint32, uint32>> freeBySize; // (size, start)
    std::unordered_map<uint32, live_block> live;    // by start
    std::unordered_map<uint32, size_t> liveByOwner; // owners but the host
    std::vector<uint32> cached[kCachedSizeLimit / kBlockAlignment + 1];
};

// Who blocks are charged to (set_module_heap_owners).
uint32 (*sOwner)() = nullptr;
void (*sRefused)(uint32 owner) = nullptr;
size_t sOwnerLimit = SIZE_MAX;

heap_state& heap()
{
    static heap_state* sHeap = new heap_state;
    return *sHeap;
}

} // namespace

uint32 module_heap_top()
{
    heap_state& h = heap();
    std::lock_guard<std::mutex> locked(h.lock);
    return h.top;
}

namespace
{

uint32 block_size_for(size_t size)
{
    if (size > kModuleSpaceEnd - kModuleHeapStart)
        return 0;
    uint64 rounded = (uint64(size) + kBlockAlignment - 1) & ~uint64(kBlockAlignment - 1);
    return rounded == 0 ? kBlockAlignment : uint32(rounded);
}

void add_free(heap_state& h, uint32 start, uint32 size)
{
    h.freeByStart.emplace(start, size);
    h.freeBySize.emplace(size, start);
}

void remove_free(heap_state& h, std::map<uint32, uint32>::iterator range)
{
    h.freeBySize.erase({range->second, range->first});
    h.freeByStart.erase(range);
}

void release_pages(uint32 start, uint32 size)
{
    if (size < kReleaseSize)
        return;
    uint32 first = (start + B_PAGE_SIZE - 1) & ~uint32(B_PAGE_SIZE - 1);
    uint32 end = (start + size) & ~uint32(B_PAGE_SIZE - 1);
    if (end > first)
        madvise(reinterpret_cast<void*>(uintptr_t(first)), end - first, MADV_DONTNEED);
}

void add_live(heap_state& h, uint32 start, uint32 size, uint32 owner)
{
    h.live.emplace(start, live_block{size, owner});
    if (owner != 0)
        h.liveByOwner[owner]++;
}

// A block of exactly `size` bytes (a multiple of the alignment) for
// `owner`; 0 when the heap is full. Called with the lock held.
uint32 take(heap_state& h, uint32 size, uint32 owner)
{
    if (size <= kCachedSizeLimit && !h.cached[size / kBlockAlignment].empty()) {
        uint32 start = h.cached[size / kBlockAlignment].back();
        h.cached[size / kBlockAlignment].pop_back();
        add_live(h, start, size, owner);
        return start;
    }
    auto fit = h.freeBySize.lower_bound({size, 0});
    uint32 start;
    if (fit != h.freeBySize.end()) {
        auto [had, at] = *fit;
        h.freeBySize.erase(fit);
        h.freeByStart.erase(at);
        if (had > size)
            add_free(h, at + size, had - size);
        start = at;
    } else {
        if (size > kModuleSpaceEnd - h.top)
            return 0;
        start = h.top;
        h.top += size;
        module_space_heap_grew(start, h.top);
    }
    add_live(h, start, size, owner);
    return start;
}

// Returns [start, start + size) to the free ranges, merged with its
// neighbours, or to the never-used top. Called with the lock held.
void give_back(heap_state& h, uint32 start, uint32 size)
{
    release_pages(start, size);
    auto next = h.freeByStart.find(start + size);
    if (next != h.freeByStart.end()) {
        size += next->second;
        remove_free(h, next);
    }
    auto previous = h.freeByStart.lower_bound(start);
    if (previous != h.freeByStart.begin()) {
        --previous;
        if (previous->first + previous->second == start) {
            start = previous->first;
            size += previous->second;
            remove_free(h, previous);
        }
    }
    if (start + size == h.top)
        h.top = start;
    else
        add_free(h, start, size);
}

uint32 address_of(const void* pointer)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(pointer);
    return value >= kModuleHeapStart && value < kModuleSpaceEnd ? uint32(value) : 0;
}

void* pointer_to(uint32 address)
{
    return reinterpret_cast<void*>(uintptr_t(address));
}

// A new block for `owner`; null when the heap is full, or when `limited`
// and the owner has all the blocks it may have (then `refused` is set).
void* allocate(size_t size, uint32 owner, bool limited, bool* refused)
{
    *refused = false;
    uint32 rounded = block_size_for(size);
    if (rounded == 0 || module_space_init() != B_OK)
        return nullptr;
    heap_state& h = heap();
    std::lock_guard<std::mutex> locked(h.lock);
    if (limited && owner != 0) {
        auto found = h.liveByOwner.find(owner);
        if (found != h.liveByOwner.end() && found->second >= sOwnerLimit) {
            *refused = true;
            return nullptr;
        }
    }
    uint32 start = take(h, rounded, owner);
    return start != 0 ? pointer_to(start) : nullptr;
}

} // namespace

bool is_module_heap_pointer(const void* pointer)
{
    return module_block_size(pointer) != 0;
}

void* module_malloc(size_t size)
{
    uint32 owner = sOwner != nullptr ? sOwner() : 0;
    bool refused = false;
    void* block = allocate(size, owner, true, &refused);
    if (refused && sRefused != nullptr)
        sRefused(owner);
    return block;
}

void set_module_heap_owners(uint32 (*owner)(), void (*refused)(uint32 owner), size_t limit)
{
    sOwner = owner;
    sRefused = refused;
    sOwnerLimit = limit;
}

void module_heap_forget_owner(uint32 owner)
{
    if (owner == 0)
        return;
    heap_state& h = heap();
    std::lock_guard<std::mutex> locked(h.lock);
    if (h.liveByOwner.erase(owner) == 0)
        return;
    for (auto& [start, block] : h.live) {
        if (block.owner == owner)
            block.owner = 0;
    }
}

void* module_calloc(size_t count, size_t size)
{
    if (size != 0 && count > SIZE_MAX / size)
        return nullptr;
    void* block = module_malloc(count * size);
    if (block != nullptr)
        memset(block, 0, count * size);
    return block;
}

void* module_realloc(void* block, size_t size)
{
    if (block == nullptr)
        return module_malloc(size);
    uint32 start = address_of(block);
    uint32 rounded = block_size_for(size);
    if (start == 0 || rounded == 0)
        return nullptr;
    heap_state& h = heap();
    uint32 had, owner;
    {
        std::lock_guard<std::mutex> locked(h.lock);
        auto found = h.live.find(start);
        if (found == h.live.end())
            return nullptr;
        had = found->second.size;
        owner = found->second.owner;
        if (rounded <= had) {
            // Shrinks in place; a tail worth keeping goes back.
            if (had - rounded >= kBlockAlignment * 4) {
                found->second.size = rounded;
                give_back(h, start + rounded, had - rounded);
            }
            return block;
        }
        // Grows in place into a free neighbour or the never-used top.
        uint32 more = rounded - had;
        auto next = h.freeByStart.find(start + had);
        if (next != h.freeByStart.end() && next->second >= more) {
            uint32 left = next->second - more;
            remove_free(h, next);
            if (left > 0)
                add_free(h, start + rounded, left);
            found->second.size = rounded;
            return block;
        }
        if (start + had == h.top && more <= kModuleSpaceEnd - h.top) {
            h.top += more;
            module_space_heap_grew(h.top - more, h.top);
            found->second.size = rounded;
            return block;
        }
    }
    // The moved block replaces the old one: the owner's count stays.
    bool refused = false;
    void* moved = allocate(size, owner, false, &refused);
    if (moved == nullptr)
        return nullptr;
    // Module code may free the old block on another thread meanwhile; it
    // stays inside the window either way, so the copy reads module data.
    memcpy(moved, block, had);
    module_free(block);
    return moved;
}

bool module_free(void* block)
{
    uint32 start = address_of(block);
    if (start == 0)
        return false;
    heap_state& h = heap();
    std::lock_guard<std::mutex> locked(h.lock);
    auto found = h.live.find(start);
    if (found == h.live.end())
        return false;
    uint32 size = found->second.size;
    uint32 owner = found->second.owner;
    h.live.erase(found);
    if (owner != 0) {
        auto count = h.liveByOwner.find(owner);
        if (count != h.liveByOwner.end() && --count->second == 0)
            h.liveByOwner.erase(count);
    }
    if (size <= kCachedSizeLimit && h.cached[size / kBlockAlignment].size() < kCacheDepth)
        h.cached[size / kBlockAlignment].push_back(start);
    else
        give_back(h, start, size);
    return true;
}

size_t module_block_size(const void* block)
{
    uint32 start = address_of(block);
    if (start == 0)
        return 0;
    heap_state& h = heap();
    std::lock_guard<std::mutex> locked(h.lock);
    auto found = h.live.find(start);
    return found != h.live.end() ? found->second.size : 0;
}
