#include "platform/app/MessageFormat.h"

#include "platform/storage/Entry.h"
#include "platform/support/ByteOrder.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>

// Item bytes are stored as they lie in memory; the format is little-endian
// because every host we build for is.
static_assert(std::endian::native == std::endian::little, "the flattened form is little-endian");

namespace
{

const uint8 kMagic[4] = {'R', 'M', 'G', '1'};
constexpr size_t kFieldHeaderSize = 13;
constexpr uint8 kFixedSizeFlag = 1;
constexpr size_t kRefHeaderSize = 16;
// Unflattening reads a stream in steps of this size, so that a header that
// announces a huge body cannot make it allocate more than what arrives.
constexpr size_t kReadStep = 64 * 1024;

// The exact item size of the types whose typed accessors read a fixed
// number of bytes; 0 for the other types.
size_t required_size(type_code type)
{
    switch (type) {
    case B_BOOL_TYPE:
    case B_INT8_TYPE:
    case B_UINT8_TYPE:
    case B_CHAR_TYPE:
        return 1;
    case B_INT16_TYPE:
    case B_UINT16_TYPE:
        return 2;
    case B_INT32_TYPE:
    case B_UINT32_TYPE:
    case B_FLOAT_TYPE:
        return 4;
    case B_INT64_TYPE:
    case B_UINT64_TYPE:
    case B_DOUBLE_TYPE:
        return 8;
    case B_POINTER_TYPE:
        return sizeof(void*);
    default:
        return 0;
    }
}

// A bounds-checked walk over a byte block.
class Reader
{
public:
    Reader(const uint8* data, size_t size) : fData(data), fLeft(size) {}

    bool Read32(uint32* value)
    {
        if (fLeft < 4)
            return false;
        *value = read_le32(fData);
        Skip(4);
        return true;
    }

    bool Take(size_t size, const uint8** bytes)
    {
        if (fLeft < size)
            return false;
        *bytes = fData;
        Skip(size);
        return true;
    }

    size_t Left() const { return fLeft; }

private:
    void Skip(size_t size)
    {
        fData += size;
        fLeft -= size;
    }

    const uint8* fData;
    size_t fLeft;
};

// Checks the items of one field; fixed-size fields whose type fixes the
// size are checked once, since all their items are alike in that respect.
status_t check_items(type_code type, const uint8* bytes, uint32 count, uint32 itemSize, int depth)
{
    size_t required = required_size(type);
    if (required != 0 || itemSize == 0)
        return MessageFormat::CheckItem(type, bytes, itemSize, depth);
    for (uint32 i = 0; i < count; i++) {
        status_t status =
            MessageFormat::CheckItem(type, bytes + size_t(i) * itemSize, itemSize, depth);
        if (status != B_OK)
            return status;
    }
    return B_OK;
}

} // namespace

status_t MessageFormat::CheckItem(type_code type, const void* data, size_t size, int depth)
{
    const uint8* bytes = static_cast<const uint8*>(data);
    size_t required = required_size(type);
    if (required != 0)
        return size == required ? B_OK : B_BAD_VALUE;
    switch (type) {
    case B_STRING_TYPE:
    case B_MIME_TYPE:
        return size > 0 && bytes[size - 1] == '\0' ? B_OK : B_BAD_VALUE;
    case B_REF_TYPE: {
        entry_ref ref;
        return ReadRef(bytes, size, &ref) == B_OK ? B_OK : B_BAD_VALUE;
    }
    case B_MESSAGE_TYPE:
        if (depth >= kMaxDepth)
            return B_BAD_VALUE;
        return Parse(bytes, size, depth + 1, true, nullptr) == B_OK ? B_OK : B_BAD_VALUE;
    default:
        return B_OK;
    }
}

// ---- writing ------------------------------------------------------------------

