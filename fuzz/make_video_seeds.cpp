// Writes seeds for the video decoder fuzz target from real ASF files: the
// first few frames of each file's video stream in the target's input form.
//
// usage: reelmoth_make_video_seeds OUTDIR FILE...
#include "MediaFiles.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace
{

const char* const kCodes[] = {"WMV1", "WMV2", "MP43", "MP42", "XVID", "DX50"};

void append_record(bytes_t& out, const uint8* data, size_t size)
{
    size = size > 0xFFFF ? 0xFFFF : size;
    out.push_back(uint8(size));
    out.push_back(uint8(size >> 8));
    out.insert(out.end(), data, data + size);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s OUTDIR FILE...\n", argv[0]);
        return 2;
    }
    int written = 0;
    for (int i = 2; i < argc; i++) {
        stream_objects stream;
        if (!read_stream_objects(argv[i], 1, &stream) || stream.format.size() < 40 ||
            stream.width % 16 != 0 || stream.height % 16 != 0)
            continue;
        int code = -1;
        for (int c = 0; c < 6; c++) {
            if (memcmp(stream.format.data() + 16, kCodes[c], 4) == 0)
                code = c;
        }
        if (code < 0)
            continue;
        bytes_t seed = {uint8(code), uint8(stream.width / 16 - 1), uint8(stream.height / 16 - 1)};
        append_record(seed, stream.format.data() + 40, stream.format.size() - 40);
        for (size_t k = 0; k < stream.objects.size() && k < 4; k++)
            append_record(seed, stream.objects[k].data.data(), stream.objects[k].data.size());
        std::string name = std::string(argv[1]) + "/seed-" + std::to_string(written++);
        if (FILE* file = fopen(name.c_str(), "wb")) {
            fwrite(seed.data(), 1, seed.size(), file);
            fclose(file);
        }
    }
    printf("%d seeds\n", written);
    return 0;
}
