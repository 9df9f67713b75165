/* Calls every run-time and system row that codec modules of other makers
   use, once each, with the real calling conventions (x87 and register
   arguments for the compiler helpers), and stores 1 in a slot
   (runtime-slots.h) for each call that did the right thing. */
#include "imports.h"
#include "runtime-slots.h"

#include <stdarg.h>

typedef unsigned long long uint64_t;
typedef long long int64_t;
typedef unsigned short wchar16;

/* kernel32 and friends */
IMPORT void* WINAPI GetModuleHandleW(const wchar16* name);
IMPORT uint32_t WINAPI GetTickCount(void);
IMPORT void* WINAPI HeapReAlloc(void* heap, uint32_t flags, void* block, uint32_t size);
IMPORT uint32_t WINAPI HeapSize(void* heap, uint32_t flags, const void* block);
IMPORT void* WINAPI FindFirstFileW(const wchar16* pattern, void* data);
IMPORT int WINAPI FindNextFileW(void* handle, void* data);
IMPORT int WINAPI FindClose(void* handle);
IMPORT uint32_t WINAPI GetFileAttributesW(const wchar16* name);
IMPORT wchar16* WINAPI PathCombineW(wchar16* out, const wchar16* dir, const wchar16* file);
IMPORT int WINAPI PathIsRelativeW(const wchar16* path);
IMPORT int WINAPI PathIsUNCW(const wchar16* path);
IMPORT int WINAPI InterlockedIncrement(volatile int* value);
IMPORT int WINAPI InterlockedDecrement(volatile int* value);
IMPORT int WINAPI InterlockedExchange(volatile int* value, int next);
IMPORT int WINAPI InterlockedCompareExchange(volatile int* value, int next, int comparand);
IMPORT int WINAPI lstrlenA(const char* text);
IMPORT int WINAPI lstrlenW(const wchar16* text);
IMPORT char* WINAPI lstrcpyA(char* to, const char* from);
IMPORT int WINAPI lstrcmpiA(const char* a, const char* b);
IMPORT void WINAPI OutputDebugStringA(const char* text);
IMPORT void WINAPI OutputDebugStringW(const wchar16* text);
IMPORT uint32_t WINAPI GetCurrentProcessId(void);
IMPORT int WINAPI MessageBoxA(void* window, const char* text, const char* caption, uint32_t type);
IMPORT void* WINAPI GetProcessHeap(void);
IMPORT void* WINAPI HeapAlloc(void* heap, uint32_t flags, uint32_t size);
IMPORT uint32_t WINAPI GetLastError(void);
IMPORT void WINAPI SetLastError(uint32_t error);
IMPORT uint64_t WINAPI rt_allmul(uint64_t a, uint64_t b);
IMPORT int64_t WINAPI rt_alldiv(int64_t a, int64_t b);
IMPORT uint64_t WINAPI rt_aulldiv(uint64_t a, uint64_t b);
IMPORT int64_t WINAPI rt_allrem(int64_t a, int64_t b);
IMPORT uint64_t WINAPI rt_aullrem(uint64_t a, uint64_t b);

