// A sound stream through one codec module: whole blocks of the stream's
// alignment converted to 16-bit PCM at the stream's own rate and channel
// count. The same in the player's process and in a codec host process.
#pragma once

#include "codec/ACMCodec.h"
#include "platform/support/SupportDefs.h"

#include <memory>
#include <vector>

class CModuleStreamDecoder
{
public:
    // `waveFormat` is the stream's whole WAVEFORMATEX, cbSize made to fit.
    CModuleStreamDecoder(std::unique_ptr<CACMCodec> codec, const std::vector<uint8>& waveFormat);
    ~CModuleStreamDecoder();

    CModuleStreamDecoder(const CModuleStreamDecoder&) = delete;
    CModuleStreamDecoder& operator=(const CModuleStreamDecoder&) = delete;

    // Begins the conversion afresh (before the first object, after a seek);
    // false when the module does not convert the format to PCM.
    bool Restart();
    // Takes `size` bytes and converts whole blocks, appending whole PCM
    // frames to `pcm`, while at least `room` bytes of PCM may still be
    // added. True when whole blocks wait (call again with no bytes).
    bool Decode(const uint8* data, size_t size, std::vector<uint8>* pcm, size_t room = SIZE_MAX);
    // At the end of the stream: the rest short of a block and what the
    // module still holds.
    void Finish(std::vector<uint8>* pcm);

    // The most PCM one block gives (0 before Restart).
    uint32 BlockOutputSize() const { return fBlockOutput; }

private:
    void Convert(const uint8* block, uint32 size, bool last, std::vector<uint8>* pcm);

    std::unique_ptr<CACMCodec> fCodec;
    std::vector<uint8> fWaveFormat;
    uint16 fBlockAlign;
    uint16 fChannels;
    media_raw_audio_format fTarget;
    bool fStarted;
    uint32 fBlockOutput;
    std::vector<uint8> fBlocks; // compressed bytes not yet converted
    size_t fBlocksStart;        // where they begin in fBlocks
};
