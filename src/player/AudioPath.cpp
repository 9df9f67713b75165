// The audio path's set-up, its thread and the play position it gives the
// clock.

#include "player/AudioPath.h"

#include "platform/game/PushGameSound.h"
#include "platform/support/Debug.h"

#include <algorithm>
#include <cstring>

namespace
{

// PCM converted ahead of the pages: eight pages' worth.
constexpr size_t kPagesAhead = 8;
// How long the thread waits for an object before it looks again.
constexpr bigtime_t kObjectWait = 10000;
// A sound that has not moved for this long (not paused) no longer leads
// the clock; nor does one that has not begun this long after a start.
constexpr bigtime_t kStallTime = 300000;
constexpr bigtime_t kFirstSoundTime = 1000000;

} // namespace

CAudioPath::CAudioPath(CWakeUp* readerWake)
    : fRate(0), fChannels(0), fFrameSize(0), fQueue("AudioObjects", readerWake), fPCMTime(0),
      fHavePCMTime(false), fGeneration(0), fShowFrom(0), fConversionStarted(false),
      fWantedGeneration(0), fWantedTarget(0), fPaused(false), fWaitForPicture(false),
      fPictureReady(0), fSoundReady(0), fHeldSince(0), fVolume(1.0f), fMuted(false),
      fQueuedFrames(0), fBase(0), fBaseSince(0), fLastPlayed(0), fLastAdvance(0), fEnded(false),
      fFinished(false)
{
}

CAudioPath::~CAudioPath()
{
    // The thread writes into the output: it ends before the output goes.
    fWorker.AskToEnd();
    fWorker.Join();
    Release();
}

CResult CAudioPath::SetUp(const CASFExtractor::stream_info* info, bool openLater, bool output)
{
    fWithOutput = output;
    fFormat = info->sound;
    if (!info->format_read || fFormat.channels == 0 || fFormat.rate == 0)
        return CResult(B_BAD_DATA, "The audio stream's format block is damaged");
    fFormatTag = fFormat.tag;
    fRate = fFormat.rate;
    fChannels = fFormat.channels;
    fFrameSize = uint32(fFormat.channels) * 2;
    fOpenLater = openLater;
    return openLater ? CResult() : Open();
}

CResult CAudioPath::Open()
{
    CResult why;
    fDecoder = choose_sound_decoder(fFormat, &why);
    if (fDecoder == nullptr)
        return why;
    fConversionStarted = true;
    if (!fWithOutput) {
        if (fDecoder->Restart())
            return CResult();
        fDecoder.reset();
        return CResult::Failure("The sound decoder cannot begin");
    }

    gs_audio_format output = {};
    output.frame_rate = float(fFormat.rate);
    output.channel_count = fFormat.channels;
    output.format = gs_audio_format::B_GS_S16;
    output.byte_order = B_MEDIA_LITTLE_ENDIAN;
    output.buffer_size = 0;
    auto sound = std::make_unique<BPushGameSound>(kFramesPerPage, &output, kPageCount);
    if (sound->InitCheck() < B_OK) {
        sound.reset(); // the output goes before the codec, as in Release
        Release();
        return CResult(B_NO_INIT, "No sound output");
    }
    fSound = std::move(sound);
    return CResult();
}

void CAudioPath::StartOutput()
{
    {
        std::lock_guard<std::mutex> locked(fPagesLock);
        fBaseSince = system_time();
    }
    fHeldSince = system_time();
    std::lock_guard<std::mutex> locked(fPagesLock);
    fSound->SetGain(Gain());
    fOutputStarted = true;
}

void CAudioPath::Start()
{
    if (fWorker.Running() || (fSound == nullptr && !fOpenLater))
        return;
    if (fSound != nullptr)
        StartOutput();
    fWorker.Start("AudioThread", [this] { return Thread(); });
}

void CAudioPath::Release()
{
    fOutputStarted = false;
    if (fSound != nullptr) {
        fSound->StopPlaying();
        fSound.reset();
    }
    fDecoder.reset();
    fConversionStarted = false;
}

void CAudioPath::Seek(uint32 generation, uint32 target)
{
    fWantedTarget = target;
    fWantedGeneration = generation;
}

float CAudioPath::Gain() const
{
    return fMuted ? 0.0f : std::clamp(fVolume.load(), 0.0f, 1.0f);
}

