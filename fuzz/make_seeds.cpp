// Writes seed inputs for the fuzz targets into the folder given: flattened
// messages of the shapes the program stores.
#include "platform/Entry.h"
#include "platform/File.h"
#include "platform/Message.h"

#include <cstdio>
#include <string>

namespace
{

bool write_message(const std::string& path, const BMessage& message)
{
    BFile file(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
    return file.InitCheck() == B_OK && message.Flatten(&file) == B_OK;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];

    BMessage value;
    value.AddInt32("type", 4);
    value.AddInt32("data", -1);
    BMessage binary;
    binary.AddInt32("type", 3);
    binary.AddData("data", B_ANY_TYPE, "\x01\x02\x03", 3);
    BMessage key;
    key.AddMessage(" Force Post Process Mode", &value);
    key.AddMessage(" blob", &binary);
    BMessage parent;
    parent.AddMessage("Scrunch", &key);
    BMessage empty;
    parent.AddMessage("HKEY_CURRENT_CONFIG", &empty);
    BMessage registry;
    registry.AddMessage("/", &parent);

    BMessage kinds('kind');
    kinds.AddBool("bool", true);
    kinds.AddInt8("int8", -3);
    kinds.AddInt16("int16", 300);
    kinds.AddInt64("int64", 1);
    kinds.AddFloat("float", 1.5f);
    kinds.AddDouble("double", 2.5);
    for (int i = 0; i < 11; i++)
        kinds.AddString("strings", std::to_string(i).c_str());
    entry_ref ref(1, 2, "name");
    ref.set_directory_path("/tmp");
    kinds.AddRef("ref", &ref);
    const float rect[4] = {0, 0, 10, 20};
    kinds.AddData("rect", B_RECT_TYPE, rect, sizeof(rect));

    bool ok = write_message(folder + "/registry", registry) &&
              write_message(folder + "/kinds", kinds) && write_message(folder + "/empty", empty);
    return ok ? 0 : 1;
}
