// The codec modules of the decoders folder, found as Windows finds them: by
// the format tags their drivers report. What each module reports is
// remembered in the registry (docs/registry.md, "Decoders"), by file name,
// size and modification time, so a start loads only new or changed modules.
#pragma once

#include "codec/ACMStructs.h"
#include "platform/support/SupportDefs.h"

#include <memory>
#include <string>
#include <vector>

class CACMCodec;
class CICMCodec;

// What one module file reports.
struct decoder_module {
    std::string file;            // its name in the decoders folder
    std::string driver;          // the driver's short name
    bool video = false;          // a picture decompressor, not a sound converter
    std::vector<uint16> tags;    // the format tags it converts (PCM left out)
    std::vector<uint32> fourCCs; // the picture codes it decompresses
    uint32 handler = 0;          // the code its driver opens with
    std::string problem;         // why it cannot be used; empty when it can
    bool failed = false;         // it took its host process down: never chosen
};

// The decoders folder (it may not exist).
std::string decoder_folder();

// Every module file of the decoders folder (".acm", ".dll" and ".drv" in
// any letter case), in name order, with what it reports. A module is loaded and asked only when
// the registry holds no answer for its size and time; one that faults while
// asked is remembered as unusable until its file changes.
std::vector<decoder_module> decoder_modules();

// The module files to try for `tag`, best first: the module of the tag's
// fixed name when that file is present, then every other module whose
// driver lists the tag.
std::vector<std::string> decoder_modules_for_tag(uint16 tag);

// The driver's short name as ASCII (what is not becomes '?').
std::string driver_short_name(const tACMDRIVERDETAILSW* details);

// The picture decompressors to try for `fourCC`, best first: those that
// listed it, then every other one (asked with the stream's own format).
std::vector<decoder_module> video_modules_for_fourcc(uint32 fourCC);

// The drivers discovery opened, kept loaded by a host process that asks
// modules in turn (closing them would run their code again).
struct asked_drivers {
    std::vector<std::unique_ptr<CACMCodec>> sound;
    std::vector<std::unique_ptr<CICMCodec>> video;
    asked_drivers();
    ~asked_drivers();
};

// Asks the module `file` (loadable by that name) what it decodes: a video
// decompressor first unless it is named ".acm", then an ACM driver. Fills
// driver, video, tags, fourCCs and, when it decodes nothing, problem. With
// `keep`, the drivers opened stay open there.
void ask_module_driver(const std::string& file, decoder_module* module, asked_drivers* keep);

// A four-character code for people: "cvid", or "0x00000001" when it is not
// printable.
std::string fourcc_text(uint32 fourCC);

// The module took its host process down (missed a deadline, crashed, was
// stopped by the filter): remembered with its size and time, and not
// chosen again until its file changes.
void remember_module_failure(const std::string& file, const std::string& problem);

// Who decodes sound: modules first and FFmpeg when none can (auto), modules
// only, or FFmpeg only. REELMOTH_AUDIO (auto, modules, ffmpeg) overrides the
// registry value HKEY_CURRENT_USER\SOFTWARE\Reelmoth\Audio decoders.
enum decoder_choice { kDecodersAuto, kDecodersModules, kDecodersFFmpeg };
decoder_choice audio_decoders_choice();
// Who decodes pictures: FFmpeg when it knows the code and a module
// otherwise (auto), modules first, or FFmpeg only. REELMOTH_VIDEO overrides
// the registry value HKEY_CURRENT_USER\SOFTWARE\Reelmoth\Video decoders.
decoder_choice video_decoders_choice();
