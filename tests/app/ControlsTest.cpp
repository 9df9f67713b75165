// The controls end to end: the real `reelmoth` under a private Xvfb, driven
// with keys and clicks through XTest, its sound written by SDL's disk driver
// and its pictures by the frame log.

#include "MediaFiles.h"
#include "RecordedPlayer.h"
#include "XServerTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace
{

constexpr size_t kChannels = 2;
constexpr size_t kRate = 44100;

bool silent_frame(const std::vector<int16>& samples, size_t frame)
{
    return samples[frame * kChannels] == 0 && samples[frame * kChannels + 1] == 0;
}

// Debug lines of the player: "seek to N ms asked at T us" and "seek G:
// first picture (N ms) drawn at T us".
struct seek_record {
    uint32 target;
    int64 asked;
    int64 drawn = -1;
};

std::vector<seek_record> seeks_in(const std::string& errors)
{
    std::vector<seek_record> seeks;
    std::istringstream lines(errors);
    std::string line;
    while (std::getline(lines, line)) {
        seek_record record{};
        uint32 generation = 0, time = 0;
        int64 drawn = 0;
        if (sscanf(line.c_str(), "seek to %" SCNu32 " ms asked at %" SCNd64, &record.target,
                   &record.asked) == 2)
            seeks.push_back(record);
        else if (sscanf(line.c_str(),
                        "seek %" SCNu32 ": first picture (%" SCNu32 " ms) drawn at %" SCNd64,
                        &generation, &time, &drawn) == 3 &&
                 generation >= 1 && generation <= seeks.size())
            seeks[generation - 1].drawn = drawn;
    }
    return seeks;
}

// A copy of a test file with IMA ADPCM sound under tag 0x55, played with
// the tests' driver installed, or under its own tag by FFmpeg's decoder; its
// sound and pictures recorded.
class movie : public recorded_player
{
public:
    movie(const char* name, bool withIndex = true, bool byFFmpeg = false)
        : recorded_player(name, options(withIndex, byFFmpeg))
    {
    }

private:
    static recording_options options(bool withIndex, bool byFFmpeg)
    {
        recording_options options;
        options.tag = byFFmpeg ? 0 : 0x55;
        options.withIndex = withIndex;
        options.debug = true;
        options.environment = {std::string("REELMOTH_AUDIO=") + (byFFmpeg ? "ffmpeg" : "auto")};
        return options;
    }
};

// ffmpeg's pictures (checksums) and sound of a file.
struct reference {
    stream_objects video;
    std::vector<uint64> pictures;
    std::vector<int16> sound;

    explicit reference(const char* name)
    {
        std::string path = asf_file(name);
        EXPECT_TRUE(read_stream_objects(path, 1, &video));
        EXPECT_TRUE(ffmpeg_pictures(path, video.width, video.height, [&](const uint8* p) {
            pictures.push_back(pixel_checksum(p, video.width, video.height));
        }));
        bytes_t decoded;
        EXPECT_TRUE(ffmpeg_samples(path, &decoded));
        sound.resize(decoded.size() / 2);
        memcpy(sound.data(), decoded.data(), sound.size() * 2);
    }

    // The time of the picture with this checksum, or -1.
    int64 PictureTime(uint64 checksum) const
    {
        auto found = std::find(pictures.begin(), pictures.end(), checksum);
        if (found == pictures.end() || size_t(found - pictures.begin()) >= video.objects.size())
            return -1;
        return video.objects[size_t(found - pictures.begin())].time;
    }
};

class Controls : public x_server_test
{
protected:
    static x_server::window_info OnlyWindow()
    {
        auto windows = sServer->Windows();
        EXPECT_EQ(windows.size(), 1u);
        return windows.empty() ? x_server::window_info{} : windows[0];
    }
    // Waits for the player's window and `frames` pictures drawn in it;
    // `window` becomes it.
    static bool Playing(recorded_player& player, size_t frames, x_server::window_info* window)
    {
        if (!sServer->WaitForWindows(1, kTimeout) || !player.WaitForFrames(frames))
            return false;
        *window = OnlyWindow();
        return true;
    }
    // Waits for the one window to take this size; `window` becomes it.
    static bool Sized(x_server::window_info* window, int width, int height)
    {
        for (int i = 0; i < 100; i++, usleep(20000)) {
            auto windows = sServer->Windows();
            if (windows.size() == 1 && windows[0].width == width && windows[0].height == height) {
                *window = windows[0];
                return true;
            }
        }
        return false;
    }
    void CloseAndEnd(recorded_player& player)
    {
        for (auto& window : sServer->Windows())
            sServer->Close(window.id);
        EXPECT_EQ(player.Process().Wait(kTimeout), 0) << player.Process().ErrorOutput();
    }
};

} // namespace

