// The push-mode sound output on an SDL audio device. SDL's callback, on
// SDL's own audio thread, drains the ring of pages; a kernel semaphore counts
// the free pages, so a writer waiting for one can be killed like any other
// platform wait.

#include "platform/game/PushGameSound.h"

#include "platform/interface/Display.h"
#include "platform/media/MediaDefs.h"
#include "platform/support/Debug.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace
{

// How long LockNextPage waits for a free page before it gives up.
constexpr bigtime_t kPageWait = 500000;

// Rates and channel counts an output can be opened with.
constexpr float kMinRate = 1000;
constexpr float kMaxRate = 384000;
constexpr uint32 kMaxChannels = 8;
constexpr size_t kMaxFramesPerBuffer = 65536;
constexpr size_t kMaxBufferCount = 64;
// The device's own buffer, in frames: a power of two.
constexpr uint32 kMinDeviceFrames = 64;
constexpr uint32 kMaxDeviceFrames = 8192;

enum page_state { kFree, kLocked, kQueued };

bool sdl_format_for(const gs_audio_format& format, SDL_AudioFormat* result)
{
    bool big = format.byte_order == B_MEDIA_BIG_ENDIAN ||
               (format.byte_order == 0 && SDL_BYTEORDER == SDL_BIG_ENDIAN);
    if (format.byte_order > B_MEDIA_LITTLE_ENDIAN)
        return false;
    switch (format.format) {
    case gs_audio_format::B_GS_U8:
        *result = AUDIO_U8;
        return true;
    case gs_audio_format::B_GS_S16:
        *result = big ? AUDIO_S16MSB : AUDIO_S16LSB;
        return true;
    case gs_audio_format::B_GS_S32:
        *result = big ? AUDIO_S32MSB : AUDIO_S32LSB;
        return true;
    case gs_audio_format::B_GS_F:
        *result = big ? AUDIO_F32MSB : AUDIO_F32LSB;
        return true;
    default:
        return false;
    }
}

// ALSA reports a missing card on stderr, eight lines each time a device is
// tried. Its error hook is process-wide: set before SDL loads its driver, it
// covers SDL's use of the library too. Kept with REELMOTH_DEBUG.
void ignore_sound_library_error(const char*, int, const char*, int, const char*, ...) {}

void quiet_sound_library()
{
    static std::once_flag sOnce;
    std::call_once(sOnce, [] {
        if (_rtDebugFlag)
            return;
        void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (alsa == nullptr)
            return;
        using error_hook = void (*)(const char*, int, const char*, int, const char*, ...);
        using set_hook = int (*)(error_hook);
        auto set = reinterpret_cast<set_hook>(dlsym(alsa, "snd_lib_error_set_handler"));
        if (set != nullptr)
            set(ignore_sound_library_error);
        // Stays loaded: SDL opens the same library.
    });
}

// Said once per process, whichever player found no output first.
void report_no_output()
{
    static std::once_flag sOnce;
    std::call_once(sOnce, [] {
        _debugPrintf("sound output: %s\n", SDL_GetError());
        fputs("no sound output: playing without sound\n", stderr);
    });
    // SDL keeps its error text with the thread; a thread of ours that ends
    // would leave it behind.
    SDL_TLSCleanup();
}

} // namespace

struct BPushGameSound::output_state {
    SDL_AudioDeviceID device = 0;
    bool subsystem = false;
    sem_id freePages = -1;
    uint8 silence = 0;

    // The ring. `lock` guards the page states and the play position; the
    // pages' bytes belong to whoever the state says.
    std::mutex lock;
    uint8* pages = nullptr;
    size_t pageSize = 0;
    size_t pageCount = 0;
    std::vector<page_state> states;
    size_t writeIndex = 0; // the next page to lock
    size_t readIndex = 0;  // the page being played
    size_t readOffset = 0; // bytes of it already played
    size_t frameSize = 1;
    bool held = false;
    float gain = 1.0f;
    // Frames taken from queued pages by all fills, by the latest one, and
    // when that one began.
    uint64 pageFrames = 0;
    uint64 lastFillFrames = 0;
    bigtime_t lastFill = 0;
    // Every frame handed to the device, silence included, for the debug
    // output that says when which frame went out.
    uint64 deviceFrames = 0;
    uint64 nextReport = 0;
};

