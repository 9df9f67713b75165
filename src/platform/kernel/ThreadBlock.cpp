// Per-thread blocks in the module address space and the TLS slots in them.
#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"

#include <atomic>
#include <mutex>
#include <unistd.h>
#include <unordered_set>

namespace
{

static_assert(B_TLS_SLOT_COUNT <= 64);

// The slots in use, one bit each; read without the lock by slot().
std::atomic<uint64> sUsedSlots{0};

// Allocation and the thread blocks alive, so that a slot handed out again
// reads as zero on every thread.
struct slot_table {
    std::mutex lock;
    std::unordered_set<uint8*> blocks;
};

slot_table& slots()
{
    static slot_table* sTable = new slot_table;
    return *sTable;
}

struct thread_block_owner {
    area_id area = -1;
    uint8* block = nullptr;

    ~thread_block_owner()
    {
        if (area < 0)
            return;
        {
            slot_table& t = slots();
            std::lock_guard<std::mutex> locked(t.lock);
            t.blocks.erase(block);
        }
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
        slot_table& t = slots();
        std::lock_guard<std::mutex> locked(t.lock);
        t.blocks.insert(block);
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
    if (index < 0 || index >= B_TLS_SLOT_COUNT ||
        (sUsedSlots.load(std::memory_order_acquire) & (uint64(1) << index)) == 0)
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
    slot_table& t = slots();
    std::lock_guard<std::mutex> locked(t.lock);
    uint64 used = sUsedSlots.load(std::memory_order_relaxed);
    for (int32 index = 0; index < B_TLS_SLOT_COUNT; index++) {
        if ((used & (uint64(1) << index)) != 0)
            continue;
        // A slot given back may still hold values on threads that used it.
        for (uint8* block : t.blocks)
            reinterpret_cast<uint32*>(block + kThreadBlockTLSSlots)[index] = 0;
        sUsedSlots.store(used | (uint64(1) << index), std::memory_order_release);
        return index;
    }
    return B_NO_MEMORY;
}

bool tls_free(int32 index)
{
    if (index < 0 || index >= B_TLS_SLOT_COUNT)
        return false;
    slot_table& t = slots();
    std::lock_guard<std::mutex> locked(t.lock);
    uint64 used = sUsedSlots.load(std::memory_order_relaxed);
    if ((used & (uint64(1) << index)) == 0)
        return false;
    sUsedSlots.store(used & ~(uint64(1) << index), std::memory_order_release);
    return true;
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
