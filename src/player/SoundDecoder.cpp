#include "player/SoundDecoder.h"

#include "codec/ACMCodec.h"
#include "codec/DecoderModules.h"
#include "codec/ModuleStreamDecoder.h"
#include "host/CodecHost.h"
#include "platform/kernel/OS.h"
#include "platform/media/MediaAudioDecoder.h"
#include "platform/support/Debug.h"
#include "player/HostedModule.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>

namespace
{

// At most this many objects go in one request to a codec host (MP3: about
// 0.4 s of sound), so that a request's wait stays short.
constexpr size_t kBatchObjects = 16;

// A codec module in the player's own process.
class CModuleSoundDecoder : public CSoundDecoder
{
public:
    CModuleSoundDecoder(std::unique_ptr<CACMCodec> codec, const sound_stream_format& format,
                        const std::string& file)
        : fStream(std::move(codec), format.waveFormat)
    {
        fDescription = "codec module " + file;
    }

    bool Restart() override { return fStream.Restart(); }

    void Decode(const uint8* data, size_t size, CVariableBuffer* pcm) override
    {
        fPCM.clear();
        fStream.Decode(data, size, &fPCM);
        Append(pcm);
    }

    void Finish(CVariableBuffer* pcm) override
    {
        fPCM.clear();
        fStream.Finish(&fPCM);
        Append(pcm);
    }

private:
    void Append(CVariableBuffer* pcm)
    {
        if (!fPCM.empty())
            pcm->Write(fPCM.data(), uint32(fPCM.size()));
    }

    CModuleStreamDecoder fStream;
    std::vector<uint8> fPCM;
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

std::unique_ptr<CSoundDecoder> ffmpeg_decoder(const sound_stream_format& format);

// A codec module in a host process of its own. When the host fails, the
// stream goes on through FFmpeg from the object that failed.
class CHostedSoundDecoder : public CSoundDecoder
{
public:
    CHostedSoundDecoder(std::unique_ptr<CCodecHost> host, const sound_stream_format& format,
                        std::vector<uint8> registry)
        : fHost(std::move(host)), fFormat(format), fRegistry(std::move(registry)), fFellBack(false),
          fFallbackMade(false), fPatience(B_INFINITE_TIMEOUT)
    {
        fDescription = "codec module " + fHost->Label();
    }

    ~CHostedSoundDecoder() override
    {
        // A host still late is not waited for: the window closes at once.
        if (!fHost->Late())
            close_hosted_module(fHost.get(), fRegistry);
    }

    void SetPatience(bigtime_t patience) override { fPatience = patience; }

    bool Restart() override
    {
        fPending.clear();
        fPosted.clear();
        fBatch.clear();
        fBatchObjects = 0;
        if (!fFellBack && fHost->Begin(fFormat.waveFormat))
            return true;
        return FallBack() && fFallback->Restart();
    }

    // The host decodes while the player goes on: what is handed over comes
    // back with a later call. Objects that come while the host is busy wait
    // and go in one request: a request and its reply cost the system about
    // as much as decoding a small object.
    void Decode(const uint8* data, size_t size, CVariableBuffer* pcm) override
    {
        if (fFellBack) {
            Judge();
            if (fFallback != nullptr)
                fFallback->Decode(data, size, pcm);
            return;
        }
        fPCM.clear();
        post_result result = kPosted;
        if (size <= kHostSlotInput) {
            if (fBatch.size() + size > kHostSlotInput)
                result = PostBatch();
            fPending.emplace_back(data, data + size);
            fBatch.insert(fBatch.end(), data, data + size);
            fBatchObjects++;
            bool busy = fHost->InFlight() == 1 && !fHost->Answered();
            if (result == kPosted && (!busy || fBatchObjects >= kBatchObjects))
                result = PostBatch();
        } else {
            // Large objects go in pieces, after everything before them.
            if ((result = PostBatch()) == kPosted) {
                result = fHost->CollectAll(&fPCM) ? kPosted : kFailed;
                if (result == kPosted) {
                    fPending.clear();
                    fPosted.clear();
                }
            }
            if (result == kPosted && !fHost->Decode(data, size, &fPCM))
                result = kFailed;
            if (result != kPosted)
                fPending.emplace_back(data, data + size);
        }
        Conclude(result, pcm);
    }

