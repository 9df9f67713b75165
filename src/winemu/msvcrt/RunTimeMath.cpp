#include "winemu/msvcrt/RunTimeMath.h"

#include "platform/kernel/ModuleSpace.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/loader/ImportTable.h"
#include "winemu/msvcrt/RunTimeFiles.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <string>
#include <vector>

namespace
{

std::atomic<uint32> sRandomState{1};

// qsort's limit: more elements are left as they are.
constexpr uint32 kSortLimit = 1u << 24;
// The bytes of an element that qsort holds on the host at a time.
constexpr size_t kSortChunk = 256;

double arg(uint32 low, uint32 high)
{
    return double_argument(low, high);
}

uint64 result(double value)
{
    return double_result(value);
}

// The most of a number's text (after its leading white space) that is
// read: longer numbers are read as their first kNumberLimit characters.
constexpr size_t kNumberLimit = 4096;

bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The text a number is parsed from, copied once: the module may change its
// text meanwhile from another thread, so it is measured, skipped over and
// copied within the bounds found once. `skipped` is the white space left
// out before the copy. False when the text does not lie in the window.
bool number_text(uint32 text, std::string* copy, uint32* skipped)
{
    const char* start = module_pointer<const char>(text);
    if (start == nullptr)
        return false;
    const void* nul = memchr(start, '\0', kModuleSpaceEnd - text);
    if (nul == nullptr)
        return false;
    size_t length = size_t(static_cast<const char*>(nul) - start);
    size_t skip = 0;
    while (skip < length && is_space(start[skip]))
        skip++;
    copy->assign(start + skip, min_c(length - skip, kNumberLimit));
    *skipped = uint32(skip);
    return true;
}

// Stores where parsing stopped, as an address in the module's text: the
// text itself when nothing was parsed (`stop` at the copy's start).
void store_end(uint32 end, uint32 text, uint32 skipped, const std::string& copy, const char* stop)
{
    if (end == 0)
        return;
    size_t used = size_t(stop - copy.c_str());
    if (unaligned_uint32* slot = module_pointer<unaligned_uint32>(end))
        *slot = used == 0 ? text : text + skipped + uint32(used);
}

// Parses an integer as strtoul does (sign, 0x, base 0 and 2..36) without
// the host's long; `negative` tells whether a '-' came first. Returns the
// magnitude, saturated at UINT64_MAX; `stop` is past the digits, or the
// start when there were none.
uint64 parse_integer(const char* start, int32 base, bool* negative, const char** stop)
{
    const char* p = start;
    *stop = start;
    while (is_space(*p))
        p++;
    *negative = false;
    if (*p == '+' || *p == '-')
        *negative = *p++ == '-';
    if (base < 0 || base == 1 || base > 36)
        return 0;
    if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        isxdigit(uint8(p[2]))) {
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = p[0] == '0' ? 8 : 10;
    }
    uint64 value = 0;
    bool any = false;
    for (;; p++) {
        int digit;
        if (*p >= '0' && *p <= '9')
            digit = *p - '0';
        else if (*p >= 'a' && *p <= 'z')
            digit = *p - 'a' + 10;
        else if (*p >= 'A' && *p <= 'Z')
            digit = *p - 'A' + 10;
        else
            break;
        if (digit >= base)
            break;
        any = true;
        if (value > (UINT64_MAX - uint64(digit)) / uint64(base))
            value = UINT64_MAX;
        else
            value = value * uint64(base) + uint64(digit);
    }
    if (any)
        *stop = p;
    return value;
}

int32 to_long(uint64 magnitude, bool negative)
{
    if (negative) {
        if (magnitude > uint64(INT32_MAX) + 1) {
            set_module_errno(kModuleERANGE);
            return INT32_MIN;
        }
        return int32(-int64(magnitude));
    }
    if (magnitude > uint64(INT32_MAX)) {
        set_module_errno(kModuleERANGE);
        return INT32_MAX;
    }
    return int32(magnitude);
}

double parse_double(const char* start, const char** stop)
{
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    char* end = const_cast<char*>(start);
    double value = c != locale_t(0) ? strtod_l(start, &end, c) : 0.0;
    *stop = end;
    return value;
}

uint64 shift_count(uint32 count)
{
    return count & 0xFF;
}

} // namespace

int32 exp_atoi(uint32 text)
{
    std::string copy;
    uint32 skipped = 0;
    if (!number_text(text, &copy, &skipped))
        return 0;
    bool negative = false;
    const char* stop = nullptr;
    uint64 magnitude = parse_integer(copy.c_str(), 10, &negative, &stop);
    return to_long(magnitude, negative);
}

