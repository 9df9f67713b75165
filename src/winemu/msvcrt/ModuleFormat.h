// printf-style formatting for module code: the format's arguments are read
// as the module pushed them, 32-bit words from its memory.
#pragma once

#include "platform/support/SupportDefs.h"

#include <string>

// The formatting replacements' limit: longer text is cut to this length.
constexpr size_t kFormatLimit = 8191;

// Formats `format` (C conversion syntax: flags, width and precision, both
// possibly `*`, the size prefixes hh, h, l, ll, L and I64, and the
// conversions d i u o x X c s p e E f F g G a A %) with the arguments that
// start at module address `arguments`. Each argument is one 32-bit word; a
// floating-point or 64-bit integer argument is two. %s reads a module
// string, %ls and %S a wide one. Bad string pointers print "(null)" and %n
// writes nothing; both are reported. The result holds at most
// kFormatLimit characters.
std::string format_module_text(const char* format, uint32 arguments);

// A NUL-terminated string at a module address copied to the host, at most
// `limit` bytes of it; false when the address is outside the module
// address space.
bool copy_module_string(uint32 address, size_t limit, std::string* text);
