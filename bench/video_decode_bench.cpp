// Picture decoding speed: 60 s of 640x480 Cinepak at 30 pictures a second
// through Wine's iccvid.dll in its codec host process, as the player
// decodes it (each picture converted to the window's bitmap), against
// FFmpeg's native decoder on the same objects through the same path, and
// against the ffmpeg tool decoding the file on one thread; the real-time
// factors and their ratio. The rounds alternate; medians are reported.
//
// usage: bench_video_decode
#include "MediaFiles.h"
#include "player/PictureDecoder.h"

#include "BenchTiming.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

using bench::Clock;
using bench::median;
using bench::seconds_since;
constexpr double kSeconds = 60;
constexpr int kRounds = 3;

// Decodes every object as the video thread does; the seconds it took, or
// -1 when a picture failed.
double decode_all(const stream_objects& stream, const picture_stream_format& format,
                  const char* choice, std::string* description)
{
    setenv("REELMOTH_VIDEO", choice, 1);
    CResult why;
    std::unique_ptr<CPictureDecoder> decoder = choose_picture_decoder(format, &why);
    if (decoder == nullptr) {
        fprintf(stderr, "bench_video_decode: %s\n", why.Why().c_str());
        return -1;
    }
    *description = decoder->Description();
    std::vector<uint8> picture(size_t(stream.width) * stream.height * 4);
    size_t decoded = 0;
    Clock::time_point start = Clock::now();
    for (const auto& object : stream.objects) {
        media_object media;
        media.data = object.data;
        media.time = object.time;
        media.keyFrame = object.keyFrame;
        decoded += decoder->Decode(media, picture.data(), stream.width * 4) == B_OK;
    }
    double seconds = seconds_since(start);
    return decoded == stream.objects.size() ? seconds : -1;
}

} // namespace

int main()
{
    std::filesystem::path root = std::filesystem::temp_directory_path() / "reelmoth-video-bench";
    std::filesystem::path decoders = root / "reelmoth/media/decoders";
    std::filesystem::create_directories(decoders);
    std::filesystem::path module = std::filesystem::path(REELMOTH_WINE_ACM_DIR) / "iccvid.dll";
    if (!std::filesystem::exists(module)) {
        fprintf(stderr, "bench_video_decode: %s is missing (scripts/bootstrap fetches it)\n",
                module.c_str());
        return 1;
    }
    std::filesystem::copy_file(module, decoders / "iccvid.dll",
                               std::filesystem::copy_options::overwrite_existing);
    setenv("XDG_DATA_HOME", root.c_str(), 1);
    setenv("REELMOTH_CODEC_HOST", REELMOTH_CODEC_HOST_PATH, 1);

    std::filesystem::path movie = std::filesystem::path(REELMOTH_BENCH_DATA) / "cinepak-60s.asf";
    std::filesystem::create_directories(movie.parent_path());
    // ffmpeg's Cinepak encoder is slow: two seconds, looped thirty times.
    std::filesystem::path piece = root / "cinepak-2s.asf";
    std::string ffmpeg = "ffmpeg -hide_banner -loglevel error -nostdin -y ";
    if (!std::filesystem::exists(movie) &&
        (system((ffmpeg + "-f lavfi -i testsrc2=size=640x480:rate=30:duration=2 -c:v cinepak " +
                 "-g 30 '" + piece.string() + "'")
                    .c_str()) != 0 ||
         system((ffmpeg + "-stream_loop 29 -i '" + piece.string() + "' -c copy '" + movie.string() +
                 "'")
                    .c_str()) != 0)) {
        fprintf(stderr, "bench_video_decode: ffmpeg could not make %s\n", movie.c_str());
        return 1;
    }
    stream_objects stream;
    picture_stream_format format;
    if (!read_stream_objects(movie, 1, &stream) ||
        !read_picture_format(stream.format.data(), uint32(stream.format.size()), &format)) {
        fprintf(stderr, "bench_video_decode: %s cannot be read\n", movie.c_str());
        return 1;
    }

    std::vector<double> ours, native, tool;
    std::string ourName, nativeName;
    std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -i '" +
                          movie.string() + "' -f null -";
    for (int round = 0; round < kRounds; round++) {
        ours.push_back(decode_all(stream, format, "modules", &ourName));
        native.push_back(decode_all(stream, format, "ffmpeg", &nativeName));
        tool.push_back(bench::run_command(command));
        if (ours.back() < 0 || native.back() < 0 || tool.back() < 0) {
            fprintf(stderr, "bench_video_decode: a decode failed\n");
            return 1;
        }
    }
    double a = median(ours), b = median(native), c = median(tool);
    printf("60 s of Cinepak, 640x480, 30 pictures a second (%zu pictures), median of %d\n",
           stream.objects.size(), kRounds);
    printf("  %-44s %7.3f s  %6.1fx real time\n", (ourName + ", in its host").c_str(), a,
           kSeconds / a);
    printf("  %-44s %7.3f s  %6.1fx real time\n", (nativeName + ", same path").c_str(), b,
           kSeconds / b);
    printf("  %-44s %7.3f s  %6.1fx real time\n", "ffmpeg tool, one thread", c, kSeconds / c);
    printf("  module / FFmpeg: %.2f (goal: module >= 4x real time on one core)\n", a / b);
    return 0;
}
