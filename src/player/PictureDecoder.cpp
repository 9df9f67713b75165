#include "player/PictureDecoder.h"

#include "codec/DecoderModules.h"
#include "codec/ICMCodec.h"
#include "host/CodecHost.h"
#include "platform/kernel/OS.h"
#include "platform/media/MediaDecoder.h"
#include "platform/support/Debug.h"
#include "player/HostedModule.h"
#include "player/PictureConverter.h"

#include <cstdio>
#include <cstring>
#include <deque>

namespace
{

// Pictures a module may refuse in a row before it is given up.
constexpr int32 kMaxRefusals = 3;
// The objects kept since the last key frame, for FFmpeg to take over
// from; beyond this, it takes over at the next key frame.
constexpr size_t kMaxReplayBytes = 64 << 20;

class CFFmpegPictureDecoder : public CPictureDecoder
{
public:
    CFFmpegPictureDecoder(const picture_stream_format& format, color_space output)
        : fFormat(format), fOutput(output)
    {
        fDecoder = Make();
        if (fDecoder != nullptr)
            SetDescription("FFmpeg " + std::string(fDecoder->CodecName()));
    }

    bool IsReady() const { return fDecoder != nullptr; }

    void Restart() override
    {
        if (std::unique_ptr<BMediaBufferDecoder> decoder = Make())
            fDecoder = std::move(decoder);
    }

    status_t Decode(const media_object& object, uint8* bits, int32 bytesPerRow) override
    {
        (void)bytesPerRow; // the decoder was made for the bitmaps' rows
        int64 frameCount = 0;
        media_header header;
        return fDecoder->DecodeBuffer(object.data.data(), object.data.size(), bits, &frameCount,
                                      &header);
    }

private:
    std::unique_ptr<BMediaBufferDecoder> Make()
    {
        media_format_description description;
        description.family = B_AVI_FORMAT_FAMILY;
        description.u.avi.codec = __builtin_bswap32(fFormat.compression);
        media_format format;
        BMediaFormats formats;
        if (formats.GetFormatFor(description, &format) < B_OK)
            return nullptr;
        media_raw_video_format& output = format.u.encoded_video.output;
        output.display.line_width = uint32(fFormat.width);
        output.display.line_count = uint32(fFormat.height);
        output.last_active = uint32(fFormat.height - 1);
        format.u.encoded_video.depth = fFormat.depth;
        // Decoders such as WMV2's and MPEG-4's cannot decode a picture
        // without the codec data that follow the header.
        auto decoder = std::make_unique<BMediaBufferDecoder>(&format, fFormat.codecData.data(),
                                                             fFormat.codecData.size());
        format.type = B_MEDIA_RAW_VIDEO;
        format.u.raw_video.display.format = fOutput;
        if (decoder->InitCheck() < B_OK || decoder->SetOutputFormat(&format) < B_OK)
            return nullptr;
        return decoder;
    }

    picture_stream_format fFormat;
    color_space fOutput;
    std::unique_ptr<BMediaBufferDecoder> fDecoder;
};

std::unique_ptr<CPictureDecoder> ffmpeg_decoder(const picture_stream_format& format,
                                                color_space output)
{
    auto decoder = std::make_unique<CFFmpegPictureDecoder>(format, output);
    if (!decoder->IsReady())
        return nullptr;
    return decoder;
}

// A decompressor module, in a host process or in the player. When it
// fails, the stream goes on through FFmpeg from the last key frame.
class CModulePictureDecoder : public CPictureDecoder
{
public:
    CModulePictureDecoder(const picture_stream_format& format, const decoder_module& module,
                          color_space output)
        : fFormat(format), fOutput(output), fFile(module.file), fHandler(module.handler),
          fRefusals(0), fReplayBytes(0), fFellBack(false)
    {
        SetDescription("codec module " + module.file);
    }

    ~CModulePictureDecoder() override
    {
        if (fHost != nullptr)
            close_hosted_module(fHost.get(), fRegistry);
    }

    // Opens the module and begins decompressing; false when it cannot.
    bool Open(bool hosted)
    {
        std::vector<uint8> output;
        uint32 size = 0;
        if (hosted) {
            fHost = open_hosted_module(fFile, kHostVideoModule, fHandler, &fRegistry);
            if (fHost == nullptr || !fHost->BeginPictures(fFormat.bitmapInfo, &output, &size)) {
                if (fHost != nullptr && fHost->Failed())
                    report_host_failure(*fHost, "it is not used");
                return false;
            }
        } else {
            fCodec = std::make_unique<CICMCodec>(fFile.c_str(), fHandler);
            if (fCodec->InitCheck() != B_OK || !fCodec->Begin(fFormat.bitmapInfo))
                return false;
            output = fCodec->OutputFormat();
            size = fCodec->OutputSize();
        }
        fConverter = std::make_unique<CPictureConverter>(output, fOutput);
        // The host says the format and the picture's size apart: the
        // converter reads no more than the host gives.
        return fConverter->InitCheck() == B_OK && fConverter->PictureSize() == size &&
               fConverter->Width() == fFormat.width && fConverter->Height() == fFormat.height;
    }

