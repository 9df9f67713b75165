// Byte streams: the abstract reader/writer, its positionable form, and
// streams over memory.
#pragma once

#include "platform/support/SupportDefs.h"

#include <cstdio>

class BDataIO
{
public:
    BDataIO() = default;
    virtual ~BDataIO();

    BDataIO(const BDataIO&) = delete;
    BDataIO& operator=(const BDataIO&) = delete;

    // Both return the number of bytes moved, or a negative status.
    virtual ssize_t Read(void* buffer, size_t size);
    virtual ssize_t Write(const void* buffer, size_t size);
};

class BPositionIO : public BDataIO
{
public:
    // Read and Write go through ReadAt/WriteAt at Position() and advance it.
    ssize_t Read(void* buffer, size_t size) override;
    ssize_t Write(const void* buffer, size_t size) override;

    virtual ssize_t ReadAt(off_t position, void* buffer, size_t size) = 0;
    virtual ssize_t WriteAt(off_t position, const void* buffer, size_t size) = 0;

    // Returns the new position or a negative status.
    virtual off_t Seek(off_t position, uint32 seekMode) = 0;
    virtual off_t Position() const = 0;

    virtual status_t SetSize(off_t size);
    virtual status_t GetSize(off_t* size) const;
};

// For stream implementations: the position a seek request leads to from
// `current` in a stream of `end` bytes, or B_BAD_VALUE (before the start,
// overflow, unknown mode).
off_t resolve_seek_position(off_t position, uint32 seekMode, off_t current, off_t end);

// A stream over a caller-owned block of memory. The read-only form refuses
// writes; the stream never grows past the block.
class BMemoryIO : public BPositionIO
{
public:
    BMemoryIO(void* data, size_t length);
    BMemoryIO(const void* data, size_t length);

    ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
    ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
    off_t Seek(off_t position, uint32 seekMode) override;
    off_t Position() const override;
    status_t SetSize(off_t size) override;
    status_t GetSize(off_t* size) const override;

private:
    bool fReadOnly;
    char* fBuffer;
    size_t fLength;
    size_t fBufferSize;
    off_t fPosition;
};

// A stream over memory of its own that grows as it is written.
class BMallocIO : public BPositionIO
{
public:
    BMallocIO();
    ~BMallocIO() override;

    ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
    ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
    off_t Seek(off_t position, uint32 seekMode) override;
    off_t Position() const override;
    status_t SetSize(off_t size) override;
    status_t GetSize(off_t* size) const override;

    const void* Buffer() const { return fData; }
    size_t BufferLength() const { return fLength; }

private:
    char* fData;
    size_t fLength;
    size_t fCapacity;
    off_t fPosition;
};
