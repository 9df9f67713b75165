#include "asf/VariableBuffer.h"

#include <cstdlib>
#include <cstring>

CVariableBuffer::CVariableBuffer() : data(nullptr), length(0), capacity(0) {}

CVariableBuffer::~CVariableBuffer()
{
    MakeEmpty(false);
}

status_t CVariableBuffer::Grow(uint32 count)
{
    uint64 needed = uint64(length) + count;
    if (needed <= capacity)
        return B_OK;
    uint64 rounded = (needed + kGranularity - 1) / kGranularity * kGranularity;
    if (rounded > UINT32_MAX)
        return B_NO_MEMORY;
    void* grown = realloc(data, size_t(rounded));
    if (grown == nullptr)
        return B_NO_MEMORY;
    data = grown;
    capacity = uint32(rounded);
    return B_OK;
}

status_t CVariableBuffer::Write(const void* source, uint32 count)
{
    if (count == 0)
        return B_OK;
    if (source == nullptr)
        return B_BAD_VALUE;
    status_t status = Grow(count);
    if (status != B_OK)
        return status;
    memcpy(static_cast<char*>(data) + length, source, count);
    length += count;
    return B_OK;
}

status_t CVariableBuffer::Write(char value, uint32 count)
{
    if (count == 0)
        return B_OK;
    status_t status = Grow(count);
    if (status != B_OK)
        return status;
    memset(static_cast<char*>(data) + length, value, count);
    length += count;
    return B_OK;
}

ssize_t CVariableBuffer::WriteFromStream(BDataIO* stream, uint32 count)
{
    if (stream == nullptr)
        return B_BAD_VALUE;
    if (count == 0)
        return 0;
    status_t status = Grow(count);
    if (status != B_OK)
        return status;
    ssize_t got = stream->Read(static_cast<char*>(data) + length, count);
    if (got > 0)
        length += uint32(min_c<size_t>(size_t(got), count));
    return got;
}

void CVariableBuffer::RemoveHead(uint32 count)
{
    if (count > length)
        count = length;
    if (count == 0)
        return;
    memmove(data, static_cast<char*>(data) + count, length - count);
    length -= count;
}

void CVariableBuffer::MakeEmpty(bool keepStorage)
{
    length = 0;
    if (keepStorage)
        return;
    free(data);
    data = nullptr;
    capacity = 0;
}
