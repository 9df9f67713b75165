#include "settings/SettingsFile.h"

#include "platform/app/Roster.h"
#include "platform/storage/Entry.h"
#include "platform/storage/File.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

// Points the settings folder at a fresh temporary folder for each test.
class SettingsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/reelmoth-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        fBase = pattern;
        fConfig = fBase + "/config";
        const char* previous = getenv("XDG_CONFIG_HOME");
        fPrevious = previous != nullptr ? previous : "";
        setenv("XDG_CONFIG_HOME", fConfig.c_str(), 1);
        set_running_app_signature(nullptr);
    }

    void TearDown() override
    {
        if (fPrevious.empty())
            unsetenv("XDG_CONFIG_HOME");
        else
            setenv("XDG_CONFIG_HOME", fPrevious.c_str(), 1);
        set_running_app_signature(nullptr);
        std::string command = "rm -rf " + fBase;
        EXPECT_EQ(system(command.c_str()), 0);
    }

    std::string fBase;
    std::string fConfig;
    std::string fPrevious;
};

std::vector<uint8> flatten(const BMessage& message)
{
    std::vector<uint8> bytes(static_cast<size_t>(message.FlattenedSize()));
    EXPECT_EQ(message.Flatten(reinterpret_cast<char*>(bytes.data()), ssize_t(bytes.size())), B_OK);
    return bytes;
}

std::set<std::string> attribute_names(const char* path)
{
    std::set<std::string> names;
    BNode node(path);
    char name[B_ATTR_NAME_LENGTH];
    while (node.GetNextAttrName(name) == B_OK)
        names.insert(name);
    return names;
}

std::vector<uint8> file_bytes(const char* path)
{
    std::vector<uint8> bytes;
    BFile file(path, B_READ_ONLY);
    uint8 buffer[65536];
    ssize_t read;
    while ((read = file.Read(buffer, sizeof(buffer))) > 0)
        bytes.insert(bytes.end(), buffer, buffer + read);
    return bytes;
}

// Files in `folder` whose names begin with `prefix`.
int count_entries(const std::string& folder, const char* prefix)
{
    int count = 0;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return 0;
    while (struct dirent* entry = readdir(dir))
        count += strncmp(entry->d_name, prefix, strlen(prefix)) == 0 ? 1 : 0;
    closedir(dir);
    return count;
}

// One field of every attribute type, with items of the type's size.
void add_every_attribute_type(BMessage* message)
{
    const type_code types[] = {
        B_BOOL_TYPE,      B_CHAR_TYPE,   B_DOUBLE_TYPE,  B_FLOAT_TYPE,  B_INT8_TYPE,  B_INT16_TYPE,
        B_INT32_TYPE,     B_INT64_TYPE,  B_MIME_TYPE,    B_OFF_T_TYPE,  B_POINT_TYPE, B_RECT_TYPE,
        B_RGB_COLOR_TYPE, B_SIZE_T_TYPE, B_SSIZE_T_TYPE, B_STRING_TYPE, B_TIME_TYPE,  B_UINT8_TYPE,
        B_UINT16_TYPE,    B_UINT32_TYPE, B_UINT64_TYPE};
    const size_t sizes[] = {1, 1, 8, 4, 1, 2, 4, 8, 11, 8, 8, 16, 4, 8, 8, 6, 8, 1, 2, 4, 8};
    for (size_t i = 0; i < sizeof(types) / sizeof(types[0]); i++) {
        ASSERT_TRUE(SettingsFile::IsAttributeType(types[i]));
        std::vector<uint8> item(sizes[i], uint8(i + 1));
        item.back() = 0; // strings end with a NUL; the rest do not care
        std::string name = "t" + std::to_string(i);
        ASSERT_EQ(message->AddData(name.c_str(), types[i], item.data(), ssize_t(item.size())),
                  B_OK);
    }
}

} // namespace

