// The module heap: mimalloc, given the top of the window as an exclusive
// arena, so its heaps never take memory from anywhere else. mimalloc heaps
// allocate only on the thread that made them, so each thread gets its own
// heap in the arena; any thread may free any block.
#include "platform/kernel/ModuleSpace.h"

#include <cstdio>
#include <mimalloc.h>
#include <mutex>

namespace
{

struct heap_arena {
    bool ready = false;
    mi_arena_id_t id = 0;
};

heap_arena& arena()
{
    static heap_arena* shared = [] {
        heap_arena* made = new heap_arena;
        if (module_space_init() != B_OK)
            return made;
        // Declared as pinned ("large") memory: mimalloc then never decommits
        // it with PROT_NONE, so a module reading a freed block reads stale
        // data, as it would on Windows, instead of faulting the host.
        void* start = reinterpret_cast<void*>(uintptr_t(kModuleHeapStart));
        made->ready = mi_manage_os_memory_ex(start, kModuleSpaceEnd - kModuleHeapStart, true, true,
                                             true, -1, true, &made->id);
        if (!made->ready)
            fprintf(stderr, "reelmoth: the module heap could not be set up\n");
        return made;
    }();
    return *shared;
}

mi_heap_t* thread_heap()
{
    thread_local mi_heap_t* heap = nullptr;
    if (heap == nullptr) {
        heap_arena& shared = arena();
        if (shared.ready)
            heap = mi_heap_new_in_arena(shared.id);
    }
    return heap;
}

// Blocks are at least 8-byte aligned; anything else is not one of ours.
bool in_heap_range(const void* pointer)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(pointer);
    return value >= kModuleHeapStart && value < kModuleSpaceEnd && value % 8 == 0;
}

} // namespace

bool is_module_heap_pointer(const void* pointer)
{
    return in_heap_range(pointer) && mi_is_in_heap_region(pointer);
}

void* module_malloc(size_t size)
{
    mi_heap_t* heap = thread_heap();
    return heap != nullptr ? mi_heap_malloc(heap, size) : nullptr;
}

void* module_calloc(size_t count, size_t size)
{
    mi_heap_t* heap = thread_heap();
    return heap != nullptr ? mi_heap_calloc(heap, count, size) : nullptr;
}

void* module_realloc(void* block, size_t size)
{
    if (block == nullptr)
        return module_malloc(size);
    if (!in_heap_range(block))
        return nullptr;
    mi_heap_t* heap = thread_heap();
    return heap != nullptr ? mi_heap_realloc(heap, block, size) : nullptr;
}

void module_free(void* block)
{
    // A module that frees a pointer that was never ours must not take the
    // host down: only addresses inside the heap range reach the allocator.
    if (block != nullptr && in_heap_range(block))
        mi_free(block);
}

size_t module_block_size(const void* block)
{
    return is_module_heap_pointer(block) ? mi_usable_size(block) : 0;
}