BPushGameSound::BPushGameSound(size_t framesPerBuffer, const gs_audio_format* format,
                               size_t bufferCount, BGameSoundDevice* device)
    : fFormat(), fStatus(B_BAD_VALUE), fPlaying(false), fState(nullptr)
{
    if (format == nullptr || device != nullptr)
        return;
    fFormat = *format;
    SDL_AudioFormat sdlFormat;
    if (!sdl_format_for(fFormat, &sdlFormat) || !(fFormat.frame_rate >= kMinRate) ||
        !(fFormat.frame_rate <= kMaxRate) || fFormat.channel_count == 0 ||
        fFormat.channel_count > kMaxChannels || framesPerBuffer == 0 ||
        framesPerBuffer > kMaxFramesPerBuffer || bufferCount < 2 || bufferCount > kMaxBufferCount)
        return;

    fState = new output_state;
    output_state& state = *fState;
    state.pageCount = bufferCount;
    state.frameSize = fFormat.channel_count * (fFormat.format & 0xF);
    state.pageSize = framesPerBuffer * state.frameSize;
    state.states.assign(bufferCount, kFree);
    state.pages = static_cast<uint8*>(malloc(state.pageSize * bufferCount));
    state.freePages = create_sem(int32(bufferCount), "sound pages");
    if (state.pages == nullptr || state.freePages < 0) {
        fStatus = B_NO_MEMORY;
        return;
    }
    quiet_sound_library();
    {
        std::lock_guard<std::mutex> locked(display::sdl_lock());
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        state.subsystem = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }
    if (!state.subsystem) {
        report_no_output();
        fStatus = B_ERROR;
        return;
    }
    SDL_AudioSpec wanted = {};
    wanted.freq = int(fFormat.frame_rate + 0.5f);
    wanted.format = sdlFormat;
    wanted.channels = uint8(fFormat.channel_count);
    // The device takes a quarter page at a time: what it holds besides the
    // ring is heard that much later, and the writer is that much less
    // ahead of the listener.
    uint32 deviceFrames = kMinDeviceFrames;
    while (deviceFrames < framesPerBuffer / 4 && deviceFrames < kMaxDeviceFrames)
        deviceFrames *= 2;
    wanted.samples = uint16(deviceFrames);
    wanted.callback = FillWrapper;
    wanted.userdata = this;
    SDL_AudioSpec obtained;
    // No changes allowed: SDL converts to whatever the device plays.
    state.device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
    if (state.device == 0) {
        report_no_output();
        fStatus = B_ERROR;
        return;
    }
    state.silence = obtained.silence;
    memset(state.pages, state.silence, state.pageSize * bufferCount);
    fStatus = B_OK;
    // Opening leaves SDL's error text with this thread even when it
    // succeeds; an output opened on a thread of ours that then ends would
    // leave it behind.
    SDL_TLSCleanup();
}

