#include "ASFTestWriter.h"

#include "platform/support/ByteOrder.h"
#include "platform/support/Debug.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

bytes_t with_data_object(bytes_t header)
{
    append_guid(header, CASFExtractor::kDataObjectGUID);
    append_le(header, 50, 8);
    append_le(header, 0, 16);
    append_le(header, 0, 8);
    header.push_back(1);
    header.push_back(1);
    header.push_back(0x82); // first byte of the first packet
    return header;
}

struct parsed {
    bytes_t bytes;
    BMemoryIO io;
    CASFExtractor extractor;

    explicit parsed(bytes_t file)
        : bytes(std::move(file)), io(static_cast<const void*>(bytes.data()), bytes.size()),
          extractor(&io)
    {
    }
};

bytes_t bytes_of(const void* data, size_t size)
{
    const uint8* p = static_cast<const uint8*>(data);
    return bytes_t(p, p + size);
}

} // namespace

TEST(ASFHeader, GUIDsAreHeldInFileByteOrder)
{
    const uint8 header[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
    EXPECT_EQ(memcmp(CASFExtractor::kHeaderObjectGUID.data, header, 16), 0);
    EXPECT_EQ(CASFExtractor::kVideoStreamGUID.data[0], 0xC0);
    EXPECT_EQ(CASFExtractor::kVideoStreamGUID.data[15], 0x2B);
    EXPECT_NE(CASFExtractor::kHeaderObjectGUID, CASFExtractor::kDataObjectGUID);
    guid_t copy = CASFExtractor::kCodecObjectGUID;
    EXPECT_EQ(copy, CASFExtractor::kCodecObjectGUID);
}

TEST(ASFHeader, AnEmptyHeaderParsesAndLeavesTheStreamOnTheFirstPacket)
{
    test_header header;
    header.properties = false;
    bytes_t head = make_header_object(header);
    parsed file(with_data_object(head));
    EXPECT_EQ(file.extractor.InitCheck(), B_OK);
    EXPECT_EQ(file.extractor.CountStreams(), 0);
    EXPECT_FALSE(file.extractor.HasFileProperties());
    EXPECT_EQ(file.io.Position(), off_t(head.size() + 50));
}

TEST(ASFHeader, ReadsPropertiesStreamsAndSkipsWhatItDoesNotKnow)
{
    test_header header;
    header.propertiesExtra = 13;
    header.minPacketSize = header.maxPacketSize = 3200;
    header.playDuration = 123456789;
    test_stream audio = audio_stream(3);
    audio.extraBytes = 7;
    header.streams = {audio, video_stream(5, 640, 480, "DX50")};
    header.codecs = {{"Windows Media Audio", ""}, {"", "x"}};
    header.otherObjects = {make_object(CASFExtractor::kContentDescriptionObjectGUID, bytes_t(9)),
                           make_object(CASFExtractor::kHeaderExtensionObjectGUID, bytes_t(3)),
                           make_object(guid_t{{1, 2, 3}}, bytes_t(33, 0x44))};
    bytes_t head = make_header_object(header);

    bool previous = _setDebugFlag(true);
    testing::internal::CaptureStderr();
    parsed file(with_data_object(head));
    std::string debug = testing::internal::GetCapturedStderr();
    _setDebugFlag(previous);

    ASSERT_EQ(file.extractor.InitCheck(), B_OK);
    EXPECT_EQ(file.io.Position(), off_t(head.size() + 50));
    EXPECT_EQ(file.extractor.PlayDuration(), 123456789u);
    EXPECT_EQ(file.extractor.Preroll(), 3100u);
    EXPECT_EQ(file.extractor.MaxPacketSize(), 3200u);
    ASSERT_EQ(file.extractor.CountStreams(), 2);

    const CASFExtractor::stream_info* first = file.extractor.StreamInfoAt(0);
    EXPECT_EQ(first->type, 0);
    EXPECT_EQ(first->stream_flags, 3);
    EXPECT_EQ(bytes_of(first->data, first->data_size), audio.typeData);
    EXPECT_TRUE(first->new_object);

    const CASFExtractor::stream_info* second = file.extractor.StreamInfoAt(1);
    EXPECT_EQ(second->type, 1);
    EXPECT_EQ(second->data_size, 40u) << "51 bytes of type data less the 11-byte prefix";
    bytes_t videoData = make_video_format(640, 480, "DX50");
    EXPECT_EQ(bytes_of(second->data, second->data_size),
              bytes_t(videoData.begin() + 11, videoData.end()));

    EXPECT_NE(debug.find("play_duration: 12.35 secs\n"), std::string::npos);
    EXPECT_NE(debug.find("preroll: 3.10 secs\n"), std::string::npos);
    EXPECT_NE(debug.find("Windows Media Audio\n\n\nx\n"), std::string::npos)
        << "names and descriptions, empty ones as empty lines: " << debug;
}

TEST(ASFHeader, RecordsEveryAudioAndVideoStreamAndDeclaresOtherKinds)
{
    test_header header;
    test_stream command = audio_stream(9);
    command.type = guid_t{{0x59, 0xDA, 0xCF, 0xC0}};
    header.streams = {command, video_stream(1), audio_stream(2), video_stream(3),
                      audio_stream(2, 0x55)};
    parsed file(with_data_object(make_header_object(header)));
    ASSERT_EQ(file.extractor.InitCheck(), B_OK);
    ASSERT_EQ(file.extractor.CountStreams(), 3) << "a number declared twice keeps its first";
    EXPECT_EQ(file.extractor.StreamInfoAt(0)->stream_flags, 1);
    EXPECT_EQ(file.extractor.StreamInfoAt(1)->stream_flags, 2);
    EXPECT_EQ(read_le16(file.extractor.StreamInfoAt(1)->data), 0x0161);
    EXPECT_EQ(file.extractor.StreamInfoAt(2)->stream_flags, 3);
    const asf_stream_declaration* other = file.extractor.Info().Stream(9);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->tableIndex, -1);
    EXPECT_STREQ(asf_stream_kind(other->type), "other");
}

