/* A module that does everything a module taken over by a crafted file could
   do: it writes over its heap blocks and their neighbours, its critical
   sections, its thread and process blocks and the import thunks, calls the
   replacements with forged handles, tokens, pointers at and past the
   window's edges, huge sizes and negative counts, frees what is no block,
   and goes over each of its limits. Results go to sResults (Results). */
#include "imports.h"

#define WINDOW_END 0x7FFF0000u
#define MEM_COMMIT 0x1000u
#define PAGE_READWRITE 0x04u

typedef struct {
    uint32_t words[6];
} CRITICAL_SECTION;

typedef uint32_t(WINAPI* THREAD_START)(void* parameter);

IMPORT void* WINAPI HeapReAlloc(void* heap, uint32_t flags, void* block, uint32_t size);
IMPORT uint32_t WINAPI HeapSize(void* heap, uint32_t flags, const void* block);
IMPORT void* WINAPI GlobalFree(void* handle);
IMPORT void* WINAPI VirtualAlloc(void* address, uint32_t size, uint32_t type, uint32_t protect);
IMPORT void WINAPI InitializeCriticalSection(CRITICAL_SECTION* section);
IMPORT void WINAPI EnterCriticalSection(CRITICAL_SECTION* section);
IMPORT void WINAPI LeaveCriticalSection(CRITICAL_SECTION* section);
IMPORT void WINAPI DeleteCriticalSection(CRITICAL_SECTION* section);
IMPORT void* WINAPI CreateThread(void* security, uint32_t stackSize, THREAD_START start,
                                 void* parameter, uint32_t flags, uint32_t* threadId);
IMPORT void WINAPI Sleep(uint32_t milliseconds);
IMPORT uint32_t WINAPI WaitForSingleObject(void* handle, uint32_t milliseconds);
IMPORT void* WINAPI CreateEventA(void* security, int manualReset, int initialState,
                                 const char* name);
IMPORT void WINAPI SetLastError(uint32_t error);
IMPORT uint32_t WINAPI GetLastError(void);
IMPORT uint32_t WINAPI TlsAlloc(void);
IMPORT int WINAPI TlsSetValue(uint32_t index, void* value);
IMPORT void* WINAPI TlsGetValue(uint32_t index);
IMPORT int WINAPI TlsFree(uint32_t index);
IMPORT int WINAPI RegCreateKeyA(uint32_t key, const char* name, uint32_t* result);
IMPORT int WINAPI RegSetValueExA(uint32_t key, const char* name, uint32_t reserved, uint32_t type,
                                 const void* data, uint32_t size);
IMPORT void* h_realloc(void* block, size_t size);
IMPORT void h_qsort(void* base, size_t count, size_t size,
                    int (*compare)(const void*, const void*));

static uint32_t sResults[32];
static uint32_t sValues[24];
static uint8_t* sBuffer;
static uint8_t* sThreadBlock;
static uint8_t* sProcessBlock;
static int sValueCount;

static void fill(void* block, uint32_t size, uint8_t value)
{
    volatile uint8_t* bytes = (volatile uint8_t*)block;
    for (uint32_t i = 0; i < size; i++)
        bytes[i] = value;
}

static uint32_t fs_word(uint32_t offset)
{
    uint32_t value;
    __asm__ volatile("movl %%fs:(%1), %0" : "=r"(value) : "r"(offset));
    return value;
}

EXPORT uint32_t* WINAPI Results(void)
{
    return sResults;
}

/* Heap, critical sections, thread and process blocks: scribbled over, then
   used. */
