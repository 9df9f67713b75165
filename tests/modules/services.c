/* Calls every memory, module, process, text, resource and dialog
   replacement from module code, with the real calling conventions, and
   records what it saw in a block of slots (services-slots.h) that the test
   reads back. */
#include "services.h"
#include "services-slots.h"

static void* sSelf;

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)reserved;
    if (reason == 1)
        sSelf = instance;
    return 1;
}

static int all_bytes(const void* block, uint32_t size, uint8_t value)
{
    const uint8_t* bytes = block;
    for (uint32_t i = 0; i < size; i++)
        if (bytes[i] != value)
            return 0;
    return 1;
}

static void fill(void* block, uint32_t size, uint8_t value)
{
    volatile uint8_t* bytes = block;
    for (uint32_t i = 0; i < size; i++)
        bytes[i] = value;
}

static uint32_t word_at(const void* address)
{
    const uint8_t* b = address;
    return b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24;
}

/* ---- memory ------------------------------------------------------------ */

EXPORT void WINAPI MemoryServices(uint32_t* r)
{
    void* heap = HeapCreate(0, 0x4000, 0x8000);
    r[kSlotHeapCreate] = (uint32_t)heap;
    r[kSlotProcessHeap] = (uint32_t)GetProcessHeap();
    /* Dirty a block, free it, and ask again: the same size is likely to
       come back, and must come back zeroed. */
    void* dirty = HeapAlloc(heap, 0, 48);
    r[kSlotHeapPlain] = dirty != 0;
    if (dirty)
        fill(dirty, 48, 0xAA);
    HeapFree(heap, 0, dirty);
    uint8_t* zeroed = HeapAlloc((void*)0x1234, 0x08, 48); /* any heap argument */
    r[kSlotHeapZeroed] = zeroed != 0 && all_bytes(zeroed, 48, 0);
    r[kSlotHeapFree] = HeapFree(heap, 0, zeroed);
    r[kSlotHeapDestroy] = HeapDestroy(heap);

    void* dirtyGlobal = GlobalAlloc(0, 40);
    if (dirtyGlobal)
        fill(dirtyGlobal, 40, 0x55);
    GlobalFree(dirtyGlobal);
    void* global = GlobalAlloc(0x42, 40); /* GMEM_MOVEABLE | GMEM_ZEROINIT */
    void* locked = GlobalLock(global);
    r[kSlotGlobalZeroed] = locked != 0 && all_bytes(locked, 40, 0);
    r[kSlotGlobalLockIsHandle] = locked == global;
    r[kSlotGlobalHandleIsPointer] = GlobalHandle(locked) == global;
    r[kSlotGlobalUnlock] = GlobalUnlock(global);
    r[kSlotGlobalFree] = (uint32_t)GlobalFree(global);

    void* local = LocalAlloc(0x40, 24);
    r[kSlotLocalZeroed] = local != 0 && all_bytes(local, 24, 0);
    r[kSlotLocalLockIsHandle] = LocalLock(local) == local;
    r[kSlotLocalFree] = (uint32_t)LocalFree(local);

    uint8_t* block = malloc(16);
    r[kSlotMallocBlock] = (uint32_t)block;
    if (block)
        fill(block, 16, 1);
    free(block);
    uint8_t* object = OperatorNew(12);
    r[kSlotNewBlock] = (uint32_t)object;
    if (object)
        fill(object, 12, 2);
    OperatorDelete(object);

    /* MEM_COMMIT 0x1000, MEM_RESERVE 0x2000 */
    uint8_t* rw = VirtualAlloc(0, 1, 0x1000, 0x04);
    r[kSlotVirtualReadWrite] = (uint32_t)rw;
    if (rw) {
        rw[0] = 0x11;
        rw[4095] = 0x22;
        r[kSlotVirtualWritable] = rw[0] == 0x11 && rw[4095] == 0x22;
    }
    r[kSlotVirtualReadOnly] = (uint32_t)VirtualAlloc(0, 5000, 0x3000, 0x02);
    r[kSlotVirtualExact] = (uint32_t)VirtualAlloc((void*)0x3F000000, 8192, 0x3000, 0x04);
    r[kSlotVirtualTaken] = (uint32_t)VirtualAlloc(sSelf, 4096, 0x3000, 0x04);
    r[kSlotVirtualAllocZero] = (uint32_t)VirtualAlloc(0, 0, 0x1000, 0x04);
    r[kSlotVirtualFreeImage] = VirtualFree(sSelf, 0, 0x8000);
    r[kSlotVirtualFreeNull] = VirtualFree(0, 0, 0x8000);

    r[kSlotBadReadNull] = IsBadReadPtr(0, 4);
    r[kSlotBadReadNullEmpty] = IsBadReadPtr(0, 0);
    r[kSlotBadReadGood] = IsBadReadPtr(r, 4);
    r[kSlotBadWriteHigh] = IsBadWritePtr((void*)0x80000000, 4);
    r[kSlotBadWriteEnd] = IsBadWritePtr((void*)0x7FFEFFFC, 8);
}

