#include "winemu/kernel32/SyncServices.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"
#include "platform/support/Debug.h"
#include "platform/support/Locker.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/cpu/ModuleLimits.h"
#include "winemu/kernel32/KernelObjects.h"
#include "winemu/loader/pe_add_on.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace
{

const char kSource[] = "pe_patches";

// How often a thread waiting for a critical section looks whether it was
// killed or the section deleted.
constexpr bigtime_t kLockCheckInterval = 20000;
// How often a long wait for an event or semaphore looks whether a thread of
// the module it was called into has faulted.
constexpr bigtime_t kFaultCheckInterval = 100000;

// Object names end within MAX_PATH characters, as on Windows.
constexpr size_t kObjectNameLimit = 260;

// A handle over a new platform semaphore; 0 for a bad or too long name or
// when nothing can be made (a negative count, a full heap).
uint32 make_semaphore_object(uint32 tag, int32 count, uint32 name)
{
    // Copied once: the module may change its text meanwhile.
    std::string copy;
    if (name != 0 && !module_string_copy(name, kObjectNameLimit, &copy))
        return 0;
    const char* text = name != 0 ? copy.c_str() : nullptr;
    uint32 module = calling_module();
    if (!module_object_adding(module))
        return 0;
    kernel_object_t* object = allocate_kernel_object();
    sem_id sem = object != nullptr ? create_sem(count, text) : B_NO_MEMORY;
    if (sem < 0) {
        module_free(object);
        module_object_removed(module);
        return 0;
    }
    kernel_record* record = new kernel_record;
    record->tag = tag;
    record->id = sem;
    return register_kernel_object(object, record);
}

kernel_record* find_object(uint32 handle, uint32 tag)
{
    kernel_record* record = find_kernel_object(handle);
    return record != nullptr && record->tag == tag ? record : nullptr;
}

uint32 wait_for_semaphore(sem_id sem, uint32 milliseconds)
{
    bigtime_t timeout =
        milliseconds == kInfinite ? B_INFINITE_TIMEOUT : bigtime_t(uint64(milliseconds) * 1000);
    bigtime_t deadline =
        timeout == B_INFINITE_TIMEOUT ? B_INFINITE_TIMEOUT : system_time() + timeout;
    status_t status;
    for (;;) {
        bigtime_t slice = timeout;
        if (timeout > kFaultCheckInterval) {
            slice = kFaultCheckInterval;
            if (deadline != B_INFINITE_TIMEOUT)
                slice = max_c(min_c(slice, deadline - system_time()), bigtime_t(0));
        }
        status = acquire_sem_etc(sem, 1, B_RELATIVE_TIMEOUT, slice);
        // Once the thread is killed every wait is interrupted at once: give
        // up, and the module call ends when this returns.
        if (status == B_INTERRUPTED && !has_kill_request())
            continue;
        if (slice == timeout || (status != B_TIMED_OUT && status != B_WOULD_BLOCK))
            break;
        if (deadline != B_INFINITE_TIMEOUT && system_time() >= deadline)
            break;
        // A thread of the module this call went into has faulted: what this
        // waits for may never come. End the call (as a fault would on the
        // module's own thread) and the caller hears of a failure.
        if (pe_has_faulted_thread(module_call_entry())) {
            request_module_stop(find_thread(nullptr));
            return kWaitFailed;
        }
    }
    if (status >= B_OK)
        return kWaitObject0;
    if (status == B_TIMED_OUT || status == B_WOULD_BLOCK)
        return kWaitTimeout;
    return kWaitFailed;
}

uint32 wait_for_module_thread(kernel_record& record, uint32 milliseconds)
{
    // A thread is always waited for to its end.
    if (milliseconds != kInfinite)
        _debuggerAssert(kSource, 671, "in_timeout==INFINITE");
    // Once collected, the id may belong to another thread.
    if (record.collected.load())
        return kWaitObject0;
    status_t exitStatus = B_OK;
    status_t status;
    do {
        status = wait_for_thread(record.id, &exitStatus);
    } while (status == B_INTERRUPTED && !has_kill_request());
    if (status == B_OK) {
        record.collected.store(true);
        return kWaitObject0;
    }
    // Collected by another waiter meanwhile: it has ended.
    if (status == B_BAD_THREAD_ID)
        return kWaitObject0;
    return kWaitFailed; // killed, or a thread waiting for its own end
}

// ---- critical sections ----------------------------------------------------

// The lock lives in host memory: the section's word holds only a token. A
// robust mutex in module memory would have glibc and the kernel follow, and
// write through, list pointers that module code can overwrite.
struct critical_lock {
    BLocker locker{"critical section"};
    uint32 token = 0;
    uint32 module = 0; // whose limits it counts against
    int32 users = 0;   // threads inside an Enter or Leave on it
    std::atomic<bool> deleted{false};
};

// Live critical section locks by token. A module may hand over any 24 bytes
// as a section; only tokens found here are used. Tokens are not given out
// again while 2^31 others are made, so a stale one finds nothing; they lie
// above the window, so none reads as a module address.
struct critical_table {
    std::mutex lock;
    std::unordered_map<uint32, critical_lock*> byToken;
    uint32 nextToken = 1;
};

critical_table& criticals()
{
    static critical_table* sTable = new critical_table;
    return *sTable;
}

unaligned_uint32* locker_word(uint32 section)
{
    uint8* bytes = module_pointer<uint8>(section, kCriticalSectionSize);
    return bytes != nullptr ? reinterpret_cast<unaligned_uint32*>(bytes + kCriticalSectionLocker)
                            : nullptr;
}

void report_bad_section(bool pointerValid)
{
    if (pointerValid)
        _debuggerAssert(kSource, __LINE__, "locker!=NULL");
    else
        _debuggerAssert(kSource, __LINE__, "lpCriticalSection!=NULL");
}

// The section's lock, kept from being freed until end_use; null (after a
// report) when `section` holds no live token. A deleted section that a
// thread still holds may only be left.
critical_lock* begin_use(uint32 section, bool leaving)
{
    unaligned_uint32* word = locker_word(section);
    if (word == nullptr) {
        report_bad_section(false);
        return nullptr;
    }
    uint32 token = *word;
    critical_table& t = criticals();
    std::unique_lock<std::mutex> locked(t.lock);
    auto found = t.byToken.find(token);
    if (found == t.byToken.end() || (found->second->deleted.load() && !leaving)) {
        locked.unlock();
        report_bad_section(true);
        return nullptr;
    }
    found->second->users++;
    return found->second;
}

// Frees a deleted lock once nobody uses or holds it. A held mutex is never
// destroyed: its owner's robust-mutex list still points at it. Called with
// the table locked.
void free_if_unused(critical_table& t, critical_lock* lock)
{
    if (lock->users == 0 && lock->deleted.load() && lock->locker.LockingThread() < 0) {
        t.byToken.erase(lock->token);
        module_object_removed(lock->module);
        delete lock;
    }
}

void end_use(critical_lock* lock)
{
    critical_table& t = criticals();
    std::lock_guard<std::mutex> locked(t.lock);
    --lock->users;
    free_if_unused(t, lock);
}

} // namespace

