// The memory, module, process, text, resource and dialog replacements,
// called from module code (tests/modules/services.c) through their rows.
// The module records what it saw in slots (services-slots.h) read back here.
#include "ModuleFixture.h"

#include "platform/kernel/OS.h"
#include "winemu/kernel32/MemoryServices.h"
#include "winemu/kernel32/ProcessServices.h"

#include "../modules/services-slots.h"

#include <set>

namespace
{

class ServicesTest : public ModuleTest
{
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        fServices = Load("services.dll");
        ASSERT_NE(fServices, nullptr);
        fSlots = static_cast<uint32*>(module_calloc(kSlotCount, sizeof(uint32)));
        ASSERT_NE(fSlots, nullptr);
    }

    void TearDown() override
    {
        module_free(fSlots);
        ModuleTest::TearDown();
    }

    // Runs an export with the slot block first; returns what went to
    // stderr.
    std::string Run(const char* name, std::initializer_list<uint32> more = {})
    {
        std::vector<uint32> args = {module_address(fSlots)};
        args.insert(args.end(), more);
        testing::internal::CaptureStderr();
        uint32 result = 0;
        EXPECT_EQ(call_module(Export(fServices, name), args.data(), args.size(), &result), B_OK)
            << name;
        return testing::internal::GetCapturedStderr();
    }

    pe_add_on_t* fServices = nullptr;
    uint32* fSlots = nullptr;
};

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

area_info area_at(uint32 address)
{
    area_info info = {};
    get_area_info(area_for(reinterpret_cast<void*>(uintptr_t(address))), &info);
    return info;
}

} // namespace

TEST_F(ServicesTest, HeapAndMovableMemory)
{
    Run("MemoryServices");
    const uint32* r = fSlots;
    EXPECT_EQ(r[kSlotHeapCreate], 1u);
    EXPECT_EQ(r[kSlotProcessHeap], 1u);
    EXPECT_EQ(r[kSlotHeapPlain], 1u);
    EXPECT_EQ(r[kSlotHeapZeroed], 1u);
    EXPECT_EQ(r[kSlotHeapFree], 1u);
    EXPECT_EQ(r[kSlotHeapDestroy], 1u);
    EXPECT_EQ(r[kSlotGlobalZeroed], 1u);
    EXPECT_EQ(r[kSlotGlobalLockIsHandle], 1u);
    EXPECT_EQ(r[kSlotGlobalHandleIsPointer], 1u);
    EXPECT_EQ(r[kSlotGlobalUnlock], 0u);
    EXPECT_EQ(r[kSlotGlobalFree], 0u); // null is success
    EXPECT_EQ(r[kSlotLocalZeroed], 1u);
    EXPECT_EQ(r[kSlotLocalLockIsHandle], 1u);
    EXPECT_EQ(r[kSlotLocalFree], 0u);
    // Every block lay on the module heap (and is freed now).
    for (uint32 block : {r[kSlotMallocBlock], r[kSlotNewBlock]}) {
        EXPECT_GE(block, kModuleHeapStart);
        EXPECT_LT(block, kModuleSpaceEnd);
        EXPECT_FALSE(is_module_heap_pointer(module_pointer<void>(block)));
    }

    EXPECT_EQ(r[kSlotBadReadNull], 1u);
    EXPECT_EQ(r[kSlotBadReadNullEmpty], 0u);
    EXPECT_EQ(r[kSlotBadReadGood], 0u);
    EXPECT_EQ(r[kSlotBadWriteHigh], 1u);
    EXPECT_EQ(r[kSlotBadWriteEnd], 1u);
    Run("FreeAreas");
}

