// The import binding table, in the order names are compared, and the page
// of thunks through which module code calls the replacements.
//
// To bind a row: write the replacement (integer parameters, one per 32-bit
// argument) in the file of its area, declare it in that file's header,
// include the header here and replace the row's pending_row with
// stdcall_row<&exp_Name, Bytes>("Name") or cdecl_row<&exp_name>("name").
// The build checks the parameter count against the row's bytes.
#include "winemu/ImportTable.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"
#include "registry/RegistryAPI.h"
#include "winemu/MemoryServices.h"
#include "winemu/ModuleServices.h"
#include "winemu/ProcessServices.h"
#include "winemu/ResourceServices.h"
#include "winemu/SyncServices.h"
#include "winemu/TextServices.h"
#include "winemu/ThreadServices.h"
#include "winemu/UIServices.h"

#include <cstring>
#include <mutex>

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

constexpr size_t kRowCount = sizeof(kRows) / sizeof(kRows[0]);
static_assert(kRowCount == 96, "the table has 96 rows");

// Replacements that no row binds; module code reaches them only through
// GetProcAddress. Their thunks follow the rows'.
const import_entry kUnlisted[] = {
    stdcall_row<&exp_IsProcessorFeaturePresent, 4>("IsProcessorFeaturePresent"),
};

constexpr size_t kUnlistedCount = sizeof(kUnlisted) / sizeof(kUnlisted[0]);
constexpr size_t kThunkCount = kRowCount + kUnlistedCount;
// The return trap sits in the page's last thunk-sized slot.
static_assert((kThunkCount + 1) * kThunkSize <= B_PAGE_SIZE);

const import_entry* entry(size_t index)
{
    if (index < kRowCount)
        return &kRows[index];
    if (index < kThunkCount)
        return &kUnlisted[index - kRowCount];
    return nullptr;
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

uint32 make_thunk_page()
{
    void* address = nullptr;
    area_id area = create_area("import thunks", &address, B_ANY_ADDRESS, B_PAGE_SIZE, B_NO_LOCK,
                               B_READ_AREA | B_EXECUTE_AREA);
    if (area < 0)
        return 0;
    uint8* page = static_cast<uint8*>(address);
    memset(page, 0xF4, B_PAGE_SIZE); // hlt: never run
    for (uint32 i = 0; i < kThunkCount; i++)
        write_thunk(page + i * kThunkSize, i, *entry(i));
    return module_address(page);
}

} // namespace

uint32 import_thunk_base()
{
    static const uint32 base = make_thunk_page();
    return base;
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
        const import_entry& row = kRows[i];
        if (strcmp(row.name, name) != 0)
            continue;
        if (row.isModuleBase) {
            *value = imageBase;
            return true;
        }
        uint32 thunks = import_thunk_base();
        if (row.invoke == nullptr || thunks == 0)
            return false; // not built yet: the slot stays unresolved
        *value = thunks + uint32(i) * kThunkSize;
        return true;
    }
    return false;
}

uint32 replacement_address(const char* name)
{
    uint32 thunks = import_thunk_base();
    for (size_t i = 0; i < kUnlistedCount; i++) {
        if (thunks != 0 && strcmp(kUnlisted[i].name, name) == 0)
            return thunks + uint32(kRowCount + i) * kThunkSize;
    }
    return 0;
}