TEST_F(Controls, PauseHoldsPictureAndSoundAndResumeGoesOnWhereItStopped)
{
    const char* name = "wmv2-640x480-imaadpcm-20s.asf";
    reference expected(name);
    for (bool byFFmpeg : {false, true}) {
        SCOPED_TRACE(byFFmpeg ? "sound by FFmpeg" : "sound by a module");
        movie player(name, true, byFFmpeg);
        x_server::window_info window;
        ASSERT_TRUE(Playing(player, 45, &window));
        sServer->Key(window, "space");
        usleep(300000); // the pages already queued play out
        size_t held = player.Frames().size();
        usleep(1500000);
        EXPECT_EQ(player.Frames().size(), held);                     // no picture while paused
        sServer->Click(window, window.width / 2, window.height / 2); // a click resumes
        ASSERT_TRUE(player.WaitForFrames(held + 30));
        usleep(500000);
        CloseAndEnd(player);

        // The pictures go on with the next one after the pause.
        std::vector<drawn_frame> frames = player.Frames();
        int64 before = expected.PictureTime(frames[held - 1].checksum);
        int64 after = expected.PictureTime(frames[held].checksum);
        EXPECT_GT(after, before);
        EXPECT_LT(after, before + 100);

        // The sound: ffmpeg's decode in order, with exactly one silence (the
        // pause, about 1.2 s or more) in the middle.
        std::vector<int16> played = player.Samples();
        size_t frameCount = played.size() / kChannels;
        size_t first = 0;
        while (first < frameCount && silent_frame(played, first))
            first++;
        size_t end = frameCount;
        while (end > first && silent_frame(played, end - 1))
            end--;
        std::vector<int16> heard;
        size_t silences = 0, run = 0;
        for (size_t i = first; i < end; i++) {
            if (silent_frame(played, i)) {
                run++;
                continue;
            }
            if (run >= 64) {
                silences++;
                EXPECT_GT(run, kRate) << "a silence of " << run << " frames";
            } else {
                // A short run of zeros is the sound's own: it is heard.
                heard.insert(heard.end(), played.begin() + long((i - run) * kChannels),
                             played.begin() + long(i * kChannels));
            }
            run = 0;
            heard.push_back(played[i * kChannels]);
            heard.push_back(played[i * kChannels + 1]);
        }
        EXPECT_EQ(silences, 1u);
        size_t soundStart = 0;
        while (soundStart + 1 < expected.sound.size() && expected.sound[soundStart] == 0 &&
               expected.sound[soundStart + 1] == 0)
            soundStart += 2;
        ASSERT_LE(heard.size() + soundStart, expected.sound.size());
        EXPECT_TRUE(
            std::equal(heard.begin(), heard.end(), expected.sound.begin() + long(soundStart)));
    }
}

// Wine's Video 1 decompressor draws the pictures: each one drawn is
// ffmpeg's, in order, through a pause and a seek to the start.
TEST_F(Controls, AVideoModulesPicturesAreFFmpegsInOrderThroughPauseAndSeek)
{
    const char* name = "msvideo1-imaadpcm.asf";
    reference expected(name);
    recording_options options;
    options.tag = 0;
    options.installAs = nullptr;
    options.alsoInstall = {std::string(REELMOTH_WINE_ACM_DIR) + "/msvidc32.dll"};
    options.debug = true;
    options.environment = {"REELMOTH_VIDEO=modules"};
    recorded_player player(name, options);
    x_server::window_info window;
    ASSERT_TRUE(Playing(player, 30, &window));
    sServer->Key(window, "space");
    usleep(800000); // the sound pages queued at 22 kHz play out
    size_t held = player.Frames().size();
    usleep(1000000);
    EXPECT_EQ(player.Frames().size(), held); // no picture while paused
    sServer->Key(window, "space");
    ASSERT_TRUE(player.WaitForFrames(held + 20));
    sServer->Key(window, "Home");
    usleep(1500000);
    CloseAndEnd(player);
    EXPECT_NE(player.Process().ErrorOutput().find("video: MSVC by codec module msvidc32.dll"),
              std::string::npos)
        << player.Process().ErrorOutput();

    std::vector<drawn_frame> frames = player.Frames();
    ASSERT_GT(frames.size(), held + 20);
    std::vector<int64> times;
    for (const drawn_frame& frame : frames) {
        times.push_back(expected.PictureTime(frame.checksum));
        ASSERT_GE(times.back(), 0) << "picture " << times.size() << " is not ffmpeg's";
    }
    // Forward in time but once, at the seek to the start; the pause goes
    // on with the next picture.
    size_t backwards = 0;
    for (size_t i = 1; i < times.size(); i++)
        backwards += times[i] < times[i - 1];
    EXPECT_EQ(backwards, 1u);
    EXPECT_GT(times[held], times[held - 1]);
    EXPECT_LT(times[held], times[held - 1] + 100);
}

