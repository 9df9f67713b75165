// The media kit on real streams made by ffmpeg: which codes find a decoder,
// and every picture decoded straight into memory equals ffmpeg's own decode
// of that frame converted to B, G, R, A.

#include "MediaFiles.h"

#include "platform/media/MediaDecoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace
{

std::string asf_file(const char* name)
{
    return std::string(REELMOTH_TEST_DATA) + "/asf/" + name;
}

// A four-character code as the player passes it: the first character in
// the highest byte.
uint32 code_of(const char* fourcc)
{
    return uint32(uint8(fourcc[0])) << 24 | uint32(uint8(fourcc[1])) << 16 |
           uint32(uint8(fourcc[2])) << 8 | uint8(fourcc[3]);
}

media_format_description avi_description(uint32 code)
{
    media_format_description description;
    description.family = B_AVI_FORMAT_FAMILY;
    description.u.avi.codec = code;
    return description;
}

// A decoder for the stream as the player makes one: the code from the
// format block, the picture size, the codec data after the 40-byte header.
std::unique_ptr<BMediaBufferDecoder> decoder_for(const stream_objects& stream,
                                                 uint32 bytesPerRow = 0)
{
    uint32 compression;
    memcpy(&compression, stream.format.data() + 16, 4);
    media_format format;
    BMediaFormats formats;
    EXPECT_EQ(formats.GetFormatFor(avi_description(__builtin_bswap32(compression)), &format), B_OK);
    format.u.encoded_video.output.display.line_width = uint32(stream.width);
    format.u.encoded_video.output.display.line_count = uint32(stream.height);
    format.u.encoded_video.output.last_active = uint32(stream.height - 1);
    const uint8* info = stream.format.size() > 40 ? stream.format.data() + 40 : nullptr;
    auto decoder = std::make_unique<BMediaBufferDecoder>(
        &format, info, stream.format.size() > 40 ? stream.format.size() - 40 : 0);
    EXPECT_EQ(decoder->InitCheck(), B_OK);
    format.type = B_MEDIA_RAW_VIDEO;
    format.u.raw_video.display.bytes_per_row = bytesPerRow;
    EXPECT_EQ(decoder->SetOutputFormat(&format), B_OK);
    return decoder;
}

std::vector<uint64> ffmpeg_checksums(const std::string& path, const stream_objects& stream)
{
    std::vector<uint64> sums;
    EXPECT_TRUE(ffmpeg_pictures(path, stream.width, stream.height, [&](const uint8* pixels) {
        sums.push_back(pixel_checksum(pixels, stream.width, stream.height));
    }));
    return sums;
}

} // namespace

TEST(MediaFormats, EveryCodeWithAVideoDecoderIsKnownOthersAreNot)
{
    BMediaFormats formats;
    for (const char* code : {"WMV1", "WMV2", "MP43", "DIV3", "MP42", "DX50", "XVID", "DIVX"}) {
        media_format format;
        ASSERT_EQ(formats.GetFormatFor(avi_description(code_of(code)), &format), B_OK) << code;
        EXPECT_EQ(format.type, B_MEDIA_ENCODED_VIDEO) << code;
        // The decoders write the bitmaps' colour space.
        EXPECT_EQ(format.u.encoded_video.output.display.format, B_RGB32) << code;
    }
    media_format format;
    EXPECT_EQ(formats.GetFormatFor(avi_description(code_of("XYZ0")), &format), B_MEDIA_BAD_FORMAT);
    EXPECT_EQ(formats.GetFormatFor(avi_description(code_of("abcd")), &format), B_MEDIA_BAD_FORMAT);
    media_format_description other = avi_description(code_of("WMV2"));
    other.family = B_QUICKTIME_FORMAT_FAMILY;
    EXPECT_EQ(formats.GetFormatFor(other, &format), B_MEDIA_BAD_FORMAT);
    EXPECT_EQ(formats.GetFormatFor(avi_description(code_of("WMV2")), nullptr), B_BAD_VALUE);
}