    void Idle(CVariableBuffer* pcm) override
    {
        if (fFellBack)
            return;
        // Nothing to hand over, or the host still busy: nothing to do.
        bool answered = fHost->Answered();
        if (!answered && (fBatchObjects == 0 || fHost->InFlight() > 0))
            return;
        fPCM.clear();
        Conclude(fBatchObjects > 0 ? PostBatch() : Take(fHost->Collect(&fPCM)), pcm);
    }

    void Finish(CVariableBuffer* pcm) override
    {
        if (!fFellBack) {
            fPCM.clear();
            post_result result = PostBatch();
            if (result == kLate) {
                Conclude(result, pcm);
            } else {
                bool ok = result == kPosted && fHost->Finish(&fPCM);
                Append(pcm);
                if (ok)
                    return;
                if (!FallBack() || !fFallback->Restart())
                    return;
                Replay(pcm);
            }
        }
        Judge();
        if (fFallback != nullptr)
            fFallback->Finish(pcm);
    }

private:
    // FFmpeg's decoder for the stream, made once; null when FFmpeg does not
    // know the format or the user wants modules only.
    CSoundDecoder* Fallback()
    {
        if (!fFallbackMade) {
            fFallbackMade = true;
            if (audio_decoders_choice() != kDecodersModules)
                fFallback = ffmpeg_decoder(fFormat);
        }
        return fFallback.get();
    }

    // Once: the line for the user, and FFmpeg's decoder in the module's place
    // (none when FFmpeg does not know the format: the pictures go on alone).
    bool FallBack()
    {
        if (!fFellBack) {
            fFellBack = true;
            if (has_kill_request())
                return false;
            Fallback();
            report_host_failure(*fHost, fFallback != nullptr ? "the sound goes on with FFmpeg"
                                                             : "the pictures go on without sound");
        }
        return fFallback != nullptr;
    }

    // A module that was late is judged by its deadline, as one the sound
    // waited for would be: answered, it was only slow; past it, it is
    // reported and not chosen again.
    void Judge()
    {
        if (fJudged || !fHost->Late() || fHost->Settle() || !fHost->Failed())
            return;
        fJudged = true;
        report_host_failure(*fHost, "the sound goes on with FFmpeg");
    }

    enum post_result { kPosted, kFailed, kLate };

    // Hands the objects waiting over; with two requests then in flight,
    // waits for the older one's PCM (no longer than the patience when
    // FFmpeg could go on instead).
    post_result PostBatch()
    {
        if (fBatchObjects == 0)
            return kPosted;
        if (!fHost->Post(fBatch.data(), fBatch.size()))
            return kFailed;
        fPosted.push_back(fBatchObjects);
        fBatch.clear();
        fBatchObjects = 0;
        if (fHost->InFlight() < 2)
            return kPosted;
        bool late = false;
        bool ok =
            fHost->Collect(&fPCM, Fallback() != nullptr ? fPatience : B_INFINITE_TIMEOUT, &late);
        return late ? kLate : Take(ok);
    }

    // The oldest request's objects came back (when ok).
    post_result Take(bool ok)
    {
        if (!ok)
            return kFailed;
        size_t objects = fPosted.empty() ? 0 : fPosted.front();
        if (!fPosted.empty())
            fPosted.pop_front();
        for (size_t i = 0; i < objects && !fPending.empty(); i++)
            fPending.pop_front();
        return kPosted;
    }

