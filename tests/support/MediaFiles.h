// Real media for the tests: the media objects of an ASF stream exactly as the
// player receives them, and ffmpeg's own decode of the same file to compare
// with.
#pragma once

#include "platform/support/SupportDefs.h"

#include <functional>
#include <string>
#include <vector>

typedef std::vector<uint8> bytes_t;

struct stream_objects {
    int32 index = -1; // the stream's place in the extractor's table
    bytes_t format;   // its format block
    int32 width = 0;  // video only
    int32 height = 0; // video only
    struct object {
        bytes_t data;
        uint32 time; // what the player stamps it with: its presentation time
        bool keyFrame = false;
    };
    std::vector<object> objects; // in order, empty ones left out
};

// The objects of the highest-numbered stream of `kind` (0 audio, 1 video),
// the one the player plays.
bool read_stream_objects(const std::string& path, int32 kind, stream_objects* result);

// ffmpeg's decode of the file's first video stream, each picture as B, G, R,
// A bytes, handed to `picture` in order; false when ffmpeg fails.
bool ffmpeg_pictures(const std::string& path, int32 width, int32 height,
                     const std::function<void(const uint8* pixels)>& picture);

// ffmpeg's decode of the file's first audio stream as 16-bit little-endian
// samples at the stream's own rate and channel count.
bool ffmpeg_samples(const std::string& path, bytes_t* samples);

// The frame log's checksum, written here from its description: 64-bit
// FNV-1a over the pixels taken as 32-bit little-endian words.
uint64 pixel_checksum(const uint8* pixels, int32 width, int32 height, int32 bytesPerRow = 0);

// Rewrites the format tag of the file's first audio stream in place (how a
// file of a codec ffmpeg cannot write is made from one it can).
// One line of the player's frame log (REELMOTH_FRAME_LOG): the draw's
// number, when it was drawn (system_time) and the picture's checksum.
struct drawn_frame {
    int64 number;
    int64 time;
    uint64 checksum;
};
// The frame log's lines; empty when there is no log yet.
std::vector<drawn_frame> read_frame_log(const std::string& path);
// 16-bit samples as SDL's disk driver writes them.
std::vector<int16> read_samples(const std::string& path);

bool set_audio_format_tag(const std::string& path, uint16 tag);

// Runs a shell command; its exit status.
int run_command(const std::string& command);