EXPORT int WINAPI Scribble(void)
{
    void* heap = GetProcessHeap();
    /* Keeps the blocks below off the heap's first bytes. */
    void* first = HeapAlloc(heap, 0, 256);
    uint8_t* blocks[8];
    for (int i = 0; i < 8; i++)
        blocks[i] = HeapAlloc(heap, 0, 24 + 40 * i);
    /* Every block and 64 bytes on either side of it. */
    for (int i = 0; i < 8; i++)
        fill(blocks[i] - 64, 24 + 40 * i + 128, 0xA5);
    sResults[0] = HeapFree(heap, 0, blocks[1] + 8);                  /* inside a block */
    sResults[1] = HeapFree(heap, 0, blocks[1] - 16);                 /* before it */
    sResults[2] = HeapFree(heap, 0, blocks[1]);                      /* the block: 1 */
    sResults[3] = HeapFree(heap, 0, blocks[1]);                      /* twice */
    sResults[4] = HeapSize(heap, 0, blocks[2] + 4);                  /* -1 */
    sResults[5] = (uint32_t)HeapReAlloc(heap, 0, blocks[2] + 4, 64); /* 0 */
    sResults[6] = (uint32_t)h_realloc(blocks[1], 64);                /* freed: 0 */
    sResults[7] = (uint32_t)GlobalFree((void*)(WINDOW_END - 16));    /* the handle back */
    free((void*)0x7FFEFFF8);
    free((void*)0x60000000);
    free((void*)0xFFFFFFF0);
    /* The heap still gives out blocks that overlap nothing. */
    uint8_t* a = HeapAlloc(heap, 0, 100);
    uint8_t* b = HeapAlloc(heap, 0, 100);
    sResults[8] = a != 0 && b != 0 && (a + 100 <= b || b + 100 <= a) &&
                  HeapSize(heap, 0, a) >= 100 && HeapFree(heap, 0, a) && HeapFree(heap, 0, b);
    for (int i = 0; i < 8; i++)
        if (i != 1)
            HeapFree(heap, 0, blocks[i]);

    /* A section whose token is overwritten reaches no lock; its own token
       still works from a copy. */
    CRITICAL_SECTION* section = HeapAlloc(heap, 0, sizeof(CRITICAL_SECTION));
    InitializeCriticalSection(section);
    uint32_t token = section->words[5];
    sResults[9] = token;
    fill(section, sizeof(CRITICAL_SECTION), 0xA5);
    EnterCriticalSection(section);
    LeaveCriticalSection(section);
    DeleteCriticalSection(section);
    section->words[5] = token + 1;
    EnterCriticalSection(section);
    section->words[5] = 0x60000000;
    EnterCriticalSection(section);
    section->words[5] = token;
    EnterCriticalSection(section);
    LeaveCriticalSection(section);
    DeleteCriticalSection(section);
    EnterCriticalSection(section); /* stale */
    HeapFree(heap, 0, section);

    /* Thread and process blocks: every byte. */
    uint8_t* teb = (uint8_t*)fs_word(0x18);
    uint8_t* peb = (uint8_t*)fs_word(0x30);
    sResults[10] = (uint32_t)teb;
    sResults[11] = (uint32_t)peb;
    fill(teb, 4096, 0xA5);
    fill(peb, 4096, 0x5A);
    SetLastError(1234);
    sResults[12] = GetLastError();
    uint32_t slot = TlsAlloc();
    TlsSetValue(slot, (void*)0x1234);
    sResults[13] = (uint32_t)TlsGetValue(slot);
    void* after = HeapAlloc(heap, 0, 32);
    sResults[14] = after != 0 && HeapFree(heap, 0, after) && HeapFree(heap, 0, first);
    return 1;
}

/* Module code writing the import thunks: faults. */
EXPORT int WINAPI WriteThunks(void)
{
    volatile uint32_t* thunk = (volatile uint32_t*)(void*)HeapAlloc;
    *thunk = 0xCCCCCCCC;
    return 1;
}

/* Text in the scratch buffer, ended before the buffer does (the calls may
   have written over it); text that runs into the window's end. */
EXPORT void WINAPI Refresh(void)
{
    fill(sBuffer, 0x20000 - 4, 0x41);
    fill(sBuffer + 0x20000 - 4, 4, 0); /* ends wide text too */
    *(volatile uint16_t*)(WINDOW_END - 2) = 'C';
}

/* The values that every replacement gets in every position, a prime number
   of them (CallRow). Each
   address lies at or above 0x40000000, so no two of them make a range that
   fits the window: a size the host would honour is always a small one. */
EXPORT int WINAPI Prepare(void)
{
    uint8_t* buffer = HeapAlloc(GetProcessHeap(), 0, 0x20000);
    if (buffer == 0)
        return 0;
    sBuffer = buffer;
    sThreadBlock = (uint8_t*)fs_word(0x18);
    sProcessBlock = (uint8_t*)fs_word(0x30);
    uint32_t values[] = {
        0,
        1,
        16,
        0xFFFF, /* below the window */
        0x7FFFFFFF,
        0x80000000,
        0xFFFFFFFF,
        0xFFFFFFF0,
        WINDOW_END - 1,
        WINDOW_END - 2, /* one UTF-16 unit before the end */
        WINDOW_END - 16,
        WINDOW_END, /* the import thunks */
        (uint32_t)buffer,
        (uint32_t)buffer + 8, /* overlapping the one before */
        (uint32_t)buffer + 0x20000 - 16,
        fs_word(0x18),
        fs_word(0x30),
        0x80000001, /* a lock token, a predefined key */
        0xD0000001, /* a driver handle */
    };
    sValueCount = sizeof(values) / sizeof(values[0]);
    for (int i = 0; i < sValueCount; i++)
        sValues[i] = values[i];
    Refresh();
    return sValueCount;
}

