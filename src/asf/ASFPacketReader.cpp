// The data packet walk of CASFExtractor.
#include "asf/ASFExtractor.h"

#include "platform/support/BufferIO.h"
#include "platform/support/ByteOrder.h"
#include "platform/support/Debug.h"

#include <new>

namespace
{
// Width in bytes of a field whose 2-bit length type is `code`.
constexpr uint32 field_width(uint32 code)
{
    return code == 3 ? 4 : code;
}

} // namespace

struct CASFExtractor::packet_state {
    CASFExtractor::stream_function streamFunction;
    CASFExtractor::flush_function flushFunction;
    CASFExtractor::skip_function skipFunction;
    void* cookie;

    uint64 start; // file offset of the packet's first byte
    uint64 end;   // one past its last byte; 0 when the packet's size is not known
    bool multiple;
    uint32 packetLength;
    uint32 padding;
    uint32 sendTime;
    bool keyFrame;     // of the payload being delivered
    uint32 objectTime; // its object's presentation time, playback-relative
    uint32 streamNumberWidth;
    uint32 objectNumberWidth;
    uint32 offsetWidth;
    uint32 replicatedWidth;
    bool readFailed; // a field could not be read: the stream ends inside the packet
    bool broken;     // the fields contradict each other: the rest of the packet is lost
};

uint32 CASFExtractor::PlaybackTime(uint32 presentationTime) const
{
    // Presentation times count the preroll in; playback starts after it.
    return presentationTime > fPreroll ? uint32(presentationTime - fPreroll) : 0;
}

void CASFExtractor::READ_MULTI(uint32* value, uint32 size)
{
    if (size == 0)
        return;
    uint8 bytes[4] = {0, 0, 0, 0};
    *value = 0;
    if (fIO->Read(bytes, size) != ssize_t(size)) {
        fReadStatus = B_IO_ERROR;
        return;
    }
    *value = read_le32(bytes);
}

bool CASFExtractor::AtEndOfData()
{
    uint64 position = uint64(fIO->Position());
    if (fDataEnd != 0) {
        if (position >= fDataEnd)
            return true;
        // A fixed-size packet that the data object cannot hold whole.
        bool fixedSize = fHasProperties && fMinPacketSize == fMaxPacketSize && fMaxPacketSize > 0;
        return fixedSize && fDataEnd - position < fMaxPacketSize;
    }
    return fTotalPackets != 0 && fPacketsRead >= fTotalPackets;
}

int32 CASFExtractor::FindStream(uint32 streamNumber)
{
    return fStreamByNumber[streamNumber & 0x7F];
}

void CASFExtractor::BeginObject(packet_state& packet, int32 index, uint32 objectNumber)
{
    stream_info& info = fStreams[index];
    if (objectNumber != info.object_number || info.new_object) {
        fCompletedTime[index] = fObjectTime[index];
        fObjectTime[index] = packet.objectTime;
        fCompletedKey[index] = fObjectKey[index];
        fObjectKey[index] = packet.keyFrame;
        if (info.object_broken) {
            info.object_broken = false;
            if (packet.skipFunction != nullptr)
                packet.skipFunction(index, packet.cookie);
        } else if (packet.flushFunction != nullptr) {
            packet.flushFunction(index, packet.keyFrame, packet.sendTime, packet.cookie);
        }
        info.object_offset = 0;
    }
    info.object_number = objectNumber;
    info.new_object = false;
}

void CASFExtractor::DeliverPayload(packet_state& packet, int32 index, uint32 objectNumber,
                                   uint32 offset, uint32 length, bool checkOffset)
{
    BeginObject(packet, index, objectNumber);
    stream_info& info = fStreams[index];
    if (checkOffset && offset != info.object_offset) {
        // A lost or reordered fragment: the whole object goes.
        info.object_broken = true;
        Skip(length);
        return;
    }
    off_t payloadStart = fIO->Position();
    if (packet.streamFunction != nullptr)
        packet.streamFunction(index, fIO, length, packet.cookie);
    // The payload ends where its length says, whatever the callback consumed.
    fIO->Seek(payloadStart + off_t(length), SEEK_SET);
    info.object_offset += length;
}

