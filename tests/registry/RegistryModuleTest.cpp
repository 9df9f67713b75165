// The registry functions as codec modules reach them: a real PE module
// (tests/modules/registry.c) calls its imports, bound through the import
// table, with the Win32 calling convention.
#include "registry/RegistryAPI.h"
#include "registry/RegistryNode.h"

#include "../winemu/ModuleFixture.h"

#include <cstring>
#include <string>

namespace
{

class RegistryModuleTest : public ModuleTest
{
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        fModule = Load("registry.dll");
        ASSERT_NE(fModule, nullptr);
        fOut = Word(0x55555555);
        fDisposition = Word(0);
    }

    uint32 Word(uint32 value)
    {
        uint32* block = static_cast<uint32*>(module_calloc(1, 4));
        *block = value;
        return module_address(block);
    }

    static uint32 Get(uint32 address) { return *module_pointer<uint32>(address); }
    static void Set(uint32 address, uint32 value) { *module_pointer<uint32>(address) = value; }

    int32 Run(const char* function, std::initializer_list<uint32> args)
    {
        return int32(Call(fModule, function, args));
    }

    // Opens `name` below `key` from module code; the handle, or 0.
    uint32 OpenKey(uint32 key, const char* name)
    {
        return Run("OpenEx", {key, heap_string(name), fOut}) == 0 ? Get(fOut) : 0;
    }

    uint32 CreateKey(uint32 key, const char* name, uint32* disposition = nullptr)
    {
        int32 status =
            Run("CreateEx", {key, name != nullptr ? heap_string(name) : 0, fOut, fDisposition});
        if (disposition != nullptr)
            *disposition = Get(fDisposition);
        return status == 0 ? Get(fOut) : 0;
    }

    int32 SetString(uint32 key, const char* name, const char* text)
    {
        return Run("SetValue", {key, name != nullptr ? heap_string(name) : 0, REG_SZ,
                                heap_string(text), uint32(strlen(text) + 1)});
    }

    // Runs a call that must print "INVALID KEY" and give 6.
    void ExpectInvalid(const char* function, std::initializer_list<uint32> args)
    {
        testing::internal::CaptureStdout();
        int32 status = Run(function, args);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "INVALID KEY\n") << function;
        EXPECT_EQ(status, ERROR_INVALID_HANDLE) << function;
    }

    pe_add_on_t* fModule = nullptr;
    uint32 fOut = 0;
    uint32 fDisposition = 0;
};

} // namespace

TEST_F(RegistryModuleTest, OpensKeysByOneNameEachAndKeepsHandles)
{
    uint32 software = OpenKey(HKEY_CURRENT_USER, "SOFTWARE");
    ASSERT_NE(software, 0u);
    EXPECT_TRUE(is_module_range(software, 4)) << "a handle is a module address";
    EXPECT_EQ(OpenKey(software, "Microcrap"), OpenKey(software, "Microcrap"));

    // Names are not split at backslashes.
    EXPECT_EQ(Run("OpenEx", {HKEY_CURRENT_USER, heap_string("SOFTWARE\\Microcrap"), fOut}),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Get(fOut), kInvalidKeyHandle);
    uint32 joined = CreateKey(HKEY_CURRENT_USER, "SOFTWARE\\Microcrap");
    ASSERT_NE(joined, 0u);
    EXPECT_NE(gRootNode.FindChild("HKEY_CURRENT_USER")->FindChild("SOFTWARE\\Microcrap"), nullptr);
    EXPECT_EQ(Run("Open", {software, heap_string("microcrap"), fOut}), ERROR_FILE_NOT_FOUND)
        << "case matters";

    // An empty or missing name gives back the handle passed in, even a
    // predefined one, and even one of no key.
    EXPECT_EQ(Run("OpenEx", {HKEY_LOCAL_MACHINE, heap_string(""), fOut}), 0);
    EXPECT_EQ(Get(fOut), HKEY_LOCAL_MACHINE);
    EXPECT_EQ(Run("Open", {HKEY_CLASSES_ROOT, 0, fOut}), 0);
    EXPECT_EQ(Get(fOut), HKEY_CLASSES_ROOT);
    EXPECT_EQ(Run("Open", {software, 0, fOut}), 0);
    EXPECT_EQ(Get(fOut), software);

    // Closing does nothing: the handle keeps working.
    EXPECT_EQ(Run("Close", {software}), 0);
    EXPECT_EQ(Run("Close", {0x12345678}), 0);
    EXPECT_NE(OpenKey(software, "Microcrap"), 0u);
}