TEST(MediaDecoder, EveryPictureEqualsFFmpegsOwnDecode)
{
    for (const char* name :
         {"wmv1-wmav1-512.asf", "wmv2-wmav2-512.wmv", "msmpeg4v3-adpcm_ms-2048.asf",
          "msmpeg4v2-mp3-1024.asf", "mpeg4-wmav2-3200.asf", "mpeg4-xvid-640x480.asf",
          "wmv1-640x480.asf"}) {
        SCOPED_TRACE(name);
        stream_objects stream;
        ASSERT_TRUE(read_stream_objects(asf_file(name), 1, &stream));
        std::vector<uint64> expected = ffmpeg_checksums(asf_file(name), stream);
        ASSERT_EQ(expected.size(), stream.objects.size());

        auto decoder = decoder_for(stream);
        bytes_t picture(size_t(stream.width) * stream.height * 4);
        for (size_t i = 0; i < stream.objects.size(); i++) {
            int64 count = -1;
            media_header header;
            const bytes_t& data = stream.objects[i].data;
            ASSERT_EQ(
                decoder->DecodeBuffer(data.data(), data.size(), picture.data(), &count, &header),
                B_OK)
                << i;
            EXPECT_EQ(count, 1);
            ASSERT_EQ(pixel_checksum(picture.data(), stream.width, stream.height), expected[i])
                << "picture " << i;
        }
    }
}

TEST(MediaDecoder, RowsLandAtTheRequestedStrideAndNothingBeyond)
{
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(asf_file("wmv2-wmav2-512.wmv"), 1, &stream));
    std::vector<uint64> expected = ffmpeg_checksums(asf_file("wmv2-wmav2-512.wmv"), stream);
    int32 stride = stream.width * 4 + 64;
    auto decoder = decoder_for(stream, uint32(stride));
    bytes_t picture(size_t(stride) * stream.height + 64, 0xAB);
    int64 count = 0;
    media_header header;
    const bytes_t& first = stream.objects[0].data;
    ASSERT_EQ(decoder->DecodeBuffer(first.data(), first.size(), picture.data(), &count, &header),
              B_OK);
    EXPECT_EQ(pixel_checksum(picture.data(), stream.width, stream.height, stride), expected[0]);
    for (int32 y = 0; y < stream.height; y++) {
        for (int32 x = stream.width * 4; x < stride; x++)
            ASSERT_EQ(picture[size_t(y) * stride + x], 0xAB) << x << "," << y;
    }
    for (size_t i = size_t(stride) * stream.height; i < picture.size(); i++)
        ASSERT_EQ(picture[i], 0xAB);
    // Every pixel is opaque.
    for (int32 y = 0; y < stream.height; y++)
        EXPECT_EQ(picture[size_t(y) * stride + 3], 0xFF);
}

TEST(MediaDecoder, EmptyOrDamagedInputFailsAndTheNextKeyFrameDecodes)
{
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(asf_file("video-only-wmv2.wmv"), 1, &stream));
    std::vector<uint64> expected = ffmpeg_checksums(asf_file("video-only-wmv2.wmv"), stream);
    auto decoder = decoder_for(stream);
    bytes_t picture(size_t(stream.width) * stream.height * 4);
    int64 count = -1;
    media_header header;

    // Nothing at all, as the player's first flush of a stream hands over.
    EXPECT_LT(decoder->DecodeBuffer(picture.data(), 0, picture.data(), &count, &header), 0);
    EXPECT_EQ(count, 0);
    EXPECT_LT(decoder->DecodeBuffer(nullptr, 10, picture.data(), &count, &header), 0);
    const bytes_t& first = stream.objects[0].data;
    EXPECT_LT(decoder->DecodeBuffer(first.data(), first.size(), nullptr, &count, &header), 0);

    // Noise, and a key frame cut short: whatever comes out, nothing breaks.
    bytes_t noise(5000);
    for (size_t i = 0; i < noise.size(); i++)
        noise[i] = uint8(i * 7919 >> 3);
    decoder->DecodeBuffer(noise.data(), noise.size(), picture.data(), &count, &header);
    EXPECT_LE(count, 1);
    decoder->DecodeBuffer(first.data(), first.size() / 3, picture.data(), &count, &header);

    // The next key frame (every tenth) decodes as ffmpeg decodes it.
    const bytes_t& key = stream.objects[10].data;
    ASSERT_EQ(decoder->DecodeBuffer(key.data(), key.size(), picture.data(), &count, &header), B_OK);
    EXPECT_EQ(pixel_checksum(picture.data(), stream.width, stream.height), expected[10]);
}

