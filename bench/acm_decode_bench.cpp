// Audio decoding speed, ten minutes of stereo at 44.1 kHz through CACMCodec
// and a driver running in the emulator, against ffmpeg's native decoder on
// the same file; each one's real-time factor and their ratio:
// 1. IMA ADPCM through the tests' driver;
// 2. MP3 at 128 kb/s through Wine's l3codeca.acm (scripts/bootstrap fetches
//    it; REELMOTH_WINE_ACM_DIR says where).
//
// usage: bench_acm_decode
#include "codec/ACMCodec.h"
#include "winemu/loader/pe_add_on.h"

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

// One pass through the emulated driver, `block` source bytes a conversion,
// the rest with the end-of-stream flag; negative on failure.
double decode_emulated(const char* module, const wav_file& wav)
{
    Clock::time_point start = Clock::now();
    CACMCodec codec(module);
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
    size_t at = 0;
    for (; at + block <= wav.data.size(); at += block) {
        const void* output;
        uint32 size;
        if (codec.Convert(wav.data.data() + at, block, &output, &size) < 0)
            return -1;
        produced += size;
    }
    const void* output;
    uint32 size;
    if (codec.Convert(wav.data.data() + at, uint32(wav.data.size() - at), &output, &size, true) < 0)
        return -1;
    produced += size;
    codec.EndConversion();
    double elapsed = seconds_since(start);
    return produced > 0 ? elapsed : -1;
}

// Makes (once) a ten-minute stereo WAV file with ffmpeg's `codec` options.
bool make_input(const std::filesystem::path& path, const std::string& source,
                const std::string& codec, wav_file* wav)
{
    if (!std::filesystem::exists(path)) {
        std::string make = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i '" +
                           source + "' -ac 2 " + codec + " '" + path.string() + "'";
        if (system(make.c_str()) != 0) {
            fprintf(stderr, "bench_acm_decode: ffmpeg could not make %s\n", path.c_str());
            return false;
        }
    }
    std::ifstream in(path, std::ios::binary);
    *wav = parse_wav(std::vector<uint8>(std::istreambuf_iterator<char>(in), {}));
    if (wav->format.size() < 18 || wav->data.empty()) {
        fprintf(stderr, "bench_acm_decode: %s is unreadable\n", path.c_str());
        return false;
    }
    return true;
}

// Runs both decoders kRounds times; prints their real-time factors and the
// ratio. False when a decode fails.
bool compare(const char* title, const char* module, const char* ourName, const char* theirName,
             const std::filesystem::path& path, const wav_file& wav, const char* goals)
{
    std::string ffmpeg = "ffmpeg -hide_banner -loglevel error -nostdin -threads 1 -i '" +
                         path.string() + "' -f s16le -y /dev/null";
    std::vector<double> ours, theirs;
    for (int round = 0; round < kRounds; round++) {
        ours.push_back(decode_emulated(module, wav));
        theirs.push_back(run_command(ffmpeg));
        if (ours.back() < 0 || theirs.back() < 0) {
            fprintf(stderr, "bench_acm_decode: a decode of %s failed\n", title);
            return false;
        }
    }
    double ourFactor = kSeconds / median(ours);
    double theirFactor = kSeconds / median(theirs);
    printf("%s (%zu bytes, block %u), median of %d\n", title, wav.data.size(),
           unsigned(wav.format[12] | wav.format[13] << 8), kRounds);
    printf("%-40s %8.1fx real time (%.3f s)\n", ourName, ourFactor, median(ours));
    printf("%-40s %8.1fx real time (%.3f s)\n", theirName, theirFactor, median(theirs));
    printf("ffmpeg / ours: %.2f (goals: %s)\n\n", theirFactor / ourFactor, goals);
    return true;
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
    std::filesystem::path wine = std::filesystem::path(REELMOTH_WINE_ACM_DIR) / "l3codeca.acm";
    if (!std::filesystem::exists(wine)) {
        fprintf(stderr, "bench_acm_decode: %s is missing (scripts/bootstrap fetches it)\n",
                wine.c_str());
        return 1;
    }
    std::filesystem::copy_file(wine, decoders / "L3codeca.acm",
                               std::filesystem::copy_options::overwrite_existing);
    setenv("XDG_DATA_HOME", root.c_str(), 1);

    wav_file ima, mp3;
    std::filesystem::path imaPath = root / "ima-10min.wav", mp3Path = root / "mp3-10min.wav";
    if (!make_input(imaPath, "sine=frequency=440:sample_rate=44100:duration=600",
                    "-c:a adpcm_ima_wav", &ima) ||
        !make_input(mp3Path,
                    "aevalsrc=0.5*sin(2*PI*440*t)+0.2*sin(2*PI*3000*t)|"
                    "0.4*sin(2*PI*660*t)+0.1*sin(2*PI*5000*t):s=44100:d=600",
                    "-c:a libmp3lame -b:a 128k", &mp3))
        return 1;
    if (!compare("10 minutes of IMA ADPCM, stereo 44.1 kHz", "testacm.acm",
                 "CACMCodec + emulated test driver", "ffmpeg adpcm_ima_wav, one thread", imaPath,
                 ima, "ours >= 200x real time, ratio <= 10") ||
        !compare("10 minutes of MP3 128 kb/s, stereo 44.1 kHz", "L3codeca.acm",
                 "CACMCodec + emulated Wine l3codeca", "ffmpeg mp3float, one thread", mp3Path, mp3,
                 "ours >= 40x real time"))
        return 1;
    return 0;
}