TEST_F(ServicesTest, VirtualMemoryIsOneAreaPerCall)
{
    std::string errors = Run("MemoryServices");
    const uint32* r = fSlots;
    // One byte asked for, one read-write page made.
    area_info readWrite = area_at(r[kSlotVirtualReadWrite]);
    EXPECT_STREQ(readWrite.name, "VirtualAlloc_area");
    EXPECT_EQ(readWrite.size, 4096u);
    EXPECT_EQ(readWrite.protection, uint32(B_READ_AREA | B_WRITE_AREA));
    EXPECT_EQ(r[kSlotVirtualWritable], 1u);
    // PAGE_READONLY alone asks for no access bits; 5000 bytes are two pages.
    area_info readOnly = area_at(r[kSlotVirtualReadOnly]);
    EXPECT_EQ(readOnly.size, 8192u);
    EXPECT_EQ(readOnly.protection, 0u);
    // A free address is taken as asked; a taken one gives an area elsewhere.
    EXPECT_EQ(r[kSlotVirtualExact], 0x3F000000u);
    EXPECT_NE(r[kSlotVirtualTaken], 0u);
    EXPECT_NE(r[kSlotVirtualTaken], fServices->image_base);
    EXPECT_EQ(r[kSlotVirtualAllocZero], 0u);
    // Only VirtualAlloc's areas are deleted: the module's image stays.
    EXPECT_EQ(r[kSlotVirtualFreeImage], 0u);
    EXPECT_EQ(r[kSlotVirtualFreeNull], 0u);
    EXPECT_TRUE(contains(errors, "MemoryServices.cpp:")) << errors;
    EXPECT_TRUE(contains(errors, "VirtualFree of an area VirtualAlloc did not make")) << errors;
    EXPECT_GE(area_for(reinterpret_cast<void*>(uintptr_t(fServices->image_base))), 0);

    Run("FreeAreas");
    // Any address inside deletes the whole area, whatever the type; once.
    EXPECT_EQ(r[kSlotVirtualFreeInside], 1u);
    EXPECT_EQ(r[kSlotVirtualFreeAgain], 0u);
    EXPECT_EQ(r[kSlotVirtualFreeReadOnly], 1u);
    EXPECT_EQ(r[kSlotVirtualFreeExact], 1u);
    EXPECT_EQ(r[kSlotVirtualFreeTaken], 1u);
    EXPECT_LT(area_for(reinterpret_cast<void*>(uintptr_t(r[kSlotVirtualReadWrite]))), 0);
    EXPECT_LT(area_for(reinterpret_cast<void*>(uintptr_t(0x3F000000))), 0);
}

TEST_F(ServicesTest, ModuleHandlesExportsAndFileNames)
{
    std::string errors = Run("ModuleServices");
    const uint32* r = fSlots;
    EXPECT_EQ(errors, "");
    EXPECT_EQ(r[kSlotModuleHandleNull], 0xDEADBEEFu);
    EXPECT_EQ(r[kSlotModuleHandleName], 0xDEADBEEFu);
    // The fake handle knows two names; the feature test is callable.
    EXPECT_EQ(r[kSlotFeature3], 1u);
    EXPECT_EQ(r[kSlotFeature4], 0u);
    EXPECT_EQ(r[kSlotIsTNT], 0u);
    EXPECT_EQ(r[kSlotFakeOther], 0u);
    // A loaded module: exports by name, by ordinal; absent ones are null.
    EXPECT_EQ(r[kSlotHelperLoaded], 1u);
    EXPECT_EQ(r[kSlotHelperAttaches], 1u);
    EXPECT_EQ(r[kSlotHelperMissing], 0u);
    EXPECT_EQ(r[kSlotHelperFreed], 1u);
    EXPECT_EQ(r[kSlotOwnOrdinal], 4242u);
    EXPECT_EQ(r[kSlotMissingOrdinal], 0u);
    // File names, cut to the buffer with a NUL.
    const char* names = module_pointer<const char>(r[kSlotFileNameTexts], 64);
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(r[kSlotFileNameLength], 12u);
    EXPECT_STREQ(names, "services.dll");
    EXPECT_EQ(r[kSlotFileNameCut], 4u);
    EXPECT_STREQ(names + 16, "serv");
    EXPECT_EQ(names[16 + 5], 'x');
    EXPECT_EQ(r[kSlotFileNameFake], 3u);
    EXPECT_STREQ(names + 32, "WeA");
    EXPECT_EQ(r[kSlotFileNameOne], 0u);
    EXPECT_EQ(names[48], '\0');
    EXPECT_EQ(names[49], 'x');
    EXPECT_EQ(r[kSlotFileNameNullBuffer], 0u);
    EXPECT_EQ(r[kSlotFileNameBadBuffer], 0u);
    EXPECT_EQ(r[kSlotDisableThreadCalls], 1u);
    EXPECT_EQ(r[kSlotLoadNull], 0u);
    EXPECT_EQ(r[kSlotDriverNull], 0u);
    EXPECT_EQ(pe_get_add_on_from_start(r[kSlotHelperLoaded]), nullptr);
}

