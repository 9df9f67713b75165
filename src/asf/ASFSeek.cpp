// Finding and going to a place in the data: packets of fixed size by their
// size, packets of varying size by their headers, and the index objects
// after the data object (the Simple Index, or the Index object).

#include "asf/ASFExtractor.h"

#include "platform/support/BufferIO.h"
#include "platform/support/ByteOrder.h"

#include <cstring>

namespace
{

constexpr uint32 kObjectHeaderSize = 24;
// File ID, entry time interval, maximum packet count, entry count.
constexpr uint32 kSimpleIndexFields = 32;
constexpr uint32 kSimpleIndexEntrySize = 6;
// Entry time interval, specifiers count, blocks count.
constexpr uint32 kIndexFields = 10;
// An index this long would cover years of playback at one entry a second.
constexpr uint32 kMaxIndexEntries = 1u << 24;
constexpr uint32 kMaxIndexSpecifiers = 256;
constexpr uint32 kMaxIndexBlocks = 4096;
// How far past a given place a packet of varying size is looked for.
constexpr uint32 kLongestPacket = 65535;
// Send times run at most this far (ms) past the play duration.
constexpr uint32 kSendTimeSlack = 60000;

// {33000890-E5B1-11CF-89F4-00A0C90349CB} in file byte order.
constexpr guid_t kSimpleIndexGUID = {{0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4,
                                      0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
// {D6E229D3-35DA-11D1-9034-00A0C90349BE} in file byte order.
constexpr guid_t kIndexGUID = {{0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00,
                                0xA0, 0xC9, 0x03, 0x49, 0xBE}};

constexpr uint32 field_width(uint32 code)
{
    return code == 3 ? 4 : code;
}

uint32 read_field(const uint8* bytes, uint32 width)
{
    switch (width) {
    case 1:
        return bytes[0];
    case 2:
        return read_le16(bytes);
    case 4:
        return read_le32(bytes);
    default:
        return 0;
    }
}

// A data packet's leading fields as they lie in `bytes`.
struct packet_header {
    uint8 first = 0;   // the error correction byte, or the flags
    uint32 size = 0;   // of these fields
    uint32 length = 0; // the packet's stated length, 0 when not stated
    uint32 padding = 0;
    uint32 sendTime = 0;
    bool wellFormed = false; // error correction and flags as files write them
    uint8 firstStream = 0;   // stream number of the first payload, 0 when not here
};

bool read_packet_header(const uint8* bytes, size_t available, packet_header* header)
{
    uint32 p = 0;
    auto need = [&](uint32 count) { return p + count <= available; };
    if (!need(1))
        return false;
    uint8 flags = bytes[p++];
    header->first = flags;
    header->wellFormed = true;
    if ((flags & 0x80) != 0) {
        // Error correction data of a length the first byte gives.
        if (((flags >> 5) & 3) != 0)
            return false;
        header->wellFormed = (flags & 0x10) == 0 && (flags & 0x0F) != 0;
        p += flags & 0x0F;
        if (!need(1))
            return false;
        flags = bytes[p++];
    }
    if (!need(1))
        return false;
    uint8 properties = bytes[p++];
    // Files put no flag in bit 7, and always a one-byte stream number.
    header->wellFormed = header->wellFormed && (flags & 0x80) == 0 && (properties >> 6) == 1;
    uint32 lengthWidth = field_width((flags >> 5) & 3);
    uint32 sequenceWidth = field_width((flags >> 1) & 3);
    uint32 paddingWidth = field_width((flags >> 3) & 3);
    if (!need(lengthWidth + sequenceWidth + paddingWidth + 6))
        return false;
    header->length = read_field(bytes + p, lengthWidth);
    p += lengthWidth + sequenceWidth;
    header->padding = read_field(bytes + p, paddingWidth);
    p += paddingWidth;
    header->sendTime = read_le32(bytes + p);
    p += 6;
    header->size = p;
    uint32 streamAt = p + ((flags & 1) != 0 ? 1 : 0);
    header->firstStream = streamAt < available ? bytes[streamAt] & 0x7F : 0;
    return true;
}

} // namespace

const CASFExtractor::index_object_row CASFExtractor::kIndexObjects[] = {
    {kSimpleIndexGUID, &CASFExtractor::ReadSimpleIndex},
    {kIndexGUID, &CASFExtractor::ReadIndexObject},
};

bool CASFExtractor::FixedPacketSize() const
{
    return fHasProperties && fMinPacketSize == fMaxPacketSize && fMaxPacketSize > 0;
}

uint64 CASFExtractor::DataEnd()
{
    // A live capture leaves the data object's size 0, or states more than
    // was written: the file's end is the data's end then.
    auto* io = dynamic_cast<BPositionIO*>(fStream);
    off_t size = 0;
    if (io == nullptr || io->GetSize(&size) != B_OK || uint64(size) < fDataStart)
        return fDataEnd != 0 ? fDataEnd : fDataStart;
    return fDataEnd != 0 ? min_c(fDataEnd, uint64(size)) : uint64(size);
}

bool CASFExtractor::LastSendTime(uint32* sendTime)
{
    uint64 end = DataEnd();
    if (fInitStatus < B_OK || end <= fDataStart)
        return false;
    if (FixedPacketSize()) {
        uint64 count = (end - fDataStart) / fMaxPacketSize;
        // The last whole packet, or one of the few before it when the
        // capture ended inside a packet that is not one.
        for (uint64 k = count; k > 0 && k + 16 > count; k--) {
            if (IsPacketStart(fDataStart + (k - 1) * fMaxPacketSize, sendTime))
                return true;
        }
        return false;
    }
    uint32 longest = fHasProperties && fMaxPacketSize > 0 ? min_c(fMaxPacketSize, kLongestPacket)
                                                          : kLongestPacket;
    uint64 back = uint64(longest) * 2 + 64;
    uint64 from = end - fDataStart > back ? end - back : fDataStart;
    bool found = false;
    uint64 offset;
    uint32 time;
    // Bounded: a file of tiny packets gives the latest found, and reading
    // on finds the rest.
    for (int tries = 0; tries < 256 && PacketAt(from, &offset, &time); tries++) {
        *sendTime = found ? max_c(*sendTime, time) : time;
        found = true;
        from = offset + 1;
    }
    return found;
}

bool CASFExtractor::IsPacketStart(uint64 offset, uint32* sendTime)
{
    auto* io = dynamic_cast<BPositionIO*>(fStream);
    uint64 end = DataEnd();
    if (io == nullptr || offset < fDataStart || offset >= end)
        return false;
    uint8 bytes[40];
    size_t want = size_t(min_c<uint64>(sizeof(bytes), end - offset));
    ssize_t got = io->ReadAt(off_t(offset), bytes, want);
    packet_header header;
    if (got <= 0 || !read_packet_header(bytes, size_t(got), &header))
        return false;
    *sendTime = header.sendTime;
    return true;
}

bool CASFExtractor::PacketAt(uint64 from, uint64* offset, uint32* sendTime)
{
    auto* io = dynamic_cast<BPositionIO*>(fStream);
    uint64 end = DataEnd();
    if (fInitStatus < B_OK || io == nullptr || from >= end)
        return false;
    from = max_c(from, fDataStart);
    if (FixedPacketSize()) {
        uint64 size = fMaxPacketSize;
        uint64 at = fDataStart + (from - fDataStart + size - 1) / size * size;
        if (at >= end || end - at < size || !IsPacketStart(at, sendTime))
            return false;
        *offset = at;
        return true;
    }

    // Packets of varying size: a place where a packet header stands, whose
    // stated length leads to another header sent no earlier, or to the end
    // of the data. A file writes every packet alike: with error correction
    // (then its first byte is the first packet's), or without, which keeps
    // the fields after a packet's error correction from passing for a
    // packet of their own.
    uint8 firstPacket[40];
    packet_header model;
    ssize_t modelBytes = io->ReadAt(off_t(fDataStart), firstPacket, sizeof(firstPacket));
    if (modelBytes <= 0 || !read_packet_header(firstPacket, size_t(modelBytes), &model))
        return false;
    uint32 longest = fHasProperties && fMaxPacketSize > 0 ? min_c(fMaxPacketSize, kLongestPacket)
                                                          : kLongestPacket;
    uint32 maxSendTime = UINT32_MAX;
    // A broadcast's header was written before its duration was known.
    if (!fInfo.isBroadcast && fPlayDuration > 0 &&
        fPlayDuration / 10000 + fPreroll + kSendTimeSlack < UINT32_MAX)
        maxSendTime = uint32(fPlayDuration / 10000 + fPreroll + kSendTimeSlack);
    size_t window = size_t(min_c<uint64>(end - from, uint64(longest) * 2 + 64));
    std::vector<uint8> bytes(window);
    ssize_t got = io->ReadAt(off_t(from), bytes.data(), window);
    if (got <= 0)
        return false;
    window = size_t(got);
    auto plausible = [&](const packet_header& h, uint64 at) {
        bool alike = (model.first & 0x80) != 0 ? h.first == model.first : (h.first & 0x80) == 0;
        return alike && h.wellFormed && h.length > h.size && h.length <= longest &&
               h.padding < h.length && h.sendTime <= maxSendTime && at + h.length <= end &&
               FindStream(h.firstStream) != kUndeclared;
    };
    for (size_t i = 0; i + 1 < window && i <= longest; i++) {
        packet_header header;
        if (!read_packet_header(bytes.data() + i, window - i, &header) ||
            !plausible(header, from + i))
            continue;
        uint64 next = from + i + header.length;
        bool confirmed = next == end;
        if (!confirmed) {
            uint8 following[40];
            size_t want = size_t(min_c<uint64>(sizeof(following), end - next));
            ssize_t read = io->ReadAt(off_t(next), following, want);
            packet_header after;
            confirmed = read > 0 && read_packet_header(following, size_t(read), &after) &&
                        plausible(after, next) && after.sendTime >= header.sendTime;
        }
        if (confirmed) {
            *offset = from + i;
            *sendTime = header.sendTime;
            return true;
        }
    }
    return false;
}

bool CASFExtractor::ReadSimpleIndex(BPositionIO* io, uint64 at, uint64 size)
{
    // Packet numbers: only packets of one size have a known place.
    uint8 fields[kSimpleIndexFields];
    if (!FixedPacketSize() || size < kObjectHeaderSize + kSimpleIndexFields ||
        io->ReadAt(off_t(at + kObjectHeaderSize), fields, sizeof(fields)) !=
            ssize_t(sizeof(fields)))
        return false;
    uint64 interval = read_le64(fields + 16);
    uint32 count = read_le32(fields + 28);
    uint64 room = (size - kObjectHeaderSize - kSimpleIndexFields) / kSimpleIndexEntrySize;
    if (interval == 0 || count == 0 || count > room || count > kMaxIndexEntries)
        return false;
    uint64 end = DataEnd();
    uint64 lastPacket = end > fDataStart ? (end - fDataStart) / fMaxPacketSize : 0;
    if (lastPacket == 0)
        return false;
    // In pieces: memory grows only with what the file really holds.
    std::vector<uint64> offsets;
    uint8 entries[4096 * kSimpleIndexEntrySize];
    for (uint32 done = 0; done < count;) {
        uint32 piece = min_c<uint32>(count - done, 4096);
        off_t from = off_t(at + kObjectHeaderSize + kSimpleIndexFields +
                           uint64(done) * kSimpleIndexEntrySize);
        if (io->ReadAt(from, entries, piece * kSimpleIndexEntrySize) !=
            ssize_t(piece * kSimpleIndexEntrySize))
            return false;
        for (uint32 i = 0; i < piece; i++) {
            uint64 packet =
                min_c<uint64>(read_le32(entries + i * kSimpleIndexEntrySize), lastPacket - 1);
            offsets.push_back(fDataStart + packet * fMaxPacketSize);
        }
        done += piece;
    }
    fIndexOffsets = std::move(offsets);
    fIndexInterval = interval;
    return true;
}

bool CASFExtractor::ReadIndexObject(BPositionIO* io, uint64 at, uint64 size)
{
    uint8 fields[kIndexFields];
    uint64 body = at + kObjectHeaderSize;
    uint64 objectEnd = at + size;
    if (size < kObjectHeaderSize + kIndexFields ||
        io->ReadAt(off_t(body), fields, sizeof(fields)) != ssize_t(sizeof(fields)))
        return false;
    uint32 interval = read_le32(fields);
    uint32 specifiers = read_le16(fields + 4);
    uint32 blocks = read_le32(fields + 6);
    if (interval == 0 || specifiers == 0 || specifiers > kMaxIndexSpecifiers || blocks == 0 ||
        blocks > kMaxIndexBlocks)
        return false;
    uint64 p = body + kIndexFields;
    if (objectEnd - p < uint64(specifiers) * 4)
        return false;
    std::vector<uint8> specifierBytes(specifiers * 4);
    if (io->ReadAt(off_t(p), specifierBytes.data(), specifierBytes.size()) !=
        ssize_t(specifierBytes.size()))
        return false;
    p += specifierBytes.size();
    // The index of a video stream, whose entries lead to key frames; else
    // the first.
    uint32 chosen = 0;
    for (uint32 i = 0; i < specifiers; i++) {
        int32 stream = FindStream(read_le16(specifierBytes.data() + i * 4));
        if (stream >= 0 && fStreams[stream].type == kVideoStream) {
            chosen = i;
            break;
        }
    }

    uint64 end = DataEnd();
    std::vector<uint64> offsets;
    uint64 last = fDataStart;
    std::vector<uint8> positions(specifiers * 8);
    std::vector<uint8> entries;
    for (uint32 block = 0; block < blocks; block++) {
        uint8 countBytes[4];
        if (objectEnd - p < 4 + positions.size() || io->ReadAt(off_t(p), countBytes, 4) != 4 ||
            io->ReadAt(off_t(p + 4), positions.data(), positions.size()) !=
                ssize_t(positions.size()))
            return false;
        uint32 count = read_le32(countBytes);
        uint64 position = read_le64(positions.data() + chosen * 8);
        p += 4 + positions.size();
        uint64 entrySize = uint64(specifiers) * 4;
        if (count > kMaxIndexEntries - offsets.size() || (objectEnd - p) / entrySize < count)
            return false;
        for (uint32 done = 0; done < count;) {
            uint32 piece = min_c<uint32>(count - done, 4096);
            entries.resize(size_t(piece * entrySize));
            if (io->ReadAt(off_t(p + done * entrySize), entries.data(), entries.size()) !=
                ssize_t(entries.size()))
                return false;
            for (uint32 i = 0; i < piece; i++) {
                uint32 offset = read_le32(entries.data() + i * entrySize + chosen * 4);
                // An entry without a place, or past the data, repeats the
                // one before.
                if (offset != UINT32_MAX && position <= UINT64_MAX - fDataStart - offset &&
                    fDataStart + position + offset < end)
                    last = fDataStart + position + offset;
                offsets.push_back(last);
            }
            done += piece;
        }
        p += count * entrySize;
    }
    if (offsets.empty())
        return false;
    fIndexOffsets = std::move(offsets);
    fIndexInterval = uint64(interval) * 10000;
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
        uint8 header[kObjectHeaderSize];
        if (io->ReadAt(off_t(at), header, sizeof(header)) != ssize_t(sizeof(header)))
            return;
        uint64 size = read_le64(header + 16);
        if (size < kObjectHeaderSize || size > UINT64_MAX - at)
            return;
        guid_t guid;
        memcpy(guid.data, header, 16);
        const index_object_row* row = find_object_row(kIndexObjects, guid);
        if (row != nullptr && (this->*row->read)(io, at, size))
            return;
        at += size;
    }
}

bool CASFExtractor::IndexedOffset(uint32 time, uint64* offset)
{
    if (fInitStatus < B_OK)
        return false;
    if (!fIndexRead)
        ReadIndex();
    if (fIndexOffsets.empty())
        return false;
    // Entries count from the start of the presentation, preroll included;
    // taking the entry for the time without it errs early, never late.
    uint64 entry = uint64(time) * 10000 / fIndexInterval;
    if (entry >= fIndexOffsets.size())
        entry = fIndexOffsets.size() - 1;
    uint32 sendTime = 0;
    // An entry of a varying-size file must lead to a packet's start.
    if (!FixedPacketSize() && !IsPacketStart(fIndexOffsets[entry], &sendTime))
        return false;
    *offset = fIndexOffsets[entry];
    return true;
}

status_t CASFExtractor::SeekToOffset(uint64 offset)
{
    if (fInitStatus < B_OK)
        return B_NO_INIT;
    if (offset < fDataStart || (offset != fDataStart && offset >= DataEnd()))
        return B_BAD_VALUE;
    bool fixed = FixedPacketSize();
    if (fixed)
        offset = fDataStart + (offset - fDataStart) / fMaxPacketSize * fMaxPacketSize;
    status_t status = MakeBufferIO();
    if (status != B_OK)
        return status;
    if (fIO->Seek(off_t(offset), SEEK_SET) != off_t(offset))
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
    fPacketsRead = fixed ? (offset - fDataStart) / fMaxPacketSize : 0;
    fReadStatus = B_OK;
    fTruncated = false;
    return B_OK;
}
