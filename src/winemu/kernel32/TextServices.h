// Replacements: text conversion between a module's UTF-16 and the system's
// UTF-8, and printf-style formatting.
#pragma once

#include "platform/support/SupportDefs.h"

struct import_args;

uint32 exp_WideCharToMultiByte(uint32 codePage, uint32 flags, uint32 wide, int32 wideCount,
                               uint32 out, int32 outSize, uint32 defaultChar, uint32 usedDefault);
uint32 exp_MultiByteToWideChar(uint32 codePage, uint32 flags, uint32 text, int32 textLength,
                               uint32 out, int32 outCount);
uint32 exp_wvsprintfA(uint32 buffer, uint32 format, uint32 arguments);
uint32 exp_wsprintfA(const import_args& args);
