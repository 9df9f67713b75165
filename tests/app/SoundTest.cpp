// Sound end to end: the real `reelmoth` plays IMA ADPCM streams under format
// tag 0x55 through the tests' ACM driver installed as "L3codeca.acm", with
// SDL's disk audio driver writing what the sound output plays to a file.

#include "MediaFiles.h"
#include "RecordedPlayer.h"
#include "XServerTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Drops whole frames of silence from the front.
std::vector<int16> without_leading_silence(const std::vector<int16>& samples, size_t channels)
{
    size_t first = 0;
    while (first + channels <= samples.size() &&
           std::all_of(samples.begin() + long(first), samples.begin() + long(first + channels),
                       [](int16 s) { return s == 0; }))
        first += channels;
    return std::vector<int16>(samples.begin() + long(first), samples.end());
}

// The frames from the first to the last that is not silent.
std::vector<int16> sounding_part(const std::vector<int16>& samples, size_t channels)
{
    auto silent = [&](size_t frame) {
        return std::all_of(samples.begin() + long(frame * channels),
                           samples.begin() + long((frame + 1) * channels),
                           [](int16 s) { return s == 0; });
    };
    size_t frames = samples.size() / channels;
    size_t first = 0, end = frames;
    while (first < frames && silent(first))
        first++;
    while (end > first && silent(end - 1))
        end--;
    return std::vector<int16>(samples.begin() + long(first * channels),
                              samples.begin() + long(end * channels));
}

