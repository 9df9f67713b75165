#include "MediaFiles.h"

#include "asf/ASFAudioTag.h"

#include "asf/ASFExtractor.h"
#include "platform/storage/File.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/wait.h>

namespace
{

struct collector {
    int32 stream;
    stream_objects* result;
    bytes_t pending;
    const CASFExtractor* extractor;

    static void Stream(int32 stream, BDataIO* io, uint32 length, void* cookie)
    {
        auto* self = static_cast<collector*>(cookie);
        bytes_t bytes(length);
        io->Read(bytes.data(), length);
        if (stream == self->stream)
            self->pending.insert(self->pending.end(), bytes.begin(), bytes.end());
    }
    static void Flush(int32 stream, bool, uint32, void* cookie)
    {
        auto* self = static_cast<collector*>(cookie);
        if (stream != self->stream)
            return;
        // The time the player stamps a frame with.
        if (!self->pending.empty())
            self->result->objects.push_back({std::move(self->pending),
                                             self->extractor->ObjectTime(stream),
                                             self->extractor->ObjectIsKeyFrame(stream)});
        self->pending.clear();
    }
    static void Skip(int32 stream, void* cookie)
    {
        auto* self = static_cast<collector*>(cookie);
        if (stream == self->stream)
            self->pending.clear();
    }
};

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (char c : text)
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

} // namespace

bool read_stream_objects(const std::string& path, int32 kind, stream_objects* result)
{
    BFile file(path.c_str(), B_READ_ONLY);
    if (file.InitCheck() != B_OK)
        return false;
    CASFExtractor extractor(&file);
    if (extractor.InitCheck() != B_OK)
        return false;
    *result = stream_objects();
    for (int32 i = extractor.CountStreams() - 1; i >= 0 && result->index < 0; i--) {
        const CASFExtractor::stream_info* info = extractor.StreamInfoAt(i);
        if (info->type != kind)
            continue;
        result->index = i;
        auto* bytes = static_cast<const uint8*>(info->data);
        result->format.assign(bytes, bytes + info->data_size);
        if (kind == CASFExtractor::kVideoStream && info->data_size >= 12) {
            memcpy(&result->width, bytes + 4, 4);
            memcpy(&result->height, bytes + 8, 4);
        }
    }
    if (result->index < 0)
        return false;
    collector sink{result->index, result, {}, &extractor};
    status_t status;
    do {
        status = extractor.ReadOn(collector::Stream, collector::Flush, collector::Skip, &sink);
    } while (status == B_OK);
    return status == CASFExtractor::kEndOfData;
}

bool ffmpeg_pictures(const std::string& path, int32 width, int32 height,
                     const std::function<void(const uint8* pixels)>& picture)
{
    std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -i " + quoted(path) +
                          " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt bgra -";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    bytes_t pixels(size_t(width) * height * 4);
    while (fread(pixels.data(), 1, pixels.size(), pipe) == pixels.size())
        picture(pixels.data());
    return pclose(pipe) == 0;
}

bool ffmpeg_samples(const std::string& path, bytes_t* samples)
{
    std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -i " + quoted(path) +
                          " -map 0:a:0 -f s16le -acodec pcm_s16le -";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return false;
    samples->clear();
    uint8 buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        samples->insert(samples->end(), buffer, buffer + got);
    return pclose(pipe) == 0;
}

uint64 pixel_checksum(const uint8* pixels, int32 width, int32 height, int32 bytesPerRow)
{
    if (bytesPerRow == 0)
        bytesPerRow = width * 4;
    uint64 hash = 14695981039346656037ull;
    for (int32 y = 0; y < height; y++) {
        for (int32 x = 0; x < width; x++) {
            const uint8* p = pixels + size_t(y) * bytesPerRow + size_t(x) * 4;
            uint32 word =
                uint32(p[0]) | uint32(p[1]) << 8 | uint32(p[2]) << 16 | uint32(p[3]) << 24;
            hash = (hash ^ word) * 1099511628211ull;
        }
    }
    return hash;
}

bool set_audio_format_tag(const std::string& path, uint16 tag)
{
    return asf_set_audio_format_tag(path.c_str(), tag) == B_OK;
}

int run_command(const std::string& command)
{
    int status = system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<drawn_frame> read_frame_log(const std::string& path)
{
    std::vector<drawn_frame> frames;
    std::ifstream file(path);
    drawn_frame frame;
    std::string checksum;
    while (file >> frame.number >> frame.time >> checksum) {
        frame.checksum = std::stoull(checksum, nullptr, 16);
        frames.push_back(frame);
    }
    return frames;
}

std::vector<int16> read_samples(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes(std::istreambuf_iterator<char>(file), {});
    std::vector<int16> samples(bytes.size() / 2);
    memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}
