// Feeds arbitrary bytes to the PE loader as a module file in the decoders
// folder, then runs every lookup on what loaded. The DLL bit is cleared
// first, so no module code runs: random code could loop for ever, and the
// execution core has its own tests.
#include "winemu/loader/pe_add_on.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::string gModulePath;

void clear_dll_bit(uint8_t* bytes, size_t size)
{
    if (size < 0x40)
        return;
    uint32_t offset = uint32_t(bytes[0x3C]) | uint32_t(bytes[0x3D]) << 8 |
                      uint32_t(bytes[0x3E]) << 16 | uint32_t(bytes[0x3F]) << 24;
    // Characteristics: 22 bytes after the signature's start.
    if (offset < size && size - offset > 23)
        bytes[offset + 23] &= uint8_t(~(IMAGE_FILE_DLL >> 8));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char folder[] = "/tmp/reelmoth-pe-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        abort();
    setenv("XDG_DATA_HOME", folder, 1);
    std::string decoders = std::string(folder) + "/reelmoth/media/decoders";
    mkdir((std::string(folder) + "/reelmoth").c_str(), 0700);
    mkdir((std::string(folder) + "/reelmoth/media").c_str(), 0700);
    mkdir(decoders.c_str(), 0700);
    gModulePath = decoders + "/fuzz.dll";
    // The resource dump writes to stdout.
    if (freopen("/dev/null", "w", stdout) == nullptr)
        abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes(reinterpret_cast<const char*>(data), size);
    clear_dll_bit(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    FILE* file = fopen(gModulePath.c_str(), "wb");
    if (file == nullptr)
        abort();
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);

    pe_add_on_t* addOn = pe_load_add_on("fuzz.dll");
    if (addOn == nullptr)
        return 0;
    void* address = nullptr;
    pe_get_image_symbol(addOn, "DriverProc", &address);
    for (unsigned long ordinal = 0; ordinal < 4; ordinal++)
        pe_get_image_symbol_by_ordinal(addOn, ordinal, &address);
    for (unsigned long type : {3ul, 5ul, 6ul, 10ul, 14ul}) {
        if (image_resource_data_entry_t* entry = pe_find_resource(addOn, type, 1ul, 0)) {
            pe_load_resource(addOn, entry);
            pe_get_resource_size(addOn, entry);
        }
        pe_find_resource(addOn, type, "MYDIALOG", 0);
    }
    for (unsigned short id : {0, 1, 17, 100})
        pe_load_string(addOn, id);
    pe_dump_resources(addOn);
    pe_unload_add_on(addOn);
    return 0;
}
