// A small Microsoft RLE8 encoder for the tests (ffmpeg has none): whole
// pictures as runs and literal strings, and pictures that keep what did not
// change from the one before, with end-of-line and delta escapes.
#pragma once

#include "platform/support/SupportDefs.h"

#include <vector>

// `picture` holds palette indices, rows top down. With `previous`, only the
// pixels that differ from it are written.
std::vector<uint8> rle8_encode(const std::vector<uint8>& picture, int32 width, int32 height,
                               const std::vector<uint8>* previous = nullptr);