uint32 exp_CreateEventA(uint32, uint32, uint32 initialState, uint32 name)
{
    // manual_reset is ignored: every event is an auto-reset event that
    // counts its SetEvent calls. Any non-zero BOOL means signalled.
    return make_semaphore_object(kEventTag, initialState != 0 ? 1 : 0, name);
}

uint32 exp_SetEvent(uint32 event)
{
    kernel_record* record = find_object(event, kEventTag);
    if (record == nullptr) {
        _debuggerAssert(kSource, 690, "data[0]=='EVNT'");
        return 0;
    }
    return release_sem(record->id) == B_OK ? 1 : 0;
}

uint32 exp_CreateSemaphoreA(uint32, int32 initial, int32, uint32 name)
{
    // The maximum is not enforced: the count has no upper bound.
    return make_semaphore_object(kSemaphoreTag, initial, name);
}

uint32 exp_ReleaseSemaphore(uint32 semaphore, int32 count, uint32 previous)
{
    // The previous count is never written.
    if (previous != 0)
        _debuggerAssert(kSource, 1046, "lpPreviousCount==NULL");
    kernel_record* record = find_object(semaphore, kSemaphoreTag);
    if (record == nullptr) {
        _debuggerAssert(kSource, 1049, "data[0]=='SEMA'");
        return 0;
    }
    return release_sem_etc(record->id, count, 0) == B_OK ? 1 : 0;
}

