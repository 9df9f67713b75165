// What one module may use of the host: threads alive, VirtualAlloc memory,
// heap blocks, nesting of host-to-module calls, registry data, TLS slots. A module is the loaded
// image that the calling thread's outermost module call entered. A module
// that goes over a limit has its call fail, and the whole module call ends
// as a fault (the player then goes on without its sound); the first time,
// one line on stderr says which limit.
#pragma once

#include "platform/kernel/OS.h"
#include "platform/support/SupportDefs.h"

#include <string>

constexpr int32 kModuleThreadLimit = 64;
// Two limits on VirtualAlloc: the bytes of all areas alive and their number
// (each is a host record and a mapping).
constexpr uint64 kModuleVirtualBytesLimit = 256ull * 1024 * 1024;
constexpr int32 kModuleVirtualAreaLimit = 1024;
// Events, semaphores and critical sections alive (each holds host memory
// and a platform object; events and semaphores live as long as the
// process).
constexpr int32 kModuleObjectLimit = 4096;
// Host-to-module calls nested on one thread (each level costs host stack).
constexpr int32 kModuleCallDepthLimit = 16;
// Registry data (RegistryAPI.h): each value, and all that a module of one
// name adds over the process's life, loads and unloads included.
constexpr uint32 kModuleRegistryValueLimit = 1024 * 1024;
constexpr uint64 kModuleRegistryLimit = 16 * 1024 * 1024;

// Heap blocks alive (each costs host bookkeeping, some 100 bytes at worst
// with the free range beside it).
constexpr size_t kModuleHeapBlockLimit = 1 << 18;
// TLS slots one module may hold (of B_TLS_SLOT_COUNT for the process), so
// that no module takes them all from the others.
constexpr int32 kModuleTlsSlotLimit = 16;

enum module_limit {
    kLimitThreads,
    kLimitObjects,
    kLimitVirtualMemory,
    kLimitCallDepth,
    kLimitRegistryValue,
    kLimitRegistryTotal,
    kLimitHeapBlocks,
    kLimitCount,
};

// Reports (once per module and limit) and ends the calling module call as a
// fault (module_call_end_all). `address` names the module: any address in
// its image.
void module_limit_reached(module_limit limit, uint32 address);

// The image base of the module the calling thread runs for; 0 outside
// module calls or for code outside every image.
uint32 calling_module();

// A thread for `module` may start: false after reporting when it has
// kModuleThreadLimit alive. module_thread_ended when it ends.
bool module_thread_starting(uint32 module);
// The thread that started is `thread` (ended with the module's last copy);
// module_thread_ended on that thread as it ends.
void module_thread_started(uint32 module, thread_id thread);
void module_thread_ended(uint32 module);

// An event, semaphore or critical section for `module` may be made: false
// after reporting when it has kModuleObjectLimit. module_object_removed
// when one goes.
bool module_object_adding(uint32 module);
void module_object_removed(uint32 module);

// An area of `size` bytes for `module` may be made: false after reporting
// when it would go over either VirtualAlloc limit. Each area accepted is
// given back with module_area_deleted (same size) or forgotten with the
// module.
bool module_area_adding(uint32 module, uint64 size);
void module_area_deleted(uint32 module, uint64 size);

// A TLS slot for `module`: its index, or -1 when the module holds
// kModuleTlsSlotLimit slots or none is left (TlsAlloc's out-of-indexes, no
// fault). module_tls_free gives one back; false when `module` does not
// hold `index`. A module's slots go back when it is unloaded.
int32 module_tls_allocate(uint32 module);
bool module_tls_free(uint32 module, int32 index);

// The module at `base` was unloaded: its counts, reports and TLS slots go.
void forget_module_limits(uint32 base);

// What the module of file `name` added to the registry in earlier runs (a
// codec host is told at start): it counts against its registry limit.
void module_registry_usage_preset(const std::string& name, uint64 bytes);