bool CASFExtractor::ReadPayload(packet_state& packet)
{
    uint32 streamNumber = 0, objectNumber = 0, offset = 0, replicatedLength = 0;
    READ_MULTI(&streamNumber, packet.streamNumberWidth);
    READ_MULTI(&objectNumber, packet.objectNumberWidth);
    READ_MULTI(&offset, packet.offsetWidth);
    READ_MULTI(&replicatedLength, packet.replicatedWidth);
    if (fReadStatus != B_OK)
        return false;

    // Replicated data of length 1 marks a compressed payload: the offset
    // field is then a presentation time and the data a run of sub-payloads.
    // Longer replicated data starts with the object's size and presentation
    // time; without it the packet's send time is all there is.
    bool compressed = replicatedLength == 1;
    uint8 replicated[8];
    uint32 timeDelta = 0;
    packet.objectTime = packet.sendTime;
    if (compressed || replicatedLength >= 8) {
        uint32 head = compressed ? 1 : 8;
        if (fIO->Read(replicated, head) != ssize_t(head)) {
            fReadStatus = B_IO_ERROR;
            return false;
        }
        if (compressed)
            timeDelta = replicated[0];
        packet.objectTime = PlaybackTime(compressed ? offset : read_le32(replicated + 4));
        Skip(replicatedLength - head);
    } else {
        Skip(replicatedLength);
    }

    uint32 length = 0;
    uint64 position = uint64(fIO->Position());
    if (packet.multiple) {
        READ_MULTI(&length, 2);
        if (fReadStatus != B_OK)
            return false;
        position += 2;
    } else {
        uint64 size;
        if (fHasProperties)
            size = fMaxPacketSize;
        else if (packet.end != 0)
            size = packet.end - packet.start;
        else {
            // Nothing tells how long this packet is: the file cannot be read.
            fReadStatus = B_BAD_DATA;
            return false;
        }
        uint64 used = position - packet.start + packet.padding;
        if (used > size) {
            packet.broken = true;
            return false;
        }
        length = uint32(size - used) & 0xFFFF;
    }

    if ((packet.end != 0 && position + length + packet.padding > packet.end) ||
        (fDataEnd != 0 && position + length > fDataEnd)) {
        packet.broken = true;
        return false;
    }

    int32 index = FindStream(streamNumber & 0x7F);
    if (index < 0) {
        // Streams not played here (commands, images), and payloads of
        // streams the header never declared, which are counted.
        if (index == kUndeclared)
            fUndeclaredPayloads++;
        Skip(length);
        return true;
    }
    packet.keyFrame = (streamNumber & 0x80) != 0;

    if (!compressed) {
        DeliverPayload(packet, index, objectNumber, offset, length, true);
        return true;
    }

    uint32 remaining = length;
    for (uint32 sub = 0; remaining > 0; sub++) {
        uint8 subLength;
        if (fIO->Read(&subLength, 1) != 1) {
            fReadStatus = B_IO_ERROR;
            return false;
        }
        remaining--;
        if (subLength > remaining) {
            packet.broken = true;
            return false;
        }
        DeliverPayload(packet, index, objectNumber + sub, 0, subLength, false);
        packet.objectTime += timeDelta;
        remaining -= subLength;
    }
    return true;
}

