#include "winemu/ModuleServices.h"

#include "platform/Debug.h"
#include "platform/ModuleSpace.h"
#include "winemu/ImportTable.h"
#include "winemu/pe_add_on.h"

#include <cstring>

namespace
{

const char kProgramName[] = "WeAreQuarl";

} // namespace

uint32 exp_GetDriverModuleHandle(uint32 driver)
{
    const driver_t* record = module_pointer<const driver_t>(driver);
    if (record == nullptr || !pe_is_loaded(record->module))
        return 0;
    return record->module->image_base;
}

uint32 exp_DisableThreadLibraryCalls(uint32)
{
    return 1;
}

uint32 exp_GetProcAddress(uint32 module, uint32 name)
{
    // Below 0x10000 a name is an ordinal; those are not looked up.
    const char* text = name >= 0x10000 ? module_string(name) : nullptr;
    if (module == kFakeModuleHandle) {
        if (text != nullptr && strcmp(text, "IsProcessorFeaturePresent") == 0)
            return replacement_address("IsProcessorFeaturePresent");
        if (text != nullptr && strcmp(text, "IsTNT") == 0)
            return 0;
        if (_rtDebugFlag)
            debugger("Should not be here");
    }
    pe_add_on_t* addOn = pe_get_add_on_from_start(module);
    void* address = nullptr;
    if (addOn == nullptr || text == nullptr || pe_get_image_symbol(addOn, text, &address) != B_OK)
        return kFakeModuleHandle;
    return uint32(reinterpret_cast<uintptr_t>(address));
}

uint32 exp_LoadLibraryA(uint32 name)
{
    const char* text = module_string(name);
    if (text == nullptr)
        return 0;
    pe_add_on_t* addOn = pe_load_add_on(text);
    return addOn != nullptr ? addOn->image_base : 0;
}

uint32 exp_FreeLibrary(uint32 module)
{
    BAutolock lock(gLocker);
    if (pe_add_on_t* addOn = pe_get_add_on_from_start(module))
        pe_unload_add_on(addOn);
    return 1;
}

uint32 exp_GetModuleFileNameA(uint32 module, uint32 buffer, uint32 size)
{
    if (size == 0)
        return 0;
    char* target = module_pointer<char>(buffer, size);
    if (target == nullptr)
        return 0;
    BAutolock lock(gLocker);
    const char* source = kProgramName;
    if (module != 0) {
        pe_add_on_t* addOn = pe_get_add_on_from_start(module);
        if (addOn != nullptr && addOn->name != nullptr)
            source = addOn->name;
    }
    uint32 copied = 0;
    while (copied < size - 1 && source[copied] != '\0') {
        target[copied] = source[copied];
        copied++;
    }
    target[copied] = '\0';
    return copied;
}

uint32 exp_IsProcessorFeaturePresent(uint32 feature)
{
    return feature == 2 || feature == 3 || feature == 7 ? 1 : 0;
}
