// The player's stream scan, its three callbacks and its shutdown, on files
// laid out by the test writer and on files made by ffmpeg. Windows go to
// SDL's dummy display: these tests need no X server.

#include "ASFTestWriter.h"
#include "PlayerProbe.h"

#include "platform/interface/View.h"
#include "platform/storage/Entry.h"
#include "player/ASFPlayer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace
{

// The dummy display: real windows with pictures, shown nowhere.
const int kDummyDisplay = setenv("SDL_VIDEODRIVER", "dummy", 1);
// No codec module is installed, whatever the user running the tests has.
const int kNoModules = setenv("XDG_DATA_HOME", "/nonexistent/reelmoth-test-data", 1);

std::string asf_file(const char* name)
{
    return std::string(REELMOTH_TEST_DATA) + "/asf/" + name;
}

// A test file written to disk: the player opens files by ref.
class temp_file
{
public:
    explicit temp_file(const bytes_t& bytes)
    {
        char pattern[] = "/tmp/reelmoth-player-XXXXXX";
        int fd = mkstemp(pattern);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        close(fd);
        fPath = pattern;
    }
    ~temp_file() { unlink(fPath.c_str()); }
    const char* Path() const { return fPath.c_str(); }

private:
    std::string fPath;
};

CASFPlayer* open_player(const std::string& path)
{
    entry_ref ref;
    EXPECT_EQ(get_ref_for_path(path.c_str(), &ref), B_OK);
    return new CASFPlayer(&ref);
}

// Quits a player that was never shown: it is still locked by its
// construction, as the application finds it.
void quit_unshown(CASFPlayer* player)
{
    player->Quit();
}

test_payload payload(uint8 stream, uint32 object, uint32 offset, const std::string& data)
{
    test_payload p;
    p.stream = stream;
    p.objectNumber = object;
    p.offset = offset;
    p.data = bytes_t(data.begin(), data.end());
    return p;
}

test_packet packet_of(std::vector<test_payload> payloads, uint32 sendTime)
{
    test_packet p;
    p.payloads = std::move(payloads);
    p.sendTime = sendTime;
    return p;
}

std::string contents(const CVariableBuffer& buffer)
{
    return std::string(static_cast<const char*>(buffer.Data()), buffer.Length());
}

} // namespace

TEST(PlayerStreamScan, TheHighestVideoStreamWhoseSetUpSucceedsIsPlayed)
{
    test_file two;
    two.header.streams = {video_stream(1, 320, 240), video_stream(2, 176, 144)};
    temp_file both(make_file(two));
    CASFPlayer* player = open_player(both.Path());
    ASSERT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player_probe::VideoStream(player), 1);
    // The content area takes the selected picture's size, below the bar.
    EXPECT_EQ(player_probe::VideoRect(player), BRect(0, 0, 175, 143));
    EXPECT_EQ(player->Bounds().Width(), 175);
    quit_unshown(player);

    // No decoder for the higher stream's code: the lower stream plays.
    test_file fallback;
    fallback.header.streams = {video_stream(1, 320, 240), video_stream(2, 176, 144, "XYZ0")};
    temp_file lower(make_file(fallback));
    player = open_player(lower.Path());
    ASSERT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player_probe::VideoStream(player), 0);
    EXPECT_EQ(player_probe::VideoRect(player), BRect(0, 0, 319, 239));
    quit_unshown(player);

    // A real file with two video streams.
    player = open_player(asf_file("two-video-wmv2-700.asf"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player_probe::VideoStream(player), 1);
    EXPECT_EQ(player_probe::VideoRect(player), BRect(0, 0, 175, 143));
    quit_unshown(player);
}

