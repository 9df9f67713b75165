// The published Windows ACM structures as a driver sees them: 32-bit
// fields, pointers as 32-bit module addresses. Every structure handed to a
// driver lives in the module address space.
#pragma once

#include "platform/support/SupportDefs.h"

struct tWAVEFORMATEX {
    uint16 wFormatTag;
    uint16 nChannels;
    uint32 nSamplesPerSec;
    uint32 nAvgBytesPerSec;
    uint16 nBlockAlign;
    uint16 wBitsPerSample;
    uint16 cbSize; // bytes of codec data that follow
} __attribute__((packed));

struct ACMDRVOPENDESCW {
    uint32 cbStruct;
    uint32 fccType;
    uint32 fccComp;
    uint32 dwVersion;
    uint32 dwFlags;
    uint32 dwError;
    uint32 pszSectionName;
    uint32 pszAliasName;
    uint32 dnDevNode;
};

struct ACMDRVSTREAMINSTANCE {
    uint32 cbStruct;
    uint32 pwfxSrc;
    uint32 pwfxDst;
    uint32 pwfltr;
    uint32 dwCallback;
    uint32 dwInstance;
    uint32 fdwOpen;
    uint32 fdwDriver;
    uint32 dwDriver;
    uint32 has;
};

struct ACMDRVSTREAMSIZE {
    uint32 cbStruct;
    uint32 fdwSize;
    uint32 cbSrcLength;
    uint32 cbDstLength;
};

struct tACMSTREAMHEADER {
    uint32 cbStruct;
    uint32 fdwStatus;
    uint32 dwUser;
    uint32 pbSrc;
    uint32 cbSrcLength;
    uint32 cbSrcLengthUsed;
    uint32 dwSrcUser;
    uint32 pbDst;
    uint32 cbDstLength;
    uint32 cbDstLengthUsed;
    uint32 dwDstUser;
    uint32 dwReservedDriver[10]; // the first is the driver's fdwConvert
};

struct tACMDRIVERDETAILSW {
    uint32 cbStruct;
    uint32 fccType;
    uint32 fccComp;
    uint16 wMid;
    uint16 wPid;
    uint32 vdwACM;
    uint32 vdwDriver;
    uint32 fdwSupport;
    uint32 cFormatTags;
    uint32 cFilterTags;
    uint32 hicon;
    uint16 szShortName[32];
    uint16 szLongName[128];
    uint16 szCopyright[80];
    uint16 szLicensing[128];
    uint16 szFeatures[512];
};

struct tACMFORMATTAGDETAILSW {
    uint32 cbStruct;
    uint32 dwFormatTagIndex;
    uint32 dwFormatTag;
    uint32 cbFormatSize;
    uint32 fdwSupport;
    uint32 cStandardFormats;
    uint16 szFormatTag[48];
};

struct tACMFORMATDETAILSW {
    uint32 cbStruct;
    uint32 dwFormatIndex;
    uint32 dwFormatTag;
    uint32 fdwSupport;
    uint32 pwfx; // tWAVEFORMATEX of cbwfx bytes
    uint32 cbwfx;
    uint16 szFormat[128];
};

static_assert(sizeof(tWAVEFORMATEX) == 18);
static_assert(sizeof(ACMDRVOPENDESCW) == 36);
static_assert(sizeof(ACMDRVSTREAMINSTANCE) == 40);
static_assert(sizeof(ACMDRVSTREAMSIZE) == 16);
static_assert(sizeof(tACMSTREAMHEADER) == 84);
static_assert(sizeof(tACMDRIVERDETAILSW) == 1800);
static_assert(sizeof(tACMFORMATTAGDETAILSW) == 120);
static_assert(sizeof(tACMFORMATDETAILSW) == 280);

enum : uint32 {
    // results
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_NOTSUPPORTED = 8,
    MMSYSERR_INVALPARAM = 11,
    ACMERR_NOTPOSSIBLE = 512,

    // installable-driver messages
    DRV_LOAD = 1,
    DRV_ENABLE = 2,
    DRV_OPEN = 3,

    // ACM driver messages
    ACMDM_DRIVER_DETAILS = 0x600A,
    ACMDM_FORMATTAG_DETAILS = 0x6019,
    ACMDM_FORMAT_DETAILS = 0x601A,
    ACMDM_STREAM_OPEN = 0x604C,
    ACMDM_STREAM_CLOSE = 0x604D,
    ACMDM_STREAM_SIZE = 0x604E,
    ACMDM_STREAM_CONVERT = 0x604F,
    ACMDM_STREAM_PREPARE = 0x6051,
    ACMDM_STREAM_UNPREPARE = 0x6052,

    // flags
    ACM_FORMATTAGDETAILSF_INDEX = 0,
    ACM_FORMATDETAILSF_INDEX = 0,
    ACM_STREAMSIZEF_SOURCE = 0,
    ACM_STREAMSIZEF_DESTINATION = 1,
    ACM_STREAMCONVERTF_BLOCKALIGN = 0x4,
    ACM_STREAMCONVERTF_START = 0x10,
    ACM_STREAMCONVERTF_END = 0x20,
    ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000,

    WAVE_FORMAT_PCM = 1,
};
