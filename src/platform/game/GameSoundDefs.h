// Game kit sound formats.
#pragma once

#include "platform/support/SupportDefs.h"

struct gs_audio_format {
    // The low 4 bits of a sample format are its size in bytes.
    enum format {
        B_GS_U8 = 0x11,
        B_GS_S16 = 0x2,
        B_GS_F = 0x24,
        B_GS_S32 = 0x4,
    };

    float frame_rate;
    uint32 channel_count;
    uint32 format;
    uint32 byte_order; // B_MEDIA_BIG_ENDIAN or B_MEDIA_LITTLE_ENDIAN; 0: the host's
    size_t buffer_size;
};

class BGameSoundDevice;
