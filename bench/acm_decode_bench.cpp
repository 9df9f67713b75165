// Audio decoding speed: ten minutes of IMA ADPCM stereo at 44.1 kHz through
// CACMCodec and the test driver running in the emulator, against ffmpeg's
// native decoder on the same file. Reports each one's real-time factor.
//
// usage: bench_acm_decode
#include "codec/ACMCodec.h"
#include "winemu/pe_add_on.h"

#include "BenchTiming.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace
{

using bench::Clock;
using bench::median;
using bench::run_command;
using bench::seconds_since;
constexpr double kSeconds = 600;
constexpr int kRounds = 3;

struct wav_file {
    std::vector<uint8> format;
    std::vector<uint8> data;
};

wav_file parse_wav(const std::vector<uint8>& bytes)
{
    wav_file wav;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32 size = uint32(bytes[at + 4]) | uint32(bytes[at + 5]) << 8 |
                      uint32(bytes[at + 6]) << 16 | uint32(bytes[at + 7]) << 24;
        size_t end = std::min(bytes.size(), at + 8 + size);
        std::vector<uint8> body(bytes.begin() + long(at) + 8, bytes.begin() + long(end));
        if (memcmp(&bytes[at], "fmt ", 4) == 0)
            wav.format = body;
        else if (memcmp(&bytes[at], "data", 4) == 0)
            wav.data = body;
        at += 8 + size + (size & 1);
    }
    return wav;
}

// One pass through the emulated driver; negative on failure.
double decode_emulated(const wav_file& wav)
{
    Clock::time_point start = Clock::now();
    CACMCodec codec("testacm.acm");
    if (codec.InitCheck() != B_OK)
        return -1;
    const tWAVEFORMATEX* format = reinterpret_cast<const tWAVEFORMATEX*>(wav.format.data());
    media_raw_audio_format target = media_raw_audio_format::wildcard;
    target.frame_rate = float(format->nSamplesPerSec);
    target.channel_count = format->nChannels;
    target.format = media_raw_audio_format::B_AUDIO_SHORT;
    uint32 block = format->nBlockAlign;
    uint32 outputSize;
    if (codec.BeginConversionEx(format, 1, &target, block, &outputSize) != B_OK)
        return -1;
    uint64 produced = 0;
    for (size_t at = 0; at + block <= wav.data.size(); at += block) {
        const void* output;
        uint32 size;
        if (codec.Convert(wav.data.data() + at, block, &output, &size) < 0)
            return -1;
        produced += size;
    }
    codec.EndConversion();
    double elapsed = seconds_since(start);
    return produced > 0 ? elapsed : -1;
}

} // namespace

int main()
{
    std::filesystem::path root = std::filesystem::temp_directory_path() / "reelmoth-acm-bench";
    std::filesystem::path decoders = root / "reelmoth/media/decoders";
    std::filesystem::create_directories(decoders);
    std::filesystem::copy_file(std::string(REELMOTH_BENCH_MODULES) + "/testacm.acm",
                               decoders / "testacm.acm",
                               std::filesystem::copy_options::overwrite_existing);
    setenv("XDG_DATA_HOME", root.c_str(), 1);

    std::filesystem::path wavPath = root / "ima-10min.wav";
    if (!std::filesystem::exists(wavPath)) {
        std::string make = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                           "'sine=frequency=440:sample_rate=44100:duration=600' -ac 2 "
                           "-c:a adpcm_ima_wav '" +
                           wavPath.string() + "'";
        if (system(make.c_str()) != 0) {
            fprintf(stderr, "bench_acm_decode: ffmpeg could not make the input\n");
            return 1;
        }
    }
    std::ifstream in(wavPath, std::ios::binary);
    wav_file wav = parse_wav(std::vector<uint8>(std::istreambuf_iterator<char>(in), {}));
    if (wav.format.size() < 18 || wav.data.empty()) {
        fprintf(stderr, "bench_acm_decode: unreadable input\n");
        return 1;
    }
    std::string ffmpeg = "ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -i '" +
                         wavPath.string() + "' -f s16le -y /dev/null";

    std::vector<double> ours, theirs;
    for (int round = 0; round < kRounds; round++) {
        ours.push_back(decode_emulated(wav));
        theirs.push_back(run_command(ffmpeg));
        if (ours.back() < 0 || theirs.back() < 0) {
            fprintf(stderr, "bench_acm_decode: a decode failed\n");
            return 1;
        }
    }
    double ourFactor = kSeconds / median(ours);
    double theirFactor = kSeconds / median(theirs);
    printf("10 minutes of IMA ADPCM, stereo 44.1 kHz (%zu bytes, block %u), median of %d\n",
           wav.data.size(), unsigned(wav.format[12] | wav.format[13] << 8), kRounds);
    printf("%-40s %8.1fx real time (%.3f s)\n", "CACMCodec + emulated test driver", ourFactor,
           median(ours));
    printf("%-40s %8.1fx real time (%.3f s)\n", "ffmpeg adpcm_ima_wav, one thread", theirFactor,
           median(theirs));
    printf("ffmpeg / ours: %.2f (goals: ours >= 200x real time, ratio <= 10)\n",
           theirFactor / ourFactor);
    return 0;
}
