// Pictures end to end: the real `reelmoth` under a private Xvfb plays files
// made by ffmpeg; every picture it draws (from the frame log the platform
// writes) must be ffmpeg's own decode of that frame, drawn in order and never
// before its time, and the window must show the last one.

#include "ASFTestWriter.h"
#include "MediaFiles.h"
#include "RecordedPlayer.h"
#include "XServerTest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The late frames the player reported on standard output, in microseconds.
std::vector<int64> skipped_frames(const std::string& output)
{
    std::vector<int64> late;
    size_t at = 0;
    while ((at = output.find("skipped a frame by ", at)) != std::string::npos) {
        int64 value = -1;
        sscanf(output.c_str() + at, "skipped a frame by %" SCNd64 " us", &value);
        late.push_back(value);
        at++;
    }
    return late;
}

// When the video thread's clock started (a debug line of the player).
int64 clock_start(const std::string& errors)
{
    size_t at = errors.find("video clock starts at ");
    int64 start = -1;
    if (at != std::string::npos)
        sscanf(errors.c_str() + at, "video clock starts at %" SCNd64, &start);
    return start;
}

// One file played by its own process, with its own frame log.
class played_file
{
public:
    explicit played_file(const std::string& path) : fPath(path)
    {
        fLog = "/tmp/reelmoth-frames-" + std::to_string(getpid()) + "-" +
               path.substr(path.rfind('/') + 1);
        unlink(fLog.c_str()); // a stale one would count as drawn
        EXPECT_TRUE(read_stream_objects(path, 1, &fStream)) << path;
        EXPECT_TRUE(ffmpeg_pictures(path, fStream.width, fStream.height, [&](const uint8* p) {
            fExpected.push_back(pixel_checksum(p, fStream.width, fStream.height));
        })) << path;
        EXPECT_EQ(fExpected.size(), fStream.objects.size()) << path;
        fProcess = std::make_unique<player_process>(
            std::vector<std::string>{path}, true,
            // Pictures on the system clock: SDL's test sound drivers take
            // sound faster than real time, and a sound clock would follow.
            std::vector<std::string>{"REELMOTH_FRAME_LOG=" + fLog, "REELMOTH_AUDIO=modules"});
    }
    ~played_file() { unlink(fLog.c_str()); }

    const std::string& Path() const { return fPath; }
    const stream_objects& Stream() const { return fStream; }
    player_process& Process() { return *fProcess; }
    std::vector<drawn_frame> Frames() const { return read_frame_log(fLog); }

    // Waits until every frame was drawn or reported late.
    bool WaitForTheEnd(double seconds)
    {
        for (int i = 0; i < int(seconds * 20); i++, usleep(50000)) {
            if (Frames().size() + skipped_frames(fProcess->Output()).size() >=
                fStream.objects.size())
                return true;
        }
        return false;
    }

    // The drawn frames' places in ffmpeg's decode; fails the test where a
    // picture is not ffmpeg's or comes out of order.
    std::vector<size_t> DrawnIndices()
    {
        std::vector<size_t> indices;
        size_t next = 0;
        for (const drawn_frame& frame : Frames()) {
            size_t i = next;
            while (i < fExpected.size() && fExpected[i] != frame.checksum)
                i++;
            EXPECT_LT(i, fExpected.size()) << fPath << ": draw " << frame.number
                                           << " is no picture of ffmpeg's, or out of order";
            if (i == fExpected.size())
                break;
            indices.push_back(i);
            next = i + 1;
        }
        return indices;
    }

    // Every drawn frame came at or after its due time: the clock's start
    // plus the time given with its object.
    void ExpectNothingEarly(const std::vector<size_t>& indices)
    {
        int64 start = clock_start(fProcess->ErrorOutput());
        ASSERT_GT(start, 0) << fPath;
        std::vector<drawn_frame> frames = Frames();
        for (size_t k = 0; k < indices.size(); k++) {
            int64 due = start + int64(fStream.objects[indices[k]].time) * 1000;
            EXPECT_GE(frames[k].time, due) << fPath << ": frame " << indices[k] << " early";
        }
    }

private:
    std::string fPath;
    std::string fLog;
    stream_objects fStream;
    std::vector<uint64> fExpected;
    std::unique_ptr<player_process> fProcess;
};

