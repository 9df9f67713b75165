#include "winemu/cpu/ModuleLimits.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"
#include "registry/RegistryAPI.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/loader/pe_add_on.h"

#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{

struct module_usage {
    int32 threads = 0;
    std::vector<thread_id> threadIds; // its threads alive, to end with it
    int32 objects = 0;
    uint64 virtualBytes = 0;
    int32 virtualAreas = 0;
    uint64 tlsSlots = 0; // one bit per slot held
    bool reported[kLimitCount] = {};
};

struct usage_table {
    std::mutex lock;
    std::unordered_map<uint32, module_usage> byBase;
};

usage_table& usages()
{
    static usage_table* sTable = new usage_table;
    return *sTable;
}

const char* limit_text(module_limit limit)
{
    switch (limit) {
    case kLimitThreads:
        return "limit of 64 threads alive";
    case kLimitObjects:
        return "limit of 4096 events, semaphores and critical sections";
    case kLimitVirtualMemory:
        return "limit of 256 MiB or 1024 areas from VirtualAlloc";
    case kLimitCallDepth:
        return "limit of 16 nested calls";
    case kLimitRegistryValue:
        return "limit of 1 MiB per registry value";
    case kLimitRegistryTotal:
        return "limit of 16 MiB of registry data";
    case kLimitHeapBlocks:
        return "limit of 262144 heap blocks alive";
    default:
        return "limit";
    }
}

// Registry data added by module name: it outlives the module's image.
struct registry_usage {
    std::mutex lock;
    std::unordered_map<std::string, uint64> byName;
};

registry_usage& registry_usages()
{
    static registry_usage* sUsage = new registry_usage;
    return *sUsage;
}

bool registry_write(uint32 valueSize, int64 growth)
{
    uint32 entry = module_call_entry();
    if (entry == 0)
        return true; // the host's own
    if (valueSize > kModuleRegistryValueLimit) {
        module_limit_reached(kLimitRegistryValue, entry);
        return false;
    }
    // By name, without the loader's lock: the registry's is held.
    std::string name = pe_image_name_at(entry);
    registry_usage* sUsage = &registry_usages();
    {
        std::lock_guard<std::mutex> locked(sUsage->lock);
        uint64& added = sUsage->byName[name];
        if (growth <= 0) {
            added -= min_c(added, uint64(-growth));
            return true;
        }
        if (uint64(growth) <= kModuleRegistryLimit - added) {
            added += uint64(growth);
            return true;
        }
    }
    module_limit_reached(kLimitRegistryTotal, entry);
    return false;
}

[[maybe_unused]] const bool kRegistryHandlerSet = [] {
    set_registry_write_handler(registry_write);
    return true;
}();

// Heap blocks are charged to the module the calling thread runs for.
uint32 heap_owner()
{
    uint32 entry = module_call_entry();
    return entry != 0 ? pe_image_base_at(entry) : 0;
}

void heap_refused(uint32 owner)
{
    module_limit_reached(kLimitHeapBlocks, owner);
}

[[maybe_unused]] const bool kHeapOwnersSet = [] {
    set_module_heap_owners(heap_owner, heap_refused, kModuleHeapBlockLimit);
    return true;
}();

} // namespace

void module_registry_usage_preset(const std::string& name, uint64 bytes)
{
    registry_usage& usage = registry_usages();
    std::lock_guard<std::mutex> locked(usage.lock);
    usage.byName[name] = bytes;
}

uint32 calling_module()
{
    return pe_image_base_at(module_call_entry());
}

void module_limit_reached(module_limit limit, uint32 address)
{
    uint32 base = pe_image_base_at(address);
    bool first;
    {
        usage_table& t = usages();
        std::lock_guard<std::mutex> locked(t.lock);
        module_usage& usage = t.byBase[base];
        first = !usage.reported[limit];
        usage.reported[limit] = true;
    }
    if (first) {
        std::string name = pe_image_name_at(address);
        fprintf(stderr, "module '%s' went over its %s\n", name.c_str(), limit_text(limit));
    }
    module_call_end_all();
}

bool module_thread_starting(uint32 module)
{
    {
        usage_table& t = usages();
        std::lock_guard<std::mutex> locked(t.lock);
        module_usage& usage = t.byBase[module];
        if (usage.threads < kModuleThreadLimit) {
            usage.threads++;
            return true;
        }
    }
    module_limit_reached(kLimitThreads, module);
    return false;
}

