#include "player/PictureConverter.h"

#include "codec/ICMCodec.h"
#include "platform/media/FFmpegLibrary.h"
#include "platform/media/MediaDecoder.h"
#include "platform/media/MediaDefs.h"

#include <cstring>

CPictureConverter::CPictureConverter(const std::vector<uint8>& format, color_space target)
    : fStatus(B_MEDIA_BAD_FORMAT), fWidth(0), fHeight(0), fPixelFormat(AV_PIX_FMT_NONE),
      fBottomUp(false), fSwapChroma(false), fStride(0), fPictureSize(0), fPalette{},
      fTarget(target), fScaler(nullptr)
{
    tBITMAPINFOHEADER header{};
    if (format.size() < sizeof(header))
        return;
    memcpy(&header, format.data(), sizeof(header));
    fPictureSize = dib_picture_size(header);
    if (fPictureSize == 0)
        return;
    fWidth = header.biWidth;
    fHeight = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    const uint8* colours = format.data() + sizeof(header);
    size_t colourBytes = format.size() - sizeof(header);
    AVPixelFormat pixels = AV_PIX_FMT_NONE;
    switch (header.biCompression) {
    case kBIRGB:
    case kBIBitfields: {
        // Rows of RGB DIBs run bottom up unless the height is negative.
        fBottomUp = header.biHeight > 0;
        fStride = (uint32(fWidth) * header.biBitCount + 31) / 32 * 4;
        uint32 masks[3] = {};
        if (header.biCompression == kBIBitfields && colourBytes >= sizeof(masks))
            memcpy(masks, colours, sizeof(masks));
        switch (header.biBitCount) {
        case 8: {
            uint32 count = header.biClrUsed != 0 ? header.biClrUsed : 256;
            if (count > 256 || colourBytes < count * 4)
                return;
            memcpy(fPalette, colours, count * 4);
            // The fourth byte of a DIB colour is reserved; FFmpeg's is alpha.
            for (uint32& colour : fPalette)
                colour |= 0xFF000000u;
            pixels = AV_PIX_FMT_PAL8;
            break;
        }
        case 16:
            pixels = header.biCompression == kBIBitfields && masks[1] == 0x07E0
                         ? AV_PIX_FMT_RGB565LE
                         : AV_PIX_FMT_RGB555LE;
            break;
        case 24:
            pixels = AV_PIX_FMT_BGR24;
            break;
        case 32:
            pixels = AV_PIX_FMT_BGR0;
            break;
        }
        break;
    }
    case kFourCCYUY2:
        pixels = AV_PIX_FMT_YUYV422;
        fStride = uint32(fWidth) * 2;
        break;
    case kFourCCYV12:
        fSwapChroma = true;
        [[fallthrough]];
    case kFourCCI420:
    case kFourCCIYUV:
        pixels = AV_PIX_FMT_YUV420P;
        fStride = uint32(fWidth);
        break;
    }
    const ffmpeg_library* ff = ffmpeg();
    if (pixels == AV_PIX_FMT_NONE || ff == nullptr)
        return;
    fPixelFormat = pixels;
    fScaler = ff->sws_getCachedContext(nullptr, fWidth, fHeight, pixels, fWidth, fHeight,
                                       target == B_YUV420 ? AV_PIX_FMT_YUV420P : AV_PIX_FMT_BGRA,
                                       SWS_BICUBIC, nullptr, nullptr, nullptr);
    fStatus = fScaler != nullptr ? B_OK : B_NO_MEMORY;
}

CPictureConverter::~CPictureConverter()
{
    if (fScaler != nullptr)
        ffmpeg()->sws_freeContext(fScaler);
}

status_t CPictureConverter::Convert(const uint8* picture, uint8* bits, int32 bytesPerRow)
{
    if (fStatus != B_OK)
        return fStatus;
    const uint8_t* planes[4] = {picture, nullptr, nullptr, nullptr};
    int strides[4] = {int(fStride), 0, 0, 0};
    if (fPixelFormat == AV_PIX_FMT_YUV420P) {
        uint32 luma = uint32(fWidth) * uint32(fHeight);
        const uint8* first = picture + luma;
        const uint8* second = first + luma / 4;
        planes[1] = fSwapChroma ? second : first;
        planes[2] = fSwapChroma ? first : second;
        strides[1] = strides[2] = fWidth / 2;
    } else {
        if (fPixelFormat == AV_PIX_FMT_PAL8)
            planes[1] = reinterpret_cast<const uint8_t*>(fPalette);
        if (fBottomUp) {
            planes[0] = picture + size_t(fStride) * size_t(fHeight - 1);
            strides[0] = -int(fStride);
        }
    }
    uint8_t* out[4] = {bits, nullptr, nullptr, nullptr};
    int outStrides[4] = {bytesPerRow, 0, 0, 0};
    if (fTarget == B_YUV420)
        yuv420_planes(bits, fWidth, fHeight, out, outStrides);
    return ffmpeg()->sws_scale(fScaler, planes, strides, 0, fHeight, out, outStrides) == fHeight
               ? B_OK
               : B_ERROR;
}
