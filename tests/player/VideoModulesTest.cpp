// Wine's Video for Windows modules, real modules nobody here wrote, decode
// ffmpeg's files picture for picture as ffmpeg does, in their codec host
// process and in the player's own.
#include "ASFTestWriter.h"
#include "MediaFiles.h"
#include "RLE8Encoder.h"

#include "codec/DecoderModules.h"
#include "player/PictureDecoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace
{

// The colour bytes of two B, G, R, A pictures that differ, green by more
// than `greenTolerance`. Alpha is left out: the window's bitmaps are
// opaque, and ffmpeg gives a palette's pictures the palette's fourth byte.
size_t differences(const bytes_t& a, const bytes_t& b, int greenTolerance)
{
    size_t count = a.size() == b.size() ? 0 : 1;
    for (size_t j = 0; j < a.size() && j < b.size(); j++) {
        if (j % 4 != 3)
            count += std::abs(int(a[j]) - int(b[j])) > (j % 4 == 1 ? greenTolerance : 0);
    }
    return count;
}

class VideoModules : public testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/reelmoth-video-modules-XXXXXX";
        fFolder = mkdtemp(pattern);
        fDecoders = fFolder + "/reelmoth/media/decoders";
        std::filesystem::create_directories(fDecoders);
        setenv("XDG_DATA_HOME", fFolder.c_str(), 1);
        setenv("REELMOTH_VIDEO", "modules", 1);
    }

    void TearDown() override
    {
        unsetenv("REELMOTH_VIDEO");
        unsetenv("REELMOTH_CODEC_PROCESS");
        std::filesystem::remove_all(fFolder);
    }

    void Install(const char* module)
    {
        std::filesystem::copy_file(std::string(REELMOTH_WINE_ACM_DIR) + "/" + module,
                                   fDecoders + "/" + module);
    }

    // The pictures `decoder` makes of the stream's objects.
    static std::vector<bytes_t> Decode(CPictureDecoder* decoder, const stream_objects& stream)
    {
        std::vector<bytes_t> pictures;
        bytes_t picture(size_t(stream.width) * stream.height * 4);
        for (const auto& object : stream.objects) {
            media_object media;
            media.data = object.data;
            media.time = object.time;
            media.keyFrame = object.keyFrame;
            if (decoder->Decode(media, picture.data(), stream.width * 4) == B_OK)
                pictures.push_back(picture);
        }
        return pictures;
    }

    // A movie of 8-bit pictures in RLE8 (160x120, 25 per second, a key
    // frame every ten): a gradient, a box that moves and scattered dots.
    // Its pictures as B, G, R, 255 go to *pictures.
    std::string WriteRLE8Movie(std::vector<bytes_t>* pictures)
    {
        constexpr int32 kWidth = 160, kHeight = 120, kCount = 40;
        bytes_t palette(256 * 4);
        for (int i = 0; i < 256; i++) {
            palette[4 * i] = uint8(i);
            palette[4 * i + 1] = uint8(255 - i);
            palette[4 * i + 2] = uint8(i * 7);
        }
        test_file file;
        file.header.minPacketSize = file.header.maxPacketSize = 32768;
        test_stream video = video_stream(1, kWidth, kHeight);
        video.typeData = make_video_format(kWidth, kHeight, "\1\0\0", palette);
        video.typeData[11 + 14] = 8; // biBitCount
        video.typeData[11 + 32] = 0; // biClrUsed 0: all 256
        file.header.streams = {video};
        bytes_t previous;
        for (int32 k = 0; k < kCount; k++) {
            bytes_t picture(size_t(kWidth) * kHeight);
            for (int32 y = 0; y < kHeight; y++) {
                for (int32 x = 0; x < kWidth; x++) {
                    uint8 index = uint8(y * 2 % 200);
                    if (x >= 4 * k && x < 4 * k + 20 && y >= 30 && y < 60)
                        index = 250;
                    if ((x * 7 + y * 13 + k) % 29 == 0)
                        index = uint8(x + y);
                    picture[size_t(y) * kWidth + x] = index;
                }
            }
            bool key = k % 10 == 0;
            test_packet packet;
            packet.sendTime = uint32(40 * k);
            test_payload payload;
            payload.keyFrame = key;
            payload.objectNumber = uint32(k);
            payload.data = rle8_encode(picture, kWidth, kHeight, key ? nullptr : &previous);
            payload.replicated.clear();
            append_le(payload.replicated, payload.data.size(), 4);
            append_le(payload.replicated, packet.sendTime + 3100, 4);
            packet.payloads = {payload};
            file.packets.push_back(make_packet(packet, 32768));
            bytes_t colours;
            for (uint8 index : picture)
                colours.insert(colours.end(), {palette[4 * index], palette[4 * index + 1],
                                               palette[4 * index + 2], 255});
            pictures->push_back(colours);
            previous = picture;
        }
        std::string path = fFolder + "/rle8.asf";
        bytes_t bytes = make_file(file);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }

    std::string fFolder;
    std::string fDecoders;
};

} // namespace

