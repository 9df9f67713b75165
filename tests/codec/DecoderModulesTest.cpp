// Finding codec modules by the format tags their drivers report, with the
// answers remembered in the registry until a module's file changes; every
// module of the tests' decoders folder, and files that are no module.

#include "CodecFixture.h"

#include "codec/DecoderModules.h"
#include "platform/support/Debug.h"
#include "registry/RegistryHandles.h"
#include "registry/RegistryNode.h"

#include <algorithm>
#include <fstream>

namespace
{

// The modules asked (loaded) while `work` ran, from the debug output.
template <typename F>
size_t count_asked(F work)
{
    bool debug = _rtDebugFlag;
    _rtDebugFlag = true;
    testing::internal::CaptureStderr();
    work();
    std::string said = testing::internal::GetCapturedStderr();
    _rtDebugFlag = debug;
    size_t count = 0;
    for (size_t at = 0; (at = said.find("decoder modules: asking ", at)) != std::string::npos; at++)
        count++;
    return count;
}

const decoder_module* find(const std::vector<decoder_module>& modules, const char* file)
{
    for (const decoder_module& module : modules) {
        if (module.file == file)
            return &module;
    }
    return nullptr;
}

} // namespace

TEST_F(CodecTest, ModulesAreFoundByTheirTagsAndAskedAgainOnlyWhenTheirFileChanges)
{
    std::ofstream(fDecoders / "notes.ACM") << "not a module\n";
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(fDecoders))
        files += entry.path().extension() == ".acm" || entry.path().extension() == ".ACM";

    std::vector<decoder_module> modules;
    EXPECT_EQ(count_asked([&] { modules = decoder_modules(); }), files);
    ASSERT_EQ(modules.size(), files);
    const decoder_module* good = find(modules, "testacm.acm");
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->problem, "");
    EXPECT_EQ(good->driver, "Reelmoth test codec");
    EXPECT_EQ(good->tags, (std::vector<uint16>{0x0011, 0x0007, 0x0006}));
    // Passed over, each with its reason: no entry point, a fault while it
    // is asked, a text file.
    EXPECT_EQ(find(modules, "noproc.acm")->problem, "no DriverProc");
    EXPECT_NE(find(modules, "detailsfault.acm")->problem, "");
    EXPECT_TRUE(find(modules, "detailsfault.acm")->tags.empty());
    EXPECT_EQ(find(modules, "notes.ACM")->problem, "not a PE image");

    // The fixed name first for its tag; others by what they report.
    std::vector<std::string> mp3 = decoder_modules_for_tag(0x0055);
    ASSERT_FALSE(mp3.empty());
    EXPECT_EQ(mp3[0], "L3codeca.acm");
    std::vector<std::string> ima = decoder_modules_for_tag(0x0011);
    EXPECT_NE(std::find(ima.begin(), ima.end(), "testacm.acm"), ima.end());
    EXPECT_EQ(std::find(ima.begin(), ima.end(), "L3codeca.acm"), ima.end());
    EXPECT_TRUE(decoder_modules_for_tag(0x1234).empty());

    // Remembered: nothing is loaded again, the faulting module included.
    std::vector<decoder_module> again;
    EXPECT_EQ(count_asked([&] { again = decoder_modules(); }), 0u);
    ASSERT_EQ(again.size(), modules.size());
    for (size_t i = 0; i < again.size(); i++) {
        EXPECT_EQ(again[i].file, modules[i].file);
        EXPECT_EQ(again[i].tags, modules[i].tags);
        EXPECT_EQ(again[i].problem, modules[i].problem);
    }

    // A changed file is asked again, alone; a renamed one under its new name.
    std::ofstream(fDecoders / "testacm.acm", std::ios::app) << '\0';
    std::filesystem::rename(fDecoders / "L3codeca.acm", fDecoders / "l3codeca.acm");
    EXPECT_EQ(count_asked([&] { modules = decoder_modules(); }), 2u);
    EXPECT_EQ(find(modules, "testacm.acm")->tags, (std::vector<uint16>{0x0011, 0x0007, 0x0006}));
    EXPECT_EQ(decoder_modules_for_tag(0x0055)[0], "l3codeca.acm");

    // Two files whose names differ in letter case only are two modules,
    // each asked as itself (Wine's MP3 decoder beside the tests' driver).
    std::filesystem::copy_file(std::string(REELMOTH_WINE_ACM_DIR) + "/l3codeca.acm",
                               fDecoders / "L3CODECA.ACM");
    std::ofstream(fDecoders / "l3codeca.acm", std::ios::app) << '\0';
    EXPECT_EQ(count_asked([&] { modules = decoder_modules(); }), 2u);
    ASSERT_NE(find(modules, "L3CODECA.ACM"), nullptr);
    EXPECT_EQ(find(modules, "L3CODECA.ACM")->tags, (std::vector<uint16>{0x0055, 0x0050}));
    EXPECT_EQ(find(modules, "l3codeca.acm")->tags, (std::vector<uint16>{0x0055, 0x0007, 0x0006}));
}

TEST_F(CodecTest, TheUsersChoiceOfSoundDecodersComesFromTheEnvironmentOrTheRegistry)
{
    unsetenv("REELMOTH_AUDIO");
    EXPECT_EQ(audio_decoders_choice(), kDecodersAuto);
    {
        registry_load();
        BAutolock lock(registry_lock());
        registry_node* user = gRootNode.FindChild("HKEY_CURRENT_USER");
        registry_node* software = user->FindChild("SOFTWARE");
        registry_node* ours = software->FindChild("Reelmoth");
        if (ours == nullptr) {
            ours = new registry_node("Reelmoth");
            software->AddChild(ours);
        }
        ours->SetValue("Audio decoders", REG_SZ, "modules", 8);
    }
    EXPECT_EQ(audio_decoders_choice(), kDecodersModules);
    setenv("REELMOTH_AUDIO", "ffmpeg", 1);
    EXPECT_EQ(audio_decoders_choice(), kDecodersFFmpeg);
    unsetenv("REELMOTH_AUDIO");
}
