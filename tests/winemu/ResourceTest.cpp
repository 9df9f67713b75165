#include "ModuleFixture.h"

#include <cstring>

namespace
{

std::string narrow(const unaligned_uint16* counted)
{
    std::string text;
    for (uint16 i = 0; counted != nullptr && i < counted[0]; i++)
        text += char(counted[1 + i]);
    return text;
}

uint32 address_of(const void* pointer)
{
    return uint32(reinterpret_cast<uintptr_t>(pointer));
}

// Writes little-endian words into a loaded image, for hand-made tables.
struct patcher {
    pe_add_on_t* addOn;

    void Word(uint32 rva, uint32 value) { memcpy(At(rva), &value, 4); }
    void Half(uint32 rva, uint16 value) { memcpy(At(rva), &value, 2); }
    uint8* At(uint32 rva) { return reinterpret_cast<uint8*>(uintptr_t(addOn->image_base + rva)); }
    // A directory at `rva` with named and id entries {name, offset}.
    void Directory(uint32 rva, uint16 named, uint16 ids,
                   std::initializer_list<std::pair<uint32, uint32>> entries)
    {
        memset(At(rva), 0, 16);
        Half(rva + 12, named);
        Half(rva + 14, ids);
        uint32 at = rva + 16;
        for (auto [name, offset] : entries) {
            Word(at, name);
            Word(at + 4, offset);
            at += 8;
        }
    }
};

} // namespace

TEST_F(ModuleTest, ExportsByNameAndOrdinal)
{
    pe_add_on_t* addOn = Load("testdll.dll");
    ASSERT_NE(addOn, nullptr);
    void* address = nullptr;
    ASSERT_EQ(pe_get_image_symbol(addOn, "Sum3", &address), B_OK);
    uint32 sum3 = address_of(address);
    EXPECT_GT(sum3, addOn->image_base);
    EXPECT_EQ(pe_get_image_symbol(addOn, "sum3", &address), B_ERROR);
    EXPECT_EQ(pe_get_image_symbol(addOn, "Sum", &address), B_ERROR);
    EXPECT_EQ(pe_get_image_symbol(addOn, "Hidden", &address), B_ERROR); // ordinal only

    // The table's own base and count decide which ordinals exist.
    const uint32* directory = reinterpret_cast<const uint32*>(
        uintptr_t(addOn->image_base + addOn->data_directory[0].virtual_address));
    uint32 base = directory[4];
    uint32 count = directory[5];
    EXPECT_EQ(base, 1u);
    ASSERT_EQ(pe_get_image_symbol_by_ordinal(addOn, 1, &address), B_OK);
    EXPECT_EQ(address_of(address), sum3);
    ASSERT_EQ(pe_get_image_symbol_by_ordinal(addOn, 10, &address), B_OK);
    uint32 result = 0;
    EXPECT_EQ(call_module(address_of(address), {}, &result), B_OK);
    EXPECT_EQ(result, 77u);
    EXPECT_EQ(pe_get_image_symbol_by_ordinal(addOn, 0, &address), B_ERROR);
    EXPECT_EQ(pe_get_image_symbol_by_ordinal(addOn, base + count, &address), B_ERROR);
    EXPECT_EQ(pe_get_image_symbol_by_ordinal(addOn, 0x100000001ul, &address), B_ERROR);
    // An ordinal whose function RVA is 0 is rejected.
    uint32* functions = reinterpret_cast<uint32*>(uintptr_t(addOn->image_base + directory[7]));
    ASSERT_GE(count, 3u);
    functions[2] = 0;
    EXPECT_EQ(pe_get_image_symbol_by_ordinal(addOn, base + 2, &address), B_ERROR);
    EXPECT_EQ(pe_get_image_symbol_by_ordinal(addOn, base + 1, &address), B_OK);

    pe_add_on_t* bare = Load("notdll.exe");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(pe_get_image_symbol(bare, "start", &address), B_ERROR);
    EXPECT_EQ(pe_get_image_symbol_by_ordinal(bare, 1, &address), B_ERROR);
}

