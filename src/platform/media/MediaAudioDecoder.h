// A sound decoder for compressed audio blocks handed over in memory, by
// FFmpeg: what plays a stream for which no codec module is installed.
#pragma once

#include "platform/support/SupportDefs.h"

#include <vector>

// What a stream's WAVE format block says of it.
struct wave_format_info {
    uint16 tag = 0;
    uint16 channels = 0;
    uint32 rate = 0;
    uint32 bytesPerSecond = 0;
    uint16 blockAlign = 0;
    uint16 bitsPerSample = 0;
    // The codec data after the block's fixed fields (WMA's flags, say).
    std::vector<uint8> extra;
};

class BMediaAudioDecoder
{
public:
    explicit BMediaAudioDecoder(const wave_format_info& format);
    ~BMediaAudioDecoder();

    BMediaAudioDecoder(const BMediaAudioDecoder&) = delete;
    BMediaAudioDecoder& operator=(const BMediaAudioDecoder&) = delete;

    status_t InitCheck() const { return fStatus; }
    // FFmpeg's name of the decoder ("wmav2", "adpcm_ms"...).
    const char* CodecName() const;

    // Decodes one media object of the stream, cut into the stream's blocks
    // when it has a block alignment, and appends what came out as 16-bit
    // samples, interleaved, at the stream's own rate and channel count.
    // A block the decoder refuses is skipped (its sound is lost, the rest
    // plays); B_OK unless nothing could be decoded at all.
    status_t Decode(const void* input, size_t size, std::vector<int16>* pcm);
    // At the end of the stream: appends what the decoder still holds (most
    // decoders keep a block back). Decoding again needs a Reset first.
    status_t Drain(std::vector<int16>* pcm);
    // Forgets what the decoder holds from earlier blocks: after a seek.
    void Reset();

private:
    struct decoder_state;

    status_t DecodeBlock(const uint8* block, size_t size, std::vector<int16>* pcm);
    status_t ReceiveFrames(std::vector<int16>* pcm);
    status_t Convert(std::vector<int16>* pcm);

    decoder_state* fState;
    wave_format_info fFormat;
    status_t fStatus;
};

// Whether FFmpeg has a decoder for this WAVE format tag (at the given bits
// per sample, which tell PCM's kinds apart); its name in *name.
bool media_audio_decoder_for_tag(uint16 tag, uint16 bitsPerSample, const char** name);

// Every WAVE format tag FFmpeg decodes, in increasing order.
std::vector<uint16> media_audio_decoder_tags();
