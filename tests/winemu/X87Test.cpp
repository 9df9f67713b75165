// x87 instructions in the emulator against the host's own FPU: the same
// source (tests/modules/x87ops.c) runs in x87ops.dll and natively, over edge
// values in every rounding mode and precision, and both must leave the same
// registers, status word, EFLAGS and memory, byte for byte.
#include "BitExactRunner.h"
#include "ModuleFixture.h"

#include "x87ops.h"

#include <cstdio>
#include <map>
#include <set>

namespace
{

const char* const kOpNames[] = {
    "FaddSt0St1", "FmulSt0St1", "FsubSt0St1", "FsubrSt0St1", "FdivSt0St1", "FdivrSt0St1",
    "FaddSt1St0", "FmulSt1St0", "FsubSt1St0", "FsubrSt1St0", "FdivSt1St0", "FdivrSt1St0",
    "Faddp",      "Fsubp",      "Fdivrp",     "FaddM32",     "FaddM64",    "FiaddM32",
    "FiaddM16",   "FmulM32",    "FmulM64",    "FimulM32",    "FsubM32",    "FsubM64",
    "FisubM16",   "FsubrM32",   "FsubrM64",   "FisubrM32",   "FdivM32",    "FdivM64",
    "FidivM32",   "FdivrM32",   "FdivrM64",   "FidivrM16",   "FcomSt1",    "FcompSt1",
    "Fcompp",     "FucomSt1",   "FucompSt1",  "Fucompp",     "FcomM32",    "FcompM64",
    "FicomM32",   "FicompM16",  "Ftst",       "Fxam",        "FcomiSt1",   "FucomiSt1",
    "FcomipSt1",  "FucomipSt1", "Fsqrt",      "Frndint",     "Fchs",       "Fabs",
    "F2xm1",      "Fsin",       "Fcos",       "Fptan",       "Fsincos",    "Fxtract",
    "Fscale",     "Fprem",      "Fprem1",     "Fyl2x",       "Fyl2xp1",    "Fpatan",
    "Fld1",       "Fldl2t",     "Fldl2e",     "Fldpi",       "Fldlg2",     "Fldln2",
    "Fldz",       "FldM32",     "FldM64",     "FldM80",      "FildM32",    "FildM16",
    "FildM64",    "FstM32",     "FstpM32",    "FstM64",      "FstpM80",    "FistM16",
    "FistM32",    "FistpM64",   "FisttpM16",  "FisttpM32",   "FisttpM64",  "FldSt1",
    "FstSt1",     "FstpSt1",    "FxchSt1",    "FcmovbSt1",   "FcmovnbSt1",
};
static_assert(sizeof(kOpNames) / sizeof(kOpNames[0]) == kX87OpCount);

struct Extended {
    uint16 exponent; // sign and exponent
    uint64 mantissa;
};

// Zeros, denormals, the smallest and largest normals, infinities, quiet and
// signalling NaNs, an unnormal, and values that round differently in each
// rounding mode and precision.
const Extended kExtended[] = {
    {0x0000, 0},
    {0x8000, 0},
    {0x3FFF, 0x8000000000000000},
    {0xBFFF, 0xC000000000000000},
    {0x3FFD, 0xAAAAAAAAAAAAAAAB},
    {0x4000, 0xC90FDAA22168C235},
    {0x4000, 0xA000000000000000},
    {0xC000, 0xE000000000000000},
    {0x0000, 0x0000000000000001},
    {0x8000, 0x7FFFFFFFFFFFFFFF},
    {0x0001, 0x8000000000000000},
    {0x7FFE, 0xFFFFFFFFFFFFFFFF},
    {0x7FFF, 0x8000000000000000},
    {0xFFFF, 0x8000000000000000},
    {0x7FFF, 0xC000000000000123},
    {0xFFFF, 0x8000000000000456},
    {0x4045, 0x8000000000000801},
    {0x0003, 0x8000000000000003},
    {0x3FFF, 0x4000000000000000},
    {0x4021, 0x9502F90000000001},
    {0xC00F, 0xF1206F9DB22D0E56},
};
constexpr size_t kValues = sizeof(kExtended) / sizeof(kExtended[0]);

const uint32 kFloat[kValues] = {
    0x00000000, 0x80000000, 0x3F800000, 0xBFC00000, 0x3EAAAAAB, 0x00000001, 0x807FFFFF,
    0x00800000, 0x7F7FFFFF, 0x7F800000, 0xFF800000, 0x7FC00123, 0xFF800456, 0x40400000,
    0x3DCCCCCD, 0x00000003, 0x501502F9, 0x4B800001, 0x3F800001, 0x80800000, 0x7FA00000,
};
const uint64 kDouble[kValues] = {
    0x0000000000000000, 0x8000000000000000, 0x3FF0000000000000, 0xBFF8000000000000,
    0x3FD5555555555555, 0x0000000000000001, 0x800FFFFFFFFFFFFF, 0x0010000000000000,
    0x7FEFFFFFFFFFFFFF, 0x7FF0000000000000, 0xFFF0000000000000, 0x7FF8000000000123,
    0xFFF0000000000456, 0x400921FB54442D18, 0x3FB999999999999A, 0x0000000000000003,
    0x4202A05F20000000, 0x4340000000000001, 0x3FF0000000000001, 0x8010000000000000,
    0x7FF4000000000000,
};
const int32 kInt32[kValues] = {0,     -1, 1,        2,   3,          0x7FFFFFFF, INT32_MIN,
                               12345, -7, 16777217, 100, 65536,      -32768,     0x40000001,
                               5,     10, -10,      7,   0x7FFFFFFE, 999999,     -1000000};
const int16 kInt16[kValues] = {0,  -1, 1,  2,   3,     32767, -32768, 12345, -7,   1000, 100,
                               -3, 4,  16, -16, 30000, 10,    -10,    7,     8191, -999};
const int64 kInt64[kValues] = {0,
                               -1,
                               1,
                               INT64_MAX,
                               INT64_MIN,
                               0x123456789ABCDEF1,
                               -0x123456789ABCDEF1,
                               (int64(1) << 53) + 1,
                               (int64(1) << 24) + 1,
                               INT64_MAX - 1024,
                               3,
                               -3,
                               1000000007,
                               0x7FFFFFFFFFFFFC01,
                               0x0000000100000001,
                               -0x0000000100000001,
                               999,
                               42,
                               -42,
                               0x00FFFFFFFFFFFFFF,
                               0x4000000000000001};

void put(unsigned char* to, uint64 value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        to[i] = uint8(value >> (8 * i));
}

X87Case make_case(uint16 control, uint16 status, uint16 op, size_t a, size_t b, uint16 depth = 2)
{
    X87Case c{};
    c.control = control;
    c.status = status;
    c.op = op;
    c.depth = depth;
    put(c.a, kExtended[a].mantissa, 8);
    put(c.a + 8, kExtended[a].exponent, 2);
    put(c.b, kExtended[b].mantissa, 8);
    put(c.b + 8, kExtended[b].exponent, 2);
    put(c.memory, kFloat[b], 4);
    put(c.memory + 4, kDouble[b], 8);
    put(c.memory + 12, uint32(kInt32[b]), 4);
    put(c.memory + 16, uint16(kInt16[b]), 2);
    put(c.memory + 18, uint64(kInt64[b]), 8);
    return c;
}

std::vector<X87Case> all_cases()
{
    std::vector<X87Case> cases;
    // Precision 24, 53 and 64 bits, each rounding mode; every exception masked.
    for (uint16 precision : {0x000, 0x200, 0x300})
        for (uint16 rounding : {0x000, 0x400, 0x800, 0xC00})
            for (uint16 op = 0; op < kX87OpCount; op++)
                for (size_t a = 0; a < kValues; a++)
                    for (size_t b = 0; b < kValues; b++) {
                        // Condition codes set beforehand in every other case.
                        uint16 status = (a + b + op) % 2 ? 0x4500 : 0;
                        cases.push_back(make_case(0x007F | precision | rounding, status, op, a, b));
                    }
    return cases;
}

// Every instruction on an empty stack, with only ST0 in use, and with seven
// and eight registers in use: reading an empty register (stack underflow)
// and loading onto a full one (overflow) set IE and SF, C1 as the hardware
// sets it, and leave the default NaN where a value was due.
std::vector<X87Case> stack_fault_cases()
{
    std::vector<X87Case> cases;
    for (uint16 control : {0x037F, 0x0C7F, 0x047F})
        for (uint16 depth : {0, 1, 7, 8})
            for (uint16 op = 0; op < kX87OpCount; op++)
                for (size_t a : {0, 2, 11, 14})
                    for (size_t b : {1, 3, 12}) {
                        uint16 status = (a + b + op) % 2 ? 0x4700 : 0;
                        cases.push_back(make_case(control, status, op, a, b, depth));
                    }
    return cases;
}

std::string hex(const unsigned char* bytes, size_t count)
{
    std::string text;
    char digits[3];
    for (size_t i = count; i-- > 0;) {
        snprintf(digits, sizeof(digits), "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

std::string describe(const X87Case& c, const X87Result& emulated, const X87Result& native)
{
    std::string text = std::string(kOpNames[c.op]) +
                       " cw=" + hex(reinterpret_cast<const unsigned char*>(&c.control), 2) +
                       " depth=" + std::to_string(c.depth) + " a=" + hex(c.a, 10) +
                       " b=" + hex(c.b, 10) + " mem=" + hex(c.memory, 26) + "\n";
    auto row = [](const X87Result& r) {
        std::string line =
            "sw=" + hex(reinterpret_cast<const unsigned char*>(&r.status), 2) +
            " flags=" + hex(reinterpret_cast<const unsigned char*>(&r.flags), 2) +
            " saved sw=" + hex(reinterpret_cast<const unsigned char*>(&r.savedStatus), 2) +
            " tags=" + hex(reinterpret_cast<const unsigned char*>(&r.tags), 2) +
            " st0=" + hex(r.st[0], 10) + " st1=" + hex(r.st[1], 10) + " st2=" + hex(r.st[2], 10) +
            " st7=" + hex(r.st[7], 10) + " mem=" + hex(r.memory, 36);
        return line;
    };
    return text + "  emulated " + row(emulated) + "\n  native   " + row(native) + "\n";
}

// Runs the cases in the module and natively; mismatches are reported.
void expect_same_as_host(uint32 run, const std::vector<X87Case>& cases)
{
    expect_same_as_host<X87Case, X87Result>(run, cases, 4096, RunX87Cases, describe, kOpNames);
}

} // namespace

TEST_F(ModuleTest, X87InstructionsMatchTheHostFpuBitForBit)
{
    pe_add_on_t* addOn = Load("x87ops.dll");
    ASSERT_NE(addOn, nullptr);
    expect_same_as_host(Export(addOn, "RunX87Cases"), all_cases());
}

TEST_F(ModuleTest, X87StackFaultsMatchTheHostFpu)
{
    pe_add_on_t* addOn = Load("x87ops.dll");
    ASSERT_NE(addOn, nullptr);
    expect_same_as_host(Export(addOn, "RunX87Cases"), stack_fault_cases());
}

// With an exception unmasked the instructions keep to softfloat, those
// translated inline through a dispatch of their own. Over ordinary operands
// (nothing to raise) each must leave the values the host FPU leaves:
// registers, tags, top, EFLAGS, memory, and C0, C2 and C3 where they are
// defined (compares, FTST, FXAM); exception flags and C1 are softfloat's.
// Left out: the instructions softfloat computes differently
// (transcendentals, FSCALE, FXTRACT, the partial remainders and the
// irrational constants).
TEST_F(ModuleTest, X87InstructionsOnSoftfloatGiveTheHostFpusValues)
{
    pe_add_on_t* addOn = Load("x87ops.dll");
    ASSERT_NE(addOn, nullptr);
    uint32 run = Export(addOn, "RunX87Cases");
    const std::set<std::string> differing = {
        "F2xm1", "Fsin",    "Fcos",   "Fptan",  "Fsincos", "Fxtract", "Fscale", "Fprem", "Fprem1",
        "Fyl2x", "Fyl2xp1", "Fpatan", "Fldl2t", "Fldl2e",  "Fldpi",   "Fldlg2", "Fldln2"};
    std::vector<X87Case> cases;
    for (uint16 op = 0; op < kX87OpCount; op++) {
        if (differing.count(kOpNames[op]))
            continue;
        for (size_t a : {2, 3, 4, 5, 6, 7})
            for (size_t b : {2, 3, 4}) {
                cases.push_back(make_case(0x037F, 0, op, a, b));
                cases.push_back(make_case(0x037B, 0, op, a, b)); // divide by zero unmasked
            }
    }
    auto* moduleCases = static_cast<X87Case*>(module_malloc(cases.size() * sizeof(X87Case)));
    auto* results = static_cast<X87Result*>(module_malloc(cases.size() * sizeof(X87Result)));
    ASSERT_NE(moduleCases, nullptr);
    ASSERT_NE(results, nullptr);
    memcpy(moduleCases, cases.data(), cases.size() * sizeof(X87Case));
    uint32 done = 0;
    ASSERT_EQ(call_module(
                  run, {module_address(moduleCases), uint32(cases.size()), module_address(results)},
                  &done),
              B_OK);
    ASSERT_EQ(done, cases.size());
    std::string mismatches;
    for (size_t i = 0; i < cases.size(); i += 2) {
        X87Result host = results[i], soft = results[i + 1];
        std::string name = kOpNames[cases[i].op];
        bool compare = name.find("com") != std::string::npos || name == "Ftst" || name == "Fxam";
        for (X87Result* r : {&host, &soft}) {
            r->status &= compare ? 0x7D00 : 0x3800;
            r->savedStatus &= compare ? 0x7D00 : 0x3800;
            r->savedControl = 0;
        }
        if (memcmp(&host, &soft, sizeof(X87Result)) != 0 && mismatches.size() < 20000)
            mismatches += describe(cases[i + 1], soft, host);
    }
    module_free(moduleCases);
    module_free(results);
    EXPECT_EQ(mismatches, "");
}

// FNSTENV reports the address of the last x87 instruction, also when
// integer instructions or a jump came after it.
TEST_F(ModuleTest, X87InstructionPointerIsTheLastX87Instructions)
{
    pe_add_on_t* addOn = Load("x87ops.dll");
    ASSERT_NE(addOn, nullptr);
    auto* out = static_cast<uint32*>(module_malloc(4 * sizeof(uint32)));
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(call_module(Export(addOn, "X87InstructionPointers"), {module_address(out)}), B_OK);
    EXPECT_EQ(out[0], out[1]);
    EXPECT_EQ(out[2], out[3]);
    module_free(out);
}

// Code that unmasks an exception and goes on computing: the instructions
// after the FLDCW or FLDENV, in the same run of code, keep the values.
TEST_F(ModuleTest, X87InstructionsRightAfterUnmaskingAnExceptionKeepTheirValues)
{
    pe_add_on_t* addOn = Load("x87ops.dll");
    ASSERT_NE(addOn, nullptr);
    auto* out = static_cast<float*>(module_malloc(2 * sizeof(float)));
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(call_module(Export(addOn, "X87AfterUnmasking"), {module_address(out)}), B_OK);
    EXPECT_EQ(out[0], 2.0f);
    EXPECT_EQ(out[1], 2.0f);
    module_free(out);
}
