// Per-thread blocks in the module address space and the TLS slots in them.
#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"

#include <atomic>
#include <unistd.h>

namespace
{

std::atomic<int32> sNextSlot{0};

struct thread_block_owner {
    area_id area = -1;
    uint8* block = nullptr;

    ~thread_block_owner()
    {
        if (area >= 0)
            delete_area(area);
    }

    uint8* Get()
    {
        if (block != nullptr)
            return block;
        void* address = nullptr;
        area_id made = create_area("thread block", &address, B_ANY_ADDRESS, kThreadBlockSize,
                                   B_NO_LOCK, B_READ_AREA | B_WRITE_AREA);
        if (made < 0)
            return nullptr;
        area = made;
        block = static_cast<uint8*>(address);
        uint32 self = module_address(block);
        auto word = [this](uint32 offset) { return reinterpret_cast<uint32*>(block + offset); };
        *word(kThreadBlockExceptionList) = 0xFFFFFFFF; // end of the handler chain
        *word(kThreadBlockSelf) = self;
        *word(kThreadBlockProcessId) = uint32(getpid());
        *word(kThreadBlockThreadId) = uint32(gettid());
        *word(kThreadBlockTLSPointer) = self + kThreadBlockTLSSlots;
        *word(kThreadBlockProcessBlock) = module_address(process_block());
        return block;
    }
};

struct process_block_owner {
    uint8* block = nullptr;

    process_block_owner()
    {
        void* address = nullptr;
        // Never deleted: thread blocks of threads ending late still point here.
        if (create_area("process block", &address, B_ANY_ADDRESS, kProcessBlockSize, B_NO_LOCK,
                        B_READ_AREA | B_WRITE_AREA) >= 0)
            block = static_cast<uint8*>(address);
    }
};

uint32* slot(int32 index)
{
    if (index < 0 || index >= sNextSlot.load(std::memory_order_relaxed))
        return nullptr;
    uint8* block = thread_block();
    if (block == nullptr)
        return nullptr;
    return reinterpret_cast<uint32*>(block + kThreadBlockTLSSlots) + index;
}

} // namespace

static_assert(kThreadBlockTLSSlots + B_TLS_SLOT_COUNT * 4 <= kThreadBlockErrno);
static_assert(kThreadBlockErrno + 4 <= kThreadBlockSize);

uint8* process_block()
{
    static const process_block_owner owner;
    return owner.block;
}

uint8* thread_block()
{
    thread_local thread_block_owner owner;
    return owner.Get();
}

int32 tls_allocate()
{
    int32 index = sNextSlot.load(std::memory_order_relaxed);
    do {
        if (index >= B_TLS_SLOT_COUNT)
            return B_NO_MEMORY;
    } while (!sNextSlot.compare_exchange_weak(index, index + 1, std::memory_order_relaxed));
    return index;
}

// Slots hold 32-bit values, since module code reads them as such; host
// callers store module addresses or small numbers in them.
void* tls_get(int32 index)
{
    uint32* value = slot(index);
    return value != nullptr ? reinterpret_cast<void*>(uintptr_t(*value)) : nullptr;
}

void tls_set(int32 index, void* value)
{
    if (uint32* target = slot(index))
        *target = uint32(reinterpret_cast<uintptr_t>(value));
}

uint32* tls_address(int32 index)
{
    return slot(index);
}
