// ASF object identifiers: 16 bytes held in file byte order.
#pragma once

#include "platform/support/SupportDefs.h"

#include <cstring>

struct guid_t {
    uint8 data[16];

    bool operator==(const guid_t& other) const { return memcmp(data, other.data, 16) == 0; }
    bool operator!=(const guid_t& other) const { return !(*this == other); }
};

namespace asf_guid_detail
{
constexpr uint8 hex_value(char c)
{
    return uint8(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
}
} // namespace asf_guid_detail

// Builds a GUID in file byte order from its textual form: the first three
// groups are stored little-endian, the last two as written.
constexpr guid_t make_guid(const char (&text)[37])
{
    guid_t guid{};
    constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    int digit = 0;
    uint8 bytes[16]{};
    for (int i = 0; i < 36; i++) {
        if (text[i] == '-')
            continue;
        bytes[digit / 2] = uint8(bytes[digit / 2] << 4 | asf_guid_detail::hex_value(text[i]));
        digit++;
    }
    for (int i = 0; i < 16; i++)
        guid.data[i] = bytes[kOrder[i]];
    return guid;
}

// The row of `rows` (one per object kind, each with an `id`) for `id`, or
// null when the object is not one the table lists.
template <typename Row, size_t N>
const Row* find_object_row(const Row (&rows)[N], const guid_t& id)
{
    for (const Row& row : rows) {
        if (row.id == id)
            return &row;
    }
    return nullptr;
}
