/* Misbehaving code: each export faults its own way. */
#include "imports.h"

IMPORT void WINAPI NoSuchFunction(void);

static char sName[64];

/* Recursion without end, through a pointer so that it stays a real call. */
static int(WINAPI* volatile sRecurse)(int);
EXPORT int WINAPI Recurse(int depth)
{
    volatile char frame[256];
    frame[0] = (char)depth;
    return sRecurse(depth + 1) + frame[0];
}

static int contains(const char* text, const char* part)
{
    for (; *text; text++) {
        const char* a = text;
        const char* b = part;
        while (*a && *b && *a == *b) {
            a++;
            b++;
        }
        if (*b == '\0')
            return 1;
    }
    return 0;
}

/* Code written at run time into a page that held only data, run, then
   rewritten and run again: the second call must run the new code. Returns
   1 for the first result right, 2 for the second. */
static unsigned char sCodePage[8192] __attribute__((aligned(4096)));
EXPORT int WINAPI RewrittenCode(int value)
{
    volatile unsigned char* code = sCodePage + 4096;
    int (*run)(void) = (int (*)(void))(uint32_t)code;
    for (int i = 0; i < 4096; i++)
        code[i] = 0xCC;
    code[0] = 0xB8; /* mov eax, value */
    for (int i = 0; i < 4; i++)
        code[1 + i] = (unsigned char)((unsigned)value >> (8 * i));
    code[5] = 0xC3; /* ret */
    int first = run();
    code[1] = (unsigned char)(value + 1);
    int second = run();
    return (first == value) + 2 * (second == value + 1);
}

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)reserved;
    if (reason == 1) {
        GetModuleFileNameA(instance, sName, sizeof(sName));
        sRecurse = Recurse;
        if (contains(sName, "fault-attach"))
            return *(volatile int*)0;
    }
    return 1;
}

EXPORT int WINAPI ReadNull(void)
{
    return *(volatile int*)0;
}
EXPORT void WINAPI WriteHigh(void)
{
    *(volatile int*)0x90000000 = 1;
}
EXPORT void WINAPI BadInstruction(void)
{
    __asm__ volatile("ud2");
}
EXPORT int WINAPI Divide(int a, int b)
{
    return a / b;
}
static volatile int sCalls;
/* Calls, not tail jumps: the fault report names the caller. */
EXPORT int WINAPI CallUnresolved(void)
{
    NoSuchFunction();
    return ++sCalls;
}
EXPORT int WINAPI JumpNowhere(void)
{
    ((void (*)(void))0x00001234)();
    return ++sCalls;
}
EXPORT void WINAPI StrayInterrupt(void)
{
    __asm__ volatile("movl $3, %%eax\n\tint $0x80" ::: "eax");
}
EXPORT void WINAPI SpinForever(void)
{
    for (volatile int i = 0;; i++) {
    }
}
EXPORT void WINAPI SpinWithImports(void)
{
    for (;;)
        DisableThreadLibraryCalls((void*)0);
}
/* Loads a module from module code; 0 when that fails. */
EXPORT void* WINAPI Load(const char* name)
{
    return LoadLibraryA(name);
}
EXPORT int WINAPI ReadFs(int offset)
{
    int value;
    __asm__ volatile("movl %%fs:(%1), %0" : "=r"(value) : "r"(offset));
    return value;
}

/* One straight-line block of 600 x87 instructions between register
   operands, as optimised MP3 synthesis code has: out += a * b, 120 times,
   with no branch to end the translated block. Returns (int)out. */
EXPORT int WINAPI LongX87Block(const double* a, const double* b)
{
    int result;
    __asm__ volatile("fldl (%2)\n\t" /* b */
                     "fldl (%1)\n\t" /* a, b */
                     "fldz\n\t"      /* out, a, b */
                     ".rept 120\n\t"
                     "fld %%st(2)\n\t" /* b, out, a, b */
                     "fmul %%st(2), %%st\n\t"
                     "faddp %%st, %%st(1)\n\t"
                     "fxch %%st(1)\n\t"
                     "fxch %%st(1)\n\t"
                     ".endr\n\t"
                     "fistpl %0\n\t"
                     "fstp %%st(0)\n\t"
                     "fstp %%st(0)"
                     : "=m"(result)
                     : "r"(a), "r"(b)
                     : "st", "st(1)", "st(2)", "st(3)");
    return result;
}

