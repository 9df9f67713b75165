// The controls: keys, clicks, the wheel and the bar along the bottom of the
// picture that shows where playback is.
#pragma once

#include "platform/interface/Rect.h"
#include "platform/kernel/OS.h"
#include "player/WorkerThread.h"

#include <atomic>
#include <string>
#include <vector>

class CPlayerView;
class BWindow;
class CAudioPath;
class CPlaybackClock;
class CPlaybackSession;
class CPlayerReader;
class CVideoPath;

class CPlayerControls
{
public:
    static constexpr int32 kSmallStep = 10000; // ms, Left and Right
    static constexpr int32 kBigStep = 60000;   // ms, Down and Up
    static constexpr float kVolumeStep = 0.1f;
    // How long the bar stays after the last key or mouse movement.
    static constexpr bigtime_t kBarTime = 2000000;

    CPlayerControls(BWindow* window, CPlaybackSession* session);

    // The content view the picture and the bar are drawn in.
    void SetView(CPlayerView* view) { fView = view; }
    // The file's markers (ms from the start of playback, in time order):
    // ticks on the bar, PageUp and PageDown go to them, and the bar names
    // the one playing. Before Start.
    void SetMarkers(std::vector<std::pair<uint32, std::string>> markers);
    // Where PageDown (`forward`) or PageUp goes from `from` (ms): the next
    // marker; the one before the marker playing (the marker playing when
    // it began less than a moment ago), or the start. -1: nowhere.
    int64 MarkerTarget(bool forward, uint32 from) const;

    // Window thread, window locked. False for keys that are not ours.
    bool KeyDown(int32 key);
    // A click at `where` in the content view.
    void MouseDown(BPoint where, int32 clicks);
    // The pointer at `where` (window coordinates); the first report, when
    // the window appears under the pointer, is no movement.
    void MouseMoved(BPoint where);
    void WheelChanged(float delta);

    // Where playback is (ms), as the bar shows it.
    uint32 PlayingPosition() { return Position(); }
    void TogglePause();
    bool IsPaused();
    // Relative to where playback is (or to the seek still under way).
    void SeekBy(int32 milliseconds);
    void SeekTo(uint32 milliseconds);
    void ToggleMute();
    bool IsMuted() const { return fMuted; }
    void ChangeVolume(float delta);
    float Volume() const { return fVolume; }
    void ToggleFullScreen();

    // Draws the bar over the picture when it is due; with the window
    // locked (after each picture, and when the bar appears or goes).
    void DrawBar();
    // The bar's place in the content view.
    BRect BarFrame() const;
    // Starts and stops the "ControlsThread", which takes the bar away when
    // its time is over and keeps it current while no picture is drawn.
    void Start();
    void Kill() { fWorker.AskToEnd(); }
    void WaitForThread() { fWorker.Join(); }

private:
    int32 Thread();
    void ShowBar();
    uint32 Position();
    // Where a key that moves by steps starts from: the latest seek's target
    // while keys follow quickly, else the position.
    uint32 StepFrom();

    BWindow* fWindow;
    CPlayerView* fView;
    CPlaybackSession* fSession;
    CPlayerReader* fReader;
    CPlaybackClock* fClock;
    CAudioPath* fAudio;
    CVideoPath* fVideo;
    bool fPointerKnown;
    BPoint fPointer;
    bool fMuted;
    float fVolume;
    // The target of the latest seek and when it was asked for: keys that
    // follow quickly add to it instead of to a clock still on its way.
    uint32 fSeekTarget;
    bigtime_t fSeekTime;
    std::atomic<bigtime_t> fBarUntil;
    std::atomic<bool> fBarShown;
    std::vector<std::pair<uint32, std::string>> fMarkers;
    // Last: gone first, so that a thread still running ends before what it
    // uses.
    CWorkerThread fWorker;
};
