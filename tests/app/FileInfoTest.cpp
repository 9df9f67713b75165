// The real `reelmoth` under a private Xvfb: windows titled from the files'
// tags, a protected file's window and message, and windows that open
// cascaded.

#include "ASFTestObjects.h"
#include "RecordedPlayer.h"
#include "XServerTest.h"

#include "asf/ASFObjectIds.h"

#include <gtest/gtest.h>

#include <cstdio>
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