class Playback : public x_server_test
{
protected:
    // The window's content below the menu bar, checksummed as drawn.
    static uint64 ShownPicture(const x_server::window_info& window, int32 width, int32 height)
    {
        std::vector<unsigned char> pixels =
            sServer->Pixels(window.id, 0, window.height - height, width, height);
        return pixels.empty() ? 0 : pixel_checksum(pixels.data(), width, height);
    }
};

} // namespace

TEST_F(Playback, EveryPictureDrawnIsFFmpegsDecodeInOrderNeverEarlyAndTheLastStaysShown)
{
    // Every codec, at 320x240 and at 640x480; four players at a time.
    std::vector<std::vector<const char*>> groups = {
        {"wmv1-wmav1-512.asf", "wmv2-wmav2-512.wmv", "msmpeg4v3-adpcm_ms-2048.asf",
         "mpeg4-wmav2-3200.asf"},
        {"wmv1-640x480.asf", "wmv2-640x480-8192.wmv", "msmpeg4v3-640x480.asf",
         "mpeg4-xvid-640x480.asf"},
    };
    for (const auto& group : groups) {
        std::vector<std::unique_ptr<played_file>> players;
        for (const char* name : group)
            players.push_back(std::make_unique<played_file>(asf_file(name)));
        if (!sServer->WaitForWindows(group.size(), kTimeout)) {
            for (auto& window : sServer->Windows())
                ADD_FAILURE() << "window " << window.title;
            for (auto& played : players) {
                ADD_FAILURE() << played->Path() << (played->Process().Running() ? "" : " ended")
                              << ": " << played->Process().ErrorOutput();
            }
            return;
        }
        for (auto& played : players) {
            SCOPED_TRACE(played->Path());
            ASSERT_TRUE(played->WaitForTheEnd(kTimeout));
            std::vector<size_t> drawn = played->DrawnIndices();
            ASSERT_FALSE(drawn.empty());
            played->ExpectNothingEarly(drawn);
            // Each frame was drawn or reported late, once.
            EXPECT_EQ(drawn.size() + skipped_frames(played->Process().Output()).size(),
                      played->Stream().objects.size());

            auto windows = sServer->Windows();
            std::string title = played->Path().substr(played->Path().rfind('/') + 1);
            x_server::window_info* window = sServer->Find(windows, title);
            ASSERT_NE(window, nullptr);
            int32 width = played->Stream().width, height = played->Stream().height;
            EXPECT_EQ(window->width, width);
            uint64 last = played->Frames().back().checksum;
            // The players' windows overlap: the one looked at comes on top.
            sServer->Raise(window->id);
            bool shown = false;
            for (int i = 0; i < 40 && !shown; i++, usleep(50000))
                shown = ShownPicture(*window, width, height) == last;
            EXPECT_TRUE(shown) << "the window does not show the last picture drawn";
            sServer->Close(window->id);
            EXPECT_EQ(played->Process().Wait(kTimeout), 0) << played->Process().ErrorOutput();
        }
    }
}