TEST_F(Controls, SeeksLandOnTheirTargetWithAndWithoutAnIndexAndTheSoundFollows)
{
    const char* name = "wmv2-imaadpcm-noise-20s.asf";
    reference expected(name);
    // With and without an index; and the sound by FFmpeg's decoder, which
    // sits behind the same sound path as a module.
    for (auto [withIndex, byFFmpeg] : {std::pair{true, false}, {false, false}, {true, true}}) {
        SCOPED_TRACE(withIndex ? "with a Simple Index" : "without an index");
        SCOPED_TRACE(byFFmpeg ? "sound by FFmpeg" : "sound by a module");
        movie player(name, withIndex, byFFmpeg);
        x_server::window_info window;
        ASSERT_TRUE(Playing(player, 45, &window));
        // Forward 10 s, back 10 s, forward 60 s (past the end), then to
        // the start.
        for (const char* key : {"Right", "Left", "Up", "Home"}) {
            sServer->Key(window, key);
            usleep(1500000);
        }
        CloseAndEnd(player);

        std::vector<seek_record> seeks = seeks_in(player.Process().ErrorOutput());
        ASSERT_EQ(seeks.size(), 4u) << player.Process().ErrorOutput();
        EXPECT_EQ(seeks[3].target, 0u);
        std::vector<drawn_frame> frames = player.Frames();
        for (size_t k = 0; k < seeks.size(); k++) {
            SCOPED_TRACE(k);
            const seek_record& seek = seeks[k];
            ASSERT_GT(seek.drawn, 0) << "no picture after seek " << k;
            // The seek's first picture (the last drawn before the player
            // said so; one of the old place may still come after the key)
            // is the first at or after the target (past the end: the last
            // one).
            auto at = std::find_if(frames.rbegin(), frames.rend(),
                                   [&](const drawn_frame& f) { return f.time <= seek.drawn; });
            ASSERT_NE(at, frames.rend());
            ASSERT_GE(at->time, seek.asked);
            int64 time = expected.PictureTime(at->checksum);
            ASSERT_GE(time, 0) << "not a picture of the file";
            if (seek.target < expected.video.objects.back().time) {
                EXPECT_GE(time, int64(seek.target));
                EXPECT_LT(time, int64(seek.target) + 100);
            } else {
                EXPECT_EQ(time, int64(expected.video.objects.back().time));
            }
            printf("seek %zu to %u ms: first picture %" PRId64 " ms after the key\n", k,
                   seek.target, (seek.drawn - seek.asked) / 1000);
        }

        // After each seek that lands inside the sound, the sound is
        // ffmpeg's decode from the target on (up to a block), for a second.
        std::vector<int16> played = player.Samples();
        for (size_t k : {size_t(0), size_t(1), size_t(3)}) {
            SCOPED_TRACE(k);
            size_t target = size_t(seeks[k].target) * kRate / 1000;
            // A piece from a block past the target, looked for in what was
            // played (noise: no other place sounds the same).
            size_t from = (target + 2048) * kChannels;
            ASSERT_LT(from + 64 * kChannels, expected.sound.size());
            auto needle = expected.sound.begin() + long(from);
            auto found =
                std::search(played.begin(), played.end(), needle, needle + long(64 * kChannels));
            ASSERT_NE(found, played.end()) << "the sound after the seek is not ffmpeg's";
            // Back to where the played sound began to follow the decode.
            size_t p = size_t(found - played.begin()), q = from;
            while (p >= kChannels && q >= kChannels && played[p - 1] == expected.sound[q - 1] &&
                   played[p - 2] == expected.sound[q - 2]) {
                p -= kChannels;
                q -= kChannels;
            }
            EXPECT_LE(q / kChannels, target + 2048);
            EXPECT_GE(q / kChannels + 2048, target);
            size_t length =
                std::min({kRate * kChannels, played.size() - p, expected.sound.size() - q});
            auto differ = std::mismatch(played.begin() + long(p), played.begin() + long(p + length),
                                        expected.sound.begin() + long(q));
            EXPECT_EQ(differ.first, played.begin() + long(p + length))
                << "differs " << (differ.first - played.begin() - long(p)) / 2
                << " frames after the seek's sound began, at target + "
                << long(q / kChannels) - long(target);
        }
        ASSERT_TRUE(sServer->WaitForWindows(0, kTimeout));
    }
}