/* One access of each kind the emulator may run straight on host memory:
   0 reads a byte, 1 a word, 2 writes a word, 3 loads an integer onto the
   x87 stack (its operand read in place), 4 reads 16 bytes with SSE, 5
   writes 16 zero bytes, 6 loads an integer onto the x87 stack with
   divide-by-zero unmasked (the emulator then computes x87 instructions in
   software), 7 as 3 but after another x87 instruction (the operand then
   read at the instruction's own address). Returns the first word read, or 1 after a write. Each starts
   from the x87 control word threads start with, whatever the last left. */
__attribute__((target("sse"))) EXPORT uint32_t WINAPI Touch(uint32_t address, int kind)
{
    static const uint16_t kControl = 0x027F, kZeroDivideUnmasked = 0x027B;
    uint32_t value = 1;
    __asm__ volatile("fldcw %0" : : "m"(kControl));
    switch (kind) {
    case 0:
        __asm__ volatile("movzbl (%1), %0" : "=r"(value) : "r"(address) : "memory");
        break;
    case 1:
        __asm__ volatile("movl (%1), %0" : "=r"(value) : "r"(address) : "memory");
        break;
    case 2:
        __asm__ volatile("movl $0x5AFE5AFE, (%0)" : : "r"(address) : "memory");
        break;
    case 3:
        __asm__ volatile("fildl (%1)\n\tfistpl %0" : "=m"(value) : "r"(address) : "memory");
        break;
    case 4:
        __asm__ volatile("movups (%1), %%xmm0\n\tmovd %%xmm0, %0"
                         : "=r"(value)
                         : "r"(address)
                         : "xmm0", "memory");
        break;
    case 5:
        __asm__ volatile("xorps %%xmm0, %%xmm0\n\tmovups %%xmm0, (%0)"
                         :
                         : "r"(address)
                         : "xmm0", "memory");
        break;
    case 6:
        __asm__ volatile("fldcw %1\n\tfildl (%2)\n\tfistpl %0\n\tfldcw %3"
                         : "=m"(value)
                         : "m"(kZeroDivideUnmasked), "r"(address), "m"(kControl)
                         : "memory");
        break;
    case 7:
        /* after another x87 instruction (one that leaves the stack as it
           is when the load faults): the FPU is known to hold the state */
        __asm__ volatile("fldz\n\tfstp %%st(0)\n\tfildl (%1)\n\tfistpl %0"
                         : "=m"(value)
                         : "r"(address)
                         : "memory");
        break;
    }
    return value;
}

/* Memory given back and then read in the same call: the read must fault
   as the module's own, whatever the emulator had learnt of the page. */
EXPORT uint32_t WINAPI ReadAfterFree(void)
{
    volatile uint32_t* block = VirtualAlloc(0, 4096, 0x3000, 4);
    if (block == 0)
        return 0;
    for (int i = 0; i < 64; i++)
        block[i] = (uint32_t)i;
    uint32_t sum = 0;
    for (int i = 0; i < 64; i++)
        sum += block[i];
    VirtualFree((void*)block, 0, 0x8000);
    return sum + block[1];
}

/* What the processor says (CPUID) beside what IsProcessorFeaturePresent
   says, and one instruction of each feature the latter reports, run:
   out[0] is CPUID.1:EDX, out[1] CPUID.80000001h:EDX (0 without that leaf),
   out[2 + n] IsProcessorFeaturePresent(n) for n < 16, out[18]
   CPUID.1:ECX. Returns a bit for each feature whose instruction ran. */
