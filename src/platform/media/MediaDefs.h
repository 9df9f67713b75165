// Media formats: what a stream's data is, for finding and driving decoders,
// and raw audio as codecs and sound outputs exchange it.
#pragma once

#include "platform/interface/GraphicsDefs.h"
#include "platform/support/SupportDefs.h"

enum media_type {
    B_MEDIA_NO_TYPE = -1,
    B_MEDIA_UNKNOWN_TYPE = 0,
    B_MEDIA_RAW_AUDIO = 1,
    B_MEDIA_RAW_VIDEO = 2,
    B_MEDIA_ENCODED_AUDIO = 10,
    B_MEDIA_ENCODED_VIDEO = 11,
};

enum media_format_family {
    B_ANY_FORMAT_FAMILY = 0,
    B_BEOS_FORMAT_FAMILY = 1,
    B_QUICKTIME_FORMAT_FAMILY = 2,
    B_AVI_FORMAT_FAMILY = 3,
    B_ASF_FORMAT_FAMILY = 4,
};

enum {
    B_MEDIA_BIG_ENDIAN = 1,
    B_MEDIA_LITTLE_ENDIAN = 2,
};

struct media_raw_audio_format {
    // The low 4 bits of a sample format are its size in bytes.
    enum {
        B_AUDIO_FLOAT = 0x24,
        B_AUDIO_INT = 0x4,
        B_AUDIO_SHORT = 0x2,
        B_AUDIO_UCHAR = 0x11,
        B_AUDIO_CHAR = 0x1,
        B_AUDIO_SIZE_MASK = 0xF,
    };

    float frame_rate;
    uint32 channel_count;
    uint32 format;
    uint32 byte_order;
    size_t buffer_size;

    static const media_raw_audio_format wildcard; // every field 0: "any"
};

struct media_video_display_info {
    color_space format;
    uint32 line_width;
    uint32 line_count;
    uint32 bytes_per_row;
    uint32 pixel_offset;
    uint32 line_offset;
    uint32 flags;
};

struct media_raw_video_format {
    float field_rate;
    uint32 interlace;
    uint32 first_active;
    uint32 last_active;
    uint32 orientation;
    uint16 pixel_width_aspect;
    uint16 pixel_height_aspect;
    media_video_display_info display;
};

struct media_encoded_video_format {
    // First, so that a format retyped to raw video reads the same picture
    // description.
    media_raw_video_format output;
    float avg_bit_rate;
    float max_bit_rate;
    // The decoder the format was found for (platform-private value).
    uint32 encoding;
    // The four-character code it was found for, first character in the
    // lowest byte as files store it: some decoders tell encoders apart by it.
    uint32 codec_tag;
    // The stream's bits per pixel (0 when not known): some decoders need it.
    uint16 depth;
    size_t frame_size;
    int16 forward_history;
    int16 backward_history;
};

struct media_format {
    media_type type = B_MEDIA_UNKNOWN_TYPE;
    union {
        media_raw_video_format raw_video;
        media_encoded_video_format encoded_video;
    } u = {};
};

struct media_format_description {
    media_format_family family = B_ANY_FORMAT_FAMILY;
    union {
        struct {
            // The four-character code as a multi-character constant: its
            // first character in the highest byte.
            uint32 codec;
        } avi;
        uint8 raw[64];
    } u = {};
};

struct media_header {
    media_type type;
    int64 start_time;
    size_t size_used;
};

struct media_decode_info {
    bigtime_t time_to_decode;
};

class BMediaFormats
{
public:
    // Finds the platform's decoder for a codec: a format of type
    // B_MEDIA_ENCODED_VIDEO whose output colour space is B_RGB32, or
    // B_MEDIA_BAD_FORMAT when no decoder is known.
    status_t GetFormatFor(const media_format_description& description, media_format* format);
};

enum { B_MEDIA_BAD_FORMAT = B_MEDIA_ERROR_BASE + 0x100 };
