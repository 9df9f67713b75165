// Feeds arbitrary compressed frames to the platform's video decoders, as a
// damaged file's video stream would reach them, decoding into a bitmap's
// memory.
//
// Input: one byte choosing the codec, one each for the picture's width and
// height (16-pixel steps), then records of a 16-bit little-endian length and
// that many bytes: the first the codec data, the others frames.
#include "platform/interface/Bitmap.h"
#include "platform/media/MediaDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

const uint32 kCodes[] = {'WMV1', 'WMV2', 'MP43', 'MP42', 'XVID', 'DX50'};

// The next record, or false at the end.
bool next_record(const uint8_t*& data, size_t& size, const uint8_t** record, size_t* length)
{
    if (size < 2)
        return false;
    size_t wanted = size_t(data[0]) | size_t(data[1]) << 8;
    data += 2;
    size -= 2;
    *length = wanted < size ? wanted : size;
    *record = data;
    data += *length;
    size -= *length;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    uint32 code = kCodes[data[0] % (sizeof(kCodes) / sizeof(kCodes[0]))];
    int32 width = 16 * (1 + data[1] % 40);
    int32 height = 16 * (1 + data[2] % 30);
    data += 3;
    size -= 3;

    media_format_description description;
    description.family = B_AVI_FORMAT_FAMILY;
    description.u.avi.codec = code;
    media_format format;
    BMediaFormats formats;
    if (formats.GetFormatFor(description, &format) != B_OK)
        return 0;
    format.u.encoded_video.output.display.line_width = uint32(width);
    format.u.encoded_video.output.display.line_count = uint32(height);
    const uint8_t* info = nullptr;
    size_t infoSize = 0;
    next_record(data, size, &info, &infoSize);
    BMediaBufferDecoder decoder(&format, infoSize > 0 ? info : nullptr, infoSize);
    if (decoder.InitCheck() != B_OK)
        return 0;
    format.type = B_MEDIA_RAW_VIDEO;
    if (decoder.SetOutputFormat(&format) != B_OK)
        return 0;
    BBitmap bitmap(BRect(0, 0, float(width - 1), float(height - 1)), B_RGB32);
    const uint8_t* frame;
    size_t length;
    while (next_record(data, size, &frame, &length)) {
        int64 count = 0;
        media_header header;
        decoder.DecodeBuffer(frame, length, bitmap.Bits(), &count, &header);
    }
    return 0;
}
