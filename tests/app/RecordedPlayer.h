// The real `reelmoth` playing a copy of a test file in a home of its own,
// with codec modules installed as asked, its sound written by SDL's disk
// driver and its pictures by the frame log.
#pragma once

#include "MediaFiles.h"
#include "X11Probe.h"

#include <memory>
#include <string>
#include <vector>

std::string asf_file(const char* name);
// A build of the tests' driver, or a module given by its path.
std::string module_file(const char* build);
// ffmpeg's decode of a test file's sound, as 16-bit samples.
std::vector<int16> ffmpeg_decode(const char* name);

struct recording_options {
    // The format tag the copy's audio stream is given (0: its own).
    uint16 tag = 0x55;
    // The module installed (a build of the tests' driver, or a path), and
    // under which name; none when `installAs` is null.
    const char* module = "L3codeca.acm";
    const char* installAs = "L3codeca.acm";
    // Module files installed under their own names.
    std::vector<std::string> alsoInstall;
    // Without: the copy ends with its data object.
    bool withIndex = true;
    bool debug = false;
    // Added to (and overriding) the player's environment.
    std::vector<std::string> environment;
};

class recorded_player
{
public:
    recorded_player(const char* name, const recording_options& options);
    ~recorded_player();
    recorded_player(const recorded_player&) = delete;
    recorded_player& operator=(const recorded_player&) = delete;

    player_process& Process() { return *fProcess; }
    std::vector<int16> Samples() const { return read_samples(fSound); }
    std::vector<drawn_frame> Frames() const { return read_frame_log(fFrameLog); }
    size_t FramesDrawn() const { return Frames().size(); }
    // Whether the sound output was opened at all.
    bool SoundOpened() const;
    // Waits up to 20 s for `count` pictures drawn.
    bool WaitForFrames(size_t count);

private:
    std::string fMovie;
    std::string fSound;
    std::string fFrameLog;
    std::string fData;
    std::unique_ptr<player_process> fProcess;
};
