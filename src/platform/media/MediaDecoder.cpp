// Video decoders through FFmpeg (opened at run time, see FFmpegLibrary.h):
// an AVI four-character code finds its decoder through libavformat's RIFF
// tag table (copied at build time); libswscale converts each picture
// straight into the caller's memory as B_RGB32.

#include "platform/media/MediaDecoder.h"

#include "platform/media/FFmpegLibrary.h"
#include "platform/support/Debug.h"

#include <climits>
#include <cstring>
#include <iterator>
#include <mutex>

namespace
{

// Pictures larger than this a side are refused, as bitmaps refuse them.
constexpr uint32 kMaxSide = 16384;
// Codec-specific bytes beyond this are not a real stream's.
constexpr size_t kMaxInfoSize = 1 << 20;

struct riff_tag {
    uint32 tag;
    const char* codec;
};

const riff_tag kRiffVideoTags[] = {
#include "RiffVideoTags.inc"
};

uint32 upper_fourcc(uint32 tag)
{
    uint32 result = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint32 c = (tag >> shift) & 0xFF;
        result |= (c >= 'a' && c <= 'z' ? c - 32 : c) << shift;
    }
    return result;
}

// As libavformat looks a FourCC up: the first entry that matches exactly,
// else the first that matches ignoring letter case.
AVCodecID codec_for_tag(uint32 tag)
{
    const riff_tag* found = nullptr;
    for (const riff_tag& entry : kRiffVideoTags) {
        if (entry.tag == tag) {
            found = &entry;
            break;
        }
    }
    for (size_t i = 0; found == nullptr && i < std::size(kRiffVideoTags); i++) {
        if (upper_fourcc(kRiffVideoTags[i].tag) == upper_fourcc(tag))
            found = &kRiffVideoTags[i];
    }
    const ffmpeg_library* ff = ffmpeg();
    const AVCodecDescriptor* descriptor = found != nullptr && ff != nullptr
                                              ? ff->avcodec_descriptor_get_by_name(found->codec)
                                              : nullptr;
    return descriptor != nullptr ? descriptor->id : AV_CODEC_ID_NONE;
}

} // namespace

struct BMediaDecoder::decoder_state {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwsContext* scaler = nullptr;
    // The compressed frame with the zeroed tail the decoders may read.
    uint8_t* input = nullptr;
    unsigned int inputCapacity = 0;

    ~decoder_state()
    {
        // Made only once the libraries were open.
        const ffmpeg_library* ff = ffmpeg();
        ff->sws_freeContext(scaler);
        ff->av_frame_free(&frame);
        ff->av_packet_free(&packet);
        ff->avcodec_free_context(&context);
        ff->av_free(input);
    }
};

size_t yuv420_size(uint32 width, uint32 height)
{
    size_t chroma = size_t((width + 1) / 2) * ((height + 1) / 2);
    return size_t(width) * height + 2 * chroma;
}

void yuv420_planes(uint8* picture, int width, int height, uint8* planes[4], int strides[4])
{
    int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
    planes[0] = picture;
    planes[1] = picture + size_t(width) * height;
    planes[2] = planes[1] + size_t(chromaWidth) * chromaHeight;
    planes[3] = nullptr;
    strides[0] = width;
    strides[1] = strides[2] = chromaWidth;
    strides[3] = 0;
}

void preload_media_decoders()
{
    ffmpeg_preload();
}

status_t BMediaFormats::GetFormatFor(const media_format_description& description,
                                     media_format* format)
{
    if (format == nullptr)
        return B_BAD_VALUE;
    if (description.family != B_AVI_FORMAT_FAMILY)
        return B_MEDIA_BAD_FORMAT;
    // The constant reads the characters in file order from its highest
    // byte; the table's tags hold the first character in the lowest.
    uint32 tag = __builtin_bswap32(description.u.avi.codec);
    AVCodecID id = codec_for_tag(tag);
    const ffmpeg_library* ff = ffmpeg();
    if (id == AV_CODEC_ID_NONE || ff == nullptr || ff->avcodec_find_decoder(id) == nullptr)
        return B_MEDIA_BAD_FORMAT;
    *format = media_format();
    format->type = B_MEDIA_ENCODED_VIDEO;
    format->u.encoded_video.encoding = uint32(id);
    format->u.encoded_video.codec_tag = tag;
    // Decoders write the bitmaps' own colour space.
    format->u.encoded_video.output.display.format = B_RGB32;
    return B_OK;
}

BMediaDecoder::BMediaDecoder(const media_format* inputFormat, const void* info, size_t infoSize)
    : fState(nullptr), fOutput(), fStatus(B_BAD_VALUE)
{
    const ffmpeg_library* ff = ffmpeg();
    if (inputFormat == nullptr || inputFormat->type != B_MEDIA_ENCODED_VIDEO)
        return;
    if (ff == nullptr) {
        fStatus = B_MEDIA_BAD_FORMAT;
        return;
    }
    fInput = *inputFormat;
    fOutput = fInput.u.encoded_video.output;
    const media_video_display_info& display = fOutput.display;
    const AVCodec* codec = ff->avcodec_find_decoder(AVCodecID(fInput.u.encoded_video.encoding));
    if (codec == nullptr || display.line_width == 0 || display.line_count == 0 ||
        display.line_width > kMaxSide || display.line_count > kMaxSide ||
        (info == nullptr && infoSize > 0) || infoSize > kMaxInfoSize) {
        fStatus = B_MEDIA_BAD_FORMAT;
        return;
    }
    fState = new decoder_state;
    AVCodecContext* context = fState->context = ff->avcodec_alloc_context3(codec);
    fState->packet = ff->av_packet_alloc();
    fState->frame = ff->av_frame_alloc();
    if (context == nullptr || fState->packet == nullptr || fState->frame == nullptr) {
        fStatus = B_NO_MEMORY;
        return;
    }
    context->width = int(display.line_width);
    context->height = int(display.line_count);
    context->codec_tag = fInput.u.encoded_video.codec_tag;
    context->bits_per_coded_sample = fInput.u.encoded_video.depth;
    // One compressed object in, at most one picture out: no frame threads.
    context->thread_count = 1;
    if (infoSize > 0) {
        context->extradata =
            static_cast<uint8_t*>(ff->av_mallocz(infoSize + AV_INPUT_BUFFER_PADDING_SIZE));
        if (context->extradata == nullptr) {
            fStatus = B_NO_MEMORY;
            return;
        }
        memcpy(context->extradata, info, infoSize);
        context->extradata_size = int(infoSize);
    }
    fStatus = ff->avcodec_open2(context, codec, nullptr) == 0 ? status_t(B_OK)
                                                              : status_t(B_MEDIA_BAD_FORMAT);
}

