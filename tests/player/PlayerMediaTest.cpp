// The player's video ring and video thread with real WMV2 frames, and its
// PCM queue and audio thread on SDL's disk audio driver. Windows go to SDL's
// dummy display; what is drawn is read back from the frame log.

#include "MediaFiles.h"
#include "PlayerProbe.h"

#include "platform/interface/View.h"
#include "platform/storage/Entry.h"
#include "player/ASFPlayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
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

int32 sem_count(sem_id sem)
{
    int32 count = -100;
    get_sem_count(sem, &count);
    return count;
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

    // As the reader does at the end of an object presented at `time`.
    void Flush(const bytes_t& data, uint32 time)
    {
        player_probe::VideoData(player).Write(data.data(), uint32(data.size()));
        player_probe::VideoFlush(player, time);
    }
};

} // namespace

TEST(PlayerVideo, OnlyAFrameThatDecodesTakesARingSlot)
{
    video_fixture video;
    CASFPlayer* player = video.player;
    player_probe::StopVideoThread(player);
    sem_id read = player_probe::VideoReadSem(player);
    sem_id write = player_probe::VideoWriteSem(player);

    // The stream's first flush comes before any byte; then an object of zeros.
    video.Flush({}, 7);
    EXPECT_EQ(player_probe::FrameTime(player, 0), 7u); // stamped whatever the outcome
    video.Flush(bytes_t(3000, 0), 9);
    EXPECT_EQ(player_probe::WriteFrame(player), 0);
    EXPECT_EQ(sem_count(read), 0);
    EXPECT_EQ(sem_count(write), 3);
    EXPECT_EQ(player_probe::VideoData(player).Length(), 0u);

    // Three frames fill the ring, each in the next slot with its time.
    for (uint32 i = 0; i < 3; i++)
        video.Flush(video.stream.objects[i].data, 100 + i);
    EXPECT_EQ(player_probe::WriteFrame(player), 0);
    EXPECT_EQ(sem_count(read), 3);
    EXPECT_EQ(sem_count(write), 0);
    for (int32 slot = 0; slot < 3; slot++)
        EXPECT_EQ(player_probe::FrameTime(player, slot), 100u + uint32(slot));

    // A fourth waits for a free slot: the reader is held up until then.
    struct blocked_reader {
        video_fixture* video;
        static int32 Run(void* cookie)
        {
            auto* self = static_cast<blocked_reader*>(cookie);
            self->video->Flush(self->video->stream.objects[3].data, 200);
            return 0;
        }
    } reader{&video};
    thread_id thread = spawn_thread(blocked_reader::Run, "reader", B_NORMAL_PRIORITY, &reader);
    resume_thread(thread);
    ASSERT_TRUE(wait_until([&] { return sem_count(write) < 0; }));
    snooze(50000);
    EXPECT_EQ(player_probe::FrameTime(player, 0), 100u);
    release_sem(write); // as the video thread does once slot 0 is shown
    EXPECT_EQ(wait_for_thread(thread, nullptr), B_OK);
    EXPECT_EQ(player_probe::FrameTime(player, 0), 200u);
    EXPECT_EQ(sem_count(read), 4);
    player->Quit();
}

TEST(PlayerVideo, FramesAreShownAtTheirTimeAndLateOnesAreDroppedWithAMessage)
{
    video_fixture video;
    CASFPlayer* player = video.player;
    player->Show();
    size_t before = read_frame_log().size();

    testing::internal::CaptureStdout();
    bigtime_t flushed = system_time();
    // The clock starts when the first frame reaches the video thread, at or
    // after this flush: frame 0 is due 100 ms later, frame 1 too (so it is
    // late once frame 0 is drawn), frame 2 at 300 ms.
    video.Flush(video.stream.objects[0].data, 100);
    video.Flush(video.stream.objects[1].data, 100);
    video.Flush(video.stream.objects[2].data, 300);
    ASSERT_TRUE(wait_until([&] { return read_frame_log().size() >= before + 2; }));
    snooze(50000);
    std::string output = testing::internal::GetCapturedStdout();

    std::vector<drawn_frame> frames = read_frame_log();
    ASSERT_EQ(frames.size(), before + 2);
    EXPECT_EQ(frames[before].checksum, video.expected[0]);
    EXPECT_EQ(frames[before + 1].checksum, video.expected[2]);
    EXPECT_GE(frames[before].time, flushed + 100000);
    EXPECT_GE(frames[before + 1].time, flushed + 300000);
    int64 late = -1;
    ASSERT_EQ(sscanf(output.c_str(), "skipped a frame by %" SCNd64 " us\n", &late), 1) << output;
    EXPECT_GT(late, 0);
    EXPECT_EQ(output.find("skipped", 10), std::string::npos) << output; // only one

    // The window shows the last frame drawn, at the view's top-left corner.
    ASSERT_TRUE(player->Lock());
    int32 width, height, stride;
    uint32* pixels = player->LockPixels(&width, &height, &stride);
    BRect frame = player_probe::ContentView(player)->Frame();
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
    video.Flush(video.stream.objects[0].data, 0);
    ASSERT_TRUE(wait_until([&] { return read_frame_log().size() == before + 1; }));
    video.Flush(video.stream.objects[1].data, 600000); // ten minutes on
    snooze(50000);
    ASSERT_TRUE(player->Lock());
    player->Quit(); // returns: the sleeping thread woke and ended
    EXPECT_EQ(read_frame_log().size(), before + 1);
}

