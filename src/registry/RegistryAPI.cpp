#include "registry/RegistryAPI.h"

#include "platform/kernel/ModuleSpace.h"
#include "registry/RegistryHandles.h"
#include "registry/RegistryNode.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace
{

const char kDefaultValueName[] = "@";

bool (*sWriteHandler)(uint32 valueSize, int64 growth) = nullptr;

bool registry_room(uint32 valueSize, int64 growth)
{
    return sWriteHandler == nullptr || sWriteHandler(valueSize, growth);
}

// The root's child that a predefined handle stands for, or null.
const char* predefined_name(uint32 key)
{
    switch (key) {
    case HKEY_CURRENT_USER:
        return "HKEY_CURRENT_USER";
    case HKEY_LOCAL_MACHINE:
        return "HKEY_LOCAL_MACHINE";
    case HKEY_USERS:
        return "HKEY_USERS";
    case HKEY_CURRENT_CONFIG:
        return "HKEY_CURRENT_CONFIG";
    default:
        return nullptr;
    }
}

// The key a handle designates, with its depth; prints the complaint and
// gives null when there is none.
registry_node* resolve(uint32 key, int32* depth)
{
    registry_node* node = nullptr;
    if (const char* name = predefined_name(key)) {
        registry_load();
        node = gRootNode.FindChild(name);
        *depth = 1;
    } else {
        node = registry_key(key, depth);
    }
    if (node == nullptr) {
        printf("INVALID KEY\n");
        fflush(stdout);
    }
    return node;
}

// The most bytes of a key or value name (Win32's bound for value names).
constexpr size_t kNameLimit = 16383;

// A name argument, copied once into `copy` (the module may change its text
// meanwhile) and `text` pointed at it: null stays null; a name that does
// not end inside the module address space, or not within kNameLimit bytes,
// is refused.
bool read_string(uint32 address, std::string* copy, const char** text)
{
    *text = nullptr;
    if (address == 0)
        return true;
    if (!module_string_copy(address, kNameLimit, copy))
        return false;
    *text = copy->c_str();
    return true;
}

// A 32-bit word the caller passed by address (host order, unaligned).
uint8* word_pointer(uint32 address)
{
    return module_pointer<uint8>(address, 4);
}

uint32 read_word(const uint8* pointer)
{
    uint32 value;
    memcpy(&value, pointer, 4);
    return value;
}

void write_word(uint8* pointer, uint32 value)
{
    memcpy(pointer, &value, 4);
}

std::string value_name(const char* name)
{
    return name == nullptr || name[0] == '\0' ? kDefaultValueName : name;
}

// RegOpenKeyExA behind the argument checks; `result` is written unless the
// handle designates no key.
int32 open_key(uint32 key, const char* subKey, uint32* result)
{
    if (subKey == nullptr || subKey[0] == '\0') {
        *result = key;
        return ERROR_SUCCESS;
    }
    int32 depth;
    registry_node* node = resolve(key, &depth);
    if (node == nullptr)
        return ERROR_INVALID_HANDLE;
    registry_node* child = node->FindChild(subKey);
    uint32 handle = child != nullptr ? registry_handle(child, depth + 1) : 0;
    *result = handle != 0 ? handle : kInvalidKeyHandle;
    if (child == nullptr)
        return ERROR_FILE_NOT_FOUND;
    return handle != 0 ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

// RegQueryValueExA.
int32 query_value(uint32 key, uint32 nameAddress, uint32 typeAddress, uint32 dataAddress,
                  uint32 sizeAddress)
{
    int32 depth;
    registry_node* node = resolve(key, &depth);
    if (node == nullptr)
        return ERROR_INVALID_HANDLE;
    std::string nameCopy;
    const char* name;
    if (!read_string(nameAddress, &nameCopy, &name))
        return ERROR_NOACCESS;
    const registry_value* value = node->FindValue(value_name(name));
    if (value == nullptr)
        return ERROR_FILE_NOT_FOUND;

    // Every pointer is checked before anything is written.
    uint8* type = typeAddress != 0 ? word_pointer(typeAddress) : nullptr;
    uint8* size = sizeAddress != 0 ? word_pointer(sizeAddress) : nullptr;
    if ((typeAddress != 0 && type == nullptr) || (sizeAddress != 0 && size == nullptr))
        return ERROR_NOACCESS;
    bool copy = size != nullptr && read_word(size) >= value->Size() && dataAddress != 0;
    uint8* data = copy ? module_pointer<uint8>(dataAddress, value->Size()) : nullptr;
    if (copy && data == nullptr)
        return ERROR_NOACCESS;

    if (type != nullptr)
        write_word(type, value->Type());
    if (size == nullptr)
        return ERROR_SUCCESS;
    uint32 passed = read_word(size);
    write_word(size, value->Size());
    if (passed < value->Size())
        return ERROR_MORE_DATA;
    if (data != nullptr && value->Size() > 0)
        memcpy(data, value->Data(), value->Size());
    return ERROR_SUCCESS;
}

} // namespace

int32 exp_RegOpenKeyExA(uint32 key, uint32 subKey, uint32, uint32, uint32 result)
{
    BAutolock lock(registry_lock());
    std::string nameCopy;
    const char* name;
    if (!read_string(subKey, &nameCopy, &name))
        return ERROR_NOACCESS;
    uint8* out = word_pointer(result);
    if (out == nullptr)
        return result == 0 ? ERROR_INVALID_PARAMETER : ERROR_NOACCESS;
    uint32 handle;
    int32 status = open_key(key, name, &handle);
    if (status != ERROR_INVALID_HANDLE)
        write_word(out, handle);
    return status;
}

int32 exp_RegOpenKeyA(uint32 key, uint32 subKey, uint32 result)
{
    return exp_RegOpenKeyExA(key, subKey, 0, 0, result);
}

int32 exp_RegCreateKeyExA(uint32 key, uint32 subKey, uint32, uint32, uint32, uint32, uint32,
                          uint32 result, uint32 disposition)
{
    BAutolock lock(registry_lock());
    std::string nameCopy;
    const char* name;
    if (!read_string(subKey, &nameCopy, &name))
        return ERROR_NOACCESS;
    uint8* out = word_pointer(result);
    if (out == nullptr)
        return result == 0 ? ERROR_INVALID_PARAMETER : ERROR_NOACCESS;
    uint8* created = disposition != 0 ? word_pointer(disposition) : nullptr;
    if (disposition != 0 && created == nullptr)
        return ERROR_NOACCESS;

    if (name == nullptr && predefined_name(key) != nullptr) {
        write_word(out, key);
        return ERROR_SUCCESS;
    }
    int32 depth;
    registry_node* node = resolve(key, &depth);
    if (node == nullptr)
        return ERROR_INVALID_HANDLE;
    std::string childName = name != nullptr ? name : "";
    registry_node* child = node->FindChild(childName);
    uint32 how = REG_OPENED_EXISTING_KEY;
    if (child == nullptr) {
        // Deeper keys could not be read back from the registry file.
        if (depth >= kMaxKeyDepth)
            return ERROR_INVALID_PARAMETER;
        if (!registry_room(0, int64(childName.size()) + kRegistryKeyCost))
            return ERROR_NOT_ENOUGH_MEMORY;
        child = new registry_node(childName);
        node->AddChild(child);
        how = REG_CREATED_NEW_KEY;
    }
    uint32 handle = registry_handle(child, depth + 1);
    if (handle == 0)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (created != nullptr)
        write_word(created, how);
    write_word(out, handle);
    return ERROR_SUCCESS;
}

int32 exp_RegCreateKey(uint32 key, uint32 subKey, uint32 result)
{
    return exp_RegCreateKeyExA(key, subKey, 0, 0, 0, 0, 0, result, 0);
}

int32 exp_RegSetValueExA(uint32 key, uint32 valueName, uint32, uint32 type, uint32 data,
                         uint32 size)
{
    BAutolock lock(registry_lock());
    if (key == 0)
        return ERROR_SUCCESS;
    int32 depth;
    registry_node* node = resolve(key, &depth);
    if (node == nullptr)
        return ERROR_INVALID_HANDLE;
    std::string nameCopy;
    const char* name;
    if (!read_string(valueName, &nameCopy, &name))
        return ERROR_NOACCESS;
    const uint8* bytes = size > 0 ? module_pointer<const uint8>(data, size) : nullptr;
    if (size > 0 && bytes == nullptr)
        return ERROR_NOACCESS;
    std::string stored = value_name(name);
    int64 growth = int64(size) + int64(stored.size());
    if (const registry_value* old = node->FindValue(stored))
        growth -= int64(old->Size()) + int64(stored.size());
    if (!registry_room(size, growth))
        return ERROR_NOT_ENOUGH_MEMORY;
    if (node->SetValue(stored, type, bytes, size) != B_OK)
        return ERROR_NOT_ENOUGH_MEMORY;
    return ERROR_SUCCESS;
}

void set_registry_write_handler(bool (*handler)(uint32 valueSize, int64 growth))
{
    sWriteHandler = handler;
}

int32 exp_RegQueryValueExA(uint32 key, uint32 valueName, uint32, uint32 type, uint32 data,
                           uint32 size)
{
    BAutolock lock(registry_lock());
    return query_value(key, valueName, type, data, size);
}

int32 exp_RegQueryValueA(uint32 key, uint32 subKey, uint32 data, uint32 size)
{
    BAutolock lock(registry_lock());
    std::string nameCopy;
    const char* name;
    if (!read_string(subKey, &nameCopy, &name))
        return ERROR_NOACCESS;
    uint32 opened = key;
    if (name != nullptr && name[0] != '\0') {
        int32 status = open_key(key, name, &opened);
        if (status != ERROR_SUCCESS)
            return status;
    }
    // The default value's bytes, whatever its type; closing the key is
    // nothing to do.
    return query_value(opened, 0, 0, data, size);
}

int32 exp_RegCloseKey(uint32)
{
    return ERROR_SUCCESS;
}
