// What an ASF header says about its file beyond the played streams: every
// declared stream with where it was declared and its bitrate, the tags,
// the markers, the script commands, and whether the file is protected.
#pragma once

#include "asf/ASFGuid.h"
#include "platform/support/SupportDefs.h"

#include <string>
#include <string_view>
#include <vector>

struct asf_stream_declaration {
    enum { kInHeader, kInExtension };

    uint16 number = 0;          // the ASF stream number, 1..127
    guid_t type{};              // the stream type GUID; zero while only an extension names it
    bool hasProperties = false; // a Stream Properties object declared it
    int32 declaredIn = kInHeader;
    int32 tableIndex = -1;       // place in the extractor's table of playable streams, -1 if none
    bool encrypted = false;      // the stream properties' encrypted flag
    uint32 bitrate = 0;          // bits per second, 0 when the file does not say
    uint32 extensionBitrate = 0; // the Extended Stream Properties' own figure
    uint32 listedBitrate = 0;    // the Stream Bitrate Properties' figure
    uint64 averageTimePerFrame = 0; // 100 ns units, 0 when not given
    int32 languageIndex = -1;       // into the Language List
    std::string language;           // from the Language List, e.g. "en-us"
    std::string name;               // the stream's first name, if it has one
    int32 exclusionGroup = -1;      // streams with the same group exclude each other
    int32 priority = -1;  // place in the Stream Prioritization object (0 first), -1 unlisted
    bool mandatory = false; // that object says the stream must not be dropped
};

struct asf_tag {
    enum {
        kString = 0,
        kBytes = 1,
        kBool = 2,
        kDWord = 3,
        kQWord = 4,
        kWord = 5,
        kGUID = 6,
    };

    std::string name; // UTF-8
    uint16 type = kString;
    uint16 stream = 0;       // 0: the whole file
    std::string text;        // the value as text: strings as they are, numbers in decimal
    std::vector<uint8> data; // a byte array's bytes (WM/Picture)
};

struct asf_picture {
    uint8 type = 0; // 3 is the front cover
    std::string mimeType;
    std::string description;
    std::vector<uint8> data; // JPEG, PNG...
};

struct asf_marker {
    uint32 time = 0; // ms from the start of playback
    std::string name;
};

struct asf_script_command {
    uint32 time = 0;     // ms from the start of playback
    std::string type;    // "CAPTION", "TEXT", "URL", "FILENAME"...
    std::string command; // its text
};

struct asf_file_info {
    std::vector<asf_stream_declaration> streams;
    std::vector<asf_tag> tags;
    std::vector<asf_marker> markers;                // in time order
    std::vector<asf_script_command> scriptCommands; // in time order
    std::vector<std::string> languages;
    std::vector<std::string> codecs; // the codec list's names
    bool isProtected = false;        // content encryption objects or encrypted streams
    bool isBroadcast = false;        // the file properties' broadcast flag

    const asf_stream_declaration* Stream(uint16 number) const;
    // The file's tag of that name (ASCII case ignored), null if none.
    const asf_tag* Tag(std::string_view name) const;
    // Its text, or "" when the file has no such tag.
    std::string Text(std::string_view name) const;
    // The cover picture (WM/Picture, the front cover first); false if none.
    bool Picture(asf_picture* picture) const;
    // "Title — Author", the title alone, or "" without a title.
    std::string DisplayTitle() const;
};

// A human name for a stream type: "audio", "video", "command", "image",
// "file", "binary" or "other".
const char* asf_stream_kind(const guid_t& type);
