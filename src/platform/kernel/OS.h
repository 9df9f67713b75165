// The kernel kit: threads, semaphores, memory areas in the module address
// space, thread-local storage, time.
//
// thread_id values are Linux thread ids (gettid()), so every thread has one,
// whether the platform spawned it or not.
#pragma once

#include "platform/support/SupportDefs.h"

typedef int32 thread_id;
typedef int32 sem_id;
typedef int32 area_id;
typedef int32 (*thread_func)(void* data);

#define B_OS_NAME_LENGTH 32

// ---- threads --------------------------------------------------------------

enum {
    B_IDLE_PRIORITY = 0,
    B_LOWEST_ACTIVE_PRIORITY = 1,
    B_LOW_PRIORITY = 5,
    B_NORMAL_PRIORITY = 10,
    B_DISPLAY_PRIORITY = 15,
    B_URGENT_DISPLAY_PRIORITY = 20,
    B_REAL_TIME_DISPLAY_PRIORITY = 100,
    B_URGENT_PRIORITY = 110,
    B_REAL_TIME_PRIORITY = 120,
};

// The new thread is created suspended; resume_thread starts it.
thread_id spawn_thread(thread_func function, const char* name, int32 priority, void* data);
status_t resume_thread(thread_id thread);
// Cooperative: marks the thread killed, wakes it from any platform wait
// (which then returns B_INTERRUPTED) and runs its interrupt hook. The thread
// ends at its next check of has_kill_request().
status_t kill_thread(thread_id thread);
status_t wait_for_thread(thread_id thread, status_t* exitValue);
// With a null name, the calling thread.
thread_id find_thread(const char* name);
status_t rename_thread(thread_id thread, const char* name);

// True when kill_thread was called on the calling thread.
bool has_kill_request();

// Called by kill_thread, on the killer's thread, for a thread that set one:
// lets a thread that runs foreign code (an emulated module) be stopped.
typedef void (*thread_interrupt_hook)(thread_id thread, void* cookie);
void set_thread_interrupt_hook(thread_interrupt_hook hook, void* cookie);

// ---- semaphores -----------------------------------------------------------

enum {
    B_CAN_INTERRUPT = 0x01,
    B_DO_NOT_RESCHEDULE = 0x02,
    B_TIMEOUT = 0x08,
    B_RELATIVE_TIMEOUT = 0x08,
    B_ABSOLUTE_TIMEOUT = 0x10,
};

sem_id create_sem(int32 count, const char* name);
// Wakes every waiter, whose acquire then returns B_BAD_SEM_ID.
status_t delete_sem(sem_id sem);
status_t acquire_sem(sem_id sem);
// A zero relative timeout polls (B_WOULD_BLOCK); B_TIMED_OUT when the time
// passes; B_INTERRUPTED when the waiting thread is killed.
status_t acquire_sem_etc(sem_id sem, int32 count, uint32 flags, bigtime_t timeout);
status_t release_sem(sem_id sem);
status_t release_sem_etc(sem_id sem, int32 count, uint32 flags);
status_t get_sem_count(sem_id sem, int32* count);

// ---- time -----------------------------------------------------------------

enum { B_SYSTEM_TIMEBASE = 0 };

// Microseconds of a monotonic clock.
bigtime_t system_time();
status_t snooze(bigtime_t microseconds);
status_t snooze_until(bigtime_t time, int timeBase);

// ---- system ---------------------------------------------------------------

typedef struct {
    int32 cpu_count;
    int32 cpu_type;
    int32 cpu_revision;
    int64 max_pages;
    int64 used_pages;
} system_info;

status_t get_system_info(system_info* info);

// ---- areas: memory inside the module address space ------------------------

enum {
    B_ANY_ADDRESS = 0,
    B_EXACT_ADDRESS = 1,
};

enum {
    B_NO_LOCK = 0,
    B_LAZY_LOCK = 1,
    B_FULL_LOCK = 2,
    B_CONTIGUOUS = 3,
};

enum {
    B_READ_AREA = 1,
    B_WRITE_AREA = 2,
    B_EXECUTE_AREA = 4,
};

#define B_PAGE_SIZE 4096

// Areas lie in the module address space (platform/kernel/ModuleSpace.h). Sizes are
// rounded up to whole pages; a new area reads as zeros. The protection is
// kept as given and reported back, but module code may read, write and run
// every area: Windows modules ask for execute-only or read-only memory and
// still run from it.
area_id create_area(const char* name, void** startAddress, uint32 addressSpec, size_t size,
                    uint32 lock, uint32 protection);
status_t delete_area(area_id area);
area_id area_for(void* address);

typedef struct {
    area_id area;
    char name[B_OS_NAME_LENGTH];
    size_t size;
    uint32 lock;
    uint32 protection;
    void* address;
} area_info;

status_t get_area_info(area_id area, area_info* info);

// ---- thread-local storage -------------------------------------------------

// Slots live in the calling thread's thread block inside the module address
// space, where module code reads them too (fs:[0x2C]). B_TLS_SLOT_COUNT
// slots in all; tls_allocate gives the lowest free one (reading as null on
// every thread) or B_NO_MEMORY when none is left, tls_free gives one back
// (false for an index not in use). An index not in use reads as null and
// is not written.
#define B_TLS_SLOT_COUNT 64

// Values are 32 bits wide, as module code reads them: store module
// addresses or numbers, never host pointers outside the window.
int32 tls_allocate();
bool tls_free(int32 index);
void* tls_get(int32 index);
uint32* tls_address(int32 index);
void tls_set(int32 index, void* value);
