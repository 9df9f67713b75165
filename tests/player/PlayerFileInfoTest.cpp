// What the player makes of the header beyond its streams: the stream of the
// highest bitrate wherever it was declared, the title, markers, protected
// and live files. SDL's dummy display: no X server needed.

#include "ASFTestObjects.h"
#include "MediaFiles.h"

#include "asf/ASFObjectIds.h"
#include "platform/interface/Window.h"
#include "platform/storage/Entry.h"
#include "player/ASFPlayer.h"
#include "player/CoverPicture.h"
#include "player/PlayerCaptions.h"
#include "player/PlayerView.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace
{

const int kDummyDisplay = setenv("SDL_VIDEODRIVER", "dummy", 1);

class temp_file
{
public:
    explicit temp_file(const bytes_t& bytes)
    {
        char pattern[] = "/tmp/reelmoth-fileinfo-XXXXXX";
        int fd = mkstemp(pattern);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        close(fd);
        fPath = pattern;
    }
    ~temp_file() { unlink(fPath.c_str()); }
    const char* Path() const { return fPath.c_str(); }

private:
    std::string fPath;
};

CASFPlayer* open_player(const temp_file& file)
{
    entry_ref ref;
    EXPECT_EQ(get_ref_for_path(file.Path(), &ref), B_OK);
    return new CASFPlayer(&ref);
}

// Stream 1 (320x240) at 300 kb/s in the header; stream 2 (176x144, code
// `fourcc`) at 1 Mb/s declared in the Header Extension; the two exclude
// each other. Titled, with two markers.
test_file two_rates(const char* fourcc = "WMV2")
{
    test_file file;
    test_stream high = video_stream(2, 176, 144, fourcc);
    file.header.streams = {video_stream(1, 320, 240)};
    file.header.otherObjects = {
        make_content_description("Love Is Strange", "Everything But the Girl"),
        make_markers({{(3100 + 1000) * 10000ull, "One"}, {(3100 + 5000) * 10000ull, "Two"}}),
        make_header_extension({
            make_extended_stream_properties(1, 300000),
            make_extended_stream_properties(2, 1000000, &high),
            make_mutual_exclusion(asf_id::kAdvancedMutualExclusion, {1, 2}),
        }),
    };
    return file;
}

} // namespace

TEST(PlayerFileInfo, TheHighestBitrateADecoderTakesPlaysTheTitleAndMarkersShow)
{
    temp_file file(make_file(two_rates()));
    CASFPlayer* player = open_player(file);
    ASSERT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player->VideoStream(), 1) << "the stream declared in the extension";
    EXPECT_EQ(player->PictureFrame(), BRect(0, 0, 175, 143));
    EXPECT_STREQ(player->Title(), "Love Is Strange \u2014 Everything But the Girl");

    // PageDown: the next marker; PageUp: the one before the marker playing,
    // or that marker when it began a while ago, or the start.
    CPlayerControls& controls = player->Controls();
    EXPECT_EQ(controls.MarkerTarget(true, 0), 1000);
    EXPECT_EQ(controls.MarkerTarget(true, 1000), 5000);
    EXPECT_EQ(controls.MarkerTarget(true, 5000), -1);
    EXPECT_EQ(controls.MarkerTarget(false, 5500), 1000);
    EXPECT_EQ(controls.MarkerTarget(false, 8000), 5000);
    EXPECT_EQ(controls.MarkerTarget(false, 900), 0);

    // The panel the key `i` shows.
    std::vector<std::string> lines = player->InfoLines();
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    EXPECT_EQ(lines.front().rfind("File: reelmoth-fileinfo-", 0), 0u) << all;
    for (const char* line :
         {"Title: Love Is Strange\n", "Artist: Everything But the Girl\n",
          "Stream 1: video WMV2 320x240, 300 kb/s\n",
          "Stream 2: video WMV2 176x144, 1000 kb/s - plays, decoded by FFmpeg wmv2\n"})
        EXPECT_NE(all.find(line), std::string::npos) << line << all;
    EXPECT_EQ(lines.back().rfind("Position: 0:00:00 / ", 0), 0u) << all;
    player->Quit();

    // No decoder for the higher stream's code: the lower one plays.
    temp_file fallback(make_file(two_rates("XYZ0")));
    player = open_player(fallback);
    ASSERT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player->VideoStream(), 0);
    player->Quit();
}

