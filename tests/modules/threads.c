/* Threads, events, semaphores, critical sections, TLS and the clock, used
   from module code as a codec uses them. Each scenario writes what it saw
   into the results array the host passes, which the host then checks. */
#include "threads.h"

#define TAG_EVENT 0x45564E54u
#define TAG_SEMAPHORE 0x53454D41u
#define TAG_THREAD 0x54485244u

static uint64_t now_us(void)
{
    uint64_t counter = 0;
    QueryPerformanceCounter(&counter);
    return counter;
}

static uint32_t since(uint64_t start)
{
    return (uint32_t)(now_us() - start);
}

/* ---- events and semaphores ---------------------------------------------- */

static uint32_t WINAPI SetLater(void* event)
{
    Sleep(20);
    return SetEvent(event);
}

static uint32_t WINAPI ReleaseLater(void* semaphore)
{
    Sleep(20);
    return ReleaseSemaphore(semaphore, 1, 0);
}

EXPORT void WINAPI Events(uint32_t* r)
{
    void* event = CreateEventA(0, 0, 0, 0);
    r[0] = event != 0;
    r[1] = WaitForSingleObject(event, 0);
    r[2] = SetEvent(event);
    r[3] = WaitForSingleObject(event, 0);
    r[4] = WaitForSingleObject(event, 0);
    /* Events count: two sets let two waits through. */
    SetEvent(event);
    SetEvent(event);
    r[5] = WaitForSingleObject(event, 0);
    r[6] = WaitForSingleObject(event, 0);
    r[7] = WaitForSingleObject(event, 0);
    /* Created signalled (manual reset is not honoured): one wait. */
    void* signalled = CreateEventA(0, 1, 1, "signalled event");
    r[8] = WaitForSingleObject(signalled, 0);
    r[9] = WaitForSingleObject(signalled, 0);
    uint64_t start = now_us();
    r[10] = WaitForSingleObject(event, 50);
    r[11] = since(start);
    /* Set by another thread while this one waits. */
    void* setter = CreateThread(0, 0, SetLater, event, 0, 0);
    start = now_us();
    r[12] = WaitForSingleObject(event, INFINITE);
    r[13] = since(start);
    r[14] = WaitForSingleObject(setter, INFINITE);
    /* Closing ends nothing. */
    r[15] = CloseHandle(event);
    r[16] = SetEvent(event);
    r[17] = WaitForSingleObject(event, 0);
    /* Any non-zero BOOL is "signalled", and signals once. */
    void* minusOne = CreateEventA(0, 0, -1, 0);
    r[18] = WaitForSingleObject(minusOne, 0);
    r[19] = WaitForSingleObject(minusOne, 0);
}

EXPORT void WINAPI Semaphores(uint32_t* r)
{
    void* semaphore = CreateSemaphoreA(0, 2, 1, "counting");
    r[0] = semaphore != 0;
    r[1] = WaitForSingleObject(semaphore, 0);
    r[2] = WaitForSingleObject(semaphore, 0);
    r[3] = WaitForSingleObject(semaphore, 0);
    /* The maximum is not enforced. */
    r[4] = ReleaseSemaphore(semaphore, 3, 0);
    r[5] = WaitForSingleObject(semaphore, 0);
    r[6] = WaitForSingleObject(semaphore, 0);
    r[7] = WaitForSingleObject(semaphore, 0);
    r[8] = WaitForSingleObject(semaphore, 0);
    uint64_t start = now_us();
    r[9] = WaitForSingleObject(semaphore, 50);
    r[10] = since(start);
    void* releaser = CreateThread(0, 0, ReleaseLater, semaphore, 0, 0);
    start = now_us();
    r[11] = WaitForSingleObject(semaphore, 5000);
    r[12] = since(start);
    r[13] = WaitForSingleObject(releaser, INFINITE);
    /* Counts that cannot be: nothing is made or released. */
    r[14] = (uint32_t)CreateSemaphoreA(0, -1, 1, 0);
    r[15] = ReleaseSemaphore(semaphore, 0, 0);
    r[16] = ReleaseSemaphore(semaphore, -2, 0);
    r[17] = WaitForSingleObject(semaphore, 0);
    r[18] = CloseHandle(semaphore);
}

/* ---- threads ------------------------------------------------------------ */

static volatile uint32_t sWorkerThread;
static volatile uint32_t sWorkerSaw;
static volatile uint32_t sSuspendedRan;

static uint32_t WINAPI Worker(void* parameter)
{
    sWorkerThread = GetCurrentThreadId();
    sWorkerSaw = (uint32_t)parameter;
    Sleep(10);
    return (uint32_t)parameter + 1;
}