/* the C run-time */
IMPORT int rt_vsnprintf(char* out, size_t count, const char* format, va_list args);
IMPORT void* rt_calloc(size_t count, size_t size);
IMPORT void* rt_realloc(void* block, size_t size);
IMPORT void* rt_memcpy(void* to, const void* from, size_t size);
IMPORT void* rt_memmove(void* to, const void* from, size_t size);
IMPORT void* rt_memset(void* to, int value, size_t size);
IMPORT int rt_memcmp(const void* a, const void* b, size_t size);
IMPORT void* rt_memchr(const void* block, int value, size_t size);
IMPORT size_t rt_strlen(const char* text);
IMPORT int rt_strcmp(const char* a, const char* b);
IMPORT int rt_strncmp(const char* a, const char* b, size_t count);
IMPORT char* rt_strcpy(char* to, const char* from);
IMPORT char* rt_strncpy(char* to, const char* from, size_t count);
IMPORT char* rt_strcat(char* to, const char* from);
IMPORT char* rt_strncat(char* to, const char* from, size_t count);
IMPORT char* rt_strchr(const char* text, int c);
IMPORT char* rt_strrchr(const char* text, int c);
IMPORT char* rt_strstr(const char* text, const char* part);
IMPORT size_t rt_strspn(const char* text, const char* set);
IMPORT size_t rt_strcspn(const char* text, const char* set);
IMPORT char* rt_strpbrk(const char* text, const char* set);
IMPORT char* rt_strdup(const char* text);
IMPORT int rt_stricmp(const char* a, const char* b);
IMPORT int rt_strnicmp(const char* a, const char* b, size_t count);
IMPORT size_t rt_wcslen(const wchar16* text);
IMPORT int rt_wcsncmp(const wchar16* a, const wchar16* b, size_t count);
IMPORT int rt_tolower(int c);
IMPORT int rt_atoi(const char* text);
IMPORT long rt_atol(const char* text);
IMPORT long rt_strtol(const char* text, char** end, int base);
IMPORT unsigned long rt_strtoul(const char* text, char** end, int base);
IMPORT double rt_strtod(const char* text, char** end);
IMPORT double rt_atof(const char* text);
IMPORT int rt_abs(int value);
IMPORT long rt_labs(long value);
IMPORT int rt_rand(void);
IMPORT void rt_srand(uint32_t seed);
IMPORT void rt_qsort(void* base, size_t count, size_t width,
                     int (*compare)(const void*, const void*));
IMPORT double rt_pow(double x, double y);
IMPORT double rt_log(double x);
IMPORT double rt_log10(double x);
IMPORT double rt_exp(double x);
IMPORT double rt_sqrt(double x);
IMPORT double rt_sin(double x);
IMPORT double rt_cos(double x);
IMPORT double rt_tan(double x);
IMPORT double rt_atan(double x);
IMPORT double rt_atan2(double y, double x);
IMPORT double rt_floor(double x);
IMPORT double rt_ceil(double x);
IMPORT double rt_fabs(double x);
IMPORT double rt_fmod(double x, double y);
IMPORT double rt_ldexp(double x, int exponent);
IMPORT double rt_frexp(double x, int* exponent);
IMPORT double rt_modf(double x, double* whole);
IMPORT void rt_CIpow(void);
IMPORT void rt_CIsqrt(void);
IMPORT void rt_CIexp(void);
IMPORT void rt_CIlog(void);
IMPORT void rt_CIsin(void);
IMPORT void rt_CIcos(void);
IMPORT void rt_CIatan(void);
IMPORT void rt_CIatan2(void);
IMPORT void rt_CIfmod(void);
IMPORT void rt_ftol(void);
IMPORT void rt_allshl(void);
IMPORT void rt_allshr(void);
IMPORT void rt_aullshr(void);
IMPORT void rt_chkstk(void);
IMPORT void rt_alloca_probe(void);
IMPORT int rt_sprintf(char* out, const char* format, ...);
IMPORT int rt_snprintf(char* out, size_t count, const char* format, ...);
IMPORT int rt_vsprintf(char* out, const char* format, va_list args);
IMPORT int rt_sscanf(const char* text, const char* format, ...);
IMPORT int rt_stdio_common_vsprintf(uint64_t options, char* out, size_t count, const char* format,
                                    void* locale, va_list args);
IMPORT int rt_stdio_common_vfprintf(uint64_t options, void* stream, const char* format,
                                    void* locale, va_list args);
IMPORT int rt_stdio_common_vsscanf(uint64_t options, const char* text, size_t count,
                                   const char* format, void* locale, va_list args);
