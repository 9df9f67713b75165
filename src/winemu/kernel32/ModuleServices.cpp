#include "winemu/kernel32/ModuleServices.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/support/Debug.h"
#include "winemu/loader/ImportTable.h"
#include "winemu/loader/pe_add_on.h"
#include "winemu/msvcrt/ModuleFormat.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace
{

const char kProgramName[] = "WeAreQuarl";
// Export and module names are short; longer ones are cut there.
constexpr size_t kNameLimit = 4096;

} // namespace

namespace
{

struct driver_table {
    std::mutex lock;
    std::unordered_map<uint32, driver_t*> byHandle;
    uint32 next = 1;
};

driver_table& drivers()
{
    static driver_table* sTable = new driver_table;
    return *sTable;
}

} // namespace

void register_driver(driver_t* driver)
{
    driver_table& t = drivers();
    std::lock_guard<std::mutex> locked(t.lock);
    // Above the window, and not given out again while 2^28 others are.
    do
        driver->handle = 0xD0000000u | (t.next++ & 0x0FFFFFFFu);
    while (t.byHandle.count(driver->handle) != 0);
    t.byHandle[driver->handle] = driver;
}

void forget_driver(driver_t* driver)
{
    driver_table& t = drivers();
    std::lock_guard<std::mutex> locked(t.lock);
    t.byHandle.erase(driver->handle);
}

driver_t* find_driver(uint32 handle)
{
    driver_table& t = drivers();
    std::lock_guard<std::mutex> locked(t.lock);
    auto found = t.byHandle.find(handle);
    return found != t.byHandle.end() ? found->second : nullptr;
}

uint32 exp_GetDriverModuleHandle(uint32 handle)
{
    const driver_t* driver = find_driver(handle);
    if (driver == nullptr || !pe_is_loaded(driver->module))
        return 0;
    return driver->module->image_base;
}

uint32 exp_DisableThreadLibraryCalls(uint32)
{
    return 1;
}

uint32 exp_GetModuleHandleA(uint32)
{
    return kFakeModuleHandle;
}

uint32 exp_GetModuleHandleW(uint32)
{
    return kFakeModuleHandle;
}

uint32 exp_GetProcAddress(uint32 module, uint32 name)
{
    // Below 0x10000 a name is an export ordinal. A name is copied once:
    // another module thread may change it while it is looked up.
    bool byOrdinal = name < 0x10000;
    std::string text;
    if (!byOrdinal && !copy_module_string(name, kNameLimit, &text))
        return 0;
    if (module == kFakeModuleHandle) {
        if (text == "IsProcessorFeaturePresent")
            return replacement_address("IsProcessorFeaturePresent");
        if (text == "IsTNT")
            return 0;
        if (_rtDebugFlag)
            debugger("Should not be here");
        return 0;
    }
    void* address = nullptr;
    status_t status = B_ERROR;
    pe_with_add_on(module, [&](pe_add_on_t* addOn) {
        status = byOrdinal ? pe_get_image_symbol_by_ordinal(addOn, name, &address)
                           : pe_get_image_symbol(addOn, text.c_str(), &address);
    });
    // Null when nothing is found: modules probe for optional functions and
    // call what they get.
    return status == B_OK ? uint32(reinterpret_cast<uintptr_t>(address)) : 0;
}

uint32 exp_LoadLibraryA(uint32 name)
{
    std::string copy;
    if (!copy_module_string(name, kNameLimit, &copy))
        return 0;
    const char* text = copy.c_str();
    // Modules only ever come from the decoders folder: of a Windows path
    // ("C:\\WINDOWS\\SYSTEM\\x.acm") keep the file name, so a module cannot
    // reach files elsewhere with "..", "/" or a drive.
    const char* base = text;
    for (const char* at = text; *at != '\0'; at++) {
        if (*at == '\\' || *at == '/' || *at == ':')
            base = at + 1;
    }
    if (*base == '\0' || strcmp(base, ".") == 0 || strcmp(base, "..") == 0) {
        fprintf(stderr, "could not open file '%s'\n", text);
        return 0;
    }
    return pe_load_library(base);
}

uint32 exp_FreeLibrary(uint32 module)
{
    // Only what a LoadLibraryA gave is given back: a module freeing its own
    // handle, or one the host holds, is refused as an invalid handle.
    return pe_free_library(module) ? 1 : 0;
}

uint32 exp_GetModuleFileNameA(uint32 module, uint32 buffer, uint32 size)
{
    if (size == 0)
        return 0;
    char* target = module_pointer<char>(buffer, size);
    if (target == nullptr)
        return 0;
    std::string source = kProgramName;
    if (module != 0) {
        pe_with_add_on(module, [&](pe_add_on_t* addOn) {
            if (addOn->name != nullptr)
                source = addOn->name;
        });
    }
    uint32 copied = 0;
    while (copied < size - 1 && source[copied] != '\0') {
        target[copied] = source[copied];
        copied++;
    }
    target[copied] = '\0';
    return copied;
}

// Features the emulated processor has, as its CPUID says: CMPXCHG8B (2),
// MMX (3), SSE (6), RDTSC (8), SSE2 (10), SSE3 (13). Not 3DNow! (7),
// whose instructions are invalid there.
uint32 exp_IsProcessorFeaturePresent(uint32 feature)
{
    switch (feature) {
    case 2:
    case 3:
    case 6:
    case 8:
    case 10:
    case 13:
        return 1;
    default:
        return 0;
    }
}
