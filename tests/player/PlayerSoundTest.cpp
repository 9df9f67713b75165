// The audio path with a real codec module: the tests' IMA ADPCM driver
// installed as "L3codeca.acm" converts streams whose format tag is 0x55.

#include "ASFTestWriter.h"
#include "MediaFiles.h"

#include "platform/storage/Entry.h"
#include "player/ASFPlayer.h"
#include "player/SoundDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
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
        // Modules only: FFmpeg's MP3 decoder needs no block size.
        setenv("REELMOTH_AUDIO", "modules", 1);
        CASFPlayer* player = open_player(Write(make_file(file)));
        unsetenv("REELMOTH_AUDIO");
        EXPECT_EQ(player->AudioStream(), blockAlign == 0 ? -1 : 0) << blockAlign;
        // A sound-only file makes a player either way, to say what it plays.
        EXPECT_EQ(player->InitCheck(), B_OK);
        player->Quit();
        std::filesystem::remove(fFolder + "/written.asf");
    }
}

TEST_F(PlayerSound, ObjectsOfAnyLengthPlayAsFFmpegDecodesThemWithoutAGap)
{
    std::string path = Tagged("imaadpcm-22k-mono.wma");
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(path, 0, &stream));
    bytes_t audio;
    for (const auto& object : stream.objects)
        audio.insert(audio.end(), object.data.begin(), object.data.end());
    CASFPlayer* player = open_player(path);
    ASSERT_EQ(player->AudioStream(), 0);
    CAudioPath* sound = player->Audio();

    // Objects that end inside blocks (the block is 1024 bytes): a short
    // rest waits for the next object.
    const size_t sizes[] = {1536, 512, 700, 1, 3000};
    size_t at = 0;
    for (size_t k = 0; at < audio.size(); k++) {
        size_t size = min_c(sizes[k % 5], audio.size() - at);
        auto object = std::make_unique<media_object>();
        object->data.assign(audio.begin() + long(at), audio.begin() + long(at + size));
        sound->Queue().Push(std::move(object));
        at += size;
    }
    sound->Queue().SetEnded();
    sound->Start();
    for (int i = 0; i < 400 && !sound->AllQueued(); i++)
        snooze(10000);
    snooze(800000); // the pages queued play out
    player->Quit();

    // What was played is ffmpeg's decode, from its first to its last
    // sample, without a sample of silence between.
    bytes_t decoded;
    ASSERT_TRUE(ffmpeg_samples(asf_file("imaadpcm-22k-mono.wma"), &decoded));
    std::vector<int16> expected(decoded.size() / 2);
    memcpy(expected.data(), decoded.data(), expected.size() * 2);
    std::vector<int16> played = read_samples(fFolder + "/sound.raw");
    auto silent = [](int16 s) { return s == 0; };
    auto from = std::find_if_not(played.begin(), played.end(), silent);
    auto expectedFrom = std::find_if_not(expected.begin(), expected.end(), silent);
    ASSERT_NE(from, played.end());
    size_t length = size_t(expected.end() - expectedFrom);
    ASSERT_GE(size_t(played.end() - from), length);
    EXPECT_TRUE(std::equal(expectedFrom, expected.end(), from));
    EXPECT_TRUE(std::all_of(from + long(length), played.end(), silent));
}

TEST_F(PlayerSound, AModuleInItsHostDecodesAndRestartsAsInThePlayer)
{
    // The same stream through the module in a host process and in the
    // player's own, begun again in the middle as a seek does.
    std::string path = Tagged("imaadpcm-22k-mono.wma");
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(path, 0, &stream));
    sound_stream_format format;
    ASSERT_TRUE(read_sound_format(stream.format.data(), uint32(stream.format.size()), &format));
    // Before and after the restart. Before it the player's queue runs dry
    // for a while: meanwhile what the host decoded comes back, all of it.
    bytes_t before[2], after[2];
    for (int hosted : {0, 1}) {
        setenv("REELMOTH_CODEC_PROCESS", hosted ? "1" : "0", 1);
        CResult why;
        std::unique_ptr<CSoundDecoder> decoder = choose_sound_decoder(format, &why);
        ASSERT_NE(decoder, nullptr) << why.Why();
        EXPECT_EQ(decoder->Description(), "codec module L3codeca.acm");
        CVariableBuffer out;
        ASSERT_TRUE(decoder->Restart());
        for (size_t k = 0; k < stream.objects.size(); k++) {
            if (k == stream.objects.size() / 2) {
                for (int i = 0; i < 400 && out.Length() < before[0].size(); i++) {
                    decoder->Idle(&out);
                    snooze(5000);
                }
                ASSERT_TRUE(decoder->Restart());
                auto* bytes = static_cast<const uint8*>(out.Data());
                before[hosted].assign(bytes, bytes + out.Length());
                out.MakeEmpty(true);
            }
            decoder->Decode(stream.objects[k].data.data(), stream.objects[k].data.size(), &out);
        }
        decoder->Finish(&out);
        auto* bytes = static_cast<const uint8*>(out.Data());
        after[hosted].assign(bytes, bytes + out.Length());
    }
    unsetenv("REELMOTH_CODEC_PROCESS");
    EXPECT_GT(after[1].size(), 10000u);
    EXPECT_TRUE(after[0] == after[1]);
    EXPECT_GT(before[0].size(), 10000u);
    EXPECT_TRUE(before[0] == before[1]);
}

TEST_F(PlayerSound, AnAudioOnlyFileIsQueuedAtLeastTwoSecondsAhead)
{
    CASFPlayer* player = open_player(Tagged("imaadpcm-22k-mono-long.wma"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    ASSERT_EQ(player->AudioStream(), 0);
    player->Show();
    player->Start();
    // The reader fills the queue to its bound and then keeps pace with the
    // sound output, far from the end of the ten-second file.
    CMediaQueue& queue = player->Audio()->Queue();
    for (int i = 0; i < 200 && queue.Span() < CPlayerReader::kAheadTime; i++)
        snooze(10000);
    for (int i = 0; i < 10; i++, snooze(50000)) {
        EXPECT_GE(queue.Span(), 2000u);
        // One packet more at most.
        EXPECT_LE(queue.Span(), CPlayerReader::kAheadTime + 500);
    }
    EXPECT_FALSE(player->Reader().AtEnd());
    ASSERT_TRUE(player->Lock());
    player->Quit(); // the reader waiting for room stops at once
}
