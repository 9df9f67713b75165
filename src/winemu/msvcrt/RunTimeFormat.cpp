#include "winemu/msvcrt/RunTimeFormat.h"

#include "platform/kernel/ModuleSpace.h"
#include "winemu/loader/ImportTable.h"
#include "winemu/msvcrt/ModuleFormat.h"
#include "winemu/msvcrt/RunTimeFiles.h"

#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <string>

namespace
{

bool formatted(uint32 format, uint32 arguments, std::string* text)
{
    std::string pattern;
    if (!copy_module_string(format, kFormatLimit, &pattern))
        return false;
    *text = format_module_text(pattern.c_str(), arguments);
    return true;
}

// The address of the variable arguments that follow `fixed` words.
uint32 variable_arguments(const import_args& args, size_t fixed)
{
    return args.words != nullptr ? module_address(args.words) + uint32(4 * fixed) : 0;
}

int32 store_all(uint32 buffer, const std::string& text)
{
    char* out = module_pointer<char>(buffer, text.size() + 1);
    if (out == nullptr)
        return -1;
    memcpy(out, text.c_str(), text.size() + 1);
    return int32(text.size());
}

// _vsnprintf: the NUL only when it fits; -1 when the text was cut.
int32 store_legacy(uint32 buffer, uint32 count, const std::string& text)
{
    if (count == 0)
        return buffer == 0 ? int32(text.size()) : -1;
    char* out = module_pointer<char>(buffer, count);
    if (out == nullptr)
        return -1;
    size_t copied = text.size() < count ? text.size() : count;
    memcpy(out, text.data(), copied);
    if (copied < count)
        out[copied] = '\0';
    return text.size() <= count ? int32(text.size()) : -1;
}

// vsnprintf: cut with a NUL; the full length.
int32 store_standard(uint32 buffer, uint32 count, const std::string& text)
{
    if (count == 0)
        return int32(text.size());
    char* out = module_pointer<char>(buffer, count);
    if (out == nullptr)
        return -1;
    size_t copied = text.size() < count - 1 ? text.size() : count - 1;
    memcpy(out, text.data(), copied);
    out[copied] = '\0';
    return int32(text.size());
}

// ---- scanning ---------------------------------------------------------------

class scanner
{
public:
    scanner(std::string input, uint32 arguments) : fIn(std::move(input)), fNext(arguments) {}

    int32 Run(const char* format);

private:
    bool AtEnd() const { return fPos >= fIn.size(); }
    void SkipSpace()
    {
        while (!AtEnd() && isspace(uint8(fIn[fPos])))
            fPos++;
    }
    uint32 NextArgument()
    {
        uint32 value = 0;
        if (const unaligned_uint32* word = module_pointer<const unaligned_uint32>(fNext))
            value = *word;
        fNext += 4;
        return value;
    }
    // Stores `size` bytes of `value` at the next argument's address.
    bool Store(const void* value, size_t size)
    {
        uint8* out = module_pointer<uint8>(NextArgument(), size);
        if (out == nullptr)
            return false;
        memmove(out, value, size); // a string may come from where it goes
        return true;
    }
    bool Integer(char type, size_t width, int size, bool store);
    bool Real(size_t width, int size, bool store);
    bool Chars(char type, const char* set, size_t setLength, size_t width, bool wide, bool store);

    std::string fIn;
    size_t fPos = 0;
    uint32 fNext;
};

bool scanner::Integer(char type, size_t width, int size, bool store)
{
    std::string field = fIn.substr(fPos, width);
    int base = type == 'd' || type == 'u' ? 10 : type == 'o' ? 8 : type == 'i' ? 0 : 16;
    // Parse with the host in 64 bits; take the low bits as the C run-time does.
    const char* start = field.c_str();
    char* end = nullptr;
    uint64 value;
    if (field[0] == '-')
        value = uint64(strtoll(start, &end, base));
    else
        value = strtoull(start, &end, base);
    if (end == start)
        return false;
    fPos += size_t(end - start);
    if (!store)
        return true;
    switch (size) {
    case 1: {
        uint8 v = uint8(value);
        return Store(&v, 1);
    }
    case 2: {
        uint16 v = uint16(value);
        return Store(&v, 2);
    }
    case 8:
        return Store(&value, 8);
    default: {
        uint32 v = uint32(value);
        return Store(&v, 4);
    }
    }
}

bool scanner::Real(size_t width, int size, bool store)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    std::string field = fIn.substr(fPos, width);
    char* end = nullptr;
    double value = c != locale_t(0) ? strtod_l(field.c_str(), &end, c) : 0.0;
    if (end == field.c_str())
        return false;
    fPos += size_t(end - field.c_str());
    if (!store)
        return true;
    if (size == 8)
        return Store(&value, 8);
    float single = float(value);
    return Store(&single, 4);
}

