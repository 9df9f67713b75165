// Threads of the kernel kit on pthreads. A thread id is the Linux thread id;
// a spawned thread keeps its record after it ends until it is waited for (or
// until too many ended threads pile up), so that wait_for_thread can still
// report its exit status.

#include "platform/kernel/KernelPrivate.h"

#include <cstring>
#include <deque>
#include <pthread.h>
#include <unistd.h>
#include <unordered_map>

namespace kernel
{

namespace
{

// Ended spawned threads nobody has waited for yet; the oldest are forgotten
// beyond this many.
constexpr size_t kMaxZombies = 256;

struct state {
    std::mutex lock;
    std::unordered_map<thread_id, std::shared_ptr<thread_record>> threads;
    std::deque<std::shared_ptr<thread_record>> zombies;
};

// Never destroyed: threads may still use the kernel while the process exits.
state& global()
{
    static state* sState = new state;
    return *sState;
}

void set_name(thread_record& record, const char* name)
{
    strncpy(record.name, name != nullptr ? name : "", sizeof(record.name) - 1);
    record.name[sizeof(record.name) - 1] = '\0';
}

void register_locked(const std::shared_ptr<thread_record>& record)
{
    // A Linux id may be reused once its thread is gone: the new thread wins.
    global().threads[record->id] = record;
}

// Marks the record ended and wakes its joiners; called with the lock held.
void end_locked(const std::shared_ptr<thread_record>& record, status_t status)
{
    record->exited = true;
    record->exitStatus = status;
    for (thread_record* joiner : record->joiners)
        joiner->cond.notify_all();
    state& s = global();
    auto found = s.threads.find(record->id);
    if (!record->spawned) {
        if (found != s.threads.end() && found->second == record)
            s.threads.erase(found);
        return;
    }
    s.zombies.push_back(record);
    while (s.zombies.size() > kMaxZombies) {
        std::shared_ptr<thread_record> old = s.zombies.front();
        s.zombies.pop_front();
        auto entry = s.threads.find(old->id);
        if (entry != s.threads.end() && entry->second == old && old->joiners.empty())
            s.threads.erase(entry);
    }
}

// Holds the calling thread's record; for a thread the kernel did not spawn,
// ends the record when the thread ends.
struct current_holder {
    std::shared_ptr<thread_record> record;

    ~current_holder()
    {
        if (record == nullptr || record->spawned)
            return;
        std::lock_guard<std::mutex> locked(global().lock);
        end_locked(record, B_OK);
    }
};

thread_local current_holder tCurrent;

std::shared_ptr<thread_record> find_locked(thread_id id)
{
    state& s = global();
    auto found = s.threads.find(id);
    if (found == s.threads.end())
        return nullptr;
    return found->second;
}

void* thread_entry(void* argument)
{
    std::shared_ptr<thread_record> record(
        std::move(*static_cast<std::shared_ptr<thread_record>*>(argument)));
    delete static_cast<std::shared_ptr<thread_record>*>(argument);
    tCurrent.record = record;

    char shortName[16];
    strncpy(shortName, record->name, sizeof(shortName) - 1);
    shortName[sizeof(shortName) - 1] = '\0';
    pthread_setname_np(pthread_self(), shortName);

    std::unique_lock<std::mutex> locked(global().lock);
    record->id = thread_id(gettid());
    register_locked(record);
    record->cond.notify_all(); // the spawner waits for the id

    // Created suspended: runs once resumed; a kill before that ends it unrun.
    status_t status = wait(locked, *record, B_INFINITE_TIMEOUT, [&] {
        return record->resumed || record->killed.load(std::memory_order_relaxed);
    });
    if (record->killed.load(std::memory_order_relaxed))
        status = B_INTERRUPTED;
    if (status == B_OK) {
        locked.unlock();
        status = record->function(record->data);
        locked.lock();
    }
    end_locked(record, status);
    return nullptr;
}

} // namespace

std::mutex& lock()
{
    return global().lock;
}

thread_record& current()
{
    if (tCurrent.record == nullptr) {
        auto record = std::make_shared<thread_record>();
        record->id = thread_id(gettid());
        char name[16] = {};
        if (pthread_getname_np(pthread_self(), name, sizeof(name)) != 0)
            strcpy(name, "thread");
        set_name(*record, name);
        record->resumed = true;
        std::lock_guard<std::mutex> locked(global().lock);
        register_locked(record);
        tCurrent.record = record;
    }
    return *tCurrent.record;
}

bool wait_until(std::unique_lock<std::mutex>& locked, thread_record& self, bigtime_t deadline)
{
    // Deadlines this far out (about 30 years of uptime) are taken as never:
    // the clock's nanosecond arithmetic would overflow before them.
    constexpr bigtime_t kNever = bigtime_t(1) << 50;
    if (deadline >= kNever) {
        self.cond.wait(locked);
        return true;
    }
    auto when = std::chrono::steady_clock::time_point(std::chrono::microseconds(deadline));
    return self.cond.wait_until(locked, when) == std::cv_status::no_timeout ||
           system_time() < deadline;
}

} // namespace kernel

