// The registry is read while a process starts and written while it ends:
// these tests run a small program that links it (registry_probe) with the
// settings folder pointed at a temporary one.
#include "registry/RegistryNode.h"
#include "settings/SettingsFile.h"

#include "platform/storage/File.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef REGISTRY_PROBE
#error "REGISTRY_PROBE names the probe program"
#endif

namespace
{

const char kDefaultTree[] = "/\n"
                            "|   HKEY_LOCAL_MACHINE\n"
                            "|   |   SOFTWARE\n"
                            "|   |   |   Microsoft\n"
                            "|   HKEY_CURRENT_USER\n"
                            "|   |   SOFTWARE\n"
                            "|   |   |   Microcrap\n"
                            "|   HKEY_CURRENT_CONFIG\n";

class RegistryStartupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/reelmoth-registry-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        fHome = pattern;
        fFile = fHome + "/WeAreQuarl/registry";
    }

    void TearDown() override
    {
        std::string command = "rm -rf " + fHome;
        EXPECT_EQ(system(command.c_str()), 0);
    }

    // Runs the probe with these commands; its standard output.
    std::string Probe(const std::string& commands)
    {
        std::string command = "XDG_CONFIG_HOME='" + fHome + "' '" REGISTRY_PROBE "' " + commands;
        FILE* pipe = popen(command.c_str(), "r");
        EXPECT_NE(pipe, nullptr);
        std::string output;
        char buffer[4096];
        size_t read;
        while ((read = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
            output.append(buffer, read);
        EXPECT_EQ(pclose(pipe), 0) << command;
        return output;
    }

    std::vector<uint8> FileBytes()
    {
        std::vector<uint8> bytes;
        BFile file(fFile.c_str(), B_READ_ONLY);
        uint8 buffer[4096];
        ssize_t read;
        while ((read = file.Read(buffer, sizeof(buffer))) > 0)
            bytes.insert(bytes.end(), buffer, buffer + read);
        return bytes;
    }

    // Writes a stored top level message as the registry file would hold it.
    void Store(const BMessage& message)
    {
        // Named from "/" so that this process's own settings folder stays
        // where it is (its registry is written there at exit).
        std::string folder = fHome.substr(1) + "/WeAreQuarl";
        SettingsFile settings("registry", folder.c_str(), directory_which(-1));
        static_cast<BMessage&>(settings) = message;
        ASSERT_EQ(settings.Save(), B_OK);
    }

    std::string fHome;
    std::string fFile;
};

} // namespace

TEST_F(RegistryStartupTest, AFirstStartBuildsTheDefaultTreeAndWritesItAtExit)
{
    EXPECT_EQ(Probe("origin print"), "default\n" + std::string(kDefaultTree));
    ASSERT_FALSE(FileBytes().empty()) << "written at exit";
    EXPECT_EQ(Probe("origin print"), "loaded\n" + std::string(kDefaultTree))
        << "no Scrunch key: nothing is added";

    // The attribute of a value's type is named by its whole path.
    Probe("set HKEY_CURRENT_USER/SOFTWARE/Microcrap/Scrunch other dword 7");
    attr_info info;
    EXPECT_EQ(BNode(fFile.c_str())
                  .GetAttrInfo("/:HKEY_CURRENT_USER:SOFTWARE:Microcrap:Scrunch: other:type", &info),
              B_OK);
}

TEST_F(RegistryStartupTest, ALaterStartForcesThePostProcessValueAndKeepsTheRest)
{
    Probe("set HKEY_CURRENT_USER/SOFTWARE/Microcrap/Scrunch 'Force Post Process Mode' dword 0 "
          "set HKEY_CURRENT_USER/SOFTWARE/Microcrap/Scrunch second bytes xyz "
          "set HKEY_CURRENT_CONFIG third dword 0x10 create HKEY_USERS/a/b create HKEY_USERS/c");
    std::string expected = "/\n"
                           "|   HKEY_USERS\n"
                           "|   |   c\n"
                           "|   |   a\n"
                           "|   |   |   b\n"
                           "|   HKEY_LOCAL_MACHINE\n"
                           "|   |   SOFTWARE\n"
                           "|   |   |   Microsoft\n"
                           "|   HKEY_CURRENT_USER\n"
                           "|   |   SOFTWARE\n"
                           "|   |   |   Microcrap\n"
                           "|   |   |   |   Scrunch\n"
                           "|   |   |   |   |   Force Post Process Mode (REG_DWORD(-1 == "
                           "0xffffffff))\n"
                           "|   |   |   |   |   second (type:3, size:3)\n"
                           "|   HKEY_CURRENT_CONFIG\n"
                           "|   |   third (REG_DWORD(16 == 0x00000010))\n";
    EXPECT_EQ(Probe("print"), expected);
    EXPECT_EQ(Probe("print"), expected) << "the same through a second save and load";
}

TEST_F(RegistryStartupTest, AFileThatIsNotARegistryGivesTheDefaultTreeAndIsOverwritten)
{
    ASSERT_EQ(create_directory((fHome + "/WeAreQuarl").c_str(), 0755), B_OK);
    {
        BFile junk(fFile.c_str(), B_WRITE_ONLY | B_CREATE_FILE);
        ASSERT_EQ(junk.Write("junk", 4), 4);
    }
    EXPECT_EQ(Probe("origin set HKEY_CURRENT_CONFIG run dword 1"), "default\n");
    EXPECT_EQ(Probe("origin print"), "loaded\n" + std::string(kDefaultTree) +
                                         "|   |   run (REG_DWORD(1 == 0x00000001))\n");

    // A message without a key field, then a value without its data.
    BMessage noKey;
    noKey.AddInt32("not a key", 1);
    Store(noKey);
    EXPECT_EQ(Probe("origin"), "default\n");
    BMessage value, key, top;
    value.AddInt32("type", 4);
    key.AddMessage(" broken", &value);
    top.AddMessage("/", &key);
    Store(top);
    EXPECT_EQ(Probe("origin print"), "default\n" + std::string(kDefaultTree));
    EXPECT_EQ(Probe("origin"), "loaded\n") << "overwritten with a registry";

    // An attribute that cannot be applied (a number of three bytes) breaks
    // the file as well.
    Probe("set HKEY_CURRENT_CONFIG run dword 1");
    ASSERT_EQ(BNode(fFile.c_str())
                  .WriteAttr("/:HKEY_CURRENT_CONFIG: run:type", B_INT32_TYPE, 0, "abc", 3),
              3);
    EXPECT_EQ(Probe("origin"), "default\n");
}

TEST_F(RegistryStartupTest, AFileThatCannotBeReadIsLeftAlone)
{
    Probe("set HKEY_CURRENT_CONFIG kept dword 5");
    std::vector<uint8> before = FileBytes();
    // Another holder keeps the file's lock past the start's patience.
    BFile holder(fFile.c_str(), B_READ_WRITE);
    ASSERT_EQ(holder.Lock(), B_OK);
    EXPECT_EQ(Probe("origin set HKEY_CURRENT_CONFIG lost dword 1"), "unread\n");
    holder.Unlock();
    EXPECT_EQ(FileBytes(), before);
    EXPECT_NE(Probe("print").find("kept (REG_DWORD(5"), std::string::npos);
}
