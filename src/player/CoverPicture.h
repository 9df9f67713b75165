// A song's cover picture (JPEG or PNG, from its WM/Picture tag) decoded
// with the platform's decoders at its own size.
#pragma once

#include "asf/ASFFileInfo.h"
#include "platform/interface/Bitmap.h"

#include <memory>

// The picture's size from its JPEG or PNG header; false for anything else
// or a size beyond what a cover needs.
bool cover_picture_size(const std::vector<uint8>& data, int32* width, int32* height);
// The picture in B_RGB32, or null when it cannot be decoded.
std::unique_ptr<BBitmap> decode_cover_picture(const asf_picture& picture);
