// The real `reelmoth` under a private Xvfb: windows titled from the files'
// tags, a protected file's window and message, and windows that open
// cascaded.

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

} // namespace

TEST_F(FileInfoWindows, TitlesFromTagsAProtectedFileSaysSoAndWindowsCascade)
{
    test_file locked;
    locked.header.streams = {video_stream(1, 160, 120)};
    locked.header.otherObjects = {make_encryption(asf_id::kExtendedContentEncryption)};
    bytes_t bytes = make_file(locked);
    std::string protectedPath = "/tmp/reelmoth-drm-" + std::to_string(getpid()) + ".wmv";
    FILE* out = fopen(protectedPath.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);

    player_process player(
        {asf_file("tagged-chapters.wma"), protectedPath, asf_file("video-only-wmv2.wmv")});
    ASSERT_TRUE(sServer->WaitForWindows(3, kTimeout)) << player.ErrorOutput();
    auto windows = sServer->Windows();
    auto* song = sServer->Find(windows, "Love Is Strange \u2014 Everything But the Girl");
    auto* drm = sServer->Find(windows, protectedPath.substr(5));
    auto* movie = sServer->Find(windows, "video-only-wmv2.wmv");
    std::string titles;
    for (const auto& window : windows)
        titles += window.title + "\n";
    ASSERT_NE(song, nullptr) << "a tagged file's window has its title and author:\n" << titles;
    ASSERT_NE(drm, nullptr) << "without a title, the file name";
    ASSERT_NE(movie, nullptr);

    // Opened in that order, each further right and down, none over another.
    EXPECT_LT(song->x, drm->x);
    EXPECT_LT(song->y, drm->y);
    EXPECT_LT(drm->x, movie->x);
    EXPECT_LT(drm->y, movie->y);

    EXPECT_EQ(player.ErrorOutput(),
              "reelmoth: " + protectedPath + ": protected by DRM: it cannot be played\n");
    for (const auto& window : sServer->Windows())
        sServer->Close(window.id);
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    unlink(protectedPath.c_str());
}

TEST_F(FileInfoWindows, ASongShowsItsCoverPicture)
{
    std::string base = "/tmp/reelmoth-cover-" + std::to_string(getpid());
    std::string jpegPath = base + ".jpg", songPath = base + ".wma", log = base + ".frames";
    unlink(log.c_str());
    ASSERT_EQ(run_command("ffmpeg -v error -y -f lavfi -i testsrc=size=96x64 -frames:v 1 '" +
                          jpegPath + "'"),
              0);
    std::ifstream in(jpegPath, std::ios::binary);
    std::string jpegText((std::istreambuf_iterator<char>(in)), {});
    uint64 expected = 0;
    ASSERT_TRUE(ffmpeg_pictures(
        jpegPath, 96, 64, [&](const uint8* pixels) { expected = pixel_checksum(pixels, 96, 64); }));

    test_file song;
    song.header.streams = {audio_stream(1)};
    song.header.otherObjects = {
        make_content_description("Love Is Strange", "Everything But the Girl"),
        make_extended_content_description(
            {{"WM/AlbumTitle", 0, utf16("Acoustic")},
             {"WM/Picture", 1,
              make_picture_value(3, "image/jpeg", "", bytes_t(jpegText.begin(), jpegText.end()))}}),
    };
    bytes_t bytes = make_file(song);
    FILE* out = fopen(songPath.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);

    player_process player({songPath}, false, {"REELMOTH_FRAME_LOG=" + log});
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout)) << player.ErrorOutput();
    std::vector<drawn_frame> frames;
    for (int i = 0; i < 200 && frames.empty(); i++) {
        usleep(50000);
        frames = read_frame_log(log);
    }
    ASSERT_FALSE(frames.empty()) << "the cover is drawn";
    EXPECT_EQ(frames[0].checksum, expected) << "ffmpeg's own decode of the picture";
    for (const auto& window : sServer->Windows())
        sServer->Close(window.id);
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    for (const std::string& path : {jpegPath, songPath, log})
        unlink(path.c_str());
}

