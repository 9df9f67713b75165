#include "platform/support/ByteOrder.h"

#include "platform/support/TypeConstants.h"

#include <algorithm>
#include <bit>

namespace
{

size_t element_size(type_code type)
{
    switch (type) {
    case B_INT16_TYPE:
    case B_UINT16_TYPE:
        return 2;
    case B_INT32_TYPE:
    case B_UINT32_TYPE:
    case B_FLOAT_TYPE:
    case B_RGB_COLOR_TYPE:
        return 4;
    case B_INT64_TYPE:
    case B_UINT64_TYPE:
    case B_DOUBLE_TYPE:
    case B_OFF_T_TYPE:
    case B_TIME_TYPE:
    case B_SIZE_T_TYPE:
    case B_SSIZE_T_TYPE:
        return 8;
    default:
        return 0;
    }
}

bool host_is_little()
{
    return std::endian::native == std::endian::little;
}

} // namespace

bool is_type_swapped(type_code type)
{
    return element_size(type) > 1;
}

status_t swap_data(type_code type, void* data, size_t length, swap_action action)
{
    if (data == nullptr && length != 0)
        return B_BAD_VALUE;
    size_t size = element_size(type);
    if (size == 0 || type == B_RGB_COLOR_TYPE)
        return size == 0 ? B_BAD_VALUE : B_OK;
    if (length % size != 0)
        return B_BAD_VALUE;

    bool swap;
    switch (action) {
    case B_SWAP_HOST_TO_LENDIAN:
    case B_SWAP_LENDIAN_TO_HOST:
        swap = !host_is_little();
        break;
    case B_SWAP_HOST_TO_BENDIAN:
    case B_SWAP_BENDIAN_TO_HOST:
        swap = host_is_little();
        break;
    case B_SWAP_ALWAYS:
        swap = true;
        break;
    default:
        return B_BAD_VALUE;
    }
    if (!swap)
        return B_OK;

    uint8* bytes = static_cast<uint8*>(data);
    for (size_t i = 0; i < length; i += size)
        std::reverse(bytes + i, bytes + i + size);
    return B_OK;
}
