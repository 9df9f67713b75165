#include "ASFTestSink.h"
#include "ASFTestWriter.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

using events_t = std::vector<std::string>;

bytes_t text(const std::string& value)
{
    return bytes_t(value.begin(), value.end());
}

test_payload payload(uint8 stream, uint32 object, uint32 offset, const std::string& data,
                     bool key = false)
{
    test_payload p;
    p.stream = stream;
    p.objectNumber = object;
    p.offset = offset;
    p.data = text(data);
    p.keyFrame = key;
    return p;
}

test_packet packet_of(std::vector<test_payload> payloads, uint32 sendTime = 0)
{
    test_packet p;
    p.payloads = std::move(payloads);
    p.sendTime = sendTime;
    return p;
}

// Reads a whole file and returns what the sink saw; `status` gets ReadOn's
// last result.
events_t read_file(const bytes_t& file, status_t* status = nullptr, test_sink* sink = nullptr)
{
    test_sink local;
    if (sink == nullptr)
        sink = &local;
    BMemoryIO io(static_cast<const void*>(file.data()), file.size());
    CASFExtractor extractor(&io);
    EXPECT_EQ(extractor.InitCheck(), B_OK);
    status_t last = sink->ReadAll(extractor);
    if (status != nullptr)
        *status = last;
    // Once ended, the walk stays ended and calls nothing.
    size_t seen = sink->events.size();
    EXPECT_EQ(sink->ReadOn(extractor), last);
    EXPECT_EQ(sink->events.size(), seen);
    return sink->events;
}

} // namespace

TEST(ASFPacketReader, DeliversObjectsWithTheTableIndexAndFlushesEachOnce)
{
    // Audio is ASF stream 1 and table index 0; video is stream 2, index 1.
    bytes_t file = make_file_with_packets({
        packet_of({payload(2, 1, 0, "V1", true), payload(1, 1, 0, "A1")}, 100),
        packet_of({payload(2, 2, 0, "V2"), payload(1, 2, 0, "A2")}, 140),
    });
    status_t status;
    events_t events = read_file(file, &status);
    EXPECT_EQ(status, CASFExtractor::kEndOfData);
    events_t expected = {
        "flush 1 key 100", "data 1 V1",   "flush 0 100", "data 0 A1", // first payloads flush first
        "flush 1 140",     "data 1 V2",   "flush 0 140", "data 0 A2",
        "flush 0 140",     "flush 1 140", // the last objects, once the data ends
    };
    EXPECT_EQ(events, expected);
}

TEST(ASFPacketReader, ReassemblesFragmentsAndSkipsObjectsThatLostOne)
{
    bytes_t file = make_file_with_packets({
        packet_of({payload(2, 7, 0, "aaa")}),
        packet_of({payload(2, 7, 3, "bbb")}),
        packet_of({payload(2, 7, 6, "ccc")}),
        // object 8 loses its middle fragment
        packet_of({payload(2, 8, 0, "ddd")}),
        packet_of({payload(2, 8, 6, "fff")}),
        packet_of({payload(2, 9, 0, "ggg")}),
        // object 10's fragments arrive out of order
        packet_of({payload(2, 10, 3, "iii")}),
        packet_of({payload(2, 10, 0, "hhh")}),
        packet_of({payload(2, 11, 0, "jjj")}),
    });
    events_t expected = {
        "flush 1 0",  "data 1 aaa", "data 1 bbb", "data 1 ccc", "flush 1 0",
        "data 1 ddd", "skip 1",     "data 1 ggg", "flush 1 0",  "data 1 hhh",
        "skip 1",     "data 1 jjj", "flush 1 0",
    };
    EXPECT_EQ(read_file(file), expected);
}

TEST(ASFPacketReader, ReadsEveryFieldWidthAndErrorCorrectionForm)
{
    test_packet wide = packet_of({payload(1, 0x1234, 0, "wide", true)}, 77);
    wide.paddingType = 3;
    wide.offsetType = 2;
    wide.objectNumberType = 3;
    wide.streamNumberType = 2;
    wide.replicatedType = 3;
    wide.sequenceType = 3;
    wide.packetLengthType = 2;
    test_packet longCorrection = packet_of({payload(1, 0x1235, 0, "ec")}, 78);
    longCorrection.errorCorrection = 0xA0; // error correction length type 1: 2-byte length
    longCorrection.errorLength = 5;
    test_packet plain = packet_of({payload(1, 0x1236, 0, "plain")}, 79);
    plain.errorCorrection = 0;
    plain.sequenceType = 1;
    plain.packetLengthType = 3;
    plain.replicatedType = 2;
    test_packet noReplicated = packet_of({payload(1, 0x1237, 0, "bare")}, 80);
    noReplicated.payloads[0].replicated.clear();
    noReplicated.replicatedType = 0;
    noReplicated.objectNumberType = 2;

    events_t events =
        read_file(make_file_with_packets({wide, longCorrection, plain, noReplicated}));
    events_t expected = {"flush 0 key 77", "data 0 wide", "flush 0 78",  "data 0 ec", "flush 0 79",
                         "data 0 plain",   "flush 0 80",  "data 0 bare", "flush 0 80"};
    EXPECT_EQ(events, expected);
}