static uint32_t WINAPI SleepThen(void* milliseconds)
{
    Sleep((uint32_t)milliseconds);
    return 0;
}

static uint32_t WINAPI MarkRan(void* unused)
{
    (void)unused;
    sSuspendedRan = 1;
    return 0;
}

static uint32_t WINAPI WaitForThread(void* thread)
{
    return WaitForSingleObject(thread, INFINITE);
}

EXPORT void WINAPI Threads(uint32_t* r)
{
    uint32_t id = 0;
    void* thread = CreateThread(0, 0x10000, Worker, (void*)0x1234, 0, &id);
    r[0] = thread != 0;
    r[1] = id;
    r[2] = GetCurrentThreadId();
    r[3] = WaitForSingleObject(thread, INFINITE);
    r[4] = sWorkerThread;
    r[5] = sWorkerSaw;
    /* A thread that has ended and was waited for is still waitable. */
    r[6] = WaitForSingleObject(thread, INFINITE);
    r[7] = CloseHandle(thread);

    sWorkerSaw = 0;
    thread = CreateThread(0, 0, Worker, (void*)7, 0, 0);
    r[8] = thread != 0;
    r[9] = WaitForSingleObject(thread, INFINITE);
    r[10] = sWorkerSaw;

    /* Not waited for here: the host collects its exit status. */
    CreateThread(0, 0, Worker, (void*)0x41, 0, &id);
    r[11] = id;

    /* Suspended: never runs, as nothing here resumes it. */
    sSuspendedRan = 0;
    id = 0;
    thread = CreateThread(0, 0, MarkRan, 0, CREATE_SUSPENDED, &id);
    r[12] = thread != 0;
    r[13] = id;
    Sleep(50);
    r[14] = sSuspendedRan;

    /* A timed wait for a thread is reported and still lasts to its end. */
    thread = CreateThread(0, 0, SleepThen, (void*)60, 0, 0);
    uint64_t start = now_us();
    r[15] = WaitForSingleObject(thread, 10);
    r[16] = since(start);

    /* Several threads wait for one. */
    thread = CreateThread(0, 0, SleepThen, (void*)30, 0, 0);
    void* first = CreateThread(0, 0, WaitForThread, thread, 0, 0);
    void* second = CreateThread(0, 0, WaitForThread, thread, 0, 0);
    r[17] = WaitForSingleObject(first, INFINITE);
    r[18] = WaitForSingleObject(second, INFINITE);
    r[19] = WaitForSingleObject(thread, INFINITE);
}

static void* volatile sSelf;

static uint32_t WINAPI WaitForSelf(void* unused)
{
    (void)unused;
    while (sSelf == 0)
        Sleep(1);
    return WaitForSingleObject(sSelf, INFINITE);
}

static uint32_t WINAPI ReadNull(void* unused)
{
    (void)unused;
    return *(volatile uint32_t*)0;
}

/* A thread that waits for its own end; returns its id. */
EXPORT uint32_t WINAPI StartSelfWaiter(void)
{
    uint32_t id = 0;
    sSelf = 0;
    sSelf = CreateThread(0, 0, WaitForSelf, 0, 0, &id);
    return id;
}

/* A thread whose routine faults; returns its id. */
EXPORT uint32_t WINAPI StartFaulting(void)
{
    uint32_t id = 0;
    CreateThread(0, 0, ReadNull, 0, 0, &id);
    return id;
}

EXPORT uint32_t WINAPI SuspendedRan(void)
{
    return sSuspendedRan;
}

/* ---- critical sections -------------------------------------------------- */

static CRITICAL_SECTION sSection;
static volatile uint32_t sEntered;
static volatile uint32_t sCounter;

static uint32_t WINAPI EnterAndMark(void* unused)
{
    (void)unused;
    EnterCriticalSection(&sSection);
    sEntered = 1;
    LeaveCriticalSection(&sSection);
    return 0;
}

/* A read-modify-write with a pause in the middle: loses updates unless the
   section keeps the threads apart. */
static uint32_t WINAPI Increment(void* rounds)
{
    for (uint32_t i = 0; i < (uint32_t)rounds; i++) {
        EnterCriticalSection(&sSection);
        uint32_t value = sCounter;
        for (volatile int pause = 0; pause < 20; pause++) {
        }
        sCounter = value + 1;
        LeaveCriticalSection(&sSection);
    }
    return 0;
}

