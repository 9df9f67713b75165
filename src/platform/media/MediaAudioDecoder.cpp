// Sound decoders through FFmpeg (opened at run time, see FFmpegLibrary.h):
// a WAVE format tag finds its decoder through libavformat's RIFF audio tag
// table (copied at build time); libswresample turns whatever the decoder
// gives into 16-bit interleaved samples at the stream's rate and channels.

#include "platform/media/MediaAudioDecoder.h"

#include "platform/media/FFmpegLibrary.h"
#include "platform/media/MediaDefs.h"
#include "platform/support/Debug.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace
{

// Codec data beyond this is not a real stream's.
constexpr size_t kMaxExtraSize = 1 << 20;
constexpr uint16 kMaxChannels = 8;
constexpr uint32 kMaxRate = 384000;

struct riff_tag {
    uint32 tag;
    const char* codec;
};

const riff_tag kRiffAudioTags[] = {
#include "RiffAudioTags.inc"
};

constexpr uint16 kTagPCM = 0x0001;
constexpr uint16 kTagFloat = 0x0003;

// As libavformat reads a WAVE format: PCM's kind follows its sample size,
// every other tag the first entry of the table.
const char* codec_name_for(uint16 tag, uint16 bitsPerSample)
{
    if (tag == kTagPCM) {
        switch (bitsPerSample) {
        case 8:
            return "pcm_u8";
        case 16:
            return "pcm_s16le";
        case 24:
            return "pcm_s24le";
        case 32:
            return "pcm_s32le";
        default:
            return nullptr;
        }
    }
    if (tag == kTagFloat)
        return bitsPerSample == 64 ? "pcm_f64le" : bitsPerSample == 32 ? "pcm_f32le" : nullptr;
    for (const riff_tag& entry : kRiffAudioTags) {
        if (entry.tag == tag)
            return entry.codec;
    }
    return nullptr;
}

const AVCodec* decoder_for(uint16 tag, uint16 bitsPerSample)
{
    const char* name = codec_name_for(tag, bitsPerSample);
    const ffmpeg_library* ff = ffmpeg();
    if (name == nullptr || ff == nullptr)
        return nullptr;
    const AVCodecDescriptor* descriptor = ff->avcodec_descriptor_get_by_name(name);
    return descriptor != nullptr ? ff->avcodec_find_decoder(descriptor->id) : nullptr;
}

} // namespace

struct BMediaAudioDecoder::decoder_state {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    SwrContext* converter = nullptr;
    // What the converter was made for; a frame that differs remakes it.
    int inputFormat = -1;
    int inputRate = 0;
    int inputChannels = 0;
    // One block with the zeroed tail the decoders may read.
    uint8_t* input = nullptr;
    unsigned int inputCapacity = 0;

    ~decoder_state()
    {
        // Made only once the libraries were open.
        const ffmpeg_library* ff = ffmpeg();
        ff->swr_free(&converter);
        ff->av_frame_free(&frame);
        ff->av_packet_free(&packet);
        ff->avcodec_free_context(&context);
        ff->av_free(input);
    }
};

