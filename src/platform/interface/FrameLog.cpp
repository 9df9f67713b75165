#include "platform/interface/FrameLog.h"

#include "platform/interface/Bitmap.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace frame_log
{

namespace
{

struct log_state {
    std::mutex lock;
    FILE* file = nullptr;
    int64 count = 0;
};

// Opened once, on first use; the file is started afresh for each process.
log_state* state()
{
    static log_state* sState = [] {
        const char* path = getenv("REELMOTH_FRAME_LOG");
        if (path == nullptr || path[0] == '\0')
            return static_cast<log_state*>(nullptr);
        FILE* file = fopen(path, "w");
        if (file == nullptr) {
            fprintf(stderr, "reelmoth: cannot write the frame log %s\n", path);
            return static_cast<log_state*>(nullptr);
        }
        auto* s = new log_state; // used until exit
        s->file = file;
        return s;
    }();
    return sState;
}

} // namespace

uint64 frame_checksum(const void* pixels, int32 width, int32 height, int32 bytesPerRow)
{
    uint64 hash = 0xcbf29ce484222325ull;
    const uint8* row = static_cast<const uint8*>(pixels);
    for (int32 y = 0; y < height; y++, row += bytesPerRow) {
        for (int32 x = 0; x < width; x++) {
            uint32 pixel;
            memcpy(&pixel, row + size_t(x) * 4, 4);
            hash = (hash ^ pixel) * 0x100000001b3ull;
        }
    }
    return hash;
}

bool enabled()
{
    return state() != nullptr;
}

void note_draw(const BBitmap* bitmap, bigtime_t when)
{
    log_state* s = state();
    if (s == nullptr || bitmap == nullptr || bitmap->Bits() == nullptr)
        return;
    uint64 checksum = frame_checksum(bitmap->Bits(), bitmap->Bounds().IntegerWidth() + 1,
                                     bitmap->Bounds().IntegerHeight() + 1, bitmap->BytesPerRow());
    std::lock_guard<std::mutex> locked(s->lock);
    fprintf(s->file, "%" PRId64 " %" PRId64 " %016" PRIx64 "\n", ++s->count, when, checksum);
    fflush(s->file);
}

} // namespace frame_log