TEST_F(ServicesTest, ProcessAndSystemDescription)
{
    Run("ProcessServices");
    const uint32* r = fSlots;
    EXPECT_EQ(r[kSlotVersion], 0xC0000A04u);
    EXPECT_EQ(r[kSlotVersionEx], 1u);
    // OSVERSIONINFOA: the size member untouched, 4.10 build 0x040A07CE,
    // Windows 9x, "Win98" with its NUL.
    EXPECT_EQ(r[kSlotVersionInfo + 0], 0xEEEEEEEEu);
    EXPECT_EQ(r[kSlotVersionInfo + 1], 4u);
    EXPECT_EQ(r[kSlotVersionInfo + 2], 10u);
    EXPECT_EQ(r[kSlotVersionInfo + 3], 0x040A07CEu);
    EXPECT_EQ(r[kSlotVersionInfo + 4], 1u);
    EXPECT_EQ(r[kSlotVersionInfo + 5], 0x396E6957u); // "Win9"
    EXPECT_EQ(r[kSlotVersionInfo + 6], 0xEEEE0038u); // "8", NUL
    EXPECT_EQ(r[kSlotVersionExNull], 0u);
    EXPECT_EQ(r[kSlotVersionExEnd], 0u);

    system_info system;
    ASSERT_EQ(get_system_info(&system), B_OK);
    EXPECT_EQ(r[kSlotSystemInfo + 0], 0u); // Intel, reserved
    EXPECT_EQ(r[kSlotSystemInfo + 1], 4096u);
    EXPECT_EQ(r[kSlotSystemInfo + 2], 0x40000000u);
    EXPECT_EQ(r[kSlotSystemInfo + 3], 0x7FFFFFFFu);
    EXPECT_EQ(r[kSlotSystemInfo + 4], active_processor_mask(system.cpu_count));
    EXPECT_EQ(r[kSlotSystemInfo + 5], uint32(system.cpu_count));
    EXPECT_EQ(r[kSlotSystemInfo + 6], 586u);
    EXPECT_EQ(r[kSlotSystemInfo + 7], 4096u);
    EXPECT_EQ(r[kSlotSystemInfo + 8], 5u | uint32(system.cpu_revision & 0xFFFF) << 16);

    // The command line and environments point into module memory.
    EXPECT_STREQ(module_string(r[kSlotCommandLine]), "WeAreQuarl");
    const uint8* narrow = module_pointer<const uint8>(r[kSlotEnvironment], 2);
    ASSERT_NE(narrow, nullptr);
    EXPECT_EQ(narrow[0] | narrow[1], 0);
    const uint8* wide = module_pointer<const uint8>(r[kSlotWideEnvironment], 8);
    ASSERT_NE(wide, nullptr);
    EXPECT_EQ(std::vector<uint8>(wide, wide + 8), std::vector<uint8>(8, 0));
    EXPECT_EQ(r[kSlotFreeEnvironment], 1u);
    EXPECT_EQ(r[kSlotStartupZeroed], 1u);

    std::set<uint32> handles = {r[kSlotStdInput], r[kSlotStdOutput], r[kSlotStdError]};
    EXPECT_EQ(handles.size(), 3u);
    EXPECT_EQ(handles.count(0), 0u);
    EXPECT_EQ(handles.count(0xFFFFFFFF), 0u);
    EXPECT_EQ(r[kSlotStdOther], 0xFFFFFFFFu);
    EXPECT_EQ(r[kSlotFileType], 2u);
    EXPECT_EQ(r[kSlotHandleCount], 20u);
    EXPECT_EQ(r[kSlotExceptionFilter], 0u);
    EXPECT_EQ(r[kSlotACP], 1200u);
    EXPECT_EQ(r[kSlotCPInfo], 0u);
    EXPECT_EQ(r[kSlotCPInfoUntouched], 1u);

    EXPECT_EQ(r[kSlotUpperA], uint32('A'));
    EXPECT_EQ(r[kSlotUpperZ], uint32('Z'));
    EXPECT_EQ(r[kSlotUpperDigit], uint32('1'));
    EXPECT_EQ(r[kSlotUpperEOF], uint32(-1));
    EXPECT_EQ(r[kSlotUpperHigh], 0xE9u);
    EXPECT_EQ(r[kSlotUpperLarge], 1000u);

    EXPECT_EQ(int32(r[kSlotMulDivHalf]), 3); // truncated, not rounded
    EXPECT_EQ(int32(r[kSlotMulDivNegativeHalf]), -3);
    EXPECT_EQ(int32(r[kSlotMulDivOverflow]), -1);
    EXPECT_EQ(int32(r[kSlotMulDivByZero]), -1);
    EXPECT_EQ(int32(r[kSlotMulDivLarge]), 0x7FFFFFFF); // the 64-bit product
    EXPECT_EQ(int32(r[kSlotMulDivSigns]), 7);
    EXPECT_EQ(int32(r[kSlotMulDivMinimum]), INT32_MIN);
    EXPECT_EQ(int32(r[kSlotMulDivMinimumOverflow]), -1);

    EXPECT_EQ(r[kSlotLastError], 1234u);
    EXPECT_EQ(r[kSlotLastErrorCleared], 0u);
}

