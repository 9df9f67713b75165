/*
 * A real Video for Windows decompressor for the tests: Microsoft RLE8 (also
 * under its own code, "TRLE", which FFmpeg does not know) to 8-bit pictures
 * with the stream's palette, as the drivers of that format did. It keeps no heap: one instance, its state in static memory.
 *
 * Build options:
 *   -DFAIL_FORMAT_QUERY  a driver whose format queries fail
 *   -DFAULT_AT_PICTURE=n call an import that has no replacement when asked
 *                        to decompress the n-th picture
 */
#include <windows.h>

#include <vfw.h>

#ifdef FAULT_AT_PICTURE
/* No row binds this name: calling it ends the call with an error. */
__declspec(dllimport) void WINAPI NoSuchFunctionAnywhere(void);
#endif

#define FOURCC_VIDC mmioFOURCC('v', 'i', 'd', 'c')
#define FOURCC_TRLE mmioFOURCC('T', 'R', 'L', 'E')

static int sPictures;

static void copy_bytes(void* to, const void* from, DWORD size)
{
    BYTE* out = to;
    const BYTE* in = from;
    while (size-- > 0)
        *out++ = *in++;
}

static DWORD stride_of(const BITMAPINFOHEADER* header)
{
    return ((DWORD)header->biWidth * 8 + 31) / 32 * 4;
}

static LRESULT query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out)
{
#ifdef FAIL_FORMAT_QUERY
    (void)in;
    (void)out;
    return ICERR_BADFORMAT;
#else
    if (in == NULL || (in->biCompression != BI_RLE8 && in->biCompression != FOURCC_TRLE) ||
        in->biBitCount != 8 || in->biWidth <= 0 ||
        in->biHeight <= 0 || in->biWidth > 4096 || in->biHeight > 4096)
        return ICERR_BADFORMAT;
    if (out != NULL && (out->biCompression != BI_RGB || out->biBitCount != 8 ||
                        out->biWidth != in->biWidth || out->biHeight != in->biHeight))
        return ICERR_BADFORMAT;
    return ICERR_OK;
#endif
}

/* The output format: the input's size and palette, 8-bit, bottom up. */
static LRESULT get_format(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out)
{
    DWORD size = sizeof(BITMAPINFOHEADER) + 256 * 4;
    if (out == NULL)
        return (LRESULT)size;
    if (query(in, NULL) != ICERR_OK)
        return ICERR_BADFORMAT;
    copy_bytes(out, in, sizeof(BITMAPINFOHEADER));
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biCompression = BI_RGB;
    out->biClrUsed = 256;
    out->biSizeImage = stride_of(in) * (DWORD)in->biHeight;
    copy_bytes(out + 1, (const BYTE*)in + in->biSize, 256 * 4);
    return ICERR_OK;
}

/* Runs, literal strings, end of line, end of picture and delta escapes;
 * pixels nothing writes keep the picture before's. */
static LRESULT decompress(const ICDECOMPRESS* request)
{
    const BITMAPINFOHEADER* header = request->lpbiInput;
    const BYTE* in = request->lpInput;
    const BYTE* end = in + header->biSizeImage;
    BYTE* picture = request->lpOutput;
    LONG width = header->biWidth, height = header->biHeight;
    DWORD stride = stride_of(header);
    LONG x = 0, y = 0;
#ifdef FAULT_AT_PICTURE
    if (++sPictures == FAULT_AT_PICTURE)
        NoSuchFunctionAnywhere();
#else
    sPictures++;
#endif
    if (request->dwFlags & ICDECOMPRESS_NULLFRAME)
        return ICERR_OK;
    while (in + 1 < end && y < height) {
        BYTE count = *in++, value = *in++;
        if (count > 0) {
            while (count-- > 0 && x < width)
                picture[y * stride + x++] = value;
        } else if (value == 0) {
            x = 0;
            y++;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (in + 1 >= end)
                break;
            x += *in++;
            y += *in++;
        } else {
            for (BYTE i = 0; i < value && in < end; i++, in++) {
                if (x < width)
                    picture[y * stride + x++] = *in;
            }
            if (value & 1)
                in++;
        }
    }
    return ICERR_OK;
}

static LRESULT get_info(ICINFO* info, DWORD size)
{
    static const WCHAR name[] = L"TestRLE";
    if (info == NULL)
        return sizeof(ICINFO);
    if (size < sizeof(ICINFO))
        return 0;
    info->dwSize = sizeof(ICINFO);
    info->fccType = FOURCC_VIDC;
    info->fccHandler = FOURCC_TRLE;
    info->dwFlags = 0;
    info->dwVersion = 1;
    info->dwVersionICM = ICVERSION;
    copy_bytes(info->szName, name, sizeof(name));
    info->szDescription[0] = 0;
    info->szDriver[0] = 0;
    return sizeof(ICINFO);
}

LRESULT WINAPI DriverProc(DWORD_PTR id, HDRVR driver, UINT message, LPARAM lParam1,
                          LPARAM lParam2)
{
    (void)driver;
    switch (message) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE:
    case DRV_CLOSE:
        return 1;
    case DRV_OPEN: {
        const ICOPEN* open = (const ICOPEN*)lParam2;
        if (open != NULL && open->fccType != FOURCC_VIDC)
            return 0;
        return 1;
    }
    case ICM_GETINFO:
        return get_info((ICINFO*)lParam1, (DWORD)lParam2);
    case ICM_DECOMPRESS_QUERY:
        return query((const BITMAPINFOHEADER*)lParam1, (const BITMAPINFOHEADER*)lParam2);
    case ICM_DECOMPRESS_GET_FORMAT:
        return get_format((const BITMAPINFOHEADER*)lParam1, (BITMAPINFOHEADER*)lParam2);
    case ICM_DECOMPRESS_BEGIN:
        sPictures = 0;
        return query((const BITMAPINFOHEADER*)lParam1, (const BITMAPINFOHEADER*)lParam2);
    case ICM_DECOMPRESS:
        return decompress((const ICDECOMPRESS*)lParam1);
    case ICM_DECOMPRESS_END:
        return ICERR_OK;
    default:
        (void)id;
        return ICERR_UNSUPPORTED;
    }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
