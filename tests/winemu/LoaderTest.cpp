#include "ModuleFixture.h"

#include "platform/kernel/ModuleSpace.h"
#include "winemu/loader/ImportTable.h"

#include <cstring>
#include <set>

namespace
{

// The file offset of an RVA, through the section table of a file image.
size_t file_offset(const std::vector<uint8>& bytes, uint32 rva)
{
    pe_layout layout(bytes);
    uint16 count = uint16(bytes[layout.coff + 2] | bytes[layout.coff + 3] << 8);
    for (uint16 i = 0; i < count; i++) {
        size_t header = layout.sections + 40 * i;
        uint32 address = read32(bytes, header + 12);
        uint32 rawSize = read32(bytes, header + 16);
        if (rva >= address && rva < address + rawSize)
            return read32(bytes, header + 20) + (rva - address);
    }
    return 0;
}

// The RVAs of every HIGHLOW relocation in a file image.
std::vector<uint32> highlow_targets(const std::vector<uint8>& bytes)
{
    pe_layout layout(bytes);
    uint32 rva = read32(bytes, layout.optional + 96 + 5 * 8);
    uint32 size = read32(bytes, layout.optional + 96 + 5 * 8 + 4);
    std::vector<uint32> targets;
    size_t at = file_offset(bytes, rva);
    size_t end = at + size;
    while (at + 8 <= end) {
        uint32 page = read32(bytes, at);
        uint32 blockSize = read32(bytes, at + 4);
        if (page == 0 || blockSize < 8)
            break;
        for (size_t e = at + 8; e + 2 <= at + blockSize; e += 2) {
            uint16 entry = uint16(bytes[e] | bytes[e + 1] << 8);
            if (entry >> 12 == 3)
                targets.push_back(page + (entry & 0xFFF));
        }
        at += blockSize;
    }
    return targets;
}

uint32 image_word(pe_add_on_t* addOn, uint32 rva)
{
    uint32 value;
    memcpy(&value, reinterpret_cast<void*>(uintptr_t(addOn->image_base + rva)), 4);
    return value;
}

} // namespace

