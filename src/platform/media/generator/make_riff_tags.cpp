// Writes FFmpeg's RIFF video tag table (FourCC -> codec) as C++ source, so
// that the player finds decoders the way libavformat does without linking
// libavformat: its dependencies alone add a noticeable part to start-up.
#include <cstdio>

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

int main()
{
    const codec_tag* tags = reinterpret_cast<const codec_tag*>(avformat_get_riff_video_tags());
    printf("// Made at build time from libavformat's RIFF video tags.\n");
    for (; tags->id != AV_CODEC_ID_NONE; tags++) {
        // Each entry must read back through the public lookup: a check that
        // the layout above is still libavformat's.
        const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
        if (av_codec_get_id(tables, tags->tag) == AV_CODEC_ID_NONE) {
            fprintf(stderr,
                    "make_riff_tags: libavformat's tag table is not laid out as expected\n");
            return 1;
        }
        printf("{0x%08X, \"%s\"},\n", tags->tag, avcodec_get_name(tags->id));
    }
    return 0;
}
