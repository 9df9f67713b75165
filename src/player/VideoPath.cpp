// The video path's set-up, its ring and its thread.

#include "player/VideoPath.h"

#include "platform/interface/Bitmap.h"
#include "platform/support/Debug.h"
#include "player/PictureDecoder.h"
#include "player/PictureSink.h"
#include "player/PlaybackClock.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace
{

// How long the thread waits for an object or a due time before it looks
// again (the clock may be the sound, which does not wake anybody).
constexpr bigtime_t kWait = 10000;
// Decoding ahead is worth it only when the front frame is not due sooner.
constexpr bigtime_t kDecodeMargin = 15000;
// How long the first picture of a place waits for the sound to be ready.
constexpr bigtime_t kSoundWait = 500000;

} // namespace

CVideoPath::CVideoPath(CWakeUp* readerWake, CPlaybackClock* clock)
    : fWidth(0), fHeight(0), fQueue("VideoObjects", readerWake),
      fClock(clock), fFrames{}, fFrameTimes{}, fFrameShowFrom{}, fWriteFrame(0), fReadFrame(0),
      fReadSem(create_sem(0, "VideoRead")), fWriteSem(create_sem(3, "VideoWrite")), fSink(nullptr),
      fLastShown(-1), fGeneration(0), fWantedGeneration(0), fFailureTold(false), fShown(0),
      fLastShownTime(0)
{
}

CVideoPath::~CVideoPath()
{
    // The thread decodes into the ring and waits on the semaphores: it ends
    // before they go.
    fWorker.AskToEnd();
    fWorker.Join();
    Release();
    delete_sem(fReadSem);
    delete_sem(fWriteSem);
}

CResult CVideoPath::SetUp(const CASFExtractor::stream_info* info, color_space output)
{
    if (!info->format_read)
        return CResult(B_BAD_DATA, "The video stream's format cannot be read");
    const picture_stream_format& format = info->picture;
    CResult why;
    fDecoder = choose_picture_decoder(format, &why, output);
    if (fDecoder == nullptr)
        return why;
    fWidth = format.width;
    fHeight = format.height;
    if (output != B_RGB32)
        return CResult();
    for (std::unique_ptr<BBitmap>& frame : fFrames)
        frame = std::make_unique<BBitmap>(
            BRect(0, 0, float(format.width - 1), float(format.height - 1)), B_RGB32);
    return CResult();
}

std::string CVideoPath::Description() const
{
    return fDecoder != nullptr ? fDecoder->Description() : "";
}

void CVideoPath::Start()
{
    if (fDecoder == nullptr || fWorker.Running())
        return;
    fWorker.Start("VideoThread", [this] { return Thread(); });
}

void CVideoPath::Release()
{
    for (std::unique_ptr<BBitmap>& frame : fFrames)
        frame.reset();
    fDecoder.reset();
}

void CVideoPath::Seek(uint32 generation)
{
    fWantedGeneration = generation;
}

void CVideoPath::ApplySeek()
{
    fGeneration = fWantedGeneration;
    if (fStash != nullptr && fStash->generation != fGeneration)
        fStash.reset();
    // The ring starts empty but for the picture on screen, which stays
    // held until the first picture of the new place replaces it.
    while (acquire_sem_etc(fReadSem, 1, B_RELATIVE_TIMEOUT, 0) == B_OK) {
    }
    int32 free = 0;
    get_sem_count(fWriteSem, &free);
    int32 held = fLastShown >= 0 ? 1 : 0;
    if (free < 3 - held)
        release_sem_etc(fWriteSem, 3 - held - free, 0);
    if (fLastShown >= 0) {
        fReadFrame = (fLastShown + 1) % 3;
        fWriteFrame = fReadFrame;
    } else {
        fReadFrame = fWriteFrame = 0;
    }
    // The decoder's own references belong to the old place.
    fDecoder->Restart();
}

