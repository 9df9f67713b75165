// Sound that the caller pushes page by page into a ring that the sound
// output plays from.
//
// The ring holds `bufferCount` pages of `framesPerBuffer` frames. The caller
// locks the next free page, fills it (or not) and unlocks it; the output
// plays unlocked pages in order and clears each one it has played, so a page
// handed back unwritten, or an output that runs dry, is heard as silence,
// never as old sound again.
#pragma once

#include "platform/game/GameSoundDefs.h"
#include "platform/kernel/OS.h"

class BPushGameSound
{
public:
    enum lock_status {
        lock_failed = -1,
        lock_ok = 0,
        lock_ok_frames_dropped,
    };

    // Opens the default sound output (`device` must be null) in `format`.
    BPushGameSound(size_t framesPerBuffer, const gs_audio_format* format, size_t bufferCount = 2,
                   BGameSoundDevice* device = nullptr);
    virtual ~BPushGameSound();

    BPushGameSound(const BPushGameSound&) = delete;
    BPushGameSound& operator=(const BPushGameSound&) = delete;

    status_t InitCheck() const { return fStatus; }
    const gs_audio_format& Format() const { return fFormat; }

    status_t StartPlaying();
    status_t StopPlaying();
    bool IsPlaying() const { return fPlaying; }

    // Waits (a while at most) for the next page to be free and hands it out:
    // lock_ok with the page and its size in bytes. lock_failed when no page
    // came free in time, a page is already locked, or the calling thread
    // was killed.
    lock_status LockNextPage(void** pagePointer, size_t* pageSize);
    // Queues the locked page to be played.
    status_t UnlockPage(void* pagePointer);

    // Frames of queued pages played so far: those handed to the device
    // before its latest fill, plus the part of that fill that has had time
    // to play since. Silence played while the ring ran dry is not counted.
    uint64 PlayedFrames() const;
    // The gain applied as the device takes the pages, 0..1: a change is
    // heard within one device buffer, the pages queued included.
    status_t SetGain(float gain);
    float Gain() const;

    // Held: the output plays silence and keeps its queued pages, which
    // play on once it is let go; PlayedFrames stands still once the device
    // has played what it already had (a pause that is heard at once).
    void SetHeld(bool held);

    // Drops the queued pages not yet played (a page being played loses its
    // rest) and answers PlayedFrames() as it stands then. Not while a page
    // is locked.
    uint64 DropQueuedPages();

private:
    struct output_state;

    static void FillWrapper(void* cookie, uint8* stream, int length);
    void Fill(uint8* stream, int length);
    void ApplyGain(uint8* stream, size_t length, float gain) const;

    gs_audio_format fFormat;
    status_t fStatus;
    bool fPlaying;
    output_state* fState;
};
