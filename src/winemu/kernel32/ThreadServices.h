// Replacements: threads, thread-local storage and the clock.
#pragma once

#include "platform/support/SupportDefs.h"

// CreateThread's flag for a thread that does not start yet.
constexpr uint32 kCreateSuspended = 0x04;
// TlsAlloc's failure value.
constexpr uint32 kTlsOutOfIndexes = 0xFFFFFFFF;

// The start routine (stdcall, one argument) runs on a new platform thread
// named "thread" with an execution context of its own; its result is the
// platform thread's exit status (a failed module call gives the call's
// status). Returns a 'THRD' handle, or 0 when a pointer is bad or no thread
// could be made.
uint32 exp_CreateThread(uint32 security, uint32 stackSize, uint32 start, uint32 parameter,
                        uint32 flags, uint32 threadId);
uint32 exp_GetCurrentThreadId();
uint32 exp_GetCurrentProcessId();
void exp_Sleep(uint32 milliseconds);

uint32 exp_TlsAlloc();
uint32 exp_TlsSetValue(uint32 index, uint32 value);
uint32 exp_TlsGetValue(uint32 index);
uint32 exp_TlsFree(uint32 index);

uint32 exp_timeGetTime();
uint32 exp_GetTickCount();
uint32 exp_QueryPerformanceCounter(uint32 counter);
uint32 exp_QueryPerformanceFrequency(uint32 frequency);
