// SSE, SSE2 and SSE3 instructions in the emulator against the host's own SSE
// unit: the same source (tests/modules/sseops.c) runs in sseops.dll and
// natively, over edge values in every rounding mode, with and without
// flush-to-zero and denormals-are-zero, and both must leave the same
// register, MXCSR, EFLAGS and integer result, byte for byte.
#include "BitExactRunner.h"
#include "ModuleFixture.h"

#include "sseops.h"

#include <cstdio>
#include <map>

namespace
{

const char* const kOpNames[] = {
    "addps",    "addss",    "addpd",    "addsd",      "subps",    "subss",      "subpd",
    "subsd",    "mulps",    "mulss",    "mulpd",      "mulsd",    "divps",      "divss",
    "divpd",    "divsd",    "minps",    "minss",      "minpd",    "minsd",      "maxps",
    "maxss",    "maxpd",    "maxsd",    "sqrtps",     "sqrtss",   "sqrtpd",     "sqrtsd",
    "cmpeqps",  "cmpltps",  "cmpleps",  "cmpunordps", "cmpneqps", "cmpnltps",   "cmpnleps",
    "cmpordps", "cmpltss",  "cmpnless", "cmpeqpd",    "cmplepd",  "cmpunordsd", "cmpnltsd",
    "comiss",   "ucomiss",  "comisd",   "ucomisd",    "cvtps2pd", "cvtpd2ps",   "cvtss2sd",
    "cvtsd2ss", "cvtdq2ps", "cvtps2dq", "cvttps2dq",  "cvtdq2pd", "cvtpd2dq",   "cvttpd2dq",
    "cvtsi2ss", "cvtsi2sd", "cvtss2si", "cvttss2si",  "cvtsd2si", "cvttsd2si",  "haddps",
    "haddpd",   "hsubps",   "hsubpd",   "addsubps",   "addsubpd", "chain",
};
static_assert(sizeof(kOpNames) / sizeof(kOpNames[0]) == kSseOpCount);

// Zeros, denormals (smallest, largest), the smallest and largest normals,
// infinities, quiet and signalling NaNs with payloads, values that round
// differently in each mode, results that overflow, underflow into the
// denormals and out of integer range.
const uint32 kFloat[] = {
    0x00000000, 0x80000000, 0x3F800000, 0xBFC00000, 0x3EAAAAAB, 0x00000001, 0x807FFFFF, 0x00800000,
    0x7F7FFFFF, 0x7F800000, 0xFF800000, 0x7FC00123, 0xFF800456, 0x40400000, 0x3DCCCCCD, 0x00400000,
    0x4F000000, 0xCF000001, 0x3F000000, 0x80800000, 0x7FA00000, 0x4B7FFFFF, 0x3FC00000, 0x40200000,
};
const uint64 kDouble[] = {
    0x0000000000000000, 0x8000000000000000, 0x3FF0000000000000, 0xBFF8000000000000,
    0x3FD5555555555555, 0x0000000000000001, 0x800FFFFFFFFFFFFF, 0x0010000000000000,
    0x7FEFFFFFFFFFFFFF, 0x7FF0000000000000, 0xFFF0000000000000, 0x7FF8000000000123,
    0xFFF0000000000456, 0x400921FB54442D18, 0x3FB999999999999A, 0x36A0000000000001,
    0x41E0000000000000, 0xC1E0000000200000, 0x3FE0000000000000, 0x3810000000000000,
    0x7FF4000000000000, 0x47EFFFFFE0000001, 0x3FF8000000000000, 0x4004000000000000,
};
const int32 kInt32[] = {0, -1, 1, 0x7FFFFFFF, INT32_MIN, 16777217, -16777217, 3, 100, -12345};
constexpr size_t kFloats = sizeof(kFloat) / sizeof(kFloat[0]);
static_assert(kFloats == sizeof(kDouble) / sizeof(kDouble[0]));
constexpr size_t kInts = sizeof(kInt32) / sizeof(kInt32[0]);

bool is_double(uint32 op)
{
    switch (op) {
    case kSseAddpd:
    case kSseAddsd:
    case kSseSubpd:
    case kSseSubsd:
    case kSseMulpd:
    case kSseMulsd:
    case kSseDivpd:
    case kSseDivsd:
    case kSseMinpd:
    case kSseMinsd:
    case kSseMaxpd:
    case kSseMaxsd:
    case kSseSqrtpd:
    case kSseSqrtsd:
    case kSseCmpeqpd:
    case kSseCmplepd:
    case kSseCmpunordsd:
    case kSseCmpnltsd:
    case kSseComisd:
    case kSseUcomisd:
    case kSseCvtpd2ps:
    case kSseCvtsd2ss:
    case kSseCvtpd2dq:
    case kSseCvttpd2dq:
    case kSseCvtsd2si:
    case kSseCvttsd2si:
    case kSseHaddpd:
    case kSseHsubpd:
    case kSseAddsubpd:
        return true;
    default:
        return false;
    }
}

bool is_integer_source(uint32 op)
{
    return op == kSseCvtdq2ps || op == kSseCvtdq2pd;
}

// Lane i of `a` takes value (first + i * step) of the table, so every
// value meets every other in some lane.
void fill(unsigned char* to, uint32 op, size_t first, size_t step)
{
    if (is_integer_source(op)) {
        for (size_t i = 0; i < 4; i++)
            memcpy(to + 4 * i, &kInt32[(first + i * step) % kInts], 4);
    } else if (is_double(op)) {
        for (size_t i = 0; i < 2; i++)
            memcpy(to + 8 * i, &kDouble[(first + i * step) % kFloats], 8);
    } else {
        for (size_t i = 0; i < 4; i++)
            memcpy(to + 4 * i, &kFloat[(first + i * step) % kFloats], 4);
    }
}

std::vector<SseCase> all_cases()
{
    std::vector<SseCase> cases;
    // Every rounding mode, with FTZ and DAZ in each combination; every
    // exception masked, flags clear beforehand (and all set in some cases,
    // which no instruction clears).
    for (uint32 rounding : {0x0000, 0x2000, 0x4000, 0x6000})
        for (uint32 zeros : {0x0000, 0x8000, 0x0040, 0x8040})
            for (uint32 op = 0; op < kSseOpCount; op++)
                for (size_t a = 0; a < kFloats; a++)
                    for (size_t b = 0; b < kFloats; b++) {
                        SseCase c{};
                        c.mxcsr = 0x1F80 | rounding | zeros | ((a + b) % 7 == 0 ? 0x3F : 0);
                        c.op = op;
                        fill(c.a, op, a, 5);
                        fill(c.b, op, b, 7);
                        c.n = kInt32[(a + b) % kInts];
                        cases.push_back(c);
                    }
    // The chain with divide-by-zero unmasked, which keeps the emulator's
    // floating point on its own arithmetic while the moves and shuffles
    // around it run on the host: exact values (small integers and halves),
    // so that neither raises a flag.
    const float exact[] = {1.0f, 2.0f, -3.0f, 0.5f, 4.0f, -0.25f, 6.0f, 8.0f};
    for (uint32 rounding : {0x0000, 0x2000, 0x4000, 0x6000})
        for (size_t a = 0; a < 8; a++)
            for (size_t b = 0; b < 8; b++) {
                SseCase c{};
                c.mxcsr = (0x1F80 & ~0x0200) | rounding;
                c.op = kSseChain;
                for (size_t i = 0; i < 4; i++) {
                    memcpy(c.a + 4 * i, &exact[(a + i * 3) % 8], 4);
                    memcpy(c.b + 4 * i, &exact[(b + i * 5) % 8], 4);
                }
                cases.push_back(c);
            }
    return cases;
}

std::string hex(const void* data, size_t count)
{
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    char digits[3];
    for (size_t i = count; i-- > 0;) {
        snprintf(digits, sizeof(digits), "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

std::string describe(const SseCase& c, const SseResult& emulated, const SseResult& native)
{
    auto row = [](const SseResult& r) {
        return "d=" + hex(r.d, 16) + " mxcsr=" + hex(&r.mxcsr, 4) + " flags=" + hex(&r.flags, 4) +
               " n=" + hex(&r.n, 4);
    };
    return std::string(kOpNames[c.op]) + " mxcsr=" + hex(&c.mxcsr, 4) + " a=" + hex(c.a, 16) +
           " b=" + hex(c.b, 16) + " n=" + hex(&c.n, 4) + "\n  emulated " + row(emulated) +
           "\n  native   " + row(native) + "\n";
}

} // namespace

TEST_F(ModuleTest, SseInstructionsMatchTheHostBitForBit)
{
    pe_add_on_t* addOn = Load("sseops.dll");
    ASSERT_NE(addOn, nullptr);
    expect_same_as_host<SseCase, SseResult>(Export(addOn, "RunSseCases"), all_cases(), 8192,
                                            RunSseCases, describe, kOpNames);
}