/* Calls the thunk at `thunk` with `words` argument words taken from the
   values: value k + j * s in position j, for every start k and step s. With
   a prime number of values every pair of values meets in every pair of
   positions. */
EXPORT int WINAPI CallRow(uint32_t thunk, int words)
{
    int calls = 0;
    for (int step = 0; step < sValueCount; step++) {
        for (int k = 0; k < sValueCount; k++) {
            uint32_t args[10];
            int n = words < 10 ? words : 10;
            for (int j = 0; j < n; j++)
                args[j] = sValues[(k + j * step) % sValueCount];
            /* Text at the values ends where it did: appending to it again
               and again would make each call slower than the last. */
            fill(sBuffer + 0x20000 - 4, 4, 0);
            fill(sThreadBlock + 4092, 4, 0);
            fill(sProcessBlock + 4092, 4, 0);
            __asm__ volatile("movl %%esp, %%edi\n\t"
                             "movl %2, %%ecx\n\t"
                             "1:\n\t"
                             "testl %%ecx, %%ecx\n\t"
                             "jz 2f\n\t"
                             "pushl -4(%1,%%ecx,4)\n\t"
                             "decl %%ecx\n\t"
                             "jmp 1b\n\t"
                             "2:\n\t"
                             "call *%0\n\t"
                             "movl %%edi, %%esp\n\t"
                             :
                             : "r"(thunk), "r"(args), "r"(n)
                             : "eax", "ecx", "edx", "edi", "memory", "cc");
            calls++;
        }
    }
    return calls;
}

/* ---- limits ------------------------------------------------------------- */

static uint32_t WINAPI Dawdle(void* parameter)
{
    Sleep((uint32_t)parameter);
    return 0;
}

/* Starts threads that live `milliseconds` until one is refused; the count
   so far is in sResults[16]. */
EXPORT int WINAPI ManyThreads(uint32_t milliseconds)
{
    sResults[16] = 0;
    for (int i = 0; i < 1000; i++) {
        if (CreateThread(0, 0, Dawdle, (void*)milliseconds, 0, 0) == 0)
            return 0;
        sResults[16]++;
    }
    return 1;
}

/* 0: one value over the limit; 1: values just under it until refused (the
   count so far in sResults[17]). */
EXPORT int WINAPI RegistryFlood(int mode)
{
    uint32_t key = 0;
    if (RegCreateKeyA(0x80000001, "Hostile", &key) != 0)
        return -1;
    uint32_t size = mode == 0 ? 1024 * 1024 + 1 : 1024 * 1024 - 64;
    uint8_t* data = HeapAlloc(GetProcessHeap(), 0, size);
    if (data == 0)
        return -2;
    fill(data, size, 0x33);
    if (mode == 0)
        return RegSetValueExA(key, "big", 0, 3, data, size);
    sResults[17] = 0;
    char name[] = "value00";
    for (int i = 0; i < 100; i++) {
        name[5] = (char)('0' + i / 10);
        name[6] = (char)('0' + i % 10);
        if (RegSetValueExA(key, name, 0, 3, data, size) != 0)
            return 0;
        sResults[17]++;
    }
    return 1;
}

/* Events until one is refused; the count so far in sResults[19]. */
EXPORT int WINAPI ManyEvents(void)
{
    sResults[19] = 0;
    for (int i = 0; i < 10000; i++) {
        if (CreateEventA(0, 0, 0, 0) == 0)
            return 0;
        sResults[19]++;
    }
    return 1;
}

/* 300 MiB in one area. */
EXPORT uint32_t WINAPI HugeArea(void)
{
    return (uint32_t)VirtualAlloc(0, 300 * 1024 * 1024, MEM_COMMIT, PAGE_READWRITE);
}

/* A comparison that sorts again from inside: host-to-module calls nest
   until the limit; the deepest level reached is in sResults[18]. */
