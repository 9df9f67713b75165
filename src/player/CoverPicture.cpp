#include "player/CoverPicture.h"

#include "platform/media/MediaDecoder.h"

namespace
{

constexpr int32 kLargestSide = 8192;

uint32 read_be16(const uint8* p)
{
    return uint32(p[0]) << 8 | p[1];
}

uint32 read_be32(const uint8* p)
{
    return read_be16(p) << 16 | read_be16(p + 2);
}

bool is_png(const std::vector<uint8>& data)
{
    static const uint8 kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return data.size() >= 24 && std::equal(kSignature, kSignature + 8, data.begin());
}

bool is_jpeg(const std::vector<uint8>& data)
{
    return data.size() >= 4 && data[0] == 0xFF && data[1] == 0xD8;
}

// The frame header of a JPEG: its markers in turn, each with its length.
bool jpeg_size(const std::vector<uint8>& data, uint32* width, uint32* height)
{
    size_t at = 2;
    while (at + 4 <= data.size()) {
        if (data[at] != 0xFF)
            return false;
        uint8 marker = data[at + 1];
        if (marker == 0xFF) {
            at++; // fill byte
            continue;
        }
        uint32 length = read_be16(&data[at + 2]);
        bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (at + 9 > data.size())
                return false;
            *height = read_be16(&data[at + 5]);
            *width = read_be16(&data[at + 7]);
            return true;
        }
        if (length < 2)
            return false;
        at += 2 + length;
    }
    return false;
}

} // namespace

bool cover_picture_size(const std::vector<uint8>& data, int32* width, int32* height)
{
    uint32 w = 0, h = 0;
    if (is_png(data)) {
        w = read_be32(&data[16]);
        h = read_be32(&data[20]);
    } else if (!is_jpeg(data) || !jpeg_size(data, &w, &h)) {
        return false;
    }
    if (w == 0 || h == 0 || w > uint32(kLargestSide) || h > uint32(kLargestSide))
        return false;
    *width = int32(w);
    *height = int32(h);
    return true;
}

std::unique_ptr<BBitmap> decode_cover_picture(const asf_picture& picture)
{
    int32 width, height;
    if (!cover_picture_size(picture.data, &width, &height))
        return nullptr;
    media_format_description description;
    description.family = B_AVI_FORMAT_FAMILY;
    description.u.avi.codec = is_png(picture.data) ? 'MPNG' : 'MJPG';
    media_format format;
    BMediaFormats formats;
    if (formats.GetFormatFor(description, &format) < B_OK)
        return nullptr;
    media_raw_video_format& output = format.u.encoded_video.output;
    output.display.line_width = uint32(width);
    output.display.line_count = uint32(height);
    output.last_active = uint32(height - 1);
    BMediaBufferDecoder decoder(&format, nullptr, 0);
    format.type = B_MEDIA_RAW_VIDEO;
    if (decoder.InitCheck() < B_OK || decoder.SetOutputFormat(&format) < B_OK)
        return nullptr;
    auto bitmap =
        std::make_unique<BBitmap>(BRect(0, 0, float(width - 1), float(height - 1)), B_RGB32);
    if (bitmap->InitCheck() < B_OK)
        return nullptr;
    int64 frames = 0;
    media_header header;
    if (decoder.DecodeBuffer(picture.data.data(), picture.data.size(), bitmap->Bits(), &frames,
                             &header) < B_OK ||
        frames != 1)
        return nullptr;
    return bitmap;
}
