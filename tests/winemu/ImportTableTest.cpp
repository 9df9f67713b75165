#include "ModuleFixture.h"

#include "winemu/kernel32/MemoryServices.h"
#include "winemu/kernel32/ModuleServices.h"
#include "winemu/loader/ImportTable.h"

#include <set>

TEST(ImportTable, NamesBindExactlyAndInOrder)
{
    uint32 malloc = 0, free = 0;
    ASSERT_TRUE(import_lookup("malloc", 0x10000000, &malloc));
    ASSERT_TRUE(import_lookup("free", 0x10000000, &free));
    EXPECT_NE(malloc, free);
    // Thunks are rows in table order, one slot apart.
    EXPECT_EQ(malloc, import_thunk_base() + 3 * kThunkSize);
    EXPECT_EQ(free, malloc + kThunkSize);
    uint32 value = 0;
    EXPECT_FALSE(import_lookup("Malloc", 0x10000000, &value));
    EXPECT_FALSE(import_lookup("malloc ", 0x10000000, &value));
    EXPECT_FALSE(import_lookup("", 0x10000000, &value));
    // The data row gives the importing module's base.
    ASSERT_TRUE(import_lookup("_adjust_fdiv", 0x12340000, &value));
    EXPECT_EQ(value, 0x12340000u);
    // Reached only through GetProcAddress, never bound by name.
    EXPECT_FALSE(import_lookup("IsProcessorFeaturePresent", 0x10000000, &value));
    EXPECT_NE(replacement_address("IsProcessorFeaturePresent"), 0u);
    EXPECT_EQ(replacement_address("malloc"), 0u);
    // Rows whose replacements are not built yet stay unresolved.
    for (uint32 i = 0; import_entry_at(i) != nullptr; i++) {
        const import_entry* entry = import_entry_at(i);
        if (entry->invoke == nullptr && entry->code == nullptr && !entry->isModuleBase) {
            EXPECT_FALSE(import_lookup(entry->name, 0x10000000, &value)) << entry->name;
        }
    }
    EXPECT_TRUE(import_lookup("RegOpenKeyA", 0x10000000, &value));

    // Every thunk keeps its row's stack effect in its code.
    std::set<std::string> names;
    for (uint32 i = 0;; i++) {
        const import_entry* entry = import_entry_at(i);
        if (entry == nullptr)
            break;
        EXPECT_TRUE(names.insert(entry->name).second) << entry->name;
        if (entry->isModuleBase || entry->code != nullptr)
            continue;
        // Out of every module pointer's reach; the host's copy is read-only.
        EXPECT_EQ(module_pointer<const uint8>(import_thunk_base() + i * kThunkSize), nullptr);
        const uint8* code = import_thunk_code() + i * kThunkSize;
        EXPECT_EQ(code[0], 0xB8);
        EXPECT_EQ(code[5], 0xCD);
        EXPECT_EQ(code[6], 0x80);
        if (entry->argumentBytes > 0) {
            EXPECT_EQ(code[7], 0xC2) << entry->name;
            EXPECT_EQ(code[8] | code[9] << 8, entry->argumentBytes) << entry->name;
        } else {
            EXPECT_EQ(code[7], 0xC3) << entry->name;
        }
    }
    // 96 rows, 132 rows for modules of other makers, one reached by GetProcAddress.
    EXPECT_EQ(names.size(), 229u);
}

