// ASF object identifiers: 16 bytes held in file byte order.
#pragma once

#include "platform/support/SupportDefs.h"

#include <cstring>

struct guid_t {
    uint8 data[16];

    bool operator==(const guid_t& other) const { return memcmp(data, other.data, 16) == 0; }
    bool operator!=(const guid_t& other) const { return !(*this == other); }
};

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
