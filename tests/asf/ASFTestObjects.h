// The tests' writer for the header objects that carry more than streams:
// the Header Extension and what lies in it, tags, markers, script commands
// and encryption. Text is given as UTF-8 and written as UTF-16.
#pragma once

#include "ASFTestWriter.h"

#include <string>
#include <vector>

// UTF-16 little-endian, with a terminating null when `terminated`.
bytes_t utf16(const std::string& utf8, bool terminated = true);

bytes_t make_header_extension(const std::vector<bytes_t>& objects);
// Declares stream `number`'s bitrate, language and name; with `embedded`,
// the stream itself is declared inside.
bytes_t make_extended_stream_properties(uint16 number, uint32 bitrate,
                                        const test_stream* embedded = nullptr,
                                        uint16 languageIndex = 0, uint64 timePerFrame = 0,
                                        const std::string& name = "");
bytes_t make_stream_bitrates(const std::vector<std::pair<uint16, uint32>>& bitrates);
// A Bitrate (top level) or Advanced (extension) Mutual Exclusion object.
bytes_t make_mutual_exclusion(const guid_t& object, const std::vector<uint16>& numbers);
bytes_t make_language_list(const std::vector<std::string>& languages);

bytes_t make_content_description(const std::string& title, const std::string& author,
                                 const std::string& copyright = "",
                                 const std::string& description = "",
                                 const std::string& rating = "");
struct test_tag {
    std::string name;
    uint16 type; // 0 string, 1 bytes, 2 bool, 3 dword, 4 qword, 5 word, 6 GUID
    bytes_t value;
    uint16 stream = 0;
};
bytes_t make_extended_content_description(const std::vector<test_tag>& tags);
// A Metadata or Metadata Library object.
bytes_t make_metadata(const guid_t& object, const std::vector<test_tag>& tags);
bytes_t make_picture_value(uint8 type, const std::string& mimeType, const std::string& description,
                           const bytes_t& data);

// Times in 100 ns units, the preroll counted in.
bytes_t make_markers(const std::vector<std::pair<uint64, std::string>>& markers);
struct test_command {
    uint32 time; // ms, the preroll counted in
    uint16 type; // index into the types
    std::string text;
};
bytes_t make_script_commands(const std::vector<std::string>& types,
                             const std::vector<test_command>& commands);
// An encryption object of the given kind with a little opaque body.
bytes_t make_encryption(const guid_t& object);

// `file` (a whole ASF file, e.g. ffmpeg's) with `object` added at the end of
// its header object; sizes and counts follow. Packets are found by the
// Simple Index by number, so an index stays right.
bytes_t with_header_object(const bytes_t& file, const bytes_t& object);
