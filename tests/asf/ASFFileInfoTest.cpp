// Streams declared in the Header Extension, bitrates and mutual exclusion,
// tags, markers, script commands, protected and live files.
#include "ASFTestObjects.h"
#include "ASFTestSink.h"

#include "asf/ASFObjectIds.h"

#include <gtest/gtest.h>

namespace
{

struct opened {
    bytes_t bytes;
    BMemoryIO io;
    CASFExtractor extractor;

    explicit opened(bytes_t file)
        : bytes(std::move(file)), io(static_cast<const void*>(bytes.data()), bytes.size()),
          extractor(&io)
    {
    }
};

test_payload payload(uint8 stream, uint32 object, const std::string& data)
{
    test_payload p;
    p.stream = stream;
    p.objectNumber = object;
    p.data.assign(data.begin(), data.end());
    return p;
}

test_packet packet_of(std::vector<test_payload> payloads, uint32 sendTime)
{
    test_packet p;
    p.payloads = std::move(payloads);
    p.sendTime = sendTime;
    return p;
}

bytes_t le(uint64 value, uint32 width)
{
    bytes_t out;
    append_le(out, value, width);
    return out;
}

// Two sound streams of one content: stream 1 at 32 kb/s in the header, stream
// 2 at 64 kb/s declared inside the Header Extension, excluding each other.
test_file two_bitrate_file()
{
    test_file file;
    test_stream high = audio_stream(2);
    file.header.streams = {audio_stream(1)};
    file.header.otherObjects = {
        make_stream_bitrates({{1, 32000}, {2, 64000}}),
        make_header_extension({
            make_language_list({"en-us", "fr"}),
            make_extended_stream_properties(1, 32000, nullptr, 0, 0, "Low"),
            make_extended_stream_properties(2, 64000, &high, 1, 0, "High"),
            make_mutual_exclusion(asf_id::kAdvancedMutualExclusion, {1, 2}),
            make_object(asf_id::kStreamPrioritization, {2, 0, 2, 0, 1, 0, 1, 0, 0, 0}),
        }),
    };
    for (uint32 i = 0; i < 3; i++) {
        file.packets.push_back(make_packet(
            packet_of({payload(1, i, "low"), payload(2, i, "high"), payload(9, i, "stray")},
                      i * 100),
            512));
    }
    return file;
}

} // namespace

TEST(ASFFileInfo, StreamsDeclaredInTheExtensionPlayAndTheHighestBitrateComesFirst)
{
    opened file(make_file(two_bitrate_file()));
    ASSERT_EQ(file.extractor.InitCheck(), B_OK);
    ASSERT_EQ(file.extractor.CountStreams(), 2);
    const asf_file_info& info = file.extractor.Info();
    ASSERT_EQ(info.streams.size(), 2u);
    const asf_stream_declaration* low = info.Stream(1);
    const asf_stream_declaration* high = info.Stream(2);
    ASSERT_TRUE(low != nullptr && high != nullptr);
    EXPECT_EQ(low->declaredIn, asf_stream_declaration::kInHeader);
    EXPECT_EQ(high->declaredIn, asf_stream_declaration::kInExtension);
    EXPECT_EQ(low->bitrate, 32000u);
    EXPECT_EQ(high->bitrate, 64000u);
    EXPECT_EQ(high->language, "fr");
    EXPECT_EQ(high->name, "High");
    EXPECT_EQ(low->language, "en-us");
    EXPECT_GE(low->exclusionGroup, 0);
    EXPECT_EQ(low->exclusionGroup, high->exclusionGroup);
    EXPECT_EQ(high->priority, 0);
    EXPECT_TRUE(high->mandatory);
    EXPECT_EQ(low->priority, 1);
    EXPECT_FALSE(low->mandatory);
    EXPECT_EQ(file.extractor.StreamsToTry(CASFExtractor::kAudioStream),
              (std::vector<int32>{high->tableIndex, low->tableIndex}));
    EXPECT_TRUE(file.extractor.StreamsToTry(CASFExtractor::kVideoStream).empty());

    // Every payload of both streams reaches its table index; the stray
    // stream's are passed over without a word and counted.
    testing::internal::CaptureStderr();
    test_sink sink;
    EXPECT_EQ(sink.ReadAll(file.extractor), CASFExtractor::kEndOfData);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    int lowData = 0, highData = 0;
    for (const std::string& event : sink.events) {
        lowData += event == "data " + std::to_string(low->tableIndex) + " low";
        highData += event == "data " + std::to_string(high->tableIndex) + " high";
        EXPECT_EQ(event.find("stray"), std::string::npos);
    }
    EXPECT_EQ(lowData, 3);
    EXPECT_EQ(highData, 3);
    EXPECT_EQ(file.extractor.UndeclaredPayloads(), 3u);

    // Without the extension's figures, a sound's own byte rate orders the
    // sounds (over a listed rate, which muxers may give every stream
    // alike) and the listed rate the pictures; among equals the later
    // stream comes first, as before.
    test_file plain;
    plain.header.streams = {audio_stream(1, 0x161, 100),
                            audio_stream(2, 0x161, 400),
                            audio_stream(3, 0x161, 100),
                            video_stream(4),
                            video_stream(5),
                            video_stream(6)};
    plain.header.otherObjects = {make_stream_bitrates({{1, 900000}, {4, 500000}, {5, 800000}})};
    opened second(make_file(plain));
    EXPECT_EQ(second.extractor.StreamsToTry(CASFExtractor::kAudioStream),
              (std::vector<int32>{1, 2, 0}));
    EXPECT_EQ(second.extractor.StreamsToTry(CASFExtractor::kVideoStream),
              (std::vector<int32>{4, 3, 5}));
}