TEST(ASFPacketReader, ComputesTheSinglePayloadLengthFromThePacketSize)
{
    // 40 bytes before the payload data, padding 100, packet size 3200.
    test_packet p = packet_of({payload(1, 0, 0, std::string(3060, 'x'))});
    p.payloads[0].replicated = bytes_t(20, 0);
    p.padding = 100;
    bytes_t packet = make_packet(p, 3200);
    ASSERT_EQ(packet.size(), 3200u);
    test_file file;
    file.header.minPacketSize = file.header.maxPacketSize = 3200;
    file.header.streams = {audio_stream(1)};
    file.packets = {packet};
    events_t events = read_file(make_file(file));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1], "data 0 " + std::string(3060, 'x'));
}

TEST(ASFPacketReader, ReadsMultiplePayloadsWhateverTheirLengthBitsSay)
{
    test_packet p =
        packet_of({payload(1, 1, 0, "a"), payload(2, 1, 0, "bb"), payload(1, 2, 0, "ccc")});
    p.payloadFlagsHigh = 0x80; // 0x83: three payloads, each with a 2-byte length
    test_packet q = packet_of({payload(1, 3, 0, "d"), payload(2, 2, 0, "e")});
    q.payloadFlagsHigh = 0x00; // length type bits say nothing: still 2 bytes
    events_t events = read_file(make_file_with_packets({p, q}));
    events_t expected = {"flush 0 0", "data 0 a",   "flush 1 0", "data 1 bb",
                         "flush 0 0", "data 0 ccc", "flush 0 0", "data 0 d",
                         "flush 1 0", "data 1 e",   "flush 0 0", "flush 1 0"};
    EXPECT_EQ(events, expected);
}

TEST(ASFPacketReader, DeliversEachSubPayloadOfACompressedPayloadAsItsOwnObject)
{
    test_packet p =
        packet_of({compressed_payload(1, 10, 5000, {text("one"), text("two!"), text("3")}),
                   payload(1, 13, 0, "four")});
    events_t events = read_file(make_file_with_packets({p}));
    events_t expected = {"flush 0 0", "data 0 one", "flush 0 0",   "data 0 two!", "flush 0 0",
                         "data 0 3",  "flush 0 0",  "data 0 four", "flush 0 0"};
    EXPECT_EQ(events, expected);

    // A sub-payload longer than what is left of its payload loses the packet.
    test_packet bad = p;
    bad.payloads[0].data[4] = 200;
    test_packet next = packet_of({payload(1, 20, 0, "next")});
    events = read_file(make_file_with_packets({bad, next}));
    expected = {"flush 0 0", "data 0 one", "flush 0 0", "data 0 next", "flush 0 0"};
    EXPECT_EQ(events, expected);
}

TEST(ASFPacketReader, ABrokenPacketCostsThatPacketOnly)
{
    test_packet tooLong = packet_of({payload(1, 1, 0, "ok"), payload(2, 1, 0, "lost")});
    bytes_t broken = make_packet(tooLong, 512);
    // The second payload's length (2 bytes before its data) now runs past the packet.
    size_t at = broken.size() - 1;
    while (broken[at] == 0)
        at--;
    at -= 5; // "lost" is 4 bytes; its length field precedes it
    broken[at] = 0xFF;
    broken[at + 1] = 0x7F;

    test_packet hugePadding = packet_of({payload(1, 2, 0, "gone")});
    hugePadding.padding = 600;
    bytes_t padded = make_packet(hugePadding, 512);
    padded.resize(512);

    test_file file;
    file.header.streams = {audio_stream(1), video_stream(2)};
    file.packets = {broken, padded, make_packet(packet_of({payload(1, 3, 0, "after")}), 512)};
    events_t expected = {"flush 0 0", "data 0 ok", "flush 0 0", "data 0 after", "flush 0 0"};
    EXPECT_EQ(read_file(make_file(file)), expected);
}

