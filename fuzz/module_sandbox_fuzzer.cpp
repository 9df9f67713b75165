// Drives a script module (RunScript in tests/modules/hostile.c): the input
// chooses what module code writes where in module memory and which
// replacements it then calls with which arguments, results of earlier calls
// included. The host must survive all of it with its own memory intact; the
// sanitizers watch the host, a canary block outside the window is checked
// after every run.
//
// Left out: replacements that wait, sleep, start threads or run module code
// at an address they are given (module code at a random address may loop
// for ever, which says nothing about the host), and loading and unloading.
// Module code never gets an address below the module heap from the input:
// what it writes there could be the code or stack that runs the script.
#include "platform/kernel/ModuleSpace.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/loader/ImportTable.h"
#include "winemu/loader/pe_add_on.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace
{

constexpr uint32 kScratchSize = 0x20000;
constexpr size_t kCanarySize = 4096;

pe_add_on_t* gModule = nullptr;
uint32 gRunScript = 0;
uint32 gScratch = 0;
uint32 gThreadBlock = 0;
uint32 gProcessBlock = 0;
std::vector<uint32> gRows; // thunk indexes the input may choose
uint8* gCanary = nullptr;

uint32 symbol(const char* name)
{
    void* address = nullptr;
    if (pe_get_image_symbol(gModule, name, &address) != B_OK)
        abort();
    return uint32(reinterpret_cast<uintptr_t>(address));
}

struct reader {
    const uint8_t* at;
    const uint8_t* end;

    bool Has(size_t n) const { return size_t(end - at) >= n; }
    uint8 Byte() { return at < end ? *at++ : 0; }
    uint32 Word()
    {
        uint32 value = 0;
        for (int i = 0; i < 4; i++)
            value |= uint32(Byte()) << (8 * i);
        return value;
    }
};

void put_word(std::vector<uint8>& out, uint32 value)
{
    for (int i = 0; i < 4; i++)
        out.push_back(uint8(value >> (8 * i)));
}

// A literal from the input: small numbers stay; anything that would be an
// address below the module heap moves into it.
uint32 literal(uint32 value)
{
    if (value >= kModuleSpaceStart && value < kModuleHeapStart)
        return kModuleHeapStart + value % (kModuleSpaceEnd - kModuleHeapStart);
    return value;
}

// An argument of the given kind; `kind` 1 refers to an earlier result.
void put_argument(std::vector<uint8>& out, uint8 kind, uint32 value)
{
    uint32 resolved;
    switch (kind % 8) {
    case 1:
        out.push_back(1);
        put_word(out, value);
        return;
    case 2:
        resolved = gScratch + value % kScratchSize;
        break;
    case 3:
        resolved = kModuleSpaceEnd - 1 - value % 256;
        break;
    case 4:
        resolved = gThreadBlock + value % kThreadBlockSize;
        break;
    case 5:
        resolved = gProcessBlock + value % kProcessBlockSize;
        break;
    case 6:
        resolved = value % 256;
        break;
    case 7:
        resolved = uint32(-int32(value % 256));
        break;
    default:
        resolved = literal(value);
        break;
    }
    out.push_back(0);
    put_word(out, resolved);
}

// A write: its target and length such that it stays clear of the module's
// image and stacks.
void put_write(std::vector<uint8>& out, reader& in)
{
    uint8 kind = in.Byte();
    uint32 value = in.Word();
    uint32 length = in.Byte();
    uint32 target;
    switch (kind % 4) {
    case 1:
        target = gThreadBlock + value % kThreadBlockSize;
        length = min_c(length, gThreadBlock + kThreadBlockSize - target);
        break;
    case 2:
        target = gProcessBlock + value % kProcessBlockSize;
        length = min_c(length, gProcessBlock + kProcessBlockSize - target);
        break;
    case 3:
        target = kModuleSpaceEnd - 1 - value % 256; // may run past the end: a fault
        break;
    default:
        target = gScratch + value % kScratchSize;
        break;
    }
    length = min_c<uint32>(length, uint32(in.end - in.at));
    out.push_back('W');
    put_word(out, target);
    out.push_back(uint8(length));
    out.push_back(0);
    for (uint32 i = 0; i < length; i++)
        out.push_back(in.Byte());
}

void put_call(std::vector<uint8>& out, reader& in)
{
    uint32 index = gRows[in.Byte() % gRows.size()];
    const import_entry* entry = import_entry_at(index);
    uint32 count = entry->argumentBytes > 0 ? uint32(entry->argumentBytes) / 4 : in.Byte() % 9;
    count = min_c<uint32>(count, 10);
    out.push_back('C');
    put_word(out, import_thunk_base() + index * kThunkSize);
    out.push_back(uint8(count));
    for (uint32 i = 0; i < count; i++) {
        uint8 kind = in.Byte();
        put_argument(out, kind, in.Word());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char folder[] = "/tmp/reelmoth-sandbox-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        abort();
    setenv("XDG_DATA_HOME", folder, 1);
    // The registry's complaints about forged keys go to stdout; libFuzzer's
    // findings go to stderr.
    if (freopen("/dev/null", "w", stdout) == nullptr)
        abort();
    gModule = pe_load_add_on_from_path(REELMOTH_TEST_MODULES "/hostile.dll", "hostile.dll");
    if (gModule == nullptr)
        abort();
    gRunScript = symbol("RunScript");
    uint32 pong = 0;
    if (call_module(symbol("Ping"), {5}, &pong) != B_OK || pong != 5)
        abort();
    gThreadBlock = module_address(thread_block());
    gProcessBlock = module_address(process_block());
    gScratch = module_address(module_calloc(1, kScratchSize));
    if (gThreadBlock == 0 || gProcessBlock == 0 || gScratch == 0)
        abort();
    const std::set<std::string> skipped = {"Sleep",      "WaitForSingleObject", "CreateThread",
                                           "qsort",      "DialogBoxParamA",     "LoadLibraryA",
                                           "FreeLibrary"};
    for (uint32 i = 0;; i++) {
        const import_entry* entry = import_entry_at(i);
        if (entry == nullptr)
            break;
        if (entry->invoke != nullptr && skipped.count(entry->name) == 0)
            gRows.push_back(i);
    }
    gCanary = static_cast<uint8*>(malloc(kCanarySize));
    memset(gCanary, 0xC3, kCanarySize);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    std::vector<uint8> script;
    // Results in the areas (images, stacks, thread blocks) become the
    // scratch block: see above.
    put_word(script, kModuleSpaceStart);
    put_word(script, kModuleHeapStart);
    put_word(script, 0);
    put_word(script, 0);
    put_word(script, gScratch);
    put_word(script, 0); // the length, below
    reader in = {data, data + size};
    while (in.Has(1)) {
        if (in.Byte() & 1)
            put_call(script, in);
        else
            put_write(script, in);
    }
    uint32 length = uint32(script.size() - 24);
    memcpy(script.data() + 20, &length, 4);

    uint8* copy = static_cast<uint8*>(module_malloc(script.size()));
    if (copy == nullptr)
        return 0;
    memcpy(copy, script.data(), script.size());
    call_module(gRunScript, {module_address(copy)}, nullptr);
    module_free(copy);
    for (size_t i = 0; i < kCanarySize; i++) {
        if (gCanary[i] != 0xC3)
            abort();
    }
    return 0;
}
