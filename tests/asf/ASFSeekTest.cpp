// Finding places in the data: a packet from any byte, whatever the packets'
// sizes, and the places the index objects give.

#include "ASFTestSink.h"
#include "ASFTestWriter.h"

#include <gtest/gtest.h>

#include "platform/storage/File.h"

#include <algorithm>
#include <random>
#include <unistd.h>

namespace
{

constexpr uint32 kPackets = 200;
constexpr uint32 kSendStep = 40; // ms between packets
constexpr uint32 kKeyEvery = 5;  // packets per key frame

struct laid_out {
    test_file file;
    bytes_t bytes;
    uint64 dataStart = 0;
    std::vector<uint64> starts;    // of each packet, in the file
    std::vector<bytes_t> payloads; // each packet's audio payload
};

// Packets of one audio (1) and one video (2) payload each, a video key
// frame every kKeyEvery packets. Fixed: 512 bytes each, as muxers write
// them. Varying: each states its length, and its payload bytes are random
// with copies of earlier packets' headers among them, which a search for
// a packet start must not take for one.
laid_out lay_out(bool fixed, const bytes_t& trailer = {})
{
    std::mt19937 random(7);
    laid_out out;
    out.file.header.streams = {audio_stream(1), video_stream(2)};
    out.file.header.minPacketSize = fixed ? 512 : 64;
    out.file.header.maxPacketSize = fixed ? 512 : 1200;
    out.dataStart = make_header_object(out.file.header).size() + 50;
    uint64 at = out.dataStart;
    for (uint32 i = 0; i < kPackets; i++) {
        test_packet packet;
        packet.sendTime = i * kSendStep;
        if (!fixed) {
            packet.packetLengthType = 2;
            packet.padding = random() % 3 == 0 ? random() % 40 : 0;
        }
        for (uint8 stream : {1, 2}) {
            test_payload payload;
            payload.stream = stream;
            payload.objectNumber = i;
            payload.keyFrame = stream == 2 && i % kKeyEvery == 0;
            payload.data.resize(fixed ? 100 + random() % 100 : 40 + random() % 400);
            for (uint8& byte : payload.data)
                byte = uint8(random());
            if (!fixed && i >= 3) {
                const bytes_t& earlier = out.file.packets[i - 3];
                size_t copy = std::min<size_t>(24, earlier.size());
                size_t where = random() % (payload.data.size() - copy);
                std::copy(earlier.begin(), earlier.begin() + long(copy),
                          payload.data.begin() + long(where));
            }
            if (stream == 1)
                out.payloads.push_back(payload.data);
            packet.payloads.push_back(payload);
        }
        bytes_t bytes = make_packet(packet, fixed ? 512 : 0);
        out.starts.push_back(at);
        at += bytes.size();
        out.file.packets.push_back(std::move(bytes));
    }
    out.file.trailer = trailer;
    out.bytes = make_file(out.file);
    return out;
}

// An Index object of two specifiers (the audio stream's, with nothing
// usable in it, then the video stream's), one entry a second, in two blocks.
bytes_t index_object(const laid_out& file, uint32 seconds, bool damaged = false)
{
    bytes_t body;
    append_le(body, 1000, 4); // ms per entry
    append_le(body, 2, 2);
    append_le(body, 2, 4); // blocks
    for (uint32 stream : {1, 2}) {
        append_le(body, stream, 2);
        append_le(body, stream == 1 ? 1 : 3, 2);
    }
    uint32 half = seconds / 2;
    for (uint32 block = 0; block < 2; block++) {
        uint32 first = block == 0 ? 0 : half;
        uint32 count = block == 0 ? half : seconds - half;
        append_le(body, damaged ? 0x40000000 : count, 4);
        // Block positions: each stream's is where the block's first key
        // frame lies, relative to the first packet.
        uint32 firstKey = first * 1000 / kSendStep / kKeyEvery * kKeyEvery;
        uint64 base = file.starts[firstKey] - file.dataStart;
        append_le(body, 0x7FFFFFFFFFFFFFFFull, 8);
        append_le(body, base, 8);
        for (uint32 entry = first; entry < first + count; entry++) {
            uint32 key = entry * 1000 / kSendStep / kKeyEvery * kKeyEvery;
            append_le(body, 0x12345678, 4);
            // The fourth second's entry has no place: the one before holds.
            append_le(body, entry == 3 ? UINT32_MAX : file.starts[key] - file.dataStart - base, 4);
        }
    }
    static const guid_t kIndex = {{0xD3, 0x29, 0xE2, 0xD6, 0xDA, 0x35, 0xD1, 0x11, 0x90, 0x34, 0x00,
                                   0xA0, 0xC9, 0x03, 0x49, 0xBE}};
    return make_object(kIndex, body);
}

} // namespace

