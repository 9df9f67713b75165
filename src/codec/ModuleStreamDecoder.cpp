#include "codec/ModuleStreamDecoder.h"

#include "platform/kernel/OS.h"

#include <cstring>

CModuleStreamDecoder::CModuleStreamDecoder(std::unique_ptr<CACMCodec> codec,
                                           const std::vector<uint8>& waveFormat)
    : fCodec(std::move(codec)), fWaveFormat(waveFormat), fBlockAlign(0), fChannels(0),
      fTarget(media_raw_audio_format::wildcard), fStarted(false), fBlockOutput(0), fBlocksStart(0)
{
    uint32 rate = 0;
    if (fWaveFormat.size() >= 14) {
        memcpy(&fChannels, fWaveFormat.data() + 2, 2);
        memcpy(&rate, fWaveFormat.data() + 4, 4);
        memcpy(&fBlockAlign, fWaveFormat.data() + 12, 2);
    }
    // PCM at the stream's own rate and channel count: a codec converts, it
    // does not resample, and the output plays at the stream's rate.
    fTarget.frame_rate = float(rate);
    fTarget.channel_count = fChannels;
    fTarget.format = media_raw_audio_format::B_AUDIO_SHORT;
}

CModuleStreamDecoder::~CModuleStreamDecoder()
{
    if (fStarted)
        fCodec->EndConversion();
}

bool CModuleStreamDecoder::Restart()
{
    fBlocks.clear();
    fBlocksStart = 0;
    // Modules convert whole blocks: a stream without a block size has none.
    if (fCodec == nullptr || fBlockAlign == 0 || fWaveFormat.size() < 18)
        return false;
    // A conversion begun again starts the codec's state afresh.
    if (fStarted)
        fCodec->EndConversion();
    fBlockOutput = 0;
    fStarted = fCodec->BeginConversionEx(reinterpret_cast<const tWAVEFORMATEX*>(fWaveFormat.data()),
                                         1, &fTarget, fBlockAlign, &fBlockOutput) >= B_OK;
    return fStarted;
}

bool CModuleStreamDecoder::Decode(const uint8* data, size_t size, std::vector<uint8>* pcm,
                                  size_t room)
{
    if (!fStarted)
        return false;
    if (size > 0)
        fBlocks.insert(fBlocks.end(), data, data + size);
    size_t start = pcm->size();
    while (fBlocks.size() - fBlocksStart >= fBlockAlign && !has_kill_request()) {
        if (pcm->size() - start + fBlockOutput > room)
            break;
        Convert(fBlocks.data() + fBlocksStart, fBlockAlign, false, pcm);
        // The block is used up whatever became of it.
        fBlocksStart += fBlockAlign;
    }
    fBlocks.erase(fBlocks.begin(), fBlocks.begin() + ptrdiff_t(fBlocksStart));
    fBlocksStart = 0;
    return fBlocks.size() >= fBlockAlign && !has_kill_request();
}

void CModuleStreamDecoder::Finish(std::vector<uint8>* pcm)
{
    if (!fStarted || has_kill_request())
        return;
    Convert(fBlocks.data(), uint32(fBlocks.size()), true, pcm);
    fBlocks.clear();
    fBlocksStart = 0;
}

void CModuleStreamDecoder::Convert(const uint8* block, uint32 size, bool last,
                                   std::vector<uint8>* pcm)
{
    const void* out = nullptr;
    uint32 outSize = 0;
    int32 consumed = fCodec->Convert(block, size, &out, &outSize, last);
    uint32 frameSize = uint32(fChannels) * 2;
    if (consumed >= 0 && out != nullptr && outSize > 0 && frameSize > 0) {
        const uint8* bytes = static_cast<const uint8*>(out);
        pcm->insert(pcm->end(), bytes, bytes + (outSize - outSize % frameSize));
    }
}