IMPORT void* rt_fopen(const char* name, const char* mode);
IMPORT void* rt_wfopen(const wchar16* name, const wchar16* mode);
IMPORT void* rt_fdopen(int descriptor, const char* mode);
IMPORT int rt_fclose(void* stream);
IMPORT size_t rt_fwrite(const void* data, size_t size, size_t count, void* stream);
IMPORT int rt_open(const char* name, int flags, ...);
IMPORT int rt_wopen(const wchar16* name, int flags, ...);
IMPORT int rt_read(int descriptor, void* buffer, uint32_t size);
IMPORT int rt_write(int descriptor, const void* data, uint32_t size);
IMPORT long rt_lseek(int descriptor, long offset, int origin);
IMPORT int rt_close(int descriptor);
IMPORT int rt_setmode(int descriptor, int mode);
IMPORT void* rt_acrt_iob_func(uint32_t which);
IMPORT int* rt_errno(void);
IMPORT char* rt_strerror(int error);
IMPORT char* rt_getenv(const char* name);
IMPORT wchar16* rt_wgetenv(const wchar16* name);
IMPORT void rt_assert(const char* message, const char* file, uint32_t line);
IMPORT void rt_abort(void);
IMPORT void rt_purecall(void);
IMPORT int rt_atexit(void (*function)(void));
IMPORT void* rt_onexit(void* function);
IMPORT void* rt_dllonexit(void* function, void* begin, void* end);
IMPORT int rt_except_handler3(void* record, void* frame, void* context, void* dispatcher);

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}

#define CHECK(slot, condition) r[kRt_##slot] = (condition) ? 1 : 0