typedef int(WINAPI* feature_t)(uint32_t feature);
__attribute__((target("sse2"))) EXPORT int WINAPI Features(uint32_t* out)
{
    uint32_t a, b, c, d;
    __asm__ volatile("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(1), "c"(0));
    out[0] = d;
    out[18] = c;
    __asm__ volatile("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(0x80000000u), "c"(0));
    out[1] = 0;
    if (a >= 0x80000001u) {
        __asm__ volatile("cpuid" : "=a"(a), "=b"(b), "=c"(c), "=d"(d) : "a"(0x80000001u), "c"(0));
        out[1] = d;
    }
    feature_t present = (feature_t)GetProcAddress((void*)0xDEADBEEF, "IsProcessorFeaturePresent");
    if (present == 0)
        return -1;
    for (uint32_t n = 0; n < 16; n++)
        out[2 + n] = (uint32_t)present(n);
    int ran = 0;
    volatile unsigned long long pair = 0x0000000200000001ull;
    if (out[2 + 2]) {
        __asm__ volatile("lock cmpxchg8b %0"
                         : "+m"(pair)
                         : "a"(1), "d"(2), "b"(3), "c"(4)
                         : "memory", "cc");
        ran |= (pair == 0x0000000400000003ull) << 2;
    }
    if (out[2 + 3]) {
        __asm__ volatile("pxor %%mm0, %%mm0\n\tpaddw %%mm0, %%mm0\n\temms" ::: "mm0");
        ran |= 1 << 3;
    }
    if (out[2 + 6]) {
        __asm__ volatile("xorps %%xmm0, %%xmm0\n\taddps %%xmm0, %%xmm0" ::: "xmm0");
        ran |= 1 << 6;
    }
    if (out[2 + 7]) {
        __asm__ volatile("pxor %%mm0, %%mm0\n\tpfadd %%mm0, %%mm0\n\tfemms" ::: "mm0");
        ran |= 1 << 7;
    }
    if (out[2 + 8]) {
        __asm__ volatile("rdtsc" : "=a"(a), "=d"(d));
        ran |= 1 << 8;
    }
    if (out[2 + 10]) {
        __asm__ volatile("xorpd %%xmm0, %%xmm0\n\taddpd %%xmm0, %%xmm0" ::: "xmm0");
        ran |= 1 << 10;
    }
    if (out[2 + 13]) {
        __asm__ volatile("xorps %%xmm0, %%xmm0\n\thaddps %%xmm0, %%xmm0" ::: "xmm0");
        ran |= 1 << 13;
    }
    return ran;
}

/* A counted loop left after `passes` passes: out[0] the sum of as many
   adds of 0x30000000, out[1] the counter, out[2] EFLAGS as the loop leaves
   them (ZF and PF of the last decrement, CF of the last add, which the
   decrement keeps). */
EXPORT void WINAPI CountedLoop(uint32_t passes, uint32_t* out)
{
    uint32_t sum, count, flags;
    __asm__ volatile("xorl %0, %0\n\t"
                     "movl %3, %1\n"
                     "1:\taddl $0x30000000, %0\n\t"
                     "decl %1\n\t"
                     "jnz 1b\n\t"
                     "pushfl\n\t"
                     "popl %2"
                     : "=&r"(sum), "=&r"(count), "=r"(flags)
                     : "r"(passes)
                     : "cc");
    out[0] = sum;
    out[1] = count;
    out[2] = flags;
}

/* Reads the word each entry of a zero-ended table points to, in a small
   loop, until one may not be read: *at is the reading instruction's
   address. */
EXPORT void WINAPI ReadEach(const uint32_t* table, uint32_t* at)
{
    __asm__ volatile("movl $2f, (%1)\n"
                     "1:\tmovl (%0), %%eax\n"
                     "2:\tmovl (%%eax), %%eax\n\t"
                     "addl $4, %0\n\t"
                     "cmpl $0, (%0)\n\t"
                     "jne 1b"
                     : "+r"(table)
                     : "r"(at)
                     : "eax", "memory", "cc");
}
