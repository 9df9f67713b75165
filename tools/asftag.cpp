// reelmoth-asftag: gives an ASF file's audio stream another format tag, in
// place. Makes, from what ffmpeg can write, files of codecs it cannot (the
// demo movie's IMA ADPCM sound under tag 0x55, decoded by a codec module).
#include "asf/ASFAudioTag.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3 || strcmp(argv[1], "--help") == 0) {
        fputs("usage: reelmoth-asftag FILE TAG\n"
              "Sets the format tag of FILE's first audio stream to TAG (0x55, 85 ...).\n",
              argc == 2 ? stdout : stderr);
        return argc == 2 ? 0 : 1;
    }
    char* end = nullptr;
    unsigned long tag = strtoul(argv[2], &end, 0);
    if (end == argv[2] || *end != '\0' || tag > 0xFFFF) {
        fprintf(stderr, "reelmoth-asftag: %s: not a format tag\n", argv[2]);
        return 1;
    }
    status_t status = asf_set_audio_format_tag(argv[1], uint16(tag));
    if (status != B_OK) {
        fprintf(stderr, "reelmoth-asftag: %s: %s\n", argv[1],
                status == B_BAD_DATA ? "no audio stream in an ASF header" : status_string(status));
        return 1;
    }
    return 0;
}
