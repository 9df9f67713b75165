// Keys, clicks and the wheel, and the bar.

#include "player/PlayerControls.h"

#include "platform/interface/InterfaceDefs.h"
#include "platform/interface/Window.h"
#include "platform/support/Debug.h"
#include "player/PlaybackSession.h"
#include "player/PlayerView.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace
{

constexpr float kBarHeight = 24;
// With markers, a second row above the track names the one playing.
constexpr float kMarkedBarHeight = 40;
// PageUp within this time after a marker began goes to the one before.
constexpr uint32 kMarkerRestart = 2000;
// PageDown passes over a marker this close ahead (the one just sought).
constexpr uint32 kMarkerSlack = 100;
// Keys that follow a seek within this time add to its target.
constexpr bigtime_t kSeekRepeat = 600000;
// How often the bar is looked after while it is shown.
constexpr bigtime_t kBarTick = 100000;

void format_time(char* text, size_t size, uint32 milliseconds)
{
    uint32 seconds = milliseconds / 1000;
    if (seconds >= 3600)
        snprintf(text, size, "%" PRIu32 ":%02" PRIu32 ":%02" PRIu32, seconds / 3600,
                 seconds / 60 % 60, seconds % 60);
    else
        snprintf(text, size, "%" PRIu32 ":%02" PRIu32, seconds / 60, seconds % 60);
}

} // namespace

CPlayerControls::CPlayerControls(BWindow* window, CPlaybackSession* session)
    : fWindow(window), fView(nullptr), fSession(session), fReader(&session->Reader()),
      fClock(&session->Clock()), fAudio(session->Audio()), fVideo(session->Video()),
      fPointerKnown(false), fPointer(), fMuted(false), fVolume(1.0f), fSeekTarget(0), fSeekTime(0),
      fBarUntil(0), fBarShown(false)
{
}

bool CPlayerControls::KeyDown(int32 key)
{
    switch (key) {
    case B_SPACE:
        TogglePause();
        break;
    case B_LEFT_ARROW:
        SeekBy(-kSmallStep);
        break;
    case B_RIGHT_ARROW:
        SeekBy(kSmallStep);
        break;
    case B_DOWN_ARROW:
        SeekBy(-kBigStep);
        break;
    case B_UP_ARROW:
        SeekBy(kBigStep);
        break;
    case B_HOME:
        SeekTo(0);
        break;
    case B_PAGE_DOWN:
    case B_PAGE_UP: {
        int64 target = MarkerTarget(key == B_PAGE_DOWN, StepFrom());
        if (target >= 0)
            SeekTo(uint32(target));
        break;
    }
    case 'f':
        ToggleFullScreen();
        break;
    case 'm':
        ToggleMute();
        break;
    case '9':
        ChangeVolume(-kVolumeStep);
        break;
    case '0':
        ChangeVolume(kVolumeStep);
        break;
    case B_ESCAPE:
        if (fWindow->IsFullScreen()) {
            ToggleFullScreen();
            break;
        }
        fWindow->QuitRequested();
        return true;
    case 'q':
        fWindow->QuitRequested();
        return true;
    default:
        return false;
    }
    ShowBar();
    return true;
}

void CPlayerControls::MouseDown(BPoint where, int32 clicks)
{
    BRect bar = BarFrame();
    if (fBarShown && bar.Contains(where) && fReader->Duration() > 0) {
        // The track runs between the two texts.
        float left = bar.left + 110, right = bar.right - 110;
        float fraction =
            right > left ? std::clamp((where.x - left) / (right - left), 0.0f, 1.0f) : 0.0f;
        SeekTo(uint32(fraction * float(fReader->Duration())));
    } else if (clicks >= 2) {
        // The first click of the two paused or resumed: undone.
        TogglePause();
        ToggleFullScreen();
    } else {
        TogglePause();
    }
    ShowBar();
}

void CPlayerControls::MouseMoved(BPoint where)
{
    bool moved = fPointerKnown && (where.x != fPointer.x || where.y != fPointer.y);
    fPointerKnown = true;
    fPointer = where;
    if (moved)
        ShowBar();
}

void CPlayerControls::WheelChanged(float delta)
{
    ChangeVolume(delta > 0 ? kVolumeStep : -kVolumeStep);
    ShowBar();
}

void CPlayerControls::TogglePause()
{
    bool paused = !fSession->IsPaused();
    fSession->SetPaused(paused);
    _debugPrintf("%s at %" PRIu32 " ms\n", paused ? "paused" : "resumed", Position());
}

bool CPlayerControls::IsPaused()
{
    return fClock->IsPaused();
}

uint32 CPlayerControls::Position()
{
    return fSession->Position();
}

