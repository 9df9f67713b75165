// Playback: a 60 s 640x480 30 fps WMV2 file with IMA ADPCM sound, played
// by `reelmoth` and by `ffplay -autoexit` under one private Xvfb in the same
// run, one after the other, both with SDL's disk sound driver; reelmoth runs
// its codec modules in host processes. Reports the CPU time each used and
// their ratio, the peak memory of each with its children (reelmoth's codec
// hosts), the sound dropouts of each (silences of 64 frames or more inside
// the sound), from reelmoth's frame log the frames dropped, the A/V offset
// (where the sound was when each picture was drawn, against the picture's
// time) and the time from start to first picture, and, in a third run, the
// time from a seek key to the first picture at the new place. Last, the
// start of a sound-only WMA file to its first sound with ten codec modules
// installed, beside ffplay, and the first start with nothing remembered,
// with hosts and in-process.
//
// usage: bench_playback [--codec L3CODECA.ACM | --video-module | --sound-start]
//   The sound plays through the codec module given (by default the tests'
//   IMA ADPCM driver built as "L3codeca.acm"); without one reelmoth plays
//   the picture alone while ffplay plays both. With --video-module the
//   movie is Microsoft Video 1, and Wine's msvidc32.dll decodes its pictures
//   for reelmoth (REELMOTH_VIDEO=modules) while ffplay decodes them itself.

#include "MediaFiles.h"
#include "X11Probe.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int kSeconds = 60;
constexpr int kFrameRate = 30;

int64 now_us()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

std::string read_text(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

bool exists(const std::string& path)
{
    struct stat s;
    return stat(path.c_str(), &s) == 0 && s.st_size > 0;
}

// Makes the movie once: the ffplay copy with IMA ADPCM under its own tag,
// reelmoth's with the tag the "L3codeca.acm" module answers.
bool make_movies(const std::string& folder, bool videoOne, std::string* plain, std::string* tagged)
{
    *plain = folder + (videoOne ? "/playback-60s-msvideo1.asf" : "/playback-60s.wmv");
    *tagged = folder + (videoOne ? "/playback-60s-msvideo1-0x55.asf" : "/playback-60s-0x55.wmv");
    if (exists(*plain) && exists(*tagged))
        return true;
    std::filesystem::create_directories(folder);
    std::string command =
        "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
        "testsrc=size=640x480:rate=30 -f lavfi -i sine=frequency=440:sample_rate=44100 -t " +
        std::to_string(kSeconds) + (videoOne ? " -c:v msvideo1" : " -c:v wmv2 -b:v 2M") +
        " -c:a adpcm_ima_wav -ac 2 '" + *plain + "'";
    printf("making %s ...\n", plain->c_str());
    if (run_command(command) != 0)
        return false;
    std::filesystem::copy_file(*plain, *tagged, std::filesystem::copy_options::overwrite_existing);
    return set_audio_format_tag(*tagged, 0x55);
}

struct x_display {
    pid_t server = -1;
    bool Start()
    {
        std::string name;
        server = start_xvfb(&name);
        if (server < 0)
            return false;
        setenv("DISPLAY", name.c_str(), 1);
        return true;
    }
    ~x_display()
    {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }
};

// The first time a window on the screen shows something other than black
// at its centre: how long the player took to show its first picture.
class screen_watch
{
public:
    bool Open()
    {
        fDisplay = XOpenDisplay(nullptr);
        return fDisplay != nullptr;
    }
    ~screen_watch()
    {
        if (fDisplay != nullptr)
            XCloseDisplay(fDisplay);
    }

    bool PictureShown()
    {
        Window root = DefaultRootWindow(fDisplay), parent, *children = nullptr;
        unsigned int count = 0;
        bool shown = false;
        if (!XQueryTree(fDisplay, root, &root, &parent, &children, &count))
            return false;
        for (unsigned int i = 0; i < count && !shown; i++) {
            XWindowAttributes attributes;
            if (!XGetWindowAttributes(fDisplay, children[i], &attributes) ||
                attributes.map_state != IsViewable || attributes.width < 64 ||
                attributes.height < 64)
                continue;
            XImage* image = XGetImage(fDisplay, children[i], attributes.width / 2,
                                      attributes.height / 2, 1, 1, AllPlanes, ZPixmap);
            if (image != nullptr) {
                shown = (XGetPixel(image, 0, 0) & 0xFFFFFF) != 0;
                XDestroyImage(image);
            }
        }
        if (children != nullptr)
            XFree(children);
        return shown;
    }

private:
    Display* fDisplay = nullptr;
};

int ignore_x_errors(Display*, XErrorEvent*)
{
    return 0; // windows come and go while they are looked at
}

// The memory of a process and its descendants (the player's codec hosts),
// read from /proc every few milliseconds while it runs.
struct tree_memory {
    double peakKiB = 0;    // the largest sum of VmRSS over the tree at one time
    double hwmKiB = 0;     // the sum of every process's own peak (VmHWM)
    double hostHwmKiB = 0; // of which codec hosts
    int hosts = 0;         // codec host processes seen
};

// VmRSS and VmHWM of one process, in KiB; false when it is gone (or a zombie).
bool read_memory(pid_t pid, double* rss, double* hwm)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    *rss = *hwm = -1;
    while (std::getline(status, line)) {
        if (line.compare(0, 6, "VmRSS:") == 0)
            *rss = atof(line.c_str() + 6);
        else if (line.compare(0, 6, "VmHWM:") == 0)
            *hwm = atof(line.c_str() + 6);
    }
    return *rss >= 0 && *hwm >= 0;
}