TEST(ASFSeek, FindsTheNextPacketFromAnyByteWhateverThePacketsSizes)
{
    for (bool fixed : {true, false}) {
        SCOPED_TRACE(fixed ? "fixed size" : "varying size");
        laid_out file = lay_out(fixed);
        BMemoryIO io(static_cast<const void*>(file.bytes.data()), file.bytes.size());
        CASFExtractor extractor(&io);
        ASSERT_EQ(extractor.InitCheck(), B_OK);
        EXPECT_EQ(extractor.DataStart(), file.dataStart);
        uint64 end = extractor.DataEnd();
        size_t next = 0;
        for (uint64 from = file.dataStart; from < end; from += fixed ? 1 : 3) {
            while (next < kPackets && file.starts[next] < from)
                next++;
            uint64 offset = 0;
            uint32 sendTime = 0;
            bool found = extractor.PacketAt(from, &offset, &sendTime);
            if (next == kPackets) {
                EXPECT_FALSE(found) << from;
                continue;
            }
            ASSERT_TRUE(found) << "from " << from;
            ASSERT_EQ(offset, file.starts[next]) << "from " << from;
            EXPECT_EQ(sendTime, next * kSendStep);
        }

        // Reading goes on from the packet found: its payloads come next,
        // every one of them whole.
        uint64 offset = 0;
        uint32 sendTime = 0;
        ASSERT_TRUE(extractor.PacketAt(file.starts[100] - 1, &offset, &sendTime));
        ASSERT_EQ(extractor.SeekToOffset(offset), B_OK);
        test_sink sink;
        sink.ReadAll(extractor);
        std::vector<std::string> data;
        for (const std::string& event : sink.events) {
            EXPECT_EQ(event.rfind("skip", 0), std::string::npos) << event;
            if (event.rfind("data", 0) == 0)
                data.push_back(event);
        }
        ASSERT_EQ(data.size(), 2u * (kPackets - 100));
        const bytes_t& first = file.payloads[100];
        EXPECT_EQ(data[0], "data 0 " + std::string(first.begin(), first.end()));
    }
}

