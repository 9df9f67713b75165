// One Video for Windows decompressor module: its driver opened for one
// four-character code, what it says of itself, and one decompression at a
// time, picture by picture. The pictures it writes stay in one buffer of the
// module address space: a picture that changes only some blocks of the one
// before leaves the rest as they were.
#pragma once

#include "codec/Driver.h"
#include "codec/ICMStructs.h"
#include "platform/support/SupportDefs.h"

#include <memory>
#include <string>
#include <vector>

class CICMCodec
{
public:
    // Opens the named module file of the decoders folder with `handler`,
    // the four-character code the driver is known by (0: none).
    CICMCodec(const char* moduleName, uint32 handler);
    // Opens the module as a video decompressor with whichever code its
    // driver takes; null when it is none. The drivers that refused are
    // handed to `tried` when given, else closed.
    static std::unique_ptr<CICMCodec> Find(const char* moduleName,
                                           std::vector<std::unique_ptr<CICMCodec>>* tried);
    ~CICMCodec();

    CICMCodec(const CICMCodec&) = delete;
    CICMCodec& operator=(const CICMCodec&) = delete;

    // B_OK when the driver opened and says it is a video decompressor.
    status_t InitCheck() const { return fStatus; }

    // The code the driver is known by (what ICM_GETINFO said, else what it
    // opened with) and its short name.
    uint32 Handler() const { return fHandler; }
    const std::string& Name() const { return fName; }

    // Whether the driver decompresses pictures of this format (the
    // stream's BITMAPINFOHEADER with what follows it: codec bytes, palette).
    bool Accepts(const std::vector<uint8>& input);

    // The codes of the picture formats of that era, and the driver's own,
    // that the driver says it decompresses (asked at a small size).
    std::vector<uint32> ProbeFourCCs();

    // Begins decompressing `input`, ending a decompression running. The
    // output format is the driver's own choice when it is one the player
    // converts, else the first of RGB32, RGB24, RGB565, RGB555, YUY2, I420
    // and 8-bit with palette that the driver takes. False when it takes none.
    bool Begin(const std::vector<uint8>& input);
    // The output format chosen: its BITMAPINFOHEADER with the colour masks
    // or the palette that follow it.
    const std::vector<uint8>& OutputFormat() const { return fOutputFormat; }
    // The bytes of one output picture.
    uint32 OutputSize() const { return fOutputSize; }

    // Decompresses one picture (`flags`: ICDECOMPRESS_ flags) and points
    // `picture` at the whole output picture. B_BAD_ADDRESS when module
    // code faulted (or went over a limit): the driver's state is lost;
    // B_ERROR when the driver refused the picture.
    status_t Decompress(const uint8* data, size_t size, uint32 flags, const uint8** picture);
    void End();

private:
    // The driver's message, with the input and output formats in module
    // memory.
    status_t Send(uint32 message, uint32 lParam1, uint32 lParam2, int32* result);
    bool TryOutput(const std::vector<uint8>& format);
    std::vector<uint8> SuggestedOutput();
    // Copies `bytes` into module memory held in `block` (grown as needed).
    uint32 Place(const void* bytes, size_t size, void** block, size_t* capacity);

    status_t fStatus;
    driver_t* fDriver;
    uint32 fHandler;
    std::string fName;
    bool fBegun;

    void* fInputFormatBlock; // the input BITMAPINFO in module memory
    size_t fInputFormatCapacity;
    void* fOutputFormatBlock;
    size_t fOutputFormatCapacity;
    void* fDataBlock; // one compressed picture
    size_t fDataCapacity;
    void* fPictureBlock; // the output picture, kept from one picture to the next
    tICDECOMPRESS* fRequest;
    std::vector<uint8> fOutputFormat;
    uint32 fOutputSize;
    size_t fInputSize;       // the input format's bytes
    uint32 fInputHeaderSize; // where its palette begins
};

// The bytes of one picture of a DIB format (rows padded to four bytes; the
// planar YUV formats as their planes); 0 for a format the player does not
// convert.
uint32 dib_picture_size(const tBITMAPINFOHEADER& header);
