/*
 * A real ACM codec driver for the tests: decodes IMA ADPCM (WAV block
 * layout), G.711 mu-law and A-law to 16-bit PCM. It behaves as a codec
 * module does in the field: it keeps a setting in the registry, guards its
 * state with a critical section and converts on a worker thread of its own
 * that it drives with events.
 *
 * Build options:
 *   -DADPCM_TAG=0x55   answer format tag 0x55 in place of 0x11 (the build
 *                      installed as "L3codeca.acm" for the player's tests)
 *   -DFAULT_AT_BLOCK=n call an import that has no replacement when asked to
 *                      convert the n-th block (the faulting driver)
 *   -DWORKER_FAULT_AT_BLOCK=n the same, but on the driver's worker thread,
 *                      while the caller waits for the conversion to be done
 *   -DLIMIT_AT_BLOCK=n makes events without end when asked to convert the
 *                      n-th block, until the host refuses (a module over
 *                      its limits)
 *   -DFAIL_FORMAT_QUERY a driver whose format queries fail
 *   -DFAULT_ON_DETAILS  the same import call when asked for its details
 *   -DSPIN_AT_BLOCK=n  never returns from the n-th conversion: loops in its
 *                      own code (with -DSPIN_WITH_IMPORTS, calling imports
 *                      as it loops), for closing a player while module code
 *                      runs
 *   -DHANG_IN_ATTACH   waits in its entry point for an event nobody sets
 *   -DHANG_IN_OPEN     waits for such an event when a conversion is opened
 *   -DHANG_IN_DETACH   loops in its entry point as it is unloaded
 *   -DDIRTY_AT_BLOCK=n from the n-th block on, takes another 64 MiB from its
 *                      heap with each conversion and writes every page
 *   -DWILD_AT_BLOCK=n  writes to memory it never asked for when asked to
 *                      convert the n-th block (with -DWILD_READ, reads it)
 *   -DWRITE_PLAYER_KEYS writes the player's own settings when opened: the
 *                      sound decoder choice and a forged module record
 */
#include <windows.h>

#include <mmreg.h>
#include <msacm.h>

#include "acmdriver.h"

#ifndef ADPCM_TAG
#define ADPCM_TAG WAVE_FORMAT_IMA_ADPCM
#endif

#if defined(FAULT_AT_BLOCK) || defined(WORKER_FAULT_AT_BLOCK) || defined(FAULT_ON_DETAILS)
/* No row binds this name: calling it ends the call with an error. */
__declspec(dllimport) void WINAPI NoSuchFunctionAnywhere(void);
#endif

/* ---- tiny C runtime: the module links nothing but its imports ---------- */

void* memset(void* to, int value, size_t size)
{
    unsigned char* p = to;
    while (size-- > 0)
        *p++ = (unsigned char)value;
    return to;
}

void* memcpy(void* to, const void* from, size_t size)
{
    unsigned char* p = to;
    const unsigned char* q = from;
    while (size-- > 0)
        *p++ = *q++;
    return to;
}

static void copy_name(WCHAR* to, const char* from, int room)
{
    int i = 0;
    for (; from[i] != 0 && i < room - 1; i++)
        to[i] = (WCHAR)from[i];
    to[i] = 0;
}

#include "codecs.h"

/* ---- formats --------------------------------------------------------------- */

static const DWORD kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
#define RATE_COUNT (sizeof(kRates) / sizeof(kRates[0]))
static const DWORD kTags[] = {WAVE_FORMAT_PCM, ADPCM_TAG, WAVE_FORMAT_MULAW, WAVE_FORMAT_ALAW};
#define TAG_COUNT (sizeof(kTags) / sizeof(kTags[0]))

static DWORD tag_format_size(DWORD tag)
{
    return tag == ADPCM_TAG ? sizeof(IMAADPCMWAVEFORMAT) : sizeof(WAVEFORMATEX);
}

