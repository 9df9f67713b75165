// Demultiplexing throughput: CASFExtractor delivering every media object to
// a sink that collects it as the player does, against ffmpeg copying the
// same file's packets to a null muxer.
//
// usage: bench_asf_demux [FILE]   (default: a generated file of about 200 MB)
#include "asf/ASFExtractor.h"
#include "asf/VariableBuffer.h"
#include "platform/storage/File.h"

#include "BenchTiming.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

using bench::Clock;
using bench::median;
using bench::run_command;
using bench::seconds_since;
constexpr int kRounds = 5;

struct player_sink {
    CVariableBuffer buffers[CASFExtractor::kMaxStreams];
    bool played[CASFExtractor::kMaxStreams] = {true, true};
    uint64 objects = 0;
    uint64 bytes = 0;

    static void Stream(int32 stream, BDataIO* io, uint32 length, void* cookie)
    {
        player_sink* sink = static_cast<player_sink*>(cookie);
        if (sink->played[stream])
            sink->buffers[stream].WriteFromStream(io, length);
        else
            static_cast<BPositionIO*>(io)->Seek(length, SEEK_CUR);
    }

    static void Flush(int32 stream, bool, uint32, void* cookie)
    {
        player_sink* sink = static_cast<player_sink*>(cookie);
        sink->objects++;
        sink->bytes += sink->buffers[stream].Length();
        sink->buffers[stream].MakeEmpty(true);
    }

    static void Skip(int32 stream, void* cookie)
    {
        static_cast<player_sink*>(cookie)->buffers[stream].MakeEmpty(true);
    }
};

// Returns the wall time of one demultiplexing pass, or a negative value.
double run_extractor(const char* path, bool playSecond, uint64* objects)
{
    Clock::time_point start = Clock::now();
    BFile file(path, B_READ_ONLY);
    CASFExtractor extractor(&file);
    if (extractor.InitCheck() != B_OK)
        return -1;
    player_sink sink;
    sink.played[1] = playSecond;
    status_t status;
    while ((status = extractor.ReadOn(player_sink::Stream, player_sink::Flush, player_sink::Skip,
                                      &sink)) == B_OK) {
    }
    if (status != CASFExtractor::kEndOfData)
        return -1;
    *objects = sink.objects;
    return seconds_since(start);
}

std::string default_file()
{
    std::string folder = REELMOTH_BENCH_DATA;
    std::string path = folder + "/demux-200mb.asf";
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && st.st_size >= 200 * 1000 * 1000)
        return path;
    fprintf(stderr, "making %s with ffmpeg...\n", path.c_str());
    std::string command = "mkdir -p '" + folder +
                          "' && ffmpeg -hide_banner -loglevel error -nostdin -y "
                          "-f lavfi -i testsrc2=size=1280x720:rate=30 "
                          "-f lavfi -i sine=frequency=440:sample_rate=44100 -t 125 "
                          "-c:v mpeg4 -q:v 1 -c:a wmav2 -b:a 128k '" +
                          path + "'";
    if (system(command.c_str()) != 0)
        return {};
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    std::string path = argc > 1 ? argv[1] : default_file();
    struct stat st;
    if (path.empty() || stat(path.c_str(), &st) != 0) {
        fprintf(stderr, "bench_asf_demux: no input file\n");
        return 1;
    }
    double megabytes = double(st.st_size) / 1e6;
    std::string ffmpeg = "ffmpeg -v error -nostdin -i '" + path + "' -map 0 -c copy -f null -";

    // Both read from the page cache: one pass of each first.
    uint64 objects = 0;
    if (run_extractor(path.c_str(), true, &objects) < 0 || run_command(ffmpeg) < 0) {
        fprintf(stderr, "bench_asf_demux: %s cannot be demultiplexed\n", path.c_str());
        return 1;
    }

    std::vector<double> ours, oursSkipping, theirs;
    for (int round = 0; round < kRounds; round++) {
        ours.push_back(run_extractor(path.c_str(), true, &objects));
        uint64 unused;
        oursSkipping.push_back(run_extractor(path.c_str(), false, &unused));
        theirs.push_back(run_command(ffmpeg));
    }
    double ourRate = megabytes / median(ours);
    double skipRate = megabytes / median(oursSkipping);
    double theirRate = megabytes / median(theirs);
    printf("file: %s (%.1f MB, %llu media objects)\n", path.c_str(), megabytes,
           static_cast<unsigned long long>(objects));
    printf("median of %d passes, page cache warm\n", kRounds);
    printf("%-44s %10.1f MB/s\n", "CASFExtractor, both streams collected", ourRate);
    printf("%-44s %10.1f MB/s\n", "CASFExtractor, second stream skipped", skipRate);
    printf("%-44s %10.1f MB/s\n", "ffmpeg -c copy -f null", theirRate);
    printf("ratio (ours / ffmpeg): %.2f (goal: at least 2)\n", ourRate / theirRate);
    return 0;
}
