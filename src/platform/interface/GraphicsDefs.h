// Colours and colour spaces of the interface kit.
#pragma once

#include "platform/support/SupportDefs.h"

struct rgb_color {
    uint8 red;
    uint8 green;
    uint8 blue;
    uint8 alpha;

    bool operator==(const rgb_color& other) const = default;
};

enum color_space {
    B_NO_COLOR_SPACE = 0x0000,
    // 32 bits a pixel: bytes B, G, R, (alpha or unused) in memory.
    B_RGB32 = 0x0008,
    B_RGBA32 = 0x2008,
    // Planar 4:2:0: the Y plane, then U, then V, each chroma plane half the
    // size (rounded up) each way.
    B_YUV420 = 0x4004,
};

// Views filled with this colour draw no background of their own.
constexpr rgb_color B_TRANSPARENT_COLOR = {0x77, 0x74, 0x77, 0x00};
