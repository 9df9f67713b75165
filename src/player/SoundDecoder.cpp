#include "player/SoundDecoder.h"

#include "codec/ACMCodec.h"
#include "codec/DecoderModules.h"
#include "platform/kernel/OS.h"
#include "platform/media/MediaAudioDecoder.h"
#include "platform/support/Debug.h"

#include <cstdio>
#include <cstring>

namespace
{

// The size of a WAVEFORMATEX up to and including cbSize.
constexpr uint32 kWaveFormatSize = 18;

// A codec module converts whole blocks of the stream's alignment; a shorter
// rest waits for the next object, and goes with the last conversion.
class CModuleSoundDecoder : public CSoundDecoder
{
public:
    CModuleSoundDecoder(std::unique_ptr<CACMCodec> codec, const sound_stream_format& format,
                        const std::string& file)
        : fCodec(std::move(codec)), fFormat(format), fTarget(media_raw_audio_format::wildcard),
          fStarted(false)
    {
        fDescription = "codec module " + file;
        // PCM at the stream's own rate and channel count: a codec converts,
        // it does not resample, and the output plays at the stream's rate.
        fTarget.frame_rate = float(format.rate);
        fTarget.channel_count = format.channels;
        fTarget.format = media_raw_audio_format::B_AUDIO_SHORT;
    }

    ~CModuleSoundDecoder() override
    {
        if (fStarted)
            fCodec->EndConversion();
    }

    bool Restart() override
    {
        fBlocks.MakeEmpty(true);
        // A conversion begun again starts the codec's state afresh.
        if (fStarted)
            fCodec->EndConversion();
        uint32 outputSize = 0;
        fStarted = fCodec->BeginConversionEx(
                       reinterpret_cast<const tWAVEFORMATEX*>(fFormat.waveFormat.data()), 1,
                       &fTarget, fFormat.blockAlign, &outputSize) >= B_OK;
        return fStarted;
    }

    void Decode(const uint8* data, size_t size, CVariableBuffer* pcm) override
    {
        if (!fStarted)
            return;
        fBlocks.Write(data, uint32(size));
        uint32 offset = 0;
        while (fBlocks.Length() - offset >= fFormat.blockAlign && !has_kill_request()) {
            Convert(static_cast<const uint8*>(fBlocks.Data()) + offset, fFormat.blockAlign, false,
                    pcm);
            // The block is used up whatever became of it.
            offset += fFormat.blockAlign;
        }
        fBlocks.RemoveHead(offset);
    }

    void Finish(CVariableBuffer* pcm) override
    {
        if (!fStarted || has_kill_request())
            return;
        uint32 left = fBlocks.Length();
        Convert(fBlocks.Data(), left, true, pcm);
        fBlocks.RemoveHead(left);
    }

private:
    void Convert(const void* block, uint32 size, bool last, CVariableBuffer* pcm)
    {
        const void* out = nullptr;
        uint32 outSize = 0;
        int32 consumed = fCodec->Convert(block, size, &out, &outSize, last);
        uint32 frameSize = uint32(fFormat.channels) * 2;
        if (consumed >= 0 && out != nullptr && outSize > 0)
            pcm->Write(out, outSize - outSize % frameSize);
    }

    std::unique_ptr<CACMCodec> fCodec;
    sound_stream_format fFormat;
    media_raw_audio_format fTarget;
    bool fStarted;
    CVariableBuffer fBlocks; // compressed bytes short of a whole block
};

class CFFmpegSoundDecoder : public CSoundDecoder
{
public:
    explicit CFFmpegSoundDecoder(std::unique_ptr<BMediaAudioDecoder> decoder)
        : fDecoder(std::move(decoder))
    {
        fDescription = std::string("FFmpeg ") + fDecoder->CodecName();
    }

    bool Restart() override
    {
        fDecoder->Reset();
        return true;
    }

    void Decode(const uint8* data, size_t size, CVariableBuffer* pcm) override
    {
        fSamples.clear();
        fDecoder->Decode(data, size, &fSamples);
        Append(pcm);
    }

