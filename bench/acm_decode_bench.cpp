// Audio decoding speed, ten minutes of stereo at 44.1 kHz through CACMCodec
// and a driver running in the emulator, against ffmpeg's native decoder on
// the same file; each one's real-time factor and their ratio:
// 1. IMA ADPCM through the tests' driver;
// 2. MP3 at 128 kb/s through Wine's l3codeca.acm (scripts/bootstrap fetches
//    it; REELMOTH_WINE_ACM_DIR says where).
// Then the same MP3 as the media objects of an ASF stream, through
// choose_sound_decoder() as the player decodes it: the module in its codec
// host process against the module in this process (REELMOTH_CODEC_PROCESS
// 1 and 0), the rounds alternating, and the hosted module against ffmpeg's
// time from 2. Module code runs in this process as in the codec host: the
// window guarded, the emulator's reads checked by the host's faults.
//
// usage: bench_acm_decode [--host]   (--host: the last comparison alone)
#include "MediaFiles.h"
#include "asf/VariableBuffer.h"
#include "codec/ACMCodec.h"
#include "codec/DecoderModules.h"
#include "platform/kernel/ModuleSpace.h"
#include "player/SoundDecoder.h"
#include "winemu/cpu/ModuleCall.h"
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
#include <sys/resource.h>
#include <vector>

namespace
{

using bench::Clock;
using bench::median;
using bench::run_command;
using bench::seconds_since;
constexpr double kSeconds = 600;
constexpr int kRounds = 3;
constexpr int kHostRounds = 5;

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
             const std::filesystem::path& path, const wav_file& wav, const char* goals,
             double* theirSeconds = nullptr)
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
    if (theirSeconds != nullptr)
        *theirSeconds = median(theirs);
    return true;
}

struct stream_pass {
    double seconds = -1; // from choosing the decoder to its end
    double cpu = -1;     // CPU time of this process and its codec host then
    double ready = -1;   // from choosing the decoder to its first object
    uint64 checksum = 0; // of the PCM, to see both give the same
    size_t bytes = 0;
};

// User and system time of this process and of its children waited for
// (codec hosts, once ended).
double cpu_seconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        struct rusage usage = {};
        getrusage(who, &usage);
        total += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

uint64 fnv1a(const uint8* bytes, size_t size)
{
    uint64 hash = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ bytes[i]) * 0x100000001B3ull;
    return hash;
}

// One pass of the stream through the decoder the player would choose, the
// module hosted or in this process. The PCM is kept, as the player keeps it
// until played, and checked after the clock stops.
stream_pass decode_stream(bool hosted, const sound_stream_format& format,
                          const stream_objects& stream)
{
    setenv("REELMOTH_CODEC_PROCESS", hosted ? "1" : "0", 1);
    stream_pass pass;
    CVariableBuffer pcm;
    double cpuStart = cpu_seconds();
    Clock::time_point start = Clock::now();
    {
        CResult why;
        std::unique_ptr<CSoundDecoder> decoder = choose_sound_decoder(format, &why);
        if (decoder == nullptr || decoder->Description() != "codec module L3codeca.acm" ||
            !decoder->Restart()) {
            fprintf(stderr, "bench_acm_decode: no module decoder (%s)\n",
                    decoder != nullptr ? decoder->Description().c_str() : why.Why().c_str());
            return pass;
        }
        pass.ready = seconds_since(start);
        for (const stream_objects::object& object : stream.objects)
            decoder->Decode(object.data.data(), object.data.size(), &pcm);
        decoder->Finish(&pcm);
    }
    pass.seconds = seconds_since(start);
    pass.cpu = cpu_seconds() - cpuStart;
    pass.bytes = pcm.Length();
    pass.checksum = fnv1a(static_cast<const uint8*>(pcm.Data()), pcm.Length());
    return pass;
}

