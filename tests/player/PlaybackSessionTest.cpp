// A playback session with no window and no display: a real WMV2 + WMA file
// played in real time, its pictures caught by a sink of the test's own and
// its sound written by SDL's disk driver at the pace of a sound card. What
// a seek shows first, what a pause stops and what the clock follows.

#include "MediaFiles.h"

#include "platform/interface/Bitmap.h"
#include "platform/storage/Entry.h"
#include "player/PictureSink.h"
#include "player/PlaybackSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <unistd.h>

namespace
{

const std::string kFolder = "/tmp/reelmoth-session-" + std::to_string(getpid());

struct shown_picture {
    uint32 time;       // the picture's media time, ms
    uint64 checksum;   // of its pixels
    bigtime_t clockAt; // the session's clock when it was shown, µs
};

// Keeps what it is shown.
class CRecordingSink : public CPictureSink
{
public:
    explicit CRecordingSink(CPlaybackClock* clock) : fClock(clock) {}

    bool ShowPicture(const BBitmap* picture, uint32 time) override
    {
        BRect bounds = picture->Bounds();
        uint64 checksum =
            pixel_checksum(static_cast<const uint8*>(picture->Bits()), int32(bounds.Width() + 1),
                           int32(bounds.Height() + 1), int32(picture->BytesPerRow()));
        bigtime_t now = fClock->Now();
        std::lock_guard<std::mutex> locked(fLock);
        fShown.push_back({time, checksum, now});
        return true;
    }

    std::vector<shown_picture> Shown()
    {
        std::lock_guard<std::mutex> locked(fLock);
        return fShown;
    }

private:
    CPlaybackClock* fClock;
    std::mutex fLock;
    std::vector<shown_picture> fShown;
};

bool wait_until(const std::function<bool()>& condition, int32 tries = 1000)
{
    for (int32 i = 0; i < tries; i++, snooze(5000)) {
        if (condition())
            return true;
    }
    return false;
}

class PlaybackSession : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // No display at all; sound to a file; no codec modules installed
        // (FFmpeg decodes both streams).
        unsetenv("DISPLAY");
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", (kFolder + "-sound.raw").c_str(), 1);
        setenv("XDG_DATA_HOME", kFolder.c_str(), 1);
        fPath = std::string(REELMOTH_TEST_DATA) + "/asf/wmv2-wmav2-512.wmv";
        ASSERT_TRUE(read_stream_objects(fPath, 1, &fStream));
        ASSERT_TRUE(ffmpeg_pictures(fPath, fStream.width, fStream.height, [&](const uint8* pixels) {
            fExpected.push_back(pixel_checksum(pixels, fStream.width, fStream.height));
        }));
        ASSERT_EQ(fExpected.size(), fStream.objects.size());
        entry_ref ref;
        ASSERT_EQ(get_ref_for_path(fPath.c_str(), &ref), B_OK);
        CResult opened = fSession.Open(&ref);
        ASSERT_TRUE(opened.IsOK()) << opened.Why();
        ASSERT_NE(fSession.Video(), nullptr);
        ASSERT_NE(fSession.Audio(), nullptr);
        fSession.SetPictureSink(&fSink);
    }

    void TearDown() override
    {
        fSession.Stop();
        unlink((kFolder + "-sound.raw").c_str());
    }

    // The picture ffmpeg decodes for the first object at or after `time`.
    size_t FirstAtOrAfter(uint32 time) const
    {
        size_t i = 0;
        while (i < fStream.objects.size() && fStream.objects[i].time < time)
            i++;
        return i;
    }

    // The key frame a seek to `time` must decode from.
    uint32 KeyFrameAtOrBefore(uint32 time) const
    {
        uint32 key = 0;
        for (const stream_objects::object& object : fStream.objects) {
            if (object.time <= time && object.keyFrame)
                key = object.time;
        }
        return key;
    }

    std::string fPath;
    stream_objects fStream;
    std::vector<uint64> fExpected;
    CPlaybackSession fSession;
    CRecordingSink fSink{&fSession.Clock()};
};

} // namespace