// The mask cannot be reached from module code on this machine's count.
TEST(ProcessServices, ProcessorMaskCoversEveryCount)
{
    EXPECT_EQ(active_processor_mask(1), 1u);
    EXPECT_EQ(active_processor_mask(2), 3u);
    EXPECT_EQ(active_processor_mask(31), 0x7FFFFFFFu);
    EXPECT_EQ(active_processor_mask(32), 0xFFFFFFFFu);
    EXPECT_EQ(active_processor_mask(64), 0xFFFFFFFFu);
    EXPECT_EQ(active_processor_mask(0), 0u);
}

TEST_F(ServicesTest, WideAndUTF8Conversion)
{
    Run("TextConversion");
    const uint32* r = fSlots;
    EXPECT_EQ(r[kSlotWideSize], 3u);
    EXPECT_EQ(r[kSlotWideCut], 2u);
    EXPECT_EQ(r[kSlotWideCutBytes], 0x23236241u); // "Ab", then untouched
    EXPECT_EQ(r[kSlotWideAccent], 2u);
    EXPECT_EQ(r[kSlotWideAccentBytes], 0x2323A9C3u);
    EXPECT_EQ(r[kSlotWideTerminated], 3u);
    EXPECT_EQ(r[kSlotWideWithTerminator], 4u);
    EXPECT_EQ(r[kSlotWideSubstitute], 2u);
    EXPECT_EQ(r[kSlotWideSubstituteBytes], 0x2323783Fu); // "?x"
    EXPECT_EQ(r[kSlotWideBadSource], 0u);
    EXPECT_EQ(r[kSlotWideBadTarget], 0u);
    EXPECT_EQ(r[kSlotNarrowSize], 1u);
    EXPECT_EQ(r[kSlotNarrowStored], 1u);
    EXPECT_EQ(r[kSlotNarrowUnit], 0xEEEE00E9u); // E9 00, no terminator
    EXPECT_EQ(r[kSlotNarrowCounted], 2u);
    EXPECT_EQ(r[kSlotNarrowCountedUnits], 0x00790078u);
    EXPECT_EQ(r[kSlotNarrowBadSource], 0u);
    EXPECT_EQ(r[kSlotNarrowBadTarget], 0u);
    EXPECT_EQ(r[kSlotNarrowInvalid], 1u);
    EXPECT_EQ(r[kSlotNarrowInvalidUnit], 0x1Au);
}