// Every process's parent and name, from /proc/N/stat.
void read_processes(std::map<pid_t, std::pair<pid_t, std::string>>* processes)
{
    processes->clear();
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string stat = read_text(entry.path().string() + "/stat");
        size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos || close + 4 >= stat.size())
            continue;
        pid_t parent = pid_t(atol(stat.c_str() + close + 4));
        (*processes)[pid_t(atol(name.c_str()))] = {parent, stat.substr(open + 1, close - open - 1)};
    }
}

// Samples the tree below `root` until `stop` is set.
void watch_memory(pid_t root, const std::atomic<bool>* stop, tree_memory* memory)
{
    std::map<pid_t, std::pair<double, bool>> peaks; // VmHWM, is a codec host
    std::map<pid_t, std::pair<pid_t, std::string>> processes;
    while (!stop->load()) {
        read_processes(&processes);
        double sum = 0;
        for (const auto& [pid, process] : processes) {
            pid_t up = pid;
            while (up > 1 && up != root && processes.count(up) > 0)
                up = processes[up].first;
            double rss, hwm;
            if (up != root || !read_memory(pid, &rss, &hwm))
                continue;
            sum += rss;
            // The kernel's name is cut to 15 characters.
            peaks[pid] = {hwm, process.second.rfind("reelmoth-codec", 0) == 0};
        }
        memory->peakKiB = std::max(memory->peakKiB, sum);
        usleep(20000);
    }
    for (const auto& [pid, peak] : peaks) {
        memory->hwmKiB += peak.first;
        if (peak.second) {
            memory->hostHwmKiB += peak.first;
            memory->hosts++;
        }
    }
}

struct run_result {
    tree_memory memory;
    double cpuSeconds = -1;
    int64 started = 0;      // now_us() just before the process began
    int64 firstPicture = 0; // now_us() when the screen first showed one
    std::string output;
    std::string errors;
};