TEST_F(FileInfoWindows, ACaptionIsDrawnOverThePictureFromItsTimeAndTheKeyIShowsThePanel)
{
    // ffmpeg's 3 s movie with a caption from 1 s on, and a URL command
    // that is never acted on.
    std::ifstream in(asf_file("video-only-wmv2.wmv"), std::ios::binary);
    std::string movie((std::istreambuf_iterator<char>(in)), {});
    bytes_t bytes = with_header_object(
        bytes_t(movie.begin(), movie.end()),
        make_script_commands({"URL", "CAPTION"},
                             {{3100, 0, "http://example.com/"}, {3100 + 1000, 1, "Hello"}}));
    std::string base = "/tmp/reelmoth-caption-" + std::to_string(getpid());
    std::string path = base + ".wmv", log = base + ".frames";
    unlink(log.c_str());
    FILE* out = fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);

    player_process player({path}, false, {"REELMOTH_FRAME_LOG=" + log, "SDL_AUDIODRIVER=dummy"});
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout)) << player.ErrorOutput();
    // The 75 pictures drawn: the last stays shown, with its caption.
    for (int i = 0; i < 400 && read_frame_log(log).size() < 75; i++)
        usleep(50000);
    ASSERT_GE(read_frame_log(log).size(), 75u);
    usleep(100000);
    auto windows = sServer->Windows();
    ASSERT_EQ(windows.size(), 1u);
    const auto& window = windows[0];
    // The caption's dark box, centred, in the lower part of the picture.
    int boxRows = 0;
    for (int y = window.height / 2; y < window.height; y++)
        boxRows += sServer->Pixel(window.id, window.width / 2 - 20, y) == 0x101010;
    EXPECT_GE(boxRows, 20) << "a box of a line of text and its margins";

    // The key `i` puts the information panel over the top left of the
    // picture held, and takes it away again.
    int x = 14, y = window.height - 240 + 14; // inside the picture, below the menu bar
    unsigned before = sServer->Pixel(window.id, x, y);
    ASSERT_NE(before, 0x101010u);
    sServer->Key(window, "i");
    for (int i = 0; i < 100 && sServer->Pixel(window.id, x, y) != 0x101010; i++)
        usleep(20000);
    EXPECT_EQ(sServer->Pixel(window.id, x, y), 0x101010u);
    sServer->Key(window, "i");
    for (int i = 0; i < 100 && sServer->Pixel(window.id, x, y) != before; i++)
        usleep(20000);
    EXPECT_EQ(sServer->Pixel(window.id, x, y), before);
    for (const auto& w : sServer->Windows())
        sServer->Close(w.id);
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    unlink(path.c_str());
    unlink(log.c_str());
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
    size_t first = 0;
    while (first < played.size() && played[first] == 0)
        first++;
    size_t start = 0;
    while (start < expected.size() && expected[start] == 0)
        start++;
    ASSERT_GT(expected.size(), 44100u * 2);
    size_t same = 0;
    while (first + same < played.size() && start + same < expected.size() &&
           played[first + same] == expected[start + same])
        same++;
    EXPECT_EQ(start + same, expected.size()) << "played " << played.size() << " samples";
}

TEST_F(FileInfoWindows, PageDownAndPageUpGoToTheMarkers)
{
    // ffmpeg's 20 s movie with markers at 8 s and 16 s.
    std::ifstream in(asf_file("wmv2-640x480-imaadpcm-20s.asf"), std::ios::binary);
    std::string movie((std::istreambuf_iterator<char>(in)), {});
    bytes_t bytes = with_header_object(bytes_t(movie.begin(), movie.end()),
                                       make_markers({{(3100 + 8000) * 10000ull, "Eight"},
                                                     {(3100 + 16000) * 10000ull, "Sixteen"}}));
    std::string path = "/tmp/reelmoth-markers-" + std::to_string(getpid()) + ".asf";
    FILE* out = fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), out);
    fclose(out);

    player_process player({path}, true, {"SDL_AUDIODRIVER=dummy"});
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout)) << player.ErrorOutput();
    auto windows = sServer->Windows();
    // Each key's seek, after the one before it.
    size_t seen = 0;
    auto asked = [&](const char* line) {
        size_t at = std::string::npos;
        for (int i = 0; i < 200 && at == std::string::npos; i++) {
            at = player.ErrorOutput().find(line, seen);
            if (at == std::string::npos)
                usleep(20000);
        }
        if (at != std::string::npos)
            seen = at + 1;
        return at != std::string::npos;
    };
    sServer->Key(windows[0], "Next");
    EXPECT_TRUE(asked("seek to 8000 ms asked"));
    sServer->Key(windows[0], "Next");
    EXPECT_TRUE(asked("seek to 16000 ms asked"));
    sServer->Key(windows[0], "Prior");
    EXPECT_TRUE(asked("seek to 8000 ms asked")) << "back from the second marker to the first";
    sServer->Close(windows[0].id);
    EXPECT_EQ(player.Wait(kTimeout), 0);
    unlink(path.c_str());
}