ssize_t MessageFormat::FlattenedSize(const BMessage& message)
{
    uint64 size = kHeaderSize;
    for (const BMessage::Field& field : message.fFields) {
        size += kFieldHeaderSize + field.name.size() + field.bytes.size();
        size += field.fixedSize ? 4 : 4 * uint64(field.count);
    }
    if (size - kHeaderSize > UINT32_MAX || message.fFields.size() > UINT32_MAX ||
        size > uint64(SSIZE_MAX))
        return B_NO_MEMORY;
    return ssize_t(size);
}

void MessageFormat::Write(const BMessage& message, uint8* out)
{
    ssize_t total = FlattenedSize(message);
    memcpy(out, kMagic, 4);
    write_le32(out + 4, message.what);
    write_le32(out + 8, uint32(size_t(total) - kHeaderSize));
    write_le32(out + 12, uint32(message.fFields.size()));
    out += kHeaderSize;
    for (const BMessage::Field& field : message.fFields) {
        write_le32(out, field.type);
        write_le32(out + 4, field.count);
        write_le32(out + 8, uint32(field.name.size()));
        out[12] = field.fixedSize ? kFixedSizeFlag : 0;
        out += kFieldHeaderSize;
        memcpy(out, field.name.data(), field.name.size());
        out += field.name.size();
        if (field.fixedSize) {
            write_le32(out, field.itemSize);
            out += 4;
            if (!field.bytes.empty())
                memcpy(out, field.bytes.data(), field.bytes.size());
            out += field.bytes.size();
            continue;
        }
        for (uint32 i = 0; i < field.count; i++) {
            size_t size = field.ItemSize(i);
            write_le32(out, uint32(size));
            out += 4;
            if (size > 0)
                memcpy(out, field.bytes.data() + field.ItemStart(i), size);
            out += size;
        }
    }
}

// ---- reading ------------------------------------------------------------------

ssize_t MessageFormat::BodySize(const uint8* header)
{
    if (memcmp(header, kMagic, 4) != 0)
        return B_BAD_DATA;
    return ssize_t(read_le32(header + 8));
}

status_t MessageFormat::Parse(const uint8* data, size_t size, int depth, bool checkNested,
                              BMessage* into)
{
    if (size < kHeaderSize || BodySize(data) < 0 || size_t(BodySize(data)) != size - kHeaderSize)
        return B_BAD_DATA;
    uint32 fieldCount = read_le32(data + 12);
    // Every field takes at least its header, so the count is bounded by the input.
    if (fieldCount > (size - kHeaderSize) / kFieldHeaderSize)
        return B_BAD_DATA;

    BMessage parsed(read_le32(data + 4));
    std::vector<BMessage::Field>& fields = parsed.fFields;
    fields.reserve(into != nullptr ? fieldCount : 0);
    std::unordered_map<std::string, size_t> seen;

    Reader reader(data + kHeaderSize, size - kHeaderSize);
    for (uint32 f = 0; f < fieldCount; f++) {
        uint32 type, count, nameLength;
        const uint8* header;
        const uint8* name;
        if (!reader.Read32(&type) || !reader.Read32(&count) || !reader.Read32(&nameLength) ||
            !reader.Take(1, &header) || !reader.Take(nameLength, &name))
            return B_BAD_DATA;
        uint8 flags = header[0];
        if ((flags & ~kFixedSizeFlag) != 0 || count == 0 || count > uint32(INT32_MAX) ||
            memchr(name, '\0', nameLength) != nullptr)
            return B_BAD_DATA;
        std::string fieldName(reinterpret_cast<const char*>(name), nameLength);
        if (!seen.emplace(fieldName, f).second)
            return B_BAD_DATA;

        BMessage::Field field;
        field.name = std::move(fieldName);
        field.type = type;
        field.fixedSize = (flags & kFixedSizeFlag) != 0;
        field.itemSize = 0;
        field.count = count;
        bool check = checkNested || type != B_MESSAGE_TYPE;

        if (field.fixedSize) {
            const uint8* bytes;
            if (!reader.Read32(&field.itemSize))
                return B_BAD_DATA;
            if (field.itemSize != 0 && count > reader.Left() / field.itemSize)
                return B_BAD_DATA;
            size_t total = size_t(count) * field.itemSize;
            if (!reader.Take(total, &bytes))
                return B_BAD_DATA;
            if (check && check_items(type, bytes, count, field.itemSize, depth) != B_OK)
                return B_BAD_DATA;
            if (into != nullptr)
                field.bytes.assign(bytes, bytes + total);
        } else {
            // Each item carries a 4-byte size, which bounds the count.
            if (count > reader.Left() / 4)
                return B_BAD_DATA;
            if (into != nullptr)
                field.ends.reserve(count);
            for (uint32 i = 0; i < count; i++) {
                uint32 itemSize;
                const uint8* bytes;
                if (!reader.Read32(&itemSize) || !reader.Take(itemSize, &bytes))
                    return B_BAD_DATA;
                if (check && CheckItem(type, bytes, itemSize, depth) != B_OK)
                    return B_BAD_DATA;
                if (into != nullptr) {
                    field.bytes.insert(field.bytes.end(), bytes, bytes + itemSize);
                    field.ends.push_back(field.bytes.size());
                }
            }
        }
        if (into != nullptr)
            fields.push_back(std::move(field));
    }
    if (reader.Left() != 0)
        return B_BAD_DATA;
    if (into != nullptr) {
        parsed.fIndex = std::move(seen);
        *into = std::move(parsed);
    }
    return B_OK;
}