namespace
{

// SDL's disk driver writes what the output plays into a file.
struct disk_sound {
    std::string path = "/tmp/reelmoth-player-sound-" + std::to_string(getpid());

    disk_sound()
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    }
    ~disk_sound() { unlink(path.c_str()); }

    std::vector<int16> Samples() const
    {
        std::ifstream file(path, std::ios::binary);
        std::vector<char> bytes(std::istreambuf_iterator<char>(file), {});
        std::vector<int16> samples(bytes.size() / 2);
        memcpy(samples.data(), bytes.data(), samples.size() * 2);
        return samples;
    }
};

uint32 queued(CASFPlayer* player)
{
    BAutolock locked(player_probe::PCMLock(player));
    return player_probe::PCMData(player).Length();
}

} // namespace

TEST(PlayerAudio, QueuedPCMPlaysInWholePagesAndInOrderAndTheLastPartPageAtTheEnd)
{
    disk_sound sound;
    CASFPlayer* player = open_player(asf_file("video-only-wmv2.wmv"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    ASSERT_TRUE(player_probe::StartSound(player, 22050, 1));
    const uint32 page = 1024 * 2; // 1024 mono frames

    // One and a half pages: one page plays, half a page waits for more.
    std::vector<int16> first(page * 3 / 4, 7);
    ASSERT_TRUE(player_probe::QueuePCM(player, first.data(), uint32(first.size() * 2)));
    ASSERT_TRUE(wait_until([&] { return queued(player) == page / 2; }));
    snooze(150000); // several pages go by unwritten
    EXPECT_EQ(queued(player), page / 2);
    std::vector<int16> second(page / 4, 8);
    ASSERT_TRUE(player_probe::QueuePCM(player, second.data(), uint32(second.size() * 2)));
    ASSERT_TRUE(wait_until([&] { return queued(player) == 0; }));
    // A part page waits while more may come, and plays once the sound ends.
    std::vector<int16> last(page / 8, 9);
    ASSERT_TRUE(player_probe::QueuePCM(player, last.data(), uint32(last.size() * 2)));
    snooze(150000);
    EXPECT_EQ(queued(player), page / 4);
    player_probe::EndPCM(player);
    ASSERT_TRUE(wait_until([&] { return queued(player) == 0; }));
    snooze(150000);
    player->Quit();

    // The sound output played at the stream's rate: what came out is the
    // queue's bytes in order, with silence where pages went unwritten.
    std::vector<int16> played;
    for (int16 sample : sound.Samples()) {
        if (sample != 0)
            played.push_back(sample);
    }
    ASSERT_EQ(played.size(), first.size() + second.size() + last.size());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), played.begin()));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), played.begin() + first.size()));
    EXPECT_TRUE(std::equal(last.begin(), last.end(), played.end() - last.size()));
}

namespace
{

struct pcm_writer {
    CASFPlayer* player;
    std::atomic<uint32> written{0};

    // Queues blocks of 4 KiB for ever, as a reader converting an audio-only
    // file does.
    static int32 Run(void* cookie)
    {
        auto* self = static_cast<pcm_writer*>(cookie);
        std::vector<int16> block(2048, 3);
        while (!has_kill_request()) {
            if (!player_probe::QueuePCM(self->player, block.data(), 4096))
                break; // killed while waiting
            self->written += 4096;
        }
        return 0;
    }
};

} // namespace

TEST(PlayerAudio, TheQueueHoldsAboutTwoSecondsAndAWaitingReaderCanBeKilled)
{
    disk_sound sound;
    CASFPlayer* player = open_player(asf_file("video-only-wmv2.wmv"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    ASSERT_TRUE(player_probe::StartSound(player, 8000, 1));
    uint32 limit = player_probe::PCMLimit(player);
    EXPECT_EQ(limit, 8000u * 2 * 2); // two seconds of mono 16-bit sound

    pcm_writer writer{player};
    thread_id thread = spawn_thread(pcm_writer::Run, "writer", B_NORMAL_PRIORITY, &writer);
    resume_thread(thread);
    // The writer fills the queue and then waits for room.
    ASSERT_TRUE(wait_until([&] { return sem_count(player_probe::PCMSpaceSem(player)) < 0; }));
    EXPECT_LE(queued(player), limit + 4096);
    EXPECT_GE(queued(player), limit);
    // As the sound plays, the writer goes on, a little at a time.
    uint32 before = writer.written;
    ASSERT_TRUE(wait_until([&] { return writer.written > before; }));
    EXPECT_LE(queued(player), limit + 4096);
    EXPECT_LT(writer.written, limit + 3 * 8000 * 2);

    ASSERT_EQ(kill_thread(thread), B_OK);
    EXPECT_EQ(wait_for_thread(thread, nullptr), B_OK);
    ASSERT_TRUE(player->Lock());
    player->Quit(); // the queued sound goes with the player
}