bool CVideoPath::DecodeAhead(bigtime_t timeout)
{
    if (acquire_sem_etc(fWriteSem, 1, B_RELATIVE_TIMEOUT, 0) != B_OK)
        return false;
    std::unique_ptr<media_object> object =
        fStash != nullptr ? std::move(fStash) : fQueue.Pop(timeout);
    if (object == nullptr || object->generation != fGeneration) {
        // The reader announces a seek before it queues for it: an object
        // of the seek to come waits until the thread has made way for it.
        if (object != nullptr && object->generation == fWantedGeneration)
            fStash = std::move(object);
        release_sem(fWriteSem);
        return object != nullptr || fStash != nullptr;
    }
    BBitmap* frame = fFrames[fWriteFrame].get();
    status_t status =
        fDecoder->Decode(*object, static_cast<uint8*>(frame->Bits()), int32(frame->BytesPerRow()));
    if (status < B_OK && !fFailureTold && !fDecoder->Failure().empty()) {
        fFailureTold = true;
        if (fFailureHandler)
            fFailureHandler(fDecoder->Failure());
    }
    fFrameTimes[fWriteFrame] = object->time;
    fFrameShowFrom[fWriteFrame] = object->showFrom;
    if (status >= B_OK) {
        fWriteFrame = (fWriteFrame + 1) % 3;
        release_sem(fReadSem);
    } else {
        release_sem(fWriteSem); // the slot is free again
    }
    return true;
}

void CVideoPath::Draw(int32 slot)
{
    // A sink that is closing refuses (the window's lock fails once the
    // thread is killed).
    if (fSink != nullptr && fSink->ShowPicture(fFrames[slot].get(), fFrameTimes[slot])) {
        fShown++;
        fLastShownTime = fFrameTimes[slot];
    }
}

const BBitmap* CVideoPath::HeldPicture() const
{
    int32 slot = fLastShown;
    return slot >= 0 ? fFrames[slot].get() : nullptr;
}

void CVideoPath::Done(int32 slot)
{
    if (fLastShown >= 0)
        release_sem(fWriteSem);
    fLastShown = slot;
    fReadFrame = (fReadFrame + 1) % 3;
}

int32 CVideoPath::Thread()
{
    bool haveFront = false;
    bool frontChecked = false;
    bool firstFrame = true;
    // Whether a picture of the current place has been shown (after a seek,
    // the first one is shown even when paused).
    bool shownHere = false;
    bool readyTold = false;
    bigtime_t readySince = 0;
    while (!has_kill_request()) {
        if (fWantedGeneration != fGeneration) {
            ApplySeek();
            haveFront = false;
            shownHere = false;
            readyTold = false;
        }
        if (!haveFront) {
            if (acquire_sem_etc(fReadSem, 1, B_RELATIVE_TIMEOUT, 0) == B_OK) {
                haveFront = true;
                frontChecked = false;
            } else {
                DecodeAhead(kWait);
                continue;
            }
        }
        int32 slot = fReadFrame;
        uint32 time = fFrameTimes[slot];
        if (time < fFrameShowFrom[slot]) {
            // Decoded only for the pictures that depend on it.
            Done(slot);
            haveFront = false;
            continue;
        }
        bigtime_t now;
        if (!fClock->IsStarted()) {
            // The clock starts with this frame: it is not late by the
            // moment that took.
            now = bigtime_t(fFrameShowFrom[slot]) * 1000;
            fClock->Start(now);
        } else {
            now = fClock->Now();
        }
        if (firstFrame) {
            firstFrame = false;
            _debugPrintf("video clock starts at %" PRId64 " us\n", system_time() - now);
        }
        bigtime_t due = bigtime_t(time) * 1000;
        bool paused = fClock->IsPaused();
        if (!frontChecked) {
            // The first picture of a start or a seek is the place's own:
            // it is shown whatever the clock says.
            if (now > due && shownHere) {
                printf("skipped a frame by %" PRId64 " us\n", now - due);
                fflush(stdout);
                Done(slot);
                haveFront = false;
                continue;
            }
            frontChecked = true;
            readySince = system_time();
        }
        if (!shownHere && !readyTold) {
            // The first picture of a place and the first sound begin
            // together: the picture waits until the sound is converted (a
            // while at most), the sound until the picture is there.
            if (!fClock->SoundReady(fGeneration) && system_time() - readySince < kSoundWait) {
                snooze(1000);
                continue;
            }
            fClock->PictureReady(fGeneration);
            readyTold = true;
        }
        if (now >= due || (paused && !shownHere)) {
            Draw(slot);
            if (!shownHere && fGeneration > 0)
                _debugPrintf("seek %" PRIu32 ": first picture (%" PRIu32 " ms) drawn at %" PRId64
                             " us\n",
                             fGeneration, time, system_time());
            Done(slot);
            haveFront = false;
            shownHere = true;
            continue;
        }
        bigtime_t wait = due - now;
        if ((paused || wait > kDecodeMargin) && DecodeAhead(0))
            continue;
        snooze(paused ? kWait : min_c(wait, kWait));
    }
    return B_OK;
}
