// CACMCodec: choosing and opening modules, the format list, and the life of
// a conversion, including drivers that fail or fault.
#include "CodecFixture.h"

#include <cmath>
#include <cstring>
#include <thread>

TEST_F(CodecTest, OpensOnlyModulesThatCanServe)
{
    testing::internal::CaptureStderr();
    {
        CACMCodec pcm(0x0001ul);
        EXPECT_EQ(pcm.InitCheck(), -1);
        CACMCodec missing(0x0160ul); // DivXa32.acm is not installed
        EXPECT_EQ(missing.InitCheck(), -1);
        CACMCodec noProc("noproc.acm");
        EXPECT_EQ(noProc.InitCheck(), -1);
        CACMCodec badFormats("badformat.acm");
        EXPECT_EQ(badFormats.InitCheck(), -1);
        EXPECT_EQ(pe_first_add_on(), nullptr) << "a failed codec leaves no module loaded";
    }
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(CACMCodec::ModuleForTag(0x55), "L3codeca.acm");
    EXPECT_STREQ(CACMCodec::ModuleForTag(0x161), "DivXa32.acm");
    EXPECT_EQ(CACMCodec::ModuleForTag(0x11), nullptr);
}

TEST_F(CodecTest, FindsModulesWhoseNamesDifferOnlyInCase)
{
    std::filesystem::rename(fDecoders / "L3codeca.acm", fDecoders / "l3codeca.acm");
    std::filesystem::rename(fDecoders / "testacm.acm", fDecoders / "TESTACM.ACM");
    CACMCodec byTag(0x55ul);
    EXPECT_EQ(byTag.InitCheck(), B_OK);
    CACMCodec byName("testacm.acm");
    EXPECT_EQ(byName.InitCheck(), B_OK);
}

TEST_F(CodecTest, MatchesWaveFormatsByChannelsRateAndSampleSize)
{
    CACMCodec codec("testacm.acm");
    ASSERT_EQ(codec.InitCheck(), B_OK);
    media_raw_audio_format format = PCM(44100.7f, 2);
    const tWAVEFORMATEX* found = codec.FindSuitableWaveFormat(1, &format);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->nSamplesPerSec, 44100u) << "the rate is truncated";
    EXPECT_EQ(found->nChannels, 2);
    EXPECT_EQ(found->wBitsPerSample, 16);
    EXPECT_EQ(module_address(found) != 0, true) << "formats live where the driver wrote them";

    format.format = media_raw_audio_format::B_AUDIO_FLOAT;
    EXPECT_EQ(codec.FindSuitableWaveFormat(1, &format), nullptr) << "no 32-bit PCM";
    format = PCM(96000, 2);
    EXPECT_EQ(codec.FindSuitableWaveFormat(1, &format), nullptr);
    format = PCM(NAN, 2);
    EXPECT_EQ(codec.FindSuitableWaveFormat(1, &format), nullptr);
    format = PCM(8000, 1);
    format.format = 0x1; // one-byte samples: G.711 states 8 bits
    found = codec.FindSuitableWaveFormat(7, &format);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->wFormatTag, 7);
    EXPECT_EQ(codec.FindSuitableWaveFormat(0x55, &format), nullptr) << "no such tag";
}