void module_thread_started(uint32 module, thread_id thread)
{
    usage_table& t = usages();
    std::lock_guard<std::mutex> locked(t.lock);
    auto found = t.byBase.find(module);
    if (found != t.byBase.end())
        found->second.threadIds.push_back(thread);
}

void module_thread_ended(uint32 module)
{
    thread_id self = find_thread(nullptr);
    usage_table& t = usages();
    std::lock_guard<std::mutex> locked(t.lock);
    auto found = t.byBase.find(module);
    if (found == t.byBase.end())
        return;
    if (found->second.threads > 0)
        found->second.threads--;
    std::vector<thread_id>& ids = found->second.threadIds;
    for (size_t i = 0; i < ids.size(); i++) {
        if (ids[i] == self) {
            ids.erase(ids.begin() + ptrdiff_t(i));
            break;
        }
    }
}

bool module_object_adding(uint32 module)
{
    {
        usage_table& t = usages();
        std::lock_guard<std::mutex> locked(t.lock);
        module_usage& usage = t.byBase[module];
        if (usage.objects < kModuleObjectLimit) {
            usage.objects++;
            return true;
        }
    }
    module_limit_reached(kLimitObjects, module);
    return false;
}

void module_object_removed(uint32 module)
{
    usage_table& t = usages();
    std::lock_guard<std::mutex> locked(t.lock);
    auto found = t.byBase.find(module);
    if (found != t.byBase.end() && found->second.objects > 0)
        found->second.objects--;
}

bool module_area_adding(uint32 module, uint64 size)
{
    {
        usage_table& t = usages();
        std::lock_guard<std::mutex> locked(t.lock);
        module_usage& usage = t.byBase[module];
        if (usage.virtualAreas < kModuleVirtualAreaLimit &&
            size <= kModuleVirtualBytesLimit - usage.virtualBytes) {
            usage.virtualAreas++;
            usage.virtualBytes += size;
            return true;
        }
    }
    module_limit_reached(kLimitVirtualMemory, module);
    return false;
}

void module_area_deleted(uint32 module, uint64 size)
{
    usage_table& t = usages();
    std::lock_guard<std::mutex> locked(t.lock);
    auto found = t.byBase.find(module);
    if (found == t.byBase.end() || found->second.virtualAreas == 0)
        return;
    found->second.virtualAreas--;
    found->second.virtualBytes -= min_c(size, found->second.virtualBytes);
}

int32 module_tls_allocate(uint32 module)
{
    usage_table& t = usages();
    std::lock_guard<std::mutex> locked(t.lock);
    module_usage& usage = t.byBase[module];
    if (__builtin_popcountll(usage.tlsSlots) >= kModuleTlsSlotLimit)
        return -1;
    int32 index = tls_allocate();
    if (index < 0)
        return -1;
    usage.tlsSlots |= uint64(1) << index;
    return index;
}

bool module_tls_free(uint32 module, int32 index)
{
    if (index < 0 || index >= B_TLS_SLOT_COUNT)
        return false;
    usage_table& t = usages();
    std::lock_guard<std::mutex> locked(t.lock);
    auto found = t.byBase.find(module);
    if (found == t.byBase.end() || (found->second.tlsSlots & (uint64(1) << index)) == 0)
        return false;
    found->second.tlsSlots &= ~(uint64(1) << index);
    tls_free(index);
    return true;
}

void forget_module_limits(uint32 base)
{
    // Blocks it leaves behind are the host's (whoever frees them later).
    module_heap_forget_owner(base);
    std::vector<thread_id> threads;
    {
        usage_table& t = usages();
        std::lock_guard<std::mutex> locked(t.lock);
        auto found = t.byBase.find(base);
        if (found == t.byBase.end())
            return;
        threads = found->second.threadIds;
    }
    // Its threads end with it: they would run code that is gone, and, with
    // its counts forgotten, a module that loads and frees itself again and
    // again would start threads without a limit. Not the calling thread:
    // it may be one of them, letting go of its own module as it ends.
    thread_id self = find_thread(nullptr);
    for (thread_id thread : threads) {
        if (thread != self)
            kill_thread(thread);
    }
    usage_table& t = usages();
    std::lock_guard<std::mutex> locked(t.lock);
    auto found = t.byBase.find(base);
    if (found == t.byBase.end())
        return;
    // Slots a module never freed would otherwise be lost to every module
    // loaded after it.
    for (int32 index = 0; index < B_TLS_SLOT_COUNT; index++) {
        if ((found->second.tlsSlots & (uint64(1) << index)) != 0)
            tls_free(index);
    }
    t.byBase.erase(found);
}
