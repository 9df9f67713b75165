// FFmpeg's sound decoders behind the media kit, on real streams made by
// ffmpeg: the media objects as the player receives them, decoded block by
// block, give exactly ffmpeg's own decode of the file.

#include "MediaFiles.h"

#include "platform/media/MediaAudioDecoder.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

std::string asf_file(const char* name)
{
    return std::string(REELMOTH_TEST_DATA) + "/asf/" + name;
}

template <typename T>
T read_le(const bytes_t& bytes, size_t at)
{
    T value = 0;
    memcpy(&value, bytes.data() + at, sizeof(T));
    return value;
}

// The stream's WAVE format block as the player reads it.
wave_format_info wave_format(const stream_objects& stream)
{
    wave_format_info format;
    EXPECT_GE(stream.format.size(), 16u);
    format.tag = read_le<uint16>(stream.format, 0);
    format.channels = read_le<uint16>(stream.format, 2);
    format.rate = read_le<uint32>(stream.format, 4);
    format.bytesPerSecond = read_le<uint32>(stream.format, 8);
    format.blockAlign = read_le<uint16>(stream.format, 12);
    format.bitsPerSample = read_le<uint16>(stream.format, 14);
    if (stream.format.size() > 18) {
        size_t extra =
            std::min<size_t>(read_le<uint16>(stream.format, 16), stream.format.size() - 18);
        format.extra.assign(stream.format.begin() + 18, stream.format.begin() + 18 + long(extra));
    }
    return format;
}

std::vector<int16> ffmpeg_decode(const std::string& path)
{
    bytes_t bytes;
    EXPECT_TRUE(ffmpeg_samples(path, &bytes)) << path;
    std::vector<int16> samples(bytes.size() / 2);
    memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

} // namespace

TEST(AudioDecoder, DecodesWhatFfmpegEncodedToTheSameSamples)
{
    for (const char* name :
         {"wmv1-wmav1-512.asf", "wmv2-wmav2-512.wmv", "audio-only-wmav2-600.wma",
          "mpeg4-wmav2-3200.asf", "msmpeg4v3-adpcm_ms-2048.asf", "audio-only-adpcm_ms.wma",
          "imaadpcm-48k-stereo.wma", "imaadpcm-22k-mono.wma", "msmpeg4v2-mp3-1024.asf"}) {
        SCOPED_TRACE(name);
        std::string path = asf_file(name);
        stream_objects stream;
        ASSERT_TRUE(read_stream_objects(path, 0, &stream));
        BMediaAudioDecoder decoder(wave_format(stream));
        ASSERT_EQ(decoder.InitCheck(), B_OK);
        std::vector<int16> decoded;
        for (const stream_objects::object& object : stream.objects)
            EXPECT_EQ(decoder.Decode(object.data.data(), object.data.size(), &decoded), B_OK);
        EXPECT_EQ(decoder.Drain(&decoded), B_OK);
        std::vector<int16> expected = ffmpeg_decode(path);
        ASSERT_EQ(decoded.size(), expected.size());
        for (size_t i = 0; i < decoded.size(); i++)
            ASSERT_EQ(decoded[i], expected[i]) << "sample " << i;
    }
}

TEST(AudioDecoder, RefusesWhatItCannotDecodeAndSurvivesDamagedBlocks)
{
    // No decoder for the tag; a format no stream has.
    wave_format_info unknown;
    unknown.tag = 0x7777;
    unknown.channels = 2;
    unknown.rate = 44100;
    EXPECT_NE(BMediaAudioDecoder(unknown).InitCheck(), B_OK);
    wave_format_info silly = unknown;
    silly.tag = 0x0161; // WMA 2
    silly.channels = 0;
    EXPECT_NE(BMediaAudioDecoder(silly).InitCheck(), B_OK);
    const char* name = nullptr;
    EXPECT_TRUE(media_audio_decoder_for_tag(0x0161, 16, &name));
    EXPECT_STREQ(name, "wmav2");
    EXPECT_FALSE(media_audio_decoder_for_tag(0x7777, 16, &name));

    // Garbage in every third object of a real stream, a reset half way:
    // most of the sound still comes out, and the process lives.
    std::string path = asf_file("audio-only-wmav2-600.wma");
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(path, 0, &stream));
    BMediaAudioDecoder decoder(wave_format(stream));
    ASSERT_EQ(decoder.InitCheck(), B_OK);
    std::vector<int16> decoded;
    for (size_t i = 0; i < stream.objects.size(); i++) {
        bytes_t data = stream.objects[i].data;
        if (i % 3 == 1) {
            for (size_t k = 0; k < data.size(); k++)
                data[k] = uint8(k * 131 + i);
        }
        decoder.Decode(data.data(), data.size(), &decoded);
        if (i == stream.objects.size() / 2)
            decoder.Reset();
    }
    decoder.Drain(&decoded);
    EXPECT_GT(decoded.size(), ffmpeg_decode(path).size() / 2);
}