BMediaAudioDecoder::BMediaAudioDecoder(const wave_format_info& format)
    : fState(nullptr), fFormat(format), fStatus(B_MEDIA_BAD_FORMAT)
{
    const AVCodec* codec = decoder_for(format.tag, format.bitsPerSample);
    if (codec == nullptr || format.channels == 0 || format.channels > kMaxChannels ||
        format.rate == 0 || format.rate > kMaxRate || format.extra.size() > kMaxExtraSize)
        return;
    const ffmpeg_library* ff = ffmpeg();
    fState = new decoder_state;
    fState->context = ff->avcodec_alloc_context3(codec);
    fState->packet = ff->av_packet_alloc();
    fState->frame = ff->av_frame_alloc();
    if (fState->context == nullptr || fState->packet == nullptr || fState->frame == nullptr) {
        fStatus = B_NO_MEMORY;
        return;
    }
    AVCodecContext* context = fState->context;
    context->sample_rate = int(format.rate);
    ff->av_channel_layout_default(&context->ch_layout, format.channels);
    context->block_align = format.blockAlign;
    context->bit_rate = int64(format.bytesPerSecond) * 8;
    context->bits_per_coded_sample = format.bitsPerSample;
    context->codec_tag = format.tag;
    if (!format.extra.empty()) {
        context->extradata = static_cast<uint8_t*>(
            ff->av_mallocz(format.extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (context->extradata == nullptr) {
            fStatus = B_NO_MEMORY;
            return;
        }
        memcpy(context->extradata, format.extra.data(), format.extra.size());
        context->extradata_size = int(format.extra.size());
    }
    if (ff->avcodec_open2(context, codec, nullptr) < 0)
        return;
    fStatus = B_OK;
}

BMediaAudioDecoder::~BMediaAudioDecoder()
{
    delete fState;
}

const char* BMediaAudioDecoder::CodecName() const
{
    return fState != nullptr && fState->context != nullptr && fState->context->codec != nullptr
               ? fState->context->codec->name
               : "";
}

status_t BMediaAudioDecoder::Decode(const void* input, size_t size, std::vector<int16>* pcm)
{
    if (fStatus != B_OK)
        return fStatus;
    if (input == nullptr || pcm == nullptr || size == 0)
        return B_BAD_VALUE;
    const uint8* bytes = static_cast<const uint8*>(input);
    // Blocks of the stream's alignment; a short rest as it is.
    size_t block = fFormat.blockAlign > 1 ? fFormat.blockAlign : size;
    bool any = false;
    for (size_t at = 0; at < size; at += block)
        any = DecodeBlock(bytes + at, std::min(block, size - at), pcm) == B_OK || any;
    return any ? B_OK : B_BAD_DATA;
}

status_t BMediaAudioDecoder::DecodeBlock(const uint8* block, size_t size, std::vector<int16>* pcm)
{
    const ffmpeg_library* ff = ffmpeg();
    if (size > INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE)
        return B_BAD_VALUE;
    ff->av_fast_padded_malloc(&fState->input, &fState->inputCapacity, size);
    if (fState->input == nullptr)
        return B_NO_MEMORY;
    memcpy(fState->input, block, size);
    AVPacket* packet = fState->packet;
    packet->data = fState->input;
    packet->size = int(size);
    if (ff->avcodec_send_packet(fState->context, packet) < 0)
        return B_BAD_DATA;
    return ReceiveFrames(pcm);
}

status_t BMediaAudioDecoder::ReceiveFrames(std::vector<int16>* pcm)
{
    const ffmpeg_library* ff = ffmpeg();
    status_t status = B_OK;
    while (ff->avcodec_receive_frame(fState->context, fState->frame) == 0) {
        if (Convert(pcm) != B_OK)
            status = B_BAD_DATA;
        ff->av_frame_unref(fState->frame);
    }
    return status;
}

status_t BMediaAudioDecoder::Drain(std::vector<int16>* pcm)
{
    if (fStatus != B_OK)
        return fStatus;
    if (pcm == nullptr)
        return B_BAD_VALUE;
    if (ffmpeg()->avcodec_send_packet(fState->context, nullptr) < 0)
        return B_OK; // drained already
    return ReceiveFrames(pcm);
}

status_t BMediaAudioDecoder::Convert(std::vector<int16>* pcm)
{
    const ffmpeg_library* ff = ffmpeg();
    AVFrame* frame = fState->frame;
    if (frame->nb_samples <= 0 || frame->sample_rate <= 0 || frame->ch_layout.nb_channels <= 0)
        return B_BAD_DATA;
    if (fState->converter == nullptr || fState->inputFormat != frame->format ||
        fState->inputRate != frame->sample_rate ||
        fState->inputChannels != frame->ch_layout.nb_channels) {
        ff->swr_free(&fState->converter);
        AVChannelLayout output;
        ff->av_channel_layout_default(&output, fFormat.channels);
        int made = ff->swr_alloc_set_opts2(
            &fState->converter, &output, AV_SAMPLE_FMT_S16, int(fFormat.rate), &frame->ch_layout,
            AVSampleFormat(frame->format), frame->sample_rate, 0, nullptr);
        ff->av_channel_layout_uninit(&output);
        if (made < 0 || ff->swr_init(fState->converter) < 0) {
            ff->swr_free(&fState->converter);
            return B_BAD_DATA;
        }
        fState->inputFormat = frame->format;
        fState->inputRate = frame->sample_rate;
        fState->inputChannels = frame->ch_layout.nb_channels;
    }
    int room = ff->swr_get_out_samples(fState->converter, frame->nb_samples);
    if (room <= 0)
        return B_OK;
    size_t start = pcm->size();
    pcm->resize(start + size_t(room) * fFormat.channels);
    uint8_t* out = reinterpret_cast<uint8_t*>(pcm->data() + start);
    int converted =
        ff->swr_convert(fState->converter, &out, room,
                        const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
    pcm->resize(start + size_t(std::max(converted, 0)) * fFormat.channels);
    return converted >= 0 ? B_OK : B_BAD_DATA;
}

void BMediaAudioDecoder::Reset()
{
    if (fStatus != B_OK)
        return;
    const ffmpeg_library* ff = ffmpeg();
    ff->avcodec_flush_buffers(fState->context);
    // What the converter held back belongs to the old place.
    ff->swr_free(&fState->converter);
}

bool media_audio_decoder_for_tag(uint16 tag, uint16 bitsPerSample, const char** name)
{
    const AVCodec* codec = decoder_for(tag, bitsPerSample);
    if (codec != nullptr && name != nullptr)
        *name = codec->name;
    return codec != nullptr;
}

std::vector<uint16> media_audio_decoder_tags()
{
    std::vector<uint16> tags;
    for (const riff_tag& entry : kRiffAudioTags) {
        uint16 tag = uint16(entry.tag);
        // PCM's kinds are told apart by sample size: 16 bits stands for them.
        if (entry.tag <= 0xFFFF && decoder_for(tag, 16) != nullptr)
            tags.push_back(tag);
    }
    std::sort(tags.begin(), tags.end());
    tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
    return tags;
}