// The MP3 stream through the module in its host against in this process.
bool compare_hosted(const std::filesystem::path& path, double ffmpegSeconds)
{
    stream_objects stream;
    sound_stream_format format;
    if (!read_stream_objects(path.string(), 0, &stream) ||
        !read_sound_format(stream.format.data(), uint32(stream.format.size()), &format)) {
        fprintf(stderr, "bench_acm_decode: cannot read %s\n", path.c_str());
        return false;
    }
    size_t compressed = 0;
    for (const stream_objects::object& object : stream.objects)
        compressed += object.data.size();
    // The modules' answers are remembered first, as after a player's first
    // start: discovery is not measured here.
    setenv("REELMOTH_CODEC_PROCESS", "1", 1);
    decoder_modules();
    std::vector<stream_pass> passes[2];
    for (int round = 0; round < kHostRounds; round++) {
        for (int hosted : {1, 0}) {
            passes[hosted].push_back(decode_stream(hosted != 0, format, stream));
            const stream_pass& pass = passes[hosted].back();
            if (pass.seconds < 0 || pass.bytes == 0) {
                fprintf(stderr, "bench_acm_decode: a %s decode failed\n",
                        hosted ? "hosted" : "in-process");
                return false;
            }
        }
    }
    unsetenv("REELMOTH_CODEC_PROCESS");
    std::vector<double> seconds[2], ready[2], cpu[2];
    for (int hosted : {1, 0}) {
        for (const stream_pass& pass : passes[hosted]) {
            seconds[hosted].push_back(pass.seconds);
            ready[hosted].push_back(pass.ready);
            cpu[hosted].push_back(pass.cpu);
            if (pass.bytes != passes[0][0].bytes || pass.checksum != passes[0][0].checksum) {
                fprintf(stderr, "bench_acm_decode: the hosted and in-process PCM differ\n");
                return false;
            }
        }
    }
    double hostedTime = median(seconds[1]), ownTime = median(seconds[0]);
    printf("10 minutes of MP3 128 kb/s in ASF (%zu objects, %zu bytes) through "
           "choose_sound_decoder(), median of %d\n",
           stream.objects.size(), compressed, kHostRounds);
    printf("%-40s %8.1fx real time (%.3f s, CPU %.3f s; ready in %.1f ms)\n",
           "l3codeca in its codec host", kSeconds / hostedTime, hostedTime, median(cpu[1]),
           median(ready[1]) * 1000);
    printf("%-40s %8.1fx real time (%.3f s, CPU %.3f s; ready in %.1f ms)\n",
           "l3codeca in this process", kSeconds / ownTime, ownTime, median(cpu[0]),
           median(ready[0]) * 1000);
    printf("hosted / in-process time: %.3f, %+.1f us an object (goal: <= 1.05); CPU time: %.3f; "
           "fastest passes: %.3f\n\n",
           hostedTime / ownTime, (hostedTime - ownTime) * 1e6 / double(stream.objects.size()),
           median(cpu[1]) / median(cpu[0]),
           *std::min_element(seconds[1].begin(), seconds[1].end()) /
               *std::min_element(seconds[0].begin(), seconds[0].end()));
    if (ffmpegSeconds > 0)
        printf("ffmpeg / l3codeca in its codec host: %.2f (goal: <= 6)\n\n",
               hostedTime / ffmpegSeconds);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    bool hostOnly = argc == 2 && strcmp(argv[1], "--host") == 0;
    if (argc > 1 && !hostOnly) {
        fprintf(stderr, "usage: %s [--host]\n", argv[0]);
        return 2;
    }
    if (module_space_guard() != B_OK || install_module_fault_handler() != B_OK) {
        fprintf(stderr, "bench_acm_decode: cannot guard the module window\n");
        return 1;
    }
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

    std::filesystem::path asfPath = root / "mp3-10min.wma";
    if (!std::filesystem::exists(asfPath) &&
        system(("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                "'aevalsrc=0.5*sin(2*PI*440*t)+0.2*sin(2*PI*3000*t)|"
                "0.4*sin(2*PI*660*t)+0.1*sin(2*PI*5000*t):s=44100:d=600' "
                "-ac 2 -c:a libmp3lame -b:a 128k -f asf '" +
                asfPath.string() + "'")
                   .c_str()) != 0) {
        fprintf(stderr, "bench_acm_decode: ffmpeg could not make %s\n", asfPath.c_str());
        return 1;
    }
    if (hostOnly)
        return compare_hosted(asfPath, -1) ? 0 : 1;

    wav_file ima, mp3;
    double ffmpegMp3 = -1;
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
                 ima, "ours >= 200x real time, ratio <= 4") ||
        !compare("10 minutes of MP3 128 kb/s, stereo 44.1 kHz", "L3codeca.acm",
                 "CACMCodec + emulated Wine l3codeca", "ffmpeg mp3float, one thread", mp3Path, mp3,
                 "ours >= 40x real time, ratio <= 6", &ffmpegMp3) ||
        !compare_hosted(asfPath, ffmpegMp3))
        return 1;
    return 0;
}
