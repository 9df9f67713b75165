// Reading the format blocks of the stream declarations.

#include "asf/ASFStreamFormats.h"

#include <algorithm>
#include <cstring>

namespace
{

// Larger pictures than this are no picture a file of the time held, and
// would make frames of gigabytes.
constexpr int32 kMaxPictureSide = 16384;

} // namespace

bool read_sound_format(const void* data, uint32 size, sound_stream_format* format)
{
    if (data == nullptr || size < 14)
        return false;
    auto* bytes = static_cast<const uint8*>(data);
    memcpy(&format->tag, bytes, 2);
    memcpy(&format->channels, bytes + 2, 2);
    memcpy(&format->rate, bytes + 4, 4);
    memcpy(&format->bytesPerSecond, bytes + 8, 4);
    memcpy(&format->blockAlign, bytes + 12, 2);
    format->bitsPerSample = 0;
    if (size >= 16)
        memcpy(&format->bitsPerSample, bytes + 14, 2);
    // A whole WAVEFORMATEX whose codec bytes lie inside it: a short block
    // gets cbSize 0, a cbSize beyond the block is cut to what it holds.
    format->waveFormat.assign(std::max(size, kWaveFormatSize), 0);
    memcpy(format->waveFormat.data(), data, size);
    uint16 extra = 0;
    if (size >= kWaveFormatSize) {
        memcpy(&extra, bytes + 16, 2);
        extra = uint16(std::min<uint32>(extra, size - kWaveFormatSize));
    }
    memcpy(format->waveFormat.data() + 16, &extra, 2);
    format->extra.assign(format->waveFormat.begin() + kWaveFormatSize,
                         format->waveFormat.begin() + kWaveFormatSize + extra);
    return true;
}

bool read_picture_format(const void* data, uint32 size, picture_stream_format* format)
{
    if (data == nullptr || size < 20)
        return false;
    auto* bytes = static_cast<const uint8*>(data);
    memcpy(&format->width, bytes + 4, 4);
    // Pictures are drawn upright whichever way the rows run.
    int32 height = 0;
    memcpy(&height, bytes + 8, 4);
    format->height = height == INT32_MIN ? 0 : height < 0 ? -height : height;
    memcpy(&format->compression, bytes + 16, 4);
    memcpy(&format->depth, bytes + 14, 2);
    format->bitmapInfo.assign(bytes, bytes + size);
    if (size < kBitmapInfoSize)
        format->bitmapInfo.resize(kBitmapInfoSize, 0);
    // The header's own size field says where its codec bytes end; a block
    // shorter than that gives what it holds.
    uint32 declared = 0;
    memcpy(&declared, bytes, 4);
    uint32 end = declared < size ? declared : size;
    format->codecData.assign(bytes + std::min(end, kBitmapInfoSize), bytes + end);
    if (end < kBitmapInfoSize)
        format->codecData.clear();
    // Files count a palette in the header's size; a module finds it where
    // Windows puts it, right after a header of 40 bytes.
    if (format->depth <= 8 && declared > kBitmapInfoSize)
        memcpy(format->bitmapInfo.data(), &kBitmapInfoSize, 4);
    return format->width > 0 && format->height > 0 && format->width <= kMaxPictureSide &&
           format->height <= kMaxPictureSide;
}