void CAudioPath::SetVolume(float volume)
{
    std::lock_guard<std::mutex> locked(fPagesLock);
    fVolume = volume;
    if (fOutputStarted)
        fSound->SetGain(Gain());
}

void CAudioPath::SetMuted(bool muted)
{
    std::lock_guard<std::mutex> locked(fPagesLock);
    fMuted = muted;
    if (fOutputStarted)
        fSound->SetGain(Gain());
}

void CAudioPath::SetPaused(bool paused)
{
    std::lock_guard<std::mutex> locked(fPagesLock);
    fPaused = paused;
    // The pages already queued wait for the resume rather than play on
    // after the pause (at low rates they hold a second of sound). The
    // output exists once it has started.
    if (fOutputStarted)
        fSound->SetHeld(paused);
    // A sound that resumes has had no chance to move yet.
    fLastAdvance = system_time();
    fBaseSince = fLastAdvance;
}

void CAudioPath::ApplySeek()
{
    uint32 generation = fWantedGeneration;
    fShowFrom = fWantedTarget;
    fPCM.MakeEmpty(true);
    fHavePCMTime = false;
    fFinished = false;
    fConversionStarted = fDecoder != nullptr && fDecoder->Restart();
    uint64 played = fSound->DropQueuedPages();
    std::lock_guard<std::mutex> locked(fPagesLock);
    fPages.clear();
    fQueuedFrames = played;
    fBase = bigtime_t(fShowFrom) * 1000;
    fBaseSince = system_time();
    fEnded = false;
    fHeldSince = fBaseSince;
    // Last: the clock takes the position from here on.
    fGeneration = generation;
}

void CAudioPath::Convert(const media_object& object)
{
    if (!fConversionStarted)
        return;
    if (!fHavePCMTime) {
        fPCMTime = bigtime_t(object.time) * 1000;
        fHavePCMTime = true;
    }
    // What the output holds is how long a decode may take before the
    // listener hears a gap (what is converted waits for this thread, which
    // waits for the decode), less three pages for the thread to write the
    // next ones on a busy machine. With less than four pages there (a
    // start, a seek, a pause), nothing plays that a wait would cut.
    bigtime_t patience = B_INFINITE_TIMEOUT;
    if (fDevicePlaying && !fPaused) {
        uint64 played = fSound->PlayedFrames();
        uint64 queued = fQueuedFrames > played ? fQueuedFrames - played : 0;
        if (queued >= 4 * kFramesPerPage)
            patience = bigtime_t(queued - 3 * kFramesPerPage) * 1000000 / fRate;
    }
    fDecoder->SetPatience(patience);
    fDecoder->Decode(object.data.data(), object.data.size(), &fPCM);
    DropBeforeTarget();
}

void CAudioPath::Idle()
{
    if (!fConversionStarted)
        return;
    fDecoder->Idle(&fPCM);
    DropBeforeTarget();
}

void CAudioPath::Finish()
{
    if (!fConversionStarted || has_kill_request())
        return;
    fDecoder->Finish(&fPCM);
    DropBeforeTarget();
}

void CAudioPath::DropBeforeTarget()
{
    // After a seek, what comes before the target is not played.
    bigtime_t showFrom = bigtime_t(fShowFrom) * 1000;
    if (fPCMTime < showFrom && fPCM.Length() > 0) {
        uint64 frames = uint64(showFrom - fPCMTime) * fRate / 1000000;
        uint32 drop = uint32(min_c<uint64>(frames * fFrameSize, fPCM.Length()));
        fPCM.RemoveHead(drop);
        fPCMTime += bigtime_t(drop / fFrameSize) * 1000000 / fRate;
        if (fPCM.Length() > 0)
            fPCMTime = max_c(fPCMTime, showFrom);
    }
}

