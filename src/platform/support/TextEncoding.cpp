#include "platform/support/UTF8.h"

#include <cerrno>
#include <iconv.h>

namespace
{

const char* iconv_name(uint32 encoding)
{
    static const char* const kNames[] = {
        "ISO-8859-1", "ISO-8859-2",  "ISO-8859-3", "ISO-8859-4",  "ISO-8859-5",  "ISO-8859-6",
        "ISO-8859-7", "ISO-8859-8",  "ISO-8859-9", "ISO-8859-10", "MACINTOSH",   "SHIFT_JIS",
        "EUC-JP",     "ISO-2022-JP", "CP1252",     "UTF-16BE",    "KOI8-R",      "CP1251",
        "CP866",      "CP437",       "EUC-KR",     "ISO-8859-13", "ISO-8859-14", "ISO-8859-15",
    };
    if (encoding >= sizeof(kNames) / sizeof(kNames[0]))
        return nullptr;
    return kNames[encoding];
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
size_t utf8_sequence_length(unsigned char lead)
{
    if (lead >= 0xF0 && lead < 0xF8)
        return 4;
    if (lead >= 0xE0)
        return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0)
        return 2;
    return 1;
}

status_t convert(const char* to, const char* from, bool fromUTF8, bool toWide, const char* src,
                 int32* srcLen, char* dst, int32* dstLen, char substitute)
{
    if (to == nullptr || from == nullptr)
        return B_BAD_VALUE;
    if (src == nullptr || srcLen == nullptr || dst == nullptr || dstLen == nullptr || *srcLen < 0 ||
        *dstLen < 0)
        return B_BAD_VALUE;

    iconv_t cd = iconv_open(to, from);
    if (cd == iconv_t(-1))
        return B_ERROR;

    char* in = const_cast<char*>(src);
    size_t inLeft = size_t(*srcLen);
    char* out = dst;
    size_t outLeft = size_t(*dstLen);
    size_t substituteSize = toWide ? 2 : 1;

    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &out, &outLeft) != size_t(-1))
            break;
        if (errno != EILSEQ)
            break; // E2BIG: the destination is full; EINVAL: a cut sequence at the end
        if (outLeft < substituteSize)
            break;
        if (toWide)
            *out++ = 0;
        *out++ = substitute;
        outLeft -= substituteSize;
        size_t skip = fromUTF8 ? utf8_sequence_length(static_cast<unsigned char>(*in))
                               : (from[0] == 'U' ? 2 : 1); // UTF-16 goes by code unit
        skip = skip < inLeft ? skip : inLeft;
        in += skip;
        inLeft -= skip;
    }
    iconv_close(cd);

    *srcLen = int32(in - src);
    *dstLen = int32(out - dst);
    return B_OK;
}

} // namespace

status_t convert_to_utf8(uint32 srcEncoding, const char* src, int32* srcLen, char* dst,
                         int32* dstLen, int32* state, char substitute)
{
    (void)state; // cut sequences are left unconsumed for the caller to pass again
    return convert("UTF-8", iconv_name(srcEncoding), false, false, src, srcLen, dst, dstLen,
                   substitute);
}

status_t convert_from_utf8(uint32 dstEncoding, const char* src, int32* srcLen, char* dst,
                           int32* dstLen, int32* state, char substitute)
{
    (void)state;
    return convert(iconv_name(dstEncoding), "UTF-8", true, dstEncoding == B_UNICODE_CONVERSION, src,
                   srcLen, dst, dstLen, substitute);
}