// ---- refs ---------------------------------------------------------------------

// An entry_ref item: device and folder inode (64 bits each), then the folder
// path and the name, each ending with a NUL.
size_t MessageFormat::RefSize(const entry_ref& ref)
{
    size_t path = ref.directory_path != nullptr ? strlen(ref.directory_path) : 0;
    return kRefHeaderSize + path + 1 + strlen(ref.name) + 1;
}

void MessageFormat::WriteRef(const entry_ref& ref, uint8* out)
{
    write_le64(out, uint64(int64(ref.device)));
    write_le64(out + 8, uint64(ref.directory));
    out += kRefHeaderSize;
    size_t path = ref.directory_path != nullptr ? strlen(ref.directory_path) : 0;
    if (path > 0)
        memcpy(out, ref.directory_path, path);
    out[path] = '\0';
    out += path + 1;
    memcpy(out, ref.name, strlen(ref.name) + 1);
}

status_t MessageFormat::ReadRef(const uint8* data, size_t size, entry_ref* ref)
{
    if (size < kRefHeaderSize + 2)
        return B_BAD_DATA;
    const char* path = reinterpret_cast<const char*>(data + kRefHeaderSize);
    size_t left = size - kRefHeaderSize;
    const char* pathEnd = static_cast<const char*>(memchr(path, '\0', left));
    if (pathEnd == nullptr)
        return B_BAD_DATA;
    const char* name = pathEnd + 1;
    size_t nameLength = left - size_t(name - path);
    if (nameLength == 0 || memchr(name, '\0', nameLength) != name + nameLength - 1)
        return B_BAD_DATA;
    ref->device = dev_t(int64(read_le64(data)));
    ref->directory = ino_t(read_le64(data + 8));
    if (ref->set_name(name) != B_OK ||
        ref->set_directory_path(path[0] != '\0' ? path : nullptr) != B_OK)
        return B_NO_MEMORY;
    return B_OK;
}

// ---- the message's own entry points -------------------------------------------

ssize_t BMessage::FlattenedSize() const
{
    return MessageFormat::FlattenedSize(*this);
}

status_t BMessage::Flatten(char* buffer, ssize_t size) const
{
    ssize_t needed = FlattenedSize();
    if (needed < 0)
        return status_t(needed);
    if (buffer == nullptr || size < needed)
        return B_BAD_VALUE;
    MessageFormat::Write(*this, reinterpret_cast<uint8*>(buffer));
    return B_OK;
}

