// The push-mode sound output on SDL's disk audio driver, which writes what
// the device plays to a file: pages come out in order, whole, once; a page
// handed back unwritten is silence; a writer waiting for a page can be
// killed.

#include "platform/game/PushGameSound.h"
#include "platform/media/MediaDefs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

// Each test's own output file; SDL reads the variables when a device opens.
class disk_output
{
public:
    explicit disk_output(const char* name)
        : fPath(std::string("/tmp/reelmoth-sound-") + std::to_string(getpid()) + "-" + name)
    {
        setenv("SDL_AUDIODRIVER", "disk", 1);
        setenv("SDL_DISKAUDIOFILE", fPath.c_str(), 1);
        unsetenv("SDL_DISKAUDIODELAY"); // plays in real time
    }
    ~disk_output() { unlink(fPath.c_str()); }

    std::vector<uint8> Bytes() const
    {
        std::ifstream file(fPath, std::ios::binary);
        return std::vector<uint8>(std::istreambuf_iterator<char>(file), {});
    }

private:
    std::string fPath;
};

gs_audio_format s16_format(float rate, uint32 channels, uint32 byteOrder = B_MEDIA_LITTLE_ENDIAN)
{
    gs_audio_format format = {};
    format.frame_rate = rate;
    format.channel_count = channels;
    format.format = gs_audio_format::B_GS_S16;
    format.byte_order = byteOrder;
    return format;
}

std::vector<int16> samples_of(const std::vector<uint8>& bytes)
{
    std::vector<int16> samples(bytes.size() / 2);
    memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Fills the next page with `value` (or leaves it as it is when 0).
void push_page(BPushGameSound& sound, int16 value, size_t* pageSize = nullptr)
{
    void* page = nullptr;
    size_t size = 0;
    ASSERT_EQ(sound.LockNextPage(&page, &size), BPushGameSound::lock_ok);
    if (value != 0) {
        auto* samples = static_cast<int16*>(page);
        for (size_t i = 0; i < size / 2; i++)
            samples[i] = value;
    }
    EXPECT_EQ(sound.UnlockPage(page), B_OK);
    if (pageSize != nullptr)
        *pageSize = size;
}

} // namespace

TEST(PushGameSound, PagesPlayInOrderOnceAndUnwrittenPagesAreSilence)
{
    disk_output output("order");
    gs_audio_format format = s16_format(44100, 2);
    size_t pageSize = 0;
    {
        BPushGameSound sound(256, &format, 2);
        ASSERT_EQ(sound.InitCheck(), B_OK);
        // Two pages queued before the start, four while playing, then two
        // handed back unwritten: both of those held sound before.
        push_page(sound, 1, &pageSize);
        EXPECT_EQ(pageSize, 256u * 2 * 2);
        push_page(sound, 2);
        ASSERT_EQ(sound.StartPlaying(), B_OK);
        EXPECT_TRUE(sound.IsPlaying());
        for (int16 value = 3; value <= 6; value++)
            push_page(sound, value);
        for (int i = 0; i < 4; i++)
            push_page(sound, 0);
        EXPECT_EQ(sound.StopPlaying(), B_OK);
    }
    std::vector<int16> samples = samples_of(output.Bytes());
    // Whatever silence the device played in between, the sound is the six
    // pages in order, each whole, each once.
    std::vector<int16> sound;
    for (int16 sample : samples) {
        if (sample != 0)
            sound.push_back(sample);
    }
    ASSERT_EQ(sound.size(), 6 * pageSize / 2);
    for (size_t i = 0; i < sound.size(); i++)
        ASSERT_EQ(sound[i], int16(1 + i / (pageSize / 2))) << i;
}

TEST(PushGameSound, SamplesKeepTheirByteOrderAndEightBitSilenceIsMidScale)
{
    disk_output bigEndian("big-endian");
    {
        gs_audio_format format = s16_format(22050, 1, B_MEDIA_BIG_ENDIAN);
        BPushGameSound sound(128, &format, 2);
        ASSERT_EQ(sound.InitCheck(), B_OK);
        // Written as the host stores 0x0102; the output takes the bytes as
        // they are, big-endian.
        push_page(sound, 0x0102);
        sound.StartPlaying();
        for (int i = 0; i < 4; i++)
            push_page(sound, 0);
        sound.StopPlaying();
    } // the output file is complete once the sound is gone
    std::vector<uint8> bytes = bigEndian.Bytes();
    size_t first = 0;
    while (first + 1 < bytes.size() && bytes[first] == 0 && bytes[first + 1] == 0)
        first += 2;
    ASSERT_LT(first + 1, bytes.size());
    EXPECT_EQ(bytes[first], 0x02);
    EXPECT_EQ(bytes[first + 1], 0x01);

    disk_output unsigned8("u8");
    {
        gs_audio_format format = s16_format(8000, 1);
        format.format = gs_audio_format::B_GS_U8;
        BPushGameSound sound(100, &format, 3);
        ASSERT_EQ(sound.InitCheck(), B_OK);
        void* page = nullptr;
        size_t size = 0;
        ASSERT_EQ(sound.LockNextPage(&page, &size), BPushGameSound::lock_ok);
        EXPECT_EQ(size, 100u);
        // A new page holds silence already.
        EXPECT_EQ(static_cast<uint8*>(page)[0], 0x80);
        sound.UnlockPage(page);
        sound.StartPlaying();
        for (int i = 0; i < 4; i++)
            push_page(sound, 0);
        sound.StopPlaying();
    }
    bytes = unsigned8.Bytes();
    EXPECT_FALSE(bytes.empty());
    for (uint8 byte : bytes)
        ASSERT_EQ(byte, 0x80);
}