TEST_F(ModuleTest, ModuleServices)
{
    pe_add_on_t* addOn = Load("testdll.dll");
    ASSERT_NE(addOn, nullptr);

    // GetModuleFileNameA: the load name, cut to the buffer.
    uint32 buffer = module_address(module_calloc(1, 32));
    EXPECT_EQ(exp_GetModuleFileNameA(addOn->image_base, buffer, 32), 11u);
    EXPECT_STREQ(module_string(buffer), "testdll.dll");
    EXPECT_EQ(exp_GetModuleFileNameA(addOn->image_base, buffer, 5), 4u);
    EXPECT_STREQ(module_string(buffer), "test");
    EXPECT_EQ(exp_GetModuleFileNameA(addOn->image_base, buffer, 1), 0u);
    EXPECT_STREQ(module_string(buffer), "");
    EXPECT_EQ(exp_GetModuleFileNameA(kFakeModuleHandle, buffer, 32), 10u);
    EXPECT_STREQ(module_string(buffer), "WeAreQuarl");
    EXPECT_EQ(exp_GetModuleFileNameA(0, buffer, 6), 5u);
    EXPECT_STREQ(module_string(buffer), "WeAre");
    *module_pointer<char>(buffer) = 'x';
    EXPECT_EQ(exp_GetModuleFileNameA(0, buffer, 0), 0u);
    EXPECT_EQ(*module_pointer<char>(buffer), 'x');
    // A buffer outside the window is not written.
    EXPECT_EQ(exp_GetModuleFileNameA(0, 0x100, 32), 0u);
    EXPECT_EQ(exp_GetModuleFileNameA(0, kModuleSpaceEnd - 4, 32), 0u);

    // GetProcAddress.
    uint32 name = heap_string("Sum3");
    EXPECT_EQ(exp_GetProcAddress(addOn->image_base, name), Export(addOn, "Sum3"));
    EXPECT_EQ(exp_GetProcAddress(addOn->image_base, heap_string("Nope")), 0u);
    EXPECT_EQ(exp_GetProcAddress(0x12345678, name), 0u);
    // Below 0x10000 a name is an ordinal.
    EXPECT_EQ(exp_GetProcAddress(addOn->image_base, 1), Export(addOn, "Sum3"));
    void* hidden = nullptr;
    ASSERT_EQ(pe_get_image_symbol_by_ordinal(addOn, 10, &hidden), B_OK);
    EXPECT_EQ(exp_GetProcAddress(addOn->image_base, 10), uint32(uintptr_t(hidden)));
    EXPECT_EQ(exp_GetProcAddress(addOn->image_base, 0), 0u);
    EXPECT_EQ(exp_GetProcAddress(addOn->image_base, 0xFFFF), 0u);
    EXPECT_EQ(exp_GetProcAddress(addOn->image_base, 0x90000000), 0u);
    EXPECT_EQ(exp_GetProcAddress(kFakeModuleHandle, heap_string("IsTNT")), 0u);
    uint32 feature =
        exp_GetProcAddress(kFakeModuleHandle, heap_string("IsProcessorFeaturePresent"));
    ASSERT_EQ(feature, replacement_address("IsProcessorFeaturePresent"));
    // ... and the address found is callable from module code.
    for (uint32 which : {2u, 3u, 7u, 0u, 1u, 10u}) {
        uint32 present = 99;
        ASSERT_EQ(call_module(feature, {which}, &present), B_OK);
        EXPECT_EQ(present, which == 2 || which == 3 || which == 10 ? 1u : 0u) << which;
    }

    // GetDriverModuleHandle finds the driver by its handle, nothing else.
    driver_t driver;
    driver.module = addOn;
    register_driver(&driver);
    EXPECT_EQ(exp_GetDriverModuleHandle(driver.handle), addOn->image_base);
    EXPECT_EQ(Call(addOn, "DriverModule", {driver.handle}), addOn->image_base);
    EXPECT_EQ(exp_GetDriverModuleHandle(driver.handle + 1), 0u);
    EXPECT_EQ(exp_GetDriverModuleHandle(0), 0u);
    forget_driver(&driver);
    EXPECT_EQ(exp_GetDriverModuleHandle(driver.handle), 0u);

    // LoadLibraryA / FreeLibrary.
    // A name loaded already gives the same image, counted; each FreeLibrary
    // gives one back, and one too many is refused.
    uint32 loaded = exp_LoadLibraryA(heap_string("callloop.dll"));
    ASSERT_NE(loaded, 0u);
    EXPECT_EQ(exp_LoadLibraryA(heap_string("CALLLOOP.DLL")), loaded);
    EXPECT_EQ(exp_FreeLibrary(loaded), 1u);
    EXPECT_NE(pe_get_add_on_from_start(loaded), nullptr);
    EXPECT_EQ(exp_FreeLibrary(loaded), 1u);
    EXPECT_EQ(pe_get_add_on_from_start(loaded), nullptr);
    EXPECT_EQ(exp_FreeLibrary(loaded), 0u);
    // The host's own load is not the module's to give back.
    EXPECT_EQ(exp_FreeLibrary(addOn->image_base), 0u);
    EXPECT_TRUE(pe_is_loaded(addOn));
    testing::internal::CaptureStderr();
    EXPECT_EQ(exp_LoadLibraryA(heap_string("none.dll")), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "could not open file 'none.dll'\n");
    EXPECT_EQ(exp_LoadLibraryA(0), 0u);
    // A Windows path names a module of the decoders folder; nothing outside
    // that folder is reachable.
    loaded = exp_LoadLibraryA(heap_string("C:\\WINDOWS\\SYSTEM\\callloop.dll"));
    ASSERT_NE(loaded, 0u);
    EXPECT_STREQ(pe_get_add_on_from_start(loaded)->name, "callloop.dll");
    exp_FreeLibrary(loaded);
    std::filesystem::copy_file(fDecoders / "callloop.dll", fRoot / "outside.dll");
    for (std::string name :
         {std::string("../../../outside.dll"), (fRoot / "outside.dll").string()}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(exp_LoadLibraryA(heap_string(name.c_str())), 0u) << name;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "could not open file 'outside.dll'\n");
    }
    testing::internal::CaptureStderr();
    EXPECT_EQ(exp_LoadLibraryA(heap_string("C:\\..")), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "could not open file 'C:\\..'\n");
    EXPECT_EQ(exp_DisableThreadLibraryCalls(addOn->image_base), 1u);

    // malloc, operator new and the initialiser table runner.
    uint32 block = exp_new(64);
    EXPECT_TRUE(is_module_heap_pointer(module_pointer<void>(block)));
    exp_delete(block);
    exp_free(0);
    exp_free(0x1234); // not a heap block: ignored
    EXPECT_EQ(exp_initterm(0x1000, 0x2000), 0u);
}