EXPORT void WINAPI CriticalSections(uint32_t* r)
{
    for (int i = 0; i < 6; i++)
        sSection.words[i] = 0xA0A0A000u + i;
    InitializeCriticalSection(&sSection);
    r[0] = 1;
    for (int i = 0; i < 5; i++)
        r[0] &= sSection.words[i] == 0xA0A0A000u + i;
    r[1] = sSection.words[5];

    /* Entered twice by this thread; another thread waits for both leaves. */
    EnterCriticalSection(&sSection);
    EnterCriticalSection(&sSection);
    sEntered = 0;
    void* thread = CreateThread(0, 0, EnterAndMark, 0, 0, 0);
    Sleep(40);
    r[2] = sEntered;
    LeaveCriticalSection(&sSection);
    Sleep(40);
    r[3] = sEntered;
    LeaveCriticalSection(&sSection);
    r[4] = WaitForSingleObject(thread, INFINITE);
    r[5] = sEntered;

    /* Contended by two threads at once. */
    sCounter = 0;
    void* a = CreateThread(0, 0, Increment, (void*)2000, 0, 0);
    void* b = CreateThread(0, 0, Increment, (void*)2000, 0, 0);
    WaitForSingleObject(a, INFINITE);
    WaitForSingleObject(b, INFINITE);
    r[6] = sCounter;

    /* Deleting frees the lock and leaves its token. */
    DeleteCriticalSection(&sSection);
    r[7] = sSection.words[5];
    r[8] = sSection.words[0];
}

/* ---- thread-local storage ----------------------------------------------- */

static uint32_t sSlot;

static uint32_t fs_slot(uint32_t index)
{
    uint32_t* slots;
    __asm__ volatile("movl %%fs:0x2C, %0" : "=r"(slots));
    return slots[index];
}

static uint32_t WINAPI TlsWorker(void* results)
{
    uint32_t* r = results;
    r[3] = (uint32_t)TlsGetValue(sSlot);
    r[4] = TlsSetValue(sSlot, (void*)0x2222);
    r[5] = (uint32_t)TlsGetValue(sSlot);
    r[6] = fs_slot(sSlot);
    return 0;
}

EXPORT void WINAPI Tls(uint32_t* r)
{
    sSlot = TlsAlloc();
    r[0] = sSlot;
    r[1] = TlsSetValue(sSlot, (void*)0x1111);
    r[2] = (uint32_t)TlsGetValue(sSlot);
    void* thread = CreateThread(0, 0, TlsWorker, r, 0, 0);
    WaitForSingleObject(thread, INFINITE);
    r[7] = (uint32_t)TlsGetValue(sSlot);
    r[8] = fs_slot(sSlot);
    r[9] = TlsFree(sSlot);
    r[10] = (uint32_t)TlsGetValue(1000);
    r[11] = TlsSetValue(1000, (void*)1);
    r[12] = TlsFree(1000);
    r[13] = TlsSetValue(0xFFFFFFFFu, (void*)1);
}

/* Allocates slots until none is left; returns how many it got. */
EXPORT uint32_t WINAPI AllocateAllSlots(uint32_t* last)
{
    uint32_t count = 0;
    for (int i = 0; i < 100; i++) {
        *last = TlsAlloc();
        if (*last == 0xFFFFFFFFu)
            break;
        count++;
    }
    return count;
}

/* ---- the clock ---------------------------------------------------------- */

EXPORT void WINAPI Clock(uint32_t* r)
{
    uint64_t frequency = 0, counter = 0, later = 0;
    r[0] = QueryPerformanceFrequency(&frequency);
    r[1] = (uint32_t)frequency;
    r[2] = (uint32_t)(frequency >> 32);
    r[3] = QueryPerformanceCounter(&counter);
    r[4] = timeGetTime();
    QueryPerformanceCounter(&later);
    r[5] = (uint32_t)counter;
    r[6] = (uint32_t)(counter >> 32);
    r[7] = (uint32_t)later;
    r[8] = (uint32_t)(later >> 32);
    /* Sleep sleeps at least as long as asked. */
    uint64_t start = now_us();
    uint32_t startMs = timeGetTime();
    Sleep(20);
    r[9] = since(start);
    r[10] = timeGetTime() - startMs;
    /* The 64-bit value may lie anywhere, aligned or not. */
    uint8_t bytes[12] = {0};
    r[11] = QueryPerformanceCounter((uint64_t*)(bytes + 1));
    r[12] = bytes[0] == 0 && bytes[9] == 0 && (bytes[1] | bytes[2] | bytes[3]) != 0;
}