static int sDepth;
static int Recurse(const void* a, const void* b)
{
    (void)a;
    (void)b;
    int pair[2] = {2, 1};
    sDepth++;
    if (sDepth > (int)sResults[18])
        sResults[18] = sDepth;
    h_qsort(pair, 2, sizeof(int), Recurse);
    sDepth--;
    return 0;
}

EXPORT int WINAPI DeepCalls(void)
{
    int pair[2] = {2, 1};
    sDepth = 0;
    sResults[18] = 0;
    h_qsort(pair, 2, sizeof(int), Recurse);
    return 1;
}

/* Makes 16-byte heap blocks until refused, keeping them (at most 300000, in
   a list of its own memory); the count so far is in sResults[21]. */
static uint32_t** sBlocks;

EXPORT int WINAPI ManyBlocks(void)
{
    if (sBlocks == 0)
        sBlocks = VirtualAlloc(0, 300000 * 4, MEM_COMMIT, PAGE_READWRITE);
    if (sBlocks == 0)
        return -1;
    sResults[21] = 0;
    for (int i = 0; i < 300000; i++) {
        uint32_t* block = HeapAlloc(GetProcessHeap(), 0, 16);
        if (block == 0)
            return 0;
        sBlocks[sResults[21]++] = block;
    }
    return 1;
}

/* Frees what ManyBlocks made; returns how many were freed. */
EXPORT int WINAPI FreeBlocks(void)
{
    int freed = 0;
    for (uint32_t i = 0; i < sResults[21]; i++)
        freed += HeapFree(GetProcessHeap(), 0, sBlocks[i]);
    sResults[21] = 0;
    return freed;
}

/* Takes a TLS slot, uses it and gives it back, `rounds` times; returns the
   rounds in which all of that worked. */
EXPORT int WINAPI TlsChurn(int rounds)
{
    int good = 0;
    for (int i = 0; i < rounds; i++) {
        uint32_t slot = TlsAlloc();
        if (slot == 0xFFFFFFFFu)
            break;
        int set = TlsSetValue(slot, (void*)(uint32_t)(i + 1));
        int read = (uint32_t)TlsGetValue(slot) == (uint32_t)(i + 1);
        if (set && read && TlsFree(slot))
            good++;
    }
    return good;
}

/* Takes TLS slots until refused (at most 100), keeping them; returns how
   many. The first is in sResults[20]. */
EXPORT int WINAPI TlsHog(void)
{
    int count = 0;
    for (; count < 100; count++) {
        uint32_t slot = TlsAlloc();
        if (slot == 0xFFFFFFFFu)
            break;
        if (count == 0)
            sResults[20] = slot;
    }
    return count;
}

EXPORT int WINAPI FreeSlot(uint32_t slot)
{
    return TlsFree(slot);
}

/* Sorts `count` elements of `width` bytes at `base` by their first words;
   returns the comparisons asked. */
static int sCompared;
static int ByFirstWord(const void* a, const void* b)
{
    uint32_t left = *(const uint32_t*)a, right = *(const uint32_t*)b;
    sCompared++;
    return left < right ? -1 : left > right ? 1 : 0;
}

EXPORT int WINAPI Sort(void* base, uint32_t count, uint32_t width)
{
    sCompared = 0;
    h_qsort(base, count, width, ByFirstWord);
    return sCompared;
}

/* ---- text at the window's edge ---------------------------------------- */

/* Another thread of the module writes the window's last byte over and over,
   a NUL and a digit in turn, while the host reads text that ends there. */
static volatile int sFlipping;
static volatile uint32_t sFlips;

static uint32_t WINAPI FlipEdge(void* parameter)
{
    volatile char* edge = (volatile char*)(WINDOW_END - 1);
    volatile uint32_t pad = 0;
    (void)parameter;
    while (sFlipping) {
        *edge = 0;
        pad++;
        pad++;
        *edge = '1';
        sFlips++;
    }
    *edge = 0;
    return 0;
}

/* Calls the thunk `rounds` times with `words` arguments from `args`, in
   which 0xE0E0E0E0 stands for text of `length` bytes ending at the window's
   edge (digits, NUL last) and 0xE0E0E0E1 for a scratch block of 256
   bytes, while FlipEdge runs. Returns the rounds made. */
