// The video path: finding a decoder for the stream, the ring of three frame
// bitmaps that the reader decodes into, and the video thread that shows each
// frame at its time or drops it when it comes too late.

#include "player/ASFPlayer.h"

#include "platform/interface/Bitmap.h"
#include "platform/interface/View.h"
#include "platform/media/MediaDecoder.h"
#include "platform/support/Debug.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace
{

// How long the video thread waits for a decoded frame before it looks
// again; a kill wakes it at once.
constexpr bigtime_t kFrameWait = 10000;

// A BITMAPINFOHEADER's own size; codec-specific bytes follow it.
constexpr uint32 kBitmapInfoSize = 40;

struct video_header {
    int32 width;
    int32 height;
    uint32 compression;
    // The codec-specific bytes after the header, inside the format block.
    const void* codecData;
    uint32 codecDataSize;
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
    // The header's own size field says where its codec data end; a block
    // shorter than that gives what it holds.
    uint32 declared = 0;
    memcpy(&declared, bytes, 4);
    uint32 end = declared < info->data_size ? declared : info->data_size;
    header->codecData = end > kBitmapInfoSize ? bytes + kBitmapInfoSize : nullptr;
    header->codecDataSize = end > kBitmapInfoSize ? end - kBitmapInfoSize : 0;
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

    // Decoders such as WMV2's and MPEG-4's cannot decode a picture without
    // the codec data that follow the header, so they are handed over.
    fVideoDecoder = new BMediaBufferDecoder(&format, header.codecData, header.codecDataSize);
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

    fVideoThread = spawn_thread(VideoThreadWrapper, "VideoThread", B_NORMAL_PRIORITY, this);
    resume_thread(fVideoThread);
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
    bool firstFrame = true;
    bigtime_t start = 0;
    while (!has_kill_request()) {
        if (acquire_sem_etc(fVideoReadSem, 1, B_RELATIVE_TIMEOUT, kFrameWait) != B_OK)
            continue;
        bigtime_t now = system_time();
        if (firstFrame) {
            // The clock starts with the first frame and is never adjusted.
            start = now;
            firstFrame = false;
            _debugPrintf("video clock starts at %" PRId64 " us\n", start);
        }
        bigtime_t due = start + bigtime_t(fFrameTimes[fReadFrame]) * 1000;
        if (now > due) {
            printf("skipped a frame by %" PRId64 " us\n", now - due);
            fflush(stdout);
        } else {
            snooze_until(due, B_SYSTEM_TIMEBASE);
            // Fails once the thread is killed: Quit holds the lock then.
            if (fContentView->LockLooper()) {
                fContentView->DrawBitmap(fFrames[fReadFrame], fVideoRect);
                fContentView->UnlockLooper();
            }
        }
        fReadFrame = (fReadFrame + 1) % 3;
        release_sem(fVideoWriteSem);
    }
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