static int same(const char* a, const char* b)
{
    while (*a && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

static int same_wide(const wchar16* a, const char* b)
{
    while (*a && *a == (wchar16)*b) {
        a++;
        b++;
    }
    return *a == (wchar16)*b;
}

static int near(double a, double b)
{
    double d = a - b;
    return d < 1e-12 && d > -1e-12;
}

static int read_fs(int offset)
{
    int value;
    __asm__ volatile("movl %%fs:(%1), %0" : "=r"(value) : "r"(offset));
    return value;
}

/* The compiler helpers' own conventions. */
static double x87_one(void* helper, double x)
{
    double result;
    __asm__ volatile("fldl %1\n\tcall *%2\n\tfstpl %0"
                     : "=m"(result)
                     : "m"(x), "r"(helper)
                     : "eax", "ecx", "edx", "memory", "st", "st(1)", "st(2)", "st(3)");
    return result;
}

static double x87_two(void* helper, double x, double y)
{
    double result;
    __asm__ volatile("fldl %1\n\tfldl %2\n\tcall *%3\n\tfstpl %0"
                     : "=m"(result)
                     : "m"(x), "m"(y), "r"(helper)
                     : "eax", "ecx", "edx", "memory", "st", "st(1)", "st(2)", "st(3)");
    return result;
}

static int64_t ftol(double x)
{
    int64_t result;
    __asm__ volatile("fldl %1\n\tcall *%2"
                     : "=A"(result)
                     : "m"(x), "r"((void*)rt_ftol)
                     : "ecx", "memory", "st", "st(1)", "st(2)", "st(3)");
    return result;
}

static uint64_t shift(void* helper, uint64_t value, uint32_t count)
{
    uint64_t result;
    __asm__ volatile("call *%2" : "=A"(result) : "A"(value), "r"(helper), "c"(count) : "memory");
    return result;
}

/* How far the stack pointer moved in a call of a stack probe for `size`
   bytes; the probe's stack is given back afterwards. */
static uint32_t probe(void* helper, uint32_t size)
{
    uint32_t before, after;
    __asm__ volatile("movl %%esp, %0\n\t"
                     "movl %3, %%eax\n\t"
                     "call *%2\n\t"
                     "movl %%esp, %1\n\t"
                     "movl %0, %%esp"
                     : "=&S"(before), "=&D"(after)
                     : "r"(helper), "r"(size)
                     : "eax", "ecx", "memory");
    return before - after;
}

static int compare_ints(const void* a, const void* b)
{
    return *(const int*)a - *(const int*)b;
}

static int format_into(char* out, size_t count, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = rt_vsnprintf(out, count, format, args);
    va_end(args);
    return n;
}

static int vsprintf_into(char* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = rt_vsprintf(out, format, args);
    va_end(args);
    return n;
}

static int common_sprintf(char* out, size_t count, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = rt_stdio_common_vsprintf(2, out, count, format, 0, args);
    va_end(args);
    return n;
}

static int common_fprintf(void* stream, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = rt_stdio_common_vfprintf(0, stream, format, 0, args);
    va_end(args);
    return n;
}

static int common_sscanf(const char* text, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = rt_stdio_common_vsscanf(0, text, (size_t)-1, format, 0, args);
    va_end(args);
    return n;
}

static void exit_handler(void) {}

static const wchar16 kDir[] = {'C', ':', '\\', 'd', 'i', 'r', 0};
static const wchar16 kFile[] = {'f', 'i', 'l', 'e', 0};
static const wchar16 kUNC[] = {'\\', '\\', 's', '\\', 'x', 0};
static const wchar16 kRelative[] = {'a', '\\', 'b', 0};

EXPORT void WINAPI SystemRows(uint32_t* r)
{
    char text[64];
    wchar16 wide[64];
    CHECK(GetModuleHandleW, (uint32_t)GetModuleHandleW(0) == 0xDEADBEEF);
    CHECK(GetTickCount, GetTickCount() != 0);
    void* heap = GetProcessHeap();
    uint8_t* block = HeapAlloc(heap, 0, 8);
    uint8_t* grown = block ? HeapReAlloc(heap, 0x08, block, 4000) : 0;
    int zero = grown != 0;
    for (int i = 8; grown && i < 4000; i++)
        zero &= grown[i] == 0;
    CHECK(HeapReAlloc, zero);
    CHECK(HeapSize, grown && HeapSize(heap, 0, grown) >= 4000);
    SetLastError(0);
    void* found = FindFirstFileW(kFile, text);
    CHECK(FindFirstFileW, (uint32_t)found == 0xFFFFFFFF && GetLastError() == 2);
    CHECK(FindNextFileW, FindNextFileW(found, text) == 0);
    CHECK(FindClose, FindClose(found) == 0);
    CHECK(GetFileAttributesW, GetFileAttributesW(kFile) == 0xFFFFFFFF && GetLastError() == 2);
    wchar16* joined = PathCombineW(wide, kDir, kFile);
    CHECK(PathCombineW, joined == wide && same_wide(wide, "C:\\dir\\file"));
    CHECK(PathIsRelativeW, PathIsRelativeW(kRelative) == 1 && PathIsRelativeW(kDir) == 0);
    CHECK(PathIsUNCW, PathIsUNCW(kUNC) == 1 && PathIsUNCW(kDir) == 0);
    volatile int counter = 5;
    CHECK(InterlockedIncrement, InterlockedIncrement(&counter) == 6 && counter == 6);
    CHECK(InterlockedDecrement, InterlockedDecrement(&counter) == 5 && counter == 5);
    CHECK(InterlockedExchange, InterlockedExchange(&counter, 9) == 5 && counter == 9);
    CHECK(InterlockedCompareExchange, InterlockedCompareExchange(&counter, 1, 9) == 9 &&
                                          InterlockedCompareExchange(&counter, 2, 9) == 1 &&
                                          counter == 1);
    CHECK(lstrlenA, lstrlenA("four") == 4 && lstrlenA(0) == 0);
    CHECK(lstrlenW, lstrlenW(kFile) == 4);
    CHECK(lstrcpyA, lstrcpyA(text, "copy") == text && same(text, "copy"));
    CHECK(lstrcmpiA, lstrcmpiA("ABC", "abd") < 0 && lstrcmpiA("Same", "sAME") == 0);
    OutputDebugStringA("narrow debug text\n");
    CHECK(OutputDebugStringA, 1);
    OutputDebugStringW(kFile);
    CHECK(OutputDebugStringW, 1);
    CHECK(GetCurrentProcessId, GetCurrentProcessId() == (uint32_t)read_fs(0x20));
    CHECK(vsnprintf_ntdll, format_into(text, 4, "%d", 123456) == -1 && text[0] == '1' &&
                               text[3] == '4' && format_into(text, 10, "%s", "ok") == 2 &&
                               same(text, "ok"));
    CHECK(MessageBoxA, MessageBoxA(0, "message text", "caption", 0) == 1);
    /* Where Windows keeps things without a call. */
    uint32_t process = (uint32_t)read_fs(0x30);
    CHECK(ProcessBlockHeap, process != 0 && *(void**)(process + 0x18) == heap);
    SetLastError(1234);
    CHECK(LastErrorSlot, read_fs(0x34) == 1234 && GetLastError() == 1234);
}

EXPORT void WINAPI StringRows(uint32_t* r)
{
    char text[64];
    int* numbers = rt_calloc(4, sizeof(int));
    CHECK(calloc, numbers && numbers[0] == 0 && numbers[3] == 0);
    numbers = rt_realloc(numbers, 1000 * sizeof(int));
    CHECK(realloc, numbers && numbers[3] == 0);
    CHECK(memcpy, rt_memcpy(text, "abcdef", 7) == text && same(text, "abcdef"));
    CHECK(memmove, rt_memmove(text + 1, text, 5) == text + 1 && same(text, "aabcde"));
    CHECK(memset, rt_memset(text, 'z', 3) == text && same(text, "zzzcde"));
    CHECK(memcmp, rt_memcmp("abc", "abd", 3) < 0 && rt_memcmp("abc", "abc", 3) == 0);
    CHECK(memchr, rt_memchr(text, 'c', 6) == text + 3 && rt_memchr(text, 'q', 6) == 0);
    CHECK(strlen, rt_strlen("seven77") == 7);
    CHECK(strcmp, rt_strcmp("b", "a") > 0 && rt_strcmp("same", "same") == 0);
    CHECK(strncmp, rt_strncmp("abcX", "abcY", 3) == 0 && rt_strncmp("ab", "abc", 3) < 0);
    CHECK(strcpy, rt_strcpy(text, "hello") == text && same(text, "hello"));
    rt_memset(text, 'x', 10);
    CHECK(strncpy, rt_strncpy(text, "ab", 5) == text && text[1] == 'b' && text[2] == 0 &&
                       text[4] == 0 && text[5] == 'x');
    rt_strcpy(text, "head");
    CHECK(strcat, rt_strcat(text, "tail") == text && same(text, "headtail"));
    CHECK(strncat, rt_strncat(text, "12345", 2) == text && same(text, "headtail12"));
    CHECK(strchr, rt_strchr(text, 't') == text + 4 && rt_strchr(text, 0) == text + 10);
    CHECK(strrchr, rt_strrchr("a/b/c", '/') != 0 && same(rt_strrchr("a/b/c", '/'), "/c"));
    CHECK(strstr, rt_strstr(text, "tail") == text + 4 && rt_strstr(text, "nope") == 0);
    CHECK(strspn, rt_strspn("aabbc", "ab") == 4);
    CHECK(strcspn, rt_strcspn("abc,def", ",;") == 3);
    CHECK(strpbrk, rt_strpbrk(text, "lt") == text + 4 && rt_strpbrk(text, "Q") == 0);
    char* copy = rt_strdup("duplicate");
    CHECK(strdup, copy && copy != text && same(copy, "duplicate"));
    CHECK(stricmp, rt_stricmp("MiXeD", "mixed") == 0 && rt_stricmp("a", "B") < 0);
    CHECK(strnicmp, rt_strnicmp("ABCdef", "abcXYZ", 3) == 0);
    CHECK(wcslen, rt_wcslen(kDir) == 6);
    CHECK(wcsncmp, rt_wcsncmp(kDir, kDir, 6) == 0 && rt_wcsncmp(kDir, kFile, 1) < 0);
    CHECK(tolower, rt_tolower('Q') == 'q' && rt_tolower('7') == '7');
    CHECK(atoi, rt_atoi("  -42xyz") == -42);
    CHECK(atol, rt_atol("99999") == 99999);
    char* end = 0;
    /* The end is in the text passed, past leading white space; the text
       itself when there is no number. */
    static const char kSpaced[] = " \t -12ab";
    static const char kNoNumber[] = "  zz";
    static const char kRealSpaced[] = "  1.5e";
    CHECK(strtol, rt_strtol("0x1Fz", &end, 0) == 31 && end && *end == 'z' &&
                      rt_strtol(kSpaced, &end, 10) == -12 && end == kSpaced + 6 &&
                      rt_strtol(kNoNumber, &end, 10) == 0 && end == kNoNumber);
    CHECK(strtoul, rt_strtoul("-1", 0, 10) == 0xFFFFFFFFul);
    CHECK(strtod, rt_strtod("2.5e1x", &end) == 25.0 && *end == 'x' &&
                      rt_strtod(kRealSpaced, &end) == 1.5 && end == kRealSpaced + 5 &&
                      rt_strtod(kNoNumber, &end) == 0.0 && end == kNoNumber);
    CHECK(atof, rt_atof("1.25") == 1.25);
    CHECK(abs, rt_abs(-5) == 5);
    CHECK(labs, rt_labs(-70000) == 70000);
    rt_srand(1);
    int first = rt_rand();
    CHECK(rand, first == 41 && rt_rand() == 18467);
    rt_srand(1);
    CHECK(srand, rt_rand() == first);
    int list[6] = {5, -3, 9, 0, 2, 2};
    rt_qsort(list, 6, sizeof(int), compare_ints);
    CHECK(qsort, list[0] == -3 && list[1] == 0 && list[2] == 2 && list[3] == 2 && list[4] == 5 &&
                     list[5] == 9);
}

EXPORT void WINAPI MathRows(uint32_t* r)
{
    const double kQuarterPi = 0.78539816339744830962;
    CHECK(pow, rt_pow(2.0, 10.0) == 1024.0);
    CHECK(log, near(rt_log(2.718281828459045), 1.0));
    CHECK(log10, near(rt_log10(1000.0), 3.0));
    CHECK(exp, rt_exp(0.0) == 1.0);
    CHECK(sqrt, rt_sqrt(16.0) == 4.0);
    CHECK(sin, rt_sin(0.0) == 0.0);
    CHECK(cos, rt_cos(0.0) == 1.0);
    CHECK(tan, near(rt_tan(kQuarterPi), 1.0));
    CHECK(atan, near(rt_atan(1.0), kQuarterPi));
    CHECK(atan2, near(rt_atan2(1.0, 1.0), kQuarterPi));
    CHECK(floor, rt_floor(-1.5) == -2.0);
    CHECK(ceil, rt_ceil(-1.5) == -1.0);
    CHECK(fabs, rt_fabs(-3.0) == 3.0);
    CHECK(fmod, rt_fmod(7.0, 3.0) == 1.0);
    CHECK(ldexp, rt_ldexp(1.5, 3) == 12.0);
    int exponent = 0;
    CHECK(frexp, rt_frexp(12.0, &exponent) == 0.75 && exponent == 4);
    double whole = 0;
    CHECK(modf, rt_modf(3.25, &whole) == 0.25 && whole == 3.0);
    CHECK(CIpow, x87_two((void*)rt_CIpow, 2.0, 10.0) == 1024.0);
    CHECK(CIsqrt, x87_one((void*)rt_CIsqrt, 2.25) == 1.5);
    CHECK(CIexp, x87_one((void*)rt_CIexp, 0.0) == 1.0);
    CHECK(CIlog, x87_one((void*)rt_CIlog, 1.0) == 0.0);
    CHECK(CIsin, x87_one((void*)rt_CIsin, 0.0) == 0.0);
    CHECK(CIcos, x87_one((void*)rt_CIcos, 0.0) == 1.0);
    CHECK(CIatan, near(x87_one((void*)rt_CIatan, 1.0), kQuarterPi));
    CHECK(CIatan2, near(x87_two((void*)rt_CIatan2, 1.0, -1.0), 3 * kQuarterPi));
    CHECK(CIfmod, x87_two((void*)rt_CIfmod, 7.5, 2.0) == 1.5);
    CHECK(ftol, ftol(-2.7) == -2 && ftol(5e9) == 5000000000ll);
    CHECK(allmul, rt_allmul(3000000000ull, 3) == 9000000000ull);
    CHECK(alldiv, rt_alldiv(-10, 3) == -3);
    CHECK(aulldiv, rt_aulldiv(10000000000ull, 10) == 1000000000ull);
    CHECK(allrem, rt_allrem(-10, 3) == -1);
    CHECK(aullrem, rt_aullrem(10000000007ull, 10) == 7);
    CHECK(allshl, shift((void*)rt_allshl, 0x80000001ull, 4) == 0x800000010ull);
    CHECK(allshr, shift((void*)rt_allshr, 0xF000000000000000ull, 60) == 0xFFFFFFFFFFFFFFFFull);
    CHECK(aullshr, shift((void*)rt_aullshr, 0xF000000000000000ull, 60) == 0xF);
    CHECK(chkstk, probe((void*)rt_chkstk, 12000) == 12000);
    CHECK(alloca_probe, probe((void*)rt_alloca_probe, 64) == 64);
}

EXPORT void WINAPI FormatAndFileRows(uint32_t* r)
{
    char text[64];
    CHECK(sprintf, rt_sprintf(text, "%s-%03d-%.2f", "x", 7, 1.5) == 10 && same(text, "x-007-1.50"));
    CHECK(snprintf, rt_snprintf(text, 3, "%d", 12345) == -1 && text[2] == '3' &&
                        rt_snprintf(text, 8, "%x", 255) == 2 && same(text, "ff"));
    CHECK(vsprintf, vsprintf_into(text, "%c%c", 'o', 'k') == 2 && same(text, "ok"));
    int a = 0, b = 0;
    char word[16];
    float f = 0;
    CHECK(sscanf, rt_sscanf(" 12 abc 0x1f 2.5", "%d %15s %x %f", &a, word, &b, &f) == 4 &&
                      a == 12 && same(word, "abc") && b == 31 && f == 2.5f);
    CHECK(stdio_common_vsprintf, common_sprintf(text, 4, "%d", 123456) == 6 && same(text, "123"));
    void* out = rt_acrt_iob_func(1);
    void* err = rt_acrt_iob_func(2);
    CHECK(acrt_iob_func, out != 0 && err != 0 && out != err && rt_acrt_iob_func(3) == 0);
    CHECK(stdio_common_vfprintf,
          common_fprintf(err, "to %s\n", "stderr") == 10 && common_fprintf((void*)text, "x") == -1);
    CHECK(stdio_common_vsscanf, common_sscanf("7,8", "%d,%d", &a, &b) == 2 && a == 7 && b == 8);
    int* error = rt_errno();
    *error = 0;
    CHECK(fopen, rt_fopen("C:\\file.txt", "rb") == 0 && *error == 2);
    *error = 0;
    CHECK(wfopen, rt_wfopen(kFile, kFile) == 0 && *error == 2);
    CHECK(fdopen, rt_fdopen(3, "r") == 0);
    CHECK(fclose, rt_fclose(out) == 0);
    CHECK(fwrite, rt_fwrite("line\n", 1, 5, out) == 5 && rt_fwrite("x", 1, 1, text) == 0);
    *error = 0;
    CHECK(open, rt_open("file", 0) == -1 && *error == 2);
    CHECK(wopen, rt_wopen(kFile, 0) == -1);
    CHECK(read, rt_read(5, text, 4) == -1 && *error == 9);
    CHECK(write, rt_write(1, "written\n", 8) == 8 && rt_write(5, "x", 1) == -1);
    CHECK(lseek, rt_lseek(1, 0, 0) == -1);
    CHECK(close, rt_close(7) == -1);
    CHECK(setmode, rt_setmode(1, 0x8000) == 0x4000);
    CHECK(error_number, error != 0 && (uint32_t)error - (uint32_t)read_fs(0x18) < 0x1000);
    char* message = rt_strerror(2);
    CHECK(strerror, message && same(message, "No such file or directory"));
    CHECK(getenv, rt_getenv("PATH") == 0);
    CHECK(wgetenv, rt_wgetenv(kFile) == 0);
    CHECK(atexit, rt_atexit(exit_handler) == 0);
    CHECK(onexit, rt_onexit((void*)exit_handler) == (void*)exit_handler);
    CHECK(dllonexit, rt_dllonexit((void*)exit_handler, 0, 0) == (void*)exit_handler);
    CHECK(except_handler3, rt_except_handler3(0, 0, 0, 0) == 1);
}

/* Each ends the module call as a fault. */
EXPORT void WINAPI Abort(uint32_t which)
{
    if (which == 0)
        rt_abort();
    else if (which == 1)
        rt_purecall();
    else
        rt_assert("x > 0", "codec.c", 12);
}