status_t CASFExtractor::ReadPacket(packet_state& packet)
{
    packet.start = uint64(fIO->Position());
    bool fixedSize = fHasProperties && fMinPacketSize == fMaxPacketSize && fMaxPacketSize > 0;
    packet.end = fixedSize ? packet.start + fMaxPacketSize : 0;

    uint8 first;
    ssize_t got = fIO->Read(&first, 1);
    if (got <= 0) {
        if (got < 0)
            return got;
        // The file ends on a packet boundary. If the data object promised
        // more, the file was cut short; what it holds still plays.
        fTruncated = fDataEnd != 0 || fTotalPackets != 0;
        FinishData(packet);
        return kEndOfData;
    }

    uint8 flags = first;
    if ((first & 0x80) != 0) {
        uint32 errorLength = first & 0x0F;
        if (((first >> 5) & 3) != 0) {
            DEBUG_CHECK(errorLength == 0, "ec_data_length==0");
            errorLength = 0;
            READ_MULTI(&errorLength, 2);
        }
        Skip(errorLength);
        if ((first & 0x10) != 0 && _rtDebugFlag)
            debugger("Should not be here");
        if (fIO->Read(&flags, 1) != 1)
            return B_IO_ERROR;
        DEBUG_CHECK(!(flags & 0x80), "!(flags & 0x80)");
    }

    packet.multiple = (flags & 1) != 0;
    uint32 sequenceWidth = field_width((flags >> 1) & 3);
    uint32 paddingWidth = field_width((flags >> 3) & 3);
    uint32 packetLengthWidth = field_width((flags >> 5) & 3);

    uint8 properties;
    if (fIO->Read(&properties, 1) != 1)
        return B_IO_ERROR;
    packet.replicatedWidth = field_width(properties & 3);
    packet.offsetWidth = field_width((properties >> 2) & 3);
    packet.objectNumberWidth = field_width((properties >> 4) & 3);
    packet.streamNumberWidth = field_width((properties >> 6) & 3);

    uint32 sequence = 0;
    packet.packetLength = 0;
    packet.padding = 0;
    READ_MULTI(&packet.packetLength, packetLengthWidth);
    READ_MULTI(&sequence, sequenceWidth);
    READ_MULTI(&packet.padding, paddingWidth);
    uint8 timing[6];
    if (fReadStatus != B_OK || fIO->Read(timing, sizeof(timing)) != ssize_t(sizeof(timing)))
        return B_IO_ERROR;
    packet.sendTime = read_le32(timing);
    fLastSendTime = packet.sendTime + read_le16(timing + 4);

    // Without a file properties object, a packet that states its length is
    // the only source of its size.
    uint64 headerEnd = uint64(fIO->Position());
    if (!fHasProperties && packetLengthWidth != 0 && packet.packetLength != 0)
        packet.end = packet.start + packet.packetLength;
    if (packet.end != 0 && packet.end < headerEnd) {
        packet.broken = true;
        // A stated length shorter than the fields read cannot be trusted to
        // lead to the next packet; only a fixed size can.
        if (!fixedSize)
            packet.end = 0;
    }

    uint32 payloads = 1;
    if (packet.multiple && !packet.broken) {
        uint8 payloadFlags;
        if (fIO->Read(&payloadFlags, 1) != 1)
            return B_IO_ERROR;
        payloads = payloadFlags & 0x7F;
    }

    for (uint32 i = 0; i < payloads && !packet.broken; i++) {
        if (!ReadPayload(packet))
            break;
    }
    if (fReadStatus != B_OK)
        return fReadStatus;
    fPacketsRead++;

    if (packet.end != 0) {
        // Packets of known size follow each other without gaps: whatever this
        // one held, the next starts at its end.
        fIO->Seek(off_t(packet.end), SEEK_SET);
        if (fixedSize)
            return B_OK;
    } else if (!packet.broken) {
        Skip(packet.padding);
    }

    // Packets of varying size may be followed by zero fill.
    uint8 fill = 0;
    while ((fDataEnd == 0 || uint64(fIO->Position()) < fDataEnd) && fIO->Read(&fill, 1) == 1 &&
           fill == 0) {
    }
    if (fill != 0)
        fIO->Seek(-1, SEEK_CUR);
    return B_OK;
}

void CASFExtractor::FinishData(packet_state& packet)
{
    // The last object of each stream is complete once the data ends.
    for (int32 i = 0; i < fStreamCount; i++) {
        stream_info& info = fStreams[i];
        if (info.new_object)
            continue;
        fCompletedTime[i] = fObjectTime[i];
        fCompletedKey[i] = fObjectKey[i];
        if (info.object_broken) {
            if (packet.skipFunction != nullptr)
                packet.skipFunction(i, packet.cookie);
        } else if (packet.flushFunction != nullptr) {
            packet.flushFunction(i, false, fLastSendTime, packet.cookie);
        }
        info.new_object = true;
        info.object_broken = false;
        info.object_offset = 0;
    }
    fReadStatus = kEndOfData;
}

status_t CASFExtractor::MakeBufferIO()
{
    if (fIO != nullptr)
        return B_OK;
    BPositionIO* positionIO = dynamic_cast<BPositionIO*>(fStream);
    if (positionIO == nullptr)
        return B_NOT_SUPPORTED;
    fIO = new (std::nothrow) BBufferIO(positionIO, BBufferIO::kDefaultBufferSize, false);
    if (fIO == nullptr || fIO->InitCheck() != B_OK) {
        delete fIO;
        fIO = nullptr;
        return B_NO_MEMORY;
    }
    return B_OK;
}

status_t CASFExtractor::ReadOn(stream_function streamFunction, flush_function flushFunction,
                               skip_function skipFunction, void* cookie)
{
    if (fInitStatus < B_OK)
        return B_NO_INIT;
    if (fReadStatus != B_OK)
        return fReadStatus;

    status_t status = MakeBufferIO();
    if (status != B_OK)
        return status;

    packet_state packet{};
    packet.streamFunction = streamFunction;
    packet.flushFunction = flushFunction;
    packet.skipFunction = skipFunction;
    packet.cookie = cookie;

    if (AtEndOfData()) {
        FinishData(packet);
        return kEndOfData;
    }
    status = ReadPacket(packet);
    if (status < B_OK)
        fReadStatus = status;
    return status;
}