TEST(ASFHeader, RefusesObjectsThatDoNotFitTheirDeclaredSizes)
{
    auto parses = [](const test_header& header) {
        return parsed(with_data_object(make_header_object(header))).extractor.InitCheck() == B_OK;
    };
    test_header good;
    good.streams = {audio_stream(1), video_stream(2)};
    EXPECT_TRUE(parses(good));

    test_header shortVideo = good;
    shortVideo.streams[1].typeData.resize(10);
    EXPECT_FALSE(parses(shortVideo)) << "video type data shorter than its 11-byte prefix";

    test_header tinyObject = good;
    tinyObject.otherObjects = {make_object(guid_t{{7}}, bytes_t(8), 20)};
    EXPECT_FALSE(parses(tinyObject)) << "an object smaller than its own header";

    test_header pastHeader = good;
    pastHeader.otherObjects = {make_object(guid_t{{7}}, bytes_t(8), 1000)};
    EXPECT_FALSE(parses(pastHeader)) << "an object running past the header object";

    // A properties object whose size leaves out some of its fields.
    bytes_t properties = make_header_object(good);
    bytes_t cut = properties;
    size_t sizeAt = 30 + 16;
    cut[sizeAt] = 100;
    EXPECT_NE(parsed(with_data_object(cut)).extractor.InitCheck(), B_OK);

    // Type-specific data longer than the stream properties object.
    test_header longData = good;
    longData.streams[0].typeData = bytes_t(30);
    bytes_t head = make_header_object(longData);
    size_t lengthAt = 30 + 104 + 24 + 40;
    head[lengthAt] = 0xF0;
    head[lengthAt + 3] = 0x7F;
    EXPECT_NE(parsed(with_data_object(head)).extractor.InitCheck(), B_OK);
}

TEST(ASFHeader, BadGUIDsAndEveryTruncationAreRefused)
{
    test_header header;
    header.streams = {audio_stream(1), video_stream(2)};
    header.codecs = {{"codec", "description"}};
    bytes_t good = with_data_object(make_header_object(header));
    good.pop_back(); // no packet byte: the header and data object fields only
    for (size_t length = 0; length < good.size(); length++) {
        parsed file(bytes_t(good.begin(), good.begin() + length));
        EXPECT_EQ(file.extractor.InitCheck(), -1) << "cut at " << length;
        EXPECT_LE(file.extractor.CountStreams(), 2);
    }
    EXPECT_EQ(parsed(good).extractor.InitCheck(), B_OK);

    bytes_t wrongHeader = good;
    wrongHeader[0] ^= 1;
    parsed notASF(wrongHeader);
    EXPECT_EQ(notASF.extractor.InitCheck(), -1);
    EXPECT_EQ(notASF.extractor.CountStreams(), 0);

    bytes_t wrongData = good;
    wrongData[make_header_object(header).size()] ^= 1;
    EXPECT_EQ(parsed(wrongData).extractor.InitCheck(), -1);
}

TEST(ASFHeader, ReadsFromStreamsThatCannotSeek)
{
    // A plain reader: the header walk must not depend on seeking.
    class Reader : public BDataIO
    {
    public:
        explicit Reader(const bytes_t& bytes) : fBytes(bytes) {}
        ssize_t Read(void* buffer, size_t size) override
        {
            size_t count = min_c(size, fBytes.size() - fPosition);
            memcpy(buffer, fBytes.data() + fPosition, count);
            fPosition += count;
            return ssize_t(count);
        }
        size_t fPosition = 0;

    private:
        const bytes_t& fBytes;
    };

    test_header header;
    header.propertiesExtra = 5000;
    header.streams = {audio_stream(1)};
    header.otherObjects = {make_object(guid_t{{9}}, bytes_t(70000, 1))};
    bytes_t head = make_header_object(header);
    bytes_t file = with_data_object(head);
    Reader reader(file);
    CASFExtractor extractor(&reader);
    EXPECT_EQ(extractor.InitCheck(), B_OK);
    EXPECT_EQ(reader.fPosition, head.size() + 50);
    EXPECT_EQ(extractor.CountStreams(), 1);
}
