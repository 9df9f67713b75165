// SettingsFile::Load on arbitrary file contents and attributes. The input is
// the file's data length (2 bytes, little-endian), the data, then attribute
// records: name length (1 byte), name, type code (4 bytes, little-endian),
// value length (1 byte), value.
#include "settings/SettingsFile.h"

#include "platform/storage/File.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace
{

std::string gFolder;

void remove_folder()
{
    unlink((gFolder + "/registry").c_str());
    rmdir(gFolder.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    char pattern[] = "/tmp/reelmoth-settings-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        abort();
    gFolder = pattern;
    atexit(remove_folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    size_t length = std::min(size - 2, size_t(data[0] | (data[1] << 8)));
    const uint8_t* attributes = data + 2 + length;
    size_t left = size - 2 - length;

    SettingsFile settings("registry", gFolder.c_str() + 1, directory_which(-1));
    unlink(settings.Path());
    {
        BFile file(settings.Path(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
        if (file.InitCheck() != B_OK || file.Write(data + 2, length) != ssize_t(length))
            abort();
        while (left > 0) {
            size_t nameLength = attributes[0];
            if (left < 1 + nameLength + 5)
                break;
            std::string name(reinterpret_cast<const char*>(attributes + 1), nameLength);
            const uint8_t* record = attributes + 1 + nameLength;
            type_code type = uint32(record[0]) | uint32(record[1]) << 8 | uint32(record[2]) << 16 |
                             uint32(record[3]) << 24;
            size_t valueLength = std::min(size_t(record[4]), left - (1 + nameLength + 5));
            name = name.substr(0, name.find('\0'));
            if (!name.empty())
                file.WriteAttr(name.c_str(), type, 0, record + 5, valueLength);
            size_t used = 1 + nameLength + 5 + valueLength;
            attributes += used;
            left -= used;
        }
    }
    if (settings.Load() == B_OK) {
        // Whatever loaded is a well-formed message.
        BMessage copy;
        std::string flat(static_cast<size_t>(settings.FlattenedSize()), '\0');
        if (settings.Flatten(flat.data(), ssize_t(flat.size())) != B_OK ||
            copy.Unflatten(flat.data(), ssize_t(flat.size())) != B_OK)
            abort();
    }
    return 0;
}
