#include "RecordedPlayer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Cuts the file after its data object: what is left has no index objects.
void drop_index(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes(std::istreambuf_iterator<char>(file), {});
    uint64 headerSize = 0, dataSize = 0;
    memcpy(&headerSize, bytes.data() + 16, 8);
    memcpy(&dataSize, bytes.data() + headerSize + 16, 8);
    std::filesystem::resize_file(path, headerSize + dataSize);
}

} // namespace

std::string asf_file(const char* name)
{
    return std::string(REELMOTH_TEST_DATA) + "/asf/" + name;
}

std::string module_file(const char* build)
{
    if (strchr(build, '/') != nullptr)
        return build;
    return std::string(REELMOTH_TEST_MODULES) + "/" + build;
}

std::vector<int16> ffmpeg_decode(const char* name)
{
    bytes_t decoded;
    EXPECT_TRUE(ffmpeg_samples(asf_file(name), &decoded));
    std::vector<int16> samples(decoded.size() / 2);
    if (!samples.empty())
        memcpy(samples.data(), decoded.data(), samples.size() * 2);
    return samples;
}

recorded_player::recorded_player(const char* name, const recording_options& options)
{
    std::string base = "/tmp/reelmoth-player-" + std::to_string(getpid()) + "-";
    fMovie = base + name;
    fSound = fMovie + ".raw";
    fFrameLog = fMovie + ".frames";
    // Stale ones (from an earlier process of the same id) would be read as
    // this player's.
    unlink(fSound.c_str());
    unlink(fFrameLog.c_str());
    std::filesystem::copy_file(asf_file(name), fMovie,
                               std::filesystem::copy_options::overwrite_existing);
    if (options.tag != 0) {
        EXPECT_TRUE(set_audio_format_tag(fMovie, options.tag));
    }
    if (!options.withIndex)
        drop_index(fMovie);
    char pattern[] = "/tmp/reelmoth-player-data-XXXXXX";
    fData = mkdtemp(pattern);
    std::string decoders = fData + "/reelmoth/media/decoders";
    if (options.installAs != nullptr || !options.alsoInstall.empty())
        std::filesystem::create_directories(decoders);
    if (options.installAs != nullptr)
        std::filesystem::copy_file(module_file(options.module), decoders + "/" + options.installAs);
    for (const std::string& path : options.alsoInstall)
        std::filesystem::copy_file(path, decoders + "/" +
                                             std::filesystem::path(path).filename().string());
    std::vector<std::string> environment = {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + fSound,
                                            "XDG_DATA_HOME=" + fData,
                                            "REELMOTH_FRAME_LOG=" + fFrameLog};
    environment.insert(environment.end(), options.environment.begin(), options.environment.end());
    fProcess = std::make_unique<player_process>(std::vector<std::string>{fMovie}, options.debug,
                                                environment);
}

recorded_player::~recorded_player()
{
    fProcess.reset();
    unlink(fMovie.c_str());
    unlink(fSound.c_str());
    unlink(fFrameLog.c_str());
    std::error_code ignored;
    std::filesystem::remove_all(fData, ignored);
}

bool recorded_player::SoundOpened() const
{
    struct stat s;
    return stat(fSound.c_str(), &s) == 0;
}

bool recorded_player::WaitForFrames(size_t count)
{
    for (int i = 0; i < 400 && Frames().size() < count; i++)
        usleep(50000);
    return Frames().size() >= count;
}
