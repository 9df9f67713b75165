// Conversion between a module's UTF-16 text (little-endian 16-bit units)
// and the system's UTF-8, through the platform's text converter. Host
// pointers: callers check module memory first.
#pragma once

#include "platform/kernel/ModuleSpace.h"
#include "platform/support/SupportDefs.h"

#include <string>

// Converts `count` units into at most `capacity` bytes at `out` and returns
// the bytes written; whole characters only. With a null `out`, returns the
// bytes the whole text needs. Units that cannot be converted (unpaired
// surrogates) become `substitute`.
size_t wide_to_utf8(const unaligned_uint16* units, size_t count, char* out, size_t capacity,
                    char substitute);

// Converts `length` bytes into at most `capacity` units at `out` and
// returns the units written; with a null `out`, the units the whole text
// needs. Invalid or cut sequences become the unit `substitute`.
size_t utf8_to_wide(const char* text, size_t length, unaligned_uint16* out, size_t capacity,
                    char substitute);

// The units of a NUL-terminated wide string at a module address, at most
// `limit` of them; false when the address is outside the module address
// space (the string is then empty).
bool module_wide_string(uint32 address, size_t limit, std::u16string* units);
