// The import binding table, in the order names are compared, and the page
// of thunks through which module code calls the replacements.
//
// To bind a row: write the replacement (integer parameters, one per 32-bit
// argument) in the file of its area, declare it in that file's header,
// include the header here and replace the row's pending_row with
// stdcall_row<&exp_Name, Bytes>("Name") or cdecl_row<&exp_name>("name").
// The build checks the parameter count against the row's bytes.
#include "winemu/loader/ImportTable.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"
#include "registry/RegistryAPI.h"
#include "winemu/kernel32/MemoryServices.h"
#include "winemu/kernel32/ModuleServices.h"
#include "winemu/kernel32/ProcessServices.h"
#include "winemu/kernel32/ResourceServices.h"
#include "winemu/kernel32/SyncServices.h"
#include "winemu/kernel32/TextServices.h"
#include "winemu/kernel32/ThreadServices.h"
#include "winemu/msvcrt/RunTimeFiles.h"
#include "winemu/msvcrt/RunTimeFormat.h"
#include "winemu/msvcrt/RunTimeMath.h"
#include "winemu/msvcrt/RunTimeStrings.h"
#include "winemu/user32/UIServices.h"

#include "platform/support/Debug.h"

#include <cstring>
#include <initializer_list>
#include <mutex>
#include <sys/mman.h>
#include <unicorn/unicorn.h>