TEST_F(ModuleTest, ResourcesByNumberAndByName)
{
    pe_add_on_t* addOn = Load("testdll.dll");
    ASSERT_NE(addOn, nullptr);
    for (const char* name : {"MYDIALOG", "mydialog", "MyDialog"})
        EXPECT_NE(pe_find_resource(addOn, 5, name, 0), nullptr) << name;
    EXPECT_EQ(pe_find_resource(addOn, 5, "MYDIALO", 0), nullptr);
    EXPECT_EQ(pe_find_resource(addOn, 5, "MYDIALOGS", 0), nullptr);
    EXPECT_EQ(pe_find_resource(addOn, 4, "MYDIALOG", 0), nullptr);

    image_resource_data_entry_t* icon = pe_find_resource(addOn, 3, 1, 0);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(pe_get_resource_size(addOn, icon), 48u);
    const uint8* bits = static_cast<const uint8*>(pe_load_resource(addOn, icon));
    EXPECT_EQ(bits[0], 40); // the bitmap header's size
    EXPECT_EQ(address_of(bits), addOn->image_base + icon->offset_to_data);
    EXPECT_EQ(pe_find_resource(addOn, 3, 2, 0), nullptr);

    image_resource_data_entry_t* data = pe_find_resource(addOn, 10, 5, 0);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(memcmp(pe_load_resource(addOn, data), "five", 4), 0);

    // A type known only by name is found by neither lookup.
    for (unsigned long type = 0; type < 32; type++)
        EXPECT_EQ(pe_find_resource(addOn, type, "SOMEDATA", 0), nullptr) << type;

    pe_add_on_t* bare = Load("notdll.exe");
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(pe_find_resource(bare, 3, 1, 0), nullptr);
    EXPECT_EQ(pe_load_string(bare, 0), nullptr);
}

TEST_F(ModuleTest, StringTables)
{
    pe_add_on_t* addOn = Load("testdll.dll");
    ASSERT_NE(addOn, nullptr);
    EXPECT_EQ(narrow(pe_load_string(addOn, 0)), "zero");
    EXPECT_EQ(narrow(pe_load_string(addOn, 1)), "one");
    EXPECT_EQ(narrow(pe_load_string(addOn, 16)), "sixteen");
    EXPECT_EQ(narrow(pe_load_string(addOn, 17)), "seventeen");
    EXPECT_EQ(narrow(pe_load_string(addOn, 19)), "nineteen");
    // Absent strings of an existing block are empty, not missing.
    for (unsigned short id : {2, 15, 18, 31}) {
        const unaligned_uint16* empty = pe_load_string(addOn, id);
        ASSERT_NE(empty, nullptr) << id;
        EXPECT_EQ(uint16(empty[0]), 0) << id;
    }
    EXPECT_EQ(pe_load_string(addOn, 32), nullptr);
    EXPECT_EQ(pe_load_string(addOn, 65535), nullptr);
}