static DWORD ima_block_align(DWORD rate, DWORD channels)
{
    return (rate <= 11025 ? 256 : rate <= 22050 ? 512 : 1024) * channels;
}

/* Standard format `index` of `tag`: every rate, mono then stereo. */
static BOOL fill_format(DWORD tag, DWORD index, WAVEFORMATEX* format)
{
    DWORD rate, channels;
    if (index >= 2 * RATE_COUNT)
        return FALSE;
    rate = kRates[index / 2];
    channels = 1 + index % 2;
    format->wFormatTag = (WORD)tag;
    format->nChannels = (WORD)channels;
    format->nSamplesPerSec = rate;
    format->cbSize = 0;
    if (tag == WAVE_FORMAT_PCM) {
        format->wBitsPerSample = 16;
        format->nBlockAlign = (WORD)(2 * channels);
    } else if (tag == ADPCM_TAG) {
        format->wBitsPerSample = 4;
        format->nBlockAlign = (WORD)ima_block_align(rate, channels);
        format->cbSize = 2;
        ((IMAADPCMWAVEFORMAT*)format)->wSamplesPerBlock =
            (WORD)ima_samples_per_block(format->nBlockAlign, channels);
    } else {
        format->wBitsPerSample = 8;
        format->nBlockAlign = (WORD)channels;
    }
    format->nAvgBytesPerSec =
        tag == ADPCM_TAG
            ? rate * format->nBlockAlign / ima_samples_per_block(format->nBlockAlign, channels)
            : rate * format->nBlockAlign;
    return TRUE;
}

/* ---- driver state ---------------------------------------------------------- */

static CRITICAL_SECTION gLock;
static LONG gOpenStreams;
static DWORD gCloseMessages; /* DRV_CLOSE, DRV_DISABLE, DRV_FREE received */
static DWORD gOpenCount;     /* from the registry, counted up at each open */
static LONG gBlocksConverted;

typedef struct {
    DWORD tag;
    DWORD channels;
    DWORD blockAlign;
    /* the conversion handed to the worker */
    ACMDRVSTREAMHEADER* header;
    LRESULT result;
    DWORD blocksSinceStart;
    BOOL quit;
    HANDLE work;
    HANDLE done;
    HANDLE thread;
} stream_state;

static void convert(stream_state* stream, ACMDRVSTREAMHEADER* header)
{
    DWORD blockAlign = stream->blockAlign;
    DWORD blocks = header->cbSrcLength / blockAlign;
    DWORD outPerBlock, b;
    if (stream->tag == ADPCM_TAG)
        outPerBlock = ima_samples_per_block(blockAlign, stream->channels) * stream->channels * 2;
    else
        outPerBlock = blockAlign * 2;
    if (blocks > header->cbDstLength / outPerBlock)
        blocks = header->cbDstLength / outPerBlock;
    if (header->fdwConvert & ACM_STREAMCONVERTF_START)
        stream->blocksSinceStart = 0;

    for (b = 0; b < blocks; b++) {
        const BYTE* in = header->pbSrc + b * blockAlign;
        short* out = (short*)(header->pbDst + b * outPerBlock);
        DWORD i;
        if (stream->tag == ADPCM_TAG)
            ima_decode_block(in, blockAlign, stream->channels, out);
        else if (stream->tag == WAVE_FORMAT_MULAW)
            for (i = 0; i < blockAlign; i++)
                out[i] = mulaw_expand(in[i]);
        else
            for (i = 0; i < blockAlign; i++)
                out[i] = alaw_expand(in[i]);
        stream->blocksSinceStart++;
        EnterCriticalSection(&gLock);
        gBlocksConverted++;
        LeaveCriticalSection(&gLock);
    }
    header->cbSrcLengthUsed = blocks * blockAlign;
    header->cbDstLengthUsed = blocks * outPerBlock;
}