// Runs `argv` with `environment` added; `done` is asked every `pollUs`
// whether to end it with SIGTERM; otherwise it must end by itself within
// `limit`. The screen is watched for the first picture first, unless told not;
// the memory of the process and its children when asked.
run_result run_player(const std::vector<std::string>& argv,
                      const std::vector<std::string>& environment, double limit,
                      const std::function<bool()>& done, bool watchScreen = true,
                      int64 pollUs = 100000, bool watchMemory = false)
{
    run_result result;
    std::string outputFile = "/tmp/reelmoth-bench-out-" + std::to_string(getpid());
    std::string errorFile = "/tmp/reelmoth-bench-err-" + std::to_string(getpid());
    result.started = now_us();
    pid_t child = fork();
    if (child == 0) {
        int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(out, 1);
        dup2(err, 2);
        for (const std::string& entry : environment) {
            size_t equals = entry.find('=');
            setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
        }
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    std::atomic<bool> stopWatch(false);
    std::thread memoryWatch;
    if (watchMemory)
        memoryWatch = std::thread(watch_memory, child, &stopWatch, &result.memory);
    screen_watch screen;
    if (watchScreen && screen.Open()) {
        for (int64 limit = now_us() + 10000000; now_us() < limit; usleep(2000)) {
            if (screen.PictureShown()) {
                result.firstPicture = now_us();
                break;
            }
        }
    }
    int status = 0;
    struct rusage usage = {};
    bool ended = false, asked = false;
    for (int64 deadline = now_us() + int64(limit * 1e6); !ended;) {
        pid_t got = wait4(child, &status, WNOHANG, &usage);
        if (got == child) {
            ended = true;
            break;
        }
        if (!asked && (done() || now_us() > deadline)) {
            kill(child, SIGTERM);
            asked = true;
            deadline = now_us() + 10000000;
        } else if (asked && now_us() > deadline) {
            kill(child, SIGKILL);
        }
        usleep(useconds_t(asked ? 100000 : pollUs));
    }
    stopWatch = true;
    if (memoryWatch.joinable())
        memoryWatch.join();
    result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    result.output = read_text(outputFile);
    result.errors = read_text(errorFile);
    unlink(outputFile.c_str());
    unlink(errorFile.c_str());
    // Asked to end, ffplay says so with a status of its own.
    if (!asked && (!WIFEXITED(status) || WEXITSTATUS(status) != 0))
        fprintf(stderr, "%s ended with status %d\n", argv[0].c_str(), status);
    return result;
}

// Silences of 64 frames or more between the first and the last sound of a
// 16-bit stereo recording.
size_t count_dropouts(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes(std::istreambuf_iterator<char>(file), {});
    std::vector<int16> samples(bytes.size() / 2);
    memcpy(samples.data(), bytes.data(), samples.size() * 2);
    size_t frames = samples.size() / 2;
    auto silent = [&](size_t i) { return samples[2 * i] == 0 && samples[2 * i + 1] == 0; };
    size_t first = 0, end = frames;
    while (first < frames && silent(first))
        first++;
    while (end > first && silent(end - 1))
        end--;
    size_t count = 0, run = 0;
    for (size_t i = first; i < end; i++) {
        run = silent(i) ? run + 1 : 0;
        if (run == 64)
            count++;
    }
    return count;
}

// Presses `key` in the biggest window on the screen.
void press_key(KeySym key)
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return;
    Window root = DefaultRootWindow(display), parent, *children = nullptr;
    unsigned int count = 0;
    Window target = 0;
    int best = 0;
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; i++) {
            XWindowAttributes attributes;
            if (XGetWindowAttributes(display, children[i], &attributes) &&
                attributes.map_state == IsViewable && attributes.width * attributes.height > best) {
                best = attributes.width * attributes.height;
                target = children[i];
            }
        }
    }
    if (children != nullptr)
        XFree(children);
    if (target != 0) {
        XSetInputFocus(display, target, RevertToPointerRoot, CurrentTime);
        XSync(display, False);
        usleep(30000);
        KeyCode code = XKeysymToKeycode(display, key);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XSync(display, False);
    }
    XCloseDisplay(display);
}

size_t count_of(const std::string& text, const char* what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        count++;
    return count;
}

// Whether the recording holds a sample other than silence yet; `seen` is
// how many bytes were looked at before.
bool sound_begun(const std::string& path, size_t* seen)
{
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    bool begun = false;
    int16 samples[4096];
    for (;;) {
        ssize_t got = pread(fd, samples, sizeof(samples), off_t(*seen & ~size_t(1)));
        if (got < 2)
            break;
        for (ssize_t i = 0; i < got / 2 && !begun; i++)
            begun = samples[i] != 0;
        *seen = (*seen & ~size_t(1)) + size_t(got);
        if (begun)
            break;
    }
    close(fd);
    return begun;
}

