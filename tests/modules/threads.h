/* Threads, synchronisation, TLS and clock imports, declared as the Windows
   headers would. */
#ifndef TEST_MODULES_THREADS_H
#define TEST_MODULES_THREADS_H

#include "imports.h"

typedef unsigned long long uint64_t;

typedef struct {
    uint32_t words[6];
} CRITICAL_SECTION;

typedef uint32_t(WINAPI* THREAD_START)(void* parameter);

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_TIMEOUT 0x102u
#define WAIT_FAILED 0xFFFFFFFFu
#define CREATE_SUSPENDED 0x4u

IMPORT void* WINAPI CreateThread(void* security, uint32_t stackSize, THREAD_START start,
                                 void* parameter, uint32_t flags, uint32_t* threadId);
IMPORT uint32_t WINAPI WaitForSingleObject(void* handle, uint32_t milliseconds);
IMPORT int WINAPI CloseHandle(void* handle);
IMPORT uint32_t WINAPI GetCurrentThreadId(void);
IMPORT void WINAPI Sleep(uint32_t milliseconds);

IMPORT void* WINAPI CreateEventA(void* security, int manualReset, int initialState,
                                 const char* name);
IMPORT int WINAPI SetEvent(void* event);
IMPORT void* WINAPI CreateSemaphoreA(void* security, int initial, int maximum, const char* name);
IMPORT int WINAPI ReleaseSemaphore(void* semaphore, int count, int* previous);

IMPORT void WINAPI InitializeCriticalSection(CRITICAL_SECTION* section);
IMPORT void WINAPI EnterCriticalSection(CRITICAL_SECTION* section);
IMPORT void WINAPI LeaveCriticalSection(CRITICAL_SECTION* section);
IMPORT void WINAPI DeleteCriticalSection(CRITICAL_SECTION* section);

IMPORT uint32_t WINAPI TlsAlloc(void);
IMPORT int WINAPI TlsSetValue(uint32_t index, void* value);
IMPORT void* WINAPI TlsGetValue(uint32_t index);
IMPORT int WINAPI TlsFree(uint32_t index);

IMPORT uint32_t WINAPI timeGetTime(void);
IMPORT int WINAPI QueryPerformanceCounter(uint64_t* counter);
IMPORT int WINAPI QueryPerformanceFrequency(uint64_t* frequency);

#endif