TEST_F(SettingsFileTest, BuildsItsPathFromDirectoryFolderAndName)
{
    SettingsFile registry("registry", "WeAreQuarl", B_USER_SETTINGS_DIRECTORY);
    EXPECT_EQ(registry.InitCheck(), B_OK);
    EXPECT_EQ(std::string(registry.Path()), fConfig + "/WeAreQuarl/registry");
    EXPECT_EQ(std::string(SettingsFile(nullptr, "a/b").Path()), fConfig + "/a/b/Settings");
    EXPECT_EQ(std::string(SettingsFile("registry", "WeAreQuarl", directory_which(-1)).Path()),
              "/WeAreQuarl/registry");

    // Without a folder, the application's signature names it.
    SettingsFile unsigned_(nullptr, nullptr);
    EXPECT_EQ(unsigned_.InitCheck(), B_ERROR) << "no application is running";
    set_running_app_signature("application/x-vnd.Tarnwick-Reelmoth");
    EXPECT_EQ(std::string(SettingsFile().Path()), fConfig + "/Tarnwick/Reelmoth/Settings");
    set_running_app_signature("application/x-vnd.a.b-c");
    EXPECT_EQ(std::string(SettingsFile("s").Path()), fConfig + "/a/b-c/s");
    set_running_app_signature("application/first-second-third");
    EXPECT_EQ(std::string(SettingsFile("s").Path()), fConfig + "/first/second-third/s");
    set_running_app_signature("text/x-vnd.Tarnwick-Reelmoth");
    EXPECT_EQ(SettingsFile("s").InitCheck(), B_BAD_VALUE);

    SettingsFile unknown("s", "f", directory_which(1234));
    EXPECT_EQ(unknown.InitCheck(), B_BAD_VALUE);
    SettingsFile absolute("s", "/absolute");
    EXPECT_EQ(absolute.InitCheck(), B_BAD_VALUE);
    EXPECT_EQ(absolute.Path(), nullptr) << "a failed append leaves no path";
    EXPECT_NE(absolute.Load(), B_OK);
    EXPECT_EQ(absolute.Save(), B_NO_INIT);
}

TEST_F(SettingsFileTest, SavesAndLoadsNestedMessagesWithOneAttributePerItem)
{
    SettingsFile settings("settings", "deep/er/folder");
    settings.what = 'sett';
    add_every_attribute_type(&settings);
    for (int i = 0; i < 10; i++)
        settings.AddInt32("ten", i);
    for (int i = 0; i < 11; i++)
        settings.AddString("eleven", std::to_string(i).c_str());
    const uint8 blob[] = {1, 2, 3};
    settings.AddData("blob", B_ANY_TYPE, blob, sizeof(blob));

    BMessage prefs;
    prefs.AddFloat("volume", 0.5f);
    add_every_attribute_type(&prefs);
    settings.AddMessage("prefs", &prefs);
    for (int i = 0; i < 3; i++) {
        BMessage tab;
        tab.AddString("name", ("tab" + std::to_string(i)).c_str());
        BMessage inner;
        inner.AddInt64("id", i);
        tab.AddMessage("inner", &inner);
        settings.AddMessage("tabs", &tab);
    }
    ASSERT_EQ(settings.Save(), B_OK) << "the folders do not exist yet";

    std::set<std::string> names = attribute_names(settings.Path());
    for (int i = 0; i < 21; i++) {
        std::string field = "t" + std::to_string(i);
        EXPECT_TRUE(names.count(field)) << field;
        EXPECT_TRUE(names.count("prefs:" + field)) << field;
    }
    for (int i = 0; i < 10; i++)
        EXPECT_TRUE(names.count("ten::" + std::to_string(i))) << i;
    for (int i = 0; i < 11; i++) {
        char name[16];
        snprintf(name, sizeof(name), "eleven::%02d", i);
        EXPECT_TRUE(names.count(name)) << name;
    }
    EXPECT_TRUE(names.count("prefs:volume"));
    EXPECT_TRUE(names.count("tabs::0:name"));
    EXPECT_TRUE(names.count("tabs::2:inner:id"));
    EXPECT_FALSE(names.count("blob")) << "B_ANY_TYPE has no attribute";
    EXPECT_EQ(names.size(), 21u + 22u + 10u + 11u + 6u);

    SettingsFile loaded("settings", "deep/er/folder");
    ASSERT_EQ(loaded.Load(), B_OK);
    EXPECT_EQ(flatten(loaded), flatten(settings));
    EXPECT_EQ(count_entries(fConfig + "/deep/er/folder", ".settings."), 0) << "no temporary left";

    // Saving again replaces the file; fields that went away lose their attributes.
    loaded.RemoveName("ten");
    ASSERT_EQ(loaded.Save(), B_OK);
    names = attribute_names(settings.Path());
    EXPECT_FALSE(names.count("ten::0"));
    EXPECT_TRUE(names.count("eleven::10"));
}

