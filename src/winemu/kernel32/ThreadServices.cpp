#include "winemu/kernel32/ThreadServices.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/cpu/ModuleLimits.h"
#include "winemu/kernel32/KernelObjects.h"
#include "winemu/loader/pe_add_on.h"

#include <cstring>
#include <unistd.h>

namespace
{

// The body of a thread made by CreateThread: calls the module's start
// routine on this thread's own execution context.
int32 ModuleThreadWrapper(void* cookie)
{
    const kernel_record* record = static_cast<const kernel_record*>(cookie);
    uint32 result = 0;
    status_t status = call_module(record->start, {record->parameter}, &result);
    if (status == B_BAD_ADDRESS)
        pe_note_thread_fault(record->start);
    module_thread_ended(record->module);
    return status == B_OK ? int32(result) : status;
}

// Stores a 64-bit value at a module address; false when it does not fit.
bool store_uint64(uint32 address, uint64 value)
{
    uint8* target = module_pointer<uint8>(address, sizeof(value));
    if (target == nullptr)
        return false;
    memcpy(target, &value, sizeof(value));
    return true;
}

} // namespace

uint32 exp_CreateThread(uint32, uint32, uint32 start, uint32 parameter, uint32 flags,
                        uint32 threadId)
{
    // The stack size is ignored: every context has a stack of its own size.
    unaligned_uint32* idTarget = nullptr;
    if (threadId != 0 && (idTarget = module_pointer<unaligned_uint32>(threadId)) == nullptr)
        return 0;
    if (module_pointer<const uint8>(start) == nullptr)
        return 0;
    uint32 module = calling_module();
    if (!module_thread_starting(module))
        return 0;
    kernel_object_t* object = allocate_kernel_object();
    if (object == nullptr) {
        module_thread_ended(module);
        return 0;
    }
    kernel_record* record = new kernel_record;
    record->tag = kThreadTag;
    record->module = module;
    record->start = start;
    record->parameter = parameter;
    // Made suspended, so the handle and id exist before the routine runs.
    thread_id thread = spawn_thread(ModuleThreadWrapper, "thread", B_NORMAL_PRIORITY, record);
    if (thread < 0) {
        delete record;
        module_free(object);
        module_thread_ended(module);
        return 0;
    }
    record->id = thread;
    module_thread_started(module, thread);
    uint32 handle = register_kernel_object(object, record);
    if (idTarget != nullptr)
        *idTarget = uint32(thread);
    if ((flags & kCreateSuspended) == 0)
        resume_thread(thread);
    return handle;
}

uint32 exp_GetCurrentThreadId()
{
    return uint32(find_thread(nullptr));
}

uint32 exp_GetCurrentProcessId()
{
    return uint32(getpid());
}

void exp_Sleep(uint32 milliseconds)
{
    // Cut short only by a kill.
    snooze(bigtime_t(milliseconds) * 1000);
}

// Slots are the calling module's (ModuleLimits.h): a module holds at most
// kModuleTlsSlotLimit, frees only its own, and gives them back when unloaded.
uint32 exp_TlsAlloc()
{
    int32 index = module_tls_allocate(calling_module());
    return index >= 0 ? uint32(index) : kTlsOutOfIndexes;
}

// Module TLS indexes are the platform's slots, which live in the thread
// block that module code also reads through FS.
uint32 exp_TlsSetValue(uint32 index, uint32 value)
{
    uint32* slot = index < B_TLS_SLOT_COUNT ? tls_address(int32(index)) : nullptr;
    if (slot == nullptr)
        return 0;
    *slot = value;
    return 1;
}

uint32 exp_TlsGetValue(uint32 index)
{
    uint32* slot = index < B_TLS_SLOT_COUNT ? tls_address(int32(index)) : nullptr;
    return slot != nullptr ? *slot : 0;
}

// An index the calling module does not hold fails.
uint32 exp_TlsFree(uint32 index)
{
    return index < B_TLS_SLOT_COUNT && module_tls_free(calling_module(), int32(index)) ? 1 : 0;
}

uint32 exp_timeGetTime()
{
    return uint32(system_time() / 1000);
}

uint32 exp_GetTickCount()
{
    return exp_timeGetTime();
}

uint32 exp_QueryPerformanceCounter(uint32 counter)
{
    return store_uint64(counter, uint64(system_time())) ? 1 : 0;
}

uint32 exp_QueryPerformanceFrequency(uint32 frequency)
{
    return store_uint64(frequency, 1000000) ? 1 : 0;
}
