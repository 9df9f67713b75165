// Codec modules of another maker: Wine's ACM modules (Debian's libwine:i386)
// load in the emulator and decode what ffmpeg encoded through the driver
// call layer, each with its own format tag.
#include "CodecFixture.h"

#include <algorithm>
#include <cmath>

namespace
{

struct wine_case {
    const char* module;
    const char* codec; // ffmpeg's encoder
    uint16 tag;
    int rate;
    int channels;
};

// Decodes every whole block of `wav` through the module; the PCM bytes.
std::string decode_blocks(CACMCodec& codec, const wav_file& wav, int rate, int channels)
{
    std::string pcm;
    media_raw_audio_format target = media_raw_audio_format::wildcard;
    target.frame_rate = float(rate);
    target.channel_count = uint32(channels);
    target.format = media_raw_audio_format::B_AUDIO_SHORT;
    target.byte_order = B_MEDIA_LITTLE_ENDIAN;
    uint32 blockAlign = wav.Format()->nBlockAlign;
    uint32 outputSize = 0;
    testing::internal::CaptureStdout();
    status_t begun =
        codec.BeginConversionEx(wav.Format(), WAVE_FORMAT_PCM, &target, blockAlign, &outputSize);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(begun, B_OK);
    if (begun != B_OK)
        return pcm;
    EXPECT_GT(outputSize, 0u);
    for (size_t at = 0; at + blockAlign <= wav.data.size(); at += blockAlign) {
        const void* output = nullptr;
        uint32 size = 0;
        int32 consumed = codec.Convert(wav.data.data() + at, blockAlign, &output, &size);
        EXPECT_EQ(consumed, int32(blockAlign)) << "block at " << at;
        if (consumed < 0)
            break;
        pcm.append(static_cast<const char*>(output), size);
    }
    EXPECT_EQ(codec.EndConversion(), B_OK);
    return pcm;
}

// IMA ADPCM (WAV layout) decoded as the published algorithm gives it.
std::string ima_reference(const wav_file& wav)
{
    static const int kIndex[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
    static const int kStep[89] = {
        7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
        25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
        88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
        307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
        1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
        3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
        12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
    uint32 channels = wav.Format()->nChannels, align = wav.Format()->nBlockAlign;
    std::string pcm;
    for (size_t at = 0; at + align <= wav.data.size(); at += align) {
        const uint8* block = wav.data.data() + at;
        std::vector<std::vector<int16>> out(channels);
        std::vector<int> predictor(channels), index(channels);
        for (uint32 ch = 0; ch < channels; ch++) {
            predictor[ch] = int16(block[4 * ch] | block[4 * ch + 1] << 8);
            index[ch] = std::clamp(int(block[4 * ch + 2]), 0, 88);
            out[ch].push_back(int16(predictor[ch]));
        }
        for (size_t pos = 4 * channels; pos + 4 * channels <= align; pos += 4 * channels) {
            for (uint32 ch = 0; ch < channels; ch++) {
                for (size_t k = 0; k < 8; k++) {
                    uint8 byte = block[pos + 4 * ch + k / 2];
                    int nibble = k % 2 == 0 ? byte & 15 : byte >> 4;
                    int step = kStep[index[ch]];
                    int diff = step >> 3;
                    if (nibble & 4)
                        diff += step;
                    if (nibble & 2)
                        diff += step >> 1;
                    if (nibble & 1)
                        diff += step >> 2;
                    predictor[ch] =
                        std::clamp(predictor[ch] + (nibble & 8 ? -diff : diff), -32768, 32767);
                    index[ch] = std::clamp(index[ch] + kIndex[nibble], 0, 88);
                    out[ch].push_back(int16(predictor[ch]));
                }
            }
        }
        for (size_t i = 0; i < out[0].size(); i++) {
            for (uint32 ch = 0; ch < channels; ch++)
                pcm.append(reinterpret_cast<const char*>(&out[ch][i]), 2);
        }
    }
    return pcm;
}

double snr_db(const std::string& ours, const std::string& reference)
{
    size_t count = std::min(ours.size(), reference.size()) / 2;
    double signal = 0, noise = 0;
    for (size_t i = 0; i < count; i++) {
        int16 a, b;
        memcpy(&a, ours.data() + 2 * i, 2);
        memcpy(&b, reference.data() + 2 * i, 2);
        signal += double(b) * b;
        noise += double(a - b) * (a - b);
    }
    return noise == 0 ? 999.0 : 10.0 * std::log10(signal / noise);
}

} // namespace

TEST_F(CodecTest, WinesModulesDecodeLikeFfmpeg)
{
    const wine_case cases[] = {
        {"msadp32.acm", "adpcm_ms", 0x0002, 22050, 2},
        {"msadp32.acm", "adpcm_ms", 0x0002, 8000, 1},
        {"msg711.acm", "pcm_mulaw", 0x0007, 8000, 1},
        {"msg711.acm", "pcm_alaw", 0x0006, 22050, 2},
        {"msgsm32.acm", "libgsm_ms", 0x0031, 8000, 1},
        {"imaadp32.acm", "adpcm_ima_wav", 0x0011, 44100, 2},
        {"imaadp32.acm", "adpcm_ima_wav", 0x0011, 11025, 1},

    };
    for (const wine_case& c : cases) {
        SCOPED_TRACE(std::string(c.module) + " " + c.codec + " " + std::to_string(c.rate) + " Hz " +
                     std::to_string(c.channels) + " ch");
        ASSERT_TRUE(InstallWineModule(c.module));
        std::string reference;
        wav_file wav = MakeWav(c.codec, c.rate, c.channels, 1.5, &reference);
        ASSERT_EQ(wav.Format()->wFormatTag, c.tag);
        std::string ours;
        {
            CACMCodec codec(c.module);
            ASSERT_EQ(codec.InitCheck(), B_OK);
            ours = decode_blocks(codec, wav, c.rate, c.channels);
        }
        ASSERT_GT(ours.size(), 0u);
        ASSERT_LE(ours.size(), reference.size());
        EXPECT_GT(ours.size() * 10, reference.size() * 9) << "most of the file was decoded";
        if (c.tag == 0x0011) {
            // The module follows the published IMA ADPCM step arithmetic
            // exactly; ffmpeg's decoder rounds each step differently, and the
            // difference builds up over a block.
            std::string published = ima_reference(wav);
            EXPECT_TRUE(ours == published.substr(0, ours.size())) << "differs from IMA ADPCM";
            double snr = snr_db(ours, reference);
            printf("%s %d Hz %d ch: %.1f dB against ffmpeg\n", c.module, c.rate, c.channels, snr);
            if (c.channels == 1) {
                EXPECT_GE(snr, 45.0);
            }
        } else {
            EXPECT_TRUE(ours == reference.substr(0, ours.size())) << "samples differ";
        }
    }
}
