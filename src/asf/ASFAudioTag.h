// Rewrites the format tag of an ASF file's first audio stream in place: how
// a file of a codec that no encoder at hand writes is made from one it can
// (same data, another tag).
#pragma once

#include "platform/support/SupportDefs.h"

status_t asf_set_audio_format_tag(const char* path, uint16 tag);
