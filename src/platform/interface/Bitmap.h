// A picture in memory that decoders write into and views draw.
#pragma once

#include "platform/interface/GraphicsDefs.h"
#include "platform/interface/Rect.h"

class BBitmap
{
public:
    // Only B_RGB32 and B_RGBA32 are supported; the pixels start zeroed.
    BBitmap(BRect bounds, color_space space, bool acceptsViews = false,
            bool needsContiguousMemory = false);
    virtual ~BBitmap();

    BBitmap(const BBitmap&) = delete;
    BBitmap& operator=(const BBitmap&) = delete;

    status_t InitCheck() const { return fStatus; }
    BRect Bounds() const { return fBounds; }
    color_space ColorSpace() const { return fSpace; }
    void* Bits() const { return fBits; }
    int32 BitsLength() const { return fBytesPerRow * fHeight; }
    int32 BytesPerRow() const { return fBytesPerRow; }

private:
    BRect fBounds;
    color_space fSpace;
    uint8* fBits;
    int32 fBytesPerRow;
    int32 fHeight;
    status_t fStatus;
};
