// Codec modules that misbehave, end to end: whatever the module does in its
// host process (waits without end while loading, opening or converting,
// loops as it is unloaded, writes the player's own settings, takes memory
// without end, writes where it was given no memory, or its host crashes or
// is stopped by its filter), the real `reelmoth` draws its pictures,
// plays the sound through FFmpeg, closes promptly, ends with status 0 and
// keeps its settings.
#include "MediaFiles.h"
#include "RecordedPlayer.h"
#include "XServerTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace
{

// Noise: a piece of its sound is found in one place of the decode only.
const char kMovie[] = "wmv2-imaadpcm-noise-20s.asf";

struct attack {
    const char* module;
    // The end of the one line that reports the module.
    const char* report;
    int killHost = 0; // the signal the test ends the host with, from outside
    bool reportMayBeSpared = false;
};

// The codec hosts the player started.
std::vector<pid_t> host_processes(pid_t player)
{
    std::vector<pid_t> hosts;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc != nullptr ? readdir(proc) : nullptr) {
        pid_t pid = atoi(entry->d_name);
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        if (pid <= 0 || !std::getline(stat, line))
            continue;
        size_t close = line.rfind(')');
        pid_t parent = close != std::string::npos ? atoi(line.c_str() + close + 4) : 0;
        if (parent == player && line.find("(reelmoth-codec") != std::string::npos)
            hosts.push_back(pid);
    }
    if (proc != nullptr)
        closedir(proc);
    return hosts;
}

class HostileModule : public x_server_test
{
};

} // namespace

TEST_F(HostileModule, WhateverItDoesThePicturesPlayTheSoundGoesOnAndTheSettingsStay)
{
    const attack attacks[] = {
        {"hangattach.acm", "stopped answering when asked for its formats; it is not used"},
        {"hangopen.acm", "stopped answering; it is not used"},
        {"hangconvert.acm", "stopped answering; the sound goes on with FFmpeg"},
        // Taking memory makes its conversions slow: FFmpeg may take over
        // before the memory watch stops it.
        {"dirty.acm", "used more than 384 MiB of memory; the sound goes on with FFmpeg", 0, true},
        // Its write to memory it was never given faults in the emulator:
        // the host goes on, and the module is reported as any that faults.
        {"wild.acm", "faulted; the sound goes on with FFmpeg"},
        // A read there faults on the host itself, which hands it back to
        // the emulator as the module's own.
        {"wildread.acm", "faulted; the sound goes on with FFmpeg"},
        {"hangdetach.acm", nullptr},
        {"playerkeys.acm", nullptr},
        {"testacm.acm", "crashed (Aborted); the sound goes on with FFmpeg", SIGABRT},
        // As the kernel ends a host whose filter refused a call.
        {"testacm.acm",
         "made a forbidden system call and was stopped; the sound goes on with FFmpeg", SIGSYS},
    };
    std::vector<int16> expected = ffmpeg_decode(kMovie);
    for (const attack& a : attacks) {
        SCOPED_TRACE(a.module);
        recording_options options;
        options.tag = 0x0011; // IMA ADPCM's own: FFmpeg decodes it too
        options.module = a.module;
        options.installAs = a.module;
        recorded_player player(kMovie, options);
        ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout)) << player.Process().ErrorOutput();
        ASSERT_TRUE(player.WaitForFrames(10)) << player.Process().ErrorOutput();
        if (a.killHost != 0) {
            std::vector<pid_t> hosts = host_processes(player.Process().Pid());
            ASSERT_EQ(hosts.size(), 1u);
            kill(hosts[0], a.killHost);
        }
        // The report (at most a deadline away); the pictures, held while
        // the sound was late, follow it again within a few seconds.
        std::string line = std::string("reelmoth: ") + a.module + " ";
        for (int i = 0; i < 100 && a.report != nullptr &&
                        player.Process().ErrorOutput().find(line) == std::string::npos;
             i++)
            usleep(100000);
        usleep(4000000);
        size_t drawn = player.FramesDrawn();
        std::vector<int16> before = player.Samples();
        usleep(1000000);
        EXPECT_GT(player.FramesDrawn(), drawn + 10);
        std::vector<int16> last = player.Samples();
        ASSERT_GT(last.size(), before.size() + 2 * 11025);
        // FFmpeg took over without a gap longer than a sound page: the
        // noise has no silence of its own.
        size_t first = 0, longest = 0, run = 0;
        while (first + 1 < last.size() && last[first] == 0 && last[first + 1] == 0)
            first += 2;
        for (size_t i = first; i + 1 < last.size(); i += 2) {
            run = last[i] == 0 && last[i + 1] == 0 ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        EXPECT_LE(longest, 1024u) << "a silence of " << longest << " frames";
        // The last second sounds, and as FFmpeg decodes the file.
        auto piece = last.end() - 2 * 4096;
        EXPECT_FALSE(std::all_of(piece, last.end(), [](int16 s) { return s == 0; }));
        EXPECT_NE(std::search(expected.begin(), expected.end(), piece, piece + 256),
                  expected.end());

        auto closing = std::chrono::steady_clock::now();
        for (auto& window : sServer->Windows())
            sServer->Close(window.id);
        EXPECT_EQ(player.Process().Wait(kTimeout), 0) << player.Process().ErrorOutput();
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - closing).count();
        EXPECT_LT(seconds, 2.0) << "closing took " << seconds << " s";

        std::string errors = player.Process().ErrorOutput();
        if (a.report != nullptr &&
            (!a.reportMayBeSpared || errors.find(line) != std::string::npos)) {
            size_t at = errors.find(line + a.report + "\n");
            EXPECT_NE(at, std::string::npos) << errors;
            if (at != std::string::npos) {
                EXPECT_EQ(errors.find(line, at + 1), std::string::npos) << "reported twice\n"
                                                                        << errors;
            }
        }
        // The player's settings are the player's: no sound decoder choice
        // and no module record a module wrote.
        std::ifstream file(player.Process().Home() + "/config/WeAreQuarl/registry",
                           std::ios::binary);
        std::string registry((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
        EXPECT_FALSE(registry.empty());
        EXPECT_EQ(registry.find("forged.acm"), std::string::npos);
        EXPECT_EQ(registry.find("Audio decoders"), std::string::npos);
        // What a module keeps of its own is kept.
        if (std::string(a.module) == "playerkeys.acm") {
            EXPECT_NE(registry.find("OpenCount"), std::string::npos);
        }
    }
}
