// The ASF container parser: reads the whole header at construction, then
// walks the data packets one per ReadOn call and hands each payload to the
// caller's callbacks with its media objects reassembled.
#pragma once

#include "asf/ASFFileInfo.h"
#include "asf/ASFGuid.h"
#include "asf/ASFStreamFormats.h"
#include "platform/support/DataIO.h"
#include "platform/support/SupportDefs.h"

#include <vector>

class BBufferIO;
class CASFByteReader;

class CASFExtractor
{
public:
    struct stream_info {
        int32 type; // 0 audio, 1 video
        void* data; // WAVEFORMATEX (+ codec data) or BITMAPINFOHEADER (+ codec data)
        uint32 data_size;
        uint16 stream_flags; // low 7 bits: the ASF stream number
        // The format block read: `sound` for an audio stream, `picture` for
        // a video stream; false when the block is damaged.
        bool format_read;
        sound_stream_format sound;
        picture_stream_format picture;

        // Reassembly state of the packet reader.
        uint32 object_number;
        bool new_object;
        uint32 object_offset;
        bool object_broken;
    };

    enum { kAudioStream = 0, kVideoStream = 1 };
    // The table holds every audio and video stream a file can number.
    static constexpr int32 kMaxStreams = 127;

    // ReadOn's result once the data object's packets are used up. Not an
    // error: playback simply has nothing more to read.
    static constexpr status_t kEndOfData = 1;

    typedef void (*stream_function)(int32 stream, BDataIO* io, uint32 length, void* cookie);
    typedef void (*flush_function)(int32 stream, bool keyFrame, uint32 sendTime, void* cookie);
    typedef void (*skip_function)(int32 stream, void* cookie);

    static const guid_t kHeaderObjectGUID;
    static const guid_t kPropertiesObjectGUID;
    static const guid_t kContentDescriptionObjectGUID;
    static const guid_t kHeaderExtensionObjectGUID;
    static const guid_t kStreamPropertiesObjectGUID;
    static const guid_t kCodecObjectGUID;
    static const guid_t kDataObjectGUID;
    static const guid_t kAudioStreamGUID;
    static const guid_t kVideoStreamGUID;

    // `stream` must stand on the file's first byte; it is not owned.
    explicit CASFExtractor(BDataIO* stream);
    virtual ~CASFExtractor();

    CASFExtractor(const CASFExtractor&) = delete;
    CASFExtractor& operator=(const CASFExtractor&) = delete;

    status_t InitCheck() const { return fInitStatus; }
    int32 CountStreams() const { return fStreamCount; }
    const stream_info* StreamInfoAt(int32 index) const { return &fStreams[index]; }

    uint64 PlayDuration() const { return fPlayDuration; } // 100 ns units
    uint64 Preroll() const { return fPreroll; }           // milliseconds
    uint32 MinPacketSize() const { return fMinPacketSize; }
    uint32 MaxPacketSize() const { return fMaxPacketSize; }
    bool HasFileProperties() const { return fHasProperties; }

    // Every declared stream, the tags, markers and script commands, and
    // whether the file is protected or a broadcast.
    const asf_file_info& Info() const { return fInfo; }
    // The table indices of the streams of `type` in the order a player
    // tries them: the highest bitrate first (streams that exclude each
    // other are the same content at several rates), later streams first
    // among equals.
    std::vector<int32> StreamsToTry(int32 type) const;
    // Payloads met so far whose stream number the header never declared;
    // they are passed over.
    uint64 UndeclaredPayloads() const { return fUndeclaredPayloads; }
    // The send time (ms, as the file gives it) of the last packet in the
    // data, found as seeking finds packets; false when none is found. For
    // files that do not give their duration (live captures).
    bool LastSendTime(uint32* sendTime);

    // Reads one data packet and delivers its payloads. Returns B_OK after a
    // packet, kEndOfData once the packets are used up (each stream's last
    // object has then been flushed or skipped), or a negative status when
    // the stream cannot be read. The stream must be positionable.
    status_t ReadOn(stream_function streamFunction, flush_function flushFunction,
                    skip_function skipFunction, void* cookie);

    // After kEndOfData: whether the file ended before the data object's
    // declared size or packet count.
    bool IsTruncated() const { return fTruncated; }

    // During a flush or skip of `stream`: the presentation time, in
    // milliseconds from the start of playback (the preroll taken off), of
    // the object that call completes. Taken from the payloads' replicated
    // data (or a compressed payload's own time); where a payload carries
    // none, the send time of the packet that began the object.
    uint32 ObjectTime(int32 stream) const { return fCompletedTime[stream]; }
    // During a flush of `stream`: whether the object that call completes
    // was marked a key frame.
    bool ObjectIsKeyFrame(int32 stream) const { return fCompletedKey[stream]; }

    // Seeking, by byte offsets into the file. The data packets lie in
    // [DataStart(), DataEnd()).
    uint64 DataStart() const { return fDataStart; }
    uint64 DataEnd();
    // The first packet that starts at or after `from`, and its send time
    // (ms, as the file gives it). Fixed-size packets are found by their
    // size; packets of varying size by resynchronising on a packet header
    // that the header after it confirms. False when none is found near.
    bool PacketAt(uint64 from, uint64* offset, uint32* sendTime);
    // From the file's index objects (read on first use: the Simple Index,
    // else the Index object): where the key frame at or before `time` (ms
    // from the start of playback) begins; false when the file has no usable
    // index.
    bool IndexedOffset(uint32 time, uint64* offset);
    // Goes on reading at the packet that starts at `offset`: objects under
    // way are dropped, the end is forgotten.
    status_t SeekToOffset(uint64 offset);

private:
    struct packet_state;

