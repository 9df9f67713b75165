// Running module code from the host, and stopping it from another thread.
//
// Every host thread that calls into a module gets an execution context of
// its own on first use: an x86-32 emulator over the module address space, a
// 1 MiB stack and its thread block (FS). Calls nest: a replacement function
// that runs on behalf of module code may call module code again.
#pragma once

#include "platform/kernel/OS.h"
#include "platform/support/SupportDefs.h"

#include <initializer_list>

// Calls the function at `address` with the Win32 stdcall convention and
// 32-bit arguments (pushed right to left) and returns when it returns. A
// cdecl function may be called the same way: the stack is reset afterwards.
// `result` (may be null) receives EAX, `result64` EDX:EAX.
//
// B_OK; B_INTERRUPTED when a stop was requested for this thread (before or
// during the call); B_BAD_ADDRESS when the module faulted (one line on
// stderr names the module, the address and, for an unresolved import, its
// name); B_NO_MEMORY when no context or no stack room could be had.
status_t call_module(uint32 address, const uint32* args, size_t count, uint32* result,
                     uint64* result64 = nullptr);

inline status_t call_module(uint32 address, std::initializer_list<uint32> args,
                            uint32* result = nullptr)
{
    return call_module(address, args.begin(), args.size(), result);
}

// For a process whose window is guarded (module_space_guard: the codec
// host): module code then reads its memory with no page lookup, and a read
// of a page the host has closed faults on the host; this SIGSEGV handler
// turns such a fault back into the module's own, reported as ever. Any
// other fault goes to the handler there was before. Call once, before
// module code runs.
status_t install_module_fault_handler();

// For replacements: ends the module call they run for as a fault once they
// return (call_module gives B_BAD_ADDRESS; one line on stderr names the
// calling module and `reason`, a string that outlives the call).
void module_call_abort(const char* reason);

// For replacements, after reporting why: ends the whole module call they run
// for, every nested level of it, as a fault (B_BAD_ADDRESS), with nothing
// more on stderr. Nothing happens outside module calls.
void module_call_end_all();

// How long request_module_stop waits for module code to reach an import
// call or return before it stops the emulator from outside.
constexpr bigtime_t kModuleStopGracePeriod = 200000;

// Asks `thread` to stop running module code; callable from any thread. The
// running call ends with B_INTERRUPTED at the module's next import call or
// when it returns, whichever comes first; a thread busy in a replacement
// function stops when that returns. Module code that makes no import call
// for kModuleStopGracePeriod is stopped from outside. Every later
// call_module on that thread fails with B_INTERRUPTED at once. Returns after
// the module code has stopped or left for host code (or the grace period has
// run out and the emulator was told to stop), B_BAD_THREAD_ID when the
// thread has never run module code.
status_t request_module_stop(thread_id thread);

// True when a stop was requested for the calling thread.
bool module_stop_requested();

// Where the calling thread's outermost running module call entered module
// code; 0 when it runs none.
uint32 module_call_entry();

// How many module calls have ended as faults in this process, on any
// thread (limits gone over included).
uint32 module_faults();

// For measurements only: runs module code that makes no import calls in a
// bare emulator (no hooks, thread block or stop requests) on this thread.
status_t call_module_bare(uint32 address, const uint32* args, size_t count, uint32* result);
