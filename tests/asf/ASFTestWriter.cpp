#include "ASFTestWriter.h"

#include <cstdlib>
#include <cstring>

void append_le(bytes_t& out, uint64 value, uint32 width)
{
    for (uint32 i = 0; i < width; i++)
        out.push_back(i < 8 ? uint8(value >> (8 * i)) : 0);
}

void append_guid(bytes_t& out, const guid_t& guid)
{
    out.insert(out.end(), guid.data, guid.data + 16);
}

bytes_t make_object(const guid_t& guid, const bytes_t& body, uint64 declaredSize)
{
    bytes_t out;
    append_guid(out, guid);
    append_le(out, declaredSize != 0 ? declaredSize : body.size() + 24, 8);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

bytes_t make_wave_format(uint16 tag, uint16 channels, uint32 rate, uint16 blockAlign, uint16 bits,
                         const bytes_t& extra)
{
    bytes_t out;
    append_le(out, tag, 2);
    append_le(out, channels, 2);
    append_le(out, rate, 4);
    append_le(out, rate * blockAlign / 1000, 4);
    append_le(out, blockAlign, 2);
    append_le(out, bits, 2);
    append_le(out, extra.size(), 2);
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

bytes_t make_video_format(int32 width, int32 height, const char* fourcc, const bytes_t& extra)
{
    bytes_t out;
    append_le(out, uint32(width), 4);
    append_le(out, uint32(height), 4);
    out.push_back(2);
    append_le(out, 40 + extra.size(), 2);
    append_le(out, 40 + extra.size(), 4);
    append_le(out, uint32(width), 4);
    append_le(out, uint32(height), 4);
    append_le(out, 1, 2);
    append_le(out, 24, 2);
    out.insert(out.end(), fourcc, fourcc + 4);
    append_le(out, uint32(width * height * 3), 4);
    append_le(out, 0, 16);
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

test_stream audio_stream(uint16 number, uint16 tag, uint16 blockAlign)
{
    return {CASFExtractor::kAudioStreamGUID, number,
            make_wave_format(tag, 2, 44100, blockAlign, 16, bytes_t(10, 0x11)), bytes_t(8, 0x22)};
}

test_stream video_stream(uint16 number, int32 width, int32 height, const char* fourcc)
{
    return {CASFExtractor::kVideoStreamGUID, number, make_video_format(width, height, fourcc), {}};
}

namespace
{

bytes_t properties_object(const test_header& header)
{
    bytes_t body(16, 0xAB);     // file ID
    append_le(body, 123456, 8); // file size
    append_le(body, 0, 8);      // creation date
    append_le(body, 99, 8);     // data packets
    append_le(body, header.playDuration, 8);
    append_le(body, header.playDuration, 8);
    append_le(body, header.preroll, 8);
    append_le(body, header.flags, 4);
    append_le(body, header.minPacketSize, 4);
    append_le(body, header.maxPacketSize, 4);
    append_le(body, 1000000, 4);
    body.insert(body.end(), header.propertiesExtra, 0xEE);
    return make_object(CASFExtractor::kPropertiesObjectGUID, body);
}

} // namespace

bytes_t make_stream_properties(const test_stream& stream)
{
    bytes_t body;
    append_guid(body, stream.type);
    append_guid(body, guid_t{}); // error correction type
    append_le(body, 0, 8);
    append_le(body, stream.typeData.size(), 4);
    append_le(body, stream.errorData.size(), 4);
    append_le(body, stream.flags, 2);
    append_le(body, 0, 4);
    body.insert(body.end(), stream.typeData.begin(), stream.typeData.end());
    body.insert(body.end(), stream.errorData.begin(), stream.errorData.end());
    body.insert(body.end(), stream.extraBytes, 0xCC);
    return make_object(CASFExtractor::kStreamPropertiesObjectGUID, body);
}

namespace
{

void append_utf16(bytes_t& out, const std::string& text)
{
    append_le(out, text.size(), 2);
    for (char c : text)
        append_le(out, uint8(c), 2);
}

bytes_t codec_object(const test_header& header)
{
    bytes_t body(16, 0);
    append_le(body, header.codecs.size(), 4);
    for (const auto& codec : header.codecs) {
        append_le(body, 2, 2);
        append_utf16(body, codec.first);
        append_utf16(body, codec.second);
        append_le(body, 2, 2);
        append_le(body, 0x0161, 2);
    }
    return make_object(CASFExtractor::kCodecObjectGUID, body);
}

uint32 width_of(uint32 type)
{
    return type == 3 ? 4 : type;
}

} // namespace

bytes_t make_header_object(const test_header& header)
{
    std::vector<bytes_t> objects;
    if (header.properties)
        objects.push_back(properties_object(header));
    for (const test_stream& stream : header.streams)
        objects.push_back(make_stream_properties(stream));
    if (!header.codecs.empty())
        objects.push_back(codec_object(header));
    objects.insert(objects.end(), header.otherObjects.begin(), header.otherObjects.end());

    bytes_t body;
    append_le(body, objects.size(), 4);
    body.push_back(1);
    body.push_back(2);
    for (const bytes_t& object : objects)
        body.insert(body.end(), object.begin(), object.end());
    return make_object(CASFExtractor::kHeaderObjectGUID, body);
}

test_payload compressed_payload(uint8 stream, uint32 objectNumber, uint32 presentationTime,
                                const std::vector<bytes_t>& objects)
{
    test_payload payload;
    payload.stream = stream;
    payload.objectNumber = objectNumber;
    payload.offset = presentationTime;
    payload.replicated = {40}; // presentation time delta
    for (const bytes_t& object : objects) {
        payload.data.push_back(uint8(object.size()));
        payload.data.insert(payload.data.end(), object.begin(), object.end());
    }
    return payload;
}

bytes_t make_packet(const test_packet& packet, uint32 packetSize)
{
    bool multiple = packet.multiple || packet.payloads.size() > 1;
    bytes_t out;
    if (packet.errorCorrection != 0) {
        out.push_back(packet.errorCorrection);
        if (((packet.errorCorrection >> 5) & 3) != 0)
            append_le(out, packet.errorLength, 2);
        out.insert(out.end(), packet.errorLength, 0x5A);
    }
    out.push_back(uint8((multiple ? 1 : 0) | packet.sequenceType << 1 | packet.paddingType << 3 |
                        packet.packetLengthType << 5));
    out.push_back(uint8(packet.replicatedType | packet.offsetType << 2 |
                        packet.objectNumberType << 4 | packet.streamNumberType << 6));

    size_t packetLengthAt = out.size();
    append_le(out, 0, width_of(packet.packetLengthType));
    append_le(out, 7, width_of(packet.sequenceType));
    size_t paddingAt = out.size();
    append_le(out, 0, width_of(packet.paddingType));
    append_le(out, packet.sendTime, 4);
    append_le(out, packet.duration, 2);
    if (multiple)
        out.push_back(uint8(packet.payloadFlagsHigh | packet.payloads.size()));

    for (const test_payload& payload : packet.payloads) {
        append_le(out, payload.stream | (payload.keyFrame ? 0x80 : 0),
                  width_of(packet.streamNumberType));
        append_le(out, payload.objectNumber, width_of(packet.objectNumberType));
        append_le(out, payload.offset, width_of(packet.offsetType));
        append_le(out, payload.replicated.size(), width_of(packet.replicatedType));
        out.insert(out.end(), payload.replicated.begin(), payload.replicated.end());
        if (multiple)
            append_le(out, payload.data.size(), 2);
        out.insert(out.end(), payload.data.begin(), payload.data.end());
    }

    uint64 padding = packet.padding >= 0       ? uint64(packet.padding)
                     : out.size() < packetSize ? packetSize - out.size()
                                               : 0;
    // A padding that its field cannot hold would be a bug of the test itself.
    if (packet.paddingType != 3 && padding >= (1ull << (8 * width_of(packet.paddingType))))
        abort();
    out.insert(out.end(), padding, 0);
    uint64 length = packet.packetLengthValue != 0 ? packet.packetLengthValue : out.size();
    for (uint32 i = 0; i < width_of(packet.packetLengthType); i++)
        out[packetLengthAt + i] = uint8(length >> (8 * i));
    for (uint32 i = 0; i < width_of(packet.paddingType); i++)
        out[paddingAt + i] = uint8(padding >> (8 * i));
    out.insert(out.end(), packet.zeroFill, 0);
    return out;
}

bytes_t make_file(const test_file& file)
{
    bytes_t out = make_header_object(file.header);
    size_t dataSize = 50;
    for (const bytes_t& packet : file.packets)
        dataSize += packet.size();
    append_guid(out, CASFExtractor::kDataObjectGUID);
    append_le(out, file.dataSize >= 0 ? uint64(file.dataSize) : dataSize, 8);
    append_le(out, 0x77, 16);
    append_le(out, file.packetCount >= 0 ? uint64(file.packetCount) : file.packets.size(), 8);
    out.push_back(1);
    out.push_back(1);
    for (const bytes_t& packet : file.packets)
        out.insert(out.end(), packet.begin(), packet.end());
    out.insert(out.end(), file.trailer.begin(), file.trailer.end());
    return out;
}

bytes_t make_file_with_packets(const std::vector<test_packet>& packets, uint32 packetSize)
{
    test_file file;
    file.header.minPacketSize = packetSize;
    file.header.maxPacketSize = packetSize;
    file.header.streams = {audio_stream(1), video_stream(2)};
    for (const test_packet& packet : packets)
        file.packets.push_back(make_packet(packet, packetSize));
    return make_file(file);
}