TEST(PlayerStreamScan, FilesWithoutAPlayableStreamFail)
{
    // The WMA codec's module is not installed, so audio alone gives nothing
    // to play.
    CASFPlayer* player = open_player(asf_file("audio-only-wmav2-600.wma"));
    EXPECT_EQ(player->InitCheck(), -1);
    EXPECT_EQ(player_probe::AudioStream(player), -1);
    quit_unshown(player);

    test_file none;
    none.header.streams = {video_stream(1, 320, 240, "XYZ0"), audio_stream(2, 0x7777)};
    temp_file unplayable(make_file(none));
    player = open_player(unplayable.Path());
    EXPECT_EQ(player->InitCheck(), -1);
    EXPECT_EQ(player_probe::ContentView(player), nullptr); // no views
    quit_unshown(player);

    // Not ASF, and missing: the extractor's error comes back.
    temp_file text(bytes_t(100, 'x'));
    player = open_player(text.Path());
    EXPECT_LT(player->InitCheck(), 0);
    quit_unshown(player);
    player = open_player("/tmp/reelmoth-no-such-file.asf");
    EXPECT_LT(player->InitCheck(), 0);
    quit_unshown(player);

    // Audio present but unplayable, video playable: plays without sound.
    player = open_player(asf_file("wmv2-wmav2-512.wmv"));
    EXPECT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player_probe::AudioStream(player), -1);
    EXPECT_EQ(player_probe::VideoStream(player), 0); // ffmpeg writes video first
    quit_unshown(player);
}

namespace
{

// Forwards the extractor's calls to the player and notes what the video
// buffer holds whenever the player is told that an object is complete.
struct recorder {
    CASFPlayer* player;
    std::vector<std::string> flushed;

    static void Stream(int32 stream, BDataIO* io, uint32 size, void* cookie)
    {
        CASFPlayer::StreamFunctionWrapper(stream, io, size, static_cast<recorder*>(cookie)->player);
    }
    static void Flush(int32 stream, bool flag, uint32 time, void* cookie)
    {
        auto* self = static_cast<recorder*>(cookie);
        if (stream == player_probe::VideoStream(self->player))
            self->flushed.push_back(contents(player_probe::VideoData(self->player)));
        CASFPlayer::FlushFunctionWrapper(stream, flag, time, self->player);
    }
    static void Skip(int32 stream, void* cookie)
    {
        CASFPlayer::SkipFunctionWrapper(stream, static_cast<recorder*>(cookie)->player);
    }
};

} // namespace

TEST(PlayerCallbacks, PayloadsOfStreamsNotPlayedAreSteppedOverExactly)
{
    // Audio (index 0) is not played; its payloads sit between the video
    // fragments, inside the same packets.
    temp_file file(make_file_with_packets({
        packet_of({payload(1, 1, 0, "AAAAAAA"), payload(2, 1, 0, "V1a")}, 100),
        packet_of({payload(2, 1, 3, "V1b"), payload(1, 2, 0, "AAAAAAAAAAAAA")}, 100),
        packet_of({payload(1, 3, 0, "A"), payload(2, 2, 0, "V2"), payload(1, 4, 0, "AA")}, 140),
    }));
    CASFPlayer* player = open_player(file.Path());
    ASSERT_EQ(player->InitCheck(), B_OK);
    ASSERT_EQ(player_probe::VideoStream(player), 1);
    recorder record{player, {}};
    status_t status = B_OK;
    for (int i = 0; i < 10 && status == B_OK; i++)
        status = player_probe::Extractor(player).ReadOn(recorder::Stream, recorder::Flush,
                                                        recorder::Skip, &record);
    EXPECT_EQ(status, CASFExtractor::kEndOfData);
    // The first flush comes with the first payload, before anything is
    // assembled; each flush empties the buffer (decoding failed or not).
    std::vector<std::string> expected = {"", "V1aV1b", "V2"};
    EXPECT_EQ(record.flushed, expected);
    EXPECT_EQ(player_probe::VideoData(player).Length(), 0u);

    // Straight through the callback: a payload not played moves the source
    // on by exactly its size, and the next one is read from there.
    const char bytes[] = "skipmeVIDEO";
    BMemoryIO source(bytes, 11);
    CASFPlayer::StreamFunctionWrapper(0, &source, 6, player);
    EXPECT_EQ(source.Position(), 6);
    CASFPlayer::StreamFunctionWrapper(1, &source, 5, player);
    EXPECT_EQ(contents(player_probe::VideoData(player)), "VIDEO");
    quit_unshown(player);
}

