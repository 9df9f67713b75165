// The real `reelmoth` under a private Xvfb: what a file says about itself
// (title, cover, captions, markers, protection), its best stream, and
// windows that open cascaded.

#include "ASFTestObjects.h"
#include "RecordedPlayer.h"
#include "XServerTest.h"

#include "asf/ASFObjectIds.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace
{

class FileInfoWindows : public x_server_test
{
};

bytes_t read_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    return bytes_t(text.begin(), text.end());
}

std::string write_temp(const bytes_t& bytes, const std::string& suffix)
{
    std::string path = "/tmp/reelmoth-info-" + std::to_string(getpid()) + suffix;
    FILE* out = fopen(path.c_str(), "wb");
    EXPECT_NE(out, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);
    return path;
}

// Waits (bounded) until `done` holds; whether it did.
template <typename Predicate>
bool eventually(Predicate done)
{
    for (int i = 0; i < 200 && !done(); i++)
        usleep(25000);
    return done();
}

} // namespace

TEST_F(FileInfoWindows, TitleAndCoverOfASongAProtectedFileAndWindowsCascaded)
{
    std::string jpegPath = "/tmp/reelmoth-info-" + std::to_string(getpid()) + ".jpg";
    ASSERT_EQ(run_command("ffmpeg -v error -y -f lavfi -i testsrc=size=96x64 -frames:v 1 '" +
                          jpegPath + "'"),
              0);
    uint64 cover = 0;
    ASSERT_TRUE(ffmpeg_pictures(
        jpegPath, 96, 64, [&](const uint8* pixels) { cover = pixel_checksum(pixels, 96, 64); }));
    test_file song;
    song.header.streams = {audio_stream(1)};
    song.header.otherObjects = {
        make_content_description("Love Is Strange", "Everything But the Girl"),
        make_extended_content_description(
            {{"WM/Picture", 1, make_picture_value(3, "image/jpeg", "", read_bytes(jpegPath))}})};
    std::string songPath = write_temp(make_file(song), ".wma");
    test_file locked;
    locked.header.streams = {video_stream(1, 160, 120)};
    locked.header.otherObjects = {make_encryption(asf_id::kExtendedContentEncryption)};
    std::string lockedPath = write_temp(make_file(locked), ".wmv");
    std::string log = "/tmp/reelmoth-info-" + std::to_string(getpid()) + ".frames";
    unlink(log.c_str());

    player_process player({songPath, lockedPath, asf_file("video-only-wmv2.wmv")}, false,
                          {"REELMOTH_FRAME_LOG=" + log});
    ASSERT_TRUE(sServer->WaitForWindows(3, kTimeout)) << player.ErrorOutput();
    auto windows = sServer->Windows();
    auto* first = sServer->Find(windows, "Love Is Strange \u2014 Everything But the Girl");
    auto* second = sServer->Find(windows, lockedPath.substr(5)); // no title: the file name
    auto* third = sServer->Find(windows, "video-only-wmv2.wmv");
    ASSERT_TRUE(first != nullptr && second != nullptr && third != nullptr);
    // Opened in that order, each further right and down.
    EXPECT_LT(first->x, second->x);
    EXPECT_LT(first->y, second->y);
    EXPECT_LT(second->x, third->x);
    EXPECT_LT(second->y, third->y);

    // The song's cover is ffmpeg's decode of its picture; the protected
    // file plays nothing and says so.
    ASSERT_TRUE(eventually([&] { return !read_frame_log(log).empty(); }));
    std::vector<drawn_frame> frames = read_frame_log(log);
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(),
                            [&](const drawn_frame& frame) { return frame.checksum == cover; }));
    EXPECT_EQ(player.ErrorOutput(),
              "reelmoth: " + lockedPath + ": protected by DRM: it cannot be played\n");
    for (const auto& window : sServer->Windows())
        sServer->Close(window.id);
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    for (const std::string& path : {jpegPath, songPath, lockedPath, log})
        unlink(path.c_str());
}

