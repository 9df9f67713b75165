// Writes seed inputs for the fuzz targets: flattened messages of the shapes
// the program stores into the first folder, and the same as settings files
// with attributes (in the settings fuzzer's input form) into the second.
#include "platform/app/Message.h"
#include "platform/storage/Entry.h"
#include "platform/storage/File.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace
{

bool write_message(const std::string& path, const BMessage& message)
{
    BFile file(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
    return file.InitCheck() == B_OK && message.Flatten(&file) == B_OK;
}

struct Attribute {
    const char* name;
    type_code type;
    std::string value;
};

// The data length, the data, then each attribute as name length, name,
// type code, value length and value.
bool write_settings(const std::string& path, const BMessage& message,
                    std::initializer_list<Attribute> attributes)
{
    BMallocIO data;
    if (message.Flatten(&data) != B_OK || data.BufferLength() > 0xffff)
        return false;
    std::string input;
    input += char(data.BufferLength() & 0xff);
    input += char(data.BufferLength() >> 8);
    input.append(static_cast<const char*>(data.Buffer()), data.BufferLength());
    for (const Attribute& attribute : attributes) {
        input += char(strlen(attribute.name));
        input += attribute.name;
        for (int i = 0; i < 4; i++)
            input += char(attribute.type >> (8 * i));
        input += char(attribute.value.size());
        input += attribute.value;
    }
    BFile file(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
    return file.InitCheck() == B_OK &&
           file.Write(input.data(), input.size()) == ssize_t(input.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s MESSAGE-FOLDER SETTINGS-FOLDER\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    std::string settings = argv[2];

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
              write_message(folder + "/kinds", kinds) && write_message(folder + "/empty", empty) &&
              write_settings(settings + "/registry", registry,
                             {{"/:Scrunch: Force Post Process Mode:type", B_INT32_TYPE,
                               std::string("\x05\0\0\0", 4)},
                              {"/:Scrunch: blob:type", B_INT32_TYPE, std::string(4, '\0')}}) &&
              write_settings(settings + "/kinds", kinds,
                             {{"strings::03", B_STRING_TYPE, std::string("x\0", 2)},
                              {"int16", B_INT16_TYPE, std::string("\1\2", 2)},
                              {"rect", B_RECT_TYPE, std::string(16, '\1')}});
    return ok ? 0 : 1;
}
