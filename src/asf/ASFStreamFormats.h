// The format blocks of a file's streams, read once when the header is: a
// sound stream's WAVEFORMATEX with its codec bytes, a video stream's
// BITMAPINFOHEADER with its codec bytes and palette. Codec modules are given
// the blocks as Windows would hand them over; FFmpeg the fields and codec
// bytes.
#pragma once

#include "platform/media/MediaAudioDecoder.h"
#include "platform/support/SupportDefs.h"

#include <vector>

// A WAVEFORMATEX's fixed fields with its cbSize: what precedes codec bytes.
constexpr uint32 kWaveFormatSize = 18;
// A BITMAPINFOHEADER's own size: what precedes codec bytes or a palette.
constexpr uint32 kBitmapInfoSize = 40;

// The fields and codec bytes (`extra`) of a sound stream's format block.
struct sound_stream_format : wave_format_info {
    // The whole WAVEFORMATEX with its codec bytes, cbSize made to fit.
    std::vector<uint8> waveFormat;
};

// A video stream's format as its BITMAPINFOHEADER says it.
struct picture_stream_format {
    int32 width = 0;
    int32 height = 0;
    uint32 compression = 0; // the four-character code, first character lowest
    uint16 depth = 0;       // bits per pixel
    // The whole header with what follows it (codec bytes, palette), as a
    // module is given it.
    std::vector<uint8> bitmapInfo;
    // The codec bytes after the header's 40, as FFmpeg is given them.
    std::vector<uint8> codecData;
};

// Read a stream's format block; false when it is too short to be one or,
// for pictures, gives no size a picture can have.
bool read_sound_format(const void* data, uint32 size, sound_stream_format* format);
bool read_picture_format(const void* data, uint32 size, picture_stream_format* format);