// A seek decodes from the key frame at or before the place and shows first
// the picture at or after it, exactly as ffmpeg decodes that picture: both
// for a place asked for before the start and for one asked for while
// playing.
TEST_F(PlaybackSession, SeekShowsFirstThePictureAtOrAfterThePlaceDecodedFromTheKeyFrameBefore)
{
    const uint32 kFirstPlace = 1700, kSecondPlace = 800;
    // Both places lie between key frames: a seek that began decoding at the
    // place itself would show a damaged picture.
    ASSERT_LT(KeyFrameAtOrBefore(kFirstPlace), fStream.objects[FirstAtOrAfter(kFirstPlace)].time);
    ASSERT_LT(KeyFrameAtOrBefore(kSecondPlace), fStream.objects[FirstAtOrAfter(kSecondPlace)].time);

    fSession.Seek(kFirstPlace);
    fSession.Start();
    ASSERT_TRUE(wait_until([&] { return fSink.Shown().size() >= 5; }));
    std::vector<shown_picture> shown = fSink.Shown();
    size_t first = FirstAtOrAfter(kFirstPlace);
    EXPECT_EQ(shown[0].time, fStream.objects[first].time);
    EXPECT_EQ(shown[0].checksum, fExpected[first]);

    // Back to an earlier place while playing: the first picture of the new
    // place is the first that goes back in time.
    fSession.Seek(kSecondPlace);
    ASSERT_TRUE(wait_until([&] {
        std::vector<shown_picture> now = fSink.Shown();
        return now.back().time < shown.back().time && now.back().time > kSecondPlace + 100;
    }));
    shown = fSink.Shown();
    auto back = std::adjacent_find(shown.begin(), shown.end(),
                                   [](const auto& a, const auto& b) { return b.time < a.time; });
    ASSERT_NE(back, shown.end());
    size_t second = FirstAtOrAfter(kSecondPlace);
    EXPECT_EQ(back[1].time, fStream.objects[second].time);
    EXPECT_EQ(back[1].checksum, fExpected[second]);
    // Every picture after it is ffmpeg's, in order, none missing.
    for (auto it = back + 1; it != shown.end(); ++it, ++second)
        EXPECT_EQ(it->checksum, fExpected[second]) << "picture at " << it->time << " ms";
}

// A pause stops the clock, the pictures and the sound at once (not after
// the sound already queued has played), and the resume goes on from there.
TEST_F(PlaybackSession, PauseStopsTheClockAtOnceAndResumeGoesOnFromThere)
{
    fSession.Start();
    ASSERT_TRUE(wait_until([&] { return fSession.Position() >= 800; }));
    uint32 atPause = fSession.Position();
    fSession.SetPaused(true);
    snooze(150000);
    uint32 held = fSession.Position();
    size_t pictures = fSink.Shown().size();
    snooze(400000);
    EXPECT_EQ(fSession.Position(), held);
    EXPECT_EQ(fSink.Shown().size(), pictures);
    // What the sound card had already been given still plays: a device
    // buffer, not the eight pages queued ahead (186 ms at this rate).
    EXPECT_LT(held - atPause, 100u);

    fSession.SetPaused(false);
    ASSERT_TRUE(wait_until([&] { return fSink.Shown().size() > pictures + 3; }));
    std::vector<shown_picture> shown = fSink.Shown();
    EXPECT_GE(shown[pictures].time, held);
    EXPECT_LT(shown[pictures].time, held + 100);
}

// With sound, the clock is the sound output's position, and each picture is
// shown when that clock reaches its time.
TEST_F(PlaybackSession, TheSoundLeadsTheClockAndThePicturesFollowIt)
{
    fSession.Start();
    ASSERT_TRUE(wait_until([&] { return fSink.Shown().size() >= 40; }));
    EXPECT_TRUE(fSession.Clock().FollowsSound());
    bigtime_t sound = 0;
    ASSERT_TRUE(fSession.Audio()->Position(&sound));
    bigtime_t clock = fSession.Clock().Now();
    // Read one after the other: the clock is the sound's position then.
    EXPECT_GE(clock, sound);
    EXPECT_LT(clock - sound, 5000);

    std::vector<shown_picture> shown = fSink.Shown();
    std::vector<bigtime_t> lateness;
    for (const shown_picture& picture : shown)
        lateness.push_back(picture.clockAt - bigtime_t(picture.time) * 1000);
    std::sort(lateness.begin(), lateness.end());
    // Never before its time; the typical one within a frame of it.
    EXPECT_GE(lateness.front(), -2000);
    EXPECT_LT(lateness[lateness.size() / 2], 40000);
}
