#include "asf/ASFByteReader.h"

#include "platform/support/ByteOrder.h"
#include "platform/support/UTF8.h"

#include <vector>

const uint8* CASFByteReader::Bytes(size_t count)
{
    if (fFailed || count > fSize - fPosition) {
        fFailed = true;
        return nullptr;
    }
    const uint8* at = fData + fPosition;
    fPosition += count;
    return at;
}

uint8 CASFByteReader::U8()
{
    const uint8* at = Bytes(1);
    return at != nullptr ? at[0] : 0;
}

uint16 CASFByteReader::U16()
{
    const uint8* at = Bytes(2);
    return at != nullptr ? read_le16(at) : 0;
}

uint32 CASFByteReader::U32()
{
    const uint8* at = Bytes(4);
    return at != nullptr ? read_le32(at) : 0;
}

uint64 CASFByteReader::U64()
{
    const uint8* at = Bytes(8);
    return at != nullptr ? read_le64(at) : 0;
}

guid_t CASFByteReader::Guid()
{
    guid_t guid{};
    if (const uint8* at = Bytes(16))
        memcpy(guid.data, at, 16);
    return guid;
}

std::string CASFByteReader::Text(size_t bytes)
{
    const uint8* at = Bytes(bytes);
    return at != nullptr ? asf_utf16_to_utf8(at, bytes) : std::string();
}

std::string asf_utf16_to_utf8(const uint8* data, size_t bytes)
{
    size_t units = bytes / 2;
    while (units > 0 && read_le16(data + 2 * (units - 1)) == 0)
        units--;
    if (units == 0 || units > size_t(INT32_MAX / 4))
        return std::string();
    // The text kit converts big-endian UTF-16.
    std::vector<char> big(units * 2);
    for (size_t i = 0; i < units; i++) {
        big[2 * i] = char(data[2 * i + 1]);
        big[2 * i + 1] = char(data[2 * i]);
    }
    std::string utf8(units * 3 + 4, '\0');
    int32 sourceLength = int32(big.size());
    int32 length = int32(utf8.size());
    int32 state = 0;
    if (convert_to_utf8(B_UNICODE_CONVERSION, big.data(), &sourceLength, utf8.data(), &length,
                        &state, B_SUBSTITUTE) != B_OK)
        return std::string();
    utf8.resize(size_t(length));
    // Text cut at an embedded null, as the writers that put one there mean.
    size_t null = utf8.find('\0');
    if (null != std::string::npos)
        utf8.resize(null);
    return utf8;
}
