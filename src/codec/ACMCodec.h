// One Windows ACM codec module, chosen by format tag: its format list, and
// one conversion at a time, block by block.
#pragma once

#include "codec/ACMStructs.h"
#include "codec/Driver.h"
#include "platform/media/MediaDefs.h"
#include "platform/support/SupportDefs.h"

class CACMCodec
{
public:
    // One format tag of the driver with its standard formats. Everything a
    // driver fills lives in the module address space.
    struct audio_format {
        tACMFORMATTAGDETAILSW* tag;
        tACMFORMATDETAILSW* formats; // `count` records
        // How many records were made, kept here: the driver may change
        // what it wrote into module memory.
        uint32 count;

        audio_format();
        virtual ~audio_format();
        audio_format(const audio_format&) = delete;
        audio_format& operator=(const audio_format&) = delete;
    };

    // Opens the module that handles `formatTag`, or nothing for other tags.
    explicit CACMCodec(unsigned long formatTag);
    // Opens the named module file of the decoders folder.
    explicit CACMCodec(const char* moduleName);
    // The owner ends a running conversion first.
    virtual ~CACMCodec();

    CACMCodec(const CACMCodec&) = delete;
    CACMCodec& operator=(const CACMCodec&) = delete;

    status_t InitCheck() const { return fInitStatus; }

    // The module file for a format tag, or null.
    static const char* ModuleForTag(unsigned long formatTag);

    // What the driver said of itself and the format tags it lists.
    const tACMDRIVERDETAILSW* DriverDetails() const { return fDriverDetails; }
    uint32 CountFormatTags() const;
    uint16 FormatTagAt(uint32 index) const;

    // A wave format of the driver's list with `formatTag` and the channel
    // count, rate and sample size of `format`, or null.
    const tWAVEFORMATEX* FindSuitableWaveFormat(uint16 formatTag,
                                                const media_raw_audio_format* format) const;

    // Begin a conversion; 0 on success, -1 on any failure (the codec is then
    // idle). The source size or the destination size is given; the driver
    // tells the other.
    status_t BeginConversionEx(const tWAVEFORMATEX* source, uint16 destinationTag,
                               const media_raw_audio_format* destination, uint32 sourceSize,
                               uint32* destinationSize);
    status_t BeginConversionEx(const tWAVEFORMATEX* source, uint16 destinationTag,
                               const media_raw_audio_format* destination, uint32* sourceSize,
                               uint32 destinationSize);
    status_t BeginConversion(uint16 sourceTag, const media_raw_audio_format* source,
                             uint16 destinationTag, const media_raw_audio_format* destination,
                             uint32* sourceSize, uint32 destinationSize);
    status_t BeginConversion(uint16 sourceTag, const media_raw_audio_format* source,
                             uint16 destinationTag, const media_raw_audio_format* destination,
                             uint32 sourceSize, uint32* destinationSize);

    // Converts one block; returns the source bytes consumed and points
    // `output` at the converted bytes (valid until the next call), or -1.
    // `last` marks the stream's last conversion (the source may then be
    // short of a block, or empty): the driver gives out what it still holds,
    // e.g. an MP3 decoder its buffered frames.
    int32 Convert(const void* source, uint32 size, const void** output, uint32* outputSize,
                  bool last = false);
    status_t EndConversion();

private:
    void Init(const char* moduleName);
    void ReleaseFormats();
    void ReleaseConversion();
    status_t Begin(const tWAVEFORMATEX* source, const tWAVEFORMATEX* destination,
                   bool sourceSizeGiven, uint32 givenSize, uint32* askedSize, bool print);

    status_t fInitStatus;
    driver_t* fDriver;
    tACMDRIVERDETAILSW* fDriverDetails;
    audio_format* fFormats;
    uint32 fFormatTagCount; // of fFormats, kept out of the driver's reach
    acm_stream_t* fAcmStream;
    tACMSTREAMHEADER* fHeader;
    tWAVEFORMATEX* fSource; // module copy of the source format handed to the driver
    // The conversion buffers as we made them: a driver may write the header,
    // so these, not the header's fields, say where the buffers are.
    uint8* fSourceBuffer;
    uint32 fSourceCapacity;
    uint8* fDestinationBuffer;
    uint32 fDestinationCapacity;
    // The first conversion after each begin starts the driver's state
    // afresh: a second codec, and a conversion begun again after a seek,
    // start cleanly.
    bool fFirstConvert;
};
