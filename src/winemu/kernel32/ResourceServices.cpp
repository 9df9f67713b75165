#include "winemu/kernel32/ResourceServices.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/support/Debug.h"
#include "platform/support/UTF8.h"
#include "winemu/kernel32/WideText.h"
#include "winemu/loader/pe_add_on.h"
#include "winemu/msvcrt/ModuleFormat.h"

#include <algorithm>
#include <cstring>

namespace
{

// Values whose high 16 bits are zero are integer identifiers (MAKEINTRESOURCE).
bool is_integer_resource(uint32 value)
{
    return (value >> 16) == 0;
}

// The data entry a module handed back, if it lies in the module's image.
const image_resource_data_entry_t* entry_in(const pe_add_on_t* addOn, uint32 resource)
{
    if (resource < addOn->image_base || resource - addOn->image_base > addOn->image_size ||
        addOn->image_size - (resource - addOn->image_base) < sizeof(image_resource_data_entry_t))
        return nullptr;
    return module_pointer<const image_resource_data_entry_t>(resource);
}

} // namespace

uint32 exp_LoadStringA(uint32 module, uint32 id, uint32 buffer, uint32 size)
{
    if (size == 0)
        return 0;
    char* target = module_pointer<char>(buffer, size);
    if (target == nullptr)
        return 0;
    size_t written = 0;
    pe_with_add_on(module, [&](pe_add_on_t* addOn) {
        const unaligned_uint16* counted = pe_load_string(addOn, uint16(id));
        if (counted == nullptr)
            return;
        written = wide_to_utf8(counted + 1, counted[0], target, size - 1, B_SUBSTITUTE);
        target[written] = '\0';
    });
    return uint32(written);
}

uint32 exp_LoadStringW(uint32 module, uint32 id, uint32 buffer, uint32 size)
{
    // A size of 0 asks for the string in place: a pointer to the image's
    // own units, which are not NUL-terminated.
    uint32 length = 0;
    if (size == 0) {
        // The module's buffer need not be aligned.
        auto* target = module_pointer<uint8>(buffer, sizeof(uint32));
        if (target == nullptr)
            return 0;
        uint32 address = 0;
        pe_with_add_on(module, [&](pe_add_on_t* addOn) {
            if (const unaligned_uint16* counted = pe_load_string(addOn, uint16(id))) {
                address = module_address(counted + 1);
                length = counted[0];
            }
        });
        memcpy(target, &address, sizeof(address));
        return length;
    }
    if (size > UINT32_MAX / 2)
        return 0;
    auto* target = module_pointer<uint8>(buffer, size_t(size) * 2);
    if (target == nullptr)
        return 0;
    const uint16 zero = 0;
    memcpy(target, &zero, 2);
    pe_with_add_on(module, [&](pe_add_on_t* addOn) {
        const unaligned_uint16* counted = pe_load_string(addOn, uint16(id));
        if (counted == nullptr)
            return;
        uint16 count = 0;
        memcpy(&count, counted, 2);
        length = std::min<uint32>(count, size - 1);
        // Unit by unit as bytes: neither side need be aligned.
        memcpy(target, reinterpret_cast<const uint8*>(counted) + 2, size_t(length) * 2);
        memcpy(target + size_t(length) * 2, &zero, 2);
    });
    return length;
}

uint32 exp_FindResource(uint32 module, uint32 name, uint32 type)
{
    if (!is_integer_resource(type)) {
        if (_rtDebugFlag)
            debugger("Should not be here");
        return kUnsupportedResource;
    }
    // Names are matched as written; "#12" is not read as a number.
    std::string text;
    if (!is_integer_resource(name) && !copy_module_string(name, 0xFFFF, &text))
        return 0;
    const image_resource_data_entry_t* entry = nullptr;
    pe_with_add_on(module, [&](pe_add_on_t* addOn) {
        entry = is_integer_resource(name) ? pe_find_resource(addOn, type, name, 0)
                                          : pe_find_resource(addOn, type, text.c_str(), 0);
    });
    return module_address(entry);
}

uint32 exp_LoadResource(uint32 module, uint32 resource)
{
    uint32 data = 0;
    pe_with_add_on(module, [&](pe_add_on_t* addOn) {
        // Outside the image: the unsupported-lookup marker included.
        if (const image_resource_data_entry_t* entry = entry_in(addOn, resource))
            data = module_address(pe_load_resource(addOn, entry));
    });
    return data;
}

uint32 exp_SizeofResource(uint32, uint32 resource)
{
    const image_resource_data_entry_t* entry =
        module_pointer<const image_resource_data_entry_t>(resource);
    return entry != nullptr ? pe_get_resource_size(nullptr, entry) : 0;
}

uint32 exp_LockResource(uint32 data)
{
    return data;
}

// The icon's raw resource data, not an icon object.
uint32 exp_LoadIcon(uint32 module, uint32 name)
{
    uint32 resource = exp_FindResource(module, name, kResourceIcon);
    return resource != 0 ? exp_LoadResource(module, resource) : 0;
}
