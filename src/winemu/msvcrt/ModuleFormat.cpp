#include "winemu/msvcrt/ModuleFormat.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/support/Debug.h"
#include "winemu/kernel32/WideText.h"

#include <cstdio>
#include <cstring>

namespace
{

// Widths and precisions beyond the text limit cannot change the result.
constexpr int32 kFieldLimit = int32(kFormatLimit) + 1;

// Reads the module's argument words one after the other. A word outside
// the module address space reads as 0.
class argument_reader
{
public:
    explicit argument_reader(uint32 address) : fAddress(address) {}

    uint32 Word()
    {
        uint32 value = 0;
        if (const unaligned_uint32* word = module_pointer<const unaligned_uint32>(fAddress))
            value = *word;
        fAddress += 4;
        return value;
    }

    uint64 Double()
    {
        uint64 low = Word();
        return low | uint64(Word()) << 32;
    }

private:
    uint32 fAddress;
};

enum size_prefix { kSizeNone, kSizeChar, kSizeShort, kSizeLong, kSizeLongLong, kSizeLongDouble };

// One conversion: everything between '%' and the conversion character.
struct conversion {
    std::string flags;
    int32 width = -1;     // -1: none
    int32 precision = -1; // -1: none
    size_prefix size = kSizeNone;
    char type = 0;

    // The host format for this conversion, with `length` as size prefix.
    std::string Format(const char* length) const
    {
        // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + string.
        std::string format = "%";
        format += flags;
        if (width >= 0)
            format += std::to_string(width);
        if (precision >= 0) {
            format += '.';
            format += std::to_string(precision);
        }
        format += length;
        format += type;
        return format;
    }
};

int32 clamp_field(int64 value)
{
    return int32(min_c<int64>(value, kFieldLimit));
}

// Parses digits at *cursor, or a '*' that takes the next argument.
int64 read_field(const char** cursor, argument_reader& arguments, bool* fromArgument)
{
    *fromArgument = false;
    if (**cursor == '*') {
        ++*cursor;
        *fromArgument = true;
        return int32(arguments.Word());
    }
    int64 value = -1;
    while (**cursor >= '0' && **cursor <= '9') {
        value = min_c<int64>((value < 0 ? 0 : value) * 10 + (**cursor - '0'), kFieldLimit);
        ++*cursor;
    }
    return value;
}

bool parse_conversion(const char** cursor, argument_reader& arguments, conversion* directive)
{
    const char* p = *cursor;
    while (*p != '\0' && strchr("-+ #0", *p) != nullptr)
        directive->flags += *p++;
    bool fromArgument = false;
    int64 width = read_field(&p, arguments, &fromArgument);
    if (fromArgument && width < 0) {
        directive->flags += '-'; // a negative width from an argument means left-aligned
        width = -width;
    }
    directive->width = width >= 0 ? clamp_field(width) : -1;
    if (*p == '.') {
        p++;
        int64 precision = read_field(&p, arguments, &fromArgument);
        // "." alone means 0; a negative precision from an argument, none.
        directive->precision = precision >= 0 ? clamp_field(precision) : (fromArgument ? -1 : 0);
    }
    if (p[0] == 'h' && p[1] == 'h') {
        directive->size = kSizeChar;
        p += 2;
    } else if (p[0] == 'l' && p[1] == 'l') {
        directive->size = kSizeLongLong;
        p += 2;
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
        directive->size = kSizeLongLong;
        p += 3;
    } else if (*p == 'h') {
        directive->size = kSizeShort;
        p++;
    } else if (*p == 'l') {
        directive->size = kSizeLong;
        p++;
    } else if (*p == 'L') {
        directive->size = kSizeLongDouble;
        p++;
    }
    if (*p == '\0' || strchr("diuoxXcspeEfFgGaAnS%", *p) == nullptr)
        return false;
    directive->type = *p++;
    *cursor = p;
    return true;
}

class text_builder
{
public:
    bool Full() const { return fText.size() >= kFormatLimit; }

    void Append(const char* text, size_t length)
    {
        fText.append(text, min_c(length, kFormatLimit - fText.size()));
    }

    // One conversion through the C library, cut at the limit.
    template <typename T>
    void Print(const std::string& format, T value)
    {
        char piece[kFormatLimit + 1];
        int length = snprintf(piece, sizeof(piece), format.c_str(), value);
        if (length > 0)
            Append(piece, min_c(size_t(length), sizeof(piece) - 1));
    }

