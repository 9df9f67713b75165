#include "ASFTestObjects.h"

#include "asf/ASFObjectIds.h"

bytes_t utf16(const std::string& utf8, bool terminated)
{
    bytes_t out;
    for (size_t i = 0; i < utf8.size();) {
        uint8 c = uint8(utf8[i]);
        uint32 code = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra > 0)
            code = c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < utf8.size(); k++)
            code = code << 6 | (uint8(utf8[i + k]) & 0x3F);
        i += size_t(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            append_le(out, 0xD800 | (code >> 10), 2);
            append_le(out, 0xDC00 | (code & 0x3FF), 2);
        } else {
            append_le(out, code, 2);
        }
    }
    if (terminated)
        append_le(out, 0, 2);
    return out;
}

bytes_t make_header_extension(const std::vector<bytes_t>& objects)
{
    bytes_t data;
    for (const bytes_t& object : objects)
        data.insert(data.end(), object.begin(), object.end());
    bytes_t body;
    append_guid(body, asf_id::kHeaderExtensionReserved);
    append_le(body, 6, 2);
    append_le(body, data.size(), 4);
    body.insert(body.end(), data.begin(), data.end());
    return make_object(asf_id::kHeaderExtension, body);
}

bytes_t make_extended_stream_properties(uint16 number, uint32 bitrate, const test_stream* embedded,
                                        uint16 languageIndex, uint64 timePerFrame,
                                        const std::string& name)
{
    bytes_t body;
    append_le(body, 0, 8); // start time
    append_le(body, 0, 8); // end time
    append_le(body, bitrate, 4);
    append_le(body, 3000, 4); // buffer size
    append_le(body, 3000, 4); // initial buffer fullness
    append_le(body, bitrate, 4);
    append_le(body, 3000, 4);
    append_le(body, 3000, 4);
    append_le(body, 0, 4); // maximum object size
    append_le(body, 0, 4); // flags
    append_le(body, number, 2);
    append_le(body, languageIndex, 2);
    append_le(body, timePerFrame, 8);
    append_le(body, name.empty() ? 0 : 1, 2);
    append_le(body, 1, 2); // one payload extension system
    if (!name.empty()) {
        bytes_t text = utf16(name, false);
        append_le(body, languageIndex, 2);
        append_le(body, text.size(), 2);
        body.insert(body.end(), text.begin(), text.end());
    }
    append_guid(body, make_guid("399595EC-8667-4E2D-8FDB-98814CE76C1E"));
    append_le(body, 8, 2);
    append_le(body, 0, 4);
    if (embedded != nullptr) {
        bytes_t properties = make_stream_properties(*embedded);
        body.insert(body.end(), properties.begin(), properties.end());
    }
    return make_object(asf_id::kExtendedStreamProperties, body);
}

bytes_t make_stream_bitrates(const std::vector<std::pair<uint16, uint32>>& bitrates)
{
    bytes_t body;
    append_le(body, bitrates.size(), 2);
    for (const auto& [number, bitrate] : bitrates) {
        append_le(body, number, 2);
        append_le(body, bitrate, 4);
    }
    return make_object(asf_id::kStreamBitrateProperties, body);
}

bytes_t make_mutual_exclusion(const guid_t& object, const std::vector<uint16>& numbers)
{
    bytes_t body;
    append_guid(body, asf_id::kMutexBitrate);
    append_le(body, numbers.size(), 2);
    for (uint16 number : numbers)
        append_le(body, number, 2);
    return make_object(object, body);
}

bytes_t make_language_list(const std::vector<std::string>& languages)
{
    bytes_t body;
    append_le(body, languages.size(), 2);
    for (const std::string& language : languages) {
        bytes_t text = utf16(language);
        body.push_back(uint8(text.size()));
        body.insert(body.end(), text.begin(), text.end());
    }
    return make_object(asf_id::kLanguageList, body);
}

bytes_t make_content_description(const std::string& title, const std::string& author,
                                 const std::string& copyright, const std::string& description,
                                 const std::string& rating)
{
    bytes_t body, texts;
    for (const std::string* text : {&title, &author, &copyright, &description, &rating}) {
        bytes_t encoded = text->empty() ? bytes_t() : utf16(*text);
        append_le(body, encoded.size(), 2);
        texts.insert(texts.end(), encoded.begin(), encoded.end());
    }
    body.insert(body.end(), texts.begin(), texts.end());
    return make_object(asf_id::kContentDescription, body);
}