TEST(ASFPacketReader, PassesOverPayloadsOfStreamsItDoesNotKnowAndCountsThem)
{
    test_packet p = packet_of({payload(9, 1, 0, "unknown"), payload(1, 1, 0, "known")});
    test_packet q = packet_of({payload(9, 2, 0, "unknown"), payload(1, 2, 0, "again")});
    bytes_t bytes = make_file_with_packets({p, q});
    BMemoryIO io(static_cast<const void*>(bytes.data()), bytes.size());
    CASFExtractor extractor(&io);
    test_sink sink;
    testing::internal::CaptureStderr();
    EXPECT_EQ(sink.ReadAll(extractor), CASFExtractor::kEndOfData);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "never an assertion";
    events_t expected = {"flush 0 0", "data 0 known", "flush 0 0", "data 0 again", "flush 0 0"};
    EXPECT_EQ(sink.events, expected);
    EXPECT_EQ(extractor.UndeclaredPayloads(), 2u);

    // Flags above the stream number (encrypted) do not hide the stream.
    test_file file;
    test_stream encrypted = audio_stream(1);
    encrypted.flags = 0x8001;
    file.header.streams = {encrypted};
    file.packets = {make_packet(packet_of({payload(1, 1, 0, "x")}), 512)};
    EXPECT_EQ(read_file(make_file(file)), (events_t{"flush 0 0", "data 0 x", "flush 0 0"}));
}

TEST(ASFPacketReader, ConsumesZeroFillBetweenPacketsOfVaryingSize)
{
    test_packet a = packet_of({payload(1, 1, 0, "first")});
    a.paddingType = 1;
    a.padding = 3;
    a.zeroFill = 9;
    test_packet b = packet_of({payload(1, 2, 0, "second")});
    b.padding = 0;
    b.multiple = true; // lengths stated: the varying packet size does not matter
    a.multiple = true;
    test_file file;
    file.header.minPacketSize = 100;
    file.header.maxPacketSize = 512;
    file.header.streams = {audio_stream(1)};
    file.packets = {make_packet(a, 0), make_packet(b, 0)};
    events_t expected = {"flush 0 0", "data 0 first", "flush 0 0", "data 0 second", "flush 0 0"};
    EXPECT_EQ(read_file(make_file(file)), expected);
}

TEST(ASFPacketReader, PacketsOfFixedSizeFollowEachOtherEvenWhenOneStartsWithZero)
{
    test_packet zeroFirst = packet_of({payload(1, 2, 0, "zero")});
    zeroFirst.errorCorrection = 0;
    zeroFirst.paddingType = 0;
    zeroFirst.padding = 0;
    zeroFirst.streamNumberType = 1;
    // Length type flags 0x00: the packet's first byte is a zero.
    bytes_t second = make_packet(zeroFirst, 512);
    ASSERT_EQ(second[0], 0);
    second.resize(512, 0);
    test_file file;
    file.header.streams = {audio_stream(1)};
    file.packets = {make_packet(packet_of({payload(1, 1, 0, "one")}), 512), second};
    events_t events = read_file(make_file(file));
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[3].substr(0, 11), "data 0 zero");
}

TEST(ASFPacketReader, EndsAtTheDataObjectsSizeOrPacketCountOrTheFilesEnd)
{
    test_file file;
    file.header.streams = {audio_stream(1)};
    file.packets = {make_packet(packet_of({payload(1, 1, 0, "a")}), 512),
                    make_packet(packet_of({payload(1, 2, 0, "b")}), 512)};
    // An index object after the data: never parsed as a packet.
    file.trailer = make_object(guid_t{{0x90, 0x08}}, bytes_t(100, 0x81));
    events_t both = {"flush 0 0", "data 0 a", "flush 0 0", "data 0 b", "flush 0 0"};
    status_t status;
    EXPECT_EQ(read_file(make_file(file), &status), both);
    EXPECT_EQ(status, CASFExtractor::kEndOfData);

    file.dataSize = 0; // size unknown: the packet count tells
    EXPECT_EQ(read_file(make_file(file), &status), both);
    file.packetCount = 1;
    events_t one = {"flush 0 0", "data 0 a", "flush 0 0"};
    EXPECT_EQ(read_file(make_file(file), &status), one);
    EXPECT_EQ(status, CASFExtractor::kEndOfData);

    file.packetCount = 0; // neither: the file's end
    file.trailer.clear();
    EXPECT_EQ(read_file(make_file(file), &status), both);
    EXPECT_EQ(status, CASFExtractor::kEndOfData);

    file.dataSize = -1; // a data object claiming more than the file holds
    bytes_t cut = make_file(file);
    bytes_t claim = cut;
    size_t sizeAt = make_header_object(file.header).size() + 16;
    claim[sizeAt + 2] = 0x10;
    EXPECT_EQ(read_file(claim, &status), both);
    EXPECT_EQ(status, CASFExtractor::kEndOfData);

    cut.resize(cut.size() - 505); // the last packet cut inside its fields
    read_file(cut, &status);
    EXPECT_LT(status, B_OK);
}

