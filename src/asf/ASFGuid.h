// ASF object identifiers: 16 bytes held in file byte order.
#pragma once

#include "platform/support/SupportDefs.h"

#include <cstring>

struct guid_t {
    uint8 data[16];

    bool operator==(const guid_t& other) const { return memcmp(data, other.data, 16) == 0; }
    bool operator!=(const guid_t& other) const { return !(*this == other); }
};
