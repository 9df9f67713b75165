// What turns the video stream's compressed objects into the window's
// pictures (B_RGB32): FFmpeg's decoder for the four-character code, or a
// Video for Windows decompressor module, in a codec host process of its own
// (or in the player, REELMOTH_CODEC_PROCESS=0). The video path sees only
// this.
#pragma once

#include "asf/ASFStreamFormats.h"
#include "platform/interface/GraphicsDefs.h"
#include "platform/support/Result.h"
#include "platform/support/SupportDefs.h"
#include "player/MediaQueue.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CPictureDecoder
{
public:
    virtual ~CPictureDecoder() = default;

    // A fresh start after a seek: references belong to the old place.
    virtual void Restart() = 0;
    // Decodes one object into `bits` (B_RGB32 rows of `bytesPerRow`, or
    // B_YUV420 planes when the decoder was made for them); B_OK when a
    // picture came out. A negative status leaves `bits` as they were.
    virtual status_t Decode(const media_object& object, uint8* bits, int32 bytesPerRow) = 0;

    // What decodes, for the user: "FFmpeg cinepak", "codec module iccvid.dll".
    // It changes when FFmpeg takes over from a module: any thread may ask.
    std::string Description() const
    {
        std::lock_guard<std::mutex> locked(fDescriptionLock);
        return fDescription;
    }
    // Why no picture can be decoded any more (the module failed and FFmpeg
    // does not know the format); empty while pictures come.
    const std::string& Failure() const { return fFailure; }

protected:
    void SetDescription(const std::string& description)
    {
        std::lock_guard<std::mutex> locked(fDescriptionLock);
        fDescription = description;
    }

    std::string fFailure;

private:
    mutable std::mutex fDescriptionLock;
    std::string fDescription;
};

// The decoder for the stream, as the user chose (REELMOTH_VIDEO, or the
// registry): FFmpeg when it knows the code and a module otherwise, or
// modules first. Null when nobody can decode it; *why then says so.
// `output`: B_RGB32 (the window's bitmaps) or B_YUV420.
std::unique_ptr<CPictureDecoder> choose_picture_decoder(const picture_stream_format& format,
                                                        CResult* why, color_space output = B_RGB32);
