#include "platform/app/Message.h"
#include "platform/storage/Entry.h"
#include "platform/storage/File.h"
#include "platform/storage/Path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

std::vector<uint8> flatten(const BMessage& message)
{
    std::vector<uint8> bytes(static_cast<size_t>(message.FlattenedSize()));
    EXPECT_EQ(message.Flatten(reinterpret_cast<char*>(bytes.data()), ssize_t(bytes.size())), B_OK);
    return bytes;
}

status_t unflatten(BMessage* message, const std::vector<uint8>& bytes)
{
    return message->Unflatten(reinterpret_cast<const char*>(bytes.data()), ssize_t(bytes.size()));
}

// A message with fields of several kinds, one nested message and a field of
// several variable-size items.
BMessage sample()
{
    BMessage inner('innr');
    inner.AddInt32("level", 2);
    inner.AddString("label", "inside");

    BMessage message('smpl');
    message.AddInt32("count", 7);
    message.AddInt32("count", -8);
    message.AddString("names", "one");
    message.AddString("names", "");
    message.AddString("names", "three");
    message.AddBool("flag", true);
    message.AddInt64("big", INT64_MIN);
    message.AddMessage("inner", &inner);
    const uint8 raw[] = {0, 1, 2, 0xff};
    message.AddData("raw", B_ANY_TYPE, raw, sizeof(raw));
    message.AddPointer("self", &message);
    return message;
}

} // namespace

TEST(Message, KeepsFieldsInOrderOfAdditionAndReportsThemByTypeAndIndex)
{
    BMessage message = sample();
    EXPECT_EQ(message.what, uint32('smpl'));
    EXPECT_EQ(message.CountNames(B_ANY_TYPE), 7);
    EXPECT_EQ(message.CountNames(B_INT32_TYPE), 1);
    EXPECT_EQ(message.CountNames(B_RECT_TYPE), 0);

    const char* expected[] = {"count", "names", "flag", "big", "inner", "raw", "self"};
    for (int32 i = 0; i < 7; i++) {
        const char* name;
        type_code type;
        int32 count;
        ASSERT_EQ(message.GetInfo(B_ANY_TYPE, i, &name, &type, &count), B_OK);
        EXPECT_STREQ(name, expected[i]);
    }
    char* name;
    type_code type;
    int32 count;
    ASSERT_EQ(message.GetInfo(B_STRING_TYPE, 0, &name, &type, &count), B_OK);
    EXPECT_STREQ(name, "names");
    EXPECT_EQ(type, B_STRING_TYPE);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(message.GetInfo(B_MESSAGE_TYPE, 0, &name, &type, &count), B_OK);
    EXPECT_STREQ(name, "inner");
    EXPECT_EQ(message.GetInfo(B_MESSAGE_TYPE, 1, &name, &type, &count), B_BAD_INDEX);
    EXPECT_EQ(message.GetInfo(B_RECT_TYPE, 0, &name, &type, &count), B_BAD_TYPE);
    EXPECT_EQ(message.GetInfo(B_ANY_TYPE, -1, &name, &type, &count), B_BAD_INDEX);

    bool fixedSize = false;
    ASSERT_EQ(message.GetInfo("raw", &type, &fixedSize), B_OK);
    EXPECT_TRUE(fixedSize);
    ASSERT_EQ(message.GetInfo("names", &type, &fixedSize), B_OK);
    EXPECT_FALSE(fixedSize);
    EXPECT_EQ(message.GetInfo("absent", &type, &count), B_NAME_NOT_FOUND);

    ASSERT_EQ(message.RemoveName("count"), B_OK);
    ASSERT_EQ(message.GetInfo(B_ANY_TYPE, 0, &name, &type, &count), B_OK);
    EXPECT_STREQ(name, "names");
    EXPECT_EQ(message.MakeEmpty(), B_OK);
    EXPECT_TRUE(message.IsEmpty());
    EXPECT_EQ(message.CountNames(B_ANY_TYPE), 0);
}