    // The header objects the walk reads, one row each; objects without a
    // row are passed over. A parser is called with the object's declared
    // size, its 24-byte object header already read.
    struct header_object_row {
        const guid_t& id;
        bool (CASFExtractor::*parse)(uint64 size);
    };
    static const header_object_row kHeaderObjects[];
    // Objects read whole into memory and parsed from there, in the header
    // or in its extension. A damaged one is dropped, the file still plays.
    struct body_object_row {
        const guid_t& id;
        void (CASFExtractor::*parse)(CASFByteReader& body);
    };
    static const body_object_row kBodyObjects[];
    static const body_object_row* FindBodyObject(const guid_t& id);

    // The objects after the data object that can give the index, one row
    // each, read at `at` (the object's start) with their declared size.
    struct index_object_row {
        const guid_t& id;
        bool (CASFExtractor::*read)(BPositionIO* io, uint64 at, uint64 size);
    };
    static const index_object_row kIndexObjects[];

    status_t Sniff();
    bool ParseRoot();
    bool ParseHeaderObject(uint64 size);
    bool ParsePropertiesObject(uint64 size);
    bool ParseContentDescriptionObject(uint64 size);
    bool ParseStreamPropertiesObject(uint64 size);
    bool ParseCodecObject(uint64 size);
    bool ParseBodyObject(const body_object_row& row, uint64 size);

    // Stream declarations (ASFStreamDeclarations.cpp).
    bool RecordStream(const uint8* body, size_t size, int32 declaredIn);
    asf_stream_declaration* Declaration(uint16 number);
    void ParseHeaderExtension(CASFByteReader& body);
    void ParseExtendedStreamProperties(CASFByteReader& body);
    void ParseStreamBitrateProperties(CASFByteReader& body);
    int32 NewExclusionGroup() const;
    void ParseMutualExclusion(CASFByteReader& body);
    void ParseGroupMutualExclusion(CASFByteReader& body);
    void ParseLanguageList(CASFByteReader& body);
    void ParseStreamPrioritization(CASFByteReader& body);
    void ParseEncryption(CASFByteReader& body);
    void FinishStreams();

    // Tags, markers and script commands (ASFTags.cpp, ASFMarkers.cpp).
    void ParseContentDescription(CASFByteReader& body);
    void ParseExtendedContentDescription(CASFByteReader& body);
    void ParseMetadata(CASFByteReader& body);
    void ParseMetadataLibrary(CASFByteReader& body);
    void ParseMetadataRecords(CASFByteReader& body);
    void ParseMarkers(CASFByteReader& body);
    void ParseScriptCommands(CASFByteReader& body);
    void FinishMarkers();

    bool ReadExact(void* buffer, size_t size);
    bool ReadObjectHeader(guid_t* guid, uint64* size);
    void* ReadBlock(size_t size);
    bool Skip(uint64 count);
    bool SkipTo(uint64 offset);

    void READ_MULTI(uint32* value, uint32 size);
    status_t ReadPacket(packet_state& packet);
    bool ReadPayload(packet_state& packet);
    void DeliverPayload(packet_state& packet, int32 index, uint32 objectNumber, uint32 offset,
                        uint32 length, bool checkOffset);
    void BeginObject(packet_state& packet, int32 index, uint32 objectNumber);
    int32 FindStream(uint32 streamNumber);
    uint32 PlaybackTime(uint32 presentationTime) const;
    void FinishData(packet_state& packet);
    bool AtEndOfData();
    bool FixedPacketSize() const;
    status_t MakeBufferIO();
    void ReadIndex();
    bool ReadSimpleIndex(BPositionIO* io, uint64 at, uint64 size);
    bool ReadIndexObject(BPositionIO* io, uint64 at, uint64 size);
    bool IsPacketStart(uint64 offset, uint32* sendTime);

    BDataIO* fStream;
    status_t fInitStatus;
    uint64 fPlayDuration;
    uint32 fMinPacketSize;
    uint32 fMaxPacketSize;
    stream_info fStreams[kMaxStreams];
    uint16 fStreamCount;
    // By ASF stream number: the table index, or kUndeclared / kNotPlayable.
    enum { kUndeclared = -1, kNotPlayable = -2 };
    int16 fStreamByNumber[128];
    asf_file_info fInfo;
    uint64 fUndeclaredPayloads;

    uint64 fPreroll;
    bool fHasProperties;

    // Header walk: bytes consumed from the stream since construction.
    uint64 fOffset;

    // Packet walk.
    uint64 fDataStart;    // file offset of the first packet
    uint64 fDataEnd;      // end of the data object, 0 when not known
    uint64 fTotalPackets; // from the data object, 0 when not known
    uint64 fPacketsRead;
    BBufferIO* fIO;
    status_t fReadStatus; // B_OK, kEndOfData, or the error that stopped the walk
    bool fTruncated;
    uint32 fLastSendTime;
    uint32 fObjectTime[kMaxStreams];    // of the object being assembled
    uint32 fCompletedTime[kMaxStreams]; // of the object being flushed or skipped
    bool fObjectKey[kMaxStreams];
    bool fCompletedKey[kMaxStreams];

    // The index: where each interval's key frame begins (file offsets).
    bool fIndexRead;
    uint64 fIndexInterval; // 100 ns units
    std::vector<uint64> fIndexOffsets;
};
