// The objects behind the event, semaphore and thread handles that the
// replacements give to modules.
//
// A handle is the module address of a small tagged object on the module
// heap, as Win32 code expects a handle to be a plain 32-bit value. The host
// keeps its own record of each object it made and trusts only that: a
// module may pass any number as a handle, or scribble over the object, and
// still reach nothing but the platform objects its own handles own.
#pragma once

#include "platform/kernel/OS.h"
#include "platform/support/SupportDefs.h"

#include <atomic>

// What a module sees behind a handle.
struct kernel_object_t {
    uint32 tag;
    int32 id; // the sem_id or thread_id
};
static_assert(sizeof(kernel_object_t) == 8);

constexpr uint32 kEventTag = 0x45564E54;     // 'EVNT'
constexpr uint32 kSemaphoreTag = 0x53454D41; // 'SEMA'
constexpr uint32 kThreadTag = 0x54485244;    // 'THRD'

// The host's copy, never freed (handles live as long as the process).
struct kernel_record {
    uint32 tag = 0;
    int32 id = -1;
    // Threads: the module's start routine and its argument.
    uint32 start = 0;
    uint32 parameter = 0;
    // Threads: the module whose call made it (ModuleLimits.h).
    uint32 module = 0;
    // Threads: set once a wait has collected the thread, whose id the
    // platform may then give to another thread.
    std::atomic<bool> collected{false};
};

// A new object on the module heap, still unregistered; null when the heap
// is full.
kernel_object_t* allocate_kernel_object();

// Fills `object` from `record` (tag and id must be set), files the record
// under the object's address and returns that address, the handle. Takes
// ownership of the record.
uint32 register_kernel_object(kernel_object_t* object, kernel_record* record);

// The record behind a handle, or null when the handle is not one that
// register_kernel_object returned.
kernel_record* find_kernel_object(uint32 handle);
