// Audio encoded by ffmpeg, decoded block by block through CACMCodec and the
// test driver running in the emulator, must equal ffmpeg's own decode.
#include "CodecFixture.h"

namespace
{

struct decode_case {
    const char* codec;
    int rate;
    int channels;
};

// Decodes all whole blocks of `wav`; returns the PCM bytes.
std::string decode(CACMCodec& codec, const wav_file& wav, const media_raw_audio_format& target)
{
    std::string pcm;
    uint32 blockAlign = wav.Format()->nBlockAlign;
    uint32 outputSize = 0;
    testing::internal::CaptureStdout();
    status_t begun =
        codec.BeginConversionEx(wav.Format(), WAVE_FORMAT_PCM, &target, blockAlign, &outputSize);
    std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(begun, B_OK);
    if (begun != B_OK)
        return pcm;
    EXPECT_EQ(said, "acmStreamSize says 0\n");
    for (size_t at = 0; at + blockAlign <= wav.data.size(); at += blockAlign) {
        const void* output = nullptr;
        uint32 size = 0;
        int32 consumed = codec.Convert(wav.data.data() + at, blockAlign, &output, &size);
        EXPECT_EQ(consumed, int32(blockAlign)) << "block at " << at;
        if (consumed < 0)
            break;
        EXPECT_LE(size, outputSize);
        pcm.append(static_cast<const char*>(output), size);
    }
    EXPECT_EQ(codec.EndConversion(), B_OK);
    return pcm;
}

} // namespace

TEST_F(CodecTest, DecodesWhatFfmpegEncodedToTheSameSamples)
{
    const decode_case cases[] = {
        {"adpcm_ima_wav", 44100, 2}, {"adpcm_ima_wav", 8000, 1},  {"adpcm_ima_wav", 22050, 1},
        {"adpcm_ima_wav", 48000, 2}, {"adpcm_ima_wav", 11025, 2}, {"pcm_mulaw", 8000, 1},
        {"pcm_mulaw", 16000, 2},     {"pcm_alaw", 8000, 1},       {"pcm_alaw", 32000, 2},
    };
    CACMCodec codec("testacm.acm");
    ASSERT_EQ(codec.InitCheck(), B_OK);
    for (const decode_case& c : cases) {
        SCOPED_TRACE(std::string(c.codec) + " " + std::to_string(c.rate) + " Hz " +
                     std::to_string(c.channels) + " ch");
        std::string reference;
        wav_file wav = MakeWav(c.codec, c.rate, c.channels, 1.5, &reference);
        ASSERT_EQ(wav.Format()->nChannels, c.channels);
        media_raw_audio_format target = PCM(float(c.rate), uint32(c.channels));
        std::string ours = decode(codec, wav, target);
        // ffmpeg also decodes a last block cut short; we convert whole blocks.
        ASSERT_GT(ours.size(), 0u);
        ASSERT_LE(ours.size(), reference.size());
        EXPECT_TRUE(ours == reference.substr(0, ours.size())) << "samples differ";
        EXPECT_GT(ours.size() * 10, reference.size() * 9) << "most of the file was decoded";
    }
}
