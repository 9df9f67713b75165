// Wine's five ACM modules, real modules nobody here wrote, decode through
// their codec host process exactly as in the player's own process: the
// filter lets through all they need.
#include "MediaFiles.h"

#include "asf/VariableBuffer.h"
#include "player/SoundDecoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

TEST(HostedModules, WinesModulesDecodeInTheirHostAsInThePlayer)
{
    const std::pair<const char*, const char*> cases[] = {
        {"l3codeca.acm", "mp3-44k-stereo-128k.wma"}, {"msadp32.acm", "audio-only-adpcm_ms.wma"},
        {"msgsm32.acm", "audio-only-gsm.wma"},       {"msg711.acm", "audio-only-alaw.wma"},
        {"imaadp32.acm", "imaadpcm-44k-mono.wma"},
    };
    char pattern[] = "/tmp/reelmoth-hosted-XXXXXX";
    std::string folder = mkdtemp(pattern);
    std::string decoders = folder + "/reelmoth/media/decoders";
    std::filesystem::create_directories(decoders);
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    for (auto [module, file] : cases) {
        SCOPED_TRACE(module);
        std::filesystem::copy_file(std::string(REELMOTH_WINE_ACM_DIR) + "/" + module,
                                   decoders + "/" + module);
        stream_objects stream;
        ASSERT_TRUE(
            read_stream_objects(std::string(REELMOTH_TEST_DATA) + "/asf/" + file, 0, &stream));
        sound_stream_format format;
        ASSERT_TRUE(read_sound_format(stream.format.data(), uint32(stream.format.size()), &format));
        bytes_t pcm[2];
        for (int hosted : {1, 0}) {
            setenv("REELMOTH_CODEC_PROCESS", hosted ? "1" : "0", 1);
            CResult why;
            std::unique_ptr<CSoundDecoder> decoder = choose_sound_decoder(format, &why);
            ASSERT_NE(decoder, nullptr) << why.Why();
            EXPECT_EQ(decoder->Description(), std::string("codec module ") + module);
            CVariableBuffer out;
            ASSERT_TRUE(decoder->Restart());
            for (const auto& object : stream.objects)
                decoder->Decode(object.data.data(), object.data.size(), &out);
            decoder->Finish(&out);
            auto* bytes = static_cast<const uint8*>(out.Data());
            pcm[hosted].assign(bytes, bytes + out.Length());
        }
        EXPECT_GT(pcm[1].size(), 10000u);
        EXPECT_TRUE(pcm[0] == pcm[1]);
        std::filesystem::remove(decoders + "/" + module);
    }
    unsetenv("REELMOTH_CODEC_PROCESS");
    std::filesystem::remove_all(folder);
}