    // The PCM that came back, and FFmpeg in the module's place when the
    // host failed (from the first object it still owed) or was late.
    void Conclude(post_result result, CVariableBuffer* pcm)
    {
        Append(pcm);
        if (result == kLate) {
            _debugPrintf("sound: %s is late (%" PRId64 " us); FFmpeg goes on\n",
                         fHost->Label().c_str(), fPatience);
            fFellBack = true;
            if (fFallback->Restart())
                Replay(pcm);
            return;
        }
        if (result == kPosted)
            return;
        if (FallBack() && fFallback->Restart())
            Replay(pcm);
    }

    // The objects whose PCM the host still owed, through FFmpeg.
    void Replay(CVariableBuffer* pcm)
    {
        for (const std::vector<uint8>& object : fPending)
            fFallback->Decode(object.data(), object.size(), pcm);
        fPending.clear();
    }

    void Append(CVariableBuffer* pcm)
    {
        uint32 frameSize = uint32(fFormat.channels) * 2;
        size_t size = frameSize > 0 ? fPCM.size() - fPCM.size() % frameSize : 0;
        if (size > 0)
            pcm->Write(fPCM.data(), uint32(size));
    }

    std::unique_ptr<CCodecHost> fHost;
    sound_stream_format fFormat;
    std::vector<uint8> fRegistry; // what the module was given
    bool fFellBack;
    bool fFallbackMade;
    bool fJudged = false; // a late module's verdict was given
    std::unique_ptr<CSoundDecoder> fFallback;
    bigtime_t fPatience;
    std::vector<uint8> fPCM;
    std::deque<std::vector<uint8>> fPending; // objects handed over, PCM not yet back
    std::deque<size_t> fPosted;              // objects in each request in flight
    std::vector<uint8> fBatch;               // objects waiting to go, in one piece
    size_t fBatchObjects = 0;
};

// Opens the module in a host and begins the conversion there; null when the
// module cannot (the host then ends; a failed host is reported).
std::unique_ptr<CSoundDecoder> hosted_decoder(const sound_stream_format& format,
                                              const std::string& file)
{
    std::vector<uint8> registry;
    std::unique_ptr<CCodecHost> host = open_hosted_module(file, kHostSoundModule, 0, &registry);
    if (host == nullptr)
        return nullptr;
    if (host->Begin(format.waveFormat))
        return std::make_unique<CHostedSoundDecoder>(std::move(host), format, std::move(registry));
    if (host->Failed())
        report_host_failure(*host, "it is not used");
    else
        close_hosted_module(host.get(), registry);
    return nullptr;
}

std::unique_ptr<CSoundDecoder> module_decoder(const sound_stream_format& format)
{
    // Modules convert whole blocks: a stream without a block size has none.
    if (format.blockAlign == 0)
        return nullptr;
    bool hosted = codec_process_enabled();
    for (const std::string& file : decoder_modules_for_tag(format.tag)) {
        if (has_kill_request())
            return nullptr;
        if (hosted) {
            if (auto decoder = hosted_decoder(format, file))
                return decoder;
            _debugPrintf("sound: %s does not convert format 0x%04X to PCM\n", file.c_str(),
                         format.tag);
            continue;
        }
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
    auto decoder = std::make_unique<BMediaAudioDecoder>(format);
    if (decoder->InitCheck() != B_OK)
        return nullptr;
    return std::make_unique<CFFmpegSoundDecoder>(std::move(decoder));
}

} // namespace

std::unique_ptr<CSoundDecoder> choose_sound_decoder(const sound_stream_format& format, CResult* why)
{
    decoder_choice choice = audio_decoders_choice();
    std::unique_ptr<CSoundDecoder> decoder;
    if (choice != kDecodersFFmpeg)
        decoder = module_decoder(format);
    if (decoder == nullptr && choice != kDecodersModules)
        decoder = ffmpeg_decoder(format);
    if (decoder == nullptr && why != nullptr) {
        char text[64];
        snprintf(text, sizeof(text), "No decoder for audio format 0x%04X", format.tag);
        *why = CResult(B_MEDIA_BAD_FORMAT, text);
    }
    if (decoder != nullptr)
        _debugPrintf("sound: format 0x%04X by %s\n", format.tag, decoder->Description().c_str());
    return decoder;
}
