#include "winemu/kernel32/TextServices.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/support/Debug.h"
#include "platform/support/UTF8.h"
#include "winemu/kernel32/WideText.h"
#include "winemu/loader/ImportTable.h"
#include "winemu/msvcrt/ModuleFormat.h"

#include <cstdio>
#include <cstring>

namespace
{

// The number of units in a wide source: `count` as given, the units before
// the first 0 unit for 0, and those with their terminating 0 for a negative
// count (the Win32 -1). False when they do not lie in the module's memory.
bool wide_source(uint32 wide, int32 count, const unaligned_uint16** units, size_t* length)
{
    if (count > 0) {
        *units = module_pointer<const unaligned_uint16>(wide, size_t(count));
        *length = size_t(count);
        return *units != nullptr;
    }
    *units = module_pointer<const unaligned_uint16>(wide);
    if (*units == nullptr)
        return false;
    size_t available = (kModuleSpaceEnd - wide) / 2;
    size_t n = 0;
    while (n < available && (*units)[n] != 0)
        n++;
    if (n == available)
        return false; // not terminated inside the window
    *length = count < 0 ? n + 1 : n;
    return true;
}

// The same for UTF-8 text, in bytes.
bool narrow_source(uint32 text, int32 length, const char** bytes, size_t* size)
{
    if (length > 0) {
        *bytes = module_pointer<const char>(text, size_t(length));
        *size = size_t(length);
        return *bytes != nullptr;
    }
    // Measured once: the module may move its NUL meanwhile, and the size
    // found here bounds every later read.
    *bytes = module_pointer<const char>(text);
    if (*bytes == nullptr)
        return false;
    const void* end = memchr(*bytes, '\0', kModuleSpaceEnd - text);
    if (end == nullptr)
        return false;
    *size = size_t(static_cast<const char*>(end) - *bytes) + (length < 0 ? 1 : 0);
    return true;
}

// The formatted text, or false when the format cannot be read.
bool format_text(uint32 format, uint32 arguments, std::string* formatted)
{
    std::string pattern;
    if (!DEBUG_CHECK(copy_module_string(format, kFormatLimit, &pattern),
                     "format inside the module address space"))
        return false;
    *formatted = format_module_text(pattern.c_str(), arguments);
    return true;
}

// Stores the text's bytes and a NUL in `buffer`; the characters stored, 0
// when the buffer does not lie in the module's memory.
uint32 store_text(uint32 buffer, const std::string& text)
{
    char* target = module_pointer<char>(buffer, text.size() + 1);
    if (target == nullptr)
        return 0;
    memcpy(target, text.c_str(), text.size() + 1);
    return uint32(text.size());
}

} // namespace

uint32 exp_WideCharToMultiByte(uint32, uint32, uint32 wide, int32 wideCount, uint32 out,
                               int32 outSize, uint32 defaultChar, uint32)
{
    const unaligned_uint16* units = nullptr;
    size_t count = 0;
    if (!wide_source(wide, wideCount, &units, &count) || outSize < 0)
        return 0;
    char substitute = B_SUBSTITUTE;
    if (defaultChar != 0) {
        const char* given = module_pointer<const char>(defaultChar);
        if (given == nullptr)
            return 0;
        substitute = *given;
    }
    if (outSize == 0)
        return uint32(wide_to_utf8(units, count, nullptr, 0, substitute));
    char* target = module_pointer<char>(out, size_t(outSize));
    if (target == nullptr)
        return 0;
    return uint32(wide_to_utf8(units, count, target, size_t(outSize), substitute));
}

uint32 exp_MultiByteToWideChar(uint32, uint32, uint32 text, int32 textLength, uint32 out,
                               int32 outCount)
{
    const char* bytes = nullptr;
    size_t size = 0;
    if (!narrow_source(text, textLength, &bytes, &size) || outCount < 0)
        return 0;
    if (outCount == 0)
        return uint32(utf8_to_wide(bytes, size, nullptr, 0, B_SUBSTITUTE));
    unaligned_uint16* target = module_pointer<unaligned_uint16>(out, size_t(outCount));
    if (target == nullptr)
        return 0;
    return uint32(utf8_to_wide(bytes, size, target, size_t(outCount), B_SUBSTITUTE));
}

uint32 exp_wvsprintfA(uint32 buffer, uint32 format, uint32 arguments)
{
    std::string formatted;
    if (!format_text(format, arguments, &formatted))
        return 0;
    return store_text(buffer, formatted);
}

// Stores bytes as wvsprintfA does (a buffer sized for the text holds it)
// and echoes the text on standard output.
uint32 exp_wsprintfA(const import_args& args)
{
    // The variable arguments follow buffer and format on the module's stack.
    uint32 arguments = args.words != nullptr ? module_address(args.words) + 8 : 0;
    std::string formatted;
    if (!format_text(args[1], arguments, &formatted))
        return 0;
    uint32 stored = store_text(args[0], formatted);
    printf("%s\n", formatted.c_str());
    return stored;
}
