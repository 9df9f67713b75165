// Replacements: events, semaphores, waiting, handles and critical sections.
//
// Events and semaphores are platform semaphores behind kernel objects
// (winemu/KernelObjects.h). An event counts: each SetEvent lets one more
// wait through. Misuse (a handle of the wrong kind, a previous-count
// pointer, a timed wait for a thread, a critical section that was never
// initialised) is reported through _debuggerAssert with the source
// "pe_patches"; the call then fails without touching any other object.
#pragma once

#include "platform/support/SupportDefs.h"

// Atomic on the 32-bit value at a module address (also against other
// threads' module code); 0 when the address is outside the window.
uint32 exp_InterlockedIncrement(uint32 address);
uint32 exp_InterlockedDecrement(uint32 address);
uint32 exp_InterlockedExchange(uint32 address, uint32 value);
uint32 exp_InterlockedCompareExchange(uint32 address, uint32 value, uint32 comparand);

// Win32 wait results and the infinite timeout.
constexpr uint32 kWaitObject0 = 0;
constexpr uint32 kWaitTimeout = 0x102;
constexpr uint32 kWaitFailed = 0xFFFFFFFF;
constexpr uint32 kInfinite = 0xFFFFFFFF;

uint32 exp_CreateEventA(uint32 security, uint32 manualReset, uint32 initialState, uint32 name);
uint32 exp_SetEvent(uint32 event);
uint32 exp_CreateSemaphoreA(uint32 security, int32 initial, int32 maximum, uint32 name);
uint32 exp_ReleaseSemaphore(uint32 semaphore, int32 count, uint32 previous);
uint32 exp_WaitForSingleObject(uint32 handle, uint32 milliseconds);
uint32 exp_CloseHandle(uint32 handle);

// A CRITICAL_SECTION is the module's own 24 bytes; only the word at offset
// 20 is used, for the address of a BLocker on the module heap.
constexpr uint32 kCriticalSectionSize = 24;
constexpr uint32 kCriticalSectionLocker = 20;

void exp_InitializeCriticalSection(uint32 section);
void exp_EnterCriticalSection(uint32 section);
void exp_LeaveCriticalSection(uint32 section);
void exp_DeleteCriticalSection(uint32 section);
