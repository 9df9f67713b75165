// Feeds arbitrary bytes to the text replacements as module memory: the
// first part (up to a NUL) is a printf format whose arguments are the words
// after it; the same bytes are converted between UTF-16 and UTF-8 with the
// counts and sizes a module might pass.
#include "platform/kernel/ModuleSpace.h"
#include "winemu/kernel32/TextServices.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

uint32 gOutput; // 8192 bytes of module memory for the results

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    gOutput = module_address(module_malloc(8192));
    if (gOutput == 0)
        abort();
    // Bad string arguments are reported on stderr; libFuzzer keeps its own.
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4 || size > 16384)
        return 0;
    // The module's copy, with a NUL and room for argument words after it.
    uint8* input = static_cast<uint8*>(module_calloc(1, size + 64));
    if (input == nullptr)
        return 0;
    memcpy(input, data + 4, size - 4);
    uint32 address = module_address(input);
    const uint8* nul = static_cast<const uint8*>(memchr(input, 0, size));
    uint32 arguments = address + uint32(nul - input) + 1;
    exp_wvsprintfA(gOutput, address, arguments);

    // Counts from the first four bytes: small, zero, negative or large.
    int32 count = int8(data[0]);
    int32 outSize = data[1] == 0xFF ? 8192 : data[1];
    uint32 text = address + (data[2] & 1); // odd addresses too
    exp_WideCharToMultiByte(0, 0, text, count, gOutput, outSize, data[3] & 1 ? address : 0, 0);
    exp_WideCharToMultiByte(0, 0, text, int32((size - 4) / 2), 0, 0, 0, 0);
    exp_MultiByteToWideChar(0, 0, text, count, gOutput, outSize / 2);
    exp_MultiByteToWideChar(0, 0, text, int32(size - 4), 0, 0);
    module_free(input);
    return 0;
}