/* ---- misuse: bad handles, bad pointers, forged objects ------------------- */

static volatile int sEntering;
static uint32_t WINAPI EnterGivenUp(void* section)
{
    sEntering = 1;
    EnterCriticalSection(section);
    return 0;
}

EXPORT void WINAPI BadArguments(uint32_t* r, int hostSemaphore)
{
    void* event = CreateEventA(0, 0, 0, 0);
    void* semaphore = CreateSemaphoreA(0, 0, 10, 0);
    /* Wrong kinds and unknown handles: reported, nothing released. */
    r[0] = SetEvent(0);
    r[1] = SetEvent(semaphore);
    r[2] = WaitForSingleObject(semaphore, 0);
    r[3] = ReleaseSemaphore(event, 1, 0);
    r[4] = WaitForSingleObject(event, 0);
    /* A previous-count pointer is reported and never written. */
    int previous = 0x5555;
    r[5] = ReleaseSemaphore(semaphore, 1, &previous);
    r[6] = (uint32_t)previous;
    r[7] = WaitForSingleObject(semaphore, 0);

    /* Forged objects: a copy of a real one, one naming a host semaphore,
       one naming this very thread. */
    uint32_t fake[2] = {TAG_SEMAPHORE, ((uint32_t*)semaphore)[1]};
    r[8] = WaitForSingleObject(fake, 0);
    r[9] = ReleaseSemaphore(fake, 1, 0);
    fake[0] = TAG_EVENT;
    fake[1] = (uint32_t)hostSemaphore;
    r[10] = SetEvent(fake);
    fake[0] = TAG_THREAD;
    fake[1] = GetCurrentThreadId();
    r[11] = WaitForSingleObject(fake, INFINITE);
    r[12] = WaitForSingleObject(0, 0);
    r[13] = WaitForSingleObject((void*)0x90000000, INFINITE);
    r[14] = WaitForSingleObject((void*)0x12345678, INFINITE);
    r[15] = CloseHandle(0);
    r[16] = CloseHandle(fake);

    /* Bad pointers: the calls fail and make nothing. */
    uint32_t id = 0x7777;
    r[17] = (uint32_t)CreateEventA(0, 0, 0, (const char*)0x90000000);
    r[18] = (uint32_t)CreateSemaphoreA(0, 0, 1, (const char*)0x100);
    r[19] = (uint32_t)CreateThread(0, 0, SleepThen, 0, 0, (uint32_t*)0x20);
    r[20] = (uint32_t)CreateThread(0, 0, 0, 0, 0, &id);
    r[21] = (uint32_t)CreateThread(0, 0, (THREAD_START)0x90000000, 0, 0, &id);
    r[22] = id;
    r[23] = QueryPerformanceCounter(0);
    r[24] = QueryPerformanceCounter((uint64_t*)0x7FFEFFFC);
    r[25] = QueryPerformanceFrequency((uint64_t*)0x10);

    /* Critical sections: null, outside the window, never initialised,
       deleted. Each use is reported and does nothing. */
    InitializeCriticalSection(0);
    EnterCriticalSection(0);
    LeaveCriticalSection((CRITICAL_SECTION*)0x7FFEFFF0);
    DeleteCriticalSection(0);
    CRITICAL_SECTION never = {{1, 2, 3, 4, 5, 0x60001003u}}; /* no heap block is there */
    EnterCriticalSection(&never);
    LeaveCriticalSection(&never);
    DeleteCriticalSection(&never);
    CRITICAL_SECTION gone;
    InitializeCriticalSection(&gone);
    DeleteCriticalSection(&gone);
    EnterCriticalSection(&gone);
    DeleteCriticalSection(&gone);
    CRITICAL_SECTION zero = {{0}};
    DeleteCriticalSection(&zero); /* a null lock: nothing to do, no report */

    /* Deleted while another thread waits for it: the waiter gives up. */
    CRITICAL_SECTION held;
    InitializeCriticalSection(&held);
    EnterCriticalSection(&held);
    void* waiter = CreateThread(0, 0, EnterGivenUp, &held, 0, 0);
    /* However slowly the thread starts, it is waiting before the delete. */
    while (!sEntering)
        Sleep(1);
    Sleep(30);
    DeleteCriticalSection(&held);
    r[26] = WaitForSingleObject(waiter, INFINITE);
    LeaveCriticalSection(&held);
    r[27] = 1; /* still here */
}

/* Calls every row with zero arguments and counts the calls that leave the
   stack pointer elsewhere than where it was before the arguments. */