TEST_F(RegistryModuleTest, CreatesKeysOnceAndReportsWhetherTheyWereNew)
{
    uint32 disposition = 0;
    uint32 config = HKEY_CURRENT_CONFIG;
    uint32 first = CreateKey(config, "Codec", &disposition);
    ASSERT_NE(first, 0u);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(CreateKey(config, "Codec", &disposition), first);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(Run("Create", {config, heap_string("Codec"), fOut}), 0);
    EXPECT_EQ(Get(fOut), first);
    EXPECT_EQ(Run("CreateEx", {first, heap_string("child"), fOut, 0}), 0) << "no disposition";

    // An empty name makes a key named by the empty string, once.
    uint32 empty = CreateKey(first, "", &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(CreateKey(first, "", &disposition), empty);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(CreateKey(first, nullptr, &disposition), empty) << "null below a key is empty";
    // A null name below a predefined key gives that key back.
    EXPECT_EQ(CreateKey(HKEY_USERS, nullptr), HKEY_USERS);
}

TEST_F(RegistryModuleTest, SetsAndQueriesValuesWithTheSizeRules)
{
    uint32 key = CreateKey(HKEY_CURRENT_CONFIG, "Values");
    ASSERT_NE(key, 0u);
    ASSERT_EQ(SetString(key, "name", "first"), 0);
    ASSERT_EQ(SetString(key, "name", "second"), 0);
    EXPECT_EQ(gRootNode.FindChild("HKEY_CURRENT_CONFIG")->FindChild("Values")->Values().size(), 1u);

    uint32 type = Word(0);
    uint32 size = Word(7);
    uint32 buffer = module_address(module_calloc(1, 64));
    uint32 name = heap_string("name");
    // One byte short: the type and the needed size, buffer untouched.
    Set(size, 6);
    EXPECT_EQ(Run("QueryEx", {key, name, type, buffer, size}), ERROR_MORE_DATA);
    EXPECT_EQ(Get(type), REG_SZ);
    EXPECT_EQ(Get(size), 7u);
    EXPECT_EQ(module_pointer<char>(buffer)[0], '\0');
    // Exactly the size: all of it.
    EXPECT_EQ(Run("QueryEx", {key, name, type, buffer, size}), 0);
    EXPECT_STREQ(module_pointer<char>(buffer), "second");
    // No size pointer: nothing copied, even into a buffer.
    memset(module_pointer<char>(buffer), 0, 64);
    EXPECT_EQ(Run("QueryEx", {key, name, type, buffer, 0}), 0);
    EXPECT_EQ(module_pointer<char>(buffer)[0], '\0');
    // No buffer: the size alone.
    Set(size, 0);
    EXPECT_EQ(Run("QueryEx", {key, name, 0, 0, size}), ERROR_MORE_DATA);
    Set(size, 100);
    EXPECT_EQ(Run("QueryEx", {key, name, 0, 0, size}), 0);
    EXPECT_EQ(Get(size), 7u);
    Set(type, 99);
    EXPECT_EQ(Run("QueryEx", {key, heap_string("missing"), type, buffer, size}),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Get(type), 99u) << "nothing written";

    // The default value: set with a null name, read as "@" and through
    // RegQueryValueA with a null or empty sub-key, or a sub-key's.
    ASSERT_EQ(SetString(key, nullptr, "default"), 0);
    Set(size, 64);
    EXPECT_EQ(Run("QueryEx", {key, heap_string("@"), 0, buffer, size}), 0);
    EXPECT_STREQ(module_pointer<char>(buffer), "default");
    Set(size, 64);
    EXPECT_EQ(Run("Query", {key, 0, buffer, size}), 0);
    EXPECT_EQ(Get(size), 8u);
    Set(size, 64);
    EXPECT_EQ(Run("Query", {key, heap_string(""), buffer, size}), 0);
    uint32 parent = OpenKey(HKEY_CURRENT_USER, "SOFTWARE");
    ASSERT_EQ(SetString(parent, "", "not this one"), 0);
    Set(size, 64);
    memset(module_pointer<char>(buffer), 0, 64);
    EXPECT_EQ(Run("Query", {HKEY_CURRENT_CONFIG, heap_string("Values"), buffer, size}), 0);
    EXPECT_STREQ(module_pointer<char>(buffer), "default");
    Set(size, 3);
    EXPECT_EQ(Run("Query", {HKEY_CURRENT_CONFIG, heap_string("Values"), buffer, size}),
              ERROR_MORE_DATA);
    EXPECT_EQ(Run("Query", {HKEY_CURRENT_CONFIG, heap_string("Nothing"), buffer, size}),
              ERROR_FILE_NOT_FOUND);

    // A NULL handle stores nothing and succeeds.
    EXPECT_EQ(SetString(0, "ghost", "x"), 0);
    // A codec's round: open, create, set, query, close from module code.
    EXPECT_EQ(Run("Settings", {42}), 0);
    registry_node* scrunch = gRootNode.FindChild("HKEY_CURRENT_USER")
                                 ->FindChild("SOFTWARE")
                                 ->FindChild("Microcrap")
                                 ->FindChild("Scrunch");
    ASSERT_NE(scrunch, nullptr);
    EXPECT_EQ(scrunch->FindValue("Quality")->DwordValue(), 42);
}

TEST_F(RegistryModuleTest, HandlesOfNoKeyPrintInvalidKey)
{
    uint32 name = heap_string("SOFTWARE");
    uint32 type = Word(0), size = Word(4), data = Word(0);
    // HKEY_CLASSES_ROOT is not recognised; the default tree has no HKEY_USERS.
    for (uint32 key : std::initializer_list<uint32>{HKEY_CLASSES_ROOT, HKEY_USERS, 0xDEADBEEFu,
                                                    0x12345678u, data}) {
        Set(fOut, 0x55555555);
        ExpectInvalid("OpenEx", {key, name, fOut});
        ExpectInvalid("Open", {key, name, fOut});
        ExpectInvalid("CreateEx", {key, name, fOut, fDisposition});
        ExpectInvalid("Create", {key, name, fOut});
        ExpectInvalid("SetValue", {key, name, REG_DWORD, data, 4});
        ExpectInvalid("QueryEx", {key, name, type, data, size});
        ExpectInvalid("Query", {key, name, data, size});
        ExpectInvalid("Query", {key, 0, data, size});
        EXPECT_EQ(Get(fOut), 0x55555555u) << "out-parameters untouched";
        EXPECT_EQ(Run("Close", {key}), 0);
        EXPECT_EQ(Run("OpenEx", {key, 0, fOut}), 0);
    }
    // A NULL handle: no key to open below, nothing to set.
    ExpectInvalid("OpenEx", {0, name, fOut});
    EXPECT_EQ(Run("SetValue", {0, name, REG_DWORD, data, 4}), 0);
}

TEST_F(RegistryModuleTest, EveryImportRemovesExactlyItsArguments)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(Run("StackLoop", {20}), 0);
    testing::internal::GetCapturedStdout();
}