static DWORD WINAPI worker(LPVOID parameter)
{
    stream_state* stream = parameter;
    for (;;) {
        if (WaitForSingleObject(stream->work, INFINITE) != WAIT_OBJECT_0)
            return 1;
        if (stream->quit)
            return 0;
#ifdef WORKER_FAULT_AT_BLOCK
        if (gBlocksConverted + (LONG)(stream->header->cbSrcLength / stream->blockAlign) >=
            WORKER_FAULT_AT_BLOCK)
            NoSuchFunctionAnywhere();
#endif
        convert(stream, stream->header);
        stream->result = MMSYSERR_NOERROR;
        SetEvent(stream->done);
    }
}

/* ---- registry: a setting of our own -------------------------------------- */

/* Leaves what the host sent us at the end in the registry, where the
 * tests can read it after the module is gone. */
static void record_close_messages(void)
{
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Reelmoth\\TestACM", 0, NULL, 0,
                        KEY_ALL_ACCESS, NULL, &key, &disposition) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, "CloseMessages", 0, REG_DWORD, (const BYTE*)&gCloseMessages,
                   sizeof(gCloseMessages));
    RegCloseKey(key);
}

#ifdef WRITE_PLAYER_KEYS
/* HKEY_CURRENT_USER\SOFTWARE\Reelmoth, one key name at a time. */
static void write_player_keys(void)
{
    HKEY software, player, decoders, forged;
    DWORD disposition;
    static const char kModules[] = "modules";
    static const BYTE kTags[] = {0x11, 0x00};
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE", 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                        &software, &disposition) != ERROR_SUCCESS)
        return;
    if (RegCreateKeyExA(software, "Reelmoth", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &player,
                        &disposition) == ERROR_SUCCESS) {
        RegSetValueExA(player, "Audio decoders", 0, REG_SZ, (const BYTE*)kModules,
                       sizeof(kModules));
        if (RegCreateKeyExA(player, "Decoders", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &decoders,
                            &disposition) == ERROR_SUCCESS) {
            if (RegCreateKeyExA(decoders, "forged.acm", 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                &forged, &disposition) == ERROR_SUCCESS) {
                RegSetValueExA(forged, "Tags", 0, REG_BINARY, kTags, sizeof(kTags));
                RegCloseKey(forged);
            }
            RegCloseKey(decoders);
        }
        RegCloseKey(player);
    }
    RegCloseKey(software);
}
#endif

#if defined(HANG_IN_ATTACH) || defined(HANG_IN_OPEN)
/* An event nobody will ever set. */
static void wait_forever(void)
{
    WaitForSingleObject(CreateEventA(NULL, TRUE, FALSE, NULL), INFINITE);
}
#endif

