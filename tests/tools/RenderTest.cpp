// reelmoth-render against ffmpeg: a movie whose sound goes through a codec
// module (the tests' IMA ADPCM driver as "L3codeca.acm", the copy's tag
// made 0x55) renders to ffmpeg's own decode, sample for sample and picture
// for picture, whole or cut; a damaged file renders what can be read and
// says what could not.
#include "MediaFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

const std::string kTool = std::string(REELMOTH_TOOLS_DIR) + "/reelmoth-render";
const char kMovie[] = "wmv2-imaadpcm-long.asf"; // 8 s, 320x240 at 25, 22.05 kHz mono
constexpr size_t kRate = 22050;
constexpr size_t kPictureSize = 320 * 240 * 3 / 2;

bytes_t read_file(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return bytes_t(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The frames of a YUV4MPEG2 file.
std::vector<bytes_t> y4m_frames(const bytes_t& file)
{
    std::vector<bytes_t> frames;
    auto at = std::find(file.begin(), file.end(), uint8('\n'));
    const std::string marker = "FRAME\n";
    while (at != file.end() && size_t(file.end() - at) > marker.size() + kPictureSize) {
        at += 1 + long(marker.size());
        frames.emplace_back(at, at + long(kPictureSize));
        at += long(kPictureSize) - 1;
    }
    return frames;
}

class Render : public testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/reelmoth-render-XXXXXX";
        fFolder = mkdtemp(pattern);
        std::string decoders = fFolder + "/data/reelmoth/media/decoders";
        std::filesystem::create_directories(decoders);
        std::filesystem::copy_file(std::string(REELMOTH_TEST_MODULES) + "/L3codeca.acm",
                                   decoders + "/L3codeca.acm");
        std::string original = std::string(REELMOTH_TEST_DATA) + "/asf/" + kMovie;
        fMovie = fFolder + "/movie.asf";
        std::filesystem::copy_file(original, fMovie);
        ASSERT_TRUE(set_audio_format_tag(fMovie, 0x55));
        ASSERT_TRUE(ffmpeg_samples(original, &fSound));
        fPictures = Ffmpeg420(original);
        ASSERT_EQ(fPictures.size(), 200u);
    }

    void TearDown() override { std::filesystem::remove_all(fFolder); }

    static std::vector<bytes_t> Ffmpeg420(const std::string& path)
    {
        std::vector<bytes_t> pictures;
        FILE* pipe = popen(("ffmpeg -hide_banner -loglevel error -nostdin -i '" + path +
                            "' -map 0:v:0 -f rawvideo -pix_fmt yuv420p -")
                               .c_str(),
                           "r");
        bytes_t picture(kPictureSize);
        while (pipe != nullptr && fread(picture.data(), 1, kPictureSize, pipe) == kPictureSize)
            pictures.push_back(picture);
        if (pipe != nullptr)
            pclose(pipe);
        return pictures;
    }

    // Runs the tool on `movie` with `options`; its status, stderr in *errors.
    int RenderFile(const std::string& movie, const std::string& options, std::string* errors)
    {
        std::string log = fFolder + "/errors.txt";
        std::string command = "REELMOTH_DEBUG=1 XDG_DATA_HOME='" + fFolder +
                              "/data' XDG_CONFIG_HOME='" + fFolder + "/config' '" + kTool + "' " +
                              options + " --audio='" + fFolder + "/sound.wav' --video='" + fFolder +
                              "/pictures.y4m' '" + movie + "' >/dev/null 2>'" + log + "'";
        int status = system(command.c_str());
        bytes_t text = read_file(log);
        errors->assign(text.begin(), text.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    bytes_t Sound() const
    {
        bytes_t wave = read_file(fFolder + "/sound.wav");
        return wave.size() >= 44 ? bytes_t(wave.begin() + 44, wave.end()) : bytes_t();
    }

    std::string fFolder;
    std::string fMovie;
    bytes_t fSound;
    std::vector<bytes_t> fPictures;
};

} // namespace

TEST_F(Render, SoundThroughAModuleAndPicturesAreFFmpegsDecodeWholeOrCut)
{
    std::string errors;
    ASSERT_EQ(RenderFile(fMovie, "", &errors), 0) << errors;
    EXPECT_NE(errors.find("sound: format 0x0055 by codec module L3codeca.acm"), std::string::npos)
        << errors;
    EXPECT_TRUE(Sound() == fSound);
    std::vector<bytes_t> frames = y4m_frames(read_file(fFolder + "/pictures.y4m"));
    EXPECT_TRUE(frames == fPictures);
    bytes_t header = read_file(fFolder + "/pictures.y4m");
    EXPECT_EQ(std::string(header.begin(), header.begin() + 42),
              "YUV4MPEG2 W320 H240 F25:1 Ip A1:1 C420jpeg");

    // From 2.5 s for 3 s: the sound from its 2.5 s on, the pictures from
    // the first at or after it (the 63rd, at 2.52 s), 75 of them.
    ASSERT_EQ(RenderFile(fMovie, "--start=2.5 --duration=3", &errors), 0) << errors;
    bytes_t cut = Sound();
    size_t from = size_t(2.5 * kRate) * 2;
    ASSERT_EQ(cut.size(), 3 * kRate * 2);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), fSound.begin() + long(from)));
    frames = y4m_frames(read_file(fFolder + "/pictures.y4m"));
    ASSERT_EQ(frames.size(), 75u);
    EXPECT_TRUE(std::equal(frames.begin(), frames.end(), fPictures.begin() + 63));
}

TEST_F(Render, ADamagedFileRendersWhatCanBeReadAndSaysWhatCouldNot)
{
    // Cut short at 60 %: the sound and pictures up to there, one line why,
    // and status 1.
    std::string cut = fFolder + "/cut.asf";
    bytes_t bytes = read_file(fMovie);
    bytes.resize(bytes.size() * 6 / 10);
    std::ofstream(cut, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    std::string errors;
    EXPECT_EQ(RenderFile(cut, "", &errors), 1);
    EXPECT_NE(errors.find("cut.asf: the file ends before its data do: it was cut short\n"),
              std::string::npos)
        << errors;
    bytes_t sound = Sound();
    EXPECT_GT(sound.size(), fSound.size() / 3);
    EXPECT_TRUE(std::equal(sound.begin(), sound.end(), fSound.begin()));
    // The last picture's object is cut short too: drawn as far as it goes.
    std::vector<bytes_t> frames = y4m_frames(read_file(fFolder + "/pictures.y4m"));
    ASSERT_GT(frames.size(), 60u);
    EXPECT_TRUE(std::equal(frames.begin(), frames.end() - 1, fPictures.begin()));
}
