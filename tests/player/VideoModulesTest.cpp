// Wine's Video for Windows modules, real modules nobody here wrote, decode
// ffmpeg's files picture for picture as ffmpeg does, in their codec host
// process and in the player's own.
#include "MediaFiles.h"

#include "player/PictureDecoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace
{

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

    std::string fFolder;
    std::string fDecoders;
};

} // namespace

// Cinepak's pictures are YUV: Wine's decoder rounds half the chroma down in
// green where ffmpeg's rounds it towards zero, so green may differ by one.
// Everything else is exact: the same pictures, in order, none missing.
TEST_F(VideoModules, WinesModulesDecodeEveryPictureAsFFmpegDoes)
{
    struct video_case {
        const char* module;
        const char* file;
        int greenTolerance;
    };
    const video_case cases[] = {
        {"iccvid.dll", "cinepak-imaadpcm.asf", 1},
        {"msvidc32.dll", "msvideo1-imaadpcm.asf", 0},
    };
    for (const video_case& test : cases) {
        SCOPED_TRACE(test.module);
        Install(test.module);
        std::string path = std::string(REELMOTH_TEST_DATA) + "/asf/" + test.file;
        stream_objects stream;
        ASSERT_TRUE(read_stream_objects(path, 1, &stream));
        std::vector<bytes_t> expected;
        ASSERT_TRUE(ffmpeg_pictures(path, stream.width, stream.height, [&](const uint8* p) {
            expected.emplace_back(p, p + size_t(stream.width) * stream.height * 4);
        }));
        picture_stream_format format;
        ASSERT_TRUE(
            read_picture_format(stream.format.data(), uint32(stream.format.size()), &format));
        for (int hosted : {1, 0}) {
            SCOPED_TRACE(hosted ? "in its host" : "in the player");
            setenv("REELMOTH_CODEC_PROCESS", hosted ? "1" : "0", 1);
            std::string why;
            std::unique_ptr<CPictureDecoder> decoder = choose_picture_decoder(format, &why);
            ASSERT_NE(decoder, nullptr) << why;
            EXPECT_EQ(decoder->Description(), std::string("codec module ") + test.module);
            std::vector<bytes_t> pictures = Decode(decoder.get(), stream);
            ASSERT_EQ(pictures.size(), expected.size());
            for (size_t i = 0; i < pictures.size(); i++) {
                const bytes_t& got = pictures[i];
                const bytes_t& want = expected[i];
                size_t bad = 0;
                for (size_t j = 0; j < got.size(); j++) {
                    int tolerance = j % 4 == 1 ? test.greenTolerance : 0;
                    bad += std::abs(int(got[j]) - int(want[j])) > tolerance;
                }
                ASSERT_EQ(bad, 0u) << "picture " << i;
            }
        }
    }
}