TEST(ASFPacketReader, KeepsItsPlaceWhenACallbackLeavesBytesUnread)
{
    bytes_t file = make_file_with_packets({
        packet_of({payload(1, 1, 0, "aa"), payload(2, 1, 0, "bb")}),
        packet_of({payload(1, 2, 0, "cc")}),
    });
    test_sink sink;
    sink.consume = false;
    events_t expected = {"flush 0 0", "data 0 ?", "flush 1 0", "data 1 ?",
                         "flush 0 0", "data 0 ?", "flush 0 0", "flush 1 0"};
    EXPECT_EQ(read_file(file, nullptr, &sink), expected);
}

TEST(ASFPacketReader, WithoutFilePropertiesUsesThePacketsOwnLength)
{
    test_file file;
    file.header.properties = false;
    file.header.streams = {audio_stream(1)};
    test_packet stated = packet_of({payload(1, 1, 0, "sized")});
    stated.packetLengthType = 2;
    test_packet smaller = packet_of({payload(1, 2, 0, "smaller")});
    smaller.packetLengthType = 1;
    file.packets = {make_packet(stated, 300), make_packet(smaller, 200)};
    status_t status;
    events_t events = read_file(make_file(file), &status);
    EXPECT_EQ(status, CASFExtractor::kEndOfData);
    events_t expected = {"flush 0 0", "data 0 sized", "flush 0 0", "data 0 smaller", "flush 0 0"};
    EXPECT_EQ(events, expected);

    test_packet unsized = packet_of({payload(1, 1, 0, "?")});
    file.packets = {make_packet(unsized, 300)};
    events = read_file(make_file(file), &status);
    EXPECT_EQ(status, B_BAD_DATA) << "a single payload of unknown length";
}

TEST(ASFPacketReader, RefusesStreamsThatCannotSeek)
{
    bytes_t file = make_file_with_packets({packet_of({payload(1, 1, 0, "a")})});
    class Reader : public BDataIO
    {
    public:
        explicit Reader(const bytes_t& bytes)
            : fIO(static_cast<const void*>(bytes.data()), bytes.size())
        {
        }
        ssize_t Read(void* buffer, size_t size) override { return fIO.Read(buffer, size); }

    private:
        BMemoryIO fIO;
    } reader(file);
    CASFExtractor extractor(&reader);
    ASSERT_EQ(extractor.InitCheck(), B_OK);
    test_sink sink;
    EXPECT_EQ(sink.ReadOn(extractor), B_NOT_SUPPORTED);
    EXPECT_TRUE(sink.events.empty());
}

TEST(ASFPacketReader, TellsEachCompletedObjectsOwnPresentationTime)
{
    struct timing_sink {
        const CASFExtractor* extractor = nullptr;
        std::vector<std::pair<int32, uint32>> times; // stream, time of the completed object
        static void Stream(int32, BDataIO*, uint32, void*) {}
        static void Flush(int32 stream, bool, uint32, void* cookie)
        {
            auto* self = static_cast<timing_sink*>(cookie);
            self->times.push_back({stream, self->extractor->ObjectTime(stream)});
        }
        static void Skip(int32 stream, void* cookie) { Flush(stream, false, 0, cookie); }
    };

    auto timed = [](uint8 stream, uint32 object, uint32 presentation, const std::string& data) {
        test_payload p = payload(stream, object, 0, data);
        p.replicated.clear();
        append_le(p.replicated, data.size(), 4);
        append_le(p.replicated, presentation, 4);
        return p;
    };
    // Three frames in one packet, sent together, presented 40 ms apart (the
    // preroll of 3100 ms taken off); then a compressed payload of two audio
    // objects 40 ms apart; then a payload without replicated data.
    test_packet bare = packet_of({payload(2, 9, 0, "bare")}, 900);
    bare.payloads[0].replicated.clear();
    bare.replicatedType = 0;
    bytes_t file = make_file_with_packets({
        packet_of({timed(2, 1, 3100, "f1"), timed(2, 2, 3140, "f2"), timed(2, 3, 3180, "f3")}, 0),
        packet_of({compressed_payload(1, 5, 3300, {text("a"), text("b")})}, 10),
        bare,
    });
    BMemoryIO io(static_cast<const void*>(file.data()), file.size());
    CASFExtractor extractor(&io);
    ASSERT_EQ(extractor.InitCheck(), B_OK);
    timing_sink sink;
    sink.extractor = &extractor;
    while (extractor.ReadOn(timing_sink::Stream, timing_sink::Flush, timing_sink::Skip, &sink) ==
           B_OK) {
    }
    std::vector<std::pair<int32, uint32>> expected = {
        {1, 0}, // the first payload of each stream: nothing completed yet
        {1, 0},   {1, 40}, {0, 0},
        {0, 200}, {1, 80}, // frame 3 completes when the bare payload begins
        {0, 240},          // the end of the data completes the last objects
        {1, 900},          // no replicated data: the packet's send time
    };
    EXPECT_EQ(sink.times, expected);
}
