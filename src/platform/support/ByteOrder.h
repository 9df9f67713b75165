// Byte-order helpers.
#pragma once

#include "platform/support/SupportDefs.h"

typedef enum {
    B_SWAP_HOST_TO_LENDIAN = 0,
    B_SWAP_HOST_TO_BENDIAN = 1,
    B_SWAP_LENDIAN_TO_HOST = 2,
    B_SWAP_BENDIAN_TO_HOST = 3,
    B_SWAP_ALWAYS = 4,
} swap_action;

// Swaps every element of `data` (`length` bytes of elements of `type`) as
// `action` says. Types without a byte order are left alone; a length that
// is not a whole number of elements, or an unknown type, is B_BAD_VALUE.
status_t swap_data(type_code type, void* data, size_t length, swap_action action);

bool is_type_swapped(type_code type);

// Little-endian loads from an unaligned byte pointer; the file formats we
// read are little-endian whatever the host.
inline uint16 read_le16(const void* p)
{
    const uint8* b = static_cast<const uint8*>(p);
    return uint16(b[0] | (b[1] << 8));
}

inline uint32 read_le32(const void* p)
{
    const uint8* b = static_cast<const uint8*>(p);
    return uint32(b[0]) | (uint32(b[1]) << 8) | (uint32(b[2]) << 16) | (uint32(b[3]) << 24);
}

inline uint64 read_le64(const void* p)
{
    const uint8* b = static_cast<const uint8*>(p);
    return uint64(read_le32(b)) | (uint64(read_le32(b + 4)) << 32);
}

inline void write_le16(void* p, uint16 v)
{
    uint8* b = static_cast<uint8*>(p);
    b[0] = uint8(v);
    b[1] = uint8(v >> 8);
}

inline void write_le32(void* p, uint32 v)
{
    uint8* b = static_cast<uint8*>(p);
    for (int i = 0; i < 4; i++)
        b[i] = uint8(v >> (8 * i));
}

inline void write_le64(void* p, uint64 v)
{
    write_le32(p, uint32(v));
    write_le32(static_cast<uint8*>(p) + 4, uint32(v >> 32));
}