TEST_F(Playback, FramesWhoseTimeGoesBackwardsAreDroppedWithTheMessage)
{
    // Real WMV2 frames in packets of our own, one object each: frame k is
    // presented (and sent) at 40 k ms, except frames 20 to 24, 400 ms too
    // early, so they come behind the clock.
    stream_objects stream;
    ASSERT_TRUE(read_stream_objects(asf_file("video-only-wmv2.wmv"), 1, &stream));
    ASSERT_GE(stream.objects.size(), 40u);
    bytes_t codecData(stream.format.begin() + 40, stream.format.end());
    test_file file;
    file.header.minPacketSize = file.header.maxPacketSize = 32768;
    test_stream video = video_stream(1, stream.width, stream.height, "WMV2");
    video.typeData = make_video_format(stream.width, stream.height, "WMV2", codecData);
    file.header.streams = {video};
    for (size_t k = 0; k < 40; k++) {
        test_packet packet;
        packet.sendTime = uint32(40 * k - (k >= 20 && k <= 24 ? 400 : 0));
        test_payload payload;
        payload.stream = 1;
        payload.objectNumber = uint32(k);
        payload.data = stream.objects[k].data;
        payload.replicated.clear();
        append_le(payload.replicated, payload.data.size(), 4);
        append_le(payload.replicated, packet.sendTime + 3100, 4);
        packet.payloads = {payload};
        file.packets.push_back(make_packet(packet, 32768));
    }
    std::string path = "/tmp/reelmoth-backwards-" + std::to_string(getpid()) + ".wmv";
    {
        bytes_t bytes = make_file(file);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    played_file played(path);
    ASSERT_EQ(played.Stream().objects.size(), 40u);
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout));
    ASSERT_TRUE(played.WaitForTheEnd(kTimeout));
    std::vector<size_t> drawn = played.DrawnIndices();
    played.ExpectNothingEarly(drawn);
    for (size_t index : drawn)
        EXPECT_TRUE(index < 20 || index > 24) << "frame " << index << " was drawn late";
    std::vector<int64> late = skipped_frames(played.Process().Output());
    EXPECT_EQ(drawn.size() + late.size(), 40u);
    // Taken once frame 19 is drawn, at 760 ms: 360 ms to 200 ms late.
    std::sort(late.begin(), late.end(), std::greater<int64>());
    ASSERT_GE(late.size(), 5u);
    EXPECT_GE(late[4], 150000) << played.Process().Output();

    sServer->Close(sServer->Windows()[0].id);
    EXPECT_EQ(played.Process().Wait(kTimeout), 0);
    unlink(path.c_str());
}

TEST_F(Playback, AnOpenMenuStaysOverThePicturesAndClosingStopsThemAtOnceWritingTheRegistry)
{
    played_file played(asf_file("wmv2-640x480-long.wmv"));
    ASSERT_TRUE(sServer->WaitForWindows(1, kTimeout));
    x_server::window_info window = sServer->Windows()[0];
    int bar = window.height - 480;
    // Pictures come; the "File" menu opens over them and stays on top.
    for (int i = 0; i < 100 && played.Frames().empty(); i++)
        usleep(20000);
    ASSERT_FALSE(played.Frames().empty());
    sServer->Click(window, 15, bar / 2);
    bool opened = false;
    for (int i = 0; i < 100 && !opened; i++, usleep(20000))
        opened = sServer->Pixel(window.id, 4, bar + 4) == 0xD8D8D8;
    ASSERT_TRUE(opened);
    size_t drawnBefore = played.Frames().size();
    for (int i = 0; i < 20; i++, usleep(20000))
        ASSERT_EQ(sServer->Pixel(window.id, 4, bar + 4), 0xD8D8D8u) << "a picture hid the menu";
    EXPECT_GT(played.Frames().size(), drawnBefore); // pictures went on meanwhile

    // Closing while playing: no picture after the window has gone, and the
    // process ends well.
    sServer->Close(window.id);
    ASSERT_TRUE(sServer->WaitForWindows(0, kTimeout));
    size_t drawn = played.Frames().size();
    EXPECT_EQ(played.Process().Wait(kTimeout), 0) << played.Process().ErrorOutput();
    EXPECT_EQ(played.Frames().size(), drawn);
    // The registry was written as the process ended.
    struct stat registry;
    EXPECT_EQ(stat((played.Process().Home() + "/config/WeAreQuarl/registry").c_str(), &registry),
              0);
    EXPECT_LT(drawn, played.Stream().objects.size()); // it was still playing
}
