// The codec modules of the decoders folder, found as Windows finds them: by
// the format tags their drivers report. What each module reports is
// remembered in the registry (docs/registry.md, "Decoders"), by file name,
// size and modification time, so a start loads only new or changed modules.
#pragma once

#include "codec/ACMStructs.h"
#include "platform/support/SupportDefs.h"

#include <string>
#include <vector>

// What one module file reports.
struct decoder_module {
    std::string file;         // its name in the decoders folder
    std::string driver;       // the driver's short name
    std::vector<uint16> tags; // the format tags it converts (PCM left out)
    std::string problem;      // why it cannot be used; empty when it can
    bool failed = false;      // it took its host process down: never chosen
};

// The decoders folder (it may not exist).
std::string decoder_folder();

// Every module file of the decoders folder (".acm" in any letter case), in
// name order, with what it reports. A module is loaded and asked only when
// the registry holds no answer for its size and time; one that faults while
// asked is remembered as unusable until its file changes.
std::vector<decoder_module> decoder_modules();

// The module files to try for `tag`, best first: the module of the tag's
// fixed name when that file is present, then every other module whose
// driver lists the tag.
std::vector<std::string> decoder_modules_for_tag(uint16 tag);

// The driver's short name as ASCII (what is not becomes '?').
std::string driver_short_name(const tACMDRIVERDETAILSW* details);

// The module took its host process down (missed a deadline, crashed, was
// stopped by the filter): remembered with its size and time, and not
// chosen again until its file changes.
void remember_module_failure(const std::string& file, const std::string& problem);

// Who decodes sound: modules first and FFmpeg when none can (auto), modules
// only, or FFmpeg only. REELMOTH_AUDIO (auto, modules, ffmpeg) overrides the
// registry value HKEY_CURRENT_USER\SOFTWARE\Reelmoth\Audio decoders.
enum audio_decoders { kAudioDecodersAuto, kAudioDecodersModules, kAudioDecodersFFmpeg };
audio_decoders audio_decoders_choice();
