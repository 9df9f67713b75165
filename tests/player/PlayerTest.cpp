// The player's stream scan, its three callbacks and its shutdown, on files
// laid out by the test writer and on files made by ffmpeg. Windows go to
// SDL's dummy display: these tests need no X server.

#include "ASFTestWriter.h"

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

} // namespace

TEST(PlayerStreamScan, TheHighestVideoStreamWhoseSetUpSucceedsIsPlayed)
{
    test_file two;
    two.header.streams = {video_stream(1, 320, 240), video_stream(2, 176, 144)};
    temp_file both(make_file(two));
    CASFPlayer* player = open_player(both.Path());
    ASSERT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player->VideoStream(), 1);
    // The content area takes the selected picture's size, below the bar.
    EXPECT_EQ(player->PictureFrame(), BRect(0, 0, 175, 143));
    EXPECT_EQ(player->Bounds().Width(), 175);
    quit_unshown(player);

    // No decoder for the higher stream's code: the lower stream plays.
    test_file fallback;
    fallback.header.streams = {video_stream(1, 320, 240), video_stream(2, 176, 144, "XYZ0")};
    temp_file lower(make_file(fallback));
    player = open_player(lower.Path());
    ASSERT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player->VideoStream(), 0);
    EXPECT_EQ(player->PictureFrame(), BRect(0, 0, 319, 239));
    quit_unshown(player);

    // A real file with two video streams.
    player = open_player(asf_file("two-video-wmv2-700.asf"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player->VideoStream(), 1);
    EXPECT_EQ(player->PictureFrame(), BRect(0, 0, 175, 143));
    quit_unshown(player);
}

TEST(PlayerStreamScan, FilesWithoutAPlayableStreamFailUnlessTheyHoldOnlySound)
{
    // Sound only, and nobody may decode it (modules only, none installed):
    // the player is made all the same, to say why in its window.
    setenv("REELMOTH_AUDIO", "modules", 1);
    CASFPlayer* player = open_player(asf_file("audio-only-wmav2-600.wma"));
    unsetenv("REELMOTH_AUDIO");
    EXPECT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player->AudioStream(), -1);
    quit_unshown(player);

    test_file none;
    none.header.streams = {video_stream(1, 320, 240, "XYZ0"), audio_stream(2, 0x7777)};
    temp_file unplayable(make_file(none));
    player = open_player(unplayable.Path());
    EXPECT_EQ(player->InitCheck(), -1);
    EXPECT_EQ(player->ContentView(), nullptr); // no views
    quit_unshown(player);

    // Not ASF, and missing: the extractor's error comes back.
    temp_file text(bytes_t(100, 'x'));
    player = open_player(text.Path());
    EXPECT_LT(player->InitCheck(), 0);
    quit_unshown(player);
    player = open_player("/tmp/reelmoth-no-such-file.asf");
    EXPECT_LT(player->InitCheck(), 0);
    quit_unshown(player);

    // Audio present but unplayable (no sound output here), video playable:
    // the sound opens while the first picture is made, gives up, and the
    // pictures play without it.
    player = open_player(asf_file("wmv2-wmav2-512.wmv"));
    EXPECT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player->VideoStream(), 0); // ffmpeg writes video first
    ASSERT_NE(player->Audio(), nullptr);
    player->Start();
    for (int i = 0; i < 500 && !player->Audio()->SoundReady(0); i++)
        snooze(10000);
    EXPECT_TRUE(player->Audio()->SoundReady(0));
    EXPECT_FALSE(player->Audio()->IsSetUp());
    quit_unshown(player);
}

namespace
{

// The bytes of the objects waiting in a queue, oldest first.
std::vector<std::string> queued_objects(CMediaQueue& queue)
{
    std::vector<std::string> objects;
    while (std::unique_ptr<media_object> object = queue.Pop(0))
        objects.emplace_back(object->data.begin(), object->data.end());
    return objects;
}

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
    ASSERT_EQ(player->VideoStream(), 1);
    CPlayerReader& reader = player->Reader();
    status_t status = B_OK;
    for (int i = 0; i < 10 && status == B_OK; i++)
        status = player->Extractor().ReadOn(CPlayerReader::StreamFunctionWrapper,
                                            CPlayerReader::FlushFunctionWrapper,
                                            CPlayerReader::SkipFunctionWrapper, &reader);
    EXPECT_EQ(status, CASFExtractor::kEndOfData);
    // Whole objects reach the video queue; the flush that comes with the
    // first payload, before anything is assembled, queues nothing.
    std::vector<std::string> expected = {"V1aV1b", "V2"};
    EXPECT_EQ(queued_objects(player->Video()->Queue()), expected);

    // Straight through the callback: a payload not played moves the source
    // on by exactly its size, and the next one is read from there.
    const char bytes[] = "skipmeVIDEO";
    BMemoryIO source(bytes, 11);
    CPlayerReader::StreamFunctionWrapper(0, &source, 6, &reader);
    EXPECT_EQ(source.Position(), 6);
    CPlayerReader::StreamFunctionWrapper(1, &source, 5, &reader);
    CPlayerReader::FlushFunctionWrapper(1, false, 0, &reader);
    EXPECT_EQ(queued_objects(player->Video()->Queue()), std::vector<std::string>{"VIDEO"});
    quit_unshown(player);
}

TEST(PlayerCallbacks, SkipDiscardsTheAssembledBytes)
{
    CASFPlayer* player = open_player(asf_file("wmv2-wmav2-512.wmv"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    ASSERT_EQ(player->VideoStream(), 0);
    CPlayerReader& reader = player->Reader();

    std::string broken(40, 'v');
    BMemoryIO brokenSource(broken.data(), broken.size());
    CPlayerReader::StreamFunctionWrapper(0, &brokenSource, 40, &reader);
    CPlayerReader::SkipFunctionWrapper(0, &reader);
    // A stream that is not played: nothing happens.
    CPlayerReader::SkipFunctionWrapper(5, &reader);
    BMemoryIO source("VIDEO", 5);
    CPlayerReader::StreamFunctionWrapper(0, &source, 5, &reader);
    CPlayerReader::FlushFunctionWrapper(0, false, 0, &reader);
    EXPECT_EQ(queued_objects(player->Video()->Queue()), std::vector<std::string>{"VIDEO"});
    quit_unshown(player);
}

TEST(PlayerReading, WithoutSoundPicturesAreQueuedAFewSecondsAheadAndNoMore)
{
    CASFPlayer* player = open_player(asf_file("wmv2-640x480-long.wmv"));
    ASSERT_EQ(player->InitCheck(), B_OK);
    // Nothing takes the pictures: the reader stops once they reach ahead.
    player->Reader().Start();
    CMediaQueue& queue = player->Video()->Queue();
    for (int i = 0; i < 400 && queue.Span() < CPlayerReader::kAheadTime; i++)
        snooze(5000);
    snooze(200000);
    EXPECT_GE(queue.Span(), CPlayerReader::kAheadTime);
    EXPECT_LE(queue.Span(), CPlayerReader::kAheadTime + 100);
    EXPECT_FALSE(player->Reader().AtEnd());

    // As the application closes a player: locked, then Quit. It returns once
    // the waiting reader has stopped.
    ASSERT_TRUE(player->Lock());
    player->Quit();
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
