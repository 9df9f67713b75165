#include "codec/ACMCodec.h"

#include "platform/kernel/ModuleSpace.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace
{

// No driver lists this many format tags or standard formats of a tag; a
// driver that says so is broken, and its counts are not allocated.
constexpr uint32 kMaxFormatTags = 256;
constexpr uint32 kMaxStandardFormats = 4096;

template <typename T>
T* module_new(size_t count = 1)
{
    return static_cast<T*>(module_calloc(count, sizeof(T)));
}

} // namespace

CACMCodec::audio_format::audio_format()
    : tag(module_new<tACMFORMATTAGDETAILSW>()), formats(nullptr), count(0)
{
}

CACMCodec::audio_format::~audio_format()
{
    if (formats != nullptr) {
        for (uint32 j = 0; j < count; j++)
            module_free(module_pointer<void>(formats[j].pwfx));
        module_free(formats);
    }
    module_free(tag);
}

const char* CACMCodec::ModuleForTag(unsigned long formatTag)
{
    switch (formatTag) {
    case 0x0055:
        return "L3codeca.acm";
    case 0x0160:
    case 0x0161:
        return "DivXa32.acm";
    default:
        return nullptr;
    }
}

uint32 CACMCodec::CountFormatTags() const
{
    return fInitStatus == B_OK ? fFormatTagCount : 0;
}

uint16 CACMCodec::FormatTagAt(uint32 index) const
{
    return index < CountFormatTags() ? uint16(fFormats[index].tag->dwFormatTag) : 0;
}

CACMCodec::CACMCodec(unsigned long formatTag)
    : fInitStatus(-1), fDriver(nullptr), fDriverDetails(nullptr), fFormats(nullptr),
      fFormatTagCount(0), fAcmStream(nullptr), fHeader(nullptr), fSource(nullptr),
      fSourceBuffer(nullptr), fSourceCapacity(0), fDestinationBuffer(nullptr),
      fDestinationCapacity(0), fFirstConvert(false)
{
    if (const char* module = ModuleForTag(formatTag))
        Init(module);
}

CACMCodec::CACMCodec(const char* moduleName)
    : fInitStatus(-1), fDriver(nullptr), fDriverDetails(nullptr), fFormats(nullptr),
      fFormatTagCount(0), fAcmStream(nullptr), fHeader(nullptr), fSource(nullptr),
      fSourceBuffer(nullptr), fSourceCapacity(0), fDestinationBuffer(nullptr),
      fDestinationCapacity(0), fFirstConvert(false)
{
    if (moduleName != nullptr)
        Init(moduleName);
}

CACMCodec::~CACMCodec()
{
    if (fInitStatus != B_OK)
        return;
    ReleaseFormats();
    acmDriverClose(fDriver, 0);
}

void CACMCodec::ReleaseFormats()
{
    delete[] fFormats;
    fFormats = nullptr;
    fFormatTagCount = 0;
    module_free(fDriverDetails);
    fDriverDetails = nullptr;
}

void CACMCodec::Init(const char* moduleName)
{
    if (acmDriverOpen(&fDriver, moduleName, 0, 0) != 0)
        return;
    fDriverDetails = module_new<tACMDRIVERDETAILSW>();
    if (fDriverDetails == nullptr) {
        acmDriverClose(fDriver, 0);
        return;
    }
    fDriverDetails->cbStruct = sizeof(tACMDRIVERDETAILSW);
    bool ok = acmDriverDetails(fDriver, 0, fDriverDetails, 0) == 0;

    uint32 tagCount = ok ? fDriverDetails->cFormatTags : 0;
    ok = ok && tagCount <= kMaxFormatTags;
    if (ok) {
        fFormats = new (std::nothrow) audio_format[tagCount];
        ok = fFormats != nullptr;
        fFormatTagCount = ok ? tagCount : 0;
    }
    for (uint32 i = 0; ok && i < tagCount; i++) {
        audio_format& format = fFormats[i];
        if (format.tag == nullptr) {
            ok = false;
            break;
        }
        format.tag->cbStruct = sizeof(tACMFORMATTAGDETAILSW);
        format.tag->dwFormatTagIndex = i;
        if (acmFormatTagDetails(fDriver, format.tag, ACM_FORMATTAGDETAILSF_INDEX) != 0) {
            format.tag->cStandardFormats = 0;
            ok = false;
            break;
        }
        uint32 count = format.tag->cStandardFormats;
        // No driver has this many; a larger count is a broken one.
        format.formats = count <= kMaxStandardFormats
                             ? module_new<tACMFORMATDETAILSW>(max_c<uint32>(count, 1))
                             : nullptr;
        if (format.formats == nullptr) {
            format.tag->cStandardFormats = 0;
            ok = false;
            break;
        }
        format.count = count;
        for (uint32 j = 0; j < count; j++) {
            tACMFORMATDETAILSW& details = format.formats[j];
            details.cbStruct = sizeof(tACMFORMATDETAILSW);
            details.dwFormatIndex = j;
            details.dwFormatTag = format.tag->dwFormatTag;
            details.cbwfx = format.tag->cbFormatSize;
            details.pwfx = module_address(module_calloc(1, max_c<uint32>(details.cbwfx, 1)));
            if (details.pwfx == 0 ||
                acmFormatDetails(fDriver, &details, ACM_FORMATDETAILSF_INDEX) != 0) {
                ok = false;
                break;
            }
        }
    }
    if (!ok) {
        ReleaseFormats();
        acmDriverClose(fDriver, 0);
        fDriver = nullptr;
        return;
    }
    fInitStatus = B_OK;
}