static int stack_moved(void* function, int words)
{
    int moved;
    __asm__ volatile("movl %%esp, %%esi\n\t"
                     "movl %2, %%ecx\n\t"
                     "1: testl %%ecx, %%ecx\n\t"
                     "jz 2f\n\t"
                     "pushl $0\n\t"
                     "decl %%ecx\n\t"
                     "jmp 1b\n\t"
                     "2: call *%1\n\t"
                     "subl %%esp, %%esi\n\t"
                     "addl %%esi, %%esp\n\t"
                     : "=&S"(moved)
                     : "r"(function), "r"(words)
                     : "eax", "ecx", "edx", "memory", "cc");
    return moved;
}

EXPORT int WINAPI StackEffects(void)
{
    static const struct {
        void* function;
        int words;
    } rows[] = {
        {(void*)CreateThread, 6},
        {(void*)WaitForSingleObject, 2},
        {(void*)CloseHandle, 1},
        {(void*)GetCurrentThreadId, 0},
        {(void*)Sleep, 1},
        {(void*)CreateEventA, 4},
        {(void*)SetEvent, 1},
        {(void*)CreateSemaphoreA, 4},
        {(void*)ReleaseSemaphore, 3},
        {(void*)InitializeCriticalSection, 1},
        {(void*)EnterCriticalSection, 1},
        {(void*)LeaveCriticalSection, 1},
        {(void*)DeleteCriticalSection, 1},
        {(void*)TlsAlloc, 0},
        {(void*)TlsSetValue, 2},
        {(void*)TlsGetValue, 1},
        {(void*)TlsFree, 1},
        {(void*)timeGetTime, 0},
        {(void*)QueryPerformanceCounter, 1},
        {(void*)QueryPerformanceFrequency, 1},
    };
    int wrong = 0;
    for (unsigned i = 0; i < sizeof(rows) / sizeof(rows[0]); i++)
        wrong += stack_moved(rows[i].function, rows[i].words) != 0;
    return wrong;
}

/* ---- threads the host kills ---------------------------------------------- */

static CRITICAL_SECTION sHeld;
static volatile uint32_t sHelper;
static void* volatile sObject;

static uint32_t WINAPI WaitForever(void* handle)
{
    return WaitForSingleObject(handle, INFINITE);
}

static uint32_t WINAPI SleepForever(void* unused)
{
    (void)unused;
    Sleep(INFINITE);
    return 1;
}

static uint32_t WINAPI EnterHeld(void* unused)
{
    (void)unused;
    EnterCriticalSection(&sHeld);
    return 1;
}

static uint32_t WINAPI Spin(void* unused)
{
    (void)unused;
    for (volatile int i = 0;; i++) {
    }
    return 1;
}

static uint32_t WINAPI SpinWithCalls(void* unused)
{
    (void)unused;
    for (;;)
        GetCurrentThreadId();
    return 1;
}

/* Starts a thread that never ends by itself and returns its id; `kind`
   says how it passes its time. */
EXPORT uint32_t WINAPI StartBlocked(int kind)
{
    uint32_t id = 0, helper = 0;
    void* object = 0;
    switch (kind) {
    case 0: /* an event nobody sets */
        object = CreateEventA(0, 0, 0, 0);
        CreateThread(0, 0, WaitForever, object, 0, &id);
        break;
    case 1: /* an empty semaphore */
        object = CreateSemaphoreA(0, 0, 1, 0);
        CreateThread(0, 0, WaitForever, object, 0, &id);
        break;
    case 2: /* a thread that never ends */
        CreateThread(0, 0, WaitForever, CreateThread(0, 0, SleepForever, 0, 0, &helper), 0, &id);
        break;
    case 3:
        CreateThread(0, 0, SleepForever, 0, 0, &id);
        break;
    case 4: /* a critical section the caller holds */
        InitializeCriticalSection(&sHeld);
        EnterCriticalSection(&sHeld);
        CreateThread(0, 0, EnterHeld, 0, 0, &id);
        break;
    case 5: /* module code that never calls out */
        CreateThread(0, 0, Spin, 0, 0, &id);
        break;
    case 6:
        CreateThread(0, 0, SpinWithCalls, 0, 0, &id);
        break;
    }
    sHelper = helper;
    sObject = object;
    return id;
}

/* The extra thread of the last StartBlocked, or 0. */
EXPORT uint32_t WINAPI Helper(void)
{
    return sHelper;
}

/* The event or semaphore the last StartBlocked thread waits on, or 0. */
EXPORT void* WINAPI BlockedOn(void)
{
    return sObject;
}

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