/* Frees what MemoryServices left for the test to look at. */
EXPORT void WINAPI FreeAreas(uint32_t* r)
{
    /* MEM_RELEASE 0x8000, MEM_DECOMMIT 0x4000: both delete the whole area. */
    r[kSlotVirtualFreeInside] = VirtualFree((uint8_t*)r[kSlotVirtualReadWrite] + 100, 0, 0x4000);
    r[kSlotVirtualFreeAgain] = VirtualFree((void*)r[kSlotVirtualReadWrite], 0, 0x8000);
    r[kSlotVirtualFreeReadOnly] = VirtualFree((void*)r[kSlotVirtualReadOnly], 0, 0x8000);
    r[kSlotVirtualFreeExact] = VirtualFree((void*)r[kSlotVirtualExact], 0, 0x8000);
    r[kSlotVirtualFreeTaken] = VirtualFree((void*)r[kSlotVirtualTaken], 0, 0x8000);
}

/* ---- modules ----------------------------------------------------------- */

typedef int(WINAPI* feature_t)(uint32_t feature);
static char sFileNames[4][16];

EXPORT int WINAPI Ordinal7(void)
{
    return 4242;
}

EXPORT void WINAPI ModuleServices(uint32_t* r)
{
    void* fake = GetModuleHandleA(0);
    r[kSlotModuleHandleNull] = (uint32_t)fake;
    r[kSlotModuleHandleName] = (uint32_t)GetModuleHandleA("kernel32.dll");
    feature_t feature = (feature_t)GetProcAddress(fake, "IsProcessorFeaturePresent");
    r[kSlotFeature3] = feature ? feature(3) : 99;
    r[kSlotFeature4] = feature ? feature(4) : 99;
    r[kSlotIsTNT] = (uint32_t)GetProcAddress(fake, "IsTNT");
    r[kSlotFakeOther] = (uint32_t)GetProcAddress(fake, "CreateFileA");

    void* helper = LoadLibraryA("helper.dll");
    r[kSlotHelperLoaded] = helper != 0;
    proc_t attaches = (proc_t)GetProcAddress(helper, "HelperAttaches");
    r[kSlotHelperAttaches] = attaches != (proc_t)0xDEADBEEF ? (uint32_t)attaches() : 99;
    r[kSlotHelperMissing] = (uint32_t)GetProcAddress(helper, "Missing");
    r[kSlotHelperFreed] = FreeLibrary(helper);

    /* A name below 0x10000 is an ordinal. */
    proc_t byOrdinal = (proc_t)GetProcAddress(sSelf, MAKEINTRESOURCE(7));
    r[kSlotOwnOrdinal] = byOrdinal != (proc_t)0xDEADBEEF ? (uint32_t)byOrdinal() : 99;
    r[kSlotMissingOrdinal] = (uint32_t)GetProcAddress(sSelf, MAKEINTRESOURCE(999));

    fill(sFileNames, sizeof(sFileNames), 'x');
    r[kSlotFileNameLength] = GetModuleFileNameA(sSelf, sFileNames[0], 16);
    r[kSlotFileNameCut] = GetModuleFileNameA(sSelf, sFileNames[1], 5);
    r[kSlotFileNameFake] = GetModuleFileNameA(fake, sFileNames[2], 4);
    r[kSlotFileNameOne] = GetModuleFileNameA(0, sFileNames[3], 1);
    r[kSlotFileNameNullBuffer] = GetModuleFileNameA(sSelf, 0, 16);
    r[kSlotFileNameBadBuffer] = GetModuleFileNameA(sSelf, (char*)0x7FFEFFF8, 16);
    r[kSlotFileNameTexts] = (uint32_t)sFileNames;

    r[kSlotDisableThreadCalls] = DisableThreadLibraryCalls(sSelf);
    r[kSlotLoadNull] = (uint32_t)LoadLibraryA(0);
    r[kSlotDriverNull] = (uint32_t)GetDriverModuleHandle(0);
}