TEST(Message, FindsReplacesAndTestsTypedItems)
{
    BMessage message = sample();
    int32 value32;
    ASSERT_EQ(message.FindInt32("count", &value32), B_OK);
    EXPECT_EQ(value32, 7);
    ASSERT_EQ(message.FindInt32("count", 1, &value32), B_OK);
    EXPECT_EQ(value32, -8);
    EXPECT_EQ(message.FindInt32("count", 2, &value32), B_BAD_INDEX);
    EXPECT_EQ(message.FindInt32("names", &value32), B_BAD_TYPE);
    EXPECT_EQ(message.FindInt32("nothing", &value32), B_NAME_NOT_FOUND);
    EXPECT_EQ(message.FindInt32(nullptr, &value32), B_BAD_VALUE);
    EXPECT_TRUE(message.GetBool("flag"));
    EXPECT_EQ(message.GetInt64("big", 0), INT64_MIN);
    EXPECT_EQ(message.GetInt32("missing", 42), 42);
    EXPECT_EQ(message.GetPointer("self"), &message);

    const char* text;
    ASSERT_EQ(message.FindString("names", 2, &text), B_OK);
    EXPECT_STREQ(text, "three");
    std::string copy;
    ASSERT_EQ(message.FindString("names", 1, &copy), B_OK);
    EXPECT_EQ(copy, "");

    // Replacing a variable-size item with a longer one keeps its neighbours.
    ASSERT_EQ(message.ReplaceString("names", 1, "a longer second"), B_OK);
    ASSERT_EQ(message.ReplaceString("names", 0, "1"), B_OK);
    EXPECT_STREQ(message.GetString("names"), "1");
    ASSERT_EQ(message.FindString("names", 1, &text), B_OK);
    EXPECT_STREQ(text, "a longer second");
    ASSERT_EQ(message.FindString("names", 2, &text), B_OK);
    EXPECT_STREQ(text, "three");
    ASSERT_EQ(message.ReplaceInt32("count", 1, 99), B_OK);
    EXPECT_EQ(message.FindInt32("count", 1, &value32), B_OK);
    EXPECT_EQ(value32, 99);
    EXPECT_EQ(message.ReplaceInt32("count", 5, 1), B_BAD_INDEX);
    EXPECT_EQ(message.ReplaceBool("count", true), B_BAD_TYPE);

    const void* data;
    ssize_t size;
    ASSERT_EQ(message.FindData("raw", B_ANY_TYPE, &data, &size), B_OK);
    ASSERT_EQ(size, 4);
    EXPECT_EQ(static_cast<const uint8*>(data)[3], 0xff);
    const uint8 other[] = {9, 9, 9, 9};
    EXPECT_EQ(message.ReplaceData("raw", B_ANY_TYPE, other, 3), B_BAD_VALUE) << "fixed size";
    ASSERT_EQ(message.ReplaceData("raw", B_ANY_TYPE, other, 4), B_OK);
    ASSERT_EQ(message.FindData("raw", B_ANY_TYPE, &data, &size), B_OK);
    EXPECT_EQ(memcmp(data, other, 4), 0);
    // Any type matches a field of any type when finding.
    EXPECT_EQ(message.FindData("count", B_ANY_TYPE, 1, &data, &size), B_OK);
    EXPECT_EQ(size, 4);

    EXPECT_TRUE(message.HasInt32("count", 1));
    EXPECT_FALSE(message.HasInt32("count", 2));
    EXPECT_TRUE(message.HasData("raw", B_ANY_TYPE));
    EXPECT_FALSE(message.HasData("raw", B_INT32_TYPE));
    EXPECT_TRUE(message.HasMessage("inner"));
    EXPECT_FALSE(message.HasString("count"));

    ASSERT_EQ(message.RemoveData("names", 1), B_OK);
    ASSERT_EQ(message.FindString("names", 1, &text), B_OK);
    EXPECT_STREQ(text, "three");
    ASSERT_EQ(message.RemoveData("names", 0), B_OK);
    ASSERT_EQ(message.RemoveData("names", 0), B_OK);
    EXPECT_FALSE(message.HasString("names")) << "the last item takes its field along";
}

