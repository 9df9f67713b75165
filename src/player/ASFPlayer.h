// The player of one ASF file: a window that owns the file and its
// demultiplexer and plays at most one video and one audio stream through
// its parts: the reader (routing and seeks), the audio path, the video
// path, the clock and the controls.
#pragma once

#include "asf/ASFExtractor.h"
#include "platform/interface/Rect.h"
#include "platform/interface/Window.h"
#include "platform/kernel/OS.h"
#include "platform/storage/File.h"
#include "player/AudioPath.h"
#include "player/PlaybackClock.h"
#include "player/PlayerReader.h"
#include "player/VideoPath.h"

#include <memory>

class BView;
struct entry_ref;

// What a closing player window asks of the application; field "player".
enum { kMsgClosePlayer = 'plRC' };

class CASFPlayer : public BWindow
{
public:
    explicit CASFPlayer(const entry_ref* ref);
    ~CASFPlayer() override;

    // The extractor's negative status when the file did not parse, -1 when
    // no stream could be set up, 0 otherwise.
    status_t InitCheck() const { return fInitStatus; }
    // Starts the threads; once, after the window is shown.
    void Start();

    void Quit() override;
    bool QuitRequested() override;

    // The parts, for the controls and the tests; null when not played.
    CPlayerReader& Reader() { return fReader; }
    CPlaybackClock& Clock() { return fClock; }
    CAudioPath* Audio() { return fAudio.get(); }
    CVideoPath* Video() { return fVideo.get(); }
    int32 AudioStream() const { return fAudioStream; }
    int32 VideoStream() const { return fVideoStream; }
    BView* ContentView() const { return fContentView; }
    CASFExtractor& Extractor() { return fExtractor; }

private:
    void InitViews();

    status_t fInitStatus;
    BFile fFile;
    CASFExtractor fExtractor;
    CPlaybackClock fClock;
    CPlayerReader fReader;
    std::unique_ptr<CAudioPath> fAudio;
    std::unique_ptr<CVideoPath> fVideo;
    int32 fAudioStream;
    int32 fVideoStream;
    BView* fContentView;
    bool fStarted;
};