/* ---- process and system ------------------------------------------------ */

static int not_filter(void* pointers)
{
    (void)pointers;
    return 0;
}

EXPORT void WINAPI ProcessServices(uint32_t* r)
{
    r[kSlotVersion] = GetVersion();
    uint8_t version[148];
    fill(version, sizeof(version), 0xEE);
    r[kSlotVersionEx] = GetVersionExA(version);
    for (int i = 0; i < 7; i++)
        r[kSlotVersionInfo + i] = word_at(version + 4 * i);
    r[kSlotVersionExNull] = GetVersionExA(0);
    r[kSlotVersionExEnd] = GetVersionExA((void*)0x7FFEFFC0);

    uint8_t system[36];
    fill(system, sizeof(system), 0xEE);
    GetSystemInfo(system);
    for (int i = 0; i < 9; i++)
        r[kSlotSystemInfo + i] = word_at(system + 4 * i);
    GetSystemInfo(0);
    GetSystemInfo((void*)0x10);

    r[kSlotCommandLine] = (uint32_t)GetCommandLineA();
    r[kSlotEnvironment] = (uint32_t)GetEnvironmentStrings();
    uint16_t* wide = GetEnvironmentStringsW();
    r[kSlotWideEnvironment] = (uint32_t)wide;
    r[kSlotFreeEnvironment] = FreeEnvironmentStringsW(wide);

    uint8_t startup[72];
    fill(startup, sizeof(startup), 0xEE);
    GetStartupInfoA(startup);
    r[kSlotStartupZeroed] = all_bytes(startup, 68, 0) && all_bytes(startup + 68, 4, 0xEE);
    GetStartupInfoA(0);

    r[kSlotStdInput] = (uint32_t)GetStdHandle((uint32_t)-10);
    r[kSlotStdOutput] = (uint32_t)GetStdHandle((uint32_t)-11);
    r[kSlotStdError] = (uint32_t)GetStdHandle((uint32_t)-12);
    r[kSlotStdOther] = (uint32_t)GetStdHandle(5);
    r[kSlotFileType] = GetFileType((void*)r[kSlotStdOutput]);
    r[kSlotHandleCount] = SetHandleCount(20);
    r[kSlotExceptionFilter] = (uint32_t)SetUnhandledExceptionFilter((void*)not_filter);
    r[kSlotACP] = GetACP();
    uint8_t info[20];
    fill(info, sizeof(info), 0xEE);
    r[kSlotCPInfo] = GetCPInfo(1252, info);
    r[kSlotCPInfoUntouched] = all_bytes(info, sizeof(info), 0xEE);

    r[kSlotUpperA] = toupper('a');
    r[kSlotUpperZ] = toupper('Z');
    r[kSlotUpperDigit] = toupper('1');
    r[kSlotUpperEOF] = toupper(-1);
    r[kSlotUpperHigh] = toupper(0xE9);
    r[kSlotUpperLarge] = toupper(1000);

    r[kSlotMulDivHalf] = MulDiv(7, 1, 2);
    r[kSlotMulDivNegativeHalf] = MulDiv(-7, 1, 2);
    r[kSlotMulDivOverflow] = MulDiv(0x40000000, 4, 1);
    r[kSlotMulDivByZero] = MulDiv(1, 1, 0);
    r[kSlotMulDivLarge] = MulDiv(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF);
    r[kSlotMulDivSigns] = MulDiv(-5, 3, -2);
    r[kSlotMulDivMinimum] = MulDiv(-0x7FFFFFFF - 1, 1, 1);
    r[kSlotMulDivMinimumOverflow] = MulDiv(-0x7FFFFFFF - 1, -1, 1);

    SetLastError(1234);
    r[kSlotLastError] = GetLastError();
    SetLastError(0);
    r[kSlotLastErrorCleared] = GetLastError();
}

