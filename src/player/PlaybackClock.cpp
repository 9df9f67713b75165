// The playback clock.

#include "player/PlaybackClock.h"

#include "player/AudioPath.h"

CPlaybackClock::CPlaybackClock()
    : fAudio(nullptr), fStarted(false), fPaused(false), fFromSound(false), fAnchorMedia(0),
      fAnchorSystem(0)
{
}

bigtime_t CPlaybackClock::SystemNow(bigtime_t system) const
{
    if (!fStarted || fPaused)
        return fAnchorMedia;
    return fAnchorMedia + (system - fAnchorSystem);
}

bigtime_t CPlaybackClock::Now()
{
    bigtime_t sound = 0;
    bool fromSound = fAudio != nullptr && fAudio->Position(&sound);
    bigtime_t system = system_time();
    std::lock_guard<std::mutex> locked(fLock);
    fFromSound = fromSound;
    if (fromSound) {
        // The system clock goes on from here should the sound stop.
        fAnchorMedia = sound;
        fAnchorSystem = system;
        fStarted = true;
        return sound;
    }
    return SystemNow(system);
}

void CPlaybackClock::Start(bigtime_t mediaTime)
{
    std::lock_guard<std::mutex> locked(fLock);
    fAnchorMedia = mediaTime;
    fAnchorSystem = system_time();
    fStarted = true;
}

bool CPlaybackClock::IsStarted()
{
    std::lock_guard<std::mutex> locked(fLock);
    return fStarted;
}

void CPlaybackClock::SetPaused(bool paused)
{
    {
        std::lock_guard<std::mutex> locked(fLock);
        if (paused == fPaused)
            return;
        bigtime_t system = system_time();
        fAnchorMedia = SystemNow(system);
        fAnchorSystem = system;
        fPaused = paused;
    }
    if (fAudio != nullptr)
        fAudio->SetPaused(paused);
}

bool CPlaybackClock::IsPaused()
{
    std::lock_guard<std::mutex> locked(fLock);
    return fPaused;
}

void CPlaybackClock::Reset(bigtime_t mediaTime)
{
    std::lock_guard<std::mutex> locked(fLock);
    fAnchorMedia = mediaTime;
    fAnchorSystem = system_time();
    fStarted = false;
}

bool CPlaybackClock::FollowsSound()
{
    std::lock_guard<std::mutex> locked(fLock);
    return fFromSound;
}

void CPlaybackClock::PictureReady(uint32 generation)
{
    if (fAudio != nullptr)
        fAudio->PictureReady(generation);
}

bool CPlaybackClock::SoundReady(uint32 generation)
{
    return fAudio == nullptr || fAudio->SoundReady(generation);
}