const tWAVEFORMATEX* CACMCodec::FindSuitableWaveFormat(uint16 formatTag,
                                                       const media_raw_audio_format* format) const
{
    if (fInitStatus != B_OK || format == nullptr)
        return nullptr;
    // Rates are held as 16 bits here: faster rates (and nonsense) match nothing.
    if (!(format->frame_rate >= 0.0f && format->frame_rate < 65536.0f))
        return nullptr;
    uint16 channels = uint16(format->channel_count);
    uint32 rate = uint16(int32(format->frame_rate));
    uint16 bits = uint16((format->format & media_raw_audio_format::B_AUDIO_SIZE_MASK) * 8);

    for (uint32 i = 0; i < fFormatTagCount; i++) {
        const audio_format& tag = fFormats[i];
        if (tag.tag->dwFormatTag != formatTag)
            continue;
        for (uint32 j = 0; j < tag.count; j++) {
            const tACMFORMATDETAILSW& details = tag.formats[j];
            const tWAVEFORMATEX* wave = module_pointer<const tWAVEFORMATEX>(details.pwfx);
            if (wave == nullptr || details.cbwfx < 16)
                continue;
            if (wave->nChannels == channels && wave->nSamplesPerSec == rate &&
                (wave->wBitsPerSample == bits || wave->wBitsPerSample == 0))
                return wave;
        }
    }
    return nullptr;
}

status_t CACMCodec::Begin(const tWAVEFORMATEX* source, const tWAVEFORMATEX* destination,
                          bool sourceSizeGiven, uint32 givenSize, uint32* askedSize, bool print)
{
    if (fInitStatus != B_OK || fAcmStream != nullptr)
        return -1;
    if (source == nullptr || destination == nullptr || askedSize == nullptr)
        return -1;

    // The driver gets a copy of the source format in module memory.
    size_t sourceBytes = sizeof(tWAVEFORMATEX) + source->cbSize;
    fSource = static_cast<tWAVEFORMATEX*>(module_malloc(sourceBytes));
    if (fSource == nullptr)
        return -1;
    memcpy(fSource, source, sourceBytes);

    if (acmStreamOpen(&fAcmStream, fDriver, fSource, destination, nullptr, 0, 0, 0) != 0) {
        fAcmStream = nullptr;
        module_free(fSource);
        fSource = nullptr;
        return -1;
    }
    uint32 flags = sourceSizeGiven ? ACM_STREAMSIZEF_SOURCE : ACM_STREAMSIZEF_DESTINATION;
    int32 result = acmStreamSize(fAcmStream, givenSize, askedSize, flags);
    if (print) {
        printf("acmStreamSize says %ld\n", long(result));
        fflush(stdout);
    }

    uint32 sourceSize = sourceSizeGiven ? givenSize : *askedSize;
    uint32 destinationSize = sourceSizeGiven ? *askedSize : givenSize;
    fHeader = result == 0 ? module_new<tACMSTREAMHEADER>() : nullptr;
    if (fHeader != nullptr) {
        fSourceBuffer = static_cast<uint8*>(module_malloc(max_c<uint32>(sourceSize, 1)));
        fDestinationBuffer = static_cast<uint8*>(module_malloc(max_c<uint32>(destinationSize, 1)));
    }
    if (fSourceBuffer != nullptr && fDestinationBuffer != nullptr) {
        fSourceCapacity = sourceSize;
        fDestinationCapacity = destinationSize;
        fHeader->cbStruct = sizeof(tACMSTREAMHEADER);
        fHeader->pbSrc = module_address(fSourceBuffer);
        fHeader->cbSrcLength = sourceSize;
        fHeader->pbDst = module_address(fDestinationBuffer);
        fHeader->cbDstLength = destinationSize;
        if (acmStreamPrepareHeader(fAcmStream, fHeader, 0) == 0) {
            fFirstConvert = true;
            return B_OK;
        }
    }
    ReleaseConversion();
    return -1;
}