/* ---- text conversion --------------------------------------------------- */

static const uint16_t kAbc[] = {'A', 'b', 'c', 0};
static const uint16_t kAccent[] = {0x00E9};
static const uint16_t kLoneSurrogate[] = {0xD800, 'x'};

EXPORT void WINAPI TextConversion(uint32_t* r)
{
    char bytes[8];
    r[kSlotWideSize] = WideCharToMultiByte(0, 0, kAbc, 3, 0, 0, 0, 0);
    fill(bytes, sizeof(bytes), '#');
    r[kSlotWideCut] = WideCharToMultiByte(0, 0, kAbc, 3, bytes, 2, 0, 0);
    r[kSlotWideCutBytes] = word_at(bytes);
    fill(bytes, sizeof(bytes), '#');
    r[kSlotWideAccent] = WideCharToMultiByte(0, 0, kAccent, 1, bytes, 8, 0, 0);
    r[kSlotWideAccentBytes] = word_at(bytes);
    r[kSlotWideTerminated] = WideCharToMultiByte(0, 0, kAbc, 0, 0, 0, 0, 0);
    r[kSlotWideWithTerminator] = WideCharToMultiByte(0, 0, kAbc, -1, 0, 0, 0, 0);
    fill(bytes, sizeof(bytes), '#');
    r[kSlotWideSubstitute] = WideCharToMultiByte(0, 0, kLoneSurrogate, 2, bytes, 8, "?", 0);
    r[kSlotWideSubstituteBytes] = word_at(bytes);
    r[kSlotWideBadSource] = WideCharToMultiByte(0, 0, (const uint16_t*)0x100, 3, 0, 0, 0, 0);
    r[kSlotWideBadTarget] = WideCharToMultiByte(0, 0, kAbc, 3, (char*)0x7FFEFFFF, 8, 0, 0);

    uint16_t units[4];
    r[kSlotNarrowSize] = MultiByteToWideChar(0, 0, "\xC3\xA9", 0, 0, 0);
    fill(units, sizeof(units), 0xEE);
    r[kSlotNarrowStored] = MultiByteToWideChar(0, 0, "\xC3\xA9", 0, units, 4);
    r[kSlotNarrowUnit] = word_at(units);
    fill(units, sizeof(units), 0xEE);
    r[kSlotNarrowCounted] = MultiByteToWideChar(0, 0, "xyz", 2, units, 4);
    r[kSlotNarrowCountedUnits] = word_at(units);
    r[kSlotNarrowBadSource] = MultiByteToWideChar(0, 0, (const char*)0x7FFF0000, 0, 0, 0);
    r[kSlotNarrowBadTarget] = MultiByteToWideChar(0, 0, "xyz", 3, (uint16_t*)0x20, 4);
    fill(units, sizeof(units), 0xEE);
    r[kSlotNarrowInvalid] = MultiByteToWideChar(0, 0, "\xFF", 1, units, 4);
    r[kSlotNarrowInvalidUnit] = units[0];
}

/* Long enough for the conversions to work in several pieces. */
EXPORT void WINAPI LongText(uint32_t* r, uint8_t* block)
{
    uint16_t* wide = (uint16_t*)(block + kLongWide);
    wide[0] = 'a';
    for (int i = 1; i < 5000; i++)
        wide[i] = 0xE9;
    wide[2047] = 0xD83D; /* U+1F600 across the 2048th unit */
    wide[2048] = 0xDE00;
    char* narrow = (char*)(block + kLongNarrow);
    r[kSlotLongWideSize] = WideCharToMultiByte(0, 0, wide, 5000, 0, 0, 0, 0);
    int stored = WideCharToMultiByte(0, 0, wide, 5000, narrow, 12000, 0, 0);
    r[kSlotLongWideStored] = stored;
    r[kSlotLongNarrowSize] = MultiByteToWideChar(0, 0, narrow, stored, 0, 0);
    r[kSlotLongNarrowStored] =
        MultiByteToWideChar(0, 0, narrow, stored, (uint16_t*)(block + kLongBack), 5000);
}

