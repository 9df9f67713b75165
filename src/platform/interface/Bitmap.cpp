#include "platform/interface/Bitmap.h"

#include <cstdlib>
#include <cstring>

BBitmap::BBitmap(BRect bounds, color_space space, bool, bool)
    : fBounds(bounds), fSpace(space), fBits(nullptr), fBytesPerRow(0), fHeight(0),
      fStatus(B_BAD_VALUE)
{
    if (space != B_RGB32 && space != B_RGBA32)
        return;
    // Sizes beyond 16384 pixels a side are refused rather than risk overflow.
    if (!bounds.IsValid() || bounds.Width() >= 16384 || bounds.Height() >= 16384)
        return;
    int32 width = int32(bounds.IntegerWidth()) + 1;
    fHeight = int32(bounds.IntegerHeight()) + 1;
    fBytesPerRow = width * 4;
    fBits = static_cast<uint8*>(aligned_alloc(64, (size_t(fBytesPerRow) * fHeight + 63) & ~63));
    if (fBits == nullptr) {
        fStatus = B_NO_MEMORY;
        fBytesPerRow = fHeight = 0;
        return;
    }
    memset(fBits, 0, size_t(fBytesPerRow) * fHeight);
    fStatus = B_OK;
}

BBitmap::~BBitmap()
{
    free(fBits);
}
