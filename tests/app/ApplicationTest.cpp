// The real `reelmoth` under a private Xvfb with SDL's dummy audio: what
// windows appear, how they look, and how the process ends.

#include "ASFTestWriter.h"
#include "RecordedPlayer.h"
#include "XServerTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace
{

std::string write_temp(const bytes_t& bytes, const char* suffix)
{
    std::string path = std::string("/tmp/reelmoth-app-") + std::to_string(getpid()) + suffix;
    FILE* file = fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    return path;
}

class Application : public x_server_test
{
};

// Rows of the window's left column from the top that are not black: the
// menu bar's height.
int bar_height(x_server& server, const x_server::window_info& window)
{
    int row = 0;
    while (row < window.height && server.Pixel(window.id, 1, row) != 0)
        row++;
    return row;
}

} // namespace

TEST_F(Application, WithoutArgumentsShowsNothingAndEnds)
{
    player_process player({});
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    EXPECT_TRUE(sServer->Windows().empty());

    player_process help({"--help"});
    EXPECT_EQ(help.Wait(kTimeout), 0);
    player_process version({"--version"});
    EXPECT_EQ(version.Wait(kTimeout), 0);
}

TEST_F(Application, FilesThatDoNotOpenShowNoWindowAndSayWhyInOneLine)
{
    // Not ASF; an ASF without a stream that can be played (an audio tag
    // nobody decodes, and a video code no decoder knows); nothing at all; a
    // folder.
    std::string text = write_temp(bytes_t(1000, 'x'), "-text.asf");
    test_file none;
    none.header.streams = {video_stream(1, 320, 240, "XYZ0"), audio_stream(2, 0x7777)};
    std::string unplayable = write_temp(make_file(none), "-none.asf");
    const std::string noStream =
        ": No decoder for video format XYZ0. No decoder for audio format 0x7777\n";
    std::vector<std::pair<std::string, std::string>> cases = {
        {text, "reelmoth: " + text + ": not an ASF file, or its header is damaged\n"},
        {unplayable, "reelmoth: " + unplayable + noStream},
        {"/no/such/x.asf", "reelmoth: /no/such/x.asf: no such file\n"},
        {"/tmp", "reelmoth: /tmp: is a directory\n"}};
    for (const auto& [file, said] : cases) {
        player_process player({file});
        EXPECT_EQ(player.Wait(kTimeout), 0) << file;
        EXPECT_TRUE(sServer->Windows().empty()) << file;
        EXPECT_EQ(player.ErrorOutput(), said);
    }
    unlink(text.c_str());
    unlink(unplayable.c_str());
}

TEST_F(Application, WithoutADisplayOneLineSaysWhichAndTheStatusIsOne)
{
    std::string movie = asf_file("video-only-wmv2.wmv");
    player_process unset({movie}, false, {"DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(unset.Wait(kTimeout), 1);
    EXPECT_EQ(unset.ErrorOutput(),
              "reelmoth: no display: neither DISPLAY nor WAYLAND_DISPLAY is set\n");

    // Named, but no server there.
    player_process absent({movie}, false, {"DISPLAY=:4711", "WAYLAND_DISPLAY="});
    EXPECT_EQ(absent.Wait(kTimeout), 1);
    std::string said = absent.ErrorOutput();
    EXPECT_EQ(said.rfind("reelmoth: no display: cannot open ':4711'", 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

TEST_F(Application, OneWindowPerFileAndTheLastCloseEndsTheProcess)
{
    player_process player(
        {"/no/such/folder/x.asf", asf_file("wmv2-wmav2-512.wmv"), asf_file("video-only-wmv2.wmv")});
    ASSERT_TRUE(sServer->WaitForWindows(2, kTimeout));
    auto windows = sServer->Windows();
    auto* first = sServer->Find(windows, "wmv2-wmav2-512.wmv");
    auto* second = sServer->Find(windows, "video-only-wmv2.wmv");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);

    sServer->Close(first->id);
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout));
    usleep(200000);
    EXPECT_TRUE(player.Running());
    windows = sServer->Windows();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(windows[0].title, "video-only-wmv2.wmv");

    sServer->Close(windows[0].id);
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    EXPECT_TRUE(sServer->Windows().empty());
}

TEST_F(Application, AVideoSetsTheContentAreaBelowTheMenuBar)
{
    // A video stream without a single frame: the content stays black.
    test_file empty;
    empty.header.streams = {video_stream(1, 320, 240)};
    std::string path = write_temp(make_file(empty), "-empty.wmv");
    player_process player({path});
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout));
    auto windows = sServer->Windows();
    x_server::window_info window = windows[0];
    // The picture drawn: the bar is grey and the content black.
    usleep(300000);
    int bar = bar_height(*sServer, window);
    EXPECT_GT(bar, 10);
    EXPECT_LT(bar, 40);
    EXPECT_EQ(window.width, 320);
    EXPECT_EQ(window.height - bar, 240);
    for (int y : {bar, bar + 120, window.height - 1})
        for (int x : {0, 160, 319})
            EXPECT_EQ(sServer->Pixel(window.id, x, y), 0u) << x << "," << y;

    // "File" opens an empty menu over the content; the next click closes it.
    sServer->Click(window, 15, bar / 2);
    bool opened = false;
    for (int i = 0; i < 100 && !opened; i++, usleep(20000))
        opened = sServer->Pixel(window.id, 4, bar + 4) != 0;
    EXPECT_TRUE(opened);
    EXPECT_EQ(sServer->Pixel(window.id, 4, bar + 30), 0u); // no items below the box
    sServer->Click(window, 200, 150);
    bool closed = false;
    for (int i = 0; i < 100 && !closed; i++, usleep(20000))
        closed = sServer->Pixel(window.id, 4, bar + 4) == 0;
    EXPECT_TRUE(closed);

    // Made bigger by the user: the bar follows the width, the content view
    // all four sides, and the new area is black below the bar.
    sServer->Resize(window.id, 400, 300);
    bool followed = false;
    for (int i = 0; i < 100 && !followed; i++, usleep(20000))
        followed = sServer->Pixel(window.id, 390, 290) == 0 &&
                   sServer->Pixel(window.id, 390, bar / 2) != 0;
    EXPECT_TRUE(followed);
    EXPECT_EQ(sServer->Pixel(window.id, 390, bar), 0u);

    sServer->Close(window.id);
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    unlink(path.c_str());
}

