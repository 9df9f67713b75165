#include "winemu/kernel32/ProcessServices.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"

#include <cctype>
#include <cstring>

std::atomic<uint32> gLastError{0};

namespace
{

// The texts a module reads through pointers: the command line and the two
// empty environment blocks, in one block of module memory that the module
// may write to, as it may on Windows.
struct process_texts {
    char commandLine[12];      // "WeAreQuarl"
    char environment[4];       // empty list: two zero bytes
    uint16 wideEnvironment[4]; // empty list: zero units
};
static_assert(sizeof(process_texts) == 24);

process_texts* texts()
{
    static process_texts* const sTexts = [] {
        auto* block = static_cast<process_texts*>(module_calloc(1, sizeof(process_texts)));
        if (block != nullptr)
            strcpy(block->commandLine, "WeAreQuarl");
        return block;
    }();
    return sTexts;
}

void put32(uint8* target, uint32 value)
{
    memcpy(target, &value, 4);
}

void put16(uint8* target, uint16 value)
{
    memcpy(target, &value, 2);
}

} // namespace

uint32 active_processor_mask(int32 count)
{
    if (count <= 0)
        return 0;
    return count >= 32 ? 0xFFFFFFFFu : (uint32(1) << count) - 1;
}

// Version 4.10 with the top bit set: the Windows 9x family.
uint32 exp_GetVersion()
{
    return 0xC0000A04;
}

uint32 exp_GetVersionExA(uint32 info)
{
    // The size member at offset 0 is neither checked nor written.
    uint8* target = module_pointer<uint8>(info, kOSVersionInfoSize);
    if (target == nullptr)
        return 0;
    put32(target + 4, 4);           // dwMajorVersion
    put32(target + 8, 10);          // dwMinorVersion
    put32(target + 12, 0x040A07CE); // dwBuildNumber
    put32(target + 16, 1);          // dwPlatformId: VER_PLATFORM_WIN32_WINDOWS
    memcpy(target + 20, "Win98", 6);
    return 1;
}

// A Pentium-class machine with the real processor count.
void exp_GetSystemInfo(uint32 info)
{
    uint8* target = module_pointer<uint8>(info, kSystemInfoSize);
    if (target == nullptr)
        return;
    system_info system = {};
    get_system_info(&system);
    int32 count = system.cpu_count > 0 ? system.cpu_count : 1;
    memset(target, 0, kSystemInfoSize);
    put16(target + 0, 0);           // PROCESSOR_ARCHITECTURE_INTEL
    put32(target + 4, B_PAGE_SIZE); // dwPageSize
    put32(target + 8, 0x40000000);  // lpMinimumApplicationAddress
    put32(target + 12, 0x7FFFFFFF); // lpMaximumApplicationAddress
    put32(target + 16, active_processor_mask(count));
    put32(target + 20, uint32(count));
    put32(target + 24, 586); // PROCESSOR_INTEL_PENTIUM
    put32(target + 28, B_PAGE_SIZE);
    put16(target + 32, 5); // wProcessorLevel
    put16(target + 34, uint16(system.cpu_revision));
}

uint32 exp_GetCommandLineA()
{
    process_texts* block = texts();
    return block != nullptr ? module_address(block->commandLine) : 0;
}

uint32 exp_GetEnvironmentStrings()
{
    process_texts* block = texts();
    return block != nullptr ? module_address(block->environment) : 0;
}

uint32 exp_GetEnvironmentStringsW()
{
    process_texts* block = texts();
    return block != nullptr ? module_address(block->wideEnvironment) : 0;
}

uint32 exp_FreeEnvironmentStringsW(uint32)
{
    return 1;
}

void exp_GetStartupInfoA(uint32 info)
{
    if (uint8* target = module_pointer<uint8>(info, kStartupInfoSize))
        memset(target, 0, kStartupInfoSize);
}

uint32 exp_GetStdHandle(uint32 which)
{
    switch (which) {
    case uint32(-10):
        return kStdInputHandle;
    case uint32(-11):
        return kStdOutputHandle;
    case uint32(-12):
        return kStdErrorHandle;
    default:
        return kInvalidHandleValue;
    }
}

// FILE_TYPE_CHAR for every handle.
uint32 exp_GetFileType(uint32)
{
    return 2;
}

uint32 exp_SetHandleCount(uint32 count)
{
    return count;
}

// The filter is never called: a module fault ends its call instead.
uint32 exp_SetUnhandledExceptionFilter(uint32)
{
    return 0;
}

// UTF-16: the system's text is Unicode throughout.
uint32 exp_GetACP()
{
    return 1200;
}

uint32 exp_GetCPInfo(uint32, uint32)
{
    return 0;
}

int32 exp_toupper(int32 c)
{
    // The C library's table covers EOF, signed and unsigned chars.
    if (c < -128 || c > 255)
        return c;
    return toupper(c);
}

// The 64-bit product divided with truncation; -1 for a zero divisor or a
// quotient that does not fit.
int32 exp_MulDiv(int32 a, int32 b, int32 c)
{
    if (c == 0)
        return -1;
    int64 quotient = int64(a) * int64(b) / int64(c);
    if (quotient < INT32_MIN || quotient > INT32_MAX)
        return -1;
    return int32(quotient);
}

uint32 exp_GetLastError()
{
    return gLastError.load(std::memory_order_relaxed);
}

void exp_SetLastError(uint32 error)
{
    gLastError.store(error, std::memory_order_relaxed);
    // Where Windows keeps it, for code that reads the thread block.
    if (uint8* block = thread_block())
        memcpy(block + kThreadBlockLastError, &error, 4);
}