TEST_F(SettingsFileTest, AttributesEditedOnDiskWinAndStrayOnesAreIgnored)
{
    SettingsFile settings("s", "f");
    settings.AddInt32("count", 1);
    settings.AddString("name", "old");
    settings.AddString("list", "a");
    settings.AddString("list", "b");
    BMessage prefs;
    prefs.AddFloat("volume", 0.5f);
    settings.AddMessage("prefs", &prefs);
    for (int i = 0; i < 2; i++) {
        BMessage tab;
        tab.AddInt32("width", 10 + i);
        settings.AddMessage("tabs", &tab);
    }
    ASSERT_EQ(settings.Save(), B_OK);

    {
        BNode node(settings.Path());
        int32 count = 7;
        float volume = 0.25f;
        int32 width = 99;
        ASSERT_EQ(node.WriteAttr("count", B_INT32_TYPE, 0, &count, 4), 4);
        ASSERT_EQ(node.WriteAttr("name", B_STRING_TYPE, 0, "brand new", 10), 10);
        ASSERT_EQ(node.WriteAttr("list::1", B_STRING_TYPE, 0, "B", 2), 2);
        ASSERT_EQ(node.WriteAttr("prefs:volume", B_FLOAT_TYPE, 0, &volume, 4), 4);
        ASSERT_EQ(node.WriteAttr("tabs::1:width", B_INT32_TYPE, 0, &width, 4), 4);
        // Paths that lead nowhere, indexes that are not proper numbers.
        const char* stray[] = {"missing",         "prefs:missing",  "missing:volume",
                               "tabs::2:width",   "tabs::x:width",  "tabs::-1:width",
                               "count::0:deeper", "tabs::1:width:", "tabs::1000000000:width"};
        for (const char* name : stray)
            ASSERT_EQ(node.WriteAttr(name, B_INT32_TYPE, 0, &width, 4), 4) << name;
        const char* strayItems[] = {"list::5", "list::", "list::1x", "list::1000000000"};
        for (const char* name : strayItems)
            ASSERT_EQ(node.WriteAttr(name, B_STRING_TYPE, 0, "stray", 6), 6) << name;
        ASSERT_EQ(node.WriteAttr("name::0", B_INT32_TYPE, 0, &width, 4), 4) << "type differs";
        ASSERT_EQ(node.WriteAttr("count", B_RAW_TYPE, 0, "xy", 2), 2);
    }
    // The last write made "count" a raw attribute, which Load passes over.
    SettingsFile loaded("s", "f");
    ASSERT_EQ(loaded.Load(), B_OK);
    EXPECT_EQ(loaded.GetInt32("count", 0), 1);
    EXPECT_STREQ(loaded.GetString("name"), "brand new");
    const char* item;
    ASSERT_EQ(loaded.FindString("list", 1, &item), B_OK);
    EXPECT_STREQ(item, "B");
    BMessage found;
    ASSERT_EQ(loaded.FindMessage("prefs", &found), B_OK);
    float volume;
    ASSERT_EQ(found.FindFloat("volume", &volume), B_OK);
    EXPECT_EQ(volume, 0.25f);
    ASSERT_EQ(loaded.FindMessage("tabs", 1, &found), B_OK);
    EXPECT_EQ(found.GetInt32("width", 0), 99);
    ASSERT_EQ(loaded.FindMessage("tabs", 0, &found), B_OK);
    EXPECT_EQ(found.GetInt32("width", 0), 10);
    EXPECT_EQ(loaded.CountNames(B_ANY_TYPE), 5) << "attributes never add fields";

    // An attribute that cannot be applied (a number of the wrong size) fails
    // the load; the message keeps the flattened data.
    {
        BNode node(settings.Path());
        ASSERT_EQ(node.WriteAttr("count", B_INT32_TYPE, 0, "abc", 3), 3);
    }
    SettingsFile broken("s", "f");
    EXPECT_EQ(broken.Load(), B_BAD_VALUE);
    EXPECT_TRUE(broken.HasString("name"));
}

TEST_F(SettingsFileTest, AFieldNameWithAColonEndsTheAttributesOfItsMessage)
{
    SettingsFile settings("s", "f");
    settings.AddInt32("before", 1);
    settings.AddInt32("odd:name", 2);
    settings.AddInt32("after", 3);
    BMessage nested;
    nested.AddInt32("x::1", 4);
    nested.AddInt32("y", 5);
    settings.AddMessage("nested", &nested);
    ASSERT_EQ(settings.Save(), B_OK);
    EXPECT_EQ(attribute_names(settings.Path()), std::set<std::string>{"before"});

    SettingsFile loaded("s", "f");
    ASSERT_EQ(loaded.Load(), B_OK);
    EXPECT_EQ(flatten(loaded), flatten(settings)) << "the data holds every field";
}

TEST_F(SettingsFileTest, LoadFailuresReportTheErrorAndEmptyOnlyWhatWasUnflattened)
{
    SettingsFile settings("s", "f");
    settings.AddInt32("kept", 1);
    EXPECT_EQ(settings.Load(), B_ENTRY_NOT_FOUND);
    EXPECT_TRUE(settings.HasInt32("kept")) << "nothing was opened";

    ASSERT_EQ(create_directory((fConfig + "/f").c_str(), 0755), B_OK);
    {
        BFile junk(settings.Path(), B_WRITE_ONLY | B_CREATE_FILE);
        ASSERT_EQ(junk.Write("not a message at all", 20), 20);
    }
    EXPECT_EQ(settings.Load(), B_BAD_DATA);
    EXPECT_TRUE(settings.IsEmpty());
}