const char* BMediaDecoder::CodecName() const
{
    return fState != nullptr && fState->context != nullptr && fState->context->codec != nullptr
               ? fState->context->codec->name
               : "";
}

BMediaDecoder::~BMediaDecoder()
{
    delete fState;
}

status_t BMediaDecoder::SetOutputFormat(media_format* outputFormat)
{
    if (fStatus != B_OK)
        return B_NO_INIT;
    if (outputFormat == nullptr || outputFormat->type != B_MEDIA_RAW_VIDEO)
        return B_MEDIA_BAD_FORMAT;
    media_raw_video_format wanted = outputFormat->u.raw_video;
    media_video_display_info& display = wanted.display;
    if (display.format != B_RGB32 && display.format != B_YUV420 &&
        display.format != B_NO_COLOR_SPACE)
        return B_MEDIA_BAD_FORMAT;
    bool planar = display.format == B_YUV420;
    display.format = planar ? B_YUV420 : B_RGB32;
    if (display.line_width == 0)
        display.line_width = fOutput.display.line_width;
    if (display.line_count == 0)
        display.line_count = fOutput.display.line_count;
    if (display.line_width > kMaxSide || display.line_count > kMaxSide)
        return B_MEDIA_BAD_FORMAT;
    if (planar)
        display.bytes_per_row = display.line_width;
    if (display.bytes_per_row == 0)
        display.bytes_per_row = display.line_width * 4;
    if ((!planar && display.bytes_per_row < display.line_width * 4) ||
        display.bytes_per_row > uint32(INT_MAX))
        return B_MEDIA_BAD_FORMAT;
    fOutput = wanted;
    outputFormat->u.raw_video = wanted;
    return B_OK;
}

status_t BMediaBufferDecoder::DecodeBuffer(const void* input, size_t size, void* output,
                                           int64* frameCount, media_header* header,
                                           media_decode_info*)
{
    if (frameCount != nullptr)
        *frameCount = 0;
    if (fStatus != B_OK)
        return B_NO_INIT;
    if (input == nullptr || size == 0 || output == nullptr ||
        size > size_t(INT_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
        return B_BAD_VALUE; // an empty packet would tell the decoder to drain

    decoder_state& state = *fState;
    const ffmpeg_library* ff = ffmpeg();
    ff->av_fast_padded_malloc(&state.input, &state.inputCapacity, size);
    if (state.input == nullptr)
        return B_NO_MEMORY;
    memcpy(state.input, input, size);
    state.packet->data = state.input;
    state.packet->size = int(size);

    bool gotPicture = false;
    int result = ff->avcodec_send_packet(state.context, state.packet);
    if (result == AVERROR(EAGAIN)) {
        // A picture held back by an earlier call must leave first; it is
        // this call's one picture.
        gotPicture = ff->avcodec_receive_frame(state.context, state.frame) == 0;
        result = ff->avcodec_send_packet(state.context, state.packet);
    }
    if (!gotPicture)
        gotPicture = ff->avcodec_receive_frame(state.context, state.frame) == 0;
    if (!gotPicture)
        return result < 0 && result != AVERROR(EAGAIN) ? status_t(B_BAD_DATA)
                                                       : status_t(B_WOULD_BLOCK);

    AVFrame* frame = state.frame;
    const media_video_display_info& display = fOutput.display;
    status_t status = B_BAD_DATA;
    if (frame->width > 0 && frame->height > 0) {
        // The same conversion as FFmpeg's own tools make by default.
        state.scaler = ff->sws_getCachedContext(
            state.scaler, frame->width, frame->height, AVPixelFormat(frame->format),
            int(display.line_width), int(display.line_count),
            display.format == B_YUV420 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr,
            nullptr, nullptr);
    }
    if (frame->width > 0 && frame->height > 0 && state.scaler != nullptr) {
        uint8_t* planes[4] = {static_cast<uint8_t*>(output), nullptr, nullptr, nullptr};
        int strides[4] = {int(display.bytes_per_row), 0, 0, 0};
        if (display.format == B_YUV420)
            yuv420_planes(static_cast<uint8_t*>(output), int(display.line_width),
                          int(display.line_count), planes, strides);
        if (ff->sws_scale(state.scaler, frame->data, frame->linesize, 0, frame->height, planes,
                          strides) == int(display.line_count))
            status = B_OK;
    }
    ff->av_frame_unref(frame);
    if (status != B_OK)
        return status;
    if (frameCount != nullptr)
        *frameCount = 1;
    if (header != nullptr) {
        header->type = B_MEDIA_RAW_VIDEO;
        header->start_time = 0;
        header->size_used = display.format == B_YUV420
                                ? yuv420_size(display.line_width, display.line_count)
                                : size_t(display.bytes_per_row) * display.line_count;
    }
    return B_OK;
}
