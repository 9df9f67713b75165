// The video path: finding a decoder for the stream, the frame ring, and the
// flush that hands each complete object to the decoder. Pictures (decoding
// into the ring and showing them on time) come with the video issue; until
// then the decoder reports every object as not decoded, so each slot goes
// straight back and nothing is shown.

#include "player/ASFPlayer.h"

#include "platform/Bitmap.h"
#include "platform/MediaDecoder.h"

#include <cstring>

namespace
{

struct video_header {
    int32 width;
    int32 height;
    uint32 compression;
};

// The parts of the stream's BITMAPINFOHEADER the player uses.
bool read_header(const CASFExtractor::stream_info* info, video_header* header)
{
    if (info->data == nullptr || info->data_size < 20)
        return false;
    auto* bytes = static_cast<const uint8*>(info->data);
    memcpy(&header->width, bytes + 4, 4);
    memcpy(&header->height, bytes + 8, 4);
    memcpy(&header->compression, bytes + 16, 4);
    return header->width > 0 && header->height > 0 && header->width <= 16384 &&
           header->height <= 16384;
}

} // namespace

bool CASFPlayer::SetUpVideo(const CASFExtractor::stream_info* info)
{
    video_header header;
    if (!read_header(info, &header))
        return false;

    media_format_description description;
    description.family = B_AVI_FORMAT_FAMILY;
    description.u.avi.codec = __builtin_bswap32(header.compression);
    media_format format;
    BMediaFormats formats;
    if (formats.GetFormatFor(description, &format) < B_OK)
        return false;
    media_raw_video_format& output = format.u.encoded_video.output;
    output.display.line_width = uint32(header.width);
    output.display.line_count = uint32(header.height);
    output.last_active = uint32(header.height - 1);

    fVideoDecoder = new BMediaBufferDecoder(&format, nullptr, 0);
    if (fVideoDecoder->InitCheck() < B_OK) {
        delete fVideoDecoder;
        fVideoDecoder = nullptr;
        return false;
    }
    format.type = B_MEDIA_RAW_VIDEO;
    if (fVideoDecoder->SetOutputFormat(&format) < B_OK) {
        delete fVideoDecoder;
        fVideoDecoder = nullptr;
        return false;
    }
    for (BBitmap*& frame : fFrames)
        frame =
            new BBitmap(BRect(0, 0, float(header.width - 1), float(header.height - 1)), B_RGB32);
    return true;
}

void CASFPlayer::VideoFlush(uint32 time)
{
    if (acquire_sem_etc(fVideoWriteSem, 1, B_TIMEOUT, B_INFINITE_TIMEOUT) == B_OK) {
        int64 frameCount = 0;
        media_header header;
        status_t status =
            fVideoDecoder->DecodeBuffer(fVideoData.Data(), fVideoData.Length(),
                                        fFrames[fWriteFrame]->Bits(), &frameCount, &header);
        fFrameTimes[fWriteFrame] = time;
        if (status >= B_OK) {
            fWriteFrame = (fWriteFrame + 1) % 3;
            release_sem(fVideoReadSem);
        } else {
            release_sem(fVideoWriteSem); // the slot is free again
        }
    }
    fVideoData.MakeEmpty(true);
}

int32 CASFPlayer::VideoThread()
{
    return B_OK;
}

void CASFPlayer::ReleaseVideo()
{
    for (BBitmap*& frame : fFrames) {
        delete frame;
        frame = nullptr;
    }
    delete_sem(fVideoReadSem);
    delete_sem(fVideoWriteSem);
    delete fVideoDecoder;
    fVideoDecoder = nullptr;
}