    void Finish(CVariableBuffer* pcm) override
    {
        fSamples.clear();
        fDecoder->Drain(&fSamples);
        Append(pcm);
    }

private:
    void Append(CVariableBuffer* pcm)
    {
        if (!fSamples.empty())
            pcm->Write(fSamples.data(), uint32(fSamples.size() * sizeof(int16)));
    }

    std::unique_ptr<BMediaAudioDecoder> fDecoder;
    std::vector<int16> fSamples;
};

std::unique_ptr<CSoundDecoder> module_decoder(const sound_stream_format& format)
{
    // Modules convert whole blocks: a stream without a block size has none.
    if (format.blockAlign == 0)
        return nullptr;
    for (const std::string& file : decoder_modules_for_tag(format.tag)) {
        auto codec = std::make_unique<CACMCodec>(file.c_str());
        if (codec->InitCheck() != B_OK)
            continue;
        auto decoder = std::make_unique<CModuleSoundDecoder>(std::move(codec), format, file);
        if (decoder->Restart())
            return decoder;
        _debugPrintf("sound: %s does not convert format 0x%04X to PCM\n", file.c_str(), format.tag);
    }
    return nullptr;
}

std::unique_ptr<CSoundDecoder> ffmpeg_decoder(const sound_stream_format& format)
{
    wave_format_info info;
    info.tag = format.tag;
    info.channels = format.channels;
    info.rate = format.rate;
    info.bytesPerSecond = format.bytesPerSecond;
    info.blockAlign = format.blockAlign;
    info.bitsPerSample = format.bitsPerSample;
    uint16 extra = 0;
    memcpy(&extra, format.waveFormat.data() + 16, 2);
    info.extra = extra > 0 ? format.waveFormat.data() + kWaveFormatSize : nullptr;
    info.extraSize = extra;
    auto decoder = std::make_unique<BMediaAudioDecoder>(info);
    if (decoder->InitCheck() != B_OK)
        return nullptr;
    return std::make_unique<CFFmpegSoundDecoder>(std::move(decoder));
}

} // namespace

bool read_sound_format(const void* data, uint32 size, sound_stream_format* format)
{
    if (data == nullptr || size < 14)
        return false;
    auto* bytes = static_cast<const uint8*>(data);
    memcpy(&format->tag, bytes, 2);
    memcpy(&format->channels, bytes + 2, 2);
    memcpy(&format->rate, bytes + 4, 4);
    memcpy(&format->bytesPerSecond, bytes + 8, 4);
    memcpy(&format->blockAlign, bytes + 12, 2);
    format->bitsPerSample = 0;
    if (size >= 16)
        memcpy(&format->bitsPerSample, bytes + 14, 2);
    // A whole WAVEFORMATEX whose codec bytes lie inside it: a short block
    // gets cbSize 0, a cbSize beyond the block is cut to what it holds.
    format->waveFormat.assign(std::max(size, kWaveFormatSize), 0);
    memcpy(format->waveFormat.data(), data, size);
    uint16 extra = 0;
    if (size >= kWaveFormatSize) {
        memcpy(&extra, bytes + 16, 2);
        extra = uint16(std::min<uint32>(extra, size - kWaveFormatSize));
    }
    memcpy(format->waveFormat.data() + 16, &extra, 2);
    return true;
}

std::unique_ptr<CSoundDecoder> choose_sound_decoder(const sound_stream_format& format,
                                                    std::string* why)
{
    audio_decoders choice = audio_decoders_choice();
    std::unique_ptr<CSoundDecoder> decoder;
    if (choice != kAudioDecodersFFmpeg)
        decoder = module_decoder(format);
    if (decoder == nullptr && choice != kAudioDecodersModules)
        decoder = ffmpeg_decoder(format);
    if (decoder == nullptr && why != nullptr) {
        char text[64];
        snprintf(text, sizeof(text), "No decoder for audio format 0x%04X", format.tag);
        *why = text;
    }
    if (decoder != nullptr)
        _debugPrintf("sound: format 0x%04X by %s\n", format.tag, decoder->Description().c_str());
    return decoder;
}
