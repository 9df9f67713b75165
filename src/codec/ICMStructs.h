// The published Video for Windows structures and messages as a
// decompressor driver sees them: 32-bit fields, pointers as 32-bit module
// addresses. Every structure handed to a driver lives in the module address
// space.
#pragma once

#include "platform/support/SupportDefs.h"

struct tBITMAPINFOHEADER {
    uint32 biSize;
    int32 biWidth;
    int32 biHeight; // positive: the rows bottom up
    uint16 biPlanes;
    uint16 biBitCount;
    uint32 biCompression;
    uint32 biSizeImage;
    int32 biXPelsPerMeter;
    int32 biYPelsPerMeter;
    uint32 biClrUsed;
    uint32 biClrImportant;
} __attribute__((packed));
static_assert(sizeof(tBITMAPINFOHEADER) == 40);

struct tICOPEN {
    uint32 dwSize;
    uint32 fccType;
    uint32 fccHandler;
    uint32 dwVersion;
    uint32 dwFlags;
    int32 dwError;
    uint32 pV1Reserved;
    uint32 pV2Reserved;
    uint32 dnDevNode;
};

struct tICINFO {
    uint32 dwSize;
    uint32 fccType;
    uint32 fccHandler;
    uint32 dwFlags;
    uint32 dwVersion;
    uint32 dwVersionICM;
    uint16 szName[16];
    uint16 szDescription[128];
    uint16 szDriver[128];
};
static_assert(sizeof(tICINFO) == 568);

struct tICDECOMPRESS {
    uint32 dwFlags;
    uint32 lpbiInput;
    uint32 lpInput;
    uint32 lpbiOutput;
    uint32 lpOutput;
    uint32 ckid;
};

// Four-character codes as they lie in memory: the first character lowest.
constexpr uint32 make_fourcc(char a, char b, char c, char d)
{
    return uint32(uint8(a)) | uint32(uint8(b)) << 8 | uint32(uint8(c)) << 16 |
           uint32(uint8(d)) << 24;
}

constexpr uint32 kICTypeVideo = make_fourcc('v', 'i', 'd', 'c');

enum : uint32 {
    kICModeDecompress = 2,

    kBIRGB = 0,
    kBIRLE8 = 1,
    kBIRLE4 = 2,
    kBIBitfields = 3,
};

constexpr uint32 kFourCCYUY2 = make_fourcc('Y', 'U', 'Y', '2');
constexpr uint32 kFourCCI420 = make_fourcc('I', '4', '2', '0');
constexpr uint32 kFourCCIYUV = make_fourcc('I', 'Y', 'U', 'V');
constexpr uint32 kFourCCYV12 = make_fourcc('Y', 'V', '1', '2');

enum : uint32 {
    ICM_USER = 0x4000,
    ICM_GETINFO = 0x5002,
    ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10,
    ICM_DECOMPRESS_QUERY = ICM_USER + 11,
    ICM_DECOMPRESS_BEGIN = ICM_USER + 12,
    ICM_DECOMPRESS = ICM_USER + 13,
    ICM_DECOMPRESS_END = ICM_USER + 14,
    ICM_DECOMPRESS_GET_PALETTE = ICM_USER + 30,
};

enum : uint32 {
    ICDECOMPRESS_PREROLL = 0x20000000,
    ICDECOMPRESS_NULLFRAME = 0x10000000,
    ICDECOMPRESS_NOTKEYFRAME = 0x08000000,
};

enum : int32 {
    ICERR_OK = 0,
    ICERR_UNSUPPORTED = -1,
    ICERR_BADFORMAT = -2,
    ICERR_ERROR = -100,
};
