#include "registry/RegistryValue.h"

#include "platform/app/Message.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

uint8* copy_bytes(const void* data, uint32 size)
{
    // Never a null block, so that Data() is always a pointer to `size` bytes.
    uint8* copy = static_cast<uint8*>(malloc(size > 0 ? size : 1));
    if (copy != nullptr && size > 0)
        memcpy(copy, data, size);
    return copy;
}

} // namespace

registry_value::registry_value(const std::string& name, uint32 type, const void* data, uint32 size)
    : fName(name), fType(type), fData(copy_bytes(data, size)), fSize(fData != nullptr ? size : 0)
{
}

registry_value::registry_value(const registry_value& other)
    : fName(other.fName), fType(other.fType), fData(copy_bytes(other.fData, other.fSize)),
      fSize(fData != nullptr ? other.fSize : 0)
{
}

registry_value::~registry_value()
{
    free(fData);
}

int32 registry_value::DwordValue() const
{
    int32 value = 0;
    memcpy(&value, fData, fSize < 4 ? fSize : 4);
    return value;
}

registry_value* registry_value::FromMessage(const char* name, const BMessage* message)
{
    int32 type;
    if (name == nullptr || message->FindInt32("type", &type) != B_OK)
        return nullptr;
    if (uint32(type) == REG_DWORD) {
        int32 data;
        if (message->FindInt32("data", &data) != B_OK)
            return nullptr;
        return new registry_value(name, REG_DWORD, &data, 4);
    }
    const void* data;
    ssize_t size;
    if (message->FindData("data", B_ANY_TYPE, &data, &size) != B_OK)
        return nullptr;
    return new registry_value(name, uint32(type), data, uint32(size));
}

status_t registry_value::Save(BMessage* into) const
{
    BMessage message;
    status_t status = message.AddInt32("type", int32(fType));
    if (status == B_OK) {
        if (fType == REG_DWORD)
            status = message.AddInt32("data", DwordValue());
        else
            status = message.AddData("data", B_ANY_TYPE, fData, ssize_t(fSize), true, 1);
    }
    if (status == B_OK)
        status = into->AddMessage((" " + fName).c_str(), &message);
    return status;
}

void registry_value::PrintToStream(long indent) const
{
    for (long i = 0; i < indent; i++)
        printf("|   ");
    printf("%s (", fName.c_str());
    if (fType == REG_DWORD) {
        int32 value = DwordValue();
        printf("REG_DWORD(%ld == 0x%08lx)", long(value), static_cast<unsigned long>(uint32(value)));
    } else {
        printf("type:%ld, size:%ld", long(fType), long(fSize));
    }
    printf(")\n");
}
