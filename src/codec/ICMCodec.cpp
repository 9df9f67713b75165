#include "codec/ICMCodec.h"

#include "platform/kernel/ModuleSpace.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace
{

// Pictures larger than this a side are not a real stream's.
constexpr int32 kMaxSide = 16384;
// Decoders may read a little past the end of a picture's bytes.
constexpr size_t kInputPadding = 64;
// A BITMAPINFO with a whole palette, or with colour masks.
constexpr size_t kMaxFormatSize = sizeof(tBITMAPINFOHEADER) + 256 * 4;

uint32 address_of(const void* pointer)
{
    return module_address(pointer);
}

tBITMAPINFOHEADER header_of(const std::vector<uint8>& format)
{
    tBITMAPINFOHEADER header{};
    memcpy(&header, format.data(), std::min(format.size(), sizeof(header)));
    return header;
}

std::vector<uint8> bitmap_format(int32 width, int32 height, uint16 bits, uint32 compression,
                                 const uint32* colours = nullptr, uint32 colourCount = 0)
{
    tBITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bits;
    header.biCompression = compression;
    header.biClrUsed = bits == 8 ? colourCount : 0;
    header.biSizeImage = dib_picture_size(header);
    std::vector<uint8> format(sizeof(header) + colourCount * 4);
    memcpy(format.data(), &header, sizeof(header));
    if (colourCount > 0)
        memcpy(format.data() + sizeof(header), colours, colourCount * 4);
    return format;
}

std::string ascii(const uint16* units, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count && units[i] != 0; i++)
        text += units[i] >= 0x20 && units[i] < 0x80 ? char(units[i]) : '?';
    return text;
}

// The compressed formats asked for when a module is found, with a bit depth
// their streams have.
struct probe_format {
    uint32 fourCC;
    uint16 bits;
};

const probe_format kProbeFormats[] = {
    {make_fourcc('c', 'v', 'i', 'd'), 24},
    {make_fourcc('C', 'R', 'A', 'M'), 16},
    {make_fourcc('M', 'S', 'V', 'C'), 16},
    {make_fourcc('W', 'H', 'A', 'M'), 16},
    {make_fourcc('C', 'R', 'A', 'M'), 8},
    {kBIRLE8, 8},
    {kBIRLE4, 4},
    {make_fourcc('m', 'r', 'l', 'e'), 8},
    {make_fourcc('I', 'V', '3', '1'), 24},
    {make_fourcc('I', 'V', '3', '2'), 24},
    {make_fourcc('I', 'V', '4', '1'), 24},
    {make_fourcc('I', 'V', '5', '0'), 24},
    {make_fourcc('M', 'P', '4', '2'), 24},
    {make_fourcc('M', 'P', '4', '3'), 24},
    {make_fourcc('D', 'I', 'V', '3'), 24},
    {make_fourcc('D', 'I', 'V', 'X'), 24},
    {make_fourcc('W', 'M', 'V', '1'), 24},
    {make_fourcc('W', 'M', 'V', '2'), 24},
    {make_fourcc('W', 'M', 'V', '3'), 24},
    {make_fourcc('t', 's', 'c', 'c'), 24},
    {make_fourcc('V', 'P', '3', '1'), 24},
    {make_fourcc('U', 'L', 'T', 'I'), 24},
};

} // namespace

uint32 dib_picture_size(const tBITMAPINFOHEADER& header)
{
    if (header.biWidth <= 0 || header.biWidth > kMaxSide || header.biHeight == 0 ||
        header.biHeight < -kMaxSide || header.biHeight > kMaxSide)
        return 0;
    uint64 width = uint64(header.biWidth);
    uint64 height = uint64(header.biHeight < 0 ? -int64(header.biHeight) : header.biHeight);
    switch (header.biCompression) {
    case kBIRGB:
    case kBIBitfields:
        if (header.biBitCount != 8 && header.biBitCount != 16 && header.biBitCount != 24 &&
            header.biBitCount != 32)
            return 0;
        if (header.biCompression == kBIBitfields && header.biBitCount < 16)
            return 0;
        return uint32((width * header.biBitCount + 31) / 32 * 4 * height);
    case kFourCCYUY2:
        return header.biBitCount == 16 && width % 2 == 0 ? uint32(width * height * 2) : 0;
    case kFourCCI420:
    case kFourCCIYUV:
    case kFourCCYV12:
        return header.biBitCount == 12 && width % 2 == 0 && height % 2 == 0
                   ? uint32(width * height * 3 / 2)
                   : 0;
    default:
        return 0;
    }
}

