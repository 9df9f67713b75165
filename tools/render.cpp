// reelmoth-render: plays an ASF file through the player's session with no
// window and no clock, as fast as the decoders go, through the decoders the
// player would choose (codec modules or FFmpeg): the sound to a WAV file,
// the pictures to a YUV4MPEG2 file.
#include "player/PlaybackSession.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

const char kUsage[] =
    "usage: reelmoth-render [--audio=FILE.wav] [--video=FILE.y4m] [--start=SECONDS]\n"
    "                       [--duration=SECONDS] FILE\n"
    "Decodes an ASF file's sound to 16-bit WAV at the stream's rate and channels,\n"
    "and its pictures to YUV4MPEG2 (I420 at the decoded size, one frame a picture),\n"
    "with the decoders the player would choose. At least one of --audio and\n"
    "--video. The exit status is 0 only when everything asked for was written.\n";

void put_le(FILE* file, uint32 value, int bytes)
{
    for (int i = 0; i < bytes; i++)
        fputc(int((value >> (8 * i)) & 0xFF), file);
}

// A WAV file whose sizes are written at the end.
class CWaveFile
{
public:
    CWaveFile(const std::string& path, uint32 rate, uint16 channels)
        : fFile(fopen(path.c_str(), "wb")), fRate(rate), fChannels(channels), fBytes(0)
    {
        if (fFile != nullptr)
            WriteHeader();
    }
    ~CWaveFile()
    {
        if (fFile != nullptr)
            fclose(fFile);
    }

    bool IsOpen() const { return fFile != nullptr; }
    bool Write(const uint8* pcm, size_t size)
    {
        if (fFile == nullptr || fwrite(pcm, 1, size, fFile) != size)
            return false;
        fBytes += size;
        return true;
    }
    bool Close()
    {
        if (fFile == nullptr)
            return false;
        bool ok = fseek(fFile, 0, SEEK_SET) == 0 && (WriteHeader(), true);
        ok = fclose(fFile) == 0 && ok;
        fFile = nullptr;
        return ok;
    }

private:
    void WriteHeader()
    {
        uint32 data = uint32(std::min<uint64>(fBytes, UINT32_MAX - 36));
        fwrite("RIFF", 1, 4, fFile);
        put_le(fFile, 36 + data, 4);
        fwrite("WAVEfmt ", 1, 8, fFile);
        put_le(fFile, 16, 4);
        put_le(fFile, 1, 2); // PCM
        put_le(fFile, fChannels, 2);
        put_le(fFile, fRate, 4);
        put_le(fFile, fRate * fChannels * 2, 4);
        put_le(fFile, uint32(fChannels) * 2, 2);
        put_le(fFile, 16, 2);
        fwrite("data", 1, 4, fFile);
        put_le(fFile, data, 4);
    }

    FILE* fFile;
    uint32 fRate;
    uint16 fChannels;
    uint64 fBytes;
};

bool seconds_option(const char* text, uint32* milliseconds)
{
    char* end = nullptr;
    errno = 0;
    double seconds = strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(seconds >= 0) || seconds > 4e6)
        return false;
    *milliseconds = uint32(seconds * 1000.0 + 0.5);
    return true;
}

// A bar on a terminal; nothing otherwise.
void show_progress(uint32 time, uint32 start, uint32 total)
{
    static int sShown = -1;
    if (total == 0 || !isatty(STDERR_FILENO))
        return;
    int percent = int(std::min<uint64>(100, uint64(time > start ? time - start : 0) * 100 / total));
    if (percent == sShown)
        return;
    sShown = percent;
    char bar[41];
    memset(bar, '#', size_t(percent * 40 / 100));
    memset(bar + percent * 40 / 100, '.', size_t(40 - percent * 40 / 100));
    bar[40] = '\0';
    fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    if (percent == 100)
        fprintf(stderr, "\n");
}

} // namespace

