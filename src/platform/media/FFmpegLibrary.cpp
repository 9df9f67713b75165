#include "platform/media/FFmpegLibrary.h"

#include "platform/support/Debug.h"

#include <dlfcn.h>

#include <cstdio>
#include <future>
#include <mutex>

namespace
{

#define REELMOTH_SONAME(name, major) name ".so." REELMOTH_STRING(major)
#define REELMOTH_STRING(x) REELMOTH_STRING2(x)
#define REELMOTH_STRING2(x) #x

const char kCodecLibrary[] = REELMOTH_SONAME("libavcodec", LIBAVCODEC_VERSION_MAJOR);
const char kScaleLibrary[] = REELMOTH_SONAME("libswscale", LIBSWSCALE_VERSION_MAJOR);
const char kResampleLibrary[] = REELMOTH_SONAME("libswresample", LIBSWRESAMPLE_VERSION_MAJOR);

ffmpeg_library sLibrary;
std::once_flag sStarted;
std::shared_future<const ffmpeg_library*> sOpened;

// Looks `name` up in the libraries (each handle also finds what its library
// depends on, libavutil among them).
void* find(void* const* libraries, const char* name)
{
    for (int i = 0; i < 3; i++) {
        if (void* found = dlsym(libraries[i], name))
            return found;
    }
    return nullptr;
}

const ffmpeg_library* open_libraries()
{
    // Never closed: decoders may live until the process ends.
    void* libraries[3] = {dlopen(kCodecLibrary, RTLD_NOW | RTLD_LOCAL),
                          dlopen(kScaleLibrary, RTLD_NOW | RTLD_LOCAL),
                          dlopen(kResampleLibrary, RTLD_NOW | RTLD_LOCAL)};
    if (libraries[0] == nullptr || libraries[1] == nullptr || libraries[2] == nullptr) {
        fprintf(stderr, "reelmoth: no FFmpeg decoders: %s\n", dlerror());
        return nullptr;
    }
    bool complete = true;
#define REELMOTH_FFMPEG_FIND(name)                                                                 \
    sLibrary.name = reinterpret_cast<decltype(&::name)>(find(libraries, #name));                   \
    complete = complete && sLibrary.name != nullptr;
    REELMOTH_FFMPEG_FUNCTIONS(REELMOTH_FFMPEG_FIND)
#undef REELMOTH_FFMPEG_FIND
    if (!complete) {
        fprintf(stderr, "reelmoth: no FFmpeg decoders: %s lacks a function\n", kCodecLibrary);
        return nullptr;
    }
    // Playback failures are silent: the decoders' own complaints about
    // damaged data are shown only while debugging.
    sLibrary.av_log_set_level(_debugFlag() ? AV_LOG_WARNING : AV_LOG_QUIET);
    return &sLibrary;
}

} // namespace

void ffmpeg_preload()
{
    std::call_once(sStarted,
                   [] { sOpened = std::async(std::launch::async, open_libraries).share(); });
}

const ffmpeg_library* ffmpeg()
{
    ffmpeg_preload();
    return sOpened.get();
}