void CACMCodec::ReleaseConversion()
{
    module_free(fDestinationBuffer);
    fDestinationBuffer = nullptr;
    module_free(fSourceBuffer);
    fSourceBuffer = nullptr;
    fSourceCapacity = fDestinationCapacity = 0;
    module_free(fHeader);
    fHeader = nullptr;
    if (fAcmStream != nullptr)
        acmStreamClose(fAcmStream, 0);
    fAcmStream = nullptr;
    module_free(fSource);
    fSource = nullptr;
}

status_t CACMCodec::BeginConversionEx(const tWAVEFORMATEX* source, uint16 destinationTag,
                                      const media_raw_audio_format* destination, uint32 sourceSize,
                                      uint32* destinationSize)
{
    return Begin(source, FindSuitableWaveFormat(destinationTag, destination), true, sourceSize,
                 destinationSize, true);
}

status_t CACMCodec::BeginConversionEx(const tWAVEFORMATEX* source, uint16 destinationTag,
                                      const media_raw_audio_format* destination, uint32* sourceSize,
                                      uint32 destinationSize)
{
    return Begin(source, FindSuitableWaveFormat(destinationTag, destination), false,
                 destinationSize, sourceSize, true);
}

status_t CACMCodec::BeginConversion(uint16 sourceTag, const media_raw_audio_format* source,
                                    uint16 destinationTag,
                                    const media_raw_audio_format* destination, uint32* sourceSize,
                                    uint32 destinationSize)
{
    return Begin(FindSuitableWaveFormat(sourceTag, source),
                 FindSuitableWaveFormat(destinationTag, destination), false, destinationSize,
                 sourceSize, false);
}

status_t CACMCodec::BeginConversion(uint16 sourceTag, const media_raw_audio_format* source,
                                    uint16 destinationTag,
                                    const media_raw_audio_format* destination, uint32 sourceSize,
                                    uint32* destinationSize)
{
    return Begin(FindSuitableWaveFormat(sourceTag, source),
                 FindSuitableWaveFormat(destinationTag, destination), true, sourceSize,
                 destinationSize, false);
}

int32 CACMCodec::Convert(const void* source, uint32 size, const void** output, uint32* outputSize,
                         bool last)
{
    if (fAcmStream == nullptr || (source == nullptr && size > 0) || output == nullptr ||
        outputSize == nullptr)
        return -1;
    uint32 count = min_c(size, fSourceCapacity);
    if (count > 0)
        memcpy(fSourceBuffer, source, count);
    // The header is the driver's to write; it gets our buffers back each time.
    fHeader->pbSrc = module_address(fSourceBuffer);
    fHeader->cbSrcLength = count;
    fHeader->pbDst = module_address(fDestinationBuffer);
    fHeader->cbDstLength = fDestinationCapacity;
    uint32 flags = last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
    if (fFirstConvert) {
        flags |= ACM_STREAMCONVERTF_START;
        fFirstConvert = false;
    }
    int32 result = acmStreamConvert(fAcmStream, fHeader, flags);
    fHeader->cbSrcLength = fSourceCapacity;
    if (result != 0)
        return -1;
    *output = fDestinationBuffer;
    *outputSize = min_c(fHeader->cbDstLengthUsed, fDestinationCapacity);
    return int32(min_c(fHeader->cbSrcLengthUsed, count));
}

status_t CACMCodec::EndConversion()
{
    if (fAcmStream == nullptr)
        return -1;
    acmStreamUnprepareHeader(fAcmStream, fHeader, 0);
    ReleaseConversion();
    return B_OK;
}
