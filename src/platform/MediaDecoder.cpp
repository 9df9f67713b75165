// Video decoders through FFmpeg: an AVI four-character code finds its
// decoder through libavformat's RIFF tag table.

#include "platform/MediaDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstring>

namespace
{

AVCodecID codec_for_fourcc(uint32 constant)
{
    // The constant reads the characters in file order from its highest
    // byte; the table's tags hold the first character in the lowest.
    uint32 tag = __builtin_bswap32(constant);
    const AVCodecTag* tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_id(tables, tag);
}

} // namespace

status_t BMediaFormats::GetFormatFor(const media_format_description& description,
                                     media_format* format)
{
    if (format == nullptr)
        return B_BAD_VALUE;
    if (description.family != B_AVI_FORMAT_FAMILY)
        return B_MEDIA_BAD_FORMAT;
    AVCodecID id = codec_for_fourcc(description.u.avi.codec);
    if (id == AV_CODEC_ID_NONE || avcodec_find_decoder(id) == nullptr)
        return B_MEDIA_BAD_FORMAT;
    *format = media_format();
    format->type = B_MEDIA_ENCODED_VIDEO;
    format->u.encoded_video.encoding = uint32(id);
    // Decoders write the bitmaps' own colour space.
    format->u.encoded_video.output.display.format = B_RGB32;
    return B_OK;
}

BMediaDecoder::BMediaDecoder(const media_format* inputFormat, const void* info, size_t infoSize)
    : fContext(nullptr), fStatus(B_BAD_VALUE)
{
    if (inputFormat == nullptr || inputFormat->type != B_MEDIA_ENCODED_VIDEO)
        return;
    fInput = *inputFormat;
    const media_video_display_info& display = fInput.u.encoded_video.output.display;
    const AVCodec* codec = avcodec_find_decoder(AVCodecID(fInput.u.encoded_video.encoding));
    if (codec == nullptr || display.line_width == 0 || display.line_count == 0 ||
        display.line_width > 16384 || display.line_count > 16384) {
        fStatus = B_MEDIA_BAD_FORMAT;
        return;
    }
    fContext = avcodec_alloc_context3(codec);
    if (fContext == nullptr) {
        fStatus = B_NO_MEMORY;
        return;
    }
    fContext->width = int(display.line_width);
    fContext->height = int(display.line_count);
    // One compressed object in, at most one picture out.
    fContext->thread_count = 1;
    if (info != nullptr && infoSize > 0 && infoSize < (1u << 20)) {
        fContext->extradata =
            static_cast<uint8_t*>(av_mallocz(infoSize + AV_INPUT_BUFFER_PADDING_SIZE));
        if (fContext->extradata != nullptr) {
            memcpy(fContext->extradata, info, infoSize);
            fContext->extradata_size = int(infoSize);
        }
    }
    fStatus = avcodec_open2(fContext, codec, nullptr) == 0 ? status_t(B_OK)
                                                           : status_t(B_MEDIA_BAD_FORMAT);
}

BMediaDecoder::~BMediaDecoder()
{
    avcodec_free_context(&fContext);
}

status_t BMediaDecoder::SetOutputFormat(media_format* outputFormat)
{
    if (fStatus != B_OK)
        return B_NO_INIT;
    if (outputFormat == nullptr || outputFormat->type != B_MEDIA_RAW_VIDEO)
        return B_MEDIA_BAD_FORMAT;
    color_space space = outputFormat->u.raw_video.display.format;
    if (space != B_RGB32 && space != B_NO_COLOR_SPACE)
        return B_MEDIA_BAD_FORMAT;
    return B_OK;
}

status_t BMediaBufferDecoder::DecodeBuffer(const void*, size_t, void*, int64* frameCount,
                                           media_header*, media_decode_info*)
{
    if (frameCount != nullptr)
        *frameCount = 0;
    return fStatus != B_OK ? status_t(B_NO_INIT) : status_t(B_NOT_SUPPORTED);
}
