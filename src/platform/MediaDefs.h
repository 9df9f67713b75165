// Media kit descriptions of raw media data.
#pragma once

#include "platform/SupportDefs.h"

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