bytes_t make_extended_content_description(const std::vector<test_tag>& tags)
{
    bytes_t body;
    append_le(body, tags.size(), 2);
    for (const test_tag& tag : tags) {
        bytes_t name = utf16(tag.name);
        append_le(body, name.size(), 2);
        body.insert(body.end(), name.begin(), name.end());
        append_le(body, tag.type, 2);
        append_le(body, tag.value.size(), 2);
        body.insert(body.end(), tag.value.begin(), tag.value.end());
    }
    return make_object(asf_id::kExtendedContentDescription, body);
}

bytes_t make_metadata(const guid_t& object, const std::vector<test_tag>& tags)
{
    bytes_t body;
    append_le(body, tags.size(), 2);
    for (const test_tag& tag : tags) {
        bytes_t name = utf16(tag.name);
        append_le(body, 0, 2);
        append_le(body, tag.stream, 2);
        append_le(body, name.size(), 2);
        append_le(body, tag.type, 2);
        append_le(body, tag.value.size(), 4);
        body.insert(body.end(), name.begin(), name.end());
        body.insert(body.end(), tag.value.begin(), tag.value.end());
    }
    return make_object(object, body);
}

bytes_t make_picture_value(uint8 type, const std::string& mimeType, const std::string& description,
                           const bytes_t& data)
{
    bytes_t value{type};
    append_le(value, data.size(), 4);
    bytes_t mime = utf16(mimeType), text = utf16(description);
    value.insert(value.end(), mime.begin(), mime.end());
    value.insert(value.end(), text.begin(), text.end());
    value.insert(value.end(), data.begin(), data.end());
    return value;
}

bytes_t make_markers(const std::vector<std::pair<uint64, std::string>>& markers)
{
    bytes_t body;
    append_guid(body, asf_id::kMarkerReserved);
    append_le(body, markers.size(), 4);
    append_le(body, 0, 2);
    append_le(body, 0, 2); // no name
    for (const auto& [time, name] : markers) {
        bytes_t text = utf16(name);
        append_le(body, 0, 8); // offset
        append_le(body, time, 8);
        append_le(body, 12 + text.size(), 2);
        append_le(body, uint32(time / 10000), 4);
        append_le(body, 0, 4);
        append_le(body, text.size() / 2, 4);
        body.insert(body.end(), text.begin(), text.end());
    }
    return make_object(asf_id::kMarker, body);
}

bytes_t make_script_commands(const std::vector<std::string>& types,
                             const std::vector<test_command>& commands)
{
    bytes_t body;
    append_guid(body, asf_id::kScriptCommandReserved);
    append_le(body, commands.size(), 2);
    append_le(body, types.size(), 2);
    for (const std::string& type : types) {
        bytes_t text = utf16(type);
        append_le(body, text.size() / 2, 2);
        body.insert(body.end(), text.begin(), text.end());
    }
    for (const test_command& command : commands) {
        bytes_t text = utf16(command.text);
        append_le(body, command.time, 4);
        append_le(body, command.type, 2);
        append_le(body, text.size() / 2, 2);
        body.insert(body.end(), text.begin(), text.end());
    }
    return make_object(asf_id::kScriptCommand, body);
}

bytes_t make_encryption(const guid_t& object)
{
    bytes_t body;
    append_le(body, 4, 4);
    append_le(body, 0x12345678, 4);
    append_le(body, 4, 4);
    body.insert(body.end(), {'D', 'R', 'M', 0});
    return make_object(object, body);
}

bytes_t with_header_object(const bytes_t& file, const bytes_t& object)
{
    if (file.size() < 30)
        return file;
    uint64 headerSize = 0;
    uint32 count = 0;
    for (int i = 0; i < 8; i++)
        headerSize |= uint64(file[16 + i]) << (8 * i);
    for (int i = 0; i < 4; i++)
        count |= uint32(file[24 + i]) << (8 * i);
    if (headerSize > file.size())
        return file;
    bytes_t out(file.begin(), file.begin() + long(headerSize));
    out.insert(out.end(), object.begin(), object.end());
    out.insert(out.end(), file.begin() + long(headerSize), file.end());
    for (int i = 0; i < 8; i++)
        out[16 + i] = uint8((headerSize + object.size()) >> (8 * i));
    for (int i = 0; i < 4; i++)
        out[24 + i] = uint8((count + 1) >> (8 * i));
    return out;
}