TEST_F(Controls, FullScreenTakesTheScreenWithThePictureScaledAndGivesItBack)
{
    std::string log = "/tmp/reelmoth-controls-" + std::to_string(getpid()) + "-full.frames";
    unlink(log.c_str());
    player_process player({asf_file("wmv2-640x480-long.wmv")}, false,
                          {"REELMOTH_FRAME_LOG=" + log});
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout));
    x_server::window_info window = OnlyWindow();
    ASSERT_EQ(window.width, 640);
    int bar = window.height - 480;
    sServer->Key(window, "f");
    ASSERT_TRUE(Sized(&window, 1280, 1024)) << window.width << "x" << window.height;
    // 640x480 doubled is 1280x960, with black bars above and below it and
    // no menu bar: the screen is the picture's.
    int top = (1024 - 960) / 2;
    auto laidOut = [&] {
        return sServer->Pixel(window.id, 640, top / 2) == 0 &&
               sServer->Pixel(window.id, 640, 1023 - top / 2) == 0 &&
               sServer->Pixel(window.id, 640, top + 480) != 0;
    };
    bool scaled = false;
    for (int i = 0; i < 150 && !scaled; i++, usleep(20000))
        scaled = laidOut();
    EXPECT_TRUE(scaled) << std::hex << sServer->Pixel(window.id, 640, top / 2) << " "
                        << sServer->Pixel(window.id, 640, 1023 - top / 2) << " "
                        << sServer->Pixel(window.id, 640, top + 480);
    // Escape leaves full screen first, and does not close.
    sServer->Key(window, "Escape");
    ASSERT_TRUE(Sized(&window, 640, 480 + bar)) << window.width << "x" << window.height;
    EXPECT_TRUE(player.Running());
    sServer->Key(window, "Escape");
    EXPECT_EQ(player.Wait(kTimeout), 0) << player.ErrorOutput();
    unlink(log.c_str());
}