BPushGameSound::~BPushGameSound()
{
    if (fState == nullptr)
        return;
    // Closing waits for a callback in progress.
    if (fState->device != 0)
        SDL_CloseAudioDevice(fState->device);
    if (fState->subsystem) {
        std::lock_guard<std::mutex> locked(display::sdl_lock());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    if (fState->freePages >= 0)
        delete_sem(fState->freePages);
    free(fState->pages);
    delete fState;
}

status_t BPushGameSound::StartPlaying()
{
    if (fStatus != B_OK)
        return B_NO_INIT;
    SDL_PauseAudioDevice(fState->device, 0);
    fPlaying = true;
    return B_OK;
}

status_t BPushGameSound::StopPlaying()
{
    if (fStatus != B_OK)
        return B_NO_INIT;
    SDL_PauseAudioDevice(fState->device, 1);
    fPlaying = false;
    return B_OK;
}

BPushGameSound::lock_status BPushGameSound::LockNextPage(void** pagePointer, size_t* pageSize)
{
    if (fStatus != B_OK || pagePointer == nullptr || pageSize == nullptr)
        return lock_failed;
    output_state& state = *fState;
    {
        std::lock_guard<std::mutex> locked(state.lock);
        if (state.states[state.writeIndex] == kLocked)
            return lock_failed; // one page at a time
    }
    if (acquire_sem_etc(state.freePages, 1, B_RELATIVE_TIMEOUT, kPageWait) != B_OK)
        return lock_failed;
    std::lock_guard<std::mutex> locked(state.lock);
    state.states[state.writeIndex] = kLocked;
    *pagePointer = state.pages + state.writeIndex * state.pageSize;
    *pageSize = state.pageSize;
    return lock_ok;
}

status_t BPushGameSound::UnlockPage(void* pagePointer)
{
    if (fStatus != B_OK)
        return B_NO_INIT;
    output_state& state = *fState;
    std::lock_guard<std::mutex> locked(state.lock);
    if (state.states[state.writeIndex] != kLocked ||
        pagePointer != state.pages + state.writeIndex * state.pageSize)
        return B_BAD_VALUE;
    state.states[state.writeIndex] = kQueued;
    state.writeIndex = (state.writeIndex + 1) % state.pageCount;
    return B_OK;
}

void BPushGameSound::FillWrapper(void* cookie, uint8* stream, int length)
{
    static_cast<BPushGameSound*>(cookie)->Fill(stream, length);
}

void BPushGameSound::Fill(uint8* stream, int length)
{
    output_state& state = *fState;
    size_t wanted = size_t(length);
    int32 freed = 0;
    bigtime_t now = system_time();
    uint8* start = stream;
    float gain = 1.0f;
    {
        std::lock_guard<std::mutex> locked(state.lock);
        gain = state.gain;
        size_t fromPages = 0;
        if (state.held) {
            memset(stream, state.silence, wanted);
            wanted = 0;
        }
        while (wanted > 0) {
            if (state.states[state.readIndex] != kQueued) {
                // Ran dry: silence until the next page is queued.
                memset(stream, state.silence, wanted);
                break;
            }
            uint8* page = state.pages + state.readIndex * state.pageSize;
            size_t count = min_c(wanted, state.pageSize - state.readOffset);
            memcpy(stream, page + state.readOffset, count);
            fromPages += count;
            stream += count;
            wanted -= count;
            state.readOffset += count;
            if (state.readOffset == state.pageSize) {
                memset(page, state.silence, state.pageSize);
                state.states[state.readIndex] = kFree;
                state.readIndex = (state.readIndex + 1) % state.pageCount;
                state.readOffset = 0;
                freed++;
            }
        }
        state.lastFillFrames = fromPages / state.frameSize;
        if (_rtDebugFlag && state.pageFrames == 0 && state.lastFillFrames > 0) {
            // The device frames above count only what this output handed
            // over; SDL may have played silence of its own before.
            _debugPrintf("sound output: first page at frame %" PRIu64 "\n", state.deviceFrames);
        }
        state.pageFrames += state.lastFillFrames;
        state.lastFill = now;
        if (_rtDebugFlag && state.deviceFrames >= state.nextReport) {
            _debugPrintf("sound output: frame %" PRIu64 " handed to the device at %" PRId64 " us\n",
                         state.deviceFrames, now);
            state.nextReport = state.deviceFrames + uint64(fFormat.frame_rate / 10);
        }
        state.deviceFrames += size_t(length) / state.frameSize;
    }
    if (gain < 1.0f)
        ApplyGain(start, size_t(length), gain);
    if (freed > 0)
        release_sem_etc(state.freePages, freed, 0);
}

void BPushGameSound::ApplyGain(uint8* stream, size_t length, float gain) const
{
    // Fixed point for the integer formats, so that a gain gives the same
    // samples wherever it is applied.
    int32 factor = int32(gain * 65536.0f);
    // Samples in the other byte order are turned round to be scaled.
    bool foreign = fFormat.byte_order != 0 &&
                   (fFormat.byte_order == B_MEDIA_BIG_ENDIAN) != (SDL_BYTEORDER == SDL_BIG_ENDIAN);
    auto turn16 = [foreign](uint16 v) { return foreign ? __builtin_bswap16(v) : v; };
    auto turn32 = [foreign](uint32 v) { return foreign ? __builtin_bswap32(v) : v; };
    switch (fFormat.format) {
    case gs_audio_format::B_GS_U8:
        for (size_t i = 0; i < length; i++)
            stream[i] = uint8(128 + ((int32(stream[i]) - 128) * factor >> 16));
        break;
    case gs_audio_format::B_GS_S16:
        for (size_t i = 0; i + 2 <= length; i += 2) {
            uint16 bits;
            memcpy(&bits, stream + i, 2);
            int16 sample = int16(turn16(bits));
            bits = turn16(uint16(int16((int32(sample) * factor) >> 16)));
            memcpy(stream + i, &bits, 2);
        }
        break;
    case gs_audio_format::B_GS_S32:
        for (size_t i = 0; i + 4 <= length; i += 4) {
            uint32 bits;
            memcpy(&bits, stream + i, 4);
            int32 sample = int32(turn32(bits));
            bits = turn32(uint32(int32((int64(sample) * factor) >> 16)));
            memcpy(stream + i, &bits, 4);
        }
        break;
    case gs_audio_format::B_GS_F:
        for (size_t i = 0; i + 4 <= length; i += 4) {
            uint32 bits;
            memcpy(&bits, stream + i, 4);
            bits = turn32(bits);
            float sample;
            memcpy(&sample, &bits, 4);
            sample *= gain;
            memcpy(&bits, &sample, 4);
            bits = turn32(bits);
            memcpy(stream + i, &bits, 4);
        }
        break;
    default:
        break;
    }
}

status_t BPushGameSound::SetGain(float gain)
{
    if (fStatus != B_OK)
        return B_NO_INIT;
    if (!(gain >= 0.0f && gain <= 1.0f))
        return B_BAD_VALUE;
    std::lock_guard<std::mutex> locked(fState->lock);
    fState->gain = gain;
    return B_OK;
}

float BPushGameSound::Gain() const
{
    if (fStatus != B_OK)
        return 1.0f;
    std::lock_guard<std::mutex> locked(fState->lock);
    return fState->gain;
}

uint64 BPushGameSound::PlayedFrames() const
{
    if (fStatus != B_OK)
        return 0;
    output_state& state = *fState;
    bigtime_t now = system_time();
    std::lock_guard<std::mutex> locked(state.lock);
    // A fill may have begun after `now` was read.
    bigtime_t since = max_c(now - state.lastFill, bigtime_t(0));
    uint64 elapsed = uint64(double(since) * fFormat.frame_rate / 1000000.0);
    return state.pageFrames - state.lastFillFrames + min_c(elapsed, state.lastFillFrames);
}

void BPushGameSound::SetHeld(bool held)
{
    if (fStatus != B_OK)
        return;
    std::lock_guard<std::mutex> locked(fState->lock);
    fState->held = held;
}

uint64 BPushGameSound::DropQueuedPages()
{
    if (fStatus != B_OK)
        return 0;
    output_state& state = *fState;
    int32 freed = 0;
    uint64 played;
    {
        std::lock_guard<std::mutex> locked(state.lock);
        for (size_t i = 0; i < state.pageCount; i++) {
            if (state.states[i] != kQueued)
                continue;
            memset(state.pages + i * state.pageSize, state.silence, state.pageSize);
            state.states[i] = kFree;
            freed++;
        }
        state.readIndex = state.writeIndex;
        state.readOffset = 0;
        // What the device holds of the latest fill still plays.
        state.lastFill = 0;
        played = state.pageFrames;
    }
    if (freed > 0)
        release_sem_etc(state.freePages, freed, 0);
    return played;
}