TEST_F(Application, DroppedFilesOpenOnlyWhenTheyPlay)
{
    player_process player({asf_file("video-only-wmv2.wmv")});
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout));
    auto windows = sServer->Windows();

    std::string text = write_temp(bytes_t(500, 'y'), "-dropped.wmv");
    ASSERT_TRUE(sServer->DropFile(windows[0], text));
    usleep(500000);
    EXPECT_EQ(sServer->Windows().size(), 1u); // nothing changes
    EXPECT_TRUE(player.Running());

    ASSERT_TRUE(sServer->DropFile(windows[0], asf_file("two-video-wmv2-700.asf")));
    ASSERT_TRUE(sServer->WaitForWindows(2, kTimeout));
    windows = sServer->Windows();
    EXPECT_NE(sServer->Find(windows, "two-video-wmv2-700.asf"), nullptr);

    player.Signal(SIGTERM);
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    unlink(text.c_str());
}

TEST_F(Application, SigintQuitsEveryPlayerMostRecentFirst)
{
    player_process player({asf_file("wmv2-wmav2-512.wmv"), asf_file("video-only-wmv2.wmv")}, true);
    ASSERT_TRUE(sServer->WaitForWindows(2, kTimeout));
    player.Signal(SIGINT);
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    EXPECT_TRUE(sServer->Windows().empty());
    std::string log = player.ErrorOutput();
    size_t second = log.find("player quit: video-only-wmv2.wmv");
    size_t first = log.find("player quit: wmv2-wmav2-512.wmv");
    ASSERT_NE(second, std::string::npos) << log;
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_LT(second, first);
}

TEST_F(Application, CodecsListsEveryModuleWithItsTagsOrWhyItCannotBeUsed)
{
    char pattern[] = "/tmp/reelmoth-codecs-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string data = pattern;
    std::filesystem::path decoders = data + "/reelmoth/media/decoders";
    std::filesystem::create_directories(decoders);
    std::filesystem::copy_file(std::string(REELMOTH_WINE_ACM_DIR) + "/msg711.acm",
                               decoders / "msg711.acm");
    std::filesystem::copy_file(std::string(REELMOTH_TEST_MODULES) + "/noproc.acm",
                               decoders / "noproc.acm");
    std::ofstream(decoders / "readme.acm") << "not a module\n";

    player_process codecs({"--codecs"}, false, {"XDG_DATA_HOME=" + data, "DISPLAY="});
    EXPECT_EQ(codecs.Wait(kTimeout), 0) << codecs.ErrorOutput();
    std::string listed = codecs.Output();
    // Wine's G.711 driver with A-law and mu-law; the two that cannot be
    // used, each with its reason; FFmpeg's tags; the choice in force.
    EXPECT_NE(listed.find("msg711.acm"), std::string::npos) << listed;
    EXPECT_NE(listed.find("0x0006"), std::string::npos) << listed;
    EXPECT_NE(listed.find("0x0007"), std::string::npos) << listed;
    EXPECT_NE(listed.find("noproc.acm       cannot be used: no DriverProc"), std::string::npos)
        << listed;
    EXPECT_NE(listed.find("readme.acm       cannot be used: not a PE image"), std::string::npos)
        << listed;
    EXPECT_NE(listed.find("0x0161 wmav2"), std::string::npos) << listed;
    EXPECT_NE(listed.find("modules first, then FFmpeg"), std::string::npos) << listed;
    std::filesystem::remove_all(data);
}