namespace
{

const import_entry kRows[] = {
    stdcall_row<&exp_GetDriverModuleHandle, 4>("GetDriverModuleHandle"),
    stdcall_row<&exp_IsBadWritePtr, 8>("IsBadWritePtr"),
    stdcall_row<&exp_IsBadReadPtr, 8>("IsBadReadPtr"),
    cdecl_row<&exp_malloc>("malloc"),
    cdecl_row<&exp_free>("free"),
    cdecl_row<&exp_initterm>("_initterm"),
    stdcall_row<&exp_DisableThreadLibraryCalls, 4>("DisableThreadLibraryCalls"),
    cdecl_row<&exp_delete>("??3@YAXPAX@Z"),
    cdecl_row<&exp_new>("??2@YAPAXI@Z"),
    {"_adjust_fdiv", 0, 0, nullptr, true},
    stdcall_row<&exp_RegOpenKeyA, 12>("RegOpenKeyA"),
    stdcall_row<&exp_GetSystemInfo, 4>("GetSystemInfo"),
    stdcall_row<&exp_Sleep, 4>("Sleep"),
    stdcall_row<&exp_RegSetValueExA, 24>("RegSetValueExA"),
    stdcall_row<&exp_RegCloseKey, 4>("RegCloseKey"),
    stdcall_row<&exp_RegQueryValueExA, 24>("RegQueryValueExA"),
    stdcall_row<&exp_GetVersion, 0>("GetVersion"),
    stdcall_row<&exp_HeapCreate, 12>("HeapCreate"),
    stdcall_row<&exp_HeapDestroy, 4>("HeapDestroy"),
    stdcall_row<&exp_VirtualAlloc, 16>("VirtualAlloc"),
    stdcall_row<&exp_VirtualFree, 12>("VirtualFree"),
    stdcall_row<&exp_InitializeCriticalSection, 4>("InitializeCriticalSection"),
    stdcall_row<&exp_EnterCriticalSection, 4>("EnterCriticalSection"),
    stdcall_row<&exp_LeaveCriticalSection, 4>("LeaveCriticalSection"),
    stdcall_row<&exp_DeleteCriticalSection, 4>("DeleteCriticalSection"),
    stdcall_row<&exp_TlsAlloc, 0>("TlsAlloc"),
    stdcall_row<&exp_TlsSetValue, 8>("TlsSetValue"),
    stdcall_row<&exp_TlsGetValue, 4>("TlsGetValue"),
    stdcall_row<&exp_TlsFree, 4>("TlsFree"),
    stdcall_row<&exp_GetCurrentThreadId, 0>("GetCurrentThreadId"),
    stdcall_row<&exp_GetCommandLineA, 0>("GetCommandLineA"),
    stdcall_row<&exp_GetEnvironmentStringsW, 0>("GetEnvironmentStringsW"),
    stdcall_row<&exp_WideCharToMultiByte, 32>("WideCharToMultiByte"),
    stdcall_row<&exp_FreeEnvironmentStringsW, 4>("FreeEnvironmentStringsW"),
    stdcall_row<&exp_GetStartupInfoA, 4>("GetStartupInfoA"),
    stdcall_row<&exp_GetEnvironmentStrings, 0>("GetEnvironmentStrings"),
    stdcall_row<&exp_GetACP, 0>("GetACP"),
    stdcall_row<&exp_GetModuleFileNameA, 12>("GetModuleFileNameA"),
    stdcall_row<&exp_LoadLibraryA, 4>("LoadLibraryA"),
    stdcall_row<&exp_GetModuleHandleA, 4>("GetModuleHandleA"),
    stdcall_row<&exp_HeapAlloc, 12>("HeapAlloc"),
    stdcall_row<&exp_GetProcessHeap, 0>("GetProcessHeap"),
    cdecl_row<&exp_toupper>("toupper"),
    cdecl_row<&exp_wsprintfA>("wsprintfA"),
    stdcall_row<&exp_HeapFree, 12>("HeapFree"),
    stdcall_row<&exp_GetDC, 4>("GetDC"),
    stdcall_row<&exp_GetDeviceCaps, 8>("GetDeviceCaps"),
    stdcall_row<&exp_ReleaseDC, 8>("ReleaseDC"),
    stdcall_row<&exp_CreateEventA, 16>("CreateEventA"),
    stdcall_row<&exp_CreateThread, 24>("CreateThread"),
    stdcall_row<&exp_WaitForSingleObject, 8>("WaitForSingleObject"),
    stdcall_row<&exp_SetEvent, 4>("SetEvent"),
    stdcall_row<&exp_MultiByteToWideChar, 24>("MultiByteToWideChar"),
    stdcall_row<&exp_GetStdHandle, 4>("GetStdHandle"),
    stdcall_row<&exp_GetFileType, 4>("GetFileType"),
    stdcall_row<&exp_SetHandleCount, 4>("SetHandleCount"),
    stdcall_row<&exp_LocalAlloc, 8>("LocalAlloc"),
    stdcall_row<&exp_SetUnhandledExceptionFilter, 4>("SetUnhandledExceptionFilter"),
    stdcall_row<&exp_GetVersionExA, 4>("GetVersionExA"),
    stdcall_row<&exp_LoadStringA, 16>("LoadStringA"),
    stdcall_row<&exp_LocalLock, 4>("LocalLock"),
    stdcall_row<&exp_RegOpenKeyExA, 20>("RegOpenKeyExA"),
    stdcall_row<&exp_QueryPerformanceCounter, 4>("QueryPerformanceCounter"),
    stdcall_row<&exp_QueryPerformanceFrequency, 4>("QueryPerformanceFrequency"),
    stdcall_row<&exp_GlobalAlloc, 8>("GlobalAlloc"),
    stdcall_row<&exp_GlobalHandle, 4>("GlobalHandle"),
    stdcall_row<&exp_GlobalLock, 4>("GlobalLock"),
    stdcall_row<&exp_GlobalUnlock, 4>("GlobalUnlock"),
    stdcall_row<&exp_GlobalFree, 4>("GlobalFree"),
    stdcall_row<&exp_RegCreateKeyExA, 36>("RegCreateKeyExA"),
    stdcall_row<&exp_CreateSemaphoreA, 16>("CreateSemaphoreA"),
    stdcall_row<&exp_GetProcAddress, 8>("GetProcAddress"),
    stdcall_row<&exp_FreeLibrary, 4>("FreeLibrary"),
    stdcall_row<&exp_ReleaseSemaphore, 12>("ReleaseSemaphore"),
    stdcall_row<&exp_CloseHandle, 4>("CloseHandle"),
    stdcall_row<&exp_timeGetTime, 0>("timeGetTime"),
    stdcall_row<&exp_MulDiv, 12>("MulDiv"),
    stdcall_row<&exp_FindResource, 12>("FindResourceA"),
    stdcall_row<&exp_LoadResource, 8>("LoadResource"),
    stdcall_row<&exp_SizeofResource, 8>("SizeofResource"),
    stdcall_row<&exp_LoadIcon, 8>("LoadIconA"),
    stdcall_row<&exp_wvsprintfA, 12>("wvsprintfA"),
    stdcall_row<&exp_GetCPInfo, 8>("GetCPInfo"),
    stdcall_row<&exp_DefDriverProc, 20>("DefDriverProc"),
    stdcall_row<&exp_LocalFree, 4>("LocalFree"),
    stdcall_row<&exp_LockResource, 4>("LockResource"),
    stdcall_row<&exp_RegQueryValueA, 16>("RegQueryValueA"),
    stdcall_row<&exp_DialogBoxParamA, 20>("DialogBoxParamA"),
    stdcall_row<&exp_SetDlgItemTextA, 12>("SetDlgItemTextA"),
    stdcall_row<&exp_SetDlgItemInt, 16>("SetDlgItemInt"),
    stdcall_row<&exp_GetDlgItem, 8>("GetDlgItem"),
    stdcall_row<&exp_SetScrollRange, 20>("SetScrollRange"),
    stdcall_row<&exp_SetScrollPos, 16>("SetScrollPos"),
    stdcall_row<&exp_RegCreateKey, 12>("RegCreateKeyA"),
    stdcall_row<&exp_GetLastError, 0>("GetLastError"),
    stdcall_row<&exp_SetLastError, 4>("SetLastError"),
};

constexpr size_t kFirstRowCount = sizeof(kRows) / sizeof(kRows[0]);
static_assert(kFirstRowCount == 96, "the table has 96 rows");

// _chkstk / _alloca_probe: EAX bytes more stack below the caller's, each
// page touched in turn from the top so that a stack too small for them
// faults at its guard page rather than past it. Returns with ESP lowered.
const uint8 kStackProbeCode[] = {
    0x51,                         // push ecx
    0x8D, 0x4C, 0x24, 0x08,       // lea ecx, [esp+8]: ESP before the call
    0x29, 0xC1,                   // sub ecx, eax: the new stack top
    0x89, 0xE0,                   // mov eax, esp
    0x2D, 0x00, 0x10, 0x00, 0x00, // probe: sub eax, 0x1000
    0x39, 0xC8,                   // cmp eax, ecx
    0x72, 0x04,                   // jb done
    0x85, 0x00,                   // test [eax], eax
    0xEB, 0xF3,                   // jmp probe
    0x85, 0x01,                   // done: test [ecx], eax
    0x89, 0xE0,                   // mov eax, esp
    0x89, 0xCC,                   // mov esp, ecx
    0x8B, 0x08,                   // mov ecx, [eax]: the caller's ECX
    0xFF, 0x70, 0x04,             // push dword [eax+4]: the return address
    0xC3,                         // ret
};

// The run-time and system calls that codec modules of other makers import,
// after the first table's rows; a name there keeps its row.
const import_entry kMoreRows[] = {
    // kernel32
    stdcall_row<&exp_GetModuleHandleW, 4>("GetModuleHandleW"),
    stdcall_row<&exp_GetTickCount, 0>("GetTickCount"),
    stdcall_row<&exp_HeapReAlloc, 16>("HeapReAlloc"),
    stdcall_row<&exp_HeapSize, 12>("HeapSize"),
    stdcall_row<&exp_FindFirstFileW, 8>("FindFirstFileW"),
    stdcall_row<&exp_FindNextFileW, 8>("FindNextFileW"),
    stdcall_row<&exp_FindClose, 4>("FindClose"),
    stdcall_row<&exp_GetFileAttributesW, 4>("GetFileAttributesW"),
    stdcall_row<&exp_PathCombineW, 12>("PathCombineW"),
    stdcall_row<&exp_PathIsRelativeW, 4>("PathIsRelativeW"),
    stdcall_row<&exp_PathIsUNCW, 4>("PathIsUNCW"),
    stdcall_row<&exp_InterlockedIncrement, 4>("InterlockedIncrement"),
    stdcall_row<&exp_InterlockedDecrement, 4>("InterlockedDecrement"),
    stdcall_row<&exp_InterlockedExchange, 8>("InterlockedExchange"),
    stdcall_row<&exp_InterlockedCompareExchange, 12>("InterlockedCompareExchange"),
    stdcall_row<&exp_lstrlenA, 4>("lstrlenA"),
    stdcall_row<&exp_lstrlenW, 4>("lstrlenW"),
    stdcall_row<&exp_lstrcpyA, 8>("lstrcpyA"),
    stdcall_row<&exp_lstrcmpiA, 8>("lstrcmpiA"),
    stdcall_row<&exp_OutputDebugStringA, 4>("OutputDebugStringA"),
    stdcall_row<&exp_OutputDebugStringW, 4>("OutputDebugStringW"),
    stdcall_row<&exp_GetCurrentProcessId, 0>("GetCurrentProcessId"),
    // ntdll, user32
    cdecl_row<&exp_vsnprintf>("_vsnprintf"),
    stdcall_row<&exp_MessageBoxA, 16>("MessageBoxA"),
    stdcall_row<&exp_MessageBoxW, 16>("MessageBoxW"),
    stdcall_row<&exp_LoadStringW, 16>("LoadStringW"),
    stdcall_row<&exp_IsBadStringPtrA, 8>("IsBadStringPtrA"),
    // C run-time: memory and strings
    cdecl_row<&exp_calloc>("calloc"),
    cdecl_row<&exp_realloc>("realloc"),
    cdecl_row<&exp_memcpy>("memcpy"),
    cdecl_row<&exp_memmove>("memmove"),
    cdecl_row<&exp_memset>("memset"),
    cdecl_row<&exp_memcmp>("memcmp"),
    cdecl_row<&exp_memchr>("memchr"),
    cdecl_row<&exp_strlen>("strlen"),
    cdecl_row<&exp_strcmp>("strcmp"),
    cdecl_row<&exp_strncmp>("strncmp"),
    cdecl_row<&exp_strcpy>("strcpy"),
    cdecl_row<&exp_strncpy>("strncpy"),
    cdecl_row<&exp_strcat>("strcat"),
    cdecl_row<&exp_strncat>("strncat"),
    cdecl_row<&exp_strchr>("strchr"),
    cdecl_row<&exp_strrchr>("strrchr"),
    cdecl_row<&exp_strstr>("strstr"),
    cdecl_row<&exp_strspn>("strspn"),
    cdecl_row<&exp_strcspn>("strcspn"),
    cdecl_row<&exp_strpbrk>("strpbrk"),
    cdecl_row<&exp_strdup>("_strdup"),
    cdecl_row<&exp_stricmp>("_stricmp"),
    cdecl_row<&exp_strnicmp>("_strnicmp"),
    cdecl_row<&exp_wcslen>("wcslen"),
    cdecl_row<&exp_wcsncmp>("wcsncmp"),
    cdecl_row<&exp_tolower>("tolower"),
    // numbers
    cdecl_row<&exp_atoi>("atoi"),
    cdecl_row<&exp_atoi>("atol"),
    cdecl_row<&exp_strtol>("strtol"),
    cdecl_row<&exp_strtoul>("strtoul"),
    double_row<&exp_strtod>("strtod"),
    double_row<&exp_atof>("atof"),
    cdecl_row<&exp_abs>("abs"),
    cdecl_row<&exp_abs>("labs"),
    cdecl_row<&exp_rand>("rand"),
    cdecl_row<&exp_srand>("srand"),
    cdecl_row<&exp_qsort>("qsort"),
    // math
    double_row<&exp_pow>("pow"),
    double_row<&exp_log>("log"),
    double_row<&exp_log10>("log10"),
    double_row<&exp_exp>("exp"),
    double_row<&exp_sqrt>("sqrt"),
    double_row<&exp_sin>("sin"),
    double_row<&exp_cos>("cos"),
    double_row<&exp_tan>("tan"),
    double_row<&exp_atan>("atan"),
    double_row<&exp_atan2>("atan2"),
    double_row<&exp_floor>("floor"),
    double_row<&exp_ceil>("ceil"),
    double_row<&exp_fabs>("fabs"),
    double_row<&exp_fmod>("fmod"),
    double_row<&exp_ldexp>("ldexp"),
    double_row<&exp_frexp>("frexp"),
    double_row<&exp_modf>("modf"),
    // compiler helpers
    x87_row<&exp_pow, 2>("_CIpow", true),
    x87_row<&exp_sqrt, 1>("_CIsqrt", true),
    x87_row<&exp_exp, 1>("_CIexp", true),
    x87_row<&exp_log, 1>("_CIlog", true),
    x87_row<&exp_sin, 1>("_CIsin", true),
    x87_row<&exp_cos, 1>("_CIcos", true),
    x87_row<&exp_atan, 1>("_CIatan", true),
    x87_row<&exp_atan2, 2>("_CIatan2", true),
    x87_row<&exp_fmod, 2>("_CIfmod", true),
    x87_row<&exp_ftol, 1>("_ftol", false),
    stdcall_row<&exp_allmul, 16>("_allmul"),
    stdcall_row<&exp_alldiv, 16>("_alldiv"),
    stdcall_row<&exp_aulldiv, 16>("_aulldiv"),
    stdcall_row<&exp_allrem, 16>("_allrem"),
    stdcall_row<&exp_aullrem, 16>("_aullrem"),
    register_row<&exp_allshl>("_allshl"),
    register_row<&exp_allshr>("_allshr"),
    register_row<&exp_aullshr>("_aullshr"),
    code_row("_chkstk", kStackProbeCode),
    code_row("_alloca_probe", kStackProbeCode),
    // formatting and scanning
    cdecl_row<&exp_sprintf>("sprintf"),
    cdecl_row<&exp_snprintf>("_snprintf"),
    cdecl_row<&exp_vsprintf>("vsprintf"),
    cdecl_row<&exp_sscanf>("sscanf"),
    cdecl_row<&exp_stdio_common_vsprintf>("__stdio_common_vsprintf"),
    cdecl_row<&exp_stdio_common_vfprintf>("__stdio_common_vfprintf"),
    cdecl_row<&exp_stdio_common_vsscanf>("__stdio_common_vsscanf"),
    // files (there are none), environment, errors, start and end
    cdecl_row<&exp_fopen>("fopen"),
    cdecl_row<&exp_fopen>("_wfopen"),
    cdecl_row<&exp_fdopen>("_fdopen"),
    cdecl_row<&exp_fclose>("fclose"),
    cdecl_row<&exp_fwrite>("fwrite"),
    cdecl_row<&exp_open>("_open"),
    cdecl_row<&exp_open>("_wopen"),
    cdecl_row<&exp_read>("_read"),
    cdecl_row<&exp_write>("_write"),
    cdecl_row<&exp_lseek>("_lseek"),
    cdecl_row<&exp_close>("_close"),
    cdecl_row<&exp_setmode>("_setmode"),
    cdecl_row<&exp_acrt_iob_func>("__acrt_iob_func"),
    cdecl_row<&exp_errno>("_errno"),
    cdecl_row<&exp_strerror>("strerror"),
    cdecl_row<&exp_getenv>("getenv"),
    cdecl_row<&exp_getenv>("_wgetenv"),
    cdecl_row<&exp_assert>("_assert"),
    cdecl_row<&exp_abort>("abort"),
    cdecl_row<&exp_purecall>("_purecall"),
    cdecl_row<&exp_atexit>("atexit"),
    cdecl_row<&exp_onexit>("_onexit"),
    cdecl_row<&exp_dllonexit>("__dllonexit"),
    cdecl_row<&exp_except_handler3>("_except_handler3"),
};

constexpr size_t kMoreRowCount = sizeof(kMoreRows) / sizeof(kMoreRows[0]);
constexpr size_t kRowCount = kFirstRowCount + kMoreRowCount;

// Replacements that no row binds; module code reaches them only through
// GetProcAddress. Their thunks follow the rows'.
const import_entry kUnlisted[] = {
    stdcall_row<&exp_IsProcessorFeaturePresent, 4>("IsProcessorFeaturePresent"),
};

constexpr size_t kUnlistedCount = sizeof(kUnlisted) / sizeof(kUnlisted[0]);
constexpr size_t kThunkCount = kRowCount + kUnlistedCount;
// The return trap sits in the first page's last thunk-sized slot.
static_assert((kThunkCount + 1) * kThunkSize <= B_PAGE_SIZE);

const import_entry* entry(size_t index)
{
    if (index < kFirstRowCount)
        return &kRows[index];
    if (index < kRowCount)
        return &kMoreRows[index - kFirstRowCount];
    if (index < kThunkCount)
        return &kUnlisted[index - kRowCount];
    return nullptr;
}

bool needs_stub(const import_entry& row)
{
    return row.x87Arguments > 0 || row.doubleResult || row.registerArguments || row.code != nullptr;
}

void write_thunk(uint8* code, uint32 index, const import_entry& row)
{
    code[0] = 0xB8; // mov eax, index
    memcpy(code + 1, &index, 4);
    code[5] = 0xCD; // int 0x80
    code[6] = uint8(kThunkInterrupt);
    if (row.argumentBytes > 0) {
        code[7] = 0xC2; // ret N
        code[8] = uint8(row.argumentBytes);
        code[9] = uint8(row.argumentBytes >> 8);
    } else {
        code[7] = 0xC3; // ret
    }
}

// Writes the stub of `row` at `stub` (module address `at`) that calls its
// thunk at `thunk`; the bytes written.
size_t write_stub(uint8* stub, uint32 at, uint32 thunk, const import_entry& row)
{
    if (row.code != nullptr) {
        memcpy(stub, row.code, row.codeSize);
        return row.codeSize;
    }
    size_t n = 0;
    auto bytes = [&](std::initializer_list<uint8> list) {
        for (uint8 b : list)
            stub[n++] = b;
    };
    auto call_thunk = [&] {
        stub[n++] = 0xE8; // call rel32
        uint32 relative = thunk - (at + uint32(n) + 4);
        memcpy(stub + n, &relative, 4);
        n += 4;
    };
    if (row.registerArguments) {
        bytes({0x51, 0x52, 0x50}); // push ecx; push edx; push eax
        call_thunk();
        bytes({0x83, 0xC4, 0x0C, 0xC3}); // add esp, 12; ret
        return n;
    }
    // The module's return address waits in ECX (free in every convention
    // these helpers use) while the thunk sees the arguments above its own.
    bytes({0x59}); // pop ecx
    uint8 frame = uint8(8 * row.x87Arguments);
    if (frame > 0) {
        bytes({0x83, 0xEC, frame}); // sub esp, frame
        for (int k = row.x87Arguments - 1; k >= 0; k--) {
            if (k == 0)
                bytes({0xDD, 0x1C, 0x24}); // fstp qword [esp]
            else
                bytes({0xDD, 0x5C, 0x24, uint8(8 * k)}); // fstp qword [esp+8k]
        }
    }
    call_thunk();
    if (frame > 0)
        bytes({0x83, 0xC4, frame}); // add esp, frame
    if (row.doubleResult) {
        // push edx; push eax; fld qword [esp]; add esp, 8
        bytes({0x52, 0x50, 0xDD, 0x04, 0x24, 0x83, 0xC4, 0x08});
    }
    bytes({0x51, 0xC3}); // push ecx; ret
    return n;
}

struct thunk_pages {
    uint32 base = 0;
    uint8* code = nullptr;            // host memory, read-only once made
    uint32 entries[kThunkCount] = {}; // where module code enters each row
};

thunk_pages make_thunk_pages()
{
    thunk_pages made;
    void* mapped = mmap(nullptr, kImportThunkPagesSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        return made;
    uint8* page = static_cast<uint8*>(mapped);
    memset(page, 0xF4, kImportThunkPagesSize); // hlt: never run
    made.base = kImportThunkBase;
    uint32 stubs = 0;
    for (uint32 i = 0; i < kThunkCount; i++) {
        const import_entry& row = *entry(i);
        uint32 thunk = made.base + i * kThunkSize;
        write_thunk(page + i * kThunkSize, i, row);
        made.entries[i] = thunk;
        if (!needs_stub(row))
            continue;
        uint32 offset = B_PAGE_SIZE + stubs * kStubSize;
        size_t written = write_stub(page + offset, made.base + offset, thunk, row);
        if (!DEBUG_CHECK(written <= kStubSize, "stub fits its slot")) {
            munmap(mapped, kImportThunkPagesSize);
            return thunk_pages();
        }
        made.entries[i] = made.base + offset;
        stubs++;
    }
    mprotect(mapped, kImportThunkPagesSize, PROT_READ);
    made.code = page;
    return made;
}

const thunk_pages& thunks()
{
    static const thunk_pages pages = make_thunk_pages();
    return pages;
}

} // namespace

uint32 import_thunk_base()
{
    return thunks().base;
}

const uint8* import_thunk_code()
{
    return thunks().code;
}

bool map_import_thunks(uc_engine* engine)
{
    const thunk_pages& pages = thunks();
    return pages.code != nullptr &&
           uc_mem_map_ptr(engine, pages.base, kImportThunkPagesSize, UC_PROT_READ | UC_PROT_EXEC,
                          pages.code) == UC_ERR_OK;
}

uint32 import_return_trap()
{
    uint32 base = import_thunk_base();
    return base != 0 ? base + B_PAGE_SIZE - kThunkSize : 0;
}

const import_entry* import_entry_at(uint32 index)
{
    return entry(index);
}

bool import_lookup(const char* name, uint32 imageBase, uint32* value)
{
    for (size_t i = 0; i < kRowCount; i++) {
        const import_entry& row = *entry(i);
        if (strcmp(row.name, name) != 0)
            continue;
        if (row.isModuleBase) {
            *value = imageBase;
            return true;
        }
        if ((row.invoke == nullptr && row.code == nullptr) || thunks().base == 0)
            return false; // not built yet: the slot stays unresolved
        *value = thunks().entries[i];
        return true;
    }
    return false;
}

uint32 replacement_address(const char* name)
{
    for (size_t i = 0; i < kUnlistedCount; i++) {
        if (thunks().base != 0 && strcmp(kUnlisted[i].name, name) == 0)
            return thunks().entries[kRowCount + i];
    }
    return 0;
}