// Start of a sound-only WMA 2 file to its first sound, with ten codec modules
// in the decoders folder (none of which decodes WMA 2: every one is passed
// over, from what the registry remembers of them after a first run), beside
// ffplay: the medians of five runs of each.
void measure_sound_start(const std::string& home)
{
    std::string file = std::string(REELMOTH_BENCH_DATA) + "/sound-only-wmav2.wma";
    if (!exists(file) && run_command("ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                                     "sine=frequency=440:sample_rate=44100 -t 5 -c:a wmav2 '" +
                                     file + "'") != 0) {
        fprintf(stderr, "cannot make %s\n", file.c_str());
        return;
    }
    std::string decoders = home + "/start-data/reelmoth/media/decoders";
    std::filesystem::create_directories(decoders);
    size_t modules = 0;
    for (const char* name :
         {"l3codeca.acm", "imaadp32.acm", "msadp32.acm", "msg711.acm", "msgsm32.acm"}) {
        std::string wine = std::string(REELMOTH_WINE_ACM_DIR) + "/" + name;
        if (exists(wine)) {
            std::filesystem::copy_file(wine, decoders + "/" + name);
            modules++;
        }
    }
    for (const char* name :
         {"L3codeca.acm", "testacm.acm", "badformat.acm", "noproc.acm", "detailsfault.acm"}) {
        std::filesystem::copy_file(std::string(REELMOTH_TEST_MODULES) + "/" + name,
                                   decoders + "/" + name);
        modules++;
    }
    auto first_sound = [&](const std::vector<std::string>& argv,
                           std::vector<std::string> environment) {
        std::string recording = home + "/start.raw";
        unlink(recording.c_str());
        environment.push_back("SDL_DISKAUDIOFILE=" + recording);
        environment.push_back("SDL_AUDIODRIVER=disk");
        size_t seen = 0;
        int64 heard = 0;
        run_result result = run_player(
            argv, environment, 20,
            [&] {
                if (heard == 0 && sound_begun(recording, &seen))
                    heard = now_us();
                return heard != 0;
            },
            false, 1000);
        return heard > 0 ? double(heard - result.started) / 1000.0 : -1.0;
    };
    // A first start, nothing remembered: every module is asked, each in a
    // codec host of its own, against all of them asked in the player.
    std::vector<double> firstHosted, firstOwn;
    for (int run = 0; run < 5; run++) {
        for (int hosted : {1, 0}) {
            std::string config =
                home + "/first-config-" + std::to_string(run) + "-" + std::to_string(hosted);
            (hosted ? firstHosted : firstOwn)
                .push_back(
                    first_sound({std::string(REELMOTH_BINARY_DIR) + "/reelmoth", file},
                                {"HOME=" + home, "XDG_CONFIG_HOME=" + config,
                                 "XDG_DATA_HOME=" + home + "/start-data",
                                 std::string("REELMOTH_CODEC_PROCESS=") + (hosted ? "1" : "0")}));
        }
    }
    std::vector<std::string> environment = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/config",
                                            "XDG_DATA_HOME=" + home + "/start-data",
                                            "REELMOTH_CODEC_PROCESS=1"};
    first_sound({std::string(REELMOTH_BINARY_DIR) + "/reelmoth", file}, environment);
    // The same remembered start with the modules in the player, for scale.
    std::vector<std::string> ownEnvironment = environment;
    ownEnvironment.back() = "REELMOTH_CODEC_PROCESS=0";
    std::vector<double> ours, theirs, own;
    for (int run = 0; run < 5; run++) {
        ours.push_back(
            first_sound({std::string(REELMOTH_BINARY_DIR) + "/reelmoth", file}, environment));
        own.push_back(
            first_sound({std::string(REELMOTH_BINARY_DIR) + "/reelmoth", file}, ownEnvironment));
        theirs.push_back(first_sound({"ffplay", "-autoexit", "-loglevel", "quiet", file},
                                     {"HOME=" + home, "SDL_RENDER_DRIVER=software"}));
    }
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    printf("%-34s %10.1f %10.1f   (goal <= 150; %zu modules, medians of 5)\n",
           "start to first sound, WMA (ms)", ours[2], theirs[2], modules);
    std::sort(own.begin(), own.end());
    printf("%-34s %10.1f %10s   (modules in the player, remembered)\n",
           "  the same in-process (ms)", own[2], "");
    std::sort(firstHosted.begin(), firstHosted.end());
    std::sort(firstOwn.begin(), firstOwn.end());
    printf("%-34s %10.1f %10.1f   (hosts, in-process; nothing remembered)\n",
           "  first start to first sound (ms)", firstHosted[2], firstOwn[2]);
}

} // namespace