TEST_F(FileInfoWindows, CaptionsMarkersAndTheInformationPanelOverAMovie)
{
    // ffmpeg's 20 s movie with a caption from 1 s on, a URL command never
    // acted on, and markers at 8 s and 16 s.
    bytes_t movie = read_bytes(asf_file("wmv2-640x480-imaadpcm-20s.asf"));
    movie = with_header_object(
        movie, make_script_commands({"URL", "CAPTION"},
                                    {{3100, 0, "http://example.com/"}, {3100 + 1000, 1, "Hello"}}));
    movie = with_header_object(movie, make_markers({{(3100 + 8000) * 10000ull, "Eight"},
                                                    {(3100 + 16000) * 10000ull, "16"}}));
    std::string path = write_temp(movie, ".asf");
    player_process player({path}, true, {"SDL_AUDIODRIVER=dummy"});
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout)) << player.ErrorOutput();
    auto window = sServer->Windows()[0];

    // PageDown and PageUp: each key's seek, after the one before it.
    size_t seen = 0;
    auto asked = [&](const char* line) {
        bool found =
            eventually([&] { return player.ErrorOutput().find(line, seen) != std::string::npos; });
        seen = player.ErrorOutput().find(line, seen) + 1;
        return found;
    };
    sServer->Key(window, "Next");
    EXPECT_TRUE(asked("seek to 8000 ms asked"));
    sServer->Key(window, "Next");
    EXPECT_TRUE(asked("seek to 16000 ms asked"));
    sServer->Key(window, "Prior");
    EXPECT_TRUE(asked("seek to 8000 ms asked")) << "back from the second marker to the first";

    // The caption's dark box, centred, in the lower part of the picture:
    // rows of the middle strip with some of its colour.
    auto caption_rows = [&] {
        int left = window.width / 2 - 100, top = window.height / 2;
        std::vector<unsigned char> strip = sServer->Pixels(window.id, left, top, 200, top);
        int rows = 0;
        for (size_t row = 0; row * 800 < strip.size(); row++) {
            int box = 0;
            for (size_t p = row * 800; p + 3 < (row + 1) * 800 && p + 3 < strip.size(); p += 4)
                box += strip[p] == 16 && strip[p + 1] == 16 && strip[p + 2] == 16;
            rows += box >= 4;
        }
        return rows;
    };
    EXPECT_TRUE(eventually([&] { return caption_rows() >= 20; }))
        << "a box of a line of text and its margins";

    // The key `i` puts the panel over the top left of the picture, and
    // takes it away again.
    int x = 14, y = window.height - 480 + 14;
    sServer->Key(window, "i");
    EXPECT_TRUE(eventually([&] { return sServer->Pixel(window.id, x, y) == 0x101010; }));
    sServer->Key(window, "i");
    EXPECT_TRUE(eventually([&] { return sServer->Pixel(window.id, x, y) != 0x101010; }));
    sServer->Close(window.id);
    EXPECT_EQ(player.Wait(kTimeout), 0);
    unlink(path.c_str());
}

TEST_F(FileInfoWindows, ATwoBitrateFilePlaysItsHigherStreamsWholeSound)
{
    // The higher stream comes first: the later one is the lower.
    recording_options options;
    options.tag = 0; // IMA ADPCM, through FFmpeg: no module installed
    options.installAs = nullptr;
    recorded_player player("two-rates-imaadpcm.wma", options);
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout)) << player.Process().ErrorOutput();
    usleep(4000000); // three seconds of sound, and some
    for (const auto& window : sServer->Windows())
        sServer->Close(window.id);
    EXPECT_EQ(player.Process().Wait(kTimeout), 0) << player.Process().ErrorOutput();

    // ffmpeg's decode of the first (44.1 kHz) stream, whole, then silence.
    std::vector<int16> expected = ffmpeg_decode("two-rates-imaadpcm.wma");
    std::vector<int16> played = player.Samples();
    size_t first = 0, start = 0, same = 0;
    while (first < played.size() && played[first] == 0)
        first++;
    while (start < expected.size() && expected[start] == 0)
        start++;
    ASSERT_GT(expected.size(), 44100u * 2);
    while (first + same < played.size() && start + same < expected.size() &&
           played[first + same] == expected[start + same])
        same++;
    EXPECT_EQ(start + same, expected.size()) << "played " << played.size() << " samples";
}
