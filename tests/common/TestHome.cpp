// Linked into every test, fuzz and benchmark program that may link the
// registry: before main, the user's settings folder is pointed at a fresh
// temporary folder, which goes away as the program ends. Tests (and their
// discovery at build time) must never read or write the real registry.
// Codec modules run in the build's codec host process.
#include <cstdlib>
#include <string>

namespace
{

class TestHome
{
public:
    TestHome()
    {
        char pattern[] = "/tmp/reelmoth-test-home-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            abort();
        fPath = pattern;
        setenv("XDG_CONFIG_HOME", (fPath + "/config").c_str(), 1);
#ifdef REELMOTH_CODEC_HOST_PATH
        // Test programs live away from the player: modules run in the
        // build's codec host, as the player runs them.
        setenv("REELMOTH_CODEC_HOST", REELMOTH_CODEC_HOST_PATH, 0);
#endif
    }

    ~TestHome()
    {
        std::string command = "rm -rf '" + fPath + "'";
        if (system(command.c_str()) != 0)
            fPath.clear();
    }

private:
    std::string fPath;
};

TestHome sTestHome;

} // namespace
