#include "winemu/kernel32/WideText.h"

#include "platform/support/UTF8.h"

#include <cstring>

namespace
{

// Work in pieces so that no conversion needs more than a fixed buffer,
// however long the text: each unit makes at most 3 bytes (a surrogate pair
// 4 bytes for 2 units), each byte at most one unit.
constexpr size_t kChunkUnits = 2048;
constexpr size_t kChunkBytes = 3 * kChunkUnits;

bool is_high_surrogate(uint16 unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// Length of the UTF-8 sequence a lead byte announces (1 for a stray byte).
size_t sequence_length(unsigned char lead)
{
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0 && lead < 0xF0)
        return 3;
    if (lead >= 0xC0 && lead < 0xE0)
        return 2;
    return 1;
}

} // namespace

size_t wide_to_utf8(const unaligned_uint16* units, size_t count, char* out, size_t capacity,
                    char substitute)
{
    char swapped[2 * kChunkUnits];
    char scratch[kChunkBytes];
    size_t done = 0;
    size_t written = 0;
    while (done < count && (out == nullptr || written < capacity)) {
        size_t pieceUnits = min_c(count - done, kChunkUnits);
        // The converter's 16-bit side is big-endian.
        for (size_t i = 0; i < pieceUnits; i++) {
            uint16 unit = units[done + i];
            swapped[2 * i] = char(unit >> 8);
            swapped[2 * i + 1] = char(unit & 0xFF);
        }
        char* target = out != nullptr ? out + written : scratch;
        size_t room = out != nullptr ? min_c(capacity - written, kChunkBytes) : kChunkBytes;
        int32 sourceLength = int32(2 * pieceUnits);
        int32 targetLength = int32(room);
        int32 state = 0;
        if (convert_to_utf8(B_UNICODE_CONVERSION, swapped, &sourceLength, target, &targetLength,
                            &state, substitute) != B_OK)
            break;
        if (sourceLength == 0) {
            // A high surrogate that ends the text has no partner: substitute
            // it. Anything else that does not go on is a full destination.
            if (count - done != 1 || !is_high_surrogate(units[done]))
                break;
            if (out != nullptr)
                out[written] = substitute;
            written++;
            done++;
            continue;
        }
        done += size_t(sourceLength) / 2;
        written += size_t(targetLength);
    }
    return written;
}

size_t utf8_to_wide(const char* text, size_t length, unaligned_uint16* out, size_t capacity,
                    char substitute)
{
    char scratch[2 * kChunkBytes];
    size_t done = 0;
    size_t written = 0;
    while (done < length && (out == nullptr || written < capacity)) {
        size_t pieceBytes = min_c(length - done, kChunkBytes);
        size_t roomUnits = out != nullptr ? min_c(capacity - written, kChunkBytes) : kChunkBytes;
        int32 sourceLength = int32(pieceBytes);
        int32 targetLength = int32(2 * roomUnits);
        int32 state = 0;
        if (convert_from_utf8(B_UNICODE_CONVERSION, text + done, &sourceLength, scratch,
                              &targetLength, &state, substitute) != B_OK)
            break;
        size_t units = size_t(targetLength) / 2;
        if (out != nullptr) {
            for (size_t i = 0; i < units; i++)
                out[written + i] = uint16(uint8(scratch[2 * i]) << 8 | uint8(scratch[2 * i + 1]));
        }
        written += units;
        if (sourceLength == 0) {
            // A sequence cut by the end of the text becomes one substitute.
            size_t left = length - done;
            if (left >= sequence_length(uint8(text[done])))
                break; // the destination is full
            if (out != nullptr)
                out[written] = uint16(uint8(substitute));
            written++;
            break;
        }
        done += size_t(sourceLength);
    }
    return written;
}

bool module_wide_string(uint32 address, size_t limit, std::u16string* units)
{
    units->clear();
    const unaligned_uint16* start = module_pointer<const unaligned_uint16>(address);
    if (start == nullptr)
        return false;
    size_t available = (kModuleSpaceEnd - address) / 2;
    for (size_t i = 0; i < available && i < limit && start[i] != 0; i++)
        units->push_back(char16_t(uint16(start[i])));
    return true;
}
