// What turns the audio stream's compressed objects into 16-bit PCM at the
// stream's own rate and channel count: a codec module, through CACMCodec,
// or, when no module can, FFmpeg's decoder for the format tag. The audio
// path sees only this.
#pragma once

#include "asf/ASFStreamFormats.h"
#include "asf/VariableBuffer.h"
#include "platform/kernel/OS.h"
#include "platform/support/Result.h"
#include "platform/support/SupportDefs.h"

#include <memory>
#include <string>
#include <vector>

class CSoundDecoder
{
public:
    virtual ~CSoundDecoder() = default;

    // Starts from a clean state: before the first object and after a seek.
    // False when the decoder cannot convert any more.
    virtual bool Restart() = 0;
    // Decodes one media object; appends whole frames of PCM to `pcm`. A
    // decoder in another process may append an object's PCM with the next
    // call (or Finish): what it still owes at a Restart is dropped.
    virtual void Decode(const uint8* data, size_t size, CVariableBuffer* pcm) = 0;
    // At the end of the stream: what the decoder still holds.
    virtual void Finish(CVariableBuffer* pcm) = 0;
    // No object to decode for now (the player's queue is empty): a decoder
    // in another process hands over what waits and appends what has come
    // back, without waiting.
    virtual void Idle(CVariableBuffer* pcm) { (void)pcm; }

    // How long the next Decode may keep the sound waiting: what the output
    // still holds, less a margin. A decoder in another process
    // that takes longer hands the stream to FFmpeg rather than let the
    // sound stop (B_INFINITE_TIMEOUT: its deadline alone).
    virtual void SetPatience(bigtime_t patience) { (void)patience; }

    // What decodes, for the user: "codec module l3codeca.acm", "FFmpeg wmav2".
    const std::string& Description() const { return fDescription; }

protected:
    std::string fDescription;
};

// The decoder for the stream, as the user chose (REELMOTH_AUDIO, or the
// registry): the codec modules that report the tag, in the order the
// decoders folder gives, the first whose conversion to PCM opens; then
// FFmpeg. Null when nobody can decode it; *why then says so.
std::unique_ptr<CSoundDecoder> choose_sound_decoder(const sound_stream_format& format,
                                                    CResult* why);