/* ---- formatting -------------------------------------------------------- */

static int format_list(char* buffer, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    int result = wvsprintfA(buffer, format, arguments);
    va_end(arguments);
    return result;
}

static const uint16_t kWideWord[] = {'w', 'i', 'd', 'e', 0};

EXPORT void WINAPI Formatting(uint32_t* r, char* texts)
{
    r[kSlotPrintfDecimal] = wsprintfA(texts + kTextDecimal, "%d", 42);
    r[kSlotVprintfDecimal] = format_list(texts + kTextVprintf, "%d", 42);
    r[kSlotPrintfMixed] = wsprintfA(
        texts + kTextMixed, "%s|%5.2f|%-4x|%c|%lu|%hd|%+.3e|%ld|%lld|%X|%%|%o|%hhu", "str", 3.14159,
        255, 'z', 4000000000u, 70000, 12345.678, -5L, 1LL << 40, 0xBEEF, 8, 0x1FF);
    r[kSlotPrintfStrings] = wsprintfA(texts + kTextStrings, "[%s][%s][%.2s][%-6s][%y]", (char*)0,
                                      (char*)0x100, "abcdef", "ab");
    r[kSlotPrintfStars] =
        format_list(texts + kTextStars, "[%*d][%-*d][%.*f][%0*d]", 5, 42, 4, 7, 2, 2.71828, 6, -12);
    r[kSlotPrintfWide] = wsprintfA(texts + kTextWide, "%ls|%S|%lc", kWideWord, kWideWord, 0xE9);
    r[kSlotPrintfLong] = format_list(texts + kTextLong, "%8000d%500d", 1, 2);
    r[kSlotPrintfBadBuffer] = wsprintfA((char*)0x7FFEFFFE, "%d", 12345);
    r[kSlotPrintfNoFormat] = format_list(texts, 0);
    int count = -1;
    wsprintfA(texts + kTextStringFull, "abc%n", &count);
    r[kSlotPrintfCountUntouched] = count == -1;
}

/* ---- strings and resources --------------------------------------------- */

EXPORT void WINAPI Resources(uint32_t* r, char* texts, void* other)
{
    r[kSlotStringFull] = LoadStringA(sSelf, 1, texts + kTextStringFull, 64);
    r[kSlotStringCut] = LoadStringA(sSelf, 1, texts + kTextStringCut, 5);
    char one[2] = {'x', 'x'};
    r[kSlotStringOne] = LoadStringA(sSelf, 1, one, 1);
    r[kSlotStringOne] |= (one[0] != 0 || one[1] != 'x') << 8;
    char zero = 'x';
    r[kSlotStringZero] = LoadStringA(sSelf, 1, &zero, 0);
    r[kSlotStringZeroUntouched] = zero == 'x';
    r[kSlotStringMissing] = LoadStringA(sSelf, 3, texts, 64);
    r[kSlotStringAccent] = LoadStringA(sSelf, 2, texts + kTextStringAccent, 64);
    r[kSlotStringOtherModule] = LoadStringA(other, 1, texts, 64);
    r[kSlotStringBadBuffer] = LoadStringA(sSelf, 1, (char*)0x7FFEFFF0, 64);

    const char* rcdata = MAKEINTRESOURCE(10);
    void* found = FindResourceA(sSelf, MAKEINTRESOURCE(5), rcdata);
    void* data = LoadResource(sSelf, found);
    void* locked = LockResource(data);
    r[kSlotResourceData] = data ? word_at(locked) : 0;
    r[kSlotResourceSize] = SizeofResource(sSelf, found);
    r[kSlotResourceLocked] = locked == data;
    r[kSlotResourceNamed] = SizeofResource(sSelf, FindResourceA(sSelf, "nameddata", rcdata));
    r[kSlotResourceStringType] = (uint32_t)FindResourceA(sSelf, "SERVICESDATA", "CUSTOM");
    r[kSlotResourceNumberName] = (uint32_t)FindResourceA(sSelf, "#5", rcdata);
    void* block = FindResourceA(sSelf, MAKEINTRESOURCE(1), MAKEINTRESOURCE(6));
    const uint16_t* strings = LoadResource(sSelf, block);
    /* The first block holds strings 0-15: 0 is empty, 1 has 10 units. */
    r[kSlotResourceStringBlock] = strings ? (uint32_t)strings[0] | (uint32_t)strings[1] << 16 : 99;
    r[kSlotResourceMissing] = (uint32_t)FindResourceA(sSelf, MAKEINTRESOURCE(77), rcdata);
    r[kSlotResourceOtherModule] =
        (uint32_t)FindResourceA((void*)0x12340000, MAKEINTRESOURCE(5), rcdata);
    r[kSlotResourceMarkerLoad] = (uint32_t)LoadResource(sSelf, (void*)0xDEADDEAD);
    r[kSlotResourceMarkerSize] = SizeofResource(sSelf, (void*)0xDEADDEAD);
    r[kSlotResourceBadName] = (uint32_t)FindResourceA(sSelf, (const char*)0x7FFFFFF0, rcdata);

    void* icon = LoadIconA(sSelf, MAKEINTRESOURCE(1));
    r[kSlotIcon] = icon ? word_at(icon) : 0;
    r[kSlotIconMissing] = (uint32_t)LoadIconA(sSelf, MAKEINTRESOURCE(9));
    r[kSlotDialogFound] = FindResourceA(sSelf, "SERVICESDIALOG", MAKEINTRESOURCE(5)) != 0;
}