// The longest run of silent frames.
size_t longest_silence(const std::vector<int16>& samples, size_t channels)
{
    size_t longest = 0, run = 0;
    for (size_t frame = 0; frame + 1 <= samples.size() / channels; frame++) {
        bool silent = std::all_of(samples.begin() + long(frame * channels),
                                  samples.begin() + long((frame + 1) * channels),
                                  [](int16 s) { return s == 0; });
        run = silent ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

// A copy of a test file whose audio carries format tag 0x55, played by its
// own process in a home with the driver installed (or not).
class sound_player : public recorded_player
{
public:
    // `build` is the test driver's build installed as "L3codeca.acm".
    // `more` adds to (and overrides) the child's environment.
    sound_player(const char* name, bool installModule, uint16 tag = 0x55,
                 const char* build = "L3codeca.acm", const std::string& display = "",
                 const std::vector<std::string>& more = {}, const char* installAs = "L3codeca.acm",
                 const std::vector<std::string>& alsoInstall = {})
        : recorded_player(name,
                          options(installModule, tag, build, display, more, installAs, alsoInstall))
    {
    }

private:
    static recording_options options(bool installModule, uint16 tag, const char* build,
                                     const std::string& display,
                                     const std::vector<std::string>& more, const char* installAs,
                                     const std::vector<std::string>& alsoInstall)
    {
        recording_options options;
        options.tag = tag;
        options.module = build;
        options.installAs = installModule ? installAs : nullptr;
        if (installModule)
            options.alsoInstall = alsoInstall;
        if (!display.empty())
            options.environment.push_back("DISPLAY=" + display);
        options.environment.insert(options.environment.end(), more.begin(), more.end());
        return options;
    }
};

class Sound : public x_server_test
{
protected:
    // Waits for `count` windows; says what there is when they do not come.
    static bool WindowsAppear(size_t count, std::initializer_list<sound_player*> players)
    {
        if (sServer->WaitForWindows(count, kTimeout))
            return true;
        for (auto& window : sServer->Windows())
            ADD_FAILURE() << "window " << window.title;
        for (sound_player* player : players) {
            ADD_FAILURE() << (player->Process().Running() ? "running: " : "ended: ")
                          << player->Process().ErrorOutput();
        }
        return false;
    }

    // Closes the one window and waits for the process to end.
    void CloseAndEnd(sound_player& player)
    {
        auto windows = sServer->Windows();
        ASSERT_EQ(windows.size(), 1u);
        sServer->Close(windows[0].id);
        EXPECT_EQ(player.Process().Wait(kTimeout), 0) << player.Process().ErrorOutput();
    }
};

} // namespace

TEST_F(Sound, ImaAdpcmPlaysThroughTheModuleAsFFmpegDecodesItAtEveryRate)
{
    struct stream_case {
        const char* file;
        size_t channels;
    };
    std::vector<stream_case> cases = {
        {"imaadpcm-48k-stereo.wma", 2}, {"imaadpcm-44k-mono.wma", 1}, {"imaadpcm-22k-mono.wma", 1}};
    // All three at once, each in a window and a process of its own.
    std::vector<std::unique_ptr<sound_player>> players;
    for (const stream_case& c : cases)
        players.push_back(std::make_unique<sound_player>(c.file, true));
    ASSERT_TRUE(
        WindowsAppear(cases.size(), {players[0].get(), players[1].get(), players[2].get()}));
    usleep(4000000); // three seconds of sound, and some
    for (auto window : sServer->Windows())
        sServer->Close(window.id);
    for (size_t k = 0; k < cases.size(); k++) {
        const stream_case& c = cases[k];
        SCOPED_TRACE(c.file);
        sound_player& player = *players[k];
        EXPECT_EQ(player.Process().Wait(kTimeout), 0) << player.Process().ErrorOutput();

        // What was played is ffmpeg's decode from its start to its last
        // sample without a gap, then silence.
        std::vector<int16> expected = without_leading_silence(ffmpeg_decode(c.file), c.channels);
        std::vector<int16> played = without_leading_silence(player.Samples(), c.channels);
        size_t same = 0;
        while (same < played.size() && same < expected.size() && played[same] == expected[same])
            same++;
        EXPECT_EQ(same, expected.size());
        for (size_t i = same; i < played.size(); i++)
            ASSERT_EQ(played[i], 0) << "sample " << i << " is not ffmpeg's";
    }
}

TEST_F(Sound, Mp3PlaysThroughWinesModuleAsFFmpegDecodesItToTheLastFrame)
{
    const size_t channels = 2;
    std::string wine = std::string(REELMOTH_WINE_ACM_DIR) + "/l3codeca.acm";
    ASSERT_TRUE(std::filesystem::exists(wine))
        << wine << " is missing: scripts/bootstrap fetches Wine's ACM modules";
    std::vector<int16> expected = ffmpeg_decode("mp3-44k-stereo-128k.wma");
    sound_player player("mp3-44k-stereo-128k.wma", true, 0x55, wine.c_str());
    ASSERT_TRUE(WindowsAppear(1, {&player}));
    // Three seconds of sound, more on a busy machine (the emulated decoder is
    // then late): until nearly as much as ffmpeg's decode has played, then
    // time for the rest.
    for (int i = 0; i < 60; i++) {
        usleep(500000);
        if (sounding_part(player.Samples(), channels).size() + 4096 * channels >= expected.size())
            break;
    }
    usleep(1500000);
    CloseAndEnd(player);

    // Two MP3 decoders start at different points of the stream (encoder
    // delay, gapless trimming) and round differently: find where ffmpeg's
    // decode starts in what was played, then compare the whole of it.
    std::vector<int16> played = sounding_part(player.Samples(), channels);
    ASSERT_GT(expected.size(), 44100u * channels * 2);
    ASSERT_GT(played.size(), 0u);
    // Silence inside the sound is a dropout: the test's sound has none.
    EXPECT_LT(longest_silence(played, channels), 64u);
    const size_t window = 44100 / 2 * channels; // from the middle of the first second
    const size_t from = 44100 / 4 * channels;
    const long reach = 4096;
    long best = 0;
    double bestScore = -1;
    for (long shift = -reach; shift <= reach; shift++) {
        double dot = 0, energy = 0;
        for (size_t i = from; i < from + window; i += channels) {
            long at = long(i) + shift * long(channels);
            if (at < 0 || size_t(at) + 1 >= played.size())
                continue;
            for (size_t c = 0; c < channels; c++) {
                dot += double(played[size_t(at) + c]) * expected[i + c];
                energy += double(played[size_t(at) + c]) * played[size_t(at) + c];
            }
        }
        double score = energy > 0 ? dot / std::sqrt(energy) : -1;
        if (score > bestScore) {
            bestScore = score;
            best = shift;
        }
    }
    // Every sample of ffmpeg's decode was played, the last ones too.
    long first = best * long(channels);
    ASSERT_GE(long(played.size()) - first, long(expected.size()))
        << "the end of the sound is missing: played " << played.size() << ", shift " << best;
    double signal = 0, noise = 0;
    for (size_t i = 0; i < expected.size(); i++) {
        int16 ours = first + long(i) >= 0 ? played[size_t(first + long(i))] : 0;
        signal += double(expected[i]) * expected[i];
        noise += double(ours - expected[i]) * (ours - expected[i]);
    }
    double snr = noise > 0 ? 10 * std::log10(signal / noise) : 999;
    printf("Wine's l3codeca against ffmpeg: shift %ld frames, %.1f dB\n", best, snr);
    EXPECT_GE(snr, 60.0);
}

TEST_F(Sound, AMovieSoundsWithoutADropoutAndEverySampleIsFFmpegsDecode)
{
    // 20 s of 640x480 30 fps pictures with 44.1 kHz stereo sound: the
    // pictures waiting for their time must not starve the sound.
    const char* name = "wmv2-640x480-imaadpcm-20s.asf";
    std::vector<int16> expected = sounding_part(ffmpeg_decode(name), 2);
    sound_player player(name, true);
    ASSERT_TRUE(WindowsAppear(1, {&player}));
    for (int i = 0; i < 300 && player.FramesDrawn() < 20 * 30 - 30; i++)
        usleep(100000);
    usleep(1000000);
    // Pictures played alongside (most of them: a sanitizer build on a busy
    // machine drops some as late).
    EXPECT_GT(player.FramesDrawn(), 20u * 30 / 2);
    CloseAndEnd(player);
    std::vector<int16> played = sounding_part(player.Samples(), 2);
    // Silence inside the sound is a dropout (the stream's own sine has no
    // run of silent frames anywhere near this long).
    EXPECT_LT(longest_silence(played, 2), 64u);
    ASSERT_EQ(played.size(), expected.size());
    for (size_t i = 0; i < played.size(); i++)
        ASSERT_EQ(played[i], expected[i]) << "sample " << i;
}

TEST_F(Sound, AFileWhoseAudioHasNoModulePlaysItsVideoWithoutSound)
{
    // The module is not installed, and a tag no module answers; FFmpeg is
    // not asked.
    for (uint16 tag : {uint16(0x55), uint16(0x7777)}) {
        SCOPED_TRACE(tag);
        sound_player player("wmv2-imaadpcm-48k-stereo.asf", tag != 0x55, tag, "L3codeca.acm", "",
                            {"REELMOTH_AUDIO=modules"});
        ASSERT_TRUE(WindowsAppear(1, {&player}));
        for (int i = 0; i < 100 && player.FramesDrawn() < 10; i++)
            usleep(50000);
        EXPECT_GE(player.FramesDrawn(), 10u);
        CloseAndEnd(player);
        EXPECT_FALSE(player.SoundOpened());
    }
}

TEST_F(Sound, ClosingWhilePlayingStopsSoundAndPicturesAtOnce)
{
    sound_player player("wmv2-imaadpcm-long.asf", true);
    ASSERT_TRUE(WindowsAppear(1, {&player}));
    usleep(1500000);
    size_t drawn = player.FramesDrawn();
    EXPECT_GT(drawn, 10u);
    CloseAndEnd(player);
    // Of eight seconds of sound and pictures, no more than the time it
    // played came out.
    EXPECT_LT(player.FramesDrawn(), 25u * 4);
    std::vector<int16> played = without_leading_silence(player.Samples(), 1);
    EXPECT_GT(played.size(), 22050u / 2);
    EXPECT_LT(played.size(), 22050u * 4);
    struct stat registry;
    EXPECT_EQ(stat((player.Process().Home() + "/config/WeAreQuarl/registry").c_str(), &registry),
              0);
}

TEST_F(Sound, ClosingWhileModuleCodeRunsEndsTheProcess)
{
    // The driver never returns from its third conversion: the reader is
    // inside module code, looping on its own or calling imports as it loops,
    // when the window is closed.
    for (const char* build : {"spinacm.acm", "spinimports.acm"}) {
        SCOPED_TRACE(build);
        sound_player player("wmv2-imaadpcm-long.asf", true, 0x55, build);
        ASSERT_TRUE(WindowsAppear(1, {&player}));
        usleep(500000);
        CloseAndEnd(player);
        ASSERT_TRUE(sServer->WaitForWindows(0, kTimeout));
    }
}

TEST_F(Sound, AModuleThatFaultsOrGoesOverItsLimitIsReportedOnceAndTheSoundGoesOnWithFFmpeg)
{
    // The drivers fault on the caller's thread, fault on their worker
    // thread, or make events without end, from their tenth block on: the
    // host says which module once, the player says once that FFmpeg takes
    // over, and the sound goes on as FFmpeg decodes it. Found by asking
    // for IMA ADPCM's own tag, which they report.
    const char* name = "wmv2-imaadpcm-noise-20s.asf";
    std::vector<int16> expected = ffmpeg_decode(name);
    for (const char* build : {"faultacm.acm", "workerfaultacm.acm", "limitacm.acm"}) {
        SCOPED_TRACE(build);
        sound_player player(name, true, 0x0011, build, "", {}, build);
        ASSERT_TRUE(WindowsAppear(1, {&player}));
        usleep(3000000);
        size_t drawn = player.FramesDrawn();
        usleep(1000000);
        EXPECT_GT(player.FramesDrawn(), drawn + 10);
        std::vector<int16> played = player.Samples();
        CloseAndEnd(player);
        ASSERT_GT(played.size(), 2u * 4096);
        auto piece = played.end() - 2 * 4096;
        EXPECT_NE(std::search(expected.begin(), expected.end(), piece, piece + 256),
                  expected.end());
        std::string errors = player.Process().ErrorOutput();
        std::string line = std::string("reelmoth: ") + build +
                           " faulted; the sound goes on "
                           "with FFmpeg\n";
        size_t report = errors.find(line);
        ASSERT_NE(report, std::string::npos) << errors;
        EXPECT_EQ(errors.find(line, report + 1), std::string::npos) << errors;
        if (strcmp(build, "limitacm.acm") == 0) {
            EXPECT_NE(errors.find("module 'limitacm.acm' went over its limit"), std::string::npos)
                << errors;
            size_t once = errors.find("went over its limit");
            EXPECT_EQ(errors.find("went over its limit", once + 1), std::string::npos) << errors;
        }
    }
}

TEST_F(Sound, LosingTheDisplayEndsTheProcessAndKeepsTheRegistry)
{
    // A display of the player's own, which goes away while it plays.
    std::string display;
    pid_t server = start_xvfb(&display);
    ASSERT_GT(server, 0);
    sound_player player("wmv2-imaadpcm-long.asf", true, 0x55, "L3codeca.acm", display);
    for (int i = 0; i < 100 && player.FramesDrawn() < 10; i++)
        usleep(50000);
    EXPECT_GE(player.FramesDrawn(), 10u);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    // The display's library ends the process with status 1; its threads are
    // still running then, and nothing may be torn down under them.
    EXPECT_EQ(player.Process().Wait(kTimeout), 1) << player.Process().ErrorOutput();
    std::string errors = player.Process().ErrorOutput();
    EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("runtime error"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("INVALID KEY"), std::string::npos) << errors;
    struct stat registry;
    EXPECT_EQ(stat((player.Process().Home() + "/config/WeAreQuarl/registry").c_str(), &registry),
              0);
}

TEST_F(Sound, WithoutASoundOutputThePicturesPlayAndOneLineSaysSo)
{
    // The stream decodes, but no sound output opens: every picture of the
    // three seconds is drawn all the same, and stderr holds one line.
    sound_player player("wmv2-imaadpcm-48k-stereo.asf", true, 0x55, "L3codeca.acm", "",
                        {"SDL_AUDIODRIVER=nosuchdriver"});
    ASSERT_TRUE(WindowsAppear(1, {&player}));
    // Drawn, or dropped as late on a busy machine, but every one in time.
    auto shown = [&] {
        std::string output = player.Process().Output();
        size_t skipped = 0;
        for (size_t at = 0; (at = output.find("skipped a frame by", at)) != std::string::npos; at++)
            skipped++;
        return player.FramesDrawn() + skipped;
    };
    for (int i = 0; i < 200 && shown() < 75; i++)
        usleep(50000);
    EXPECT_EQ(shown(), 75u);
    EXPECT_GT(player.FramesDrawn(), 37u);
    CloseAndEnd(player);
    EXPECT_FALSE(player.SoundOpened());
    EXPECT_EQ(player.Process().ErrorOutput(), "no sound output: playing without sound\n");
}

TEST_F(Sound, EachFormatPlaysThroughTheModuleThatReportsItElseThroughFFmpeg)
{
    // Wine's five modules installed under their own file names: each stream
    // goes to the module found by asking for its tag; WMA 1 and 2, which no
    // module reports, to FFmpeg behind the same sound path, with pictures or
    // without. Sample for sample
    // ffmpeg's decode (IMA ADPCM: two decoders that round each step their own
    // way), without a dropout, each window open for the whole file.
    std::vector<std::string> wine;
    for (const char* name :
         {"msadp32.acm", "imaadp32.acm", "msg711.acm", "msgsm32.acm", "l3codeca.acm"}) {
        wine.push_back(std::string(REELMOTH_WINE_ACM_DIR) + "/" + name);
        ASSERT_TRUE(std::filesystem::exists(wine.back()))
            << wine.back() << " is missing: scripts/bootstrap fetches Wine's ACM modules";
    }
    struct sound_case {
        const char* file;
        uint16 tag;
        const char* decoder;
        double minimumSnr; // 0: bit-exact
    };
    for (const sound_case& c :
         {sound_case{"audio-only-adpcm_ms.wma", 0x0002, "codec module msadp32.acm", 0},
          sound_case{"imaadpcm-22k-mono.wma", 0x0011, "codec module imaadp32.acm", 45},
          sound_case{"audio-only-mulaw.wma", 0x0007, "codec module msg711.acm", 0},
          sound_case{"audio-only-alaw.wma", 0x0006, "codec module msg711.acm", 0},
          sound_case{"audio-only-gsm.wma", 0x0031, "codec module msgsm32.acm", 0},
          sound_case{"audio-only-wmav1.wma", 0x0160, "FFmpeg wmav1", 0},
          sound_case{"audio-only-wmav2-600.wma", 0x0161, "FFmpeg wmav2", 0},
          sound_case{"wmv1-wmav1-512.asf", 0x0160, "FFmpeg wmav1", 0},
          sound_case{"wmv2-wmav2-512.wmv", 0x0161, "FFmpeg wmav2", 0}}) {
        SCOPED_TRACE(c.file);
        sound_player player(c.file, true, c.tag, "", "", {"REELMOTH_DEBUG=1"}, nullptr, wine);
        ASSERT_TRUE(WindowsAppear(1, {&player}));
        usleep(4000000); // three seconds of sound, and some
        CloseAndEnd(player);
        EXPECT_NE(player.Process().ErrorOutput().find(std::string("by ") + c.decoder),
                  std::string::npos)
            << player.Process().ErrorOutput();
        std::vector<int16> expected = sounding_part(ffmpeg_decode(c.file), 1);
        std::vector<int16> played = sounding_part(player.Samples(), 1);
        EXPECT_LT(longest_silence(played, 1), 64u);
        if (c.minimumSnr == 0) {
            ASSERT_EQ(played.size(), expected.size());
            for (size_t i = 0; i < played.size(); i++)
                ASSERT_EQ(played[i], expected[i]) << "sample " << i;
            continue;
        }
        // Wine's IMA module decodes the encoder's padded last block whole.
        ASSERT_GE(played.size(), expected.size());
        EXPECT_LT(played.size() - expected.size(), 2048u);
        double signal = 0, noise = 0;
        for (size_t i = 0; i < expected.size(); i++) {
            signal += double(expected[i]) * expected[i];
            noise += (double(played[i]) - expected[i]) * (double(played[i]) - expected[i]);
        }
        double snr = noise == 0 ? 999 : 10 * std::log10(signal / noise);
        printf("%s: %.1f dB against ffmpeg\n", c.file, snr);
        EXPECT_GE(snr, c.minimumSnr);
    }
}

TEST_F(Sound, ASoundOnlyFileNobodyCanDecodeStillOpensAWindowThatSaysWhy)
{
    // WMA 9 Pro's tag on WMA 2's data: FFmpeg refuses it, no module knows it.
    sound_player player("audio-only-wmav2-600.wma", false, 0x0162);
    ASSERT_TRUE(WindowsAppear(1, {&player}));
    usleep(1000000);
    auto windows = sServer->Windows();
    ASSERT_EQ(windows.size(), 1u);
    // The picture area below the menu bar holds text (white on black), and
    // the window stays while the file's time runs.
    const int top = 40;
    std::vector<unsigned char> pixels =
        sServer->Pixels(windows[0].id, 0, top, windows[0].width, windows[0].height - top);
    size_t white = 0;
    for (size_t i = 0; i + 3 < pixels.size(); i += 4)
        white += pixels[i] > 240 && pixels[i + 1] > 240 && pixels[i + 2] > 240;
    EXPECT_GT(white, 50u);
    EXPECT_TRUE(player.Process().Running());
    CloseAndEnd(player);
    EXPECT_FALSE(player.SoundOpened());
    EXPECT_EQ(player.Process().ErrorOutput(), "");
}