TEST(PlayerFileInfo, ALiveCaptureFindsItsDuration)
{
    // Broadcast, no duration, a data object of size 0: the duration is the
    // last packet's time, found before the packets are read.
    test_file live = two_rates();
    live.header.flags = 1;
    live.header.playDuration = 0;
    live.dataSize = 0;
    live.packetCount = 0;
    for (uint32 i = 0; i <= 20; i++) {
        test_packet packet;
        packet.sendTime = 3100 + i * 100;
        test_payload payload;
        payload.stream = 1;
        payload.objectNumber = i;
        payload.data = bytes_t(20, uint8(i));
        packet.payloads = {payload};
        live.packets.push_back(make_packet(packet, 512));
    }
    temp_file liveFile(make_file(live));
    CASFPlayer* player = open_player(liveFile);
    ASSERT_EQ(player->InitCheck(), B_OK);
    EXPECT_EQ(player->Reader().Duration(), 0u) << "not known before the reader starts";
    player->Show();
    player->Start();
    for (int i = 0; i < 500 && player->Reader().Duration() == 0; i++)
        snooze(10000);
    EXPECT_EQ(player->Reader().Duration(), 2000u);
    ASSERT_TRUE(player->Lock());
    player->Quit();
}

TEST(PlayerFileInfo, CoverPicturesDecodeAsFFmpegDecodesThemAndBadOnesAreRefused)
{
    std::string png = "/tmp/reelmoth-cover-" + std::to_string(getpid()) + ".png";
    ASSERT_EQ(
        run_command("ffmpeg -v error -y -f lavfi -i testsrc=size=40x30 -frames:v 1 '" + png + "'"),
        0);
    std::ifstream in(png, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    asf_picture picture;
    picture.data.assign(bytes.begin(), bytes.end());
    std::unique_ptr<BBitmap> bitmap = decode_cover_picture(picture);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->Bounds(), BRect(0, 0, 39, 29));
    uint64 expected = 0;
    ASSERT_TRUE(ffmpeg_pictures(
        png, 40, 30, [&](const uint8* pixels) { expected = pixel_checksum(pixels, 40, 30); }));
    EXPECT_EQ(
        pixel_checksum(static_cast<const uint8*>(bitmap->Bits()), 40, 30, bitmap->BytesPerRow()),
        expected);
    unlink(png.c_str());

    // Cut short, not a picture, or claiming a size no cover has.
    asf_picture cut = picture;
    cut.data.resize(cut.data.size() / 2);
    EXPECT_EQ(decode_cover_picture(cut), nullptr);
    asf_picture text;
    text.data.assign(100, 'x');
    EXPECT_EQ(decode_cover_picture(text), nullptr);
    asf_picture huge = picture;
    huge.data[16] = 0x7F;
    EXPECT_EQ(decode_cover_picture(huge), nullptr);
}

TEST(PlayerFileInfo, CaptionsAndTextsShowUntilTheNextAndWrapAtSpaces)
{
    std::vector<asf_script_command> commands = {
        {500, "URL", "http://example.com/"},
        {1000, "CAPTION", "first"},
        {2000, "FILENAME", "x.asf"},
        {3000, "text", "second"},
        {4000, "CAPTION", ""},
    };
    CPlayerCaptions captions(commands);
    EXPECT_EQ(captions.At(0), "");
    EXPECT_EQ(captions.At(999), "");
    EXPECT_EQ(captions.At(1000), "first");
    EXPECT_EQ(captions.At(2500), "first") << "other types are never acted on";
    EXPECT_EQ(captions.At(3000), "second");
    EXPECT_EQ(captions.At(9000), "") << "an empty caption clears";

    // Ten pixels a byte: lines of at most five bytes.
    auto measure = [](const std::string& text) { return float(text.size()) * 10; };
    EXPECT_EQ(CPlayerCaptions::Wrap("ab cd ef", 50, measure),
              (std::vector<std::string>{"ab cd", "ef"}));
    EXPECT_EQ(CPlayerCaptions::Wrap("abcdefghij k\nl", 50, measure),
              (std::vector<std::string>{"abcde", "fghij", "k", "l"}));
    // A word wider than a line breaks between characters, never inside one.
    std::vector<std::string> lines = CPlayerCaptions::Wrap("ééééé", 50, measure);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "éé");
    EXPECT_EQ(lines[2], "é");
}

TEST(PlayerFileInfo, CaptionsGrowWithThePicture)
{
    // Rows of the window's pixels that the caption's box reaches.
    auto box_rows = [](BRect picture) {
        auto* window = new BWindow(BRect(0, 0, 999, 999), "captions", B_TITLED_WINDOW_LOOK,
                                   B_NORMAL_WINDOW_FEEL, 0);
        auto* view = new CPlayerView(window->Bounds());
        window->AddChild(view);
        view->DrawCaption(picture, "Hello, captions");
        int32 width, height, stride;
        uint32* pixels = window->LockPixels(&width, &height, &stride);
        int rows = 0;
        for (int32 y = 0; y < height; y++) {
            bool box = false;
            for (int32 x = 0; x < width && !box; x++)
                box = (pixels[size_t(y) * stride + x] & 0xFFFFFF) == 0x101010;
            rows += box;
        }
        window->UnlockPixels(false);
        window->Quit();
        return rows;
    };
    int small = box_rows(BRect(0, 0, 319, 239));
    int full = box_rows(BRect(0, 0, 999, 999));
    EXPECT_GT(small, 20);
    EXPECT_GT(full, small * 3 / 2) << "full screen's captions are larger";
}
