// A small ASF writer for the tests: lays out headers and data packets field
// by field, including layouts that real muxers never write.
#pragma once

#include "asf/ASFExtractor.h"

#include <string>
#include <vector>

typedef std::vector<uint8> bytes_t;

void append_le(bytes_t& out, uint64 value, uint32 width);
void append_guid(bytes_t& out, const guid_t& guid);
// An object: GUID, 64-bit size (body + 24, unless `declaredSize` says
// otherwise), body.
bytes_t make_object(const guid_t& guid, const bytes_t& body, uint64 declaredSize = 0);

bytes_t make_wave_format(uint16 tag, uint16 channels, uint32 rate, uint16 blockAlign,
                         uint16 bits = 16, const bytes_t& extra = {});
// The video type-specific data: 11 bytes of encoded size and format size,
// then a BITMAPINFOHEADER and `extra`.
bytes_t make_video_format(int32 width, int32 height, const char* fourcc, const bytes_t& extra = {});

struct test_stream {
    guid_t type;
    uint16 flags; // stream number in the low 7 bits
    bytes_t typeData;
    bytes_t errorData;
    uint32 extraBytes = 0; // bytes after the fields, counted in the object size
};

// A Stream Properties object, as the header holds it or an Extended Stream
// Properties object embeds it.
bytes_t make_stream_properties(const test_stream& stream);

test_stream audio_stream(uint16 number, uint16 tag = 0x0161, uint16 blockAlign = 743);
test_stream video_stream(uint16 number, int32 width = 320, int32 height = 240,
                         const char* fourcc = "WMV2");

struct test_header {
    bool properties = true;
    uint32 minPacketSize = 512;
    uint32 maxPacketSize = 512;
    uint64 playDuration = 20000000;
    uint64 preroll = 3100;
    uint32 flags = 2;           // seekable; 1 is broadcast
    uint32 propertiesExtra = 0; // bytes after the 80 fields
    std::vector<test_stream> streams;
    std::vector<std::pair<std::string, std::string>> codecs; // name, description
    std::vector<bytes_t> otherObjects;                       // whole objects
};

bytes_t make_header_object(const test_header& header);

struct test_payload {
    uint8 stream = 1; // ASF stream number
    bool keyFrame = false;
    uint32 objectNumber = 0;
    uint32 offset = 0;
    bytes_t replicated = bytes_t(8, 0); // object size + time, as muxers write
    bytes_t data;
};

// A compressed payload: replicated data of length 1, sub-payloads of a
// one-byte length each.
test_payload compressed_payload(uint8 stream, uint32 objectNumber, uint32 presentationTime,
                                const std::vector<bytes_t>& objects);

struct test_packet {
    // 0: no error correction; otherwise the first byte as written (0x82 is
    // the usual one; 0xA0 | n with length type 1 takes a 2-byte length).
    uint8 errorCorrection = 0x82;
    uint32 errorLength = 2;      // bytes of error correction data
    uint32 packetLengthType = 0; // 0..3
    uint32 sequenceType = 0;
    uint32 paddingType = 2;
    uint32 streamNumberType = 1;
    uint32 objectNumberType = 1;
    uint32 offsetType = 3;
    uint32 replicatedType = 1;
    bool multiple = false;         // forced on by more than one payload
    uint8 payloadFlagsHigh = 0x80; // bits 6-7 of the payload flags
    uint32 sendTime = 0;
    uint16 duration = 0;
    int64 padding = -1;           // -1: fill the packet to its size
    uint32 zeroFill = 0;          // zero bytes after the padding
    uint32 packetLengthValue = 0; // 0: the real length
    std::vector<test_payload> payloads;
};

// Lays out a packet of `packetSize` bytes (padding fills it unless the
// packet says otherwise).
bytes_t make_packet(const test_packet& packet, uint32 packetSize);

struct test_file {
    test_header header;
    std::vector<bytes_t> packets;
    int64 dataSize = -1;    // -1: the real size
    int64 packetCount = -1; // -1: the real count
    bytes_t trailer;        // e.g. an index object after the data object
};

bytes_t make_file(const test_file& file);

// A file of one audio and one video stream whose packets are laid out with
// `packet`'s layout, one payload each.
bytes_t make_file_with_packets(const std::vector<test_packet>& packets, uint32 packetSize = 512);
