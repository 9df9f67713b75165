// A playback session without a window and without a clock: the file's
// streams chosen and decoded as the player would (the same codec modules or
// FFmpeg), as fast as the decoders go, the sound and the pictures handed to
// two sinks. What reelmoth-render writes to WAV and YUV4MPEG2 files.
#pragma once

#include "platform/support/SupportDefs.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class BFile;
class CASFExtractor;
class CPictureDecoder;
class CSoundDecoder;

struct render_sinks {
    // Whole frames of 16-bit PCM at the stream's rate and channel count;
    // false when it cannot be written (the render stops).
    std::function<bool(const uint8* pcm, size_t size)> sound;
    // One picture in presentation order, B_YUV420 at the stream's size.
    std::function<bool(const uint8* picture, size_t size)> picture;
};

class CRenderSession
{
public:
    // Opens the file and the decoders of its streams, as the player would.
    explicit CRenderSession(const char* path);
    ~CRenderSession();

    CRenderSession(const CRenderSession&) = delete;
    CRenderSession& operator=(const CRenderSession&) = delete;

    // B_OK when the file is an ASF file; else Why() says what is wrong.
    status_t InitCheck() const { return fStatus; }
    const std::string& Why() const { return fWhy; }

    // The streams that play: false when there is none of that kind, or
    // nothing can decode it (SoundProblem()/PictureProblem() say which).
    bool HasSound() const { return fSound != nullptr; }
    bool HasPictures() const { return fPictures != nullptr; }
    const std::string& SoundProblem() const { return fSoundProblem; }
    const std::string& PictureProblem() const { return fPictureProblem; }
    uint32 Rate() const { return fRate; }
    uint16 Channels() const { return fChannels; }
    int32 Width() const { return fWidth; }
    int32 Height() const { return fHeight; }
    // The pictures per second as a fraction (known after the render; the
    // header of a YUV4MPEG2 file wants it first: from the file's first
    // pictures, read ahead).
    void FrameRate(uint32* numerator, uint32* denominator);
    // What decodes each, for the user.
    std::string SoundDecoder() const;
    std::string PictureDecoder() const;
    // The play duration, ms (0 when the file does not say).
    uint32 Duration() const;

    // Renders from `start` for `duration` ms (0: to the end) into the
    // sinks (either may be empty: that stream is not decoded). `progress`
    // is told the media time reached. Each problem met is one sentence in
    // *problems; B_OK when there was none.
    status_t Render(uint32 start, uint32 duration, const render_sinks& sinks,
                    const std::function<void(uint32 time)>& progress,
                    std::vector<std::string>* problems);

private:
    struct pending_object;
    struct reader_state;

    std::unique_ptr<BFile> fFile;
    std::unique_ptr<CASFExtractor> fExtractor;
    status_t fStatus;
    std::string fWhy;
    int32 fSoundStream;
    int32 fPictureStream;
    std::unique_ptr<CSoundDecoder> fSound;
    std::unique_ptr<CPictureDecoder> fPictures;
    std::string fSoundProblem;
    std::string fPictureProblem;
    uint32 fRate;
    uint16 fChannels;
    int32 fWidth;
    int32 fHeight;
    std::string fPath;
};