// %s, %c and %[...]: copies matching characters (bytes, or one 16-bit unit
// each for wide targets).
bool scanner::Chars(char type, const char* set, size_t setLength, size_t width, bool wide,
                    bool store)
{
    size_t start = fPos;
    bool negate = type == '[' && setLength > 0 && set[0] == '^';
    auto in_set = [&](char ch) {
        size_t i = negate ? 1 : 0;
        bool found = false;
        for (; i < setLength; i++) {
            if (i + 2 < setLength && set[i + 1] == '-' && i > (negate ? 1u : 0u)) {
                if (uint8(ch) >= uint8(set[i]) && uint8(ch) <= uint8(set[i + 2]))
                    found = true;
                i += 2;
            } else if (set[i] == ch) {
                found = true;
            }
        }
        return found != negate;
    };
    while (!AtEnd() && fPos - start < width) {
        char ch = fIn[fPos];
        if (type == 's' && isspace(uint8(ch)))
            break;
        if (type == '[' && !in_set(ch))
            break;
        fPos++;
    }
    size_t length = fPos - start;
    if (length == 0 || (type == 'c' && length < width))
        return false;
    if (!store)
        return true;
    size_t terminator = type == 'c' ? 0 : 1;
    size_t unit = wide ? 2 : 1;
    uint8* out = module_pointer<uint8>(NextArgument(), (length + terminator) * unit);
    if (out == nullptr)
        return false;
    for (size_t i = 0; i < length + terminator; i++) {
        uint8 ch = i < length ? uint8(fIn[start + i]) : 0;
        out[i * unit] = ch;
        if (wide)
            out[i * unit + 1] = 0;
    }
    return true;
}

int32 scanner::Run(const char* format)
{
    int32 assigned = 0;
    bool matchedAny = false;
    for (const char* f = format; *f != '\0'; f++) {
        if (isspace(uint8(*f))) {
            SkipSpace();
            continue;
        }
        if (*f != '%' || f[1] == '%') {
            if (*f == '%') {
                f++;
                SkipSpace();
            }
            if (AtEnd())
                return matchedAny || assigned > 0 ? assigned : -1;
            if (fIn[fPos] != *f)
                return assigned;
            fPos++;
            continue;
        }
        f++;
        bool store = true;
        if (*f == '*') {
            store = false;
            f++;
        }
        size_t width = 0;
        while (*f >= '0' && *f <= '9')
            width = min_c<size_t>(width * 10 + size_t(*f++ - '0'), 1 << 20);
        int size = 4;
        bool wide = false;
        if (f[0] == 'h' && f[1] == 'h') {
            size = 1;
            f += 2;
        } else if (f[0] == 'l' && f[1] == 'l') {
            size = 8;
            f += 2;
        } else if (f[0] == 'I' && f[1] == '6' && f[2] == '4') {
            size = 8;
            f += 3;
        } else if (*f == 'h') {
            size = 2;
            f++;
        } else if (*f == 'l' || *f == 'w' || *f == 'L') {
            size = 8; // long double is double here; %ls and %lc are wide
            wide = true;
            f++;
        }
        char type = *f;
        if (type == '\0')
            break;
        if (type == 'n') {
            uint32 consumed = uint32(fPos);
            if (store && !Store(&consumed, 4))
                return assigned;
            continue;
        }
        if (type != 'c' && type != '[')
            SkipSpace();
        if (AtEnd())
            return matchedAny || assigned > 0 ? assigned : -1;
        bool ok = false;
        switch (type) {
        case 'd':
        case 'i':
        case 'u':
        case 'o':
        case 'x':
        case 'X':
        case 'p':
            ok = Integer(type == 'X' || type == 'p' ? 'x' : type, width > 0 ? width : SIZE_MAX,
                         type == 'p' ? 4 : (size == 8 && wide ? 4 : size), store);
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            ok = Real(width > 0 ? width : SIZE_MAX, size == 8 ? 8 : 4, store);
            break;
        case 's':
        case 'S':
            ok = Chars('s', nullptr, 0, width > 0 ? width : SIZE_MAX, wide || type == 'S', store);
            break;
        case 'c':
        case 'C':
            ok = Chars('c', nullptr, 0, width > 0 ? width : 1, wide || type == 'C', store);
            break;
        case '[': {
            const char* set = ++f;
            if (*f == '^')
                f++;
            if (*f == ']')
                f++;
            while (*f != '\0' && *f != ']')
                f++;
            if (*f == '\0')
                return assigned;
            ok = Chars('[', set, size_t(f - set), width > 0 ? width : SIZE_MAX, wide, store);
            break;
        }
        default:
            return assigned;
        }
        if (!ok)
            return assigned;
        matchedAny = true;
        if (store)
            assigned++;
    }
    return assigned;
}

