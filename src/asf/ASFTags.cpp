// Tags: the Content Description, Extended Content Description, Metadata and
// Metadata Library objects, and what a player asks of them.

#include "asf/ASFByteReader.h"
#include "asf/ASFExtractor.h"

#include "platform/support/ByteOrder.h"

#include <cinttypes>
#include <cstdio>
#include <strings.h>

namespace
{

// A tag's value of `type` from its `length` bytes.
asf_tag make_tag(std::string name, uint16 type, uint16 stream, const uint8* value, size_t length)
{
    asf_tag tag;
    tag.name = std::move(name);
    tag.type = type;
    tag.stream = stream;
    char number[48] = "";
    switch (type) {
    case asf_tag::kString:
        tag.text = asf_utf16_to_utf8(value, length);
        break;
    case asf_tag::kBytes:
        tag.data.assign(value, value + length);
        break;
    case asf_tag::kBool: {
        // Four bytes in one object, two in the other: any set bit is true.
        bool set = false;
        for (size_t i = 0; i < length; i++)
            set = set || value[i] != 0;
        tag.text = set ? "true" : "false";
        break;
    }
    case asf_tag::kWord:
        if (length >= 2)
            snprintf(number, sizeof(number), "%u", unsigned(read_le16(value)));
        break;
    case asf_tag::kDWord:
        if (length >= 4)
            snprintf(number, sizeof(number), "%" PRIu32, read_le32(value));
        break;
    case asf_tag::kQWord:
        if (length >= 8)
            snprintf(number, sizeof(number), "%" PRIu64, read_le64(value));
        break;
    case asf_tag::kGUID:
        if (length >= 16) {
            snprintf(number, sizeof(number),
                     "%08" PRIX32 "-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", read_le32(value),
                     read_le16(value + 4), read_le16(value + 6), value[8], value[9], value[10],
                     value[11], value[12], value[13], value[14], value[15]);
        }
        break;
    default:
        tag.data.assign(value, value + length);
        break;
    }
    if (number[0] != '\0')
        tag.text = number;
    return tag;
}

// A null-terminated UTF-16 string inside a picture's value.
bool read_terminated(CASFByteReader& reader, std::string* text)
{
    std::vector<uint8> units;
    for (;;) {
        const uint8* unit = reader.Bytes(2);
        if (unit == nullptr)
            return false;
        if (unit[0] == 0 && unit[1] == 0)
            break;
        units.push_back(unit[0]);
        units.push_back(unit[1]);
    }
    *text = asf_utf16_to_utf8(units.data(), units.size());
    return true;
}

} // namespace

void CASFExtractor::ParseContentDescription(CASFByteReader& body)
{
    static const char* const kNames[] = {"Title", "Author", "Copyright", "Description", "Rating"};
    uint16 lengths[5];
    for (uint16& length : lengths)
        length = body.U16();
    for (int i = 0; i < 5; i++) {
        std::string text = body.Text(lengths[i]);
        if (body.Failed())
            return;
        if (!text.empty()) {
            asf_tag tag;
            tag.name = kNames[i];
            tag.text = std::move(text);
            fInfo.tags.push_back(std::move(tag));
        }
    }
}

void CASFExtractor::ParseExtendedContentDescription(CASFByteReader& body)
{
    uint16 count = body.U16();
    for (uint32 i = 0; i < count; i++) {
        std::string name = body.Text(body.U16());
        uint16 type = body.U16();
        uint16 length = body.U16();
        const uint8* value = body.Bytes(length);
        if (body.Failed())
            return;
        fInfo.tags.push_back(make_tag(std::move(name), type, 0, value, length));
    }
}

// Metadata and Metadata Library records share their layout; the first
// field is reserved in one and a language index in the other.
void CASFExtractor::ParseMetadataRecords(CASFByteReader& body)
{
    uint16 count = body.U16();
    for (uint32 i = 0; i < count; i++) {
        body.U16();
        uint16 stream = body.U16();
        uint16 nameLength = body.U16();
        uint16 type = body.U16();
        uint32 length = body.U32();
        std::string name = body.Text(nameLength);
        const uint8* value = body.Bytes(length);
        if (body.Failed())
            return;
        fInfo.tags.push_back(make_tag(std::move(name), type, stream, value, length));
    }
}

void CASFExtractor::ParseMetadata(CASFByteReader& body)
{
    ParseMetadataRecords(body);
}

void CASFExtractor::ParseMetadataLibrary(CASFByteReader& body)
{
    ParseMetadataRecords(body);
}

const asf_stream_declaration* asf_file_info::Stream(uint16 number) const
{
    for (const asf_stream_declaration& declaration : streams) {
        if (declaration.number == number)
            return &declaration;
    }
    return nullptr;
}

const asf_tag* asf_file_info::Tag(std::string_view name) const
{
    for (const asf_tag& tag : tags) {
        if (tag.stream == 0 && tag.name.size() == name.size() &&
            strncasecmp(tag.name.data(), name.data(), name.size()) == 0)
            return &tag;
    }
    return nullptr;
}

std::string asf_file_info::Text(std::string_view name) const
{
    const asf_tag* tag = Tag(name);
    return tag != nullptr ? tag->text : std::string();
}

bool asf_file_info::Picture(asf_picture* picture) const
{
    bool found = false;
    for (const asf_tag& tag : tags) {
        if (tag.type != asf_tag::kBytes || strcasecmp(tag.name.c_str(), "WM/Picture") != 0)
            continue;
        CASFByteReader reader(tag.data.data(), tag.data.size());
        asf_picture candidate;
        candidate.type = reader.U8();
        uint32 length = reader.U32();
        if (!read_terminated(reader, &candidate.mimeType) ||
            !read_terminated(reader, &candidate.description))
            continue;
        const uint8* data = reader.Bytes(length);
        if (data == nullptr || length == 0)
            continue;
        candidate.data.assign(data, data + length);
        // The front cover wins; else the first picture.
        if (!found || candidate.type == 3) {
            bool front = candidate.type == 3;
            *picture = std::move(candidate);
            found = true;
            if (front)
                break;
        }
    }
    return found;
}

std::string asf_file_info::DisplayTitle() const
{
    std::string title = Text("Title");
    if (title.empty())
        return title;
    std::string author = Text("Author");
    return author.empty() ? title : title + " \u2014 " + author;
}
