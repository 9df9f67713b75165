#include "platform/support/DataIO.h"

#include <cstdlib>
#include <cstring>

BDataIO::~BDataIO() = default;

ssize_t BDataIO::Read(void*, size_t)
{
    return B_NOT_SUPPORTED;
}

ssize_t BDataIO::Write(const void*, size_t)
{
    return B_NOT_SUPPORTED;
}

ssize_t BPositionIO::Read(void* buffer, size_t size)
{
    off_t position = Position();
    ssize_t result = ReadAt(position, buffer, size);
    if (result > 0)
        Seek(position + result, SEEK_SET);
    return result;
}

ssize_t BPositionIO::Write(const void* buffer, size_t size)
{
    off_t position = Position();
    ssize_t result = WriteAt(position, buffer, size);
    if (result > 0)
        Seek(position + result, SEEK_SET);
    return result;
}

status_t BPositionIO::SetSize(off_t)
{
    return B_ERROR;
}

status_t BPositionIO::GetSize(off_t* size) const
{
    if (size == nullptr)
        return B_BAD_VALUE;
    // Seek is not const; measuring the end needs a round trip.
    BPositionIO* self = const_cast<BPositionIO*>(this);
    off_t current = Position();
    off_t end = self->Seek(0, SEEK_END);
    self->Seek(current, SEEK_SET);
    if (end < 0)
        return status_t(end);
    *size = end;
    return B_OK;
}

off_t resolve_seek_position(off_t position, uint32 mode, off_t current, off_t end)
{
    off_t base;
    switch (mode) {
    case SEEK_SET:
        base = 0;
        break;
    case SEEK_CUR:
        base = current;
        break;
    case SEEK_END:
        base = end;
        break;
    default:
        return B_BAD_VALUE;
    }
    if ((position > 0 && base > INT64_MAX - position) || base + position < 0)
        return B_BAD_VALUE;
    return base + position;
}

namespace
{

// How many bytes of a stream of `length` bytes can be read at `position`.
size_t readable_at(off_t position, size_t size, size_t length)
{
    if (position < 0 || uint64(position) >= length)
        return 0;
    return min_c(size, size_t(length - uint64(position)));
}

// Reads from a block of `length` bytes as a stream would.
ssize_t read_from_block(const char* data, size_t length, off_t position, void* buffer, size_t size)
{
    if (buffer == nullptr || position < 0)
        return B_BAD_VALUE;
    size_t count = readable_at(position, size, length);
    if (count > 0)
        memcpy(buffer, data + position, count);
    return ssize_t(count);
}

} // namespace

BMemoryIO::BMemoryIO(void* data, size_t length)
    : fReadOnly(false), fBuffer(static_cast<char*>(data)), fLength(length), fBufferSize(length),
      fPosition(0)
{
}

BMemoryIO::BMemoryIO(const void* data, size_t length)
    : fReadOnly(true), fBuffer(static_cast<char*>(const_cast<void*>(data))), fLength(length),
      fBufferSize(length), fPosition(0)
{
}

ssize_t BMemoryIO::ReadAt(off_t position, void* buffer, size_t size)
{
    return read_from_block(fBuffer, fLength, position, buffer, size);
}

ssize_t BMemoryIO::WriteAt(off_t position, const void* buffer, size_t size)
{
    if (fReadOnly)
        return B_NOT_ALLOWED;
    if (buffer == nullptr || position < 0)
        return B_BAD_VALUE;
    size_t count = readable_at(position, size, fBufferSize);
    if (count > 0) {
        memcpy(fBuffer + position, buffer, count);
        fLength = max_c(fLength, size_t(position) + count);
    }
    return ssize_t(count);
}

off_t BMemoryIO::Seek(off_t position, uint32 seekMode)
{
    off_t result = resolve_seek_position(position, seekMode, fPosition, off_t(fLength));
    if (result >= 0)
        fPosition = result;
    return result;
}

off_t BMemoryIO::Position() const
{
    return fPosition;
}

status_t BMemoryIO::SetSize(off_t size)
{
    if (fReadOnly)
        return B_NOT_ALLOWED;
    if (size < 0 || uint64(size) > fBufferSize)
        return B_BAD_VALUE;
    fLength = size_t(size);
    return B_OK;
}

status_t BMemoryIO::GetSize(off_t* size) const
{
    if (size == nullptr)
        return B_BAD_VALUE;
    *size = off_t(fLength);
    return B_OK;
}

BMallocIO::BMallocIO() : fData(nullptr), fLength(0), fCapacity(0), fPosition(0) {}

BMallocIO::~BMallocIO()
{
    free(fData);
}

ssize_t BMallocIO::ReadAt(off_t position, void* buffer, size_t size)
{
    return read_from_block(fData, fLength, position, buffer, size);
}

ssize_t BMallocIO::WriteAt(off_t position, const void* buffer, size_t size)
{
    if (buffer == nullptr || position < 0)
        return B_BAD_VALUE;
    if (size == 0)
        return 0;
    if (uint64(position) > SIZE_MAX - size)
        return B_NO_MEMORY;
    size_t end = size_t(position) + size;
    if (end > fLength) {
        status_t status = SetSize(off_t(end));
        if (status != B_OK)
            return status;
    }
    memcpy(fData + position, buffer, size);
    return ssize_t(size);
}

off_t BMallocIO::Seek(off_t position, uint32 seekMode)
{
    off_t result = resolve_seek_position(position, seekMode, fPosition, off_t(fLength));
    if (result >= 0)
        fPosition = result;
    return result;
}

off_t BMallocIO::Position() const
{
    return fPosition;
}

status_t BMallocIO::SetSize(off_t size)
{
    if (size < 0)
        return B_BAD_VALUE;
    size_t wanted = size_t(size);
    if (wanted > fCapacity) {
        size_t capacity = max_c(wanted, fCapacity * 2);
        char* data = static_cast<char*>(realloc(fData, capacity));
        if (data == nullptr)
            return B_NO_MEMORY;
        fData = data;
        fCapacity = capacity;
    }
    if (wanted > fLength)
        memset(fData + fLength, 0, wanted - fLength);
    fLength = wanted;
    return B_OK;
}

status_t BMallocIO::GetSize(off_t* size) const
{
    if (size == nullptr)
        return B_BAD_VALUE;
    *size = off_t(fLength);
    return B_OK;
}
