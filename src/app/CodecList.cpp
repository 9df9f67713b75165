#include "app/CodecList.h"

#include "codec/DecoderModules.h"
#include "platform/media/MediaAudioDecoder.h"

#include <cstdlib>

namespace
{

const char* choice_text(decoder_choice choice)
{
    switch (choice) {
    case kDecodersModules:
        return "modules only";
    case kDecodersFFmpeg:
        return "FFmpeg only";
    default:
        return "modules first, then FFmpeg";
    }
}

const char* video_choice_text(decoder_choice choice)
{
    switch (choice) {
    case kDecodersModules:
        return "modules first, then FFmpeg";
    case kDecodersFFmpeg:
        return "FFmpeg only";
    default:
        return "FFmpeg, and modules for what it does not know";
    }
}

} // namespace

int print_codecs(FILE* out)
{
    std::string folder = decoder_folder();
    fprintf(out, "Codec modules in %s:\n", folder.c_str());
    std::vector<decoder_module> modules = decoder_modules();
    if (modules.empty())
        fprintf(out, "  none\n");
    for (const decoder_module& module : modules) {
        fprintf(out, "  %-16s ", module.file.c_str());
        if (!module.problem.empty()) {
            fprintf(out, "cannot be used: %s\n", module.problem.c_str());
            continue;
        }
        if (module.video) {
            fprintf(out, "\"%s\", video formats", module.driver.c_str());
            for (size_t i = 0; i < module.fourCCs.size(); i++)
                fprintf(out, "%s %s", i == 0 ? "" : ",", fourcc_text(module.fourCCs[i]).c_str());
        } else {
            fprintf(out, "\"%s\", format tags", module.driver.c_str());
            for (size_t i = 0; i < module.tags.size(); i++)
                fprintf(out, "%s 0x%04X", i == 0 ? "" : ",", module.tags[i]);
        }
        fprintf(out, "\n");
    }

    fprintf(out, "FFmpeg decodes format tags:\n");
    int column = 0;
    for (uint16 tag : media_audio_decoder_tags()) {
        const char* name = "";
        media_audio_decoder_for_tag(tag, 16, &name);
        char entry[64];
        int length = snprintf(entry, sizeof(entry), " 0x%04X %s", tag, name);
        if (column > 0 && column + length > 78) {
            fprintf(out, "\n");
            column = 0;
        }
        column += fprintf(out, "%s%s", column == 0 ? " " : ",", entry);
    }
    fprintf(out, "\nSound is decoded by %s%s.\n", choice_text(audio_decoders_choice()),
            getenv("REELMOTH_AUDIO") != nullptr ? " (REELMOTH_AUDIO)" : "");
    fprintf(out, "Pictures are decoded by %s%s.\n", video_choice_text(video_decoders_choice()),
            getenv("REELMOTH_VIDEO") != nullptr ? " (REELMOTH_VIDEO)" : "");
    return 0;
}