TEST(PlayerCallbacks, SkipDiscardsTheAssembledBytesIncludingAShortRemainder)
{
    CASFPlayer* player = open_player(asf_file("wmv2-wmav2-512.wmv"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    ASSERT_EQ(player_probe::VideoStream(player), 0);
    player_probe::SelectAudio(player, 1, 100);

    // One and a half blocks of audio and a part of a video object.
    std::string audio(150, 'a');
    BMemoryIO audioSource(audio.data(), audio.size());
    CASFPlayer::StreamFunctionWrapper(1, &audioSource, 150, player);
    std::string video(40, 'v');
    BMemoryIO videoSource(video.data(), video.size());
    CASFPlayer::StreamFunctionWrapper(0, &videoSource, 40, player);
    EXPECT_EQ(player_probe::AudioData(player).Length(), 150u);
    EXPECT_EQ(player_probe::VideoData(player).Length(), 40u);

    CASFPlayer::SkipFunctionWrapper(1, player);
    EXPECT_EQ(player_probe::AudioData(player).Length(), 0u);
    EXPECT_EQ(player_probe::VideoData(player).Length(), 40u); // the other stream keeps its bytes
    CASFPlayer::SkipFunctionWrapper(0, player);
    EXPECT_EQ(player_probe::VideoData(player).Length(), 0u);
    // The memory stays for the next object.
    EXPECT_GT(player_probe::VideoData(player).Capacity(), 0u);
    // A stream that is not played: nothing happens.
    CASFPlayer::SkipFunctionWrapper(5, player);

    player_probe::SelectAudio(player, -1, 0);
    quit_unshown(player);
}

namespace
{

bool wait_until_blocked(sem_id sem)
{
    for (int i = 0; i < 2000; i++) {
        int32 count = 0;
        if (get_sem_count(sem, &count) == B_OK && count < 0)
            return true;
        snooze(5000);
    }
    return false;
}

} // namespace

TEST(PlayerShutdown, QuitStopsAReaderBlockedOnVideoWrite)
{
    CASFPlayer* player = open_player(asf_file("video-only-wmv2.wmv"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    // All three ring slots taken: the reader's first video flush must wait.
    sem_id slots = player_probe::VideoWriteSem(player);
    ASSERT_EQ(acquire_sem_etc(slots, 3, B_RELATIVE_TIMEOUT, 0), B_OK);
    player->Show();
    player->Start();
    ASSERT_TRUE(wait_until_blocked(slots));
    thread_id reader = player_probe::ReaderThread(player);
    ASSERT_GT(reader, 0);

    // As the application closes a player: locked, then Quit. It returns once
    // the reader has stopped and the window is gone.
    ASSERT_TRUE(player->Lock());
    player->Quit();
    EXPECT_EQ(wait_for_thread(reader, nullptr), B_BAD_THREAD_ID); // already collected
}

TEST(PlayerShutdown, QuitStopsAReaderIdlingAtTheEndOfTheData)
{
    test_file one;
    one.header.streams = {video_stream(1, 64, 48)};
    temp_file file(make_file(one)); // no packets at all
    CASFPlayer* player = open_player(file.Path());
    ASSERT_EQ(player->InitCheck(), B_OK);
    player->Show();
    player->Start();
    snooze(50000);
    // The window stays while the reader idles.
    ASSERT_TRUE(player->Lock());
    EXPECT_EQ(player->CountChildren(), 2);
    player->Quit();
}