TEST(ASFFileInfo, TagsOfEveryKindAndTheFrontCover)
{
    bytes_t jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3, 0xFF, 0xD9};
    bytes_t guid(CASFExtractor::kAudioStreamGUID.data, CASFExtractor::kAudioStreamGUID.data + 16);
    test_file file;
    file.header.streams = {audio_stream(1)};
    file.header.otherObjects = {
        make_content_description("Love Is Strange", "Everything But the Girl", "(C) 1992",
                                 "Ünïcödé 🎵", "G"),
        make_extended_content_description({
            {"WM/AlbumTitle", 0, utf16("Acoustic")},
            {"IsVBR", 2, le(1, 4)},
            {"WM/TrackNumber", 3, le(3, 4)},
            {"Duration", 4, le(30000000000ull, 8)},
            {"WM/Picture", 1, make_picture_value(0, "image/png", "back", {1, 2, 3})},
        }),
        make_header_extension({
            make_metadata(asf_id::kMetadata, {{"WM/Genre", 0, utf16("Pop")},
                                              {"IsVBR", 2, le(0, 2), 1},
                                              {"Peak", 5, le(65535, 2), 1}}),
            make_metadata(asf_id::kMetadataLibrary,
                          {{"WM/MediaClassPrimaryID", 6, guid},
                           {"WM/Picture", 1, make_picture_value(3, "image/jpeg", "front", jpeg)}}),
        }),
    };
    opened tagged(make_file(file));
    ASSERT_EQ(tagged.extractor.InitCheck(), B_OK);
    const asf_file_info& info = tagged.extractor.Info();
    EXPECT_EQ(info.DisplayTitle(), "Love Is Strange \u2014 Everything But the Girl");
    EXPECT_EQ(info.Text("copyright"), "(C) 1992") << "names are matched without case";
    EXPECT_EQ(info.Text("Description"), "Ünïcödé 🎵");
    EXPECT_EQ(info.Text("WM/AlbumTitle"), "Acoustic");
    EXPECT_EQ(info.Text("IsVBR"), "true") << "the file's, not stream 1's";
    EXPECT_EQ(info.Text("WM/TrackNumber"), "3");
    EXPECT_EQ(info.Text("Duration"), "30000000000");
    EXPECT_EQ(info.Text("WM/Genre"), "Pop");
    EXPECT_EQ(info.Text("WM/MediaClassPrimaryID"), "F8699E40-5B4D-11CF-A8FD-00805F5C442B");
    EXPECT_EQ(info.Tag("Peak"), nullptr) << "a stream's tag is not the file's";
    int streamTags = 0;
    for (const asf_tag& tag : info.tags)
        streamTags += tag.stream == 1 && (tag.text == "false" || tag.text == "65535");
    EXPECT_EQ(streamTags, 2);

    asf_picture picture;
    ASSERT_TRUE(info.Picture(&picture));
    EXPECT_EQ(picture.type, 3) << "the front cover wins over the first picture";
    EXPECT_EQ(picture.description, "front");
    EXPECT_EQ(picture.data, jpeg);

    // No title: no display title, whatever else is there.
    test_file untitled;
    untitled.header.otherObjects = {make_content_description("", "Someone")};
    EXPECT_EQ(opened(make_file(untitled)).extractor.Info().DisplayTitle(), "");
}

