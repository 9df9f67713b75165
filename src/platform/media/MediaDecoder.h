// A video decoder for whole compressed frames handed over in memory.
#pragma once

#include "platform/media/MediaDefs.h"

class BMediaDecoder
{
public:
    // `info` holds the codec-specific bytes that follow the stream's
    // picture description (a BITMAPINFOHEADER's trailing bytes); some
    // decoders cannot work without them.
    BMediaDecoder(const media_format* inputFormat, const void* info, size_t infoSize);
    virtual ~BMediaDecoder();

    BMediaDecoder(const BMediaDecoder&) = delete;
    BMediaDecoder& operator=(const BMediaDecoder&) = delete;

    status_t InitCheck() const { return fStatus; }
    // FFmpeg's name of the decoder ("cinepak"); empty before it opened.
    const char* CodecName() const;
    // Accepts raw video in B_RGB32 (or the colour space left open), or
    // B_YUV420 (the planes one after another, rows of the picture's width).
    // The picture size defaults to the input's; bytes_per_row, when 0, to
    // four bytes a pixel (B_RGB32).
    status_t SetOutputFormat(media_format* outputFormat);

protected:
    struct decoder_state; // the library's decoder and converter

    decoder_state* fState;
    media_format fInput;
    media_raw_video_format fOutput;
    status_t fStatus;
};

class BMediaBufferDecoder : public BMediaDecoder
{
public:
    BMediaBufferDecoder(const media_format* inputFormat, const void* info, size_t infoSize)
        : BMediaDecoder(inputFormat, info, infoSize)
    {
    }

    // Decodes one compressed frame and writes its picture into `output`
    // in the output format (B_RGB32: bytes B, G, R, 255; rows of
    // bytes_per_row). At most one picture comes out per call: B_OK with
    // *frameCount 1, or a negative status with *frameCount 0 when the input
    // is empty or undecodable or the decoder holds the picture back (a
    // decoder with delay gives it with a later input).
    status_t DecodeBuffer(const void* input, size_t size, void* output, int64* frameCount,
                          media_header* header, media_decode_info* info = nullptr);
};

// The bytes of a B_YUV420 picture, and where its planes lie in `picture`
// (planes and strides of four, the last one empty).
size_t yuv420_size(uint32 width, uint32 height);
void yuv420_planes(uint8* picture, int width, int height, uint8* planes[4], int strides[4]);

// Starts loading the decoders' libraries on a thread of their own, so that
// they load while the display starts; later calls do nothing. Without it
// the first decoder made loads them.
void preload_media_decoders();
