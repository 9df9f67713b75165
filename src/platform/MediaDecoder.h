// A video decoder for whole compressed frames handed over in memory.
#pragma once

#include "platform/MediaDefs.h"

struct AVCodecContext;

class BMediaDecoder
{
public:
    BMediaDecoder(const media_format* inputFormat, const void* info, size_t infoSize);
    virtual ~BMediaDecoder();

    BMediaDecoder(const BMediaDecoder&) = delete;
    BMediaDecoder& operator=(const BMediaDecoder&) = delete;

    status_t InitCheck() const { return fStatus; }
    // Accepts raw video in B_RGB32 (or the colour space left open) at the
    // input's picture size.
    status_t SetOutputFormat(media_format* outputFormat);

protected:
    AVCodecContext* fContext;
    media_format fInput;
    status_t fStatus;
};

class BMediaBufferDecoder : public BMediaDecoder
{
public:
    BMediaBufferDecoder(const media_format* inputFormat, const void* info, size_t infoSize)
        : BMediaDecoder(inputFormat, info, infoSize)
    {
    }

    // Decodes one compressed frame into `output` (B_RGB32 pixels of the
    // output format's size). Pictures come with the video issue; until then
    // every call reports B_NOT_SUPPORTED.
    status_t DecodeBuffer(const void* input, size_t size, void* output, int64* frameCount,
                          media_header* header, media_decode_info* info = nullptr);
};