TEST(Message, RefusesItemsThatDoNotFitTheirFieldOrType)
{
    BMessage message;
    ASSERT_EQ(message.AddInt32("n", 1), B_OK);
    EXPECT_EQ(message.AddString("n", "text"), B_BAD_TYPE);
    const uint8 three[] = {1, 2, 3};
    EXPECT_EQ(message.AddData("n", B_INT32_TYPE, three, 3), B_BAD_VALUE);
    EXPECT_EQ(message.AddData("short", B_INT32_TYPE, three, 3), B_BAD_VALUE);
    EXPECT_EQ(message.AddData("text", B_STRING_TYPE, three, 3), B_BAD_VALUE) << "no NUL";
    EXPECT_EQ(message.AddData("nested", B_MESSAGE_TYPE, three, 3), B_BAD_VALUE);
    EXPECT_EQ(message.AddData("ref", B_REF_TYPE, three, 3), B_BAD_VALUE);
    EXPECT_EQ(message.AddData(nullptr, B_RAW_TYPE, three, 3), B_BAD_VALUE);
    EXPECT_EQ(message.AddData("neg", B_RAW_TYPE, three, -1), B_BAD_VALUE);
    EXPECT_EQ(message.AddString("s", static_cast<const char*>(nullptr)), B_BAD_VALUE);
    EXPECT_EQ(message.CountNames(B_ANY_TYPE), 1);

    ASSERT_EQ(message.AddData("var", B_RAW_TYPE, three, 3, false), B_OK);
    EXPECT_EQ(message.AddData("var", B_RAW_TYPE, three, 1, false), B_OK);
    ASSERT_EQ(message.AddData("empty", B_RAW_TYPE, nullptr, 0), B_OK);
    // An item added from the field's own bytes.
    const void* data;
    ASSERT_EQ(message.FindData("var", B_RAW_TYPE, 0, &data, nullptr), B_OK);
    ASSERT_EQ(message.AddData("var", B_RAW_TYPE, data, 3, false), B_OK);
    ASSERT_EQ(message.FindData("var", B_RAW_TYPE, 2, &data, nullptr), B_OK);
    EXPECT_EQ(memcmp(data, three, 3), 0);
}

TEST(Message, CopiesAndNestsIndependently)
{
    BMessage original = sample();
    BMessage copy(original);
    ASSERT_EQ(copy.ReplaceInt32("count", 0, 100), B_OK);
    EXPECT_EQ(original.GetInt32("count", 0), 7);
    EXPECT_EQ(copy.GetInt32("count", 0), 100);

    BMessage assigned;
    assigned = copy;
    EXPECT_EQ(assigned.GetInt32("count", 0), 100);
    EXPECT_EQ(assigned.what, copy.what);

    BMessage inner;
    ASSERT_EQ(original.FindMessage("inner", &inner), B_OK);
    EXPECT_EQ(inner.what, uint32('innr'));
    EXPECT_EQ(inner.GetInt32("level", 0), 2);
    ASSERT_EQ(inner.ReplaceInt32("level", 3), B_OK);
    EXPECT_EQ(original.FindMessage("inner", &inner), B_OK) << "the original is untouched";
    EXPECT_EQ(inner.GetInt32("level", 0), 2);

    // Three levels, the middle one replaced in place.
    BMessage top, middle, bottom;
    bottom.AddString("leaf", "deep");
    middle.AddMessage("bottom", &bottom);
    top.AddMessage("middle", &middle);
    BMessage found;
    ASSERT_EQ(top.FindMessage("middle", &found), B_OK);
    ASSERT_EQ(found.FindMessage("bottom", &bottom), B_OK);
    ASSERT_EQ(bottom.ReplaceString("leaf", "changed"), B_OK);
    ASSERT_EQ(found.ReplaceMessage("bottom", &bottom), B_OK);
    ASSERT_EQ(top.ReplaceMessage("middle", 0, &found), B_OK);
    ASSERT_EQ(top.FindMessage("middle", &found), B_OK);
    ASSERT_EQ(found.FindMessage("bottom", &bottom), B_OK);
    EXPECT_STREQ(bottom.GetString("leaf"), "changed");
}