namespace
{

struct waiting_writer {
    BPushGameSound* sound;
    BPushGameSound::lock_status status = BPushGameSound::lock_ok;

    static int32 Run(void* cookie)
    {
        auto* self = static_cast<waiting_writer*>(cookie);
        // Tries until it gets a page or is killed, as the player's audio
        // thread does.
        while (!has_kill_request()) {
            void* page;
            size_t size;
            self->status = self->sound->LockNextPage(&page, &size);
            if (self->status == BPushGameSound::lock_ok)
                break;
        }
        return 0;
    }
};

} // namespace

TEST(PushGameSound, AWriterWaitingForAPageCanBeKilled)
{
    disk_output output("kill");
    gs_audio_format format = s16_format(48000, 2);
    BPushGameSound sound(1024, &format, 2);
    ASSERT_EQ(sound.InitCheck(), B_OK);
    // Not playing: once both pages are queued none comes free.
    push_page(sound, 5);
    push_page(sound, 6);
    void* page;
    size_t size;
    EXPECT_EQ(sound.LockNextPage(&page, &size), BPushGameSound::lock_failed); // bounded wait

    waiting_writer writer{&sound};
    thread_id thread = spawn_thread(waiting_writer::Run, "writer", B_NORMAL_PRIORITY, &writer);
    resume_thread(thread);
    snooze(100000);
    ASSERT_EQ(kill_thread(thread), B_OK);
    status_t exitValue;
    EXPECT_EQ(wait_for_thread(thread, &exitValue), B_OK);
    EXPECT_EQ(writer.status, BPushGameSound::lock_failed);
}

TEST(PushGameSound, PagesAreLockedOneAtATimeAndGivenBackByTheirOwnAddress)
{
    disk_output output("pages");
    gs_audio_format format = s16_format(44100, 1);
    BPushGameSound sound(512, &format, 4);
    ASSERT_EQ(sound.InitCheck(), B_OK);
    void* page;
    size_t size;
    ASSERT_EQ(sound.LockNextPage(&page, &size), BPushGameSound::lock_ok);
    void* second;
    EXPECT_EQ(sound.LockNextPage(&second, &size), BPushGameSound::lock_failed);
    int16 local[4];
    EXPECT_EQ(sound.UnlockPage(local), B_BAD_VALUE);
    EXPECT_EQ(sound.UnlockPage(page), B_OK);
    EXPECT_EQ(sound.UnlockPage(page), B_BAD_VALUE); // already queued
    ASSERT_EQ(sound.LockNextPage(&second, &size), BPushGameSound::lock_ok);
    EXPECT_EQ(static_cast<uint8*>(second) - static_cast<uint8*>(page), ptrdiff_t(size));
    EXPECT_EQ(sound.UnlockPage(second), B_OK);
}

TEST(PushGameSound, FormatsThatCannotPlayAreRefused)
{
    disk_output output("refused");
    gs_audio_format good = s16_format(44100, 2);
    std::vector<gs_audio_format> bad(6, good);
    bad[0].frame_rate = 0;
    bad[1].channel_count = 0;
    bad[2].channel_count = 200;
    bad[3].format = 0x3;
    bad[4].byte_order = 7;
    bad[5].frame_rate = 1e9f;
    for (const gs_audio_format& format : bad) {
        BPushGameSound sound(1024, &format, 2);
        EXPECT_LT(sound.InitCheck(), 0);
        void* page;
        size_t size;
        EXPECT_EQ(sound.LockNextPage(&page, &size), BPushGameSound::lock_failed);
        EXPECT_EQ(sound.StartPlaying(), B_NO_INIT);
    }
    BPushGameSound noFrames(0, &good, 2);
    EXPECT_LT(noFrames.InitCheck(), 0);
    BPushGameSound onePage(1024, &good, 1);
    EXPECT_LT(onePage.InitCheck(), 0);
    BPushGameSound noFormat(1024, nullptr, 2);
    EXPECT_LT(noFormat.InitCheck(), 0);
}
