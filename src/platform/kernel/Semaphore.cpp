// Counting semaphores of the kernel kit. Waiters queue in arrival order and
// a release hands units to them from the head, so a large request is not
// starved by small ones and a woken waiter never finds its units taken.

#include "platform/kernel/KernelPrivate.h"

#include <cstring>
#include <list>
#include <unordered_map>

namespace kernel
{

namespace
{

struct waiter {
    thread_record* thread;
    int32 count;
    bool granted = false;
};

struct semaphore {
    sem_id id;
    char name[B_OS_NAME_LENGTH];
    int32 count;
    bool deleted = false;
    std::list<waiter*> waiters;
};

struct sem_table {
    std::unordered_map<sem_id, std::shared_ptr<semaphore>> sems;
    sem_id nextId = 1;
};

sem_table& table()
{
    static sem_table* sTable = new sem_table; // outlives threads still exiting
    return *sTable;
}

std::shared_ptr<semaphore> find_locked(sem_id id)
{
    auto found = table().sems.find(id);
    return found == table().sems.end() ? nullptr : found->second;
}

// Hands the free units to the waiters at the head of the queue while they
// fit; called with the lock held after anything that frees units or removes
// a waiter.
void grant_locked(semaphore& sem)
{
    while (!sem.waiters.empty() && sem.waiters.front()->count <= sem.count) {
        waiter* first = sem.waiters.front();
        sem.waiters.pop_front();
        sem.count -= first->count;
        first->granted = true;
        first->thread->cond.notify_all();
    }
}

} // namespace

bigtime_t deadline_for(uint32 flags, bigtime_t timeout)
{
    if (flags & B_ABSOLUTE_TIMEOUT)
        return timeout;
    if (flags & B_RELATIVE_TIMEOUT) {
        if (timeout == B_INFINITE_TIMEOUT)
            return B_INFINITE_TIMEOUT;
        bigtime_t now = system_time();
        if (timeout <= 0)
            return now;
        return timeout >= B_INFINITE_TIMEOUT - now ? B_INFINITE_TIMEOUT : now + timeout;
    }
    return B_INFINITE_TIMEOUT;
}

} // namespace kernel

using namespace kernel;

sem_id create_sem(int32 count, const char* name)
{
    if (count < 0)
        return B_BAD_VALUE;
    auto sem = std::make_shared<semaphore>();
    strncpy(sem->name, name != nullptr ? name : "unnamed semaphore", sizeof(sem->name) - 1);
    sem->name[sizeof(sem->name) - 1] = '\0';
    sem->count = count;
    std::lock_guard<std::mutex> locked(lock());
    sem_table& t = table();
    do {
        sem->id = t.nextId;
        t.nextId = t.nextId == INT32_MAX ? 1 : t.nextId + 1;
    } while (t.sems.contains(sem->id));
    t.sems[sem->id] = sem;
    return sem->id;
}

status_t delete_sem(sem_id id)
{
    std::lock_guard<std::mutex> locked(lock());
    std::shared_ptr<semaphore> sem = find_locked(id);
    if (sem == nullptr)
        return B_BAD_SEM_ID;
    table().sems.erase(id);
    sem->deleted = true;
    for (waiter* w : sem->waiters)
        w->thread->cond.notify_all();
    sem->waiters.clear();
    return B_OK;
}

status_t acquire_sem(sem_id id)
{
    return acquire_sem_etc(id, 1, 0, 0);
}

status_t acquire_sem_etc(sem_id id, int32 count, uint32 flags, bigtime_t timeout)
{
    if (count < 1)
        return B_BAD_VALUE;
    thread_record& self = current();
    std::unique_lock<std::mutex> locked(lock());
    std::shared_ptr<semaphore> sem = find_locked(id);
    if (sem == nullptr)
        return B_BAD_SEM_ID;
    if (self.killed.load(std::memory_order_relaxed))
        return B_INTERRUPTED;
    if (sem->waiters.empty() && sem->count >= count) {
        sem->count -= count;
        return B_OK;
    }

    bigtime_t deadline = deadline_for(flags, timeout);
    if (deadline != B_INFINITE_TIMEOUT && deadline <= system_time())
        return B_WOULD_BLOCK;

    waiter me{&self, count};
    auto position = sem->waiters.insert(sem->waiters.end(), &me);
    status_t status = wait(locked, self, deadline, [&] { return me.granted || sem->deleted; });
    if (me.granted)
        return B_OK;
    if (sem->deleted)
        return B_BAD_SEM_ID;
    // Timed out or interrupted: leave the queue; those behind may now fit.
    sem->waiters.erase(position);
    grant_locked(*sem);
    return status;
}

status_t release_sem(sem_id id)
{
    return release_sem_etc(id, 1, 0);
}

status_t release_sem_etc(sem_id id, int32 count, uint32 /*flags*/)
{
    if (count < 1)
        return B_BAD_VALUE;
    std::lock_guard<std::mutex> locked(lock());
    std::shared_ptr<semaphore> sem = find_locked(id);
    if (sem == nullptr)
        return B_BAD_SEM_ID;
    if (sem->count > INT32_MAX - count)
        return B_BAD_VALUE;
    sem->count += count;
    grant_locked(*sem);
    return B_OK;
}

status_t get_sem_count(sem_id id, int32* count)
{
    if (count == nullptr)
        return B_BAD_VALUE;
    std::lock_guard<std::mutex> locked(lock());
    std::shared_ptr<semaphore> sem = find_locked(id);
    if (sem == nullptr)
        return B_BAD_SEM_ID;
    // The free units less those the blocked waiters want: negative while
    // anyone waits.
    int64 value = sem->count;
    for (const waiter* w : sem->waiters)
        value -= w->count;
    *count = int32(max_c<int64>(value, INT32_MIN));
    return B_OK;
}
