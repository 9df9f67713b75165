// Rendering speed: a 60 s 640x480 30 fps WMV2 movie with IMA ADPCM stereo
// sound through a codec module (the tests' driver as "L3codeca.acm", the
// copy's tag made 0x55, in its codec host) rendered by reelmoth-render to
// WAV and YUV4MPEG2, against ffmpeg writing the same two files from the same
// streams (one thread, as reelmoth-render decodes) in the same run; the
// rounds alternate, medians are reported. The files go to /dev/shm when it
// is there, so the disk does not decide.
//
// usage: bench_render
#include "MediaFiles.h"

#include "BenchTiming.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

using bench::median;
constexpr double kSeconds = 60;
constexpr int kRounds = 3;

std::string quoted(const std::string& text)
{
    return "'" + text + "'";
}

} // namespace

int main()
{
    std::filesystem::path data = REELMOTH_BENCH_DATA;
    std::filesystem::create_directories(data);
    std::filesystem::path plain = data / "render-60s.wmv";
    std::filesystem::path tagged = data / "render-60s-0x55.wmv";
    if (!std::filesystem::exists(tagged)) {
        std::string make = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                           "testsrc=size=640x480:rate=30 -f lavfi -i "
                           "sine=frequency=440:sample_rate=44100 -t 60 -c:v wmv2 -b:v 2M "
                           "-c:a adpcm_ima_wav -ac 2 " +
                           quoted(plain.string());
        if (system(make.c_str()) != 0) {
            fprintf(stderr, "bench_render: ffmpeg could not make %s\n", plain.c_str());
            return 1;
        }
        std::filesystem::copy_file(plain, tagged,
                                   std::filesystem::copy_options::overwrite_existing);
        if (!set_audio_format_tag(tagged.string(), 0x55)) {
            fprintf(stderr, "bench_render: cannot tag %s\n", tagged.c_str());
            return 1;
        }
    }
    std::filesystem::path out =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    out /= "reelmoth-render-bench";
    std::filesystem::path home = out / "home";
    std::filesystem::create_directories(home / "reelmoth/media/decoders");
    std::filesystem::copy_file(std::string(REELMOTH_BENCH_MODULES) + "/L3codeca.acm",
                               home / "reelmoth/media/decoders/L3codeca.acm",
                               std::filesystem::copy_options::overwrite_existing);

    std::string ours = "XDG_DATA_HOME=" + quoted(home.string()) +
                       " XDG_CONFIG_HOME=" + quoted((home / "config").string()) + " " +
                       quoted(std::string(REELMOTH_BINARY_DIR) + "/tools/reelmoth-render") +
                       " --audio=" + quoted((out / "ours.wav").string()) +
                       " --video=" + quoted((out / "ours.y4m").string()) + " " +
                       quoted(tagged.string()) + " >/dev/null";
    std::string theirs =
        "ffmpeg -hide_banner -loglevel error -nostdin -y -threads 1 -i " + quoted(plain.string()) +
        " -map 0:a -c:a pcm_s16le " + quoted((out / "ffmpeg.wav").string()) +
        " -map 0:v -pix_fmt yuv420p -f yuv4mpegpipe " + quoted((out / "ffmpeg.y4m").string());
    std::vector<double> a, b;
    for (int round = 0; round < kRounds; round++) {
        a.push_back(bench::run_command(ours));
        b.push_back(bench::run_command(theirs));
        if (a.back() < 0 || b.back() < 0) {
            fprintf(stderr, "bench_render: a render failed\n");
            return 1;
        }
    }
    double x = median(a), y = median(b);
    auto size = [&](const char* name) {
        std::error_code error;
        return double(std::filesystem::file_size(out / name, error)) / (1 << 20);
    };
    printf("60 s of 640x480 WMV2 at 30 fps + IMA ADPCM stereo 44.1 kHz, to WAV + Y4M, "
           "median of %d\n",
           kRounds);
    printf("  reelmoth-render (sound by the module in its host) %7.3f s  %6.1fx real time  "
           "(%.0f + %.1f MiB)\n",
           x, kSeconds / x, size("ours.y4m"), size("ours.wav"));
    printf("  ffmpeg, one thread                                %7.3f s  %6.1fx real time  "
           "(%.0f + %.1f MiB)\n",
           y, kSeconds / y, size("ffmpeg.y4m"), size("ffmpeg.wav"));
    printf("  reelmoth-render / ffmpeg: %.2f (goal: >= 30x real time, <= 1.5)\n", x / y);
    std::filesystem::remove_all(out);
    return 0;
}
