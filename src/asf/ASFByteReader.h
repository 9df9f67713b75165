// A bounds-checked cursor over an object's body held in memory. A read
// past the end reads zeros and marks the cursor failed, so a parser reads
// its fields in a row and checks Failed() once.
#pragma once

#include "asf/ASFGuid.h"
#include "platform/support/SupportDefs.h"

#include <string>

class CASFByteReader
{
public:
    CASFByteReader(const uint8* data, size_t size) : fData(data), fSize(size), fPosition(0) {}

    uint8 U8();
    uint16 U16();
    uint32 U32();
    uint64 U64();
    guid_t Guid();
    // `count` bytes in place; null (and failed) when fewer remain.
    const uint8* Bytes(size_t count);
    // `bytes` bytes of UTF-16 little-endian text as UTF-8, without the
    // terminating nulls files often include.
    std::string Text(size_t bytes);
    void Skip(size_t count) { Bytes(count); }

    size_t Remaining() const { return fSize - fPosition; }
    size_t Position() const { return fPosition; }
    bool Failed() const { return fFailed; }

private:
    const uint8* fData;
    size_t fSize;
    size_t fPosition;
    bool fFailed = false;
};

// UTF-16 little-endian text as UTF-8; unpaired surrogates become the
// substitute character, trailing nulls are dropped.
std::string asf_utf16_to_utf8(const uint8* data, size_t bytes);