CICMCodec::CICMCodec(const char* moduleName, uint32 fourCC)
    : fStatus(B_ERROR), fDriver(nullptr), fHandler(0), fBegun(false), fInputFormatBlock(nullptr),
      fInputFormatCapacity(0), fOutputFormatBlock(nullptr), fOutputFormatCapacity(0),
      fDataBlock(nullptr), fDataCapacity(0), fPictureBlock(nullptr), fRequest(nullptr),
      fOutputSize(0), fInputSize(0), fInputHeaderSize(0)
{
    auto* open = static_cast<tICOPEN*>(module_calloc(1, sizeof(tICOPEN)));
    auto* info = static_cast<tICINFO*>(module_calloc(1, sizeof(tICINFO)));
    fRequest = static_cast<tICDECOMPRESS*>(module_calloc(1, sizeof(tICDECOMPRESS)));
    if (open == nullptr || info == nullptr || fRequest == nullptr || moduleName == nullptr) {
        module_free(open);
        module_free(info);
        return;
    }
    open->dwSize = sizeof(tICOPEN);
    open->fccType = kICTypeVideo;
    open->fccHandler = fourCC;
    open->dwFlags = kICModeDecompress;
    fDriver = OpenDriver(moduleName, nullptr, int32(address_of(open)));
    module_free(open);
    // A decompressor that opens answers with an identifier of its own.
    int32 size = 0;
    if (fDriver != nullptr && fDriver->id != 0) {
        info->dwSize = sizeof(tICINFO);
        if (SendDriverMessage(fDriver, ICM_GETINFO, int32(address_of(info)), sizeof(tICINFO),
                              &size) == B_OK &&
            size > 0 && info->fccType == kICTypeVideo) {
            fHandler = info->fccHandler;
            fName = ascii(info->szName, std::size(info->szName));
            fStatus = B_OK;
        }
    }
    module_free(info);
}

CICMCodec::~CICMCodec()
{
    End();
    if (fDriver != nullptr)
        CloseDriver(fDriver, 0, 0);
    module_free(fInputFormatBlock);
    module_free(fOutputFormatBlock);
    module_free(fDataBlock);
    module_free(fPictureBlock);
    module_free(fRequest);
}

uint32 CICMCodec::Place(const void* bytes, size_t size, void** block, size_t* capacity)
{
    if (*block == nullptr || *capacity < size + kInputPadding) {
        module_free(*block);
        *capacity = std::max<size_t>(size + kInputPadding, 4096);
        *block = module_calloc(1, *capacity);
        if (*block == nullptr) {
            *capacity = 0;
            return 0;
        }
    }
    if (size > 0)
        memcpy(*block, bytes, size);
    return address_of(*block);
}

status_t CICMCodec::Send(uint32 message, uint32 lParam1, uint32 lParam2, int32* result)
{
    return SendDriverMessage(fDriver, message, int32(lParam1), int32(lParam2), result);
}

bool CICMCodec::Accepts(const std::vector<uint8>& input)
{
    if (fStatus != B_OK || input.size() < sizeof(tBITMAPINFOHEADER))
        return false;
    uint32 in = Place(input.data(), input.size(), &fInputFormatBlock, &fInputFormatCapacity);
    fInputSize = input.size();
    fInputHeaderSize = header_of(input).biSize;
    int32 result = ICERR_ERROR;
    return in != 0 && Send(ICM_DECOMPRESS_QUERY, in, 0, &result) == B_OK && result == ICERR_OK;
}

std::unique_ptr<CICMCodec> CICMCodec::Find(const char* moduleName,
                                           std::vector<std::unique_ptr<CICMCodec>>* tried)
{
    // Windows would know the code from the driver's installation; here the
    // driver is asked with none, then with each code it may be known by.
    std::vector<uint32> handlers = {0};
    for (const probe_format& format : kProbeFormats) {
        if (std::find(handlers.begin(), handlers.end(), format.fourCC) == handlers.end())
            handlers.push_back(format.fourCC);
    }
    for (uint32 handler : handlers) {
        auto codec = std::make_unique<CICMCodec>(moduleName, handler);
        if (codec->InitCheck() == B_OK) {
            // The code it opened with, when it does not say one of its own.
            if (codec->fHandler == 0)
                codec->fHandler = handler;
            return codec;
        }
        bool opened = codec->fDriver != nullptr;
        if (tried != nullptr)
            tried->push_back(std::move(codec));
        // Not a driver at all: no code will change that.
        if (!opened)
            break;
    }
    return nullptr;
}

