/* The driver side of the ACM interface: messages and the structures a
 * driver receives (published layouts, not in the cross compiler's headers). */
#pragma once

#include <windows.h>

#include <mmreg.h>
#include <msacm.h>

#ifndef ACMDM_BASE
#define ACMDM_BASE 0x6000
#endif
#define ACMDM_DRIVER_DETAILS (ACMDM_BASE + 10)
#define ACMDM_FORMATTAG_DETAILS (ACMDM_BASE + 25)
#define ACMDM_FORMAT_DETAILS (ACMDM_BASE + 26)
#define ACMDM_STREAM_OPEN (ACMDM_BASE + 76)
#define ACMDM_STREAM_CLOSE (ACMDM_BASE + 77)
#define ACMDM_STREAM_SIZE (ACMDM_BASE + 78)
#define ACMDM_STREAM_CONVERT (ACMDM_BASE + 79)
#define ACMDM_STREAM_PREPARE (ACMDM_BASE + 81)
#define ACMDM_STREAM_UNPREPARE (ACMDM_BASE + 82)

typedef struct {
    DWORD cbStruct;
    LPWAVEFORMATEX pwfxSrc;
    LPWAVEFORMATEX pwfxDst;
    LPWAVEFILTER pwfltr;
    DWORD_PTR dwCallback;
    DWORD_PTR dwInstance;
    DWORD fdwOpen;
    DWORD fdwDriver;
    DWORD_PTR dwDriver;
    HACMSTREAM has;
} ACMDRVSTREAMINSTANCE;

typedef struct {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    LPBYTE pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    LPBYTE pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD fdwConvert;
    void* padshNext;
    DWORD fdwPrepared;
    DWORD_PTR dwPrepared;
    LPBYTE pbPreparedSrc;
    DWORD cbPreparedSrcLength;
    LPBYTE pbPreparedDst;
    DWORD cbPreparedDstLength;
    DWORD_PTR dwReservedDriver[2];
} ACMDRVSTREAMHEADER;

typedef struct {
    DWORD cbStruct;
    DWORD fdwSize;
    DWORD cbSrcLength;
    DWORD cbDstLength;
} ACMDRVSTREAMSIZE;

_Static_assert(sizeof(ACMDRVSTREAMINSTANCE) == 40, "stream instance layout");
_Static_assert(sizeof(ACMDRVSTREAMHEADER) == 84, "stream header layout");
_Static_assert(sizeof(ACMDRVSTREAMSIZE) == 16, "stream size layout");
_Static_assert(sizeof(ACMDRIVERDETAILSW) == 1800, "driver details layout");
_Static_assert(sizeof(ACMFORMATTAGDETAILSW) == 120, "format tag details layout");
_Static_assert(sizeof(ACMFORMATDETAILSW) == 280, "format details layout");
