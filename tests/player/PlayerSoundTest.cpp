// The audio path with a real codec module: the tests' IMA ADPCM driver
// installed as "L3codeca.acm" converts streams whose format tag is 0x55.

#include "ASFTestWriter.h"
#include "MediaFiles.h"
#include "PlayerProbe.h"

#include "platform/storage/Entry.h"
#include "player/ASFPlayer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace
{

const int kDummyDisplay = setenv("SDL_VIDEODRIVER", "dummy", 1);

std::string asf_file(const char* name)
{
    return std::string(REELMOTH_TEST_DATA) + "/asf/" + name;
}

CASFPlayer* open_player(const std::string& path)
{
    entry_ref ref;
    EXPECT_EQ(get_ref_for_path(path.c_str(), &ref), B_OK);
    return new CASFPlayer(&ref);
}

uint32 queued(CASFPlayer* player)
{
    BAutolock locked(player_probe::PCMLock(player));
    return player_probe::PCMData(player).Length();
}

// Installs the driver in a data folder of the test's own, plays sound to
// SDL's disk driver, and makes tagged copies of test files.
class PlayerSound : public testing::Test
{
protected:
    void SetUp() override
    {
        std::string module = std::string(REELMOTH_TEST_MODULES) + "/L3codeca.acm";
        char pattern[] = "/tmp/reelmoth-player-data-XXXXXX";
        fFolder = mkdtemp(pattern);
        std::string decoders = fFolder + "/reelmoth/media/decoders";
        std::filesystem::create_directories(decoders);
        std::filesystem::copy_file(module, decoders + "/L3codeca.acm");
        setenv("XDG_DATA_HOME", fFolder.c_str(), 1);
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (fFolder + "/sound.raw").c_str(), 1);
    }
    void TearDown() override
    {
        if (fFolder.empty())
            return;
        std::error_code ignored;
        std::filesystem::remove_all(fFolder, ignored);
    }

    // A copy of a test file whose audio carries format tag 0x55.
    std::string Tagged(const char* name)
    {
        std::string path = fFolder + "/" + name;
        std::filesystem::copy_file(asf_file(name), path);
        EXPECT_TRUE(set_audio_format_tag(path, 0x55));
        return path;
    }

    std::string Write(const bytes_t& bytes)
    {
        std::string path = fFolder + "/written.asf";
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }

    std::string fFolder;
};

} // namespace

TEST_F(PlayerSound, AStreamWithoutBlockAlignmentIsNotPlayed)
{
    // IMA ADPCM at 22.05 kHz mono as the driver describes it: 4 bits, two
    // bytes of codec data holding the samples per block.
    bytes_t samplesPerBlock = {0xF9, 0x03}; // 1017
    for (uint16 blockAlign : {uint16(512), uint16(0)}) {
        test_file file;
        test_stream audio = audio_stream(1, 0x55, blockAlign);
        audio.typeData = make_wave_format(0x55, 1, 22050, blockAlign, 4, samplesPerBlock);
        file.header.streams = {audio};
        CASFPlayer* player = open_player(Write(make_file(file)));
        EXPECT_EQ(player_probe::AudioStream(player), blockAlign == 0 ? -1 : 0) << blockAlign;
        EXPECT_EQ(player->InitCheck(), blockAlign == 0 ? -1 : 0);
        player->Quit();
        std::filesystem::remove(fFolder + "/written.asf");
    }
}

TEST_F(PlayerSound, WholeBlocksAreConvertedAndAShortRemainderWaits)
{
    std::string path = Tagged("imaadpcm-22k-mono.wma");
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(path, 0, &stream));
    bytes_t audio;
    for (const auto& object : stream.objects)
        audio.insert(audio.end(), object.data.begin(), object.data.end());
    CASFPlayer* player = open_player(path);
    ASSERT_EQ(player_probe::AudioStream(player), 0);
    player_probe::StopAudioThread(player); // the queue stays as the reader leaves it
    const uint32 block = 1024, pcmPerBlock = (1 + (block - 4) * 2) * 2;

    // One and a half blocks: one converted, half a block waits.
    player_probe::AudioData(player).Write(audio.data(), block * 3 / 2);
    CASFPlayer::FlushFunctionWrapper(0, false, 0, player);
    EXPECT_EQ(player_probe::AudioData(player).Length(), block / 2);
    EXPECT_EQ(queued(player), pcmPerBlock);
    player_probe::AudioData(player).Write(audio.data() + block * 3 / 2, block / 2);
    CASFPlayer::FlushFunctionWrapper(0, false, 0, player);
    EXPECT_EQ(player_probe::AudioData(player).Length(), 0u);
    EXPECT_EQ(queued(player), 2 * pcmPerBlock);

    // They are ffmpeg's decode of the same two blocks.
    bytes_t decoded;
    ASSERT_TRUE(ffmpeg_samples(asf_file("imaadpcm-22k-mono.wma"), &decoded));
    ASSERT_GE(decoded.size(), 2 * pcmPerBlock);
    EXPECT_EQ(memcmp(player_probe::PCMData(player).Data(), decoded.data(), 2 * pcmPerBlock), 0);

    // A skip drops the compressed bytes, never the PCM.
    player_probe::AudioData(player).Write(audio.data(), block / 3);
    CASFPlayer::SkipFunctionWrapper(0, player);
    EXPECT_EQ(player_probe::AudioData(player).Length(), 0u);
    EXPECT_EQ(queued(player), 2 * pcmPerBlock);
    player->Quit();
}

TEST_F(PlayerSound, AnAudioOnlyFileIsConvertedAboutTwoSecondsAhead)
{
    CASFPlayer* player = open_player(Tagged("imaadpcm-22k-mono-long.wma"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    ASSERT_EQ(player_probe::AudioStream(player), 0);
    EXPECT_EQ(player_probe::PCMLimit(player), 22050u * 2 * 2);
    player->Show();
    player->Start();
    // The reader fills the queue to its bound and then keeps pace with the
    // sound output, far from the end of the ten-second file.
    for (int i = 0; i < 200 && queued(player) < player_probe::PCMLimit(player); i++)
        snooze(10000);
    for (int i = 0; i < 10; i++, snooze(50000)) {
        uint32 length = queued(player);
        EXPECT_GE(length + 4 * 2048, player_probe::PCMLimit(player));
        EXPECT_LE(length, player_probe::PCMLimit(player) + 2041 * 2);
    }
    ASSERT_TRUE(player->Lock());
    player->Quit(); // the reader waiting for room stops at once
}