std::vector<uint32> CICMCodec::ProbeFourCCs()
{
    std::vector<uint32> codes;
    auto ask = [&](uint32 fourCC, uint16 bits) {
        if (fourCC == kBIRGB || std::find(codes.begin(), codes.end(), fourCC) != codes.end())
            return;
        // A grey palette for the formats that have one.
        std::vector<uint8> input = bitmap_format(64, 64, bits, fourCC);
        tBITMAPINFOHEADER header = header_of(input);
        if (bits <= 8) {
            header.biClrUsed = 1u << bits;
            input.resize(sizeof(header) + header.biClrUsed * 4);
            for (uint32 i = 0; i < header.biClrUsed; i++)
                memset(input.data() + sizeof(header) + i * 4, int(i * 255 / (header.biClrUsed - 1)),
                       3);
        }
        header.biSizeImage = 64 * 64 * 3;
        memcpy(input.data(), &header, sizeof(header));
        if (Accepts(input))
            codes.push_back(fourCC);
    };
    ask(fHandler, 24);
    for (const probe_format& format : kProbeFormats)
        ask(format.fourCC, format.bits);
    return codes;
}

std::vector<uint8> CICMCodec::SuggestedOutput()
{
    uint32 in = address_of(fInputFormatBlock);
    int32 size = 0;
    if (Send(ICM_DECOMPRESS_GET_FORMAT, in, 0, &size) != B_OK ||
        size < int32(sizeof(tBITMAPINFOHEADER)))
        return {};
    size = std::min<int32>(size, int32(kMaxFormatSize));
    std::vector<uint8> blank(size_t(size), 0);
    uint32 out = Place(blank.data(), blank.size(), &fOutputFormatBlock, &fOutputFormatCapacity);
    int32 result = ICERR_ERROR;
    if (out == 0 || Send(ICM_DECOMPRESS_GET_FORMAT, in, out, &result) != B_OK || result != ICERR_OK)
        return {};
    auto* bytes = static_cast<const uint8*>(fOutputFormatBlock);
    std::vector<uint8> format(bytes, bytes + size);
    // Only the colours the format uses: a palette, or the masks.
    tBITMAPINFOHEADER header = header_of(format);
    uint32 colours = header.biCompression == kBIBitfields ? 3
                     : header.biBitCount == 8 ? (header.biClrUsed != 0 ? header.biClrUsed : 256)
                                              : 0;
    size_t wanted = sizeof(header) + std::min<uint32>(colours, 256) * 4;
    if (format.size() < wanted)
        return {};
    format.resize(wanted);
    if (header.biBitCount == 8) {
        header.biClrUsed = std::min<uint32>(colours, 256);
        memcpy(format.data(), &header, sizeof(header));
        // The palette the pictures will use: the driver's own, else that of
        // the stream (drivers of palette formats pass the indices on).
        result = ICERR_ERROR;
        if (Send(ICM_DECOMPRESS_GET_PALETTE, in, out, &result) == B_OK && result == ICERR_OK) {
            memcpy(format.data() + sizeof(header), bytes + sizeof(header),
                   format.size() - sizeof(header));
        } else {
            size_t at = std::min<size_t>(fInputHeaderSize, fInputFormatCapacity);
            size_t available =
                std::min(fInputSize, fInputFormatCapacity) - std::min(at, fInputSize);
            memset(format.data() + sizeof(header), 0, format.size() - sizeof(header));
            memcpy(format.data() + sizeof(header),
                   static_cast<const uint8*>(fInputFormatBlock) + at,
                   std::min(available, format.size() - sizeof(header)));
        }
    }
    return format;
}

