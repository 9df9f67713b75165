// A file played in real time, with or without a window: the file, its
// demultiplexer, the reader, the audio and video paths and the clock. The
// pictures go to a picture sink (the player window's view), the sound to the
// sound output. The window owns one; tests play through one with no
// display.
#pragma once

#include "asf/ASFExtractor.h"
#include "platform/storage/File.h"
#include "platform/support/Result.h"
#include "player/AudioPath.h"
#include "player/PlaybackClock.h"
#include "player/PlayerReader.h"
#include "player/VideoPath.h"

#include <memory>
#include <string>

class CPictureSink;
struct entry_ref;

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
    CResult Open(const entry_ref* ref);
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

private:
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
    std::string fSoundNote;
    std::string fVideoNote;
};

// Opens `ref` (or `path`) and reads its header: the sentence says what
// went wrong for someone at a terminal.
CResult open_asf_file(const entry_ref* ref, const char* path, std::unique_ptr<BFile>* file,
                      std::unique_ptr<CASFExtractor>* extractor);
