// Conversion between UTF-8 and other text encodings.
#pragma once

#include "platform/support/SupportDefs.h"

enum {
    B_ISO1_CONVERSION = 0,
    B_ISO2_CONVERSION,
    B_ISO3_CONVERSION,
    B_ISO4_CONVERSION,
    B_ISO5_CONVERSION,
    B_ISO6_CONVERSION,
    B_ISO7_CONVERSION,
    B_ISO8_CONVERSION,
    B_ISO9_CONVERSION,
    B_ISO10_CONVERSION,
    B_MAC_ROMAN_CONVERSION,
    B_SJIS_CONVERSION,
    B_EUC_CONVERSION,
    B_JIS_CONVERSION,
    B_MS_WINDOWS_CONVERSION,
    B_UNICODE_CONVERSION, // UTF-16, big-endian
    B_KOI8R_CONVERSION,
    B_MS_WINDOWS_1251_CONVERSION,
    B_MS_DOS_866_CONVERSION,
    B_MS_DOS_CONVERSION,
    B_EUC_KR_CONVERSION,
    B_ISO13_CONVERSION,
    B_ISO14_CONVERSION,
    B_ISO15_CONVERSION,
};

#define B_SUBSTITUTE 0x1A

// Both convert as much of `src` as fits into `dst`. On return *srcLen holds
// the source bytes consumed and *dstLen the bytes written. A source sequence
// that cannot be converted becomes `substitute`. `state` carries an
// incomplete trailing sequence between calls; start it at 0.
status_t convert_to_utf8(uint32 srcEncoding, const char* src, int32* srcLen, char* dst,
                         int32* dstLen, int32* state, char substitute = B_SUBSTITUTE);
status_t convert_from_utf8(uint32 dstEncoding, const char* src, int32* srcLen, char* dst,
                           int32* dstLen, int32* state, char substitute = B_SUBSTITUTE);
