// Turns the pictures a video decompressor module writes, in the output
// format it chose (a DIB: RGB of 8 to 32 bits, bottom up or top down, or
// YUY2 and I420), into the window's bitmaps (B_RGB32), or into planar
// B_YUV420, with libswscale, as FFmpeg's own tools convert.
#pragma once

#include "platform/interface/GraphicsDefs.h"
#include "platform/support/SupportDefs.h"

#include <vector>

struct SwsContext;

class CPictureConverter
{
public:
    // `format`: the BITMAPINFOHEADER with the masks or palette after it;
    // `target`: B_RGB32 or B_YUV420.
    explicit CPictureConverter(const std::vector<uint8>& format, color_space target = B_RGB32);
    ~CPictureConverter();

    CPictureConverter(const CPictureConverter&) = delete;
    CPictureConverter& operator=(const CPictureConverter&) = delete;

    status_t InitCheck() const { return fStatus; }
    int32 Width() const { return fWidth; }
    int32 Height() const { return fHeight; }
    // The bytes of one picture in the format.
    uint32 PictureSize() const { return fPictureSize; }

    // Converts one whole picture to B_RGB32 rows of `bytesPerRow` (or to
    // B_YUV420 planes of the picture's width).
    status_t Convert(const uint8* picture, uint8* bits, int32 bytesPerRow);

private:
    status_t fStatus;
    int32 fWidth;
    int32 fHeight;
    int fPixelFormat; // FFmpeg's
    bool fBottomUp;
    bool fSwapChroma; // YV12: V before U
    uint32 fStride;
    uint32 fPictureSize;
    uint32 fPalette[256];
    color_space fTarget;
    SwsContext* fScaler;
};
