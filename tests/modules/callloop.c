/* Calls stdcall and cdecl thunks in a loop and checks its own stack
   pointer around each call: a stdcall replacement must remove exactly its
   argument bytes, a cdecl one none. */
#include "imports.h"

/* ESP before minus ESP after a call with `words` pushed zero arguments. */
#define CALL_AND_MEASURE(fn, pushes, result)                                                       \
    __asm__ volatile("movl %%esp, %%esi\n\t" pushes "call *%1\n\t"                                 \
                     "subl %%esp, %%esi\n\t"                                                       \
                     "addl %%esi, %%esp\n\t"                                                       \
                     : "=&S"(result)                                                               \
                     : "r"(fn)                                                                     \
                     : "eax", "ecx", "edx", "memory", "cc")

#define PUSH1 "pushl $0\n\t"
#define PUSH2 "pushl $0\n\tpushl $0\n\t"
#define PUSH3 "pushl $0\n\tpushl $0\n\tpushl $0\n\t"

/* Returns the number of calls whose stack effect was wrong. */
EXPORT int WINAPI ThunkLoop(int rounds)
{
    int wrong = 0;
    for (int i = 0; i < rounds; i++) {
        int moved;
        CALL_AND_MEASURE((void*)DisableThreadLibraryCalls, PUSH1, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)GetProcAddress, PUSH2, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)GetModuleFileNameA, PUSH3, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)free, PUSH1, moved);
        wrong += moved != 4;
        CALL_AND_MEASURE((void*)_initterm, PUSH2, moved);
        wrong += moved != 8;
    }
    return wrong;
}

/* The cost of one module-to-host call, for the benchmark. */
EXPORT int WINAPI ImportCalls(int count)
{
    int sum = 0;
    for (int i = 0; i < count; i++)
        sum += DisableThreadLibraryCalls((void*)0);
    return sum;
}

/* The cost of one host-to-module call, for the benchmark. */
EXPORT int WINAPI Identity(int value)
{
    return value;
}

/* Nested host calls: the module calls malloc from a loop, keeping results. */
EXPORT int WINAPI AllocateMany(int count)
{
    void* blocks[64];
    int ok = 0;
    if (count > 64)
        count = 64;
    for (int i = 0; i < count; i++) {
        blocks[i] = malloc(32 + i);
        ok += blocks[i] != 0;
    }
    for (int i = 0; i < count; i++)
        free(blocks[i]);
    return ok;
}

/* HeapAlloc/HeapFree pairs of 16 to 1 KiB, 16 blocks alive at a time, as a
   codec's buffers come and go; for the benchmark. Returns the failures. */
EXPORT int WINAPI HeapPairs(int count)
{
    void* heap = GetProcessHeap();
    void* live[16] = {0};
    int failed = 0;
    for (int i = 0; i < count; i++) {
        void** slot = &live[i & 15];
        if (*slot != 0)
            failed += !HeapFree(heap, 0, *slot);
        *slot = HeapAlloc(heap, 0, 16 + (i * 97) % 1008);
        failed += *slot == 0;
    }
    for (int i = 0; i < 16; i++)
        if (live[i] != 0)
            HeapFree(heap, 0, live[i]);
    return failed;
}

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