int32 scan(uint32 buffer, uint64 count, uint32 format, uint32 arguments)
{
    std::string input, pattern;
    if (!copy_module_string(format, kFormatLimit, &pattern))
        return -1;
    const char* text = module_pointer<const char>(buffer);
    if (text == nullptr)
        return -1;
    size_t room = kModuleSpaceEnd - buffer;
    size_t limit = count < room ? size_t(count) : room;
    input.assign(text, strnlen(text, limit));
    return scanner(std::move(input), arguments).Run(pattern.c_str());
}

} // namespace

int32 exp_sprintf(const import_args& args)
{
    std::string text;
    if (!formatted(args[1], variable_arguments(args, 2), &text))
        return -1;
    return store_all(args[0], text);
}

int32 exp_snprintf(const import_args& args)
{
    std::string text;
    if (!formatted(args[2], variable_arguments(args, 3), &text))
        return -1;
    return store_legacy(args[0], args[1], text);
}

int32 exp_vsprintf(uint32 buffer, uint32 format, uint32 arguments)
{
    std::string text;
    if (!formatted(format, arguments, &text))
        return -1;
    return store_all(buffer, text);
}

int32 exp_vsnprintf(uint32 buffer, uint32 count, uint32 format, uint32 arguments)
{
    std::string text;
    if (!formatted(format, arguments, &text))
        return -1;
    return store_legacy(buffer, count, text);
}

int32 exp_stdio_common_vsprintf(uint32 optionsLow, uint32, uint32 buffer, uint32 count,
                                uint32 format, uint32, uint32 arguments)
{
    std::string text;
    if (!formatted(format, arguments, &text))
        return -1;
    if (buffer == 0 && count == 0)
        return int32(text.size());
    if (optionsLow & kPrintfStandardSnprintf)
        return store_standard(buffer, count, text);
    return store_legacy(buffer, count, text);
}

int32 exp_stdio_common_vfprintf(uint32, uint32, uint32 stream, uint32 format, uint32,
                                uint32 arguments)
{
    int32 which = module_stream_number(stream);
    if (which != 1 && which != 2) {
        set_module_errno(kModuleEBADF);
        return -1;
    }
    std::string text;
    if (!formatted(format, arguments, &text))
        return -1;
    module_debug_output(text.data(), text.size());
    return int32(text.size());
}

int32 exp_sscanf(const import_args& args)
{
    return scan(args[0], UINT64_MAX, args[1], variable_arguments(args, 2));
}

int32 exp_stdio_common_vsscanf(uint32, uint32, uint32 buffer, uint32 count, uint32 format, uint32,
                               uint32 arguments)
{
    // A count of (size_t)-1 means "up to the NUL".
    return scan(buffer, count == UINT32_MAX ? UINT64_MAX : count, format, arguments);
}
