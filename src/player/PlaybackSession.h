// A file played, with or without a window: the file, its demultiplexer,
// the streams chosen and their decoders, the reader, the audio and video
// paths and the clock. In real time, the pictures go to a picture sink (the
// player window's view) and the sound to the sound output; the window owns
// such a session, and tests play through one with no display. Rendered, the
// same streams and decoders run as fast as they go, with no clock and no
// threads, into two sinks (reelmoth-render's WAV and YUV4MPEG2 files).
#pragma once

#include "asf/ASFExtractor.h"
#include "platform/storage/File.h"
#include "platform/support/Result.h"
#include "player/AudioPath.h"
#include "player/PlaybackClock.h"
#include "player/PlayerReader.h"
#include "player/VideoPath.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CPictureSink;
struct entry_ref;

enum session_mode {
    kPlayInRealTime, // threads, the clock, the sound output
    kRender,         // no output: Render() decodes into sinks
};

struct render_sinks {
    // Whole frames of 16-bit PCM at the stream's rate and channel count;
    // false when it cannot be written (the render stops).
    std::function<bool(const uint8* pcm, size_t size)> sound;
    // One picture in presentation order, B_YUV420 at the stream's size.
    std::function<bool(const uint8* picture, size_t size)> picture;
};

class CPlaybackSession
{
public:
    CPlaybackSession();
    ~CPlaybackSession();
    CPlaybackSession(const CPlaybackSession&) = delete;
    CPlaybackSession& operator=(const CPlaybackSession&) = delete;

    // Opens the file and sets up the streams to play: of several of a kind,
    // the one of the highest bitrate that sets up. A sound-only file with
    // no decoder for its sound, and a protected file, open too: nothing
    // plays, and SoundNote() says why.
    CResult Open(const entry_ref* ref, session_mode mode = kPlayInRealTime);
    CResult Open(const char* path, session_mode mode = kPlayInRealTime);
    // Where the pictures go; before Start.
    void SetPictureSink(CPictureSink* sink);
    // Starts the threads; once.
    void Start();
    void SetPaused(bool paused) { fClock.SetPaused(paused); }
    bool IsPaused() { return fClock.IsPaused(); }
    // Goes to `time` (ms, within the file); the latest request wins.
    void Seek(uint32 time);
    // Where playback is, ms.
    uint32 Position();
    // Ends every thread, wherever it waits, then closes the paths. What
    // uses the session from other threads (the controls) ends first.
    void Stop();

    bool IsProtected() const { return fProtected; }
    bool HasAudioStream() const { return fHasAudioStream; }
    bool HasVideoStream() const { return fHasVideoStream; }
    // Why the sound, or the pictures, cannot be played (empty when they
    // can, or the file has none).
    const std::string& SoundNote() const { return fSoundNote; }
    const std::string& VideoNote() const { return fVideoNote; }

    // The parts; the paths are null when that kind does not play.
    CASFExtractor& Extractor() { return *fExtractor; }
    CPlayerReader& Reader() { return *fReader; }
    CPlaybackClock& Clock() { return fClock; }
    CAudioPath* Audio() { return fAudio.get(); }
    CVideoPath* Video() { return fVideo.get(); }
    int32 AudioStream() const { return fAudioStream; }
    int32 VideoStream() const { return fVideoStream; }

    // Rendering (SessionRender.cpp). The play duration the header gives,
    // ms (0 when it does not say).
    uint32 PlayDuration() const;
    // The pictures per second as a fraction, from the first pictures' times
    // (read ahead: the header of a YUV4MPEG2 file wants it first).
    void FrameRate(uint32* numerator, uint32* denominator);
    // Renders from `start` for `duration` ms (0: to the end) into the
    // sinks (either may be empty: that stream is not decoded). `progress`
    // is told the media time reached. Each problem met is one sentence in
    // *problems; B_OK when there was none.
    status_t Render(uint32 start, uint32 duration, const render_sinks& sinks,
                    const std::function<void(uint32 time)>& progress,
                    std::vector<std::string>* problems);

private:
    CResult OpenStreams();
    void SetUpStreams();

    std::unique_ptr<BFile> fFile;
    std::unique_ptr<CASFExtractor> fExtractor;
    CPlaybackClock fClock;
    std::unique_ptr<CPlayerReader> fReader;
    std::unique_ptr<CAudioPath> fAudio;
    std::unique_ptr<CVideoPath> fVideo;
    int32 fAudioStream = -1;
    int32 fVideoStream = -1;
    bool fHasAudioStream = false;
    bool fHasVideoStream = false;
    bool fProtected = false;
    bool fStarted = false;
    session_mode fMode = kPlayInRealTime;
    std::string fPath;
    std::string fSoundNote;
    std::string fVideoNote;
};

// Opens `ref` (or `path`) and reads its header: the sentence says what
// went wrong for someone at a terminal.
CResult open_asf_file(const entry_ref* ref, const char* path, std::unique_ptr<BFile>* file,
                      std::unique_ptr<CASFExtractor>* extractor);