TEST(MediaDecoder, ADecoderThatHoldsPicturesBackGivesAtMostOnePerInput)
{
    // MPEG-4 with B-frames: the decoder answers one input late.
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(asf_file("mpeg4-bframes.asf"), 1, &stream));
    std::vector<uint64> expected = ffmpeg_checksums(asf_file("mpeg4-bframes.asf"), stream);
    ASSERT_EQ(expected.size(), stream.objects.size());
    auto decoder = decoder_for(stream);
    bytes_t picture(size_t(stream.width) * stream.height * 4);
    std::vector<uint64> got;
    for (const stream_objects::object& object : stream.objects) {
        int64 count = -1;
        media_header header;
        status_t status = decoder->DecodeBuffer(object.data.data(), object.data.size(),
                                                picture.data(), &count, &header);
        EXPECT_EQ(count, status == B_OK ? 1 : 0);
        if (status == B_OK)
            got.push_back(pixel_checksum(picture.data(), stream.width, stream.height));
    }
    // In display order, all but the pictures still held at the end.
    ASSERT_GE(got.size() + 2, expected.size());
    ASSERT_LT(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); i++)
        EXPECT_EQ(got[i], expected[i]) << i;
}

TEST(MediaDecoder, FormatsItCannotDecodeAreRefused)
{
    BMediaFormats formats;
    media_format format;
    ASSERT_EQ(formats.GetFormatFor(avi_description(code_of("WMV2")), &format), B_OK);

    // No picture size, an absurd one, not encoded video, no format at all.
    BMediaBufferDecoder noSize(&format, nullptr, 0);
    EXPECT_LT(noSize.InitCheck(), 0);
    format.u.encoded_video.output.display.line_width = 100000;
    format.u.encoded_video.output.display.line_count = 240;
    BMediaBufferDecoder huge(&format, nullptr, 0);
    EXPECT_LT(huge.InitCheck(), 0);
    format.u.encoded_video.output.display.line_width = 320;
    media_format raw = format;
    raw.type = B_MEDIA_RAW_VIDEO;
    BMediaBufferDecoder notEncoded(&raw, nullptr, 0);
    EXPECT_LT(notEncoded.InitCheck(), 0);
    BMediaBufferDecoder none(nullptr, nullptr, 0);
    EXPECT_LT(none.InitCheck(), 0);
    bytes_t picture(320 * 240 * 4);
    int64 count = -1;
    EXPECT_EQ(none.DecodeBuffer(picture.data(), 10, picture.data(), &count, nullptr), B_NO_INIT);
    EXPECT_EQ(none.SetOutputFormat(&raw), B_NO_INIT);

    // Output in another colour space than the bitmaps' is refused.
    BMediaBufferDecoder decoder(&format, nullptr, 0);
    ASSERT_EQ(decoder.InitCheck(), B_OK);
    raw.u.raw_video.display.format = B_RGBA32;
    EXPECT_EQ(decoder.SetOutputFormat(&raw), B_MEDIA_BAD_FORMAT);
    raw.u.raw_video.display.format = B_NO_COLOR_SPACE;
    EXPECT_EQ(decoder.SetOutputFormat(&raw), B_OK);
    EXPECT_EQ(raw.u.raw_video.display.format, B_RGB32);
    EXPECT_EQ(raw.u.raw_video.display.bytes_per_row, 320u * 4);
    EXPECT_EQ(decoder.SetOutputFormat(&format), B_MEDIA_BAD_FORMAT); // still encoded
}