TEST(ASFSeek, IndexObjectsLeadToTheKeyFrameAtOrBeforeTheTime)
{
    // The Index object, in a file of varying packet sizes.
    laid_out varying = lay_out(false);
    varying = lay_out(false, index_object(varying, 8));
    {
        BMemoryIO io(static_cast<const void*>(varying.bytes.data()), varying.bytes.size());
        CASFExtractor extractor(&io);
        ASSERT_EQ(extractor.InitCheck(), B_OK);
        for (uint32 time : {0u, 999u, 1000u, 2500u, 3500u, 4100u, 7999u, 60000u}) {
            SCOPED_TRACE(time);
            uint32 second = std::min(time / 1000, 7u);
            if (second == 3)
                second = 2; // no place of its own
            uint32 key = second * 1000 / kSendStep / kKeyEvery * kKeyEvery;
            uint64 offset = 0;
            ASSERT_TRUE(extractor.IndexedOffset(time, &offset));
            EXPECT_EQ(offset, varying.starts[key]);
        }
    }
    // A damaged one (more entries than it holds) is no index, and reading
    // it touches nothing outside the file.
    laid_out damaged = lay_out(false, index_object(varying, 8, true));
    {
        BMemoryIO io(static_cast<const void*>(damaged.bytes.data()), damaged.bytes.size());
        CASFExtractor extractor(&io);
        uint64 offset = 0;
        EXPECT_FALSE(extractor.IndexedOffset(2000, &offset));
    }

    // The Simple Index: packet numbers of fixed-size packets.
    laid_out fixed = lay_out(true);
    bytes_t simple;
    append_le(simple, 0, 16);       // file id
    append_le(simple, 10000000, 8); // one entry a second
    append_le(simple, 10, 4);       // max packet count
    append_le(simple, 8, 4);
    for (uint32 second = 0; second < 8; second++) {
        append_le(simple, second * 1000 / kSendStep / kKeyEvery * kKeyEvery, 4);
        append_le(simple, 1, 2);
    }
    static const guid_t kSimpleIndex = {{0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4,
                                         0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
    fixed = lay_out(true, make_object(kSimpleIndex, simple));
    BMemoryIO io(static_cast<const void*>(fixed.bytes.data()), fixed.bytes.size());
    CASFExtractor extractor(&io);
    uint64 offset = 0;
    ASSERT_TRUE(extractor.IndexedOffset(5300, &offset));
    EXPECT_EQ(offset, fixed.starts[125]);
}

TEST(ASFSeek, AFileOverFourGigabytesPlaysAndSeeksNearItsEnd)
{
    // Three packets at the start, a sparse hole of zeros past 4 GiB, three
    // packets at the end, and a Simple Index whose late entries point there.
    constexpr uint32 kSize = 512;
    constexpr uint64 kLatePacket = (uint64(9) << 29) / kSize; // at 4.5 GiB
    test_file file;
    file.header.streams = {audio_stream(1)};
    file.header.preroll = 0;
    file.header.playDuration = 100 * 10000000ull;
    auto packet_at = [&](uint32 number, uint32 sendTime) {
        test_packet packet;
        packet.sendTime = sendTime;
        test_payload payload;
        payload.objectNumber = number;
        payload.replicated = bytes_t(8, 0);
        payload.data = bytes_t(40, uint8(number));
        packet.payloads = {payload};
        return make_packet(packet, kSize);
    };
    bytes_t head = make_header_object(file.header);
    uint64 dataStart = head.size() + 50;
    uint64 totalPackets = kLatePacket + 3;
    file.dataSize = int64(50 + totalPackets * kSize);
    file.packetCount = int64(totalPackets);
    file.packets = {packet_at(0, 0), packet_at(1, 40), packet_at(2, 80)};
    bytes_t start = make_file(file);

    bytes_t simple;
    append_le(simple, 0, 16);
    append_le(simple, 10000000, 8); // one entry a second
    append_le(simple, 1, 4);
    append_le(simple, 100, 4);
    for (uint32 second = 0; second < 100; second++) {
        append_le(simple, second < 90 ? 0 : uint32(kLatePacket), 4);
        append_le(simple, 1, 2);
    }
    static const guid_t kSimpleIndex = {{0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4,
                                         0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB}};
    bytes_t late;
    for (uint32 i = 0; i < 3; i++) {
        bytes_t packet = packet_at(uint32(kLatePacket) + i, 95000 + i * 40);
        late.insert(late.end(), packet.begin(), packet.end());
    }
    bytes_t index = make_object(kSimpleIndex, simple);
    late.insert(late.end(), index.begin(), index.end());

    char path[] = "/tmp/reelmoth-large-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    uint64 lateAt = dataStart + kLatePacket * kSize;
    bool written = pwrite(fd, start.data(), start.size(), 0) == ssize_t(start.size()) &&
                   pwrite(fd, late.data(), late.size(), off_t(lateAt)) == ssize_t(late.size());
    close(fd);
    ASSERT_TRUE(written) << "no room for a sparse file in /tmp";

    {
        BFile large(path, B_READ_ONLY);
        CASFExtractor extractor(&large);
        ASSERT_EQ(extractor.InitCheck(), B_OK);
        EXPECT_EQ(extractor.DataEnd(), lateAt + 3 * kSize);
        uint64 offset = 0;
        ASSERT_TRUE(extractor.IndexedOffset(95000, &offset));
        EXPECT_EQ(offset, lateAt);
        uint32 sendTime = 0;
        ASSERT_TRUE(extractor.PacketAt(lateAt + 1, &offset, &sendTime));
        EXPECT_EQ(offset, lateAt + kSize);
        EXPECT_EQ(sendTime, 95040u);
        ASSERT_TRUE(extractor.LastSendTime(&sendTime));
        EXPECT_EQ(sendTime, 95080u);

        ASSERT_EQ(extractor.SeekToOffset(lateAt), B_OK);
        test_sink sink;
        EXPECT_EQ(sink.ReadAll(extractor), CASFExtractor::kEndOfData);
        std::string last(40, char(uint8(kLatePacket + 2)));
        ASSERT_FALSE(sink.events.empty());
        EXPECT_NE(std::find(sink.events.begin(), sink.events.end(), "data 0 " + last),
                  sink.events.end());
        EXPECT_FALSE(extractor.IsTruncated());
    }
    unlink(path);
}
