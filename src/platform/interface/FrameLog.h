// The frame log: when REELMOTH_FRAME_LOG names a file, every bitmap a view
// draws adds a line "NUMBER TIME CHECKSUM" to it - the draw's number in the
// process (from 1), system_time() in microseconds when the draw began, and
// frame_checksum() of the bitmap's pixels as 16 hex digits. For tests and
// benchmarks; not an option of the player. Not a public header.
#pragma once

#include "platform/support/SupportDefs.h"

class BBitmap;

namespace frame_log
{

// 64-bit FNV-1a over the pixels taken as 32-bit little-endian words (bytes
// B, G, R, A), row by row, `width` pixels a row.
uint64 frame_checksum(const void* pixels, int32 width, int32 height, int32 bytesPerRow);

// Notes one draw of `bitmap` that began at `when`; nothing without the
// environment variable.
void note_draw(const BBitmap* bitmap, bigtime_t when);

// Whether draws are logged at all.
bool enabled();

} // namespace frame_log