int32 exp_strtol(uint32 text, uint32 end, int32 base)
{
    std::string copy;
    uint32 skipped = 0;
    if (!number_text(text, &copy, &skipped))
        return 0;
    bool negative = false;
    const char* stop = nullptr;
    uint64 magnitude = parse_integer(copy.c_str(), base, &negative, &stop);
    int32 value = to_long(magnitude, negative);
    store_end(end, text, skipped, copy, stop);
    return value;
}

uint32 exp_strtoul(uint32 text, uint32 end, int32 base)
{
    std::string copy;
    uint32 skipped = 0;
    if (!number_text(text, &copy, &skipped))
        return 0;
    bool negative = false;
    const char* stop = nullptr;
    uint64 magnitude = parse_integer(copy.c_str(), base, &negative, &stop);
    store_end(end, text, skipped, copy, stop);
    if (magnitude > UINT32_MAX) {
        set_module_errno(kModuleERANGE);
        return UINT32_MAX;
    }
    return negative ? uint32(0u - uint32(magnitude)) : uint32(magnitude);
}

uint64 exp_strtod(uint32 text, uint32 end)
{
    std::string copy;
    uint32 skipped = 0;
    if (!number_text(text, &copy, &skipped))
        return result(0.0);
    const char* stop = copy.c_str();
    double value = parse_double(copy.c_str(), &stop);
    store_end(end, text, skipped, copy, stop);
    return result(value);
}

uint64 exp_atof(uint32 text)
{
    return exp_strtod(text, 0);
}

int32 exp_abs(int32 value)
{
    return value < 0 ? int32(0u - uint32(value)) : value;
}

// The era's run-time generator, so that modules seeding it see its numbers.
int32 exp_rand()
{
    uint32 state = sRandomState.load(std::memory_order_relaxed);
    uint32 next;
    do {
        next = state * 214013u + 2531011u;
    } while (!sRandomState.compare_exchange_weak(state, next, std::memory_order_relaxed));
    return int32((next >> 16) & 0x7FFF);
}

void exp_srand(uint32 seed)
{
    sRandomState.store(seed, std::memory_order_relaxed);
}

void exp_qsort(uint32 base, uint32 count, uint32 width, uint32 compare)
{
    // The host's own memory for the sort stays bounded whatever a module asks.
    if (count < 2 || width == 0 || count > kSortLimit || uint64(count) * width > kModuleSpaceEnd)
        return;
    uint8* elements = module_pointer<uint8>(base, size_t(count) * width);
    if (elements == nullptr)
        return;
    // A merge sort of indices: it asks each comparison once and stays in
    // bounds whatever the comparison function answers.
    std::vector<uint32> order(count), spare(count);
    for (uint32 i = 0; i < count; i++)
        order[i] = i;
    bool failed = false;
    auto less_or_equal = [&](uint32 a, uint32 b) {
        uint32 answer = 0;
        if (!failed && call_module(compare, {base + a * width, base + b * width}, &answer) != B_OK)
            failed = true;
        return failed || int32(answer) <= 0;
    };
    for (uint32 run = 1; run < count && !failed; run *= 2) {
        for (uint32 left = 0; left < count; left += 2 * run) {
            uint32 middle = min_c(left + run, count), right = min_c(left + 2 * run, count);
            uint32 i = left, j = middle, k = left;
            while (i < middle && j < right)
                spare[k++] = less_or_equal(order[i], order[j]) ? order[i++] : order[j++];
            while (i < middle)
                spare[k++] = order[i++];
            while (j < right)
                spare[k++] = order[j++];
        }
        order.swap(spare);
    }
    if (failed)
        return;
    // Moves the elements in place, one cycle of the order at a time and
    // kSortChunk bytes of each element at a time: the host holds no whole
    // element, whatever width the module gives.
    uint8 held[kSortChunk];
    std::vector<bool> placed(count, false);
    for (uint32 start = 0; start < count; start++) {
        if (placed[start] || order[start] == start)
            continue;
        for (size_t offset = 0; offset < width; offset += kSortChunk) {
            size_t size = min_c<size_t>(kSortChunk, width - offset);
            uint8* first = elements + size_t(start) * width + offset;
            memcpy(held, first, size);
            uint32 at = start;
            while (order[at] != start) {
                memcpy(elements + size_t(at) * width + offset,
                       elements + size_t(order[at]) * width + offset, size);
                at = order[at];
            }
            memcpy(elements + size_t(at) * width + offset, held, size);
        }
        for (uint32 at = start; !placed[at]; at = order[at])
            placed[at] = true;
    }
}

uint64 exp_pow(uint32 xLow, uint32 xHigh, uint32 yLow, uint32 yHigh)
{
    return result(std::pow(arg(xLow, xHigh), arg(yLow, yHigh)));
}