TEST_F(ModuleTest, DumpPrintsTheResourceTree)
{
    pe_add_on_t* addOn = Load("testdll.dll");
    ASSERT_NE(addOn, nullptr);
    testing::internal::CaptureStdout();
    pe_dump_resources(addOn);
    std::string dump = testing::internal::GetCapturedStdout();
    image_resource_data_entry_t* icon = pe_find_resource(addOn, 3, 1, 0);
    char iconLine[128];
    snprintf(iconLine, sizeof(iconLine),
             "id=3\n   id=1\n      id=1033: offset_to_data=0x%08lx, size=48\n",
             (unsigned long)icon->offset_to_data);
    EXPECT_NE(dump.find(iconLine), std::string::npos) << dump;
    EXPECT_NE(dump.find("name=CUSTOMTYPE\n   name=SOMEDATA\n      id=1033: "), std::string::npos)
        << dump;
    EXPECT_NE(dump.find("id=5\n   name=MYDIALOG\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find(", size="), std::string::npos);
    EXPECT_NE(dump.find(" \"zero\"\n"), std::string::npos) << dump;
    EXPECT_NE(dump.find(" \"sixteen\"\n"), std::string::npos) << dump;
    // Named entries come first at each level.
    EXPECT_EQ(dump.find("name=CUSTOMTYPE"), 0u) << dump;

    testing::internal::CaptureStdout();
    const image_resource_directory_t* root = reinterpret_cast<const image_resource_directory_t*>(
        uintptr_t(addOn->image_base + addOn->data_directory[2].virtual_address));
    pe_dump_resource_dir(addOn, root, 0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), dump);
}

TEST_F(ModuleTest, HandMadeResourceTablesAreCheckedAgainstTheImage)
{
    pe_add_on_t* addOn = Load("testdll.dll");
    ASSERT_NE(addOn, nullptr);
    patcher image = {addOn};
    uint32 rsrc = addOn->data_directory[2].virtual_address;
    // Root: type 6 -> names: id 1 -> languages: a named entry only.
    image.Directory(rsrc, 0, 1, {{6, 0x80000000u | 0x20}});
    image.Directory(rsrc + 0x20, 0, 1, {{1, 0x80000000u | 0x40}});
    image.Directory(rsrc + 0x40, 1, 0, {{0x80000000u | 0x100, 0x60}});
    EXPECT_EQ(pe_find_resource(addOn, 6, 1, 0), nullptr);
    // A language entry that points to a directory, not data.
    image.Directory(rsrc + 0x40, 0, 1, {{1033, 0x80000000u | 0x60}});
    EXPECT_EQ(pe_find_resource(addOn, 6, 1, 0), nullptr);
    // A data entry whose offset lies outside the image.
    image.Directory(rsrc + 0x40, 0, 1, {{1033, 0x7FFFFF00}});
    EXPECT_EQ(pe_find_resource(addOn, 6, 1, 0), nullptr);
    // A good data entry, whose string block runs past the image's end.
    image.Directory(rsrc + 0x40, 0, 1, {{1033, 0x60}});
    image.Word(rsrc + 0x60, addOn->image_size - 4);
    image.Word(rsrc + 0x64, 4);
    ASSERT_NE(pe_find_resource(addOn, 6, 1, 0), nullptr);
    image.Half(addOn->image_size - 4, 0xFFFF);
    EXPECT_EQ(pe_load_string(addOn, 0), nullptr);
    EXPECT_EQ(pe_load_string(addOn, 1), nullptr);
    // A type entry that points to data where a directory belongs.
    image.Directory(rsrc, 0, 1, {{6, 0x60}});
    EXPECT_EQ(pe_find_resource(addOn, 6, 1, 0), nullptr);
    // Counts far beyond the image.
    image.Directory(rsrc, 0xFFFF, 0xFFFF, {});
    EXPECT_EQ(pe_find_resource(addOn, 6, 1, 0), nullptr);
    EXPECT_EQ(pe_find_resource(addOn, 6, "X", 0), nullptr);
    testing::internal::CaptureStdout();
    pe_dump_resources(addOn);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    // A directory that contains itself: the dump stops.
    image.Directory(rsrc, 0, 1, {{6, 0x80000000u}});
    testing::internal::CaptureStdout();
    pe_dump_resources(addOn);
    std::string dump = testing::internal::GetCapturedStdout();
    EXPECT_LT(dump.size(), 2000u);
    // So does a wide one whose every entry is itself.
    image.Directory(rsrc, 0, 40, {});
    for (uint32 i = 0; i < 40; i++) {
        image.Word(rsrc + 16 + 8 * i, i);
        image.Word(rsrc + 20 + 8 * i, 0x80000000u);
    }
    testing::internal::CaptureStdout();
    pe_dump_resources(addOn);
    dump = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 100000);
    // The resource directory itself outside the image.
    addOn->data_directory[2].virtual_address = 0x7FFFFFF0;
    EXPECT_EQ(pe_find_resource(addOn, 6, 1, 0), nullptr);

    // Export tables with counts and addresses outside the image.
    uint32 exports = addOn->data_directory[0].virtual_address;
    void* address;
    image.Word(exports + 24, 0x40000000); // NumberOfNames
    EXPECT_EQ(pe_get_image_symbol(addOn, "Sum3", &address), B_ERROR);
    image.Word(exports + 24, 2);
    image.Word(exports + 32, 0xFFFFFFF0); // AddressOfNames
    EXPECT_EQ(pe_get_image_symbol(addOn, "Sum3", &address), B_ERROR);
    image.Word(exports + 28, 0xFFFFFFF0); // AddressOfFunctions
    EXPECT_EQ(pe_get_image_symbol_by_ordinal(addOn, 1, &address), B_ERROR);
    addOn->data_directory[0].virtual_address = addOn->image_size - 8;
    EXPECT_EQ(pe_get_image_symbol(addOn, "Sum3", &address), B_ERROR);
    EXPECT_EQ(pe_get_image_symbol_by_ordinal(addOn, 1, &address), B_ERROR);
}
