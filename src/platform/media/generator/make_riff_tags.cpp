// Writes one of FFmpeg's RIFF tag tables as C++ source: the video one
// (FourCC -> codec) or, with the argument "audio", the WAVE format tag one.
// The player finds decoders the way libavformat does without linking
// libavformat: its dependencies alone add a noticeable part to start-up.
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace
{

// The table's entries, as libavformat lays them out (the type is not
// public): a codec id and a FourCC, ended by AV_CODEC_ID_NONE.
struct codec_tag {
    AVCodecID id;
    unsigned int tag;
};

} // namespace

int main(int argc, char** argv)
{
    bool audio = argc > 1 && strcmp(argv[1], "audio") == 0;
    const AVCodecTag* table =
        audio ? avformat_get_riff_audio_tags() : avformat_get_riff_video_tags();
    const codec_tag* tags = reinterpret_cast<const codec_tag*>(table);
    printf("// Made at build time from libavformat's RIFF %s tags.\n", audio ? "audio" : "video");
    for (; tags->id != AV_CODEC_ID_NONE; tags++) {
        // Each entry must read back through the public lookup: a check that
        // the layout above is still libavformat's.
        const AVCodecTag* tables[] = {table, nullptr};
        if (av_codec_get_id(tables, tags->tag) == AV_CODEC_ID_NONE) {
            fprintf(stderr,
                    "make_riff_tags: libavformat's tag table is not laid out as expected\n");
            return 1;
        }
        printf("{0x%08X, \"%s\"},\n", tags->tag, avcodec_get_name(tags->id));
    }
    return 0;
}
