// Unflattens arbitrary bytes, from memory and from a stream. Whatever is
// accepted must flatten back to exactly the bytes it came from and answer
// every typed query without reading outside its items.
#include "platform/app/Message.h"
#include "platform/storage/Entry.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

void walk(const BMessage& message)
{
    const char* name;
    type_code type;
    int32 count;
    for (int32 i = 0; message.GetInfo(B_ANY_TYPE, i, &name, &type, &count) == B_OK; i++) {
        for (int32 j = 0; j < count && j < 16; j++) {
            const void* data;
            ssize_t size;
            if (message.FindData(name, type, j, &data, &size) != B_OK)
                abort();
            const char* text;
            entry_ref ref;
            BMessage nested;
            int64 value;
            switch (type) {
            case B_STRING_TYPE:
                if (message.FindString(name, j, &text) != B_OK || strlen(text) >= size_t(size))
                    abort();
                break;
            case B_REF_TYPE:
                if (message.FindRef(name, j, &ref) != B_OK)
                    abort();
                break;
            case B_MESSAGE_TYPE:
                if (message.FindMessage(name, j, &nested) != B_OK)
                    abort();
                walk(nested);
                break;
            case B_INT64_TYPE:
                if (message.FindInt64(name, j, &value) != B_OK)
                    abort();
                break;
            default:
                break;
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BMessage message;
    if (message.Unflatten(reinterpret_cast<const char*>(data), ssize_t(size)) == B_OK) {
        std::vector<char> again(static_cast<size_t>(message.FlattenedSize()));
        if (message.Flatten(again.data(), ssize_t(again.size())) != B_OK || again.size() != size ||
            memcmp(again.data(), data, size) != 0)
            abort();
        walk(message);
    }
    // A stream may hold more after the message: what was taken must be a
    // whole message at the start of the bytes.
    BMemoryIO stream(data, size);
    BMessage fromStream;
    if (fromStream.Unflatten(&stream) == B_OK) {
        std::vector<char> again(static_cast<size_t>(fromStream.FlattenedSize()));
        if (fromStream.Flatten(again.data(), ssize_t(again.size())) != B_OK ||
            again.size() > size || memcmp(again.data(), data, again.size()) != 0)
            abort();
    }
    return 0;
}