void CAudioPath::WritePage()
{
    void* page = nullptr;
    size_t pageSize = 0;
    // Waits for a free page; a killed thread gets none.
    if (fSound->LockNextPage(&page, &pageSize) != BPushGameSound::lock_ok)
        return;
    size_t taken = std::min<size_t>(fPCM.Length(), pageSize);
    memcpy(page, fPCM.Data(), taken);
    // The sound's last part page is padded with silence.
    memset(static_cast<uint8*>(page) + taken, 0, pageSize - taken);
    fSound->UnlockPage(page);
    fPCM.RemoveHead(uint32(taken));

    {
        std::lock_guard<std::mutex> locked(fPagesLock);
        uint64 frames = pageSize / fFrameSize;
        fPages.push_back({fQueuedFrames, frames, fPCMTime});
        fQueuedFrames += frames;
        fPCMTime += bigtime_t(taken / fFrameSize) * 1000000 / fRate;
        while (fPages.size() > kPageCount * 2)
            fPages.pop_front();
    }
    // The device starts with the first page: what it would play before is
    // silence the listener waits through.
    if (!fDevicePlaying) {
        fSound->StartPlaying();
        fDevicePlaying = true;
    }
}

int32 CAudioPath::Thread()
{
    const size_t pageBytes = kFramesPerPage * fFrameSize;
    if (fOpenLater && fSound == nullptr) {
        if (CResult opened = Open(); opened.IsOK()) {
            StartOutput();
        } else {
            _debugPrintf("sound: %s\n", opened.Why().c_str());
            // No sound: nothing to wait for, and the stream is passed over.
            fSoundReady = UINT32_MAX;
            while (!has_kill_request())
                fQueue.Pop(kObjectWait);
            return B_OK;
        }
    }
    while (!has_kill_request()) {
        if (fWantedGeneration != fGeneration)
            ApplySeek();
        // Convert ahead of the pages, so that a page is there when the
        // output frees one.
        if (fPCM.Length() < pageBytes * kPagesAhead) {
            std::unique_ptr<media_object> object =
                fQueue.Pop(fPCM.Length() >= pageBytes ? 0 : kObjectWait);
            if (object != nullptr) {
                // The reader announces a seek before it queues for it.
                if (object->generation != fGeneration && object->generation == fWantedGeneration)
                    ApplySeek();
                // An object of an older seek is dropped.
                if (object->generation == fGeneration)
                    Convert(*object);
                continue;
            }
            Idle();
        }
        bool drained = fQueue.IsDrained();
        if (fPCM.Length() >= pageBytes || drained || !fConversionStarted)
            fSoundReady = fGeneration + 1;
        if (fWaitForPicture && fPictureReady <= fGeneration &&
            system_time() - fHeldSince < kFirstSoundTime) {
            snooze(1000);
            continue;
        }
        // Paused: converted, but not written.
        if (fPaused) {
            snooze(kObjectWait);
            continue;
        }
        // The stream's end: what the codec still holds comes out with the
        // last conversion.
        if (drained && !fFinished) {
            fFinished = true;
            Finish();
            continue;
        }
        if (fPCM.Length() >= pageBytes || (drained && fPCM.Length() > 0)) {
            WritePage();
        } else if (drained) {
            {
                std::lock_guard<std::mutex> locked(fPagesLock);
                fEnded = true;
            }
            snooze(kObjectWait);
        }
    }
    return B_OK;
}

bool CAudioPath::AllQueued()
{
    std::lock_guard<std::mutex> locked(fPagesLock);
    return fEnded;
}

bool CAudioPath::Position(bigtime_t* mediaTime)
{
    // A seek the thread has not carried out yet: what plays is of the old
    // place.
    if (!fOutputStarted || fWantedGeneration != fGeneration)
        return false;
    uint64 played = fSound->PlayedFrames();
    bigtime_t now = system_time();
    std::lock_guard<std::mutex> locked(fPagesLock);
    if (played != fLastPlayed) {
        fLastPlayed = played;
        fLastAdvance = now;
    }
    const page_record* page = nullptr;
    for (auto it = fPages.rbegin(); it != fPages.rend(); ++it) {
        if (it->startFrame <= played) {
            page = &*it;
            break;
        }
    }
    if (page == nullptr || played < page->startFrame) {
        // Nothing of this start or seek has played yet.
        *mediaTime = fBase;
        return !fEnded && (fPaused || now - fBaseSince < kFirstSoundTime);
    }
    uint64 into = min_c(played - page->startFrame, page->frames);
    *mediaTime = page->mediaTime + bigtime_t(into * 1000000 / fRate);
    if (fPaused)
        return true;
    if (fEnded && played >= fQueuedFrames)
        return false; // the sound is over
    return now - fLastAdvance < kStallTime;
}