uint32 CPlayerControls::StepFrom()
{
    return system_time() - fSeekTime < kSeekRepeat ? fSeekTarget : Position();
}

void CPlayerControls::SeekBy(int32 milliseconds)
{
    SeekTo(uint32(std::max<int64>(0, int64(StepFrom()) + milliseconds)));
}

void CPlayerControls::SetMarkers(std::vector<std::pair<uint32, std::string>> markers)
{
    fMarkers = std::move(markers);
}

int64 CPlayerControls::MarkerTarget(bool forward, uint32 from) const
{
    if (fMarkers.empty())
        return -1;
    if (forward) {
        for (const auto& marker : fMarkers) {
            if (marker.first > uint64(from) + kMarkerSlack)
                return marker.first;
        }
        return -1;
    }
    int64 target = 0;
    for (const auto& marker : fMarkers) {
        if (uint64(marker.first) + kMarkerRestart <= from)
            target = marker.first;
    }
    return target;
}

void CPlayerControls::SeekTo(uint32 milliseconds)
{
    uint32 duration = fReader->Duration();
    if (duration > 0)
        milliseconds = std::min(milliseconds, duration);
    fSeekTarget = milliseconds;
    fSeekTime = system_time();
    _debugPrintf("seek to %" PRIu32 " ms asked at %" PRId64 " us\n", milliseconds, fSeekTime);
    fSession->Seek(milliseconds);
}

void CPlayerControls::ToggleMute()
{
    fMuted = !fMuted;
    if (fAudio != nullptr)
        fAudio->SetMuted(fMuted);
}

void CPlayerControls::ChangeVolume(float delta)
{
    // Rounded to whole steps, so that steps up and down meet again.
    fVolume = std::clamp(std::round((fVolume + delta) * 10.0f) / 10.0f, 0.0f, 1.0f);
    if (fAudio != nullptr)
        fAudio->SetVolume(fVolume);
}

void CPlayerControls::ToggleFullScreen()
{
    fWindow->SetFullScreen(!fWindow->IsFullScreen());
}

void CPlayerControls::ShowBar()
{
    fBarUntil = system_time() + kBarTime;
    fBarShown = true;
    DrawBar();
}

BRect CPlayerControls::BarFrame() const
{
    if (fView == nullptr)
        return BRect();
    BRect picture = fVideo != nullptr ? fView->MovieFrame() : fView->Bounds();
    BRect bar = picture & fView->Bounds();
    float height = fMarkers.empty() ? kBarHeight : kMarkedBarHeight;
    bar.top = std::max(bar.top, bar.bottom - height + 1);
    return bar;
}

void CPlayerControls::DrawBar()
{
    if (fView == nullptr || !fBarShown || system_time() >= fBarUntil)
        return;
    uint32 duration = fReader->Duration();
    uint32 position = Position();
    char now[32], total[32], left[80], right[80];
    format_time(now, sizeof(now), position);
    format_time(total, sizeof(total), duration);
    snprintf(left, sizeof(left), "%s / %s", now, total);
    // A pause sign or a play sign, and the volume.
    const char* state = fClock->IsPaused() ? "\u25AE\u25AE" : "\u25B6";
    if (fMuted)
        snprintf(right, sizeof(right), "%s  muted", state);
    else
        snprintf(right, sizeof(right), "%s  %d%%", state, int(std::lround(fVolume * 100)));
    float progress = duration > 0 ? float(position) / float(duration) : 0.0f;
    std::vector<float> ticks;
    const char* label = nullptr;
    for (const auto& marker : fMarkers) {
        if (duration > 0)
            ticks.push_back(float(marker.first) / float(duration));
        if (marker.first <= position)
            label = marker.second.c_str();
    }
    fView->DrawBar(BarFrame(), progress, left, right, ticks, label);
}

void CPlayerControls::Start()
{
    fWorker.Start("ControlsThread", [this] { return Thread(); });
}

int32 CPlayerControls::Thread()
{
    while (snooze(kBarTick) == B_OK && !has_kill_request()) {
        if (!fBarShown || fView == nullptr)
            continue;
        bool expired = system_time() >= fBarUntil;
        // While pictures are drawn, each one brings the bar with it.
        bool pictures = fVideo != nullptr && !fClock->IsPaused() && !expired;
        if (pictures)
            continue;
        // Pictures stopped (paused, or at the end): the bar is looked after
        // here.
        if (!fView->LockLooper())
            break;
        if (expired) {
            fBarShown = false;
            fView->RemoveBar();
        } else {
            DrawBar();
        }
        fView->Invalidate();
        fView->UnlockLooper();
    }
    return B_OK;
}