uint32 exp_WaitForSingleObject(uint32 handle, uint32 milliseconds)
{
    kernel_record* record = find_kernel_object(handle);
    if (record == nullptr)
        return kWaitFailed;
    if (record->tag == kThreadTag)
        return wait_for_module_thread(*record, milliseconds);
    return wait_for_semaphore(record->id, milliseconds);
}

// Ends nothing: objects and their platform semaphores and threads live on.
uint32 exp_CloseHandle(uint32 handle)
{
    return find_kernel_object(handle) != nullptr ? 1 : 0;
}

void exp_InitializeCriticalSection(uint32 section)
{
    unaligned_uint32* word = locker_word(section);
    if (word == nullptr) {
        report_bad_section(false);
        return;
    }
    uint32 module = calling_module();
    if (!module_object_adding(module))
        return;
    critical_lock* lock = new critical_lock;
    lock->module = module;
    uint32 token;
    {
        critical_table& t = criticals();
        std::lock_guard<std::mutex> locked(t.lock);
        do
            token = 0x80000000u | t.nextToken++;
        while (t.byToken.count(token) != 0);
        lock->token = token;
        t.byToken[token] = lock;
    }
    *word = token;
}

void exp_EnterCriticalSection(uint32 section)
{
    critical_lock* lock = begin_use(section, false);
    if (lock == nullptr)
        return;
    // Waits in slices, so that a killed thread, or one whose section was
    // deleted under it, stops waiting.
    for (;;) {
        status_t status = lock->locker.LockWithTimeout(kLockCheckInterval);
        if (status != B_TIMED_OUT || has_kill_request() || lock->deleted.load())
            break;
    }
    end_use(lock);
}

void exp_LeaveCriticalSection(uint32 section)
{
    critical_lock* lock = begin_use(section, true);
    if (lock == nullptr)
        return;
    lock->locker.Unlock();
    end_use(lock);
}

void exp_DeleteCriticalSection(uint32 section)
{
    unaligned_uint32* word = locker_word(section);
    if (word == nullptr) {
        report_bad_section(false);
        return;
    }
    uint32 token = *word;
    if (token == 0)
        return;
    critical_table& t = criticals();
    std::unique_lock<std::mutex> locked(t.lock);
    auto found = t.byToken.find(token);
    if (found == t.byToken.end() || found->second->deleted.load()) {
        locked.unlock();
        report_bad_section(true);
        return;
    }
    critical_lock* lock = found->second;
    lock->deleted.store(true);
    // The token stays in the section; later use of it is reported (but the
    // thread that holds the lock may still leave it).
    free_if_unused(t, lock);
}

namespace
{

// Module data need not be aligned; the processor's locked instructions
// work on any address, so the host's atomics are used through the same
// kind of access.
template <typename F>
uint32 interlocked(uint32 address, F change)
{
    uint32* word = module_pointer<uint32>(address);
    if (word == nullptr)
        return 0;
    if (address % 4 == 0)
        return change(word);
    static std::mutex unaligned;
    std::lock_guard<std::mutex> lock(unaligned);
    uint32 value;
    memcpy(&value, word, 4);
    uint32 copy = value;
    uint32 result = change(&copy);
    memcpy(word, &copy, 4);
    return result;
}

} // namespace

uint32 exp_InterlockedIncrement(uint32 address)
{
    return interlocked(address,
                       [](uint32* word) { return __atomic_add_fetch(word, 1, __ATOMIC_SEQ_CST); });
}

uint32 exp_InterlockedDecrement(uint32 address)
{
    return interlocked(address,
                       [](uint32* word) { return __atomic_sub_fetch(word, 1, __ATOMIC_SEQ_CST); });
}

uint32 exp_InterlockedExchange(uint32 address, uint32 value)
{
    return interlocked(address, [value](uint32* word) {
        return __atomic_exchange_n(word, value, __ATOMIC_SEQ_CST);
    });
}

uint32 exp_InterlockedCompareExchange(uint32 address, uint32 value, uint32 comparand)
{
    return interlocked(address, [value, comparand](uint32* word) {
        uint32 expected = comparand;
        __atomic_compare_exchange_n(word, &expected, value, false, __ATOMIC_SEQ_CST,
                                    __ATOMIC_SEQ_CST);
        return expected;
    });
}
