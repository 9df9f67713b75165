#include "winemu/kernel32/MemoryServices.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"
#include "platform/support/Debug.h"

#include "winemu/cpu/ModuleLimits.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace
{

void* host_block(uint32 block)
{
    return reinterpret_cast<void*>(uintptr_t(block));
}

// Who made each VirtualAlloc area, and its size, for the module's limits.
struct virtual_area {
    uint32 module;
    uint64 size;
};

struct virtual_table {
    std::mutex lock;
    std::unordered_map<area_id, virtual_area> areas;
};

virtual_table& virtual_areas()
{
    static virtual_table* sTable = new virtual_table;
    return *sTable;
}

} // namespace

uint32 exp_malloc(uint32 size)
{
    return module_address(module_malloc(size));
}

void exp_free(uint32 block)
{
    module_free(host_block(block));
}

uint32 exp_calloc(uint32 count, uint32 size)
{
    if (size != 0 && count > UINT32_MAX / size)
        return 0;
    return module_address(module_calloc(count, size));
}

uint32 exp_realloc(uint32 block, uint32 size)
{
    if (block != 0 && size == 0) {
        exp_free(block);
        return 0;
    }
    if (block != 0 && !is_module_heap_pointer(host_block(block)))
        return 0;
    return module_address(module_realloc(host_block(block), size));
}

uint32 exp_new(uint32 size)
{
    return exp_malloc(size);
}

void exp_delete(uint32 block)
{
    exp_free(block);
}

// The module's C-runtime initialiser tables are never run.
uint32 exp_initterm(uint32, uint32)
{
    return 0;
}

uint32 exp_HeapCreate(uint32, uint32, uint32)
{
    return kProcessHeapHandle;
}

uint32 exp_HeapDestroy(uint32)
{
    return 1;
}

uint32 exp_GetProcessHeap()
{
    return kProcessHeapHandle;
}

uint32 exp_HeapAlloc(uint32, uint32 flags, uint32 size)
{
    if (flags & kHeapZeroMemory)
        return module_address(module_calloc(size, 1));
    return exp_malloc(size);
}

// Fails for anything but the start of a live block (a second free of one
// included); freeing null is allowed.
uint32 exp_HeapFree(uint32, uint32, uint32 block)
{
    return block == 0 || module_free(host_block(block)) ? 1 : 0;
}

uint32 exp_HeapReAlloc(uint32, uint32 flags, uint32 block, uint32 size)
{
    void* old = host_block(block);
    if (!is_module_heap_pointer(old))
        return 0;
    size_t had = module_block_size(old);
    if (flags & kHeapReallocInPlaceOnly)
        return size <= had ? block : 0;
    void* grown = module_realloc(old, size == 0 ? 1 : size);
    if (grown == nullptr)
        return 0;
    if ((flags & kHeapZeroMemory) && size > had)
        memset(static_cast<uint8*>(grown) + had, 0, size - had);
    return module_address(grown);
}

uint32 exp_HeapSize(uint32, uint32, uint32 block)
{
    size_t size = module_block_size(host_block(block));
    return size != 0 ? uint32(size) : 0xFFFFFFFF;
}

// Movable memory never moves: the handle is the block's address.
uint32 exp_GlobalAlloc(uint32 flags, uint32 size)
{
    if (flags & kMemoryZeroInit)
        return module_address(module_calloc(size, 1));
    return exp_malloc(size);
}

uint32 exp_GlobalLock(uint32 handle)
{
    return handle;
}

uint32 exp_GlobalHandle(uint32 block)
{
    return block;
}

uint32 exp_GlobalUnlock(uint32)
{
    return 0;
}

// Null on success, the handle when it is no block.
uint32 exp_GlobalFree(uint32 handle)
{
    return handle == 0 || module_free(host_block(handle)) ? 0 : handle;
}

uint32 exp_LocalAlloc(uint32 flags, uint32 size)
{
    return exp_GlobalAlloc(flags, size);
}

uint32 exp_LocalLock(uint32 handle)
{
    return exp_GlobalLock(handle);
}

uint32 exp_LocalFree(uint32 handle)
{
    return exp_GlobalFree(handle);
}

// Reserving and committing are one step: each call makes a fresh area.
uint32 exp_VirtualAlloc(uint32 address, uint32 size, uint32, uint32 protect)
{
    uint64 rounded = (uint64(size) + B_PAGE_SIZE - 1) & ~uint64(B_PAGE_SIZE - 1);
    if (rounded == 0 || rounded > UINT32_MAX)
        return 0;
    uint32 protection = 0;
    if (protect & kPageReadWrite)
        protection |= B_READ_AREA | B_WRITE_AREA;
    if (protect & kPageReadOnly)
        protection &= ~uint32(B_WRITE_AREA);

    uint32 module = calling_module();
    if (!module_area_adding(module, rounded))
        return 0;
    void* start = host_block(address);
    area_id area =
        create_area(kVirtualAllocAreaName, &start, address != 0 ? B_EXACT_ADDRESS : B_ANY_ADDRESS,
                    size_t(rounded), B_NO_LOCK, protection);
    if (area < 0 && address != 0)
        area = create_area(kVirtualAllocAreaName, &start, B_ANY_ADDRESS, size_t(rounded), B_NO_LOCK,
                           protection);
    if (area < 0) {
        module_area_deleted(module, rounded);
        return 0;
    }
    virtual_table& t = virtual_areas();
    std::lock_guard<std::mutex> locked(t.lock);
    t.areas[area] = {module, rounded};
    return module_address(start);
}

// Deletes the whole area around `address`, whatever size and type say. Only
// areas VirtualAlloc made: a module freeing its own image, a stack or a
// thread block would pull memory from under running code.
uint32 exp_VirtualFree(uint32 address, uint32, uint32)
{
    area_id area = address != 0 ? area_for(host_block(address)) : B_ERROR;
    if (area < 0)
        return 0;
    area_info info;
    if (get_area_info(area, &info) != B_OK)
        return 0;
    if (!DEBUG_CHECK(strcmp(info.name, kVirtualAllocAreaName) == 0,
                     "VirtualFree of an area VirtualAlloc did not make"))
        return 0;
    if (delete_area(area) != B_OK)
        return 0;
    virtual_table& t = virtual_areas();
    std::lock_guard<std::mutex> locked(t.lock);
    auto found = t.areas.find(area);
    if (found != t.areas.end()) {
        module_area_deleted(found->second.module, found->second.size);
        t.areas.erase(found);
    }
    return 1;
}

// No memory is probed: a range is bad when it is not inside the module
// address space, where module code cannot reach it either.
uint32 exp_IsBadReadPtr(uint32 block, uint32 size)
{
    if (size == 0)
        return 0;
    return block == 0 || !is_module_range(block, size) || !module_range_accessible(block, size) ? 1
                                                                                                : 0;
}

uint32 exp_IsBadStringPtrA(uint32 text, uint32 limit)
{
    // Page by page up to the NUL or the limit, whichever comes first.
    if (limit == 0)
        return 0;
    uint32 at = text;
    while (limit > 0) {
        uint32 inPage = std::min<uint32>(limit, 0x1000 - (at & 0xFFF));
        if (exp_IsBadReadPtr(at, inPage) != 0)
            return 1;
        const char* bytes = module_pointer<const char>(at, inPage);
        if (memchr(bytes, 0, inPage) != nullptr)
            return 0;
        at += inPage;
        limit -= inPage;
    }
    return 0;
}

uint32 exp_IsBadWritePtr(uint32 block, uint32 size)
{
    return exp_IsBadReadPtr(block, size);
}