using namespace kernel;

thread_id spawn_thread(thread_func function, const char* name, int32 priority, void* data)
{
    if (function == nullptr)
        return B_BAD_VALUE;
    auto record = std::make_shared<thread_record>();
    set_name(*record, name != nullptr ? name : "no name");
    record->priority = priority;
    record->spawned = true;
    record->function = function;
    record->data = data;

    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto* argument = new std::shared_ptr<thread_record>(record);
    pthread_t handle;
    int error = pthread_create(&handle, &attributes, thread_entry, argument);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete argument;
        return B_NO_MORE_THREADS;
    }

    // The id is the new thread's own; wait until it has told it. This wait
    // is not cut short by a kill of the spawner: the thread exists already.
    std::unique_lock<std::mutex> locked(global().lock);
    record->cond.wait(locked, [&] { return record->id >= 0; });
    return record->id;
}

status_t resume_thread(thread_id thread)
{
    std::lock_guard<std::mutex> locked(global().lock);
    std::shared_ptr<thread_record> record = find_locked(thread);
    if (record == nullptr || record->exited)
        return B_BAD_THREAD_ID;
    if (record->resumed)
        return B_BAD_THREAD_STATE;
    record->resumed = true;
    record->cond.notify_all();
    return B_OK;
}

status_t kill_thread(thread_id thread)
{
    std::shared_ptr<thread_record> record;
    {
        std::lock_guard<std::mutex> locked(global().lock);
        record = find_locked(thread);
        if (record == nullptr)
            return B_BAD_THREAD_ID;
    }
    // The hook lock is taken before the mark is set: the target cannot see
    // the kill and clear its hook before the hook has run.
    std::lock_guard<std::mutex> hookLocked(record->hookLock);
    {
        std::lock_guard<std::mutex> locked(global().lock);
        if (record->exited)
            return B_BAD_THREAD_ID;
        record->killed.store(true, std::memory_order_relaxed);
        record->cond.notify_all();
    }
    if (record->hook != nullptr)
        record->hook(thread, record->hookCookie);
    return B_OK;
}

status_t wait_for_thread(thread_id thread, status_t* exitValue)
{
    thread_record& self = current();
    std::unique_lock<std::mutex> locked(global().lock);
    std::shared_ptr<thread_record> record = find_locked(thread);
    if (record == nullptr)
        return B_BAD_THREAD_ID;
    if (record.get() == &self)
        return B_DONT_DO_THAT;
    if (!record->resumed) {
        // Waiting for a thread that was never started starts it.
        record->resumed = true;
        record->cond.notify_all();
    }
    record->joiners.push_back(&self);
    status_t status = wait(locked, self, B_INFINITE_TIMEOUT, [&] { return record->exited; });
    std::erase(record->joiners, &self);
    if (status != B_OK)
        return status;
    if (exitValue != nullptr)
        *exitValue = record->exitStatus;
    // Collected: the id is gone once its last waiter has it.
    state& s = global();
    if (record->joiners.empty()) {
        auto found = s.threads.find(thread);
        if (found != s.threads.end() && found->second == record)
            s.threads.erase(found);
        std::erase(s.zombies, record);
    }
    return B_OK;
}

thread_id find_thread(const char* name)
{
    if (name == nullptr)
        return thread_id(gettid());
    std::lock_guard<std::mutex> locked(global().lock);
    for (const auto& [id, record] : global().threads) {
        if (!record->exited && strcmp(record->name, name) == 0)
            return id;
    }
    return B_NAME_NOT_FOUND;
}

status_t rename_thread(thread_id thread, const char* name)
{
    if (name == nullptr)
        return B_BAD_VALUE;
    std::lock_guard<std::mutex> locked(global().lock);
    std::shared_ptr<thread_record> record = find_locked(thread);
    if (record == nullptr || record->exited)
        return B_BAD_THREAD_ID;
    set_name(*record, name);
    return B_OK;
}

bool has_kill_request()
{
    return current().killed.load(std::memory_order_relaxed);
}

void set_thread_interrupt_hook(thread_interrupt_hook hook, void* cookie)
{
    thread_record& self = current();
    std::lock_guard<std::mutex> hookLocked(self.hookLock);
    self.hook = hook;
    self.hookCookie = cookie;
}