int main(int argc, char** argv)
{
    std::string codec = std::string(REELMOTH_TEST_MODULES) + "/L3codeca.acm";
    bool soundStartOnly = argc == 2 && strcmp(argv[1], "--sound-start") == 0;
    bool videoModule = argc == 2 && strcmp(argv[1], "--video-module") == 0;
    std::string videoModuleFile = std::string(REELMOTH_WINE_ACM_DIR) + "/msvidc32.dll";
    if (argc == 3 && strcmp(argv[1], "--codec") == 0) {
        codec = argv[2];
    } else if (argc != 1 && !soundStartOnly && !videoModule) {
        fprintf(stderr, "usage: %s [--codec L3CODECA.ACM | --video-module | --sound-start]\n",
                argv[0]);
        return 2;
    }
    if (videoModule && !exists(videoModuleFile)) {
        fprintf(stderr, "%s is missing (scripts/bootstrap fetches it)\n", videoModuleFile.c_str());
        return 1;
    }
    if (soundStartOnly) {
        XSetErrorHandler(ignore_x_errors);
        x_display display;
        char pattern[] = "/tmp/reelmoth-bench-home-XXXXXX";
        std::string home = mkdtemp(pattern);
        if (display.Start())
            measure_sound_start(home);
        std::error_code ignored;
        std::filesystem::remove_all(home, ignored);
        return 0;
    }
    bool sound = exists(codec);

    std::string plain, tagged;
    if (!make_movies(REELMOTH_BENCH_DATA, videoModule, &plain, &tagged)) {
        fprintf(stderr, "cannot make the movie with ffmpeg\n");
        return 1;
    }
    stream_objects stream;
    if (!read_stream_objects(tagged, 1, &stream)) {
        fprintf(stderr, "cannot read %s\n", tagged.c_str());
        return 1;
    }
    printf("checksumming ffmpeg's %zu pictures ...\n", stream.objects.size());
    std::vector<uint64> expected;
    ffmpeg_pictures(plain, stream.width, stream.height, [&](const uint8* pixels) {
        expected.push_back(pixel_checksum(pixels, stream.width, stream.height));
    });

    XSetErrorHandler(ignore_x_errors);
    x_display display;
    if (!display.Start()) {
        fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    char homePattern[] = "/tmp/reelmoth-bench-home-XXXXXX";
    std::string home = mkdtemp(homePattern);
    if (sound) {
        std::string decoders = home + "/data/reelmoth/media/decoders";
        std::filesystem::create_directories(decoders);
        std::filesystem::copy_file(codec, decoders + "/L3codeca.acm");
    }
    if (videoModule) {
        std::string decoders = home + "/data/reelmoth/media/decoders";
        std::filesystem::create_directories(decoders);
        std::filesystem::copy_file(videoModuleFile, decoders + "/msvidc32.dll");
    }
    std::string frameLog = home + "/frames.log";
    std::vector<std::string> environment = {"HOME=" + home,
                                            "XDG_CONFIG_HOME=" + home + "/config",
                                            "XDG_DATA_HOME=" + home + "/data",
                                            "SDL_AUDIODRIVER=disk",
                                            "SDL_DISKAUDIOFILE=" + home + "/reelmoth.raw",
                                            "REELMOTH_FRAME_LOG=" + frameLog,
                                            "REELMOTH_DEBUG=1",
                                            "REELMOTH_CODEC_PROCESS=1"};
    if (videoModule)
        environment.push_back("REELMOTH_VIDEO=modules");

    printf("playing with reelmoth (%s) ...\n", sound ? "picture and sound" : "picture only");
    size_t frames = stream.objects.size();
    int64 lastChange = now_us();
    size_t lastSeen = 0;
    std::string outputSoFar;
    run_result reelmoth = run_player(
        {std::string(REELMOTH_BINARY_DIR) + "/reelmoth", tagged}, environment, kSeconds + 30,
        [&] {
            // Every frame drawn or reported late, or nothing new for 3 s.
            size_t seen = read_frame_log(frameLog).size();
            if (seen != lastSeen) {
                lastSeen = seen;
                lastChange = now_us();
            }
            return seen >= frames || (seen > 0 && now_us() - lastChange > 3000000);
        },
        true, 100000, true);

    printf("playing with ffplay -autoexit ...\n");
    run_result ffplay = run_player(
        {"ffplay", "-autoexit", "-loglevel", "info", plain},
        {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + home + "/ffplay.raw",
         "SDL_RENDER_DRIVER=software", "HOME=" + home},
        kSeconds + 30, [] { return false; }, true, 100000, true);

    // Seeks: forward 10 s five times, back five times, 1.5 s apart.
    printf("seeking with reelmoth ...\n");
    std::string seekLog = home + "/seek-frames.log";
    std::vector<std::string> seekEnvironment = environment;
    seekEnvironment.push_back("REELMOTH_FRAME_LOG=" + seekLog);
    seekEnvironment.push_back("SDL_DISKAUDIOFILE=" + home + "/seek.raw");
    int64 seekStart = 0;
    int presses = 0;
    run_result seeking = run_player(
        {std::string(REELMOTH_BINARY_DIR) + "/reelmoth", tagged}, seekEnvironment, 60, [&] {
            if (seekStart == 0 && !read_frame_log(seekLog).empty())
                seekStart = now_us() + 2000000;
            if (seekStart == 0 || now_us() < seekStart + int64(presses) * 1500000)
                return false;
            if (presses == 10)
                return true;
            press_key(presses < 5 ? XK_Right : XK_Left);
            presses++;
            return false;
        });
    std::vector<double> seekLatencies;
    {
        std::istringstream lines(seeking.errors);
        std::string line;
        std::vector<int64> asked;
        while (std::getline(lines, line)) {
            uint32 target = 0, generation = 0, time = 0;
            int64 when = 0;
            if (sscanf(line.c_str(), "seek to %" SCNu32 " ms asked at %" SCNd64, &target, &when) ==
                2)
                asked.push_back(when);
            else if (sscanf(line.c_str(),
                            "seek %" SCNu32 ": first picture (%" SCNu32 " ms) drawn at %" SCNd64,
                            &generation, &time, &when) == 3 &&
                     generation >= 1 && generation <= asked.size())
                seekLatencies.push_back(double(when - asked[generation - 1]) / 1000.0);
        }
    }
    std::sort(seekLatencies.begin(), seekLatencies.end());

    // Which picture each draw was, and where the sound was then: the sound
    // output says which device frame went out when, and the recording where
    // the sound began.
    std::vector<drawn_frame> drawn = read_frame_log(frameLog);
    std::vector<std::pair<int64, int64>> handed; // device frame, time
    {
        std::istringstream lines(reelmoth.errors);
        std::string line;
        while (std::getline(lines, line)) {
            int64 frame = 0, time = 0;
            if (sscanf(line.c_str(),
                       "sound output: frame %" SCNd64 " handed to the device at %" SCNd64, &frame,
                       &time) == 2)
                handed.emplace_back(time, frame);
        }
    }
    // Where the sound began among the frames the output handed over.
    int64 soundStart = -1;
    size_t firstPage = reelmoth.errors.find("sound output: first page at frame ");
    if (firstPage != std::string::npos)
        sscanf(reelmoth.errors.c_str() + firstPage, "sound output: first page at frame %" SCNd64,
               &soundStart);
    std::vector<double> lateness; // A/V offset: picture after sound, ms
    size_t next = 0, unknown = 0;
    for (const drawn_frame& line : drawn) {
        size_t i = next;
        while (i < expected.size() && expected[i] != line.checksum)
            i++;
        if (i == expected.size()) {
            unknown++;
            continue;
        }
        next = i + 1;
        auto at =
            std::upper_bound(handed.begin(), handed.end(), std::make_pair(line.time, INT64_MAX));
        if (soundStart < 0 || at == handed.begin() || at == handed.end())
            continue;
        --at;
        double deviceFrame = double(at->second) + double(line.time - at->first) * 44100 / 1e6;
        double soundMs = (deviceFrame - double(soundStart)) * 1000 / 44100;
        lateness.push_back(soundMs - double(stream.objects[i].time));
    }
    std::vector<double> absolute = lateness;
    for (double& value : absolute)
        value = std::abs(value);
    std::sort(absolute.begin(), absolute.end());
    std::sort(lateness.begin(), lateness.end());
    size_t skipped = count_of(reelmoth.output, "skipped a frame by");
    size_t ffplayDropped = 0;
    size_t fd = ffplay.errors.rfind("fd=");
    if (fd != std::string::npos)
        ffplayDropped = size_t(atol(ffplay.errors.c_str() + fd + 3));

    printf("\n%zu frames, %d s at %d fps, 640x480 %s + IMA ADPCM stereo 44.1 kHz\n", frames,
           kSeconds, kFrameRate,
           videoModule ? "Microsoft Video 1 (Wine's msvidc32.dll for reelmoth)" : "WMV2 2 Mbit/s");
    printf("%-34s %10s %10s\n", "", "reelmoth", "ffplay");
    printf("%-34s %10.2f %10.2f   ratio %.2f (goal <= 0.5)\n", "CPU time (s)", reelmoth.cpuSeconds,
           ffplay.cpuSeconds, reelmoth.cpuSeconds / ffplay.cpuSeconds);
    printf("%-34s %10zu %10zu   (goal 0)\n", "frames dropped", frames - min_c(frames, drawn.size()),
           ffplayDropped);
    printf("%-34s %10zu\n", "  of them reported late", skipped);
    printf("%-34s %10.1f %10.1f   ratio %.2f\n", "peak memory, sum of VmHWM (MiB)",
           reelmoth.memory.hwmKiB / 1024, ffplay.memory.hwmKiB / 1024,
           reelmoth.memory.hwmKiB / ffplay.memory.hwmKiB);
    printf("%-34s %10.1f   (%d codec host%s)\n", "  of them codec hosts (MiB)",
           reelmoth.memory.hostHwmKiB / 1024, reelmoth.memory.hosts,
           reelmoth.memory.hosts == 1 ? "" : "s");
    printf("%-34s %10.1f %10.1f   ratio %.2f\n", "peak memory, RSS sampled (MiB)",
           reelmoth.memory.peakKiB / 1024, ffplay.memory.peakKiB / 1024,
           reelmoth.memory.peakKiB / ffplay.memory.peakKiB);
    if (unknown > 0)
        printf("%-34s %10zu   (not ffmpeg's pictures!)\n", "draws of unknown pictures", unknown);
    printf("%-34s %10zu %10zu   (goal 0)\n", "sound dropouts (silence >= 64 frames)",
           count_dropouts(home + "/reelmoth.raw"), count_dropouts(home + "/ffplay.raw"));
    if (!absolute.empty()) {
        printf("%-34s %10.1f   (goal <= 10)\n", "A/V offset median |ms|",
               absolute[absolute.size() / 2]);
        printf("%-34s %10.1f   (goal <= 40)\n", "A/V offset worst |ms|", absolute.back());
        printf("%-34s %10.1f .. %.1f\n", "A/V offset range (ms, + = late)", lateness.front(),
               lateness.back());
    }
    if (!seekLatencies.empty())
        printf("%-34s %10.1f   (goal <= 100; %zu seeks, worst %.1f)\n",
               "seek key to first picture median (ms)", seekLatencies[seekLatencies.size() / 2],
               seekLatencies.size(), seekLatencies.back());
    if (!drawn.empty()) {
        printf("%-34s %10.1f   (goal <= 150)\n", "start to first picture drawn (ms)",
               double(drawn.front().time - reelmoth.started) / 1000.0);
    }
    if (reelmoth.firstPicture > 0 && ffplay.firstPicture > 0) {
        printf("%-34s %10.1f %10.1f   ratio %.2f\n", "start to first picture seen (ms)",
               double(reelmoth.firstPicture - reelmoth.started) / 1000.0,
               double(ffplay.firstPicture - ffplay.started) / 1000.0,
               double(reelmoth.firstPicture - reelmoth.started) /
                   double(ffplay.firstPicture - ffplay.started));
    }
    measure_sound_start(home);
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return 0;
}
