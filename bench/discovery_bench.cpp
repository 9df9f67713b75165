// Discovery of ten codec modules (Wine's five and five of the tests', two
// of which cannot be used) through decoder_modules(), each module asked in
// a codec host process of its own, against the same discovery with the
// modules loaded in the asking process (REELMOTH_CODEC_PROCESS=0). Two runs
// of each, each in a fresh process as at a player's start: the first with
// nothing remembered (every module loaded and asked), the second with what
// the first saved in the registry (no module loaded). Medians of five
// rounds, the four kinds alternating in each.
//
// usage: bench_discovery
#include "codec/DecoderModules.h"
#include "registry/RegistryNode.h"

#include "BenchTiming.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

using bench::Clock;
using bench::median;
using bench::seconds_since;
constexpr int kRounds = 5;

// In the child: one discovery, timed, and the registry saved for the next
// start. Prints the milliseconds and what was found.
int discover()
{
    Clock::time_point start = Clock::now();
    std::vector<decoder_module> modules = decoder_modules();
    double elapsed = seconds_since(start);
    registry_save();
    std::string found;
    for (const decoder_module& module : modules) {
        found += " " + module.file;
        if (!module.problem.empty())
            found += "(-)";
        for (uint16 tag : module.tags) {
            char text[8];
            snprintf(text, sizeof(text), ":%x", tag);
            found += text;
        }
    }
    printf("%.3f %zu%s\n", elapsed * 1000, modules.size(), found.c_str());
    return 0;
}

struct child_run {
    double ms = -1;
    std::string found;
};

child_run run_child(const std::string& self, const std::string& config, const std::string& data,
                    bool hosted)
{
    std::string command = "XDG_CONFIG_HOME='" + config + "' XDG_DATA_HOME='" + data +
                          "' REELMOTH_CODEC_PROCESS=" + (hosted ? "1" : "0") + " '" + self +
                          "' --child 2>/dev/null";
    child_run run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char line[4096] = "";
    if (fgets(line, sizeof(line), pipe) != nullptr) {
        char* rest = nullptr;
        run.ms = strtod(line, &rest);
        run.found = rest != nullptr ? rest : "";
    }
    if (pclose(pipe) != 0)
        run.ms = -1;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    // Away from the player: modules run in the build's codec host.
    setenv("REELMOTH_CODEC_HOST", REELMOTH_CODEC_HOST_PATH, 0);
    if (argc == 2 && strcmp(argv[1], "--child") == 0)
        return discover();
    if (argc != 1) {
        fprintf(stderr, "usage: %s\n", argv[0]);
        return 2;
    }
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0)
        return 1;
    self[length] = '\0';

    char pattern[] = "/tmp/reelmoth-discovery-bench-XXXXXX";
    std::string root = mkdtemp(pattern);
    std::string data = root + "/data";
    std::string decoders = data + "/reelmoth/media/decoders";
    std::filesystem::create_directories(decoders);
    size_t count = 0;
    for (const char* name :
         {"l3codeca.acm", "imaadp32.acm", "msadp32.acm", "msg711.acm", "msgsm32.acm"}) {
        std::filesystem::path wine = std::filesystem::path(REELMOTH_WINE_ACM_DIR) / name;
        if (!std::filesystem::exists(wine)) {
            fprintf(stderr, "bench_discovery: %s is missing (scripts/bootstrap fetches it)\n",
                    wine.c_str());
            return 1;
        }
        std::filesystem::copy_file(wine, decoders + "/" + name);
        count++;
    }
    for (const char* name :
         {"L3codeca.acm", "testacm.acm", "badformat.acm", "noproc.acm", "detailsfault.acm"}) {
        std::filesystem::copy_file(std::string(REELMOTH_BENCH_MODULES) + "/" + name,
                                   decoders + "/" + name);
        count++;
    }

    // [hosted][remembered]
    std::vector<double> times[2][2];
    std::string found[2];
    bool failed = false;
    for (int round = 0; round < kRounds && !failed; round++) {
        for (int hosted : {1, 0}) {
            std::string config =
                root + "/config-" + std::to_string(round) + "-" + std::to_string(hosted);
            std::filesystem::create_directories(config);
            for (int remembered : {0, 1}) {
                child_run run = run_child(self, config, data, hosted != 0);
                if (run.ms < 0) {
                    fprintf(stderr, "bench_discovery: a %s discovery failed\n",
                            hosted ? "hosted" : "in-process");
                    failed = true;
                    break;
                }
                if (found[hosted].empty())
                    found[hosted] = run.found;
                else if (found[hosted] != run.found)
                    fprintf(stderr, "bench_discovery: the runs found different things:\n%s%s",
                            found[hosted].c_str(), run.found.c_str());
                times[hosted][remembered].push_back(run.ms);
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    if (failed)
        return 1;
    if (found[0] != found[1])
        printf("hosted and in-process discovery differ:\n  hosted:    %s  in-process:%s",
               found[1].c_str(), found[0].c_str());
    printf("discovery of %zu modules, ms, medians of %d fresh processes\n", count, kRounds);
    printf("%-36s %10s %10s %8s\n", "", "hosts", "in-process", "ratio");
    const char* kinds[] = {"first run (every module asked)", "remembered run (none asked)"};
    for (int remembered : {0, 1}) {
        double hosted = median(times[1][remembered]), own = median(times[0][remembered]);
        printf("%-36s %10.1f %10.1f %8.2f\n", kinds[remembered], hosted, own, hosted / own);
    }
    return 0;
}
