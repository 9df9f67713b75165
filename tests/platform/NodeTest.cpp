#include "platform/storage/Node.h"
#include "platform/storage/Entry.h"
#include "platform/storage/File.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace
{

// A fresh folder below /tmp, removed with everything in it at the end.
class Folder
{
public:
    Folder()
    {
        char pattern[] = "/tmp/reelmoth-node-XXXXXX";
        fPath = mkdtemp(pattern);
    }
    ~Folder()
    {
        std::string command = "rm -rf " + fPath;
        EXPECT_EQ(system(command.c_str()), 0);
    }
    std::string operator/(const char* name) const { return fPath + "/" + name; }
    const std::string& Path() const { return fPath; }

private:
    std::string fPath;
};

std::string make_file(const std::string& path, const char* content = "content")
{
    BFile file(path.c_str(), B_WRITE_ONLY | B_CREATE_FILE | B_ERASE_FILE);
    EXPECT_EQ(file.InitCheck(), B_OK);
    EXPECT_EQ(file.Write(content, strlen(content)), ssize_t(strlen(content)));
    return path;
}

} // namespace

TEST(NodeAttributes, AreTypedExtendedAttributesThatCanBeListedReadAndReplaced)
{
    Folder folder;
    std::string path = make_file(folder / "file");
    BFile file(path.c_str(), B_READ_WRITE);
    ASSERT_EQ(file.InitCheck(), B_OK);

    int32 number = 0x11223344;
    ASSERT_EQ(file.WriteAttr("number", B_INT32_TYPE, 0, &number, 4), 4);
    ASSERT_EQ(file.WriteAttr("a:b::0", B_STRING_TYPE, 0, "text", 5), 5);
    ASSERT_EQ(file.WriteAttr("empty", B_RAW_TYPE, 0, nullptr, 0), 0);

    // The stored form: "user." + name, the type code, then the data.
    uint8 raw[16];
    ASSERT_EQ(getxattr(path.c_str(), "user.number", raw, sizeof(raw)), 8);
    EXPECT_EQ(memcmp(raw, "GNOL", 4), 0);
    EXPECT_EQ(memcmp(raw + 4, &number, 4), 0);

    attr_info info;
    ASSERT_EQ(file.GetAttrInfo("a:b::0", &info), B_OK);
    EXPECT_EQ(info.type, uint32(B_STRING_TYPE));
    EXPECT_EQ(info.size, 5);
    char text[8] = {};
    EXPECT_EQ(file.ReadAttr("a:b::0", B_STRING_TYPE, 0, text, sizeof(text)), 5);
    EXPECT_STREQ(text, "text");
    EXPECT_EQ(file.ReadAttr("a:b::0", B_STRING_TYPE, 2, text, 2), 2);
    EXPECT_EQ(memcmp(text, "xt", 2), 0);
    EXPECT_EQ(file.ReadAttr("a:b::0", B_STRING_TYPE, 9, text, 2), 0);

    // Writing at offset 0 replaces the whole value.
    ASSERT_EQ(file.WriteAttr("a:b::0", B_MIME_TYPE, 0, "x", 2), 2);
    ASSERT_EQ(file.GetAttrInfo("a:b::0", &info), B_OK);
    EXPECT_EQ(info.type, uint32(B_MIME_TYPE));
    EXPECT_EQ(info.size, 2);
    EXPECT_EQ(file.WriteAttr("a:b::0", B_MIME_TYPE, 1, "x", 2), B_NOT_SUPPORTED);

    // A value too short to hold a type code, written by some other program.
    ASSERT_EQ(setxattr(path.c_str(), "user.foreign", "ab", 2, 0), 0);
    ASSERT_EQ(file.GetAttrInfo("foreign", &info), B_OK);
    EXPECT_EQ(info.type, uint32(B_RAW_TYPE));
    EXPECT_EQ(info.size, 2);
    EXPECT_EQ(file.ReadAttr("foreign", 0, 0, text, sizeof(text)), 2);

    std::set<std::string> names;
    char name[B_ATTR_NAME_LENGTH];
    ASSERT_EQ(file.RewindAttrs(), B_OK);
    while (file.GetNextAttrName(name) == B_OK)
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"number", "a:b::0", "empty", "foreign"}));
    EXPECT_EQ(file.GetNextAttrName(name), B_ENTRY_NOT_FOUND);

    ASSERT_EQ(file.RemoveAttr("number"), B_OK);
    EXPECT_EQ(file.GetAttrInfo("number", &info), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(file.ReadAttr("number", B_INT32_TYPE, 0, text, 4), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(file.RemoveAttr("number"), B_ENTRY_NOT_FOUND);

    std::string longName(251, 'n');
    EXPECT_EQ(file.WriteAttr(longName.c_str(), B_RAW_TYPE, 0, "x", 1), B_NAME_TOO_LONG);
    longName.pop_back();
    EXPECT_EQ(file.WriteAttr(longName.c_str(), B_RAW_TYPE, 0, "x", 1), 1) << "the longest name";
    EXPECT_EQ(file.WriteAttr("", B_RAW_TYPE, 0, "x", 1), B_BAD_VALUE);

    // A read-only node of the same file sees them too.
    BNode node(path.c_str());
    ASSERT_EQ(node.InitCheck(), B_OK);
    EXPECT_EQ(node.GetAttrInfo("empty", &info), B_OK);
    EXPECT_EQ(info.size, 0);
    EXPECT_EQ(BNode((folder / "missing").c_str()).InitCheck(), B_ENTRY_NOT_FOUND);
}

TEST(NodeAttributes, ReportARunOutOfAttributeSpaceAsDeviceFull)
{
    Folder folder;
    BFile file(make_file(folder / "file").c_str(), B_READ_WRITE);
    std::string value(1000, 'v');
    status_t last = B_OK;
    for (int i = 0; i < 200 && last >= 0; i++) {
        std::string name = "attribute" + std::to_string(i);
        last = status_t(file.WriteAttr(name.c_str(), B_RAW_TYPE, 0, value.data(), value.size()));
    }
    if (last >= 0)
        GTEST_SKIP() << "this file system holds 200 KB of attributes per file";
    EXPECT_EQ(last, B_DEVICE_FULL);
}

TEST(NodeLocking, SharesReadersExcludesWritersAndWaitsForAHolder)
{
    Folder folder;
    std::string path = make_file(folder / "file");

    BNode reader1(path.c_str()), reader2(path.c_str());
    ASSERT_EQ(reader1.Lock(), B_OK);
    EXPECT_EQ(reader1.Lock(), B_BUSY) << "held already";
    EXPECT_EQ(reader2.Lock(), B_OK) << "readers share";
    ASSERT_EQ(reader2.Unlock(), B_OK);
    EXPECT_EQ(reader2.Unlock(), B_BAD_VALUE);

    // A writer waits for the reader, which lets go after a moment.
    BFile writer(path.c_str(), B_READ_WRITE);
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        reader1.Unlock();
    });
    EXPECT_EQ(writer.Lock(), B_OK);
    release.join();

    // A holder that keeps it: the wait ends with B_BUSY.
    BFile other(path.c_str(), B_READ_WRITE);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(other.Lock(), B_BUSY);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    // Closing the node drops its lock.
    writer.Unset();
    EXPECT_EQ(other.Lock(), B_OK);
    EXPECT_EQ(BNode().Lock(), B_NO_INIT);
}