TEST(MessageFlattening, RoundTripsThroughBuffersAndStreams)
{
    BMessage original = sample();
    std::vector<uint8> bytes = flatten(original);
    EXPECT_EQ(ssize_t(bytes.size()), original.FlattenedSize());

    BMessage copy;
    ASSERT_EQ(unflatten(&copy, bytes), B_OK);
    EXPECT_EQ(flatten(copy), bytes) << "the same message flattens to the same bytes";
    EXPECT_EQ(copy.what, uint32('smpl'));
    EXPECT_EQ(copy.GetPointer("self"), &original);

    // Two messages back to back on one stream: each read takes exactly its own.
    BMallocIO stream;
    BMessage second('2nd ');
    second.AddString("x", "y");
    ssize_t written = 0;
    ASSERT_EQ(original.Flatten(&stream, &written), B_OK);
    EXPECT_EQ(written, original.FlattenedSize());
    ASSERT_EQ(second.Flatten(&stream), B_OK);
    stream.Seek(0, SEEK_SET);
    BMessage first, next;
    ASSERT_EQ(first.Unflatten(&stream), B_OK);
    ASSERT_EQ(next.Unflatten(&stream), B_OK);
    EXPECT_EQ(flatten(first), bytes);
    EXPECT_STREQ(next.GetString("x"), "y");
    EXPECT_EQ(next.what, uint32('2nd '));
    EXPECT_EQ(first.Unflatten(&stream), B_BAD_DATA) << "end of stream";
    EXPECT_TRUE(first.IsEmpty());

    char small[8];
    EXPECT_EQ(original.Flatten(small, sizeof(small)), B_BAD_VALUE);
}

TEST(MessageFlattening, WritesTheDocumentedLayout)
{
    BMessage message('abcd');
    message.AddInt32("n", 0x01020304);
    message.AddString("s", "hi");
    message.AddString("s", "");
    // clang-format off
    const uint8 expected[] = {
        'R', 'M', 'G', '1',  'd', 'c', 'b', 'a',  48, 0, 0, 0,  2, 0, 0, 0,
        'G', 'N', 'O', 'L',  1, 0, 0, 0,  1, 0, 0, 0,  1,  'n',  4, 0, 0, 0,  4, 3, 2, 1,
        'R', 'T', 'S', 'C',  2, 0, 0, 0,  1, 0, 0, 0,  0,  's',
            3, 0, 0, 0,  'h', 'i', 0,  1, 0, 0, 0,  0,
    };
    // clang-format on
    std::vector<uint8> bytes = flatten(message);
    EXPECT_EQ(bytes, std::vector<uint8>(expected, expected + sizeof(expected)));
}

TEST(MessageFlattening, RefusesMalformedInputAndLeavesTheMessageEmpty)
{
    std::vector<uint8> good = flatten(sample());
    BMessage message;
    // Every truncation, read from memory and from a stream.
    for (size_t length = 0; length < good.size(); length++) {
        std::vector<uint8> cut(good.begin(), good.begin() + ptrdiff_t(length));
        message.AddInt32("stale", 1);
        ASSERT_NE(unflatten(&message, cut), B_OK) << length;
        EXPECT_TRUE(message.IsEmpty());
        BMemoryIO stream(cut.data(), cut.size());
        ASSERT_NE(message.Unflatten(&stream), B_OK) << length;
    }
    // Trailing bytes in a buffer are not a message either.
    std::vector<uint8> longer = good;
    longer.push_back(0);
    EXPECT_EQ(unflatten(&message, longer), B_BAD_DATA);

    auto corrupt = [&](size_t offset, uint8 value) {
        std::vector<uint8> bad = good;
        bad[offset] = value;
        return unflatten(&message, bad);
    };
    EXPECT_EQ(corrupt(0, 'X'), B_BAD_DATA) << "magic";
    EXPECT_EQ(corrupt(12, 200), B_BAD_DATA) << "field count";
    EXPECT_EQ(corrupt(16 + 4 + 3, 0x7f), B_BAD_DATA) << "huge item count";
    EXPECT_EQ(corrupt(16 + 12, 2), B_BAD_DATA) << "unknown flag";
    EXPECT_EQ(corrupt(16 + 13, 0), B_BAD_DATA) << "NUL in a name";
    EXPECT_EQ(corrupt(16 + 13 + 5 + 3, 0x7f), B_BAD_DATA) << "huge item size";

    // Two fields of one name.
    BMessage twice;
    twice.AddInt32("a", 1);
    twice.AddInt32("b", 2);
    std::vector<uint8> bytes = flatten(twice);
    bytes[16 + 22 + 13] = 'a';
    EXPECT_EQ(unflatten(&message, bytes), B_BAD_DATA);

    // A string without its NUL, and a nested message with a broken body.
    BMessage text;
    text.AddString("s", "ab");
    bytes = flatten(text);
    bytes.back() = 'c';
    EXPECT_EQ(unflatten(&message, bytes), B_BAD_DATA);
    BMessage outer, inner;
    inner.AddInt32("i", 5);
    outer.AddMessage("m", &inner);
    bytes = flatten(outer);
    bytes[16 + 13 + 1 + 4] = 'X';
    EXPECT_EQ(unflatten(&message, bytes), B_BAD_DATA);
    EXPECT_TRUE(message.IsEmpty());
    EXPECT_EQ(message.what, 0u);

    // A header that announces 4 GB: refused once the stream runs dry.
    std::vector<uint8> header(good.begin(), good.begin() + 16);
    header[8] = header[9] = header[10] = header[11] = 0xff;
    header.resize(1000, 0);
    BMemoryIO stream(header.data(), header.size());
    EXPECT_EQ(message.Unflatten(&stream), B_BAD_DATA);
}

