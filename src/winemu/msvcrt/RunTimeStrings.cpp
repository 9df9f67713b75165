#include "winemu/msvcrt/RunTimeStrings.h"

#include "platform/kernel/ModuleSpace.h"

#include <cstring>

namespace
{

// The bytes of a NUL-terminated module string before its NUL, looking at
// most `limit` bytes far; null when it does not lie in the window.
const char* text_of(uint32 address, size_t* length, size_t limit = SIZE_MAX)
{
    const char* start = module_pointer<const char>(address);
    if (start == nullptr)
        return nullptr;
    size_t room = kModuleSpaceEnd - address;
    size_t look = limit < room ? limit : room;
    const void* end = memchr(start, '\0', look);
    if (end == nullptr && look == room)
        return nullptr; // runs past the window
    *length = end != nullptr ? size_t(static_cast<const char*>(end) - start) : look;
    return start;
}

// The units of a NUL-terminated wide string, at most `limit` looked at.
const unaligned_uint16* wide_of(uint32 address, size_t* length, size_t limit = SIZE_MAX)
{
    const unaligned_uint16* start = module_pointer<const unaligned_uint16>(address);
    if (start == nullptr)
        return nullptr;
    size_t room = (kModuleSpaceEnd - address) / 2;
    size_t look = limit < room ? limit : room;
    size_t n = 0;
    while (n < look && start[n] != 0)
        n++;
    if (n == room)
        return nullptr;
    *length = n;
    return start;
}

int32 sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

int lower(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

int32 compare_folded(const char* a, size_t lengthA, const char* b, size_t lengthB)
{
    size_t n = lengthA < lengthB ? lengthA : lengthB;
    for (size_t i = 0; i < n; i++) {
        int d = lower(uint8(a[i])) - lower(uint8(b[i]));
        if (d != 0)
            return sign(d);
    }
    return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
}

// Copies `length` bytes and a NUL to `target`; false when they do not fit
// in the window there.
bool store(uint32 target, const char* source, size_t length)
{
    char* out = module_pointer<char>(target, length + 1);
    if (out == nullptr)
        return false;
    memmove(out, source, length);
    out[length] = '\0';
    return true;
}

} // namespace

uint32 exp_memcpy(uint32 target, uint32 source, uint32 size)
{
    return exp_memmove(target, source, size);
}

uint32 exp_memmove(uint32 target, uint32 source, uint32 size)
{
    if (size == 0)
        return target;
    void* out = module_pointer<char>(target, size);
    const void* in = module_pointer<const char>(source, size);
    if (out == nullptr || in == nullptr)
        return 0;
    memmove(out, in, size);
    return target;
}

uint32 exp_memset(uint32 target, int32 value, uint32 size)
{
    if (size == 0)
        return target;
    void* out = module_pointer<char>(target, size);
    if (out == nullptr)
        return 0;
    memset(out, value, size);
    return target;
}

int32 exp_memcmp(uint32 a, uint32 b, uint32 size)
{
    if (size == 0)
        return 0;
    const void* left = module_pointer<const char>(a, size);
    const void* right = module_pointer<const char>(b, size);
    if (left == nullptr || right == nullptr)
        return 0;
    return sign(memcmp(left, right, size));
}

uint32 exp_memchr(uint32 block, int32 value, uint32 size)
{
    const void* in = module_pointer<const char>(block, size);
    if (size == 0 || in == nullptr)
        return 0;
    return module_address(memchr(in, value, size));
}

uint32 exp_strlen(uint32 text)
{
    size_t length = 0;
    return text_of(text, &length) != nullptr ? uint32(length) : 0;
}

int32 exp_strcmp(uint32 a, uint32 b)
{
    return exp_strncmp(a, b, UINT32_MAX);
}

int32 exp_strncmp(uint32 a, uint32 b, uint32 count)
{
    size_t lengthA = 0, lengthB = 0;
    const char* left = text_of(a, &lengthA, count);
    const char* right = text_of(b, &lengthB, count);
    if (left == nullptr || right == nullptr)
        return 0;
    size_t n = lengthA < lengthB ? lengthA : lengthB;
    int d = memcmp(left, right, n);
    if (d != 0)
        return sign(d);
    return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
}

uint32 exp_strcpy(uint32 target, uint32 source)
{
    size_t length = 0;
    const char* in = text_of(source, &length);
    return in != nullptr && store(target, in, length) ? target : 0;
}

uint32 exp_strncpy(uint32 target, uint32 source, uint32 count)
{
    if (count == 0)
        return target;
    size_t length = 0;
    const char* in = text_of(source, &length, count);
    char* out = module_pointer<char>(target, count);
    if (in == nullptr || out == nullptr)
        return 0;
    memmove(out, in, length);
    memset(out + length, 0, count - length); // pads with NULs, no NUL when full
    return target;
}

uint32 exp_strcat(uint32 target, uint32 source)
{
    return exp_strncat(target, source, UINT32_MAX);
}

uint32 exp_strncat(uint32 target, uint32 source, uint32 count)
{
    size_t have = 0, length = 0;
    const char* in = text_of(source, &length, count);
    if (text_of(target, &have) == nullptr || in == nullptr)
        return 0;
    if (uint64(target) + have > kModuleSpaceEnd)
        return 0;
    return store(uint32(target + have), in, length) ? target : 0;
}

uint32 exp_strchr(uint32 text, int32 c)
{
    size_t length = 0;
    const char* in = text_of(text, &length);
    if (in == nullptr)
        return 0;
    // The terminating NUL counts as part of the string.
    const void* found = memchr(in, char(c), length + 1);
    return module_address(found);
}

uint32 exp_strrchr(uint32 text, int32 c)
{
    size_t length = 0;
    const char* in = text_of(text, &length);
    if (in == nullptr)
        return 0;
    for (size_t i = length + 1; i-- > 0;) {
        if (in[i] == char(c))
            return text + uint32(i);
    }
    return 0;
}

uint32 exp_strstr(uint32 text, uint32 part)
{
    size_t length = 0, partLength = 0;
    const char* in = text_of(text, &length);
    const char* wanted = text_of(part, &partLength);
    if (in == nullptr || wanted == nullptr)
        return 0;
    const void* found = memmem(in, length, wanted, partLength);
    return module_address(found);
}

uint32 exp_strspn(uint32 text, uint32 set)
{
    size_t length = 0, setLength = 0;
    const char* in = text_of(text, &length);
    const char* chars = text_of(set, &setLength);
    if (in == nullptr || chars == nullptr)
        return 0;
    size_t n = 0;
    while (n < length && memchr(chars, in[n], setLength) != nullptr)
        n++;
    return uint32(n);
}

uint32 exp_strcspn(uint32 text, uint32 set)
{
    size_t length = 0, setLength = 0;
    const char* in = text_of(text, &length);
    const char* chars = text_of(set, &setLength);
    if (in == nullptr || chars == nullptr)
        return 0;
    size_t n = 0;
    while (n < length && memchr(chars, in[n], setLength) == nullptr)
        n++;
    return uint32(n);
}

uint32 exp_strpbrk(uint32 text, uint32 set)
{
    size_t length = 0;
    if (text_of(text, &length) == nullptr)
        return 0;
    uint32 n = exp_strcspn(text, set);
    return n < length ? text + n : 0;
}

uint32 exp_strdup(uint32 text)
{
    size_t length = 0;
    const char* in = text_of(text, &length);
    if (in == nullptr)
        return 0;
    char* copy = static_cast<char*>(module_malloc(length + 1));
    if (copy == nullptr)
        return 0;
    // The text may run over free heap that the copy now takes.
    memmove(copy, in, length + 1);
    return module_address(copy);
}

int32 exp_stricmp(uint32 a, uint32 b)
{
    return exp_strnicmp(a, b, UINT32_MAX);
}

int32 exp_strnicmp(uint32 a, uint32 b, uint32 count)
{
    size_t lengthA = 0, lengthB = 0;
    const char* left = text_of(a, &lengthA, count);
    const char* right = text_of(b, &lengthB, count);
    if (left == nullptr || right == nullptr)
        return 0;
    return compare_folded(left, lengthA, right, lengthB);
}

int32 exp_tolower(int32 c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

uint32 exp_wcslen(uint32 text)
{
    size_t length = 0;
    return wide_of(text, &length) != nullptr ? uint32(length) : 0;
}

int32 exp_wcsncmp(uint32 a, uint32 b, uint32 count)
{
    size_t lengthA = 0, lengthB = 0;
    const unaligned_uint16* left = wide_of(a, &lengthA, count);
    const unaligned_uint16* right = wide_of(b, &lengthB, count);
    if (left == nullptr || right == nullptr)
        return 0;
    size_t n = lengthA < lengthB ? lengthA : lengthB;
    for (size_t i = 0; i < n; i++) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    }
    return lengthA == lengthB ? 0 : (lengthA < lengthB ? -1 : 1);
}

uint32 exp_lstrlenA(uint32 text)
{
    return exp_strlen(text);
}

uint32 exp_lstrlenW(uint32 text)
{
    return exp_wcslen(text);
}

uint32 exp_lstrcpyA(uint32 target, uint32 source)
{
    return exp_strcpy(target, source);
}

int32 exp_lstrcmpiA(uint32 a, uint32 b)
{
    return exp_stricmp(a, b);
}