    void Restart() override
    {
        fReplay.clear();
        fReplayBytes = 0;
        if (fFallback != nullptr)
            fFallback->Restart();
    }

    status_t Decode(const media_object& object, uint8* bits, int32 bytesPerRow) override
    {
        if (fFellBack)
            return fFallback != nullptr ? fFallback->Decode(object, bits, bytesPerRow) : B_ERROR;
        Keep(object);
        uint32 flags = object.keyFrame ? 0u : uint32(ICDECOMPRESS_NOTKEYFRAME);
        if (object.time < object.showFrom)
            flags |= ICDECOMPRESS_PREROLL;
        const uint8* picture = nullptr;
        std::string failure;
        if (fHost != nullptr) {
            if (!fHost->DecodePicture(object.data.data(), object.data.size(), flags, &picture) &&
                fHost->Failed())
                failure = fHost->Failure();
        } else {
            status_t status =
                fCodec->Decompress(object.data.data(), object.data.size(), flags, &picture);
            if (status == B_BAD_ADDRESS)
                failure = "faulted";
        }
        if (failure.empty() && picture != nullptr) {
            fRefusals = 0;
            return fConverter->Convert(picture, bits, bytesPerRow);
        }
        if (failure.empty() && ++fRefusals < kMaxRefusals)
            return B_BAD_DATA;
        if (failure.empty())
            failure = "refused the pictures";
        return FallBack(failure, bits, bytesPerRow);
    }

private:
    void Keep(const media_object& object)
    {
        if (object.keyFrame) {
            fReplay.clear();
            fReplayBytes = 0;
        }
        if (fReplayBytes + object.data.size() > kMaxReplayBytes)
            return;
        fReplay.push_back(object);
        fReplayBytes += object.data.size();
    }

    // Once: the line for the user, and FFmpeg in the module's place from
    // the last key frame, the current picture last.
    status_t FallBack(const std::string& failure, uint8* bits, int32 bytesPerRow)
    {
        fFellBack = true;
        if (has_kill_request())
            return B_ERROR;
        fFallback = ffmpeg_decoder(fFormat, fOutput);
        const char* after = fFallback != nullptr ? "the pictures go on with FFmpeg"
                                                 : "the pictures stop; the sound plays on";
        if (fHost != nullptr) {
            report_host_failure(*fHost, after);
        } else {
            fprintf(stderr, "reelmoth: %s %s; %s\n", fFile.c_str(), failure.c_str(), after);
            remember_module_failure(fFile, "it " + failure);
        }
        if (fFallback == nullptr) {
            fFailure = "The pictures cannot be decoded: " + fFile + " " + failure;
            return B_ERROR;
        }
        SetDescription(fFallback->Description());
        status_t status = B_ERROR;
        for (const media_object& earlier : fReplay)
            status = fFallback->Decode(earlier, bits, bytesPerRow);
        fReplay.clear();
        return status;
    }

    picture_stream_format fFormat;
    color_space fOutput;
    std::string fFile;
    uint32 fHandler;
    std::unique_ptr<CCodecHost> fHost;
    std::vector<uint8> fRegistry; // what the hosted module was given
    std::unique_ptr<CICMCodec> fCodec;
    std::unique_ptr<CPictureConverter> fConverter;
    int32 fRefusals;
    std::deque<media_object> fReplay; // since the last key frame
    size_t fReplayBytes;
    bool fFellBack;
    std::unique_ptr<CPictureDecoder> fFallback;
};

std::unique_ptr<CPictureDecoder> module_decoder(const picture_stream_format& format,
                                                color_space output)
{
    bool hosted = codec_process_enabled();
    for (const decoder_module& module : video_modules_for_fourcc(format.compression)) {
        if (has_kill_request())
            return nullptr;
        auto decoder = std::make_unique<CModulePictureDecoder>(format, module, output);
        if (decoder->Open(hosted))
            return decoder;
        _debugPrintf("video: %s does not decompress %s\n", module.file.c_str(),
                     fourcc_text(format.compression).c_str());
    }
    return nullptr;
}

} // namespace

std::unique_ptr<CPictureDecoder> choose_picture_decoder(const picture_stream_format& format,
                                                        CResult* why, color_space output)
{
    decoder_choice choice = video_decoders_choice();
    std::unique_ptr<CPictureDecoder> decoder;
    if (choice == kDecodersModules)
        decoder = module_decoder(format, output);
    if (decoder == nullptr)
        decoder = ffmpeg_decoder(format, output);
    if (decoder == nullptr && choice == kDecodersAuto)
        decoder = module_decoder(format, output);
    if (decoder == nullptr && why != nullptr)
        *why = CResult(B_MEDIA_BAD_FORMAT,
                       "No decoder for video format " + fourcc_text(format.compression));
    if (decoder != nullptr)
        _debugPrintf("video: %s by %s\n", fourcc_text(format.compression).c_str(),
                     decoder->Description().c_str());
    return decoder;
}
