// Test ACM drivers in a decoders folder of their own, and audio made by
// ffmpeg for them to decode.
#pragma once

#include "codec/ACMCodec.h"
#include "platform/kernel/ModuleSpace.h"
#include "winemu/loader/pe_add_on.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

typedef std::vector<uint8> bytes_t;

// A WAV file's format chunk and its sample data.
struct wav_file {
    bytes_t format; // WAVEFORMATEX with its codec data
    bytes_t data;

    const tWAVEFORMATEX* Format() const
    {
        return reinterpret_cast<const tWAVEFORMATEX*>(format.data());
    }
};

inline bytes_t read_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return bytes_t(std::istreambuf_iterator<char>(in), {});
}

inline wav_file parse_wav(const bytes_t& bytes)
{
    wav_file wav;
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        uint32 size = uint32(bytes[at + 4]) | uint32(bytes[at + 5]) << 8 |
                      uint32(bytes[at + 6]) << 16 | uint32(bytes[at + 7]) << 24;
        std::string id(bytes.begin() + long(at), bytes.begin() + long(at) + 4);
        size_t end = std::min(bytes.size(), at + 8 + size);
        bytes_t body(bytes.begin() + long(at) + 8, bytes.begin() + long(end));
        if (id == "fmt ")
            wav.format = body;
        else if (id == "data")
            wav.data = body;
        at += 8 + size + (size & 1);
    }
    // A format chunk of 16 bytes has no cbSize field: give it one of 0.
    if (wav.format.size() < sizeof(tWAVEFORMATEX))
        wav.format.resize(sizeof(tWAVEFORMATEX), 0);
    return wav;
}

class CodecTest : public testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/reelmoth-codec-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        fRoot = pattern;
        fDecoders = fRoot / "reelmoth/media/decoders";
        std::filesystem::create_directories(fDecoders);
        setenv("XDG_DATA_HOME", fRoot.c_str(), 1);
        for (const auto& entry : std::filesystem::directory_iterator(REELMOTH_TEST_MODULES)) {
            if (entry.path().extension() == ".acm")
                std::filesystem::copy_file(entry.path(), fDecoders / entry.path().filename());
        }
    }

    void TearDown() override
    {
        EXPECT_EQ(pe_first_add_on(), nullptr) << "a module was left loaded";
        pe_unload_all();
        std::filesystem::remove_all(fRoot);
    }

    // Makes a WAV file with ffmpeg from a sine source; the codec options are
    // ffmpeg's own ("-c:a adpcm_ima_wav" ...).
    wav_file MakeWav(const std::string& codec, int rate, int channels, double seconds,
                     std::string* reference = nullptr)
    {
        std::filesystem::path wav = fRoot / ("audio-" + codec + ".wav");
        std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i "
                              "'sine=frequency=523:sample_rate=" +
                              std::to_string(rate) + ":duration=" + std::to_string(seconds) +
                              "' -af 'volume=0.8' -ac " + std::to_string(channels) + " -c:a " +
                              codec + " '" + wav.string() + "'";
        EXPECT_EQ(system(command.c_str()), 0) << command;
        if (reference != nullptr) {
            std::filesystem::path raw = fRoot / "reference.raw";
            std::string decode = "ffmpeg -hide_banner -loglevel error -nostdin -y -i '" +
                                 wav.string() + "' -f s16le '" + raw.string() + "'";
            EXPECT_EQ(system(decode.c_str()), 0);
            bytes_t bytes = read_bytes(raw);
            reference->assign(bytes.begin(), bytes.end());
        }
        return parse_wav(read_bytes(wav));
    }

    // Copies Wine's module `name` into the decoders folder as `installAs`;
    // false (and a failure naming the remedy) when bootstrap has not
    // fetched it.
    bool InstallWineModule(const char* name, const char* installAs = nullptr)
    {
        std::filesystem::path from = std::filesystem::path(REELMOTH_WINE_ACM_DIR) / name;
        if (!std::filesystem::exists(from)) {
            ADD_FAILURE() << from << " is missing: scripts/bootstrap fetches Wine's ACM modules";
            return false;
        }
        std::filesystem::copy_file(from, fDecoders / (installAs != nullptr ? installAs : name),
                                   std::filesystem::copy_options::overwrite_existing);
        return true;
    }

    static media_raw_audio_format PCM(float rate, uint32 channels)
    {
        media_raw_audio_format format = media_raw_audio_format::wildcard;
        format.frame_rate = rate;
        format.channel_count = channels;
        format.format = media_raw_audio_format::B_AUDIO_SHORT;
        format.byte_order = B_MEDIA_LITTLE_ENDIAN;
        return format;
    }

    std::filesystem::path fRoot;
    std::filesystem::path fDecoders;
};