TEST_F(ModuleTest, LoadsBindsAndAttachesADLL)
{
    pe_add_on_t* addOn = Load("testdll.dll");
    ASSERT_NE(addOn, nullptr);
    EXPECT_EQ(addOn->image_base, 0x10000000u);
    // The helper its entry point loaded went in after it, at the head.
    ASSERT_NE(pe_first_add_on(), nullptr);
    EXPECT_EQ(pe_first_add_on()->next, addOn);
    EXPECT_STREQ(addOn->name, "testdll.dll");
    EXPECT_EQ(area_for(reinterpret_cast<void*>(uintptr_t(addOn->image_base))), addOn->area);
    EXPECT_STREQ(addOn->sections[0].name, ".text");
    EXPECT_NE(addOn->characteristics & IMAGE_FILE_DLL, 0);

    // The entry point ran once, saw its own record, its name and its
    // imports, and loaded the helper from inside (a nested module call).
    EXPECT_EQ(Call(addOn, "Attaches"), 1u);
    EXPECT_EQ(Call(addOn, "Detaches"), 0u);
    EXPECT_EQ(Call(addOn, "LookupDuringAttach"), 1u);
    EXPECT_STREQ(module_string(Call(addOn, "FileName")), "testdll.dll");
    uint32 helper = Call(addOn, "Helper");
    pe_add_on_t* helperAddOn = pe_get_add_on_from_start(helper);
    ASSERT_NE(helperAddOn, nullptr);
    EXPECT_EQ(Call(helperAddOn, "HelperAttaches"), 1u);

    EXPECT_EQ(Call(addOn, "Sum3", {1, 2, 39}), 42u);
    EXPECT_EQ(Call(addOn, "CallTable", {1, 5}), 15u);
    EXPECT_STREQ(module_string(Call(addOn, "Greeting")), "hello");
    EXPECT_EQ(Call(addOn, "BssIsZero"), 1u);
    EXPECT_EQ(Call(addOn, "SameBinding"), 1u);
    // _adjust_fdiv's slot holds the image base: the variable reads as the
    // first four bytes of the image.
    EXPECT_EQ(Call(addOn, "AdjustFdiv"), image_word(addOn, 0));
    EXPECT_EQ(Call(addOn, "AdjustFdiv"), 0x00905A4Du);

    // The heap the module's malloc and free use lies in the window.
    uint32 block = Call(addOn, "Allocate", {100});
    EXPECT_TRUE(is_module_heap_pointer(reinterpret_cast<void*>(uintptr_t(block))));
    Call(addOn, "Release", {block});

    testing::internal::CaptureStderr();
    EXPECT_EQ(pe_unload_add_on(addOn), B_OK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    // The detach notice freed the helper too.
    EXPECT_EQ(pe_first_add_on(), nullptr);
}

TEST_F(ModuleTest, LoadingTwiceMapsTwoCopiesAndRelocatesTheSecond)
{
    pe_add_on_t* first = Load("testdll.dll");
    pe_add_on_t* second = Load("testdll.dll");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_NE(first->image_base, second->image_base);
    EXPECT_EQ(Call(first, "Attaches"), 1u);
    EXPECT_EQ(Call(second, "Attaches"), 1u);
    EXPECT_EQ(Call(second, "CallTable", {0, 21}), 42u);
    EXPECT_EQ(pe_get_add_on_from_start(first->image_base), first);
    EXPECT_EQ(pe_get_add_on_from_start(second->image_base), second);
    EXPECT_EQ(pe_get_add_on_from_start(second->image_base + 1), nullptr);

    uint32 firstBase = first->image_base;
    pe_unload_add_on(first);
    EXPECT_EQ(pe_get_add_on_from_start(firstBase), nullptr);
    EXPECT_EQ(pe_get_add_on_from_start(second->image_base), second);
}

TEST_F(ModuleTest, AModuleLettingGoOfItselfFromItsEntryPointIsFreedOnce)
{
    // Its own handle freed while attaching and while detaching, a
    // LoadLibraryA of itself given back in between: the record goes once,
    // when the host lets go (a second free aborts an ASan build).
    pe_add_on_t* addOn = Load("selffree.dll");
    ASSERT_NE(addOn, nullptr);
    EXPECT_EQ(Call(addOn, "FreeInAttach"), 0u);
    EXPECT_EQ(Call(addOn, "SameHandle"), 1u);
    EXPECT_EQ(Call(addOn, "FreeSelf", {addOn->image_base}), 0u);
    EXPECT_TRUE(pe_is_loaded(addOn));
    testing::internal::CaptureStderr();
    EXPECT_EQ(pe_unload_add_on(addOn), B_OK);
    EXPECT_EQ(pe_first_add_on(), nullptr);
    EXPECT_EQ(pe_unload_add_on(addOn), B_BAD_VALUE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ModuleTest, RelocationMovesEveryHighLowTargetByTheBaseDifference)
{
    std::vector<uint8> file = Bytes("relocated.dll");
    std::vector<uint32> targets = highlow_targets(file);
    ASSERT_GE(targets.size(), 4u);

    // At its preferred base nothing is touched.
    pe_add_on_t* unmoved = Load("relocated.dll");
    ASSERT_NE(unmoved, nullptr);
    ASSERT_EQ(unmoved->image_base, 0x10000000u);
    for (uint32 rva : targets)
        EXPECT_EQ(image_word(unmoved, rva), read32(file, file_offset(file, rva))) << rva;

    // With the base taken (by the first copy), every target moves.
    pe_add_on_t* moved = Load("relocated.dll");
    ASSERT_NE(moved, nullptr);
    uint32 delta = moved->image_base - 0x10000000u;
    ASSERT_NE(delta, 0u);
    for (uint32 rva : targets)
        EXPECT_EQ(image_word(moved, rva), read32(file, file_offset(file, rva)) + delta) << rva;
    EXPECT_EQ(Call(moved, "SumThroughPointers"), 10u);
    EXPECT_EQ(Call(unmoved, "SumThroughPointers"), 10u);
}

TEST_F(ModuleTest, ImageWithoutTheDLLBitGetsNoEntryCall)
{
    // Its entry point would fault: had it been called, stderr would say so.
    pe_add_on_t* addOn = Load("notdll.exe");
    ASSERT_NE(addOn, nullptr);
    EXPECT_EQ(addOn->characteristics & IMAGE_FILE_DLL, 0);
    testing::internal::CaptureStderr();
    pe_unload_add_on(addOn);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(ModuleTest, UnresolvedImportsGetConsecutiveMarkersAcrossModules)
{
    pe_add_on_t* first = Load("unresolved.dll");
    pe_add_on_t* second = Load("unresolved.dll");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    std::set<uint32> markers;
    for (pe_add_on_t* addOn : {first, second}) {
        for (uint32 which = 0; which < 4; which++)
            markers.insert(Call(addOn, "Slots", {which}));
    }
    ASSERT_EQ(markers.size(), 8u);
    uint32 low = *markers.begin();
    EXPECT_EQ(low >> 16, 0xDEADu);
    EXPECT_EQ(*markers.rbegin(), low + 7);

    // Each marker remembers its import, for fault reports.
    std::set<std::string> names;
    for (uint32 marker = low; marker < low + 4; marker++) {
        char name[64];
        pe_unresolved_import_name(uint16(marker), name, sizeof(name));
        names.insert(name);
    }
    EXPECT_EQ(names, (std::set<std::string>{"NoSuchFunction", "Malloc", "ordinal 7", "ordinal 9"}));

    // "malloc" binds to its replacement whatever the DLL; "Malloc" does not.
    uint32 thunk = 0;
    ASSERT_TRUE(import_lookup("malloc", first->image_base, &thunk));
    EXPECT_EQ(Call(first, "Slots", {4}), thunk);
}

TEST_F(ModuleTest, AttachFailureUnlistsTheModule)
{
    // The entry point refuses when its file name says so.
    Copy("testdll.dll", "refuse.dll");
    size_t before = 0;
    for (pe_add_on_t* a = pe_first_add_on(); a != nullptr; a = a->next)
        before++;
    EXPECT_EQ(LoadFails("refuse.dll"), "PROCESS_ATTACH failed\n");
    EXPECT_EQ(pe_first_add_on(), nullptr);
    EXPECT_EQ(pe_get_add_on_from_start(0x10000000), nullptr);
    EXPECT_EQ(before, 0u);
    // The area went too: the preferred base is free again.
    pe_add_on_t* addOn = Load("testdll.dll");
    ASSERT_NE(addOn, nullptr);
    EXPECT_EQ(addOn->image_base, 0x10000000u);
}

TEST_F(ModuleTest, AttachThatFaultsFailsTheLoadAndNamesTheModule)
{
    Copy("faults.dll", "fault-attach.dll");
    std::string errors = LoadFails("fault-attach.dll");
    EXPECT_NE(errors.find("module fault in 'fault-attach.dll'"), std::string::npos) << errors;
    EXPECT_NE(errors.find("read of unmapped address 0x00000000"), std::string::npos) << errors;
    EXPECT_TRUE(errors.ends_with("PROCESS_ATTACH failed\n")) << errors;
}

TEST_F(ModuleTest, MissingFileAndBadSignatures)
{
    EXPECT_EQ(LoadFails("absent.dll"), "could not open file 'absent.dll'\n");

    std::vector<uint8> good = Bytes("testdll.dll");
    pe_layout layout(good);
    std::vector<uint8> bad = good;
    bad[1] = 'X';
    Write("bad-mz.dll", bad);
    EXPECT_EQ(LoadFails("bad-mz.dll"), "'bad-mz.dll' is not a valid pe binary\n");

    bad = good;
    bad[layout.coff - 3] = 'F';
    Write("bad-pe.dll", bad);
    EXPECT_EQ(LoadFails("bad-pe.dll"), "'bad-pe.dll' is not a valid pe binary\n");

    bad = good;
    write32(bad, 0x3C, 0x7FFFFFF0);
    Write("far-pe.dll", bad);
    EXPECT_EQ(LoadFails("far-pe.dll"), "'far-pe.dll' is not a valid pe binary\n");

    Write("empty.dll", {});
    EXPECT_EQ(LoadFails("empty.dll"), "'empty.dll' is not a valid pe binary\n");
}

TEST_F(ModuleTest, OnlyX86MachinesAreAccepted)
{
    EXPECT_EQ(LoadFails("amd64.dll"), "'amd64.dll' is not a pe binary for this machine\n");

    std::vector<uint8> good = Bytes("testdll.dll");
    pe_layout layout(good);
    for (uint16 machine : {0x014D, 0x014E}) {
        std::vector<uint8> image = good;
        write16(image, layout.coff, machine);
        Write("machine.dll", image);
        pe_add_on_t* addOn = Load("machine.dll");
        ASSERT_NE(addOn, nullptr) << machine;
        pe_unload_add_on(addOn);
    }
    for (uint16 machine : {0x014B, 0x014F, 0x8664}) {
        std::vector<uint8> image = good;
        write16(image, layout.coff, machine);
        Write("machine.dll", image);
        EXPECT_EQ(LoadFails("machine.dll"), "'machine.dll' is not a pe binary for this machine\n");
    }
    std::vector<uint8> cut(good.begin(), good.begin() + long(layout.coff) + 1);
    Write("cut.dll", cut);
    EXPECT_EQ(LoadFails("cut.dll"), "'cut.dll' is not a pe binary for this machine\n");
}

TEST_F(ModuleTest, TruncatedHeadersAndSections)
{
    std::vector<uint8> good = Bytes("testdll.dll");
    pe_layout layout(good);
    auto cut = [&](size_t length) {
        Write("cut.dll", std::vector<uint8>(good.begin(), good.begin() + long(length)));
        return LoadFails("cut.dll");
    };
    EXPECT_EQ(cut(layout.coff + 10), "premature end of file\n");
    EXPECT_EQ(cut(layout.optional + 50), "premature end of file\n");
    EXPECT_EQ(cut(layout.sections - 4), "premature end of file\n");
    EXPECT_EQ(cut(layout.sections + 50), "failed to read section header\n");
    // Headers complete, section data cut short.
    EXPECT_EQ(cut(good.size() - 100), "failed to read section into memory\n");

    std::vector<uint8> image = good;
    write16(image, layout.coff + 2, 0xFFFF);
    Write("many.dll", image);
    EXPECT_EQ(LoadFails("many.dll"), "failed to read section header\n");
}

TEST_F(ModuleTest, SizesAndPlacesOutsideTheImageAreRefused)
{
    std::vector<uint8> good = Bytes("testdll.dll");
    pe_layout layout(good);
    const size_t sizeOfImage = layout.optional + 56;
    const size_t sizeOfHeaders = layout.optional + 60;

    std::vector<uint8> image = good;
    write32(image, sizeOfImage, 0xFFFFFFFF);
    Write("huge.dll", image);
    EXPECT_EQ(LoadFails("huge.dll"), "failed to create an area of size 0x100000000 anywhere\n");

    image = good;
    write32(image, sizeOfImage, 0);
    Write("zero.dll", image);
    EXPECT_EQ(LoadFails("zero.dll"), "failed to create an area of size 0x00000000 anywhere\n");

    image = good;
    write32(image, sizeOfImage, 0x2000); // sections reach beyond it
    Write("small.dll", image);
    EXPECT_EQ(LoadFails("small.dll"), "failed to read section into memory\n");

    image = good;
    write32(image, sizeOfHeaders, 0x01000000);
    Write("headers.dll", image);
    EXPECT_EQ(LoadFails("headers.dll"), "failed to read file into memory\n");

    image = good;
    write32(image, layout.sections + 12, 0xFFFFF000); // .text's VirtualAddress
    Write("far-section.dll", image);
    EXPECT_EQ(LoadFails("far-section.dll"), "failed to read section into memory\n");

    image = good;
    write32(image, layout.sections + 20, 0xFFFFFF00); // .text's PointerToRawData
    Write("far-raw.dll", image);
    EXPECT_EQ(LoadFails("far-raw.dll"), "failed to read section into memory\n");

    // Nothing of the failed loads stays behind.
    EXPECT_EQ(pe_first_add_on(), nullptr);
    pe_add_on_t* addOn = Load("testdll.dll");
    ASSERT_NE(addOn, nullptr);
    EXPECT_EQ(addOn->image_base, 0x10000000u);
}

TEST_F(ModuleTest, UninitialisedDataIsClearedForItsOwnSizeOnly)
{
    std::vector<uint8> image = Bytes("testdll.dll");
    pe_layout layout(image);
    uint16 count = uint16(image[layout.coff + 2] | image[layout.coff + 3] << 8);
    // The header-wide total says 16 MiB, and .bss is moved to the end of the
    // table, after every section that lies above it in memory.
    write32(image, layout.optional + 12, 0x01000000);
    size_t bss = 0;
    for (uint16 i = 0; i < count; i++) {
        if (memcmp(&image[layout.sections + 40 * i], ".bss", 4) == 0)
            bss = layout.sections + 40 * i;
    }
    ASSERT_NE(bss, 0u);
    size_t last = layout.sections + 40 * (count - 1);
    std::vector<uint8> saved(image.begin() + long(bss), image.begin() + long(bss) + 40);
    memmove(&image[bss], &image[bss + 40], last - bss);
    memcpy(&image[last], saved.data(), 40);
    Write("bss.dll", image);

    pe_add_on_t* addOn = Load("bss.dll");
    ASSERT_NE(addOn, nullptr);
    EXPECT_EQ(Call(addOn, "Sum3", {1, 2, 3}), 6u);
    EXPECT_STREQ(module_string(Call(addOn, "Greeting")), "hello");
    EXPECT_NE(pe_find_resource(addOn, 6, 1, 0), nullptr);
    EXPECT_EQ(Call(addOn, "BssIsZero"), 1u);

    // Nor does a .bss that claims more than the whole image.
    write32(image, last + 8, 0x7FFFFFFF);
    Write("bss-big.dll", image);
    pe_add_on_t* big = Load("bss-big.dll");
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(Call(big, "Sum3", {1, 2, 3}), 6u);
}

TEST_F(ModuleTest, RelocationsOutsideTheImageAreRefused)
{
    pe_add_on_t* taken = Load("testdll.dll"); // so relocated.dll must move
    ASSERT_NE(taken, nullptr);
    std::vector<uint8> good = Bytes("relocated.dll");
    pe_layout layout(good);
    size_t block = file_offset(good, read32(good, layout.optional + 96 + 5 * 8));
    ASSERT_NE(block, 0u);

    std::vector<uint8> image = good;
    write32(image, block + 4, 0x7FFFFFF0); // SizeOfBlock
    Write("reloc.dll", image);
    EXPECT_EQ(LoadFails("reloc.dll"), "failed to apply a relocation outside the image\n");

    image = good;
    write32(image, block, 0x7FFFF000); // the page lies outside
    Write("reloc.dll", image);
    EXPECT_EQ(LoadFails("reloc.dll"), "failed to apply a relocation outside the image\n");

    image = good;
    write32(image, block + 4, 4); // a block too short to hold its own header
    Write("reloc.dll", image);
    EXPECT_EQ(LoadFails("reloc.dll"), "failed to apply a relocation outside the image\n");

    // An unsupported type is reported and skipped; the load goes on.
    image = good;
    write16(image, block + 8, uint16(0xA000 | (read32(good, block + 8) & 0xFFF)));
    Write("reloc.dll", image);
    testing::internal::CaptureStderr();
    pe_add_on_t* addOn = pe_load_add_on("reloc.dll");
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(addOn, nullptr);
    EXPECT_EQ(errors, "pe_add_on:405: assertion failed: reloc_type==IMAGE_REL_BASED_ABSOLUTE || "
                      "reloc_type==IMAGE_REL_BASED_HIGHLOW\n");
}

TEST_F(ModuleTest, ImportDescriptorsWithoutLookupTableAndOutsideTheImage)
{
    std::vector<uint8> good = Bytes("testdll.dll");
    pe_layout layout(good);
    size_t descriptors = file_offset(good, read32(good, layout.optional + 96 + 8));
    ASSERT_NE(descriptors, 0u);

    // Names come from the address table when the lookup table is absent.
    std::vector<uint8> image = good;
    for (size_t d = descriptors; read32(image, d + 16) != 0; d += 20)
        write32(image, d, 0);
    Write("no-lookup.dll", image);
    pe_add_on_t* addOn = Load("no-lookup.dll");
    ASSERT_NE(addOn, nullptr);
    EXPECT_EQ(Call(addOn, "Attaches"), 1u);
    EXPECT_STREQ(module_string(Call(addOn, "FileName")), "no-lookup.dll");
    pe_unload_add_on(addOn);

    image = good;
    write32(image, layout.optional + 96 + 8, 0x7FFFFF00);
    Write("far-imports.dll", image);
    EXPECT_EQ(LoadFails("far-imports.dll"), "failed to bind imports outside the image\n");

    image = good;
    write32(image, descriptors + 16, 0x7FFFFF00); // an address table outside
    Write("far-slots.dll", image);
    EXPECT_EQ(LoadFails("far-slots.dll"), "failed to bind imports outside the image\n");
}

TEST_F(ModuleTest, NoDataDirectoriesLoadsAnEmptyModule)
{
    // The section table follows the directories actually read, so it moves
    // up when their count is 0.
    std::vector<uint8> image = Bytes("unresolved.dll");
    pe_layout layout(image);
    uint16 count = uint16(image[layout.coff + 2] | image[layout.coff + 3] << 8);
    write32(image, layout.optional + 92, 0);
    memmove(&image[layout.optional + 96], &image[layout.sections], 40 * count);
    Write("bare.dll", image);
    pe_add_on_t* addOn = Load("bare.dll");
    ASSERT_NE(addOn, nullptr);
    for (const image_data_directory_t& directory : addOn->data_directory)
        EXPECT_EQ(directory.virtual_address, 0u);
    void* address;
    EXPECT_EQ(pe_get_image_symbol(addOn, "Slots", &address), B_ERROR);
    EXPECT_EQ(pe_find_resource(addOn, 6, 1, 0), nullptr);
}

TEST_F(ModuleTest, EntryPointOutsideTheImageFailsTheAttach)
{
    std::vector<uint8> image = Bytes("testdll.dll");
    pe_layout layout(image);
    write32(image, layout.optional + 16, 0x7FFFFFF0);
    Write("far-entry.dll", image);
    std::string errors = LoadFails("far-entry.dll");
    EXPECT_NE(errors.find("module fault"), std::string::npos) << errors;
    EXPECT_TRUE(errors.ends_with("PROCESS_ATTACH failed\n")) << errors;
}