// Cinepak's pictures are YUV: Wine's decoder rounds half the chroma down in
// green where ffmpeg's rounds it towards zero, so green may differ by one.
// Everything else is exact: the same pictures, in order, none missing. The
// RLE8 movie keeps unchanged pixels from picture to picture.
TEST_F(VideoModules, WinesModulesDecodeEveryPictureAsFFmpegDoes)
{
    struct video_case {
        const char* module;
        const char* driver;
        const char* file;
        int greenTolerance;
    };
    std::vector<bytes_t> encoded;
    std::string rle8 = WriteRLE8Movie(&encoded);
    const video_case cases[] = {
        {"iccvid.dll", "Cinepak Video c", "cinepak-imaadpcm.asf", 1},
        {"msvidc32.dll", "MS-CRAM", "msvideo1-imaadpcm.asf", 0},
        {"msrle32.dll", "WINE-MS-RLE", nullptr, 0},
    };
    for (const video_case& test : cases) {
        SCOPED_TRACE(test.module);
        Install(test.module);
        std::string path =
            test.file != nullptr ? std::string(REELMOTH_TEST_DATA) + "/asf/" + test.file : rle8;
        stream_objects stream;
        ASSERT_TRUE(read_stream_objects(path, 1, &stream));
        std::vector<bytes_t> expected;
        ASSERT_TRUE(ffmpeg_pictures(path, stream.width, stream.height, [&](const uint8* p) {
            expected.emplace_back(p, p + size_t(stream.width) * stream.height * 4);
        }));
        // The tests' encoder is checked by ffmpeg's decoder first.
        if (test.file == nullptr) {
            ASSERT_EQ(expected.size(), encoded.size());
            for (size_t i = 0; i < expected.size(); i++)
                ASSERT_EQ(differences(expected[i], encoded[i], 0), 0u) << "picture " << i;
        }
        picture_stream_format format;
        ASSERT_TRUE(
            read_picture_format(stream.format.data(), uint32(stream.format.size()), &format));
        for (int hosted : {1, 0}) {
            SCOPED_TRACE(hosted ? "in its host" : "in the player");
            setenv("REELMOTH_CODEC_PROCESS", hosted ? "1" : "0", 1);
            CResult why;
            std::unique_ptr<CPictureDecoder> decoder = choose_picture_decoder(format, &why);
            ASSERT_NE(decoder, nullptr) << why.Why();
            EXPECT_EQ(decoder->Description(), std::string("codec module ") + test.module);
            if (hosted) {
                // Its name from its English string table (LoadStringW).
                for (const decoder_module& module : decoder_modules()) {
                    if (module.file == test.module) {
                        EXPECT_EQ(module.driver, test.driver);
                    }
                }
            }
            std::vector<bytes_t> pictures = Decode(decoder.get(), stream);
            ASSERT_EQ(pictures.size(), expected.size());
            for (size_t i = 0; i < pictures.size(); i++)
                ASSERT_EQ(differences(pictures[i], expected[i], test.greenTolerance), 0u)
                    << "picture " << i;
        }
    }
}

