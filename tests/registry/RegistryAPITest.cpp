// The registry functions called from the host with module addresses, for
// what module code cannot reach easily: bad pointers, the depth limit,
// several threads at once. The same functions called from module code are
// in RegistryModuleTest.cpp.
#include "registry/RegistryAPI.h"
#include "registry/RegistryNode.h"

#include "platform/app/Message.h"
#include "platform/kernel/ModuleSpace.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{

// Module memory for the arguments of one test; freed at the end.
class ModuleMemory
{
public:
    ~ModuleMemory()
    {
        for (void* block : fBlocks)
            module_free(block);
    }

    uint32 String(const char* text)
    {
        uint32 address = Bytes(strlen(text) + 1);
        memcpy(module_pointer<char>(address), text, strlen(text) + 1);
        return address;
    }

    uint32 Bytes(size_t size)
    {
        void* block = module_calloc(1, size);
        fBlocks.push_back(block);
        return module_address(block);
    }

    uint32 Word(uint32 value)
    {
        uint32 address = Bytes(4);
        Set(address, value);
        return address;
    }

    static uint32 Get(uint32 address) { return *module_pointer<uint32>(address); }
    static void Set(uint32 address, uint32 value) { *module_pointer<uint32>(address) = value; }

private:
    std::vector<void*> fBlocks;
};

// Runs `call`, expecting it to print "INVALID KEY" and give 6.
template <typename Call>
void expect_invalid_key(Call call, const char* what)
{
    testing::internal::CaptureStdout();
    int32 status = call();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "INVALID KEY\n") << what;
    EXPECT_EQ(status, ERROR_INVALID_HANDLE) << what;
}

} // namespace

TEST(RegistryAPI, RefusesPointersOutsideTheModuleAddressSpace)
{
    ModuleMemory memory;
    uint32 out = memory.Word(0x12345678);
    uint32 software = memory.String("SOFTWARE");
    const uint32 outside[] = {0x1000, 0x7FFFFFF0, 0x90000000, 0xFFFFFFFC};
    for (uint32 bad : outside) {
        EXPECT_EQ(exp_RegOpenKeyExA(HKEY_CURRENT_USER, bad, 0, 0, out), ERROR_NOACCESS);
        EXPECT_EQ(exp_RegOpenKeyA(HKEY_CURRENT_USER, software, bad), ERROR_NOACCESS);
        EXPECT_EQ(exp_RegCreateKeyExA(HKEY_CURRENT_USER, software, 0, 0, 0, 0, 0, out, bad),
                  ERROR_NOACCESS);
        EXPECT_EQ(exp_RegSetValueExA(HKEY_CURRENT_USER, bad, 0, REG_DWORD, out, 4), ERROR_NOACCESS);
        EXPECT_EQ(exp_RegSetValueExA(HKEY_CURRENT_USER, 0, 0, REG_BINARY, bad, 16), ERROR_NOACCESS);
        EXPECT_EQ(exp_RegQueryValueA(HKEY_CURRENT_USER, bad, out, out), ERROR_NOACCESS);
    }
    EXPECT_EQ(ModuleMemory::Get(out), 0x12345678u) << "nothing written";
    EXPECT_EQ(exp_RegOpenKeyExA(HKEY_CURRENT_USER, software, 0, 0, 0), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(exp_RegCreateKey(HKEY_CURRENT_USER, software, 0), ERROR_INVALID_PARAMETER);
    // A data block that runs past the end of the address space.
    EXPECT_EQ(exp_RegSetValueExA(HKEY_CURRENT_USER, 0, 0, REG_BINARY, kModuleSpaceEnd - 8, 16),
              ERROR_NOACCESS);
    // No bytes: any pointer will do.
    EXPECT_EQ(exp_RegSetValueExA(HKEY_CURRENT_CONFIG, 0, 0, REG_BINARY, 0x90000000, 0),
              ERROR_SUCCESS);

    // Queries check every pointer before writing anything, and the buffer
    // only for the bytes of the value.
    uint32 name = memory.String("pointers");
    uint32 data = memory.Word(7);
    ASSERT_EQ(exp_RegSetValueExA(HKEY_CURRENT_CONFIG, name, 0, REG_DWORD, data, 4), 0);
    uint32 type = memory.Word(0);
    uint32 size = memory.Word(4);
    EXPECT_EQ(exp_RegQueryValueExA(HKEY_CURRENT_CONFIG, name, 0, type, 0x1000, size),
              ERROR_NOACCESS);
    EXPECT_EQ(exp_RegQueryValueExA(HKEY_CURRENT_CONFIG, name, 0, 0x1000, data, size),
              ERROR_NOACCESS);
    EXPECT_EQ(exp_RegQueryValueExA(HKEY_CURRENT_CONFIG, name, 0, type, data, 0x1000),
              ERROR_NOACCESS);
    EXPECT_EQ(ModuleMemory::Get(type), 0u);
    uint32 end = kModuleSpaceEnd - 4;
    ModuleMemory::Set(size, 0xFFFFFFFF);
    EXPECT_EQ(exp_RegQueryValueExA(HKEY_CURRENT_CONFIG, name, 0, type, end, size), ERROR_SUCCESS)
        << "four bytes fit at the very end";
}

TEST(RegistryAPI, RefusesKeysDeeperThanTheStoredFormHolds)
{
    ModuleMemory memory;
    uint32 name = memory.String("deep");
    uint32 out = memory.Word(0);
    uint32 key = HKEY_CURRENT_CONFIG;
    for (int32 depth = 2; depth <= 512; depth++) {
        ASSERT_EQ(exp_RegCreateKey(key, name, out), ERROR_SUCCESS) << depth;
        key = ModuleMemory::Get(out);
    }
    EXPECT_EQ(exp_RegCreateKey(key, name, out), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ModuleMemory::Get(out), key);

    // The deepest key still saves and loads.
    BMessage stored;
    ASSERT_EQ(gRootNode.Save(&stored), B_OK);
    BMallocIO flat;
    ASSERT_EQ(stored.Flatten(&flat), B_OK);
    flat.Seek(0, SEEK_SET);
    BMessage back;
    EXPECT_EQ(back.Unflatten(&flat), B_OK);
}

TEST(RegistryAPI, SerialisesCallsFromSeveralThreads)
{
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&failures, t] {
            ModuleMemory memory;
            uint32 out = memory.Word(0);
            uint32 shared = memory.String("shared");
            uint32 own = memory.String(("thread" + std::to_string(t)).c_str());
            uint32 data = memory.Word(0);
            uint32 size = memory.Word(4);
            for (int i = 0; i < 500; i++) {
                if (exp_RegCreateKey(HKEY_LOCAL_MACHINE, shared, out) != 0)
                    failures++;
                uint32 key = ModuleMemory::Get(out);
                ModuleMemory::Set(data, uint32(i));
                if (exp_RegSetValueExA(key, own, 0, REG_DWORD, data, 4) != 0)
                    failures++;
                ModuleMemory::Set(size, 4);
                if (exp_RegQueryValueExA(key, own, 0, 0, data, size) != 0 ||
                    ModuleMemory::Get(data) != uint32(i))
                    failures++;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    registry_node* shared = gRootNode.FindChild("HKEY_LOCAL_MACHINE")->FindChild("shared");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->Values().size(), 4u);
    EXPECT_EQ(gRootNode.FindChild("HKEY_LOCAL_MACHINE")->Children().size(), 2u);
}