TEST_F(ServicesTest, LongTextConvertsInPiecesWithoutLosingCharacters)
{
    uint8* block = static_cast<uint8*>(module_calloc(1, kLongBlockSize));
    Run("LongText", {module_address(block)});
    const uint32* r = fSlots;
    // 'a', 4998 e-acute and one pair: 1 + 2 * 4997 + 4 bytes. The size
    // query reports all of it, beyond the 8192 bytes of a scratch buffer.
    EXPECT_EQ(r[kSlotLongWideSize], 9999u);
    EXPECT_EQ(r[kSlotLongWideStored], 9999u);
    const uint8* narrow = block + kLongNarrow;
    EXPECT_EQ(narrow[0], 'a');
    EXPECT_EQ(memcmp(narrow + 4093, "\xF0\x9F\x98\x80", 4), 0);
    EXPECT_EQ(memcmp(narrow + 9997, "\xC3\xA9", 2), 0);
    EXPECT_EQ(r[kSlotLongNarrowSize], 5000u);
    EXPECT_EQ(r[kSlotLongNarrowStored], 5000u);
    EXPECT_EQ(memcmp(block + kLongBack, block + kLongWide, 10000), 0);
    module_free(block);
}

TEST_F(ServicesTest, FormattingReadsTheModulesArguments)
{
    char* texts = static_cast<char*>(module_calloc(1, kTextBlockSize));
    memset(texts + kTextLong, '#', 8200);
    testing::internal::CaptureStdout();
    std::string errors = Run("Formatting", {module_address(texts)});
    std::string output = testing::internal::GetCapturedStdout();
    const uint32* r = fSlots;

    // wsprintfA stores bytes and a NUL, as wvsprintfA does, and echoes.
    EXPECT_EQ(r[kSlotPrintfDecimal], 2u);
    EXPECT_STREQ(texts + kTextDecimal, "42");
    EXPECT_EQ(r[kSlotVprintfDecimal], 2u);
    EXPECT_STREQ(texts + kTextVprintf, "42");
    const char* mixed =
        "str| 3.14|ff  |z|4000000000|4464|+1.235e+04|-5|1099511627776|BEEF|%|10|255";
    EXPECT_STREQ(texts + kTextMixed, mixed);
    EXPECT_EQ(r[kSlotPrintfMixed], strlen(mixed));
    EXPECT_STREQ(texts + kTextStrings, "[(null)][(null)][ab][ab    ][%y]");
    EXPECT_EQ(r[kSlotPrintfStrings], strlen(texts + kTextStrings));
    EXPECT_STREQ(texts + kTextStars, "[   42][7   ][2.72][-00012]");
    EXPECT_STREQ(texts + kTextWide, "wide|wide|\xC3\xA9");
    // Cut to 8191 characters and a NUL; nothing written past it.
    EXPECT_EQ(r[kSlotPrintfLong], 8191u);
    EXPECT_EQ(strlen(texts + kTextLong), 8191u);
    EXPECT_EQ(texts[kTextLong + 7999], '1');
    EXPECT_EQ(texts[kTextLong + 8192], '#');
    // A buffer outside the window or no format: nothing stored.
    EXPECT_EQ(r[kSlotPrintfBadBuffer], 0u);
    EXPECT_EQ(r[kSlotPrintfNoFormat], 0u);
    EXPECT_EQ(r[kSlotPrintfCountUntouched], 1u);
    EXPECT_TRUE(contains(errors, "%n is not supported")) << errors;

    EXPECT_EQ(output, "42\n" + std::string(mixed) + "\n[(null)][(null)][ab][ab    ][%y]\n" +
                          "wide|wide|\xC3\xA9\n12345\nabc\n");
    EXPECT_TRUE(contains(errors, "%s argument inside the module address space")) << errors;
    EXPECT_TRUE(contains(errors, "format inside the module address space")) << errors;
    module_free(texts);
}