bool CICMCodec::TryOutput(const std::vector<uint8>& format)
{
    tBITMAPINFOHEADER header = header_of(format);
    uint32 size = dib_picture_size(header);
    if (size == 0)
        return false;
    if (header.biCompression == kBIBitfields) {
        // The masks of RGB565, RGB555 and RGB32 only.
        uint32 masks[3] = {};
        memcpy(masks, format.data() + sizeof(header), sizeof(masks));
        bool rgb565 = header.biBitCount == 16 && masks[0] == 0xF800 && masks[1] == 0x07E0 &&
                      masks[2] == 0x001F;
        bool rgb555 = header.biBitCount == 16 && masks[0] == 0x7C00 && masks[1] == 0x03E0 &&
                      masks[2] == 0x001F;
        bool rgb32 = header.biBitCount == 32 && masks[0] == 0xFF0000 && masks[1] == 0xFF00 &&
                     masks[2] == 0xFF;
        if (!rgb565 && !rgb555 && !rgb32)
            return false;
    }
    uint32 in = address_of(fInputFormatBlock);
    uint32 out = Place(format.data(), format.size(), &fOutputFormatBlock, &fOutputFormatCapacity);
    int32 result = ICERR_ERROR;
    if (out == 0 || Send(ICM_DECOMPRESS_QUERY, in, out, &result) != B_OK || result != ICERR_OK)
        return false;
    module_free(fPictureBlock);
    fPictureBlock = module_calloc(1, size);
    if (fPictureBlock == nullptr)
        return false;
    if (Send(ICM_DECOMPRESS_BEGIN, in, out, &result) != B_OK || result != ICERR_OK)
        return false;
    fBegun = true;
    fOutputFormat = format;
    fOutputSize = size;
    return true;
}

bool CICMCodec::Begin(const std::vector<uint8>& input)
{
    End();
    if (!Accepts(input))
        return false;
    tBITMAPINFOHEADER in = header_of(input);
    int32 width = in.biWidth;
    int32 height = in.biHeight < 0 ? -in.biHeight : in.biHeight;
    if (width <= 0 || width > kMaxSide || height <= 0 || height > kMaxSide)
        return false;
    std::vector<std::vector<uint8>> candidates;
    if (std::vector<uint8> suggested = SuggestedOutput(); !suggested.empty())
        candidates.push_back(std::move(suggested));
    const uint32 masks565[3] = {0xF800, 0x07E0, 0x001F};
    candidates.push_back(bitmap_format(width, height, 32, kBIRGB));
    candidates.push_back(bitmap_format(width, height, 24, kBIRGB));
    candidates.push_back(bitmap_format(width, height, 16, kBIBitfields, masks565, 3));
    candidates.push_back(bitmap_format(width, height, 16, kBIRGB));
    candidates.push_back(bitmap_format(width, height, 16, kFourCCYUY2));
    candidates.push_back(bitmap_format(width, height, 12, kFourCCI420));
    // 8-bit pictures take the stream's own palette.
    uint32 colours =
        in.biBitCount <= 8 ? (in.biClrUsed != 0 ? in.biClrUsed : 1u << in.biBitCount) : 0;
    size_t paletteAt = std::min<size_t>(in.biSize, input.size());
    colours = std::min<uint32>(colours, uint32((input.size() - paletteAt) / 4));
    if (colours > 0 && colours <= 256) {
        std::vector<uint32> palette(colours);
        memcpy(palette.data(), input.data() + paletteAt, colours * 4);
        candidates.push_back(bitmap_format(width, height, 8, kBIRGB, palette.data(), colours));
    }
    for (const std::vector<uint8>& candidate : candidates) {
        if (TryOutput(candidate))
            return true;
    }
    return false;
}

status_t CICMCodec::Decompress(const uint8* data, size_t size, uint32 flags, const uint8** picture)
{
    *picture = nullptr;
    if (!fBegun || size > UINT32_MAX / 2)
        return B_ERROR;
    if (size == 0)
        flags |= ICDECOMPRESS_NULLFRAME;
    uint32 bytes = Place(data, size, &fDataBlock, &fDataCapacity);
    if (bytes == 0)
        return B_NO_MEMORY;
    memset(static_cast<uint8*>(fDataBlock) + size, 0, kInputPadding);
    auto* input = static_cast<tBITMAPINFOHEADER*>(fInputFormatBlock);
    input->biSizeImage = uint32(size);
    fRequest->dwFlags = flags;
    fRequest->lpbiInput = address_of(fInputFormatBlock);
    fRequest->lpInput = bytes;
    fRequest->lpbiOutput = address_of(fOutputFormatBlock);
    fRequest->lpOutput = address_of(fPictureBlock);
    fRequest->ckid = 0;
    int32 result = ICERR_ERROR;
    status_t status = Send(ICM_DECOMPRESS, address_of(fRequest), sizeof(tICDECOMPRESS), &result);
    if (status != B_OK)
        return B_BAD_ADDRESS;
    if (result < 0)
        return B_ERROR;
    *picture = static_cast<const uint8*>(fPictureBlock);
    return B_OK;
}

void CICMCodec::End()
{
    if (!fBegun)
        return;
    fBegun = false;
    int32 result = 0;
    Send(ICM_DECOMPRESS_END, 0, 0, &result);
}