/* ---- dialogs, windows and drivers -------------------------------------- */

static uint32_t* sDialogSlots;

static int WINAPI DialogProcedure(void* window, uint32_t message, uint32_t wparam, uint32_t lparam)
{
    sDialogSlots[kSlotDialogCalls]++;
    sDialogSlots[kSlotDialogWindow] = (uint32_t)window;
    sDialogSlots[kSlotDialogMessage] = message;
    sDialogSlots[kSlotDialogWParam] = wparam;
    sDialogSlots[kSlotDialogLParam] = lparam;
    return 1;
}

EXPORT void WINAPI Dialogs(uint32_t* r)
{
    sDialogSlots = r;
    r[kSlotDialogResult] = DialogBoxParamA(sSelf, "SERVICESDIALOG", 0, DialogProcedure, 0x1234);
    r[kSlotDialogMissingResult] =
        DialogBoxParamA(sSelf, MAKEINTRESOURCE(404), 0, DialogProcedure, 0x5678);
    r[kSlotDialogNullProcedure] = DialogBoxParamA(sSelf, "SERVICESDIALOG", 0, 0, 0);
    void* window = (void*)r[kSlotDialogWindow];
    r[kSlotSetItemText] = SetDlgItemTextA(window, 1, "text");
    r[kSlotSetItemInt] = SetDlgItemInt(window, 1, 5, 1);
    r[kSlotGetItem] = (uint32_t)GetDlgItem(window, 1);
    r[kSlotScrollRange] = SetScrollRange(window, 0, 0, 100, 1);
    r[kSlotScrollPos] = SetScrollPos(window, 0, 50, 1);
    void* dc = GetDC(window);
    r[kSlotGetDC] = (uint32_t)dc;
    r[kSlotDeviceCaps] = GetDeviceCaps(dc, 8);
    ReleaseDC(window, dc);
    r[kSlotDefDriverProc] = DefDriverProc(1, 0, 0x4001, 2, 3);
}

/* ---- every import, called with zeros: the stack and the host survive ----- */

/* ESP before the pushes minus ESP after the call. */
static int stack_effect(void* function, int words)
{
    int moved;
    __asm__ volatile("movl %%esp, %%esi\n\t"
                     "movl %2, %%ecx\n"
                     "1:\n\t"
                     "testl %%ecx, %%ecx\n\t"
                     "jz 2f\n\t"
                     "pushl $0\n\t"
                     "decl %%ecx\n\t"
                     "jmp 1b\n"
                     "2:\n\t"
                     "call *%1\n\t"
                     "subl %%esp, %%esi\n\t"
                     "addl %%esi, %%esp\n\t"
                     : "=&S"(moved)
                     : "b"(function), "D"(words)
                     : "eax", "ecx", "edx", "memory", "cc");
    return moved;
}