TEST_F(ServicesTest, StringsAndResourcesOfTheModulesImage)
{
    pe_add_on_t* other = Load("testdll.dll");
    ASSERT_NE(other, nullptr);
    char* texts = static_cast<char*>(module_calloc(1, kTextBlockSize));
    std::string errors = Run("Resources", {module_address(texts), other->image_base});
    const uint32* r = fSlots;
    EXPECT_EQ(errors, "");

    EXPECT_EQ(r[kSlotStringFull], 10u);
    EXPECT_STREQ(texts + kTextStringFull, "0123456789");
    EXPECT_EQ(r[kSlotStringCut], 4u);
    EXPECT_STREQ(texts + kTextStringCut, "0123");
    EXPECT_EQ(r[kSlotStringOne], 0u); // only the NUL written
    EXPECT_EQ(r[kSlotStringZero], 0u);
    EXPECT_EQ(r[kSlotStringZeroUntouched], 1u);
    EXPECT_EQ(r[kSlotStringMissing], 0u);
    EXPECT_EQ(r[kSlotStringAccent], 5u); // UTF-8
    EXPECT_STREQ(texts + kTextStringAccent, "caf\xC3\xA9");
    EXPECT_EQ(r[kSlotStringOtherModule], 3u); // "one" from testdll
    EXPECT_EQ(r[kSlotStringBadBuffer], 0u);

    EXPECT_EQ(r[kSlotResourceData], 0x04030201u);
    EXPECT_EQ(r[kSlotResourceSize], 4u);
    EXPECT_EQ(r[kSlotResourceLocked], 1u);
    EXPECT_EQ(r[kSlotResourceNamed], 3u); // "abc", names match case-blind
    EXPECT_EQ(r[kSlotResourceStringType], 0xDEADDEADu);
    EXPECT_EQ(r[kSlotResourceNumberName], 0u); // "#5" is not read as 5
    EXPECT_EQ(r[kSlotResourceStringBlock], 0x000A0000u);
    EXPECT_EQ(r[kSlotResourceMissing], 0u);
    EXPECT_EQ(r[kSlotResourceOtherModule], 0u);
    EXPECT_EQ(r[kSlotResourceMarkerLoad], 0u);
    EXPECT_EQ(r[kSlotResourceMarkerSize], 0u);
    EXPECT_EQ(r[kSlotResourceBadName], 0u);
    EXPECT_EQ(r[kSlotIcon], 40u); // the icon image's BITMAPINFOHEADER
    EXPECT_EQ(r[kSlotIconMissing], 0u);
    EXPECT_EQ(r[kSlotDialogFound], 1u);
    module_free(texts);
}

TEST_F(ServicesTest, DialogCallsItsProcedureOnceAndWindowCallsAreStubs)
{
    std::string errors = Run("Dialogs");
    const uint32* r = fSlots;
    EXPECT_EQ(r[kSlotDialogResult], 0u);
    EXPECT_EQ(r[kSlotDialogMissingResult], 0u); // the template need not exist
    EXPECT_EQ(r[kSlotDialogNullProcedure], 0u);
    EXPECT_EQ(r[kSlotDialogCalls], 2u); // once per dialog with a procedure
    EXPECT_EQ(r[kSlotDialogWindow], 0xDEADBEEFu);
    EXPECT_EQ(r[kSlotDialogMessage], 0x110u);
    EXPECT_EQ(r[kSlotDialogWParam], 0u);
    EXPECT_EQ(r[kSlotDialogLParam], 0x5678u);
    EXPECT_TRUE(contains(errors, "dialog_proc!=NULL")) << errors;
    EXPECT_EQ(r[kSlotSetItemText], 1u);
    EXPECT_EQ(r[kSlotSetItemInt], 1u);
    EXPECT_EQ(r[kSlotGetItem], 0u);
    EXPECT_EQ(r[kSlotScrollRange], 1u);
    EXPECT_EQ(r[kSlotScrollPos], 0u);
    EXPECT_EQ(r[kSlotGetDC], 0u);
    EXPECT_EQ(r[kSlotDeviceCaps], 0u);
    EXPECT_EQ(r[kSlotDefDriverProc], 0u);
}

TEST_F(ServicesTest, EveryImportKeepsTheStackWithNullArguments)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    uint32 result = 0;
    EXPECT_EQ(call_module(Export(fServices, "StackEffects"), {}, &result), B_OK);
    std::string errors = testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(result & 0xFFFF, 67u); // every row of these services
    EXPECT_EQ(result >> 16, 0u) << "calls with a wrong stack effect";
    // Null pointers fail the calls that need them and are reported where
    // they are misuse.
    EXPECT_TRUE(contains(errors, "format inside the module address space")) << errors;
    EXPECT_TRUE(contains(errors, "dialog_proc!=NULL")) << errors;
    EXPECT_FALSE(contains(errors, "module fault")) << errors;
}
