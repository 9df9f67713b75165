// Finding and going to a place in the data: packets of fixed size by their
// number, the Simple Index after the data object.

#include "asf/ASFExtractor.h"

#include "platform/support/BufferIO.h"
#include "platform/support/ByteOrder.h"

namespace
{

constexpr uint32 kObjectHeaderSize = 24;
// File ID, entry time interval, maximum packet count, entry count.
constexpr uint32 kSimpleIndexFields = 32;
constexpr uint32 kSimpleIndexEntrySize = 6;
// An index this long would cover years of playback at one entry a second.
constexpr uint32 kMaxIndexEntries = 1u << 24;

// {33000890-E5B1-11CF-89F4-00A0C90349CB} in file byte order.
constexpr uint8 kSimpleIndexGUID[16] = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11,
                                        0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};

constexpr uint32 field_width(uint32 code)
{
    return code == 3 ? 4 : code;
}

} // namespace

bool CASFExtractor::FixedPacketSize() const
{
    return fHasProperties && fMinPacketSize == fMaxPacketSize && fMaxPacketSize > 0;
}

uint64 CASFExtractor::CountPackets() const
{
    if (fInitStatus < B_OK || !FixedPacketSize())
        return 0;
    uint64 count = fTotalPackets;
    if (fDataEnd > fDataStart) {
        uint64 fit = (fDataEnd - fDataStart) / fMaxPacketSize;
        count = count == 0 ? fit : min_c(count, fit);
    }
    return count;
}

bool CASFExtractor::PacketSendTime(uint64 packet, uint32* sendTime)
{
    auto* io = dynamic_cast<BPositionIO*>(fStream);
    if (io == nullptr || packet >= CountPackets())
        return false;
    uint8 bytes[32];
    off_t at = off_t(fDataStart + packet * fMaxPacketSize);
    if (io->ReadAt(at, bytes, sizeof(bytes)) != ssize_t(sizeof(bytes)))
        return false;
    uint32 p = 0;
    uint8 flags = bytes[p++];
    if ((flags & 0x80) != 0) {
        // Error correction data of a length the first byte gives.
        if (((flags >> 5) & 3) != 0)
            return false;
        p += flags & 0x0F;
        flags = bytes[p++];
    }
    p++; // property flags
    p += field_width((flags >> 5) & 3) + field_width((flags >> 1) & 3) +
         field_width((flags >> 3) & 3);
    if (p + 4 > sizeof(bytes))
        return false;
    *sendTime = read_le32(bytes + p);
    return true;
}

void CASFExtractor::ReadIndex()
{
    fIndexRead = true;
    auto* io = dynamic_cast<BPositionIO*>(fStream);
    if (io == nullptr || fDataEnd == 0)
        return;
    uint64 at = fDataEnd;
    // The objects after the data object, one by one, up to the file's end.
    for (int objects = 0; objects < 16; objects++) {
        uint8 header[kObjectHeaderSize + kSimpleIndexFields];
        ssize_t got = io->ReadAt(off_t(at), header, sizeof(header));
        if (got < ssize_t(kObjectHeaderSize))
            return;
        uint64 size = read_le64(header + 16);
        if (size < kObjectHeaderSize || size > UINT64_MAX - at)
            return;
        if (memcmp(header, kSimpleIndexGUID, 16) == 0 && got == ssize_t(sizeof(header)) &&
            size >= kObjectHeaderSize + kSimpleIndexFields) {
            uint64 interval = read_le64(header + kObjectHeaderSize + 16);
            uint32 count = read_le32(header + kObjectHeaderSize + 28);
            uint64 room = (size - kObjectHeaderSize - kSimpleIndexFields) / kSimpleIndexEntrySize;
            if (interval == 0 || count == 0 || count > room || count > kMaxIndexEntries)
                return;
            // In pieces: memory grows only with what the file really holds.
            std::vector<uint32> packets;
            uint8 entries[4096 * kSimpleIndexEntrySize];
            for (uint32 done = 0; done < count;) {
                uint32 piece = min_c<uint32>(count - done, 4096);
                off_t from = off_t(at + sizeof(header) + uint64(done) * kSimpleIndexEntrySize);
                if (io->ReadAt(from, entries, piece * kSimpleIndexEntrySize) !=
                    ssize_t(piece * kSimpleIndexEntrySize))
                    return;
                for (uint32 i = 0; i < piece; i++)
                    packets.push_back(read_le32(entries + i * kSimpleIndexEntrySize));
                done += piece;
            }
            fIndexPackets = std::move(packets);
            fIndexInterval = interval;
            return;
        }
        at += size;
    }
}

bool CASFExtractor::IndexedPacket(uint32 time, uint64* packet)
{
    if (fInitStatus < B_OK || !FixedPacketSize())
        return false;
    if (!fIndexRead)
        ReadIndex();
    if (fIndexPackets.empty())
        return false;
    // Entries count from the start of the presentation, preroll included;
    // taking the entry for the time without it errs early, never late.
    uint64 entry = uint64(time) * 10000 / fIndexInterval;
    if (entry >= fIndexPackets.size())
        entry = fIndexPackets.size() - 1;
    uint64 count = CountPackets();
    *packet = min_c<uint64>(fIndexPackets[entry], count > 0 ? count - 1 : 0);
    return true;
}

status_t CASFExtractor::SeekToPacket(uint64 packet)
{
    if (fInitStatus < B_OK)
        return B_NO_INIT;
    if (packet != 0 && packet >= CountPackets())
        return B_BAD_VALUE;
    status_t status = MakeBufferIO();
    if (status != B_OK)
        return status;
    uint64 at = fDataStart + packet * (packet != 0 ? fMaxPacketSize : 0);
    if (fIO->Seek(off_t(at), SEEK_SET) != off_t(at))
        return B_IO_ERROR;
    for (int32 i = 0; i < fStreamCount; i++) {
        stream_info& info = fStreams[i];
        info.object_number = 0;
        info.new_object = true;
        info.object_offset = 0;
        info.object_broken = false;
        fObjectTime[i] = fCompletedTime[i] = 0;
        fObjectKey[i] = fCompletedKey[i] = false;
    }
    fPacketsRead = packet;
    fReadStatus = B_OK;
    fTruncated = false;
    return B_OK;
}
