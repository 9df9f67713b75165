// The video path with real WMV2 frames: compressed objects handed to its
// queue are decoded and shown by the system clock when there is no sound.
// Windows go to SDL's dummy display; what is drawn is read back from the
// frame log.

#include "MediaFiles.h"

#include "platform/interface/View.h"
#include "platform/storage/Entry.h"
#include "player/ASFPlayer.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>

namespace
{

const int kDummyDisplay = setenv("SDL_VIDEODRIVER", "dummy", 1);
const std::string kFrameLog = "/tmp/reelmoth-player-frames-" + std::to_string(getpid());
const int kFrameLogSet = setenv("REELMOTH_FRAME_LOG", kFrameLog.c_str(), 1);

// The log is opened afresh at the first draw: a stale one (from an earlier
// process of the same id) would make the counts taken before that wrong.
struct frame_log_cleaner {
    frame_log_cleaner() { unlink(kFrameLog.c_str()); }
    ~frame_log_cleaner() { unlink(kFrameLog.c_str()); }
} sFrameLogCleaner;

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

std::vector<drawn_frame> read_frame_log()
{
    return ::read_frame_log(kFrameLog);
}

bool wait_until(const std::function<bool()>& condition)
{
    for (int i = 0; i < 1000; i++, snooze(5000)) {
        if (condition())
            return true;
    }
    return false;
}

// A player of real WMV2 frames, with the frames and ffmpeg's checksums.
struct video_fixture {
    CASFPlayer* player = nullptr;
    stream_objects stream;
    std::vector<uint64> expected;

    video_fixture()
    {
        std::string path = asf_file("video-only-wmv2.wmv");
        EXPECT_TRUE(read_stream_objects(path, 1, &stream));
        EXPECT_TRUE(ffmpeg_pictures(path, stream.width, stream.height, [&](const uint8* pixels) {
            expected.push_back(pixel_checksum(pixels, stream.width, stream.height));
        }));
        player = open_player(path);
        EXPECT_EQ(player->InitCheck(), B_OK);
    }

    // As the reader queues an object presented at `time`.
    void Queue(const bytes_t& data, uint32 time)
    {
        auto object = std::make_unique<media_object>();
        object->data = data;
        object->time = time;
        player->Video()->Queue().Push(std::move(object));
    }
};

} // namespace

TEST(PlayerVideo, FramesAreShownAtTheirTimeAndLateOnesAreDroppedWithAMessage)
{
    video_fixture video;
    CASFPlayer* player = video.player;
    player->Show();
    size_t before = read_frame_log().size();

    testing::internal::CaptureStdout();
    // The clock starts when the first frame reaches the front of the ring,
    // after this: frame 0 is due 100 ms later, frame 1 too (so it is late
    // once frame 0 is drawn), frame 2 at 300 ms. An object that does not
    // decode takes no place.
    video.Queue(video.stream.objects[0].data, 100);
    video.Queue(bytes_t(3000, 0), 110);
    video.Queue(video.stream.objects[1].data, 100);
    video.Queue(video.stream.objects[2].data, 300);
    bigtime_t queued = system_time();
    player->Video()->Start();
    ASSERT_TRUE(wait_until([&] { return read_frame_log().size() >= before + 2; }));
    snooze(50000);
    std::string output = testing::internal::GetCapturedStdout();

    std::vector<drawn_frame> frames = read_frame_log();
    ASSERT_EQ(frames.size(), before + 2);
    EXPECT_EQ(frames[before].checksum, video.expected[0]);
    EXPECT_EQ(frames[before + 1].checksum, video.expected[2]);
    EXPECT_GE(frames[before].time, queued + 100000);
    EXPECT_GE(frames[before + 1].time, queued + 300000);
    int64 late = -1;
    ASSERT_EQ(sscanf(output.c_str(), "skipped a frame by %" SCNd64 " us\n", &late), 1) << output;
    EXPECT_GT(late, 0);
    EXPECT_EQ(output.find("skipped", 10), std::string::npos) << output; // only one

    // The window shows the last frame drawn, at the view's top-left corner.
    ASSERT_TRUE(player->Lock());
    int32 width, height, stride;
    uint32* pixels = player->LockPixels(&width, &height, &stride);
    BRect frame = player->ContentView()->Frame();
    uint64 shown = pixel_checksum(
        reinterpret_cast<const uint8*>(pixels + size_t(frame.top) * stride + size_t(frame.left)),
        video.stream.width, video.stream.height, stride * 4);
    player->UnlockPixels(false);
    EXPECT_EQ(shown, video.expected[2]);
    player->Quit();
}

TEST(PlayerVideo, QuitStopsAVideoThreadWaitingForADistantFrame)
{
    video_fixture video;
    CASFPlayer* player = video.player;
    player->Show();
    size_t before = read_frame_log().size();
    video.Queue(video.stream.objects[0].data, 0);
    player->Video()->Start();
    ASSERT_TRUE(wait_until([&] { return read_frame_log().size() == before + 1; }));
    video.Queue(video.stream.objects[1].data, 600000); // ten minutes on
    snooze(50000);
    ASSERT_TRUE(player->Lock());
    player->Quit(); // returns: the sleeping thread woke and ended
    EXPECT_EQ(read_frame_log().size(), before + 1);
}