TEST(ASFFileInfo, ProtectedAndLiveFilesAreKnownAsSuch)
{
    for (const guid_t& kind : {asf_id::kContentEncryption, asf_id::kExtendedContentEncryption}) {
        test_file file;
        file.header.streams = {audio_stream(1)};
        file.header.otherObjects = {make_encryption(kind)};
        EXPECT_TRUE(opened(make_file(file)).extractor.Info().isProtected);
    }
    test_file advanced;
    advanced.header.streams = {audio_stream(1)};
    advanced.header.otherObjects = {
        make_header_extension({make_encryption(asf_id::kAdvancedContentEncryption)})};
    EXPECT_TRUE(opened(make_file(advanced)).extractor.Info().isProtected);
    test_file encryptedStream;
    encryptedStream.header.streams = {audio_stream(1)};
    encryptedStream.header.streams[0].flags = 0x8001;
    opened encrypted(make_file(encryptedStream));
    EXPECT_TRUE(encrypted.extractor.Info().isProtected);
    EXPECT_EQ(encrypted.extractor.CountStreams(), 1);
    EXPECT_FALSE(opened(make_file(two_bitrate_file())).extractor.Info().isProtected);

    // A live capture: broadcast, no duration, a data object size of 0 or
    // larger than what was written. Its packets play to the last, whose
    // send time gives the duration.
    for (int64 dataSize : {int64(0), int64(1) << 40}) {
        test_file live = two_bitrate_file();
        live.header.flags = 1;
        live.header.playDuration = 0;
        live.dataSize = dataSize;
        live.packetCount = 0;
        opened capture(make_file(live));
        ASSERT_EQ(capture.extractor.InitCheck(), B_OK);
        EXPECT_TRUE(capture.extractor.Info().isBroadcast);
        EXPECT_EQ(capture.extractor.DataEnd(), capture.bytes.size());
        uint32 last = 0;
        ASSERT_TRUE(capture.extractor.LastSendTime(&last));
        EXPECT_EQ(last, 200u);
        test_sink sink;
        EXPECT_EQ(sink.ReadAll(capture.extractor), CASFExtractor::kEndOfData);
        EXPECT_EQ(std::count(sink.events.begin(), sink.events.end(), "data 1 high"), 3);
    }
}

TEST(ASFFileInfo, DamagedTagsAndExtensionsNeverStopTheFileFromPlaying)
{
    // Every byte of the header's extension and tag objects changed in turn,
    // and every one of their counts made huge: the walk stays inside each
    // object (sanitizer builds check), and the header stream still plays.
    test_file file = two_bitrate_file();
    file.header.otherObjects.push_back(make_extended_content_description(
        {{"WM/Picture", 1, make_picture_value(3, "image/jpeg", "x", {1, 2})}}));
    file.header.otherObjects.push_back(make_markers({{40000000, "M"}}));
    file.header.otherObjects.push_back(make_script_commands({"TEXT"}, {{3200, 0, "t"}}));
    bytes_t good = make_file(file);
    bytes_t head = make_header_object(file.header);
    size_t from = head.size();
    for (const bytes_t& object : file.header.otherObjects)
        from -= object.size();
    for (size_t at = from; at < head.size(); at++) {
        for (uint8 change : {uint8(0xFF), uint8(0x80)}) {
            bytes_t damaged = good;
            damaged[at] ^= change;
            opened parsed(damaged);
            if (parsed.extractor.InitCheck() != B_OK)
                continue; // a size that leaves the header: refused as before
            asf_picture picture;
            parsed.extractor.Info().Picture(&picture);
            EXPECT_GE(parsed.extractor.CountStreams(), 1) << "byte " << at;
        }
    }
}