static void count_open_in_registry(void)
{
    HKEY key;
    DWORD type, size = sizeof(gOpenCount), disposition;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Reelmoth\\TestACM", 0, NULL, 0,
                        KEY_ALL_ACCESS, NULL, &key, &disposition) != ERROR_SUCCESS)
        return;
    gOpenCount = 0;
    if (RegQueryValueExA(key, "OpenCount", NULL, &type, (BYTE*)&gOpenCount, &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        gOpenCount = 0;
    gOpenCount++;
    RegSetValueExA(key, "OpenCount", 0, REG_DWORD, (const BYTE*)&gOpenCount, sizeof(gOpenCount));
    RegCloseKey(key);
}

/* ---- messages -------------------------------------------------------------- */

static LRESULT driver_details(ACMDRIVERDETAILSW* details)
{
    DWORD size = details->cbStruct < sizeof(*details) ? details->cbStruct : sizeof(*details);
    ACMDRIVERDETAILSW d;
    memset(&d, 0, sizeof(d));
    d.cbStruct = size;
    d.fccType = ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
    d.wMid = 1;
    d.wPid = 2;
    d.vdwACM = 0x03320000;
    d.vdwDriver = 0x01000000;
    d.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    d.cFormatTags = TAG_COUNT;
    copy_name(d.szShortName, "Reelmoth test codec", ACMDRIVERDETAILS_SHORTNAME_CHARS);
    copy_name(d.szLongName, "Reelmoth test codec: IMA ADPCM, mu-law, A-law",
              ACMDRIVERDETAILS_LONGNAME_CHARS);
    memcpy(details, &d, size);
    return MMSYSERR_NOERROR;
}

static LRESULT format_tag_details(ACMFORMATTAGDETAILSW* details, DWORD flags)
{
    DWORD index;
    switch (flags & ACM_FORMATTAGDETAILSF_QUERYMASK) {
    case ACM_FORMATTAGDETAILSF_INDEX:
        index = details->dwFormatTagIndex;
        break;
    case ACM_FORMATTAGDETAILSF_FORMATTAG:
        for (index = 0; index < TAG_COUNT && kTags[index] != details->dwFormatTag; index++) {
        }
        break;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
    if (index >= TAG_COUNT)
        return ACMERR_NOTPOSSIBLE;
    details->dwFormatTagIndex = index;
    details->dwFormatTag = kTags[index];
    details->cbFormatSize = tag_format_size(kTags[index]);
    details->fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    details->cStandardFormats = 2 * RATE_COUNT;
    copy_name(details->szFormatTag,
              index == 0   ? "PCM"
              : index == 1 ? "IMA ADPCM"
              : index == 2 ? "mu-law"
                           : "A-law",
              ACMFORMATTAGDETAILS_FORMATTAG_CHARS);
    return MMSYSERR_NOERROR;
}

static LRESULT format_details(ACMFORMATDETAILSW* details, DWORD flags)
{
    DWORD t;
#ifdef FAIL_FORMAT_QUERY
    (void)details;
    (void)flags;
    (void)t;
    return MMSYSERR_ERROR;
#endif
    if ((flags & ACM_FORMATDETAILSF_QUERYMASK) != ACM_FORMATDETAILSF_INDEX)
        return MMSYSERR_NOTSUPPORTED;
    for (t = 0; t < TAG_COUNT && kTags[t] != details->dwFormatTag; t++) {
    }
    if (t == TAG_COUNT || details->pwfx == NULL ||
        details->cbwfx < tag_format_size(details->dwFormatTag))
        return MMSYSERR_INVALPARAM;
    if (!fill_format(details->dwFormatTag, details->dwFormatIndex, details->pwfx))
        return ACMERR_NOTPOSSIBLE;
    details->fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    copy_name(details->szFormat, "", ACMFORMATDETAILS_FORMAT_CHARS);
    return MMSYSERR_NOERROR;
}

static BOOL can_convert(const WAVEFORMATEX* from, const WAVEFORMATEX* to)
{
    if (to->wFormatTag != WAVE_FORMAT_PCM || to->wBitsPerSample != 16 ||
        to->nChannels != from->nChannels || to->nSamplesPerSec != from->nSamplesPerSec ||
        from->nChannels < 1 || from->nChannels > 2 || from->nBlockAlign == 0)
        return FALSE;
    if (from->wFormatTag == ADPCM_TAG)
        return from->wBitsPerSample == 4 &&
               ima_samples_per_block(from->nBlockAlign, from->nChannels) > 1;
    if (from->wFormatTag == WAVE_FORMAT_MULAW || from->wFormatTag == WAVE_FORMAT_ALAW)
        return from->wBitsPerSample == 8 && from->nBlockAlign == from->nChannels;
    return FALSE;
}

static LRESULT stream_open(ACMDRVSTREAMINSTANCE* instance)
{
    stream_state* stream;
    DWORD threadId;
    if (!can_convert(instance->pwfxSrc, instance->pwfxDst))
        return ACMERR_NOTPOSSIBLE;
    if (instance->fdwOpen & ACM_STREAMOPENF_QUERY)
        return MMSYSERR_NOERROR;
#ifdef HANG_IN_OPEN
    wait_forever();
#endif
    stream = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(*stream));
    if (stream == NULL)
        return MMSYSERR_NOMEM;
    stream->tag = instance->pwfxSrc->wFormatTag;
    stream->channels = instance->pwfxSrc->nChannels;
    stream->blockAlign = instance->pwfxSrc->nBlockAlign;
    stream->work = CreateEventA(NULL, FALSE, FALSE, NULL);
    stream->done = CreateEventA(NULL, FALSE, FALSE, NULL);
    stream->thread = CreateThread(NULL, 0, worker, stream, 0, &threadId);
    if (stream->work == NULL || stream->done == NULL || stream->thread == NULL) {
        HeapFree(GetProcessHeap(), 0, stream);
        return MMSYSERR_NOMEM;
    }
    instance->dwDriver = (DWORD_PTR)stream;
    EnterCriticalSection(&gLock);
    gOpenStreams++;
    LeaveCriticalSection(&gLock);
    return MMSYSERR_NOERROR;
}

static LRESULT stream_close(ACMDRVSTREAMINSTANCE* instance)
{
    stream_state* stream = (stream_state*)instance->dwDriver;
    if (stream == NULL)
        return MMSYSERR_INVALHANDLE;
    stream->quit = TRUE;
    SetEvent(stream->work);
    WaitForSingleObject(stream->thread, INFINITE);
    CloseHandle(stream->thread);
    CloseHandle(stream->work);
    CloseHandle(stream->done);
    HeapFree(GetProcessHeap(), 0, stream);
    instance->dwDriver = 0;
    EnterCriticalSection(&gLock);
    gOpenStreams--;
    LeaveCriticalSection(&gLock);
    return MMSYSERR_NOERROR;
}

static LRESULT stream_size(ACMDRVSTREAMINSTANCE* instance, ACMDRVSTREAMSIZE* size)
{
    const WAVEFORMATEX* from = instance->pwfxSrc;
    DWORD blockAlign = from->nBlockAlign;
    DWORD pcmPerBlock =
        from->wFormatTag == ADPCM_TAG
            ? ima_samples_per_block(blockAlign, from->nChannels) * from->nChannels * 2
            : blockAlign * 2;
    switch (size->fdwSize & ACM_STREAMSIZEF_QUERYMASK) {
    case ACM_STREAMSIZEF_SOURCE:
        size->cbDstLength = size->cbSrcLength / blockAlign * pcmPerBlock;
        return size->cbDstLength == 0 ? ACMERR_NOTPOSSIBLE : MMSYSERR_NOERROR;
    case ACM_STREAMSIZEF_DESTINATION:
        size->cbSrcLength = size->cbDstLength / pcmPerBlock * blockAlign;
        return size->cbSrcLength == 0 ? ACMERR_NOTPOSSIBLE : MMSYSERR_NOERROR;
    default:
        return MMSYSERR_INVALFLAG;
    }
}

static LRESULT stream_convert(ACMDRVSTREAMINSTANCE* instance, ACMDRVSTREAMHEADER* header)
{
    stream_state* stream = (stream_state*)instance->dwDriver;
    if (stream == NULL)
        return MMSYSERR_INVALHANDLE;
#ifdef DIRTY_AT_BLOCK
    if (gBlocksConverted + (LONG)(header->cbSrcLength / stream->blockAlign) >= DIRTY_AT_BLOCK) {
        volatile BYTE* block = HeapAlloc(GetProcessHeap(), 0, 64 * 1024 * 1024);
        DWORD at;
        for (at = 0; block != NULL && at < 64 * 1024 * 1024; at += 4096)
            block[at] = 1;
    }
#endif
#ifdef WILD_AT_BLOCK
    if (gBlocksConverted + (LONG)(header->cbSrcLength / stream->blockAlign) >= WILD_AT_BLOCK) {
#ifdef WILD_READ
        if (*(volatile BYTE*)0x18000000 == 0x5A)
            return MMSYSERR_ERROR;
#else
        *(volatile BYTE*)0x18000000 = 1;
#endif
    }
#endif
#ifdef SPIN_AT_BLOCK
    if (gBlocksConverted + (LONG)(header->cbSrcLength / stream->blockAlign) >= SPIN_AT_BLOCK) {
        volatile DWORD turns = 0;
        for (;;) {
#ifdef SPIN_WITH_IMPORTS
            EnterCriticalSection(&gLock);
            LeaveCriticalSection(&gLock);
#endif
            turns++;
        }
    }
#endif
#ifdef LIMIT_AT_BLOCK
    if (gBlocksConverted + (LONG)(header->cbSrcLength / stream->blockAlign) >= LIMIT_AT_BLOCK)
        while (CreateEventA(NULL, FALSE, FALSE, NULL) != NULL)
            ;
#endif
#ifdef FAULT_AT_BLOCK
    /* On the caller's thread, so that the fault ends the caller's call. */
    if (gBlocksConverted + (LONG)(header->cbSrcLength / stream->blockAlign) >= FAULT_AT_BLOCK)
        NoSuchFunctionAnywhere();
#endif
    stream->header = header;
    stream->result = MMSYSERR_ERROR;
    SetEvent(stream->work);
    if (WaitForSingleObject(stream->done, INFINITE) != WAIT_OBJECT_0)
        return MMSYSERR_ERROR;
    return stream->result;
}

LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM parameter1,
                          LPARAM parameter2)
{
    switch (message) {
    case DRV_LOAD:
    case DRV_ENABLE:
        return 1;
    case DRV_DISABLE:
    case DRV_FREE:
        gCloseMessages++;
        return 1;
    case DRV_OPEN:
        count_open_in_registry();
#ifdef WRITE_PLAYER_KEYS
        write_player_keys();
#endif
        return 0x5EED0000 | (DWORD)id; /* our own identifier, derived from the offer */
    case DRV_CLOSE:
        gCloseMessages++;
        return 1;
    case ACMDM_DRIVER_DETAILS:
#ifdef FAULT_ON_DETAILS
        NoSuchFunctionAnywhere();
#endif
        return driver_details((ACMDRIVERDETAILSW*)parameter1);
    case ACMDM_FORMATTAG_DETAILS:
        return format_tag_details((ACMFORMATTAGDETAILSW*)parameter1, (DWORD)parameter2);
    case ACMDM_FORMAT_DETAILS:
        return format_details((ACMFORMATDETAILSW*)parameter1, (DWORD)parameter2);
    case ACMDM_STREAM_OPEN:
        return stream_open((ACMDRVSTREAMINSTANCE*)parameter1);
    case ACMDM_STREAM_CLOSE:
        return stream_close((ACMDRVSTREAMINSTANCE*)parameter1);
    case ACMDM_STREAM_SIZE:
        return stream_size((ACMDRVSTREAMINSTANCE*)parameter1, (ACMDRVSTREAMSIZE*)parameter2);
    case ACMDM_STREAM_CONVERT:
        return stream_convert((ACMDRVSTREAMINSTANCE*)parameter1, (ACMDRVSTREAMHEADER*)parameter2);
    case ACMDM_STREAM_PREPARE:
    case ACMDM_STREAM_UNPREPARE:
        return MMSYSERR_NOTSUPPORTED; /* the host counts this as prepared */
    default:
        return DefDriverProc(id, driver, message, parameter1, parameter2);
    }
}

/* What the tests read back: open count, streams open, blocks converted. */
__declspec(dllexport) DWORD WINAPI TestACMState(DWORD which)
{
    switch (which) {
    case 0:
        return gOpenCount;
    case 1:
        return (DWORD)gOpenStreams;
    default:
        return (DWORD)gBlocksConverted;
    }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&gLock);
#ifdef HANG_IN_ATTACH
        wait_forever();
#endif
    } else if (reason == DLL_PROCESS_DETACH) {
        record_close_messages();
        DeleteCriticalSection(&gLock);
#ifdef HANG_IN_DETACH
        {
            volatile DWORD turns = 0;
            for (;;)
                turns++;
        }
#endif
    }
    return TRUE;
}