struct import_call {
    void* function;
    int words;
    int cdecl;
};

#define STDCALL(f, words)                                                                          \
    {                                                                                              \
        (void*)f, words, 0                                                                         \
    }
#define CDECL(f, words)                                                                            \
    {                                                                                              \
        (void*)f, words, 1                                                                         \
    }

static const struct import_call kImports[] = {
    STDCALL(GetDriverModuleHandle, 1),
    STDCALL(IsBadWritePtr, 2),
    STDCALL(IsBadReadPtr, 2),
    CDECL(malloc, 1),
    CDECL(free, 1),
    CDECL(_initterm, 2),
    STDCALL(DisableThreadLibraryCalls, 1),
    CDECL(OperatorDelete, 1),
    CDECL(OperatorNew, 1),
    STDCALL(GetSystemInfo, 1),
    STDCALL(GetVersion, 0),
    STDCALL(HeapCreate, 3),
    STDCALL(HeapDestroy, 1),
    STDCALL(VirtualAlloc, 4),
    STDCALL(VirtualFree, 3),
    STDCALL(GetCommandLineA, 0),
    STDCALL(GetEnvironmentStringsW, 0),
    STDCALL(WideCharToMultiByte, 8),
    STDCALL(FreeEnvironmentStringsW, 1),
    STDCALL(GetStartupInfoA, 1),
    STDCALL(GetEnvironmentStrings, 0),
    STDCALL(GetACP, 0),
    STDCALL(GetModuleFileNameA, 3),
    STDCALL(LoadLibraryA, 1),
    STDCALL(GetModuleHandleA, 1),
    STDCALL(HeapAlloc, 3),
    STDCALL(GetProcessHeap, 0),
    CDECL(toupper, 1),
    CDECL(wsprintfA, 2),
    STDCALL(HeapFree, 3),
    STDCALL(GetDC, 1),
    STDCALL(GetDeviceCaps, 2),
    STDCALL(ReleaseDC, 2),
    STDCALL(MultiByteToWideChar, 6),
    STDCALL(GetStdHandle, 1),
    STDCALL(GetFileType, 1),
    STDCALL(SetHandleCount, 1),
    STDCALL(LocalAlloc, 2),
    STDCALL(SetUnhandledExceptionFilter, 1),
    STDCALL(GetVersionExA, 1),
    STDCALL(LoadStringA, 4),
    STDCALL(LocalLock, 1),
    STDCALL(GlobalAlloc, 2),
    STDCALL(GlobalHandle, 1),
    STDCALL(GlobalLock, 1),
    STDCALL(GlobalUnlock, 1),
    STDCALL(GlobalFree, 1),
    STDCALL(GetProcAddress, 2),
    STDCALL(FreeLibrary, 1),
    STDCALL(MulDiv, 3),
    STDCALL(FindResourceA, 3),
    STDCALL(LoadResource, 2),
    STDCALL(SizeofResource, 2),
    STDCALL(LoadIconA, 2),
    STDCALL(wvsprintfA, 3),
    STDCALL(GetCPInfo, 2),
    STDCALL(DefDriverProc, 5),
    STDCALL(LocalFree, 1),
    STDCALL(LockResource, 1),
    STDCALL(DialogBoxParamA, 5),
    STDCALL(SetDlgItemTextA, 3),
    STDCALL(SetDlgItemInt, 4),
    STDCALL(GetDlgItem, 2),
    STDCALL(SetScrollRange, 5),
    STDCALL(SetScrollPos, 4),
    STDCALL(GetLastError, 0),
    STDCALL(SetLastError, 1),
};

/* The number of imports called, and of those whose stack effect was wrong
   (high 16 bits). */
EXPORT uint32_t WINAPI StackEffects(void)
{
    uint32_t count = sizeof(kImports) / sizeof(kImports[0]);
    uint32_t wrong = 0;
    for (uint32_t i = 0; i < count; i++) {
        int expected = kImports[i].cdecl ? 4 * kImports[i].words : 0;
        wrong += stack_effect(kImports[i].function, kImports[i].words) != expected;
    }
    return wrong << 16 | count;
}
