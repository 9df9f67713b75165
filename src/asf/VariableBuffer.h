// A growable FIFO of bytes with contiguous storage: payloads are collected
// here until a whole media object can be handed to a decoder in one block.
#pragma once

#include "platform/support/DataIO.h"
#include "platform/support/SupportDefs.h"

class CVariableBuffer
{
public:
    static constexpr uint32 kGranularity = 4096;

    CVariableBuffer();
    virtual ~CVariableBuffer();

    CVariableBuffer(const CVariableBuffer&) = delete;
    CVariableBuffer& operator=(const CVariableBuffer&) = delete;

    // Each write either appends all it was given or, when memory cannot be
    // had, leaves the buffer as it was and returns B_NO_MEMORY.
    status_t Write(const void* source, uint32 count);
    status_t Write(char value, uint32 count);

    // Reads up to `count` bytes from `stream` straight into the tail. Returns
    // the bytes appended (fewer at the end of the stream) or a negative status;
    // only bytes actually read are added.
    ssize_t WriteFromStream(BDataIO* stream, uint32 count);

    status_t Grow(uint32 count);
    void RemoveHead(uint32 count);
    void MakeEmpty(bool keepStorage);

    uint32 Length() const { return length; }
    uint32 Capacity() const { return capacity; }
    void* Data() const { return data; }

private:
    void* data;
    uint32 length;
    uint32 capacity;
};
