// The one clock pictures are shown by: the sound output's played position
// while there is sound, otherwise the system clock, carried on from where
// the sound left it.
#pragma once

#include "platform/kernel/OS.h"

#include <mutex>

class CAudioPath;

class CPlaybackClock
{
public:
    CPlaybackClock();

    // The sound that leads, or null.
    void SetAudio(CAudioPath* audio) { fAudio = audio; }
    // Media time in microseconds.
    bigtime_t Now();
    // The system clock starts at `mediaTime` now (or stays there, paused).
    void Start(bigtime_t mediaTime);
    bool IsStarted();
    void SetPaused(bool paused);
    bool IsPaused();
    // After a seek: stands at `mediaTime` until started again.
    void Reset(bigtime_t mediaTime);
    // The first picture of a start or a seek is ready: the sound may begin.
    void PictureReady(uint32 generation);
    // Whether the sound of that start or seek is converted and can begin
    // (true without sound).
    bool SoundReady(uint32 generation);
    // Whether the sound leads the clock right now.
    bool FollowsSound();

private:
    bigtime_t SystemNow(bigtime_t system) const;

    CAudioPath* fAudio;
    std::mutex fLock;
    bool fStarted;
    bool fPaused;
    bool fFromSound;
    bigtime_t fAnchorMedia;
    bigtime_t fAnchorSystem;
};