int main(int argc, char** argv)
{
    std::string audio, video, path;
    uint32 start = 0, duration = 0;
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (arg.rfind("--audio=", 0) == 0) {
            audio = arg.substr(8);
        } else if (arg.rfind("--video=", 0) == 0) {
            video = arg.substr(8);
        } else if (arg.rfind("--start=", 0) == 0) {
            if (!seconds_option(arg.c_str() + 8, &start)) {
                fprintf(stderr, "reelmoth-render: %s: not a number of seconds\n", arg.c_str());
                return 2;
            }
        } else if (arg.rfind("--duration=", 0) == 0) {
            if (!seconds_option(arg.c_str() + 11, &duration) || duration == 0) {
                fprintf(stderr, "reelmoth-render: %s: not a number of seconds\n", arg.c_str());
                return 2;
            }
        } else if (arg.rfind("--", 0) == 0 || !path.empty()) {
            fputs(kUsage, stderr);
            return 2;
        } else {
            path = arg;
        }
    }
    if (path.empty() || (audio.empty() && video.empty())) {
        fputs(kUsage, stderr);
        return 2;
    }

    CPlaybackSession session;
    CResult opened = session.Open(path.c_str(), kRender);
    if (!opened.IsOK() || session.IsProtected()) {
        fprintf(stderr, "reelmoth-render: %s: %s\n", path.c_str(),
                opened.IsOK() ? "protected by DRM: it cannot be played" : opened.Why().c_str());
        return 1;
    }
    bool failed = false;
    if (!audio.empty() && session.Audio() == nullptr) {
        fprintf(stderr, "reelmoth-render: %s: %s\n", path.c_str(),
                session.SoundNote().empty() ? "no sound stream" : session.SoundNote().c_str());
        failed = true;
        audio.clear();
    }
    if (!video.empty() && session.Video() == nullptr) {
        fprintf(stderr, "reelmoth-render: %s: %s\n", path.c_str(),
                session.VideoNote().empty() ? "no video stream" : session.VideoNote().c_str());
        failed = true;
        video.clear();
    }

    std::unique_ptr<CWaveFile> wave;
    FILE* pictures = nullptr;
    render_sinks sinks;
    if (!audio.empty()) {
        wave = std::make_unique<CWaveFile>(audio, session.Audio()->Rate(),
                                           session.Audio()->Channels());
        if (!wave->IsOpen()) {
            fprintf(stderr, "reelmoth-render: %s: %s\n", audio.c_str(), strerror(errno));
            return 1;
        }
        sinks.sound = [&](const uint8* pcm, size_t size) { return wave->Write(pcm, size); };
    }
    if (!video.empty()) {
        pictures = fopen(video.c_str(), "wb");
        if (pictures == nullptr) {
            fprintf(stderr, "reelmoth-render: %s: %s\n", video.c_str(), strerror(errno));
            return 1;
        }
        uint32 numerator = 0, denominator = 0;
        session.FrameRate(&numerator, &denominator);
        fprintf(pictures,
                "YUV4MPEG2 W%" PRId32 " H%" PRId32 " F%" PRIu32 ":%" PRIu32 " Ip A1:1 C420jpeg\n",
                session.Video()->Width(), session.Video()->Height(), numerator, denominator);
        sinks.picture = [&](const uint8* picture, size_t size) {
            return fputs("FRAME\n", pictures) >= 0 && fwrite(picture, 1, size, pictures) == size;
        };
    }

    uint32 total = session.PlayDuration();
    if (total > start)
        total = duration > 0 ? std::min(duration, total - start) : total - start;
    std::vector<std::string> problems;
    session.Render(
        start, duration, sinks, [&](uint32 time) { show_progress(time, start, total); }, &problems);
    if (isatty(STDERR_FILENO) && total > 0)
        fprintf(stderr, "\n");
    if (wave != nullptr && !wave->Close())
        problems.push_back(audio + " could not be written");
    if (pictures != nullptr && fclose(pictures) != 0)
        problems.push_back(video + " could not be written");
    for (const std::string& problem : problems)
        fprintf(stderr, "reelmoth-render: %s: %s\n", path.c_str(), problem.c_str());
    return failed || !problems.empty() ? 1 : 0;
}