TEST_F(SettingsFileTest, KeepsEveryFieldWhenTheFileSystemHasNoRoomForAttributes)
{
    SettingsFile settings("s", "f");
    for (int i = 0; i < 400; i++) {
        std::string name =
            "a fairly long field name that eats attribute space " + std::to_string(i);
        settings.AddInt32(name.c_str(), i);
    }
    ASSERT_EQ(settings.Save(), B_OK);
    EXPECT_LT(attribute_names(settings.Path()).size(), 400u) << "ext4 holds 4 KiB per file";
    SettingsFile loaded("s", "f");
    ASSERT_EQ(loaded.Load(), B_OK);
    EXPECT_EQ(flatten(loaded), flatten(settings));
}

TEST_F(SettingsFileTest, AFailedSaveLeavesTheOldFileWhole)
{
    SettingsFile old("registry", "WeAreQuarl");
    old.AddString("state", "old");
    ASSERT_EQ(old.Save(), B_OK);
    ASSERT_EQ(chmod(old.Path(), 0600), 0);
    std::vector<uint8> before = file_bytes(old.Path());

    SettingsFile bigger("registry", "WeAreQuarl");
    bigger.AddString("state", "new");
    std::string filler(100000, 'x');
    bigger.AddString("filler", filler.c_str());

    // A child whose writes stop at 1000 bytes, as on a full disk.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(bigger.Save() == B_OK ? 1 : 0);
    }
    int status;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save reported failure";
    EXPECT_EQ(file_bytes(old.Path()), before);
    EXPECT_EQ(count_entries(fConfig + "/WeAreQuarl", ".registry."), 0);

    // A child killed while it saves: the file is the old one or the new one.
    std::string huge(32 << 20, 'y');
    bigger.ReplaceString("filler", huge.c_str());
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(bigger.Save() == B_OK ? 0 : 1);
    while (count_entries(fConfig + "/WeAreQuarl", ".registry.") == 0 &&
           waitpid(child, &status, WNOHANG) == 0)
        usleep(200);
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, &status, 0), child);
    SettingsFile after("registry", "WeAreQuarl");
    ASSERT_EQ(after.Load(), B_OK);
    const char* state = after.GetString("state");
    ASSERT_NE(state, nullptr);
    if (strcmp(state, "old") == 0)
        EXPECT_EQ(file_bytes(old.Path()), before);
    else
        EXPECT_EQ(flatten(after), flatten(bigger));

    // A save that works keeps the file's permissions.
    ASSERT_EQ(bigger.Save(), B_OK);
    struct stat st;
    ASSERT_EQ(stat(old.Path(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(SettingsFileTest, ASymbolicLinkStaysOneAndTheFileItLeadsToIsReplaced)
{
    // The user keeps the file elsewhere and links to it.
    std::string elsewhere = fBase + "/dotfiles";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
    SettingsFile first("registry", "WeAreQuarl");
    first.AddString("state", "first");
    ASSERT_EQ(first.Save(), B_OK);
    std::string real = elsewhere + "/registry";
    ASSERT_EQ(rename(first.Path(), real.c_str()), 0);
    ASSERT_EQ(symlink(real.c_str(), first.Path()), 0);

    SettingsFile second("registry", "WeAreQuarl");
    second.AddString("state", "second");
    ASSERT_EQ(second.Save(), B_OK);
    struct stat st;
    ASSERT_EQ(lstat(first.Path(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(file_bytes(real.c_str()), flatten(second));
    EXPECT_EQ(count_entries(elsewhere, ".registry."), 0);
    SettingsFile loaded("registry", "WeAreQuarl");
    ASSERT_EQ(loaded.Load(), B_OK);
    EXPECT_STREQ(loaded.GetString("state"), "second");
}

TEST_F(SettingsFileTest, AReadOnlyFileIsNotReplaced)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes read-only files";
    SettingsFile settings("s", "f");
    settings.AddInt32("v", 1);
    ASSERT_EQ(settings.Save(), B_OK);
    ASSERT_EQ(chmod(settings.Path(), 0444), 0);
    settings.ReplaceInt32("v", 2);
    EXPECT_EQ(settings.Save(), B_PERMISSION_DENIED);
    SettingsFile loaded("s", "f");
    ASSERT_EQ(loaded.Load(), B_OK);
    EXPECT_EQ(loaded.GetInt32("v", 0), 1);
}