TEST_F(Controls, VolumeKeysAndWheelStepTheSoundDoubleClickGoesFullScreenAndTheBarSeeks)
{
    const char* name = "wmv2-640x480-imaadpcm-20s.asf";
    reference expected(name);
    movie player(name);
    x_server::window_info window;
    ASSERT_TRUE(Playing(player, 30, &window));
    // Down three steps, up three, then two notches of the wheel down.
    for (int i = 0; i < 3; i++)
        sServer->Key(window, "9");
    usleep(800000);
    for (int i = 0; i < 3; i++)
        sServer->Key(window, "0");
    usleep(800000);
    sServer->Wheel(window, window.width / 2, window.height / 2, -2);
    usleep(800000);

    // A double click goes to full screen and the next one back, playing on.
    int height = window.height;
    sServer->DoubleClick(window, window.width / 2, window.height / 2);
    ASSERT_TRUE(Sized(&window, 1280, 1024));
    sServer->DoubleClick(window, window.width / 2, window.height / 2);
    ASSERT_TRUE(Sized(&window, 640, height));
    size_t before = player.Frames().size();
    ASSERT_TRUE(player.WaitForFrames(before + 15)); // not paused

    // A click on the bar, three quarters along its track, seeks there.
    window = OnlyWindow();                    // where the window went back to
    sServer->Click(window, 10, height - 100); // pauses; the bar shows
    usleep(100000);
    int left = 110, right = 640 - 110;
    sServer->Click(window, left + (right - left) * 3 / 4, height - 12);
    usleep(800000);
    CloseAndEnd(player);
    std::vector<seek_record> seeks = seeks_in(player.Process().ErrorOutput());
    ASSERT_EQ(seeks.size(), 1u) << player.Process().ErrorOutput();
    uint32 duration = expected.video.objects.back().time;
    EXPECT_NEAR(double(seeks[0].target), duration * 0.75, duration * 0.01);

    // The sound up to the full screen: ffmpeg's decode in order, each
    // sample at one of the volumes the keys and the wheel stepped through
    // (the player's own gain arithmetic), stepping down to 0.7, back to 1
    // and down to 0.8.
    std::vector<int16> played = player.Samples();
    size_t first = 0;
    while (first < played.size() / kChannels && silent_frame(played, first))
        first++;
    size_t soundStart = 0;
    while (soundStart + 1 < expected.sound.size() && expected.sound[soundStart] == 0 &&
           expected.sound[soundStart + 1] == 0)
        soundStart += 2;
    auto scaled = [](int16 sample, int tenths) {
        if (tenths == 10)
            return sample;
        int32 factor = int32(float(tenths) / 10.0f * 65536.0f);
        return int16((int32(sample) * factor) >> 16);
    };
    auto matches = [&](size_t frame, int tenths) {
        size_t p = (first + frame) * kChannels, q = soundStart + frame * kChannels;
        return p + 1 < played.size() && q + 1 < expected.sound.size() &&
               played[p] == scaled(expected.sound[q], tenths) &&
               played[p + 1] == scaled(expected.sound[q + 1], tenths);
    };
    // Volume by volume: the one that matches longest from here on.
    std::vector<int> steps;
    size_t frame = 0;
    while (true) {
        int best = 0;
        size_t bestEnd = frame;
        for (int tenths = 7; tenths <= 10; tenths++) {
            size_t end = frame;
            while (matches(end, tenths))
                end++;
            if (end > bestEnd) {
                bestEnd = end;
                best = tenths;
            }
        }
        if (bestEnd == frame)
            break;
        if (steps.empty() || steps.back() != best)
            steps.push_back(best);
        frame = bestEnd;
    }
    EXPECT_GT(frame, kRate * 3) << "the sound follows ffmpeg's for " << frame << " frames only";
    auto lowest = std::find(steps.begin(), steps.end(), 7);
    ASSERT_NE(lowest, steps.end());
    auto full = std::find(lowest, steps.end(), 10);
    ASSERT_NE(full, steps.end());
    EXPECT_EQ(steps.front(), 10);
    EXPECT_EQ(steps.back(), 8);
}

TEST_F(Controls, MutePlaysSilenceAndQClosesOneWindowOfTwo)
{
    const char* name = "wmv2-640x480-imaadpcm-20s.asf";
    reference expected(name);
    movie player(name);
    x_server::window_info window;
    ASSERT_TRUE(Playing(player, 30, &window));
    sServer->Key(window, "m");
    size_t muted = player.Frames().size();
    ASSERT_TRUE(player.WaitForFrames(muted + 45)); // pictures go on
    CloseAndEnd(player);
    // Sound (ffmpeg's) up to the key, then nothing but silence for the 1.5 s
    // of pictures that followed: the sound already queued is muted too
    // (left to play, it took the silence down to 1.31 s).
    std::vector<int16> played = player.Samples();
    size_t end = played.size() / kChannels;
    while (end > 0 && silent_frame(played, end - 1))
        end--;
    size_t first = 0;
    while (first < end && silent_frame(played, first))
        first++;
    EXPECT_GT(played.size() / kChannels - end, kRate * 14 / 10);
    size_t soundStart = 0;
    while (soundStart + 1 < expected.sound.size() && expected.sound[soundStart] == 0 &&
           expected.sound[soundStart + 1] == 0)
        soundStart += 2;
    EXPECT_TRUE(std::equal(played.begin() + long(first * kChannels),
                           played.begin() + long(end * kChannels),
                           expected.sound.begin() + long(soundStart)));

    // Two windows of one process: q closes the one it is pressed in.
    std::string log = "/tmp/reelmoth-controls-" + std::to_string(getpid()) + "-two.frames";
    unlink(log.c_str());
    player_process two({asf_file("wmv2-640x480-long.wmv"), asf_file("video-only-wmv2.wmv")}, false,
                       {"REELMOTH_FRAME_LOG=" + log});
    ASSERT_TRUE(sServer->WaitForWindows(2, kTimeout));
    auto windows = sServer->Windows();
    x_server::window_info* longer = sServer->Find(windows, "wmv2-640x480-long.wmv");
    x_server::window_info* shorter = sServer->Find(windows, "video-only-wmv2.wmv");
    ASSERT_TRUE(longer != nullptr && shorter != nullptr);
    usleep(500000);
    sServer->Key(*shorter, "q");
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout));
    EXPECT_EQ(sServer->Windows()[0].title, "wmv2-640x480-long.wmv");
    size_t drawn = read_frame_log(log).size();
    usleep(500000);
    EXPECT_GT(read_frame_log(log).size(), drawn + 5); // the other plays on
    sServer->Key(sServer->Windows()[0], "q");
    EXPECT_EQ(two.Wait(kTimeout), 0) << two.ErrorOutput();
    unlink(log.c_str());
}