TEST(MessageFlattening, BoundsTheNestingDepth)
{
    auto nested = [](int levels) {
        BMessage message;
        message.AddInt32("leaf", 1);
        for (int i = 0; i < levels; i++) {
            BMessage outer;
            outer.AddMessage("m", &message);
            message = outer;
        }
        return message;
    };
    BMessage message;
    EXPECT_EQ(unflatten(&message, flatten(nested(999))), B_OK);
    EXPECT_EQ(unflatten(&message, flatten(nested(1001))), B_BAD_DATA);
}

TEST(EntryRef, NamesEntriesByFolderAndLeaf)
{
    char base[] = "/tmp/reelmoth-ref-XXXXXX";
    ASSERT_NE(mkdtemp(base), nullptr);
    std::string file = std::string(base) + "/movie.asf";
    {
        BFile created(file.c_str(), B_READ_WRITE | B_CREATE_FILE);
        ASSERT_EQ(created.InitCheck(), B_OK);
        ASSERT_EQ(created.Write("data", 4), 4);
    }

    entry_ref ref;
    ASSERT_EQ(get_ref_for_path((std::string(base) + "/./x/../movie.asf").c_str(), &ref), B_OK);
    EXPECT_STREQ(ref.name, "movie.asf");
    EXPECT_STREQ(ref.directory_path, base);
    struct stat st;
    ASSERT_EQ(stat(base, &st), 0);
    EXPECT_EQ(ref.device, st.st_dev);
    EXPECT_EQ(ref.directory, st.st_ino);
    EXPECT_STREQ(BPath(&ref).Path(), file.c_str());

    BFile opened(&ref, B_READ_ONLY);
    ASSERT_EQ(opened.InitCheck(), B_OK);
    char data[4];
    EXPECT_EQ(opened.Read(data, 4), 4);

    // Through a message and its flattened form.
    BMessage refs('RRCV');
    refs.AddRef("refs", &ref);
    entry_ref missing;
    ASSERT_EQ(get_ref_for_path((std::string(base) + "/not-yet").c_str(), &missing), B_OK);
    refs.AddRef("refs", &missing);
    BMessage copy;
    ASSERT_EQ(unflatten(&copy, flatten(refs)), B_OK);
    entry_ref found;
    ASSERT_EQ(copy.FindRef("refs", 0, &found), B_OK);
    EXPECT_EQ(found, ref);
    EXPECT_STREQ(found.directory_path, base);
    ASSERT_EQ(copy.FindRef("refs", 1, &found), B_OK);
    EXPECT_STREQ(found.name, "not-yet");
    EXPECT_NE(found, ref);
    EXPECT_NE(BFile(&found, B_READ_ONLY).InitCheck(), B_OK);
    ASSERT_EQ(copy.ReplaceRef("refs", 1, &ref), B_OK);
    ASSERT_EQ(copy.FindRef("refs", 1, &found), B_OK);
    EXPECT_EQ(found, ref);

    EXPECT_EQ(get_ref_for_path((std::string(base) + "/no/such").c_str(), &found),
              B_ENTRY_NOT_FOUND);
    EXPECT_EQ(get_ref_for_path((file + "/below").c_str(), &found), B_NOT_A_DIRECTORY);
    ASSERT_EQ(get_ref_for_path("/", &found), B_OK);
    EXPECT_STREQ(BPath(&found).Path(), "/");
    entry_ref bare(1, 2, "name");
    EXPECT_EQ(BPath(&bare).InitCheck(), B_BAD_VALUE) << "no folder path";

    unlink(file.c_str());
    rmdir(base);
}
