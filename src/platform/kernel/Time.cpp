// Time and system facts of the kernel kit.

#include "platform/kernel/KernelPrivate.h"

#include <cpuid.h>
#include <ctime>
#include <sys/sysinfo.h>
#include <unistd.h>

using namespace kernel;

bigtime_t system_time()
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return bigtime_t(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

status_t snooze_until(bigtime_t time, int timeBase)
{
    if (timeBase != B_SYSTEM_TIMEBASE)
        return B_BAD_VALUE;
    thread_record& self = current();
    std::unique_lock<std::mutex> locked(lock());
    status_t status = wait(locked, self, time, [] { return false; });
    return status == B_TIMED_OUT ? B_OK : status;
}

status_t snooze(bigtime_t microseconds)
{
    if (microseconds < 0)
        return B_BAD_VALUE;
    bigtime_t now = system_time();
    bigtime_t until =
        microseconds >= B_INFINITE_TIMEOUT - now ? B_INFINITE_TIMEOUT : now + microseconds;
    return snooze_until(until, B_SYSTEM_TIMEBASE);
}

status_t get_system_info(system_info* info)
{
    if (info == nullptr)
        return B_BAD_VALUE;
    *info = {};
    // Read once: the C library reads a file for it, which a codec host may
    // no longer open.
    static const long sCpus = sysconf(_SC_NPROCESSORS_ONLN);
    info->cpu_count = sCpus > 0 ? int32(sCpus) : 1;
    // The processor signature (leaf 1, EAX): stepping in bits 0-3, model in
    // 4-7, family in 8-11, and the extended model and family above.
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        info->cpu_revision = int32(eax);
        info->cpu_type = int32((eax >> 8) & 0xF);
    }
    struct sysinfo memory;
    if (sysinfo(&memory) == 0) {
        uint64 unit = memory.mem_unit != 0 ? memory.mem_unit : 1;
        info->max_pages = int64(uint64(memory.totalram) * unit / B_PAGE_SIZE);
        info->used_pages = int64(uint64(memory.totalram - memory.freeram) * unit / B_PAGE_SIZE);
    }
    return B_OK;
}
