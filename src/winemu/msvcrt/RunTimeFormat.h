// Replacements: the C run-time's formatting into module buffers and
// streams (sprintf family, the universal run-time's __stdio_common_v*
// entries) and scanning of module text (sscanf). Formatting follows
// format_module_text (ModuleFormat.h); text to the standard streams goes to
// the debug output; other streams are refused.
#pragma once

#include "platform/support/SupportDefs.h"

struct import_args;

// The universal run-time's option bit for C99 snprintf behaviour: the text
// is cut to the buffer with a NUL and the full length is returned.
constexpr uint32 kPrintfStandardSnprintf = 0x2;

int32 exp_sprintf(const import_args& args);
int32 exp_snprintf(const import_args& args);
int32 exp_vsprintf(uint32 buffer, uint32 format, uint32 arguments);
int32 exp_vsnprintf(uint32 buffer, uint32 count, uint32 format, uint32 arguments);
int32 exp_stdio_common_vsprintf(uint32 optionsLow, uint32 optionsHigh, uint32 buffer, uint32 count,
                                uint32 format, uint32 locale, uint32 arguments);
int32 exp_stdio_common_vfprintf(uint32 optionsLow, uint32 optionsHigh, uint32 stream, uint32 format,
                                uint32 locale, uint32 arguments);
int32 exp_sscanf(const import_args& args);
int32 exp_stdio_common_vsscanf(uint32 optionsLow, uint32 optionsHigh, uint32 buffer, uint32 count,
                               uint32 format, uint32 locale, uint32 arguments);