    std::string Take() { return std::move(fText); }

private:
    std::string fText;
};

int64 signed_value(const conversion& directive, argument_reader& arguments)
{
    switch (directive.size) {
    case kSizeLongLong:
        return int64(arguments.Double());
    case kSizeChar:
        return int8(arguments.Word());
    case kSizeShort:
        return int16(arguments.Word());
    default:
        return int32(arguments.Word());
    }
}

uint64 unsigned_value(const conversion& directive, argument_reader& arguments)
{
    switch (directive.size) {
    case kSizeLongLong:
        return arguments.Double();
    case kSizeChar:
        return uint8(arguments.Word());
    case kSizeShort:
        return uint16(arguments.Word());
    default:
        return arguments.Word();
    }
}

// The text of a %s or %ls argument, "(null)" when it cannot be read.
std::string string_argument(uint32 address, bool wide, int32 precision)
{
    size_t limit = precision >= 0 ? size_t(precision) : kFormatLimit;
    if (address == 0)
        return "(null)";
    if (wide) {
        std::u16string units;
        if (DEBUG_CHECK(module_wide_string(address, limit, &units),
                        "%ls argument inside the module address space")) {
            const unaligned_uint16* data = reinterpret_cast<const unaligned_uint16*>(units.data());
            std::string text(wide_to_utf8(data, units.size(), nullptr, 0, '?'), '\0');
            wide_to_utf8(data, units.size(), text.data(), text.size(), '?');
            return text;
        }
        return "(null)";
    }
    std::string text;
    if (DEBUG_CHECK(copy_module_string(address, limit, &text),
                    "%s argument inside the module address space"))
        return text;
    return "(null)";
}

void format_one(const conversion& directive, argument_reader& arguments, text_builder& out)
{
    switch (directive.type) {
    case 'd':
    case 'i':
        out.Print(directive.Format("ll"),
                  static_cast<long long>(signed_value(directive, arguments)));
        break;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        out.Print(directive.Format("ll"),
                  static_cast<unsigned long long>(unsigned_value(directive, arguments)));
        break;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A': {
        uint64 bits = arguments.Double();
        double value;
        memcpy(&value, &bits, sizeof(value));
        out.Print(directive.Format(""), value);
        break;
    }
    case 'c': {
        uint32 word = arguments.Word();
        if (directive.size == kSizeLong) {
            uint16 unit = uint16(word);
            char bytes[4];
            size_t length = wide_to_utf8(&unit, 1, bytes, sizeof(bytes), '?');
            conversion text = directive;
            text.type = 's';
            text.precision = -1;
            out.Print(text.Format(""), std::string(bytes, length).c_str());
        } else {
            out.Print(directive.Format(""), int(uint8(word)));
        }
        break;
    }
    case 's':
    case 'S': {
        bool wide = directive.type == 'S' || directive.size == kSizeLong;
        std::string text = string_argument(arguments.Word(), wide, directive.precision);
        conversion plain = directive;
        plain.type = 's';
        out.Print(plain.Format(""), text.c_str());
        break;
    }
    case 'p':
        out.Print(directive.Format(""), reinterpret_cast<void*>(uintptr_t(arguments.Word())));
        break;
    case 'n':
        // The count is not written into module memory.
        arguments.Word();
        DEBUG_CHECK(false, "%n is not supported");
        break;
    default: // '%'
        out.Append("%", 1);
        break;
    }
}

} // namespace

bool copy_module_string(uint32 address, size_t limit, std::string* text)
{
    text->clear();
    const char* start = module_pointer<const char>(address);
    if (start == nullptr)
        return false;
    // Read once and bounded by the window, even if the module changes it.
    text->assign(start, strnlen(start, min_c<size_t>(limit, kModuleSpaceEnd - address)));
    return true;
}

std::string format_module_text(const char* format, uint32 arguments)
{
    argument_reader reader(arguments);
    text_builder out;
    const char* p = format;
    while (*p != '\0' && !out.Full()) {
        const char* percent = strchr(p, '%');
        if (percent == nullptr) {
            out.Append(p, strlen(p));
            break;
        }
        out.Append(p, size_t(percent - p));
        const char* cursor = percent + 1;
        conversion directive;
        if (!parse_conversion(&cursor, reader, &directive)) {
            // Not a conversion we know: the text stands as written.
            out.Append(percent, size_t(cursor - percent));
            p = cursor;
            continue;
        }
        format_one(directive, reader, out);
        p = cursor;
    }
    return out.Take();
}