EXPORT int WINAPI EdgeRace(uint32_t thunk, const uint32_t* args, int words, uint32_t length,
                           int rounds)
{
    uint8_t* scratch = HeapAlloc(GetProcessHeap(), 0, 256);
    if (scratch == 0 || words > 10 || length < 2 || length > 4096)
        return -1;
    char* text = (char*)(WINDOW_END - length);
    fill(text, length - 1, '1');
    uint32_t values[10];
    for (int j = 0; j < words; j++)
        values[j] = args[j] == 0xE0E0E0E0u   ? (uint32_t)text
                    : args[j] == 0xE0E0E0E1u ? (uint32_t)scratch
                                             : args[j];
    sFlipping = 1;
    sFlips = 0;
    void* flipper = CreateThread(0, 0, FlipEdge, 0, 0, 0);
    if (flipper == 0)
        return -2;
    while (sFlips == 0)
        Sleep(0);
    int done = 0;
    for (; done < rounds; done++) {
        fill(scratch, 256, 0);
        __asm__ volatile("movl %%esp, %%edi\n\t"
                         "movl %2, %%ecx\n\t"
                         "1:\n\t"
                         "testl %%ecx, %%ecx\n\t"
                         "jz 2f\n\t"
                         "pushl -4(%1,%%ecx,4)\n\t"
                         "decl %%ecx\n\t"
                         "jmp 1b\n\t"
                         "2:\n\t"
                         "call *%0\n\t"
                         "movl %%edi, %%esp\n\t"
                         :
                         : "r"(thunk), "r"(values), "r"(words)
                         : "eax", "ecx", "edx", "edi", "memory", "cc");
    }
    sFlipping = 0;
    WaitForSingleObject(flipper, 0xFFFFFFFFu);
    HeapFree(GetProcessHeap(), 0, scratch);
    return done;
}

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}

/* ---- scripts (fuzz/module_sandbox_fuzzer.cpp) ----------------------------

   A header of six words: two ranges that no address may fall in (this
   image and the running stack: overwriting the code that runs the script
   could make it loop for ever), a scratch block used instead, its size and
   the script's length. Then operations:
     'W' address(4) length(2) bytes   module code writes the bytes there
     'C' thunk(4) count(1) count x (kind(1) value(4))
                                      calls the thunk with those arguments:
                                      kind 0 the value, kind 1 the result of
                                      call number value % 16 (0 at first)
   A result that falls in a range to avoid is replaced by the scratch
   block. */
static uint32_t sScriptResults[16];

static uint32_t read_word(const uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | (uint32_t)bytes[3] << 24;
}

EXPORT int WINAPI RunScript(const uint8_t* script)
{
    uint32_t header[6];
    for (int i = 0; i < 6; i++)
        header[i] = read_word(script + 4 * i);
    uint32_t length = header[5];
    const uint8_t* at = script + 24;
    const uint8_t* end = at + length;
    int calls = 0;
    while (at < end) {
        uint8_t op = *at++;
        if (op == 'W' && end - at >= 6) {
            uint8_t* target = (uint8_t*)read_word(at);
            uint32_t count = at[4] | at[5] << 8;
            at += 6;
            for (uint32_t i = 0; i < count && at < end; i++)
                target[i] = *at++;
        } else if (op == 'C' && end - at >= 5) {
            uint32_t thunk = read_word(at);
            uint32_t count = at[4];
            at += 5;
            uint32_t args[10];
            uint32_t n = 0;
            for (; n < count && n < 10 && end - at >= 5; n++, at += 5) {
                uint32_t value = read_word(at + 1);
                if (at[0] == 1) {
                    value = sScriptResults[value % 16];
                    for (int r = 0; r < 2; r++)
                        if (value >= header[2 * r] && value < header[2 * r + 1])
                            value = header[4];
                }
                args[n] = value;
            }
            uint32_t result;
            __asm__ volatile("movl %%esp, %%edi\n\t"
                             "movl %3, %%ecx\n\t"
                             "1:\n\t"
                             "testl %%ecx, %%ecx\n\t"
                             "jz 2f\n\t"
                             "pushl -4(%2,%%ecx,4)\n\t"
                             "decl %%ecx\n\t"
                             "jmp 1b\n\t"
                             "2:\n\t"
                             "call *%1\n\t"
                             "movl %%edi, %%esp\n\t"
                             : "=a"(result)
                             : "r"(thunk), "r"(args), "r"(n)
                             : "ecx", "edx", "edi", "memory", "cc");
            sScriptResults[calls++ % 16] = result;
        } else {
            break;
        }
    }
    return calls;
}

EXPORT int WINAPI Ping(int value)
{
    void* block = HeapAlloc(GetProcessHeap(), 0, 64);
    return block != 0 && HeapFree(GetProcessHeap(), 0, block) ? value : -1;
}