// A module that cannot take the stream's format, and one that faults on its
// tenth picture: the pictures come from FFmpeg, none missing, and the
// faulting module is not chosen again.
TEST_F(VideoModules, PicturesGoOnWithFFmpegWhenTheModuleFailsOrFaults)
{
    std::vector<bytes_t> expected;
    std::string path = WriteRLE8Movie(&expected);
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(path, 1, &stream));
    picture_stream_format format;
    ASSERT_TRUE(read_picture_format(stream.format.data(), uint32(stream.format.size()), &format));
    for (const char* module : {"failquery.dll", "faultvidc.dll"}) {
        for (int hosted : {1, 0}) {
            SCOPED_TRACE(std::string(module) + (hosted ? " in its host" : " in the player"));
            setenv("REELMOTH_CODEC_PROCESS", hosted ? "1" : "0", 1);
            std::filesystem::copy_file(std::string(REELMOTH_TEST_MODULES) + "/" + module,
                                       fDecoders + "/" + module);
            CResult why;
            std::unique_ptr<CPictureDecoder> decoder = choose_picture_decoder(format, &why);
            ASSERT_NE(decoder, nullptr) << why.Why();
            bool faults = std::string(module) == "faultvidc.dll";
            EXPECT_EQ(decoder->Description(),
                      faults ? std::string("codec module ") + module : "FFmpeg msrle");
            std::vector<bytes_t> pictures = Decode(decoder.get(), stream);
            ASSERT_EQ(pictures.size(), expected.size());
            for (size_t i = 0; i < pictures.size(); i++)
                ASSERT_EQ(differences(pictures[i], expected[i], 0), 0u) << "picture " << i;
            EXPECT_EQ(decoder->Description(), "FFmpeg msrle");
            decoder.reset();
            if (faults) {
                // Remembered: the next stream goes straight to FFmpeg.
                decoder = choose_picture_decoder(format, &why);
                ASSERT_NE(decoder, nullptr);
                EXPECT_EQ(decoder->Description(), "FFmpeg msrle");
            }
            std::filesystem::remove(fDecoders + "/" + module);
        }
    }
}

// A format only the module knows: after its fault no picture can come, and
// the decoder says why (the window shows it while the sound plays on).
TEST_F(VideoModules, AFormatOnlyTheFaultingModuleKnowsEndsWithTheReason)
{
    std::vector<bytes_t> expected;
    std::string path = WriteRLE8Movie(&expected);
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(path, 1, &stream));
    memcpy(stream.format.data() + 16, "TRLE", 4);
    picture_stream_format format;
    ASSERT_TRUE(read_picture_format(stream.format.data(), uint32(stream.format.size()), &format));
    setenv("REELMOTH_VIDEO", "auto", 1);
    CResult why;
    EXPECT_EQ(choose_picture_decoder(format, &why), nullptr);
    EXPECT_EQ(why.Why(), "No decoder for video format TRLE");
    std::filesystem::copy_file(std::string(REELMOTH_TEST_MODULES) + "/faultvidc.dll",
                               fDecoders + "/faultvidc.dll");
    std::unique_ptr<CPictureDecoder> decoder = choose_picture_decoder(format, &why);
    ASSERT_NE(decoder, nullptr) << why.Why();
    std::vector<bytes_t> pictures = Decode(decoder.get(), stream);
    ASSERT_EQ(pictures.size(), 9u);
    for (size_t i = 0; i < pictures.size(); i++)
        ASSERT_EQ(differences(pictures[i], expected[i], 0), 0u) << "picture " << i;
    EXPECT_EQ(decoder->Failure(), "The pictures cannot be decoded: faultvidc.dll faulted");
}