TEST_F(CodecTest, RunsOneConversionAtATime)
{
    wav_file wav = MakeWav("adpcm_ima_wav", 22050, 1, 0.5);
    uint32 block = wav.Format()->nBlockAlign;
    CACMCodec codec("testacm.acm");
    ASSERT_EQ(codec.InitCheck(), B_OK);
    const void* output = nullptr;
    uint32 size = 0;
    EXPECT_EQ(codec.Convert(wav.data.data(), block, &output, &size), -1) << "nothing running";
    EXPECT_EQ(codec.EndConversion(), -1);

    media_raw_audio_format target = PCM(22050, 1);
    uint32 outputSize = 0;
    testing::internal::CaptureStdout();
    ASSERT_EQ(codec.BeginConversionEx(wav.Format(), 1, &target, block, &outputSize), B_OK);
    EXPECT_EQ(codec.BeginConversionEx(wav.Format(), 1, &target, block, &outputSize), -1);
    testing::internal::GetCapturedStdout();
    // A block larger than the source buffer is converted up to the buffer's size.
    ASSERT_GE(wav.data.size(), 2u * block);
    EXPECT_EQ(codec.Convert(wav.data.data(), 2 * block, &output, &size), int32(block));
    EXPECT_EQ(size, outputSize);
    EXPECT_EQ(codec.EndConversion(), B_OK);

    // No suitable destination: nothing begins, nothing is printed.
    media_raw_audio_format wrongRate = PCM(12345, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(codec.BeginConversionEx(wav.Format(), 1, &wrongRate, block, &outputSize), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // The driver cannot change the rate: it refuses, and the codec stays idle.
    media_raw_audio_format otherRate = PCM(44100, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(codec.BeginConversionEx(wav.Format(), 1, &otherRate, block, &outputSize), -1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(codec.Convert(wav.data.data(), block, &output, &size), -1);

    // Sizes asked the other way round, and the variants by format tag.
    uint32 sourceSize = 0;
    testing::internal::CaptureStdout();
    ASSERT_EQ(codec.BeginConversionEx(wav.Format(), 1, &target, &sourceSize, outputSize), B_OK);
    EXPECT_EQ(sourceSize, block);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "acmStreamSize says 0\n");
    EXPECT_EQ(codec.EndConversion(), B_OK);
    media_raw_audio_format law = PCM(8000, 1);
    law.format = 0x1;
    media_raw_audio_format pcm8k = PCM(8000, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(codec.BeginConversion(7, &law, 1, &pcm8k, &sourceSize, 400), B_OK);
    EXPECT_EQ(sourceSize, 200u);
    EXPECT_EQ(codec.EndConversion(), B_OK);
    EXPECT_EQ(codec.BeginConversion(6, &law, 1, &pcm8k, 100, &outputSize), B_OK);
    EXPECT_EQ(outputSize, 200u);
    EXPECT_EQ(codec.EndConversion(), B_OK);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "only the Ex variants print";
}

TEST_F(CodecTest, ADriverThatFaultsOnEitherThreadFailsTheConversionAndThePlayerGoesOn)
{
    wav_file wav = MakeWav("adpcm_ima_wav", 8000, 1, 4.0);
    uint32 block = wav.Format()->nBlockAlign;
    ASSERT_GE(wav.data.size(), 12u * block);
    media_raw_audio_format target = PCM(8000, 1);
    uint32 outputSize = 0;
    const void* output;
    uint32 size;
    // faultacm faults on the caller's thread; workerfaultacm on its worker
    // while the caller waits, which must not leave the caller waiting;
    // limitacm makes events until the host refuses, which ends it as a
    // fault would.
    for (const char* name : {"faultacm.acm", "workerfaultacm.acm", "limitacm.acm"}) {
        SCOPED_TRACE(name);
        CACMCodec* codec = new CACMCodec(name);
        ASSERT_EQ(codec->InitCheck(), B_OK);
        testing::internal::CaptureStdout();
        ASSERT_EQ(codec->BeginConversionEx(wav.Format(), 1, &target, block, &outputSize), B_OK);
        testing::internal::GetCapturedStdout();
        // On a thread of its own, as the player's reader converts.
        std::vector<int32> results;
        testing::internal::CaptureStderr();
        std::thread reader([&] {
            for (int i = 0; i < 11; i++)
                results.push_back(
                    codec->Convert(wav.data.data() + i * block, block, &output, &size));
        });
        reader.join();
        std::string report = testing::internal::GetCapturedStderr();
        ASSERT_EQ(results.size(), 11u);
        for (int i = 0; i < 9; i++)
            EXPECT_EQ(results[i], int32(block)) << i;
        EXPECT_EQ(results[9], -1);
        EXPECT_EQ(results[10], -1);
        EXPECT_NE(report.find(name), std::string::npos) << report;
        if (strcmp(name, "limitacm.acm") == 0)
            EXPECT_EQ(report, "module 'limitacm.acm' went over its limit of 4096 events, "
                              "semaphores and critical sections\n");
        else
            EXPECT_NE(report.find("NoSuchFunctionAnywhere"), std::string::npos) << report;
        EXPECT_EQ(codec->EndConversion(), B_OK);
        delete codec;
    }

    // Loaded again, the module whose thread faulted starts healthy.
    CACMCodec again("workerfaultacm.acm");
    ASSERT_EQ(again.InitCheck(), B_OK);
    testing::internal::CaptureStdout();
    ASSERT_EQ(again.BeginConversionEx(wav.Format(), 1, &target, block, &outputSize), B_OK);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(again.Convert(wav.data.data(), block, &output, &size), int32(block));
    EXPECT_EQ(again.EndConversion(), B_OK);
}