TEST_F(Controls, EveryFlashIsDrawnWithinFortyMillisecondsOfItsBeep)
{
    // White for 0.1 s and a 1 kHz beep at the same instants, once a second.
    const char* name = "flash-beep.asf";
    reference expected(name);
    ASSERT_FALSE(expected.pictures.empty());
    uint64 white = expected.pictures[0];
    movie player(name);
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout));
    usleep(6500000);
    CloseAndEnd(player);

    // When each flash began to be drawn.
    std::vector<int64> flashes;
    uint64 previous = 0;
    for (const drawn_frame& frame : player.Frames()) {
        if (frame.checksum == white && previous != white)
            flashes.push_back(frame.time);
        previous = frame.checksum;
    }
    // When each beep was played: the sound output says when which frame
    // went to the device.
    std::vector<std::pair<int64, int64>> handed; // device frame, time
    std::istringstream lines(player.Process().ErrorOutput());
    std::string line;
    while (std::getline(lines, line)) {
        int64 frame = 0, time = 0;
        if (sscanf(line.c_str(), "sound output: frame %" SCNd64 " handed to the device at %" SCNd64,
                   &frame, &time) == 2)
            handed.emplace_back(frame, time);
    }
    ASSERT_FALSE(handed.empty());
    int64 firstPage = -1;
    size_t firstAt = player.Process().ErrorOutput().find("sound output: first page at frame ");
    ASSERT_NE(firstAt, std::string::npos);
    sscanf(player.Process().ErrorOutput().c_str() + firstAt,
           "sound output: first page at frame %" SCNd64, &firstPage);
    std::vector<int16> played = player.Samples(); // mono
    // The recording may begin with silence SDL played before the output
    // handed anything: where the first page lies in it says how much.
    auto loud = [](int16 s) { return s != 0; };
    int64 fileFirst = std::find_if(played.begin(), played.end(), loud) - played.begin();
    int64 decodeFirst =
        std::find_if(expected.sound.begin(), expected.sound.end(), loud) - expected.sound.begin();
    int64 extra = fileFirst - decodeFirst - firstPage;
    std::vector<int64> beeps;
    size_t quiet = 0;
    for (size_t i = 0; i < played.size(); i++) {
        if (std::abs(int(played[i])) <= 1000) {
            quiet++;
            continue;
        }
        if (quiet >= kRate / 2 || (beeps.empty() && quiet == i)) {
            auto at =
                std::upper_bound(handed.begin(), handed.end(), std::make_pair(int64(i), INT64_MAX));
            if (at != handed.begin()) {
                --at;
                beeps.push_back(at->second +
                                (int64(i) - extra - at->first) * 1000000 / int64(kRate));
            }
        }
        quiet = 0;
    }
    ASSERT_GE(flashes.size(), 5u);
    ASSERT_GE(beeps.size(), 5u);
    size_t count = std::min(flashes.size(), beeps.size());
    std::vector<int64> offsets;
    for (size_t k = 0; k < count; k++) {
        int64 offset = flashes[k] - beeps[k];
        offsets.push_back(offset);
        EXPECT_LE(std::abs(offset), 40000)
            << "flash " << k << " is " << offset / 1000 << " ms after its beep";
    }
    std::sort(offsets.begin(), offsets.end());
    printf("A/V offset (picture after sound): median %" PRId64 " us, from %" PRId64 " to %" PRId64
           " us\n",
           offsets[offsets.size() / 2], offsets.front(), offsets.back());
}