status_t BMessage::Flatten(BDataIO* stream, ssize_t* size) const
{
    if (stream == nullptr)
        return B_BAD_VALUE;
    ssize_t needed = FlattenedSize();
    if (needed < 0)
        return status_t(needed);
    std::vector<uint8> buffer(static_cast<size_t>(needed));
    MessageFormat::Write(*this, buffer.data());
    size_t written = 0;
    while (written < buffer.size()) {
        ssize_t result = stream->Write(buffer.data() + written, buffer.size() - written);
        if (result < 0)
            return status_t(result);
        if (result == 0)
            return B_IO_ERROR;
        written += size_t(result);
    }
    if (size != nullptr)
        *size = needed;
    return B_OK;
}

status_t BMessage::Unflatten(const char* buffer, ssize_t size)
{
    // Parsed first: the buffer may be an item of this very message.
    status_t status = B_BAD_VALUE;
    if (buffer != nullptr && size >= 0)
        status = MessageFormat::Parse(reinterpret_cast<const uint8*>(buffer), size_t(size), 0, true,
                                      this);
    if (status != B_OK) {
        MakeEmpty();
        what = 0;
    }
    return status;
}

namespace
{

// Reads exactly `size` bytes; B_BAD_DATA when the stream ends first.
status_t read_fully(BDataIO* stream, uint8* buffer, size_t size)
{
    while (size > 0) {
        ssize_t result = stream->Read(buffer, size);
        if (result < 0)
            return status_t(result);
        if (result == 0)
            return B_BAD_DATA;
        buffer += result;
        size -= size_t(result);
    }
    return B_OK;
}

} // namespace

status_t BMessage::Unflatten(BDataIO* stream)
{
    MakeEmpty();
    what = 0;
    if (stream == nullptr)
        return B_BAD_VALUE;
    std::vector<uint8> data(MessageFormat::kHeaderSize);
    status_t status = read_fully(stream, data.data(), data.size());
    if (status != B_OK)
        return status;
    ssize_t body = MessageFormat::BodySize(data.data());
    if (body < 0)
        return status_t(body);
    size_t total = MessageFormat::kHeaderSize + size_t(body);
    while (data.size() < total) {
        size_t have = data.size();
        data.resize(have + std::min(kReadStep, total - have));
        status = read_fully(stream, data.data() + have, data.size() - have);
        if (status != B_OK)
            return status;
    }
    status = MessageFormat::Parse(data.data(), data.size(), 0, true, this);
    if (status != B_OK)
        MakeEmpty();
    return status;
}

// ---- printing -----------------------------------------------------------------

void BMessage::PrintToStream() const
{
    _Print(0);
}

void BMessage::_Print(int indent) const
{
    auto code = [](uint32 value, char* text) {
        for (int i = 0; i < 4; i++) {
            char c = char(value >> (24 - 8 * i));
            text[i] = c >= 0x20 && c < 0x7f ? c : '.';
        }
        text[4] = '\0';
    };
    char text[5];
    code(what, text);
    printf("BMessage('%s') {\n", text);
    for (const Field& field : fFields) {
        code(field.type, text);
        for (uint32 i = 0; i < field.count; i++) {
            printf("%*s%s[%u], type = '%s': ", indent + 4, "", field.name.c_str(), i, text);
            const uint8* item = field.bytes.data() + field.ItemStart(i);
            size_t size = field.ItemSize(i);
            int32 value32;
            int64 value64;
            switch (field.type) {
            case B_INT32_TYPE:
                memcpy(&value32, item, 4);
                printf("%d\n", value32);
                break;
            case B_INT64_TYPE:
                memcpy(&value64, item, 8);
                printf("%lld\n", static_cast<long long>(value64));
                break;
            case B_BOOL_TYPE:
                printf("%s\n", item[0] != 0 ? "true" : "false");
                break;
            case B_STRING_TYPE:
                printf("\"%s\"\n", reinterpret_cast<const char*>(item));
                break;
            case B_MESSAGE_TYPE: {
                BMessage nested;
                if (MessageFormat::Parse(item, size, 0, false, &nested) == B_OK)
                    nested._Print(indent + 4);
                break;
            }
            default:
                printf("%zu bytes\n", size);
                break;
            }
        }
    }
    printf("%*s}\n", indent, "");
}