TEST(Entry, TemporaryFilesRenameAndRemove)
{
    Folder folder;
    BFile first, second;
    BPath firstPath, secondPath;
    ASSERT_EQ(first.SetToTemporary(folder.Path().c_str(), ".settings.", &firstPath), B_OK);
    ASSERT_EQ(second.SetToTemporary(folder.Path().c_str(), ".settings.", &secondPath), B_OK);
    EXPECT_NE(firstPath, secondPath);
    EXPECT_EQ(strncmp(firstPath.Leaf(), ".settings.", 10), 0);
    EXPECT_EQ(strlen(firstPath.Leaf()), 16u);
    EXPECT_TRUE(first.IsWritable());
    EXPECT_EQ(first.Write("new", 3), 3);
    mode_t mode;
    ASSERT_EQ(first.SetPermissions(0640), B_OK);
    ASSERT_EQ(first.GetPermissions(&mode), B_OK);
    EXPECT_EQ(mode, mode_t(0640));
    EXPECT_EQ(first.SetToTemporary((folder / "none").c_str(), "x", &firstPath), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(first.SetToTemporary(folder.Path().c_str(), "a/b", &firstPath), B_BAD_VALUE);
    ASSERT_EQ(first.SetToTemporary(folder.Path().c_str(), ".settings.", &firstPath), B_OK);
    EXPECT_EQ(first.Write("new", 3), 3);

    std::string target = make_file(folder / "settings", "old");
    BEntry entry(firstPath.Path());
    EXPECT_TRUE(entry.Exists());
    EXPECT_EQ(entry.Rename("settings"), B_FILE_EXISTS);
    ASSERT_EQ(entry.Rename("settings", true), B_OK);
    BPath now;
    ASSERT_EQ(entry.GetPath(&now), B_OK);
    EXPECT_STREQ(now.Path(), target.c_str());
    EXPECT_FALSE(BEntry(firstPath.Path()).Exists());
    char content[8] = {};
    EXPECT_EQ(BFile(target.c_str(), B_READ_ONLY).Read(content, sizeof(content)), 3);
    EXPECT_STREQ(content, "new");

    entry_ref ref;
    ASSERT_EQ(entry.GetRef(&ref), B_OK);
    EXPECT_STREQ(ref.name, "settings");
    ASSERT_EQ(BEntry(secondPath.Path()).Remove(), B_OK);
    EXPECT_FALSE(BEntry(secondPath.Path()).Exists());
    EXPECT_EQ(BEntry(secondPath.Path()).Remove(), B_ENTRY_NOT_FOUND);
}
