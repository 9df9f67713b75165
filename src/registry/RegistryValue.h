// One value of a registry key: a name, the writer's type code and a private
// copy of its bytes.
#pragma once

#include "platform/support/SupportDefs.h"

#include <string>

class BMessage;

// Registry type codes the tree itself interprets.
enum : uint32 {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_BINARY = 3,
    REG_DWORD = 4,
};

class registry_value
{
public:
    registry_value(const std::string& name, uint32 type, const void* data, uint32 size);
    registry_value(const registry_value& other);
    virtual ~registry_value();

    registry_value& operator=(const registry_value&) = delete;

    // Builds a value from a value message ("type", and "data": an int32 for
    // REG_DWORD, bytes for the other types); null when either is missing or
    // of the wrong kind.
    static registry_value* FromMessage(const char* name, const BMessage* message);

    // Adds the field " " + name holding the value message. A REG_DWORD
    // shorter than four bytes is stored padded with zeros.
    status_t Save(BMessage* into) const;
    // One line on standard output, indented by `indent` bars.
    void PrintToStream(long indent) const;

    const std::string& Name() const { return fName; }
    uint32 Type() const { return fType; }
    const void* Data() const { return fData; }
    uint32 Size() const { return fSize; }

    // The first four bytes as a number, zero-padded when there are fewer.
    int32 DwordValue() const;

private:
    std::string fName;
    uint32 fType;
    uint8* fData;
    uint32 fSize;
};