uint64 exp_log(uint32 low, uint32 high)
{
    return result(std::log(arg(low, high)));
}

uint64 exp_log10(uint32 low, uint32 high)
{
    return result(std::log10(arg(low, high)));
}

uint64 exp_exp(uint32 low, uint32 high)
{
    return result(std::exp(arg(low, high)));
}

uint64 exp_sqrt(uint32 low, uint32 high)
{
    return result(std::sqrt(arg(low, high)));
}

uint64 exp_sin(uint32 low, uint32 high)
{
    return result(std::sin(arg(low, high)));
}

uint64 exp_cos(uint32 low, uint32 high)
{
    return result(std::cos(arg(low, high)));
}

uint64 exp_tan(uint32 low, uint32 high)
{
    return result(std::tan(arg(low, high)));
}

uint64 exp_atan(uint32 low, uint32 high)
{
    return result(std::atan(arg(low, high)));
}

uint64 exp_atan2(uint32 yLow, uint32 yHigh, uint32 xLow, uint32 xHigh)
{
    return result(std::atan2(arg(yLow, yHigh), arg(xLow, xHigh)));
}

uint64 exp_floor(uint32 low, uint32 high)
{
    return result(std::floor(arg(low, high)));
}

uint64 exp_ceil(uint32 low, uint32 high)
{
    return result(std::ceil(arg(low, high)));
}

uint64 exp_fabs(uint32 low, uint32 high)
{
    return result(std::fabs(arg(low, high)));
}

uint64 exp_fmod(uint32 xLow, uint32 xHigh, uint32 yLow, uint32 yHigh)
{
    return result(std::fmod(arg(xLow, xHigh), arg(yLow, yHigh)));
}

uint64 exp_ldexp(uint32 low, uint32 high, int32 exponent)
{
    return result(std::ldexp(arg(low, high), exponent));
}

uint64 exp_frexp(uint32 low, uint32 high, uint32 exponent)
{
    int power = 0;
    double fraction = std::frexp(arg(low, high), &power);
    if (unaligned_uint32* out = module_pointer<unaligned_uint32>(exponent))
        *out = uint32(power);
    return result(fraction);
}

uint64 exp_modf(uint32 low, uint32 high, uint32 whole)
{
    double integral = 0.0;
    double fraction = std::modf(arg(low, high), &integral);
    if (uint8* out = module_pointer<uint8>(whole, 8))
        memcpy(out, &integral, 8);
    return result(fraction);
}

uint64 exp_ftol(uint32 low, uint32 high)
{
    double value = std::trunc(arg(low, high));
    // Out of range (and NaN) gives the processor's "integer indefinite".
    if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
        return uint64(1) << 63;
    return uint64(int64(value));
}

uint64 exp_allmul(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh)
{
    return (uint64(aHigh) << 32 | aLow) * (uint64(bHigh) << 32 | bLow);
}

// Division by zero ends in the processor's divide error on Windows; here the
// result is 0, and the module goes on.
uint64 exp_alldiv(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh)
{
    int64 a = int64(uint64(aHigh) << 32 | aLow), b = int64(uint64(bHigh) << 32 | bLow);
    if (b == 0 || (b == -1 && a == INT64_MIN))
        return b == 0 ? 0 : uint64(a);
    return uint64(a / b);
}

uint64 exp_aulldiv(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh)
{
    uint64 a = uint64(aHigh) << 32 | aLow, b = uint64(bHigh) << 32 | bLow;
    return b == 0 ? 0 : a / b;
}

uint64 exp_allrem(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh)
{
    int64 a = int64(uint64(aHigh) << 32 | aLow), b = int64(uint64(bHigh) << 32 | bLow);
    if (b == 0 || b == -1)
        return 0;
    return uint64(a % b);
}

uint64 exp_aullrem(uint32 aLow, uint32 aHigh, uint32 bLow, uint32 bHigh)
{
    uint64 a = uint64(aHigh) << 32 | aLow, b = uint64(bHigh) << 32 | bLow;
    return b == 0 ? 0 : a % b;
}

uint64 exp_allshl(uint32 low, uint32 high, uint32 count)
{
    uint64 n = shift_count(count);
    return n >= 64 ? 0 : (uint64(high) << 32 | low) << n;
}

uint64 exp_allshr(uint32 low, uint32 high, uint32 count)
{
    uint64 n = shift_count(count);
    int64 value = int64(uint64(high) << 32 | low);
    return uint64(n >= 64 ? (value < 0 ? -1 : 0) : value >> n);
}

uint64 exp_aullshr(uint32 low, uint32 high, uint32 count)
{
    uint64 n = shift_count(count);
    return n >= 64 ? 0 : (uint64(high) << 32 | low) >> n;
}
