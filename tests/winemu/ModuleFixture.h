// Test modules in a decoders folder of their own: XDG_DATA_HOME points at a
// fresh temporary folder for the test, and the built modules are copied
// into its reelmoth/media/decoders.
#pragma once

#include "platform/kernel/ModuleSpace.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/loader/pe_add_on.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class ModuleTest : public testing::Test
{
protected:
    void SetUp() override
    {
        // Set by ctest for the tests it also runs as the codec host runs
        // module code: the window guarded, reads bounds-checked with the
        // host's faults taken as the module's.
        if (getenv("REELMOTH_TEST_GUARDED") != nullptr) {
            ASSERT_EQ(module_space_guard(), B_OK);
            ASSERT_EQ(install_module_fault_handler(), B_OK);
        }
        char pattern[] = "/tmp/reelmoth-modules-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        fRoot = pattern;
        fDecoders = fRoot / "reelmoth/media/decoders";
        std::filesystem::create_directories(fDecoders);
        setenv("XDG_DATA_HOME", fRoot.c_str(), 1);
        for (const auto& entry : std::filesystem::directory_iterator(REELMOTH_TEST_MODULES)) {
            std::string name = entry.path().filename();
            if (name.ends_with(".dll") || name.ends_with(".exe"))
                std::filesystem::copy_file(entry.path(), fDecoders / name);
        }
    }

    void TearDown() override
    {
        pe_unload_all();
        std::filesystem::remove_all(fRoot);
    }

    std::vector<uint8> Bytes(const std::string& module) const
    {
        std::ifstream in(fDecoders / module, std::ios::binary);
        return std::vector<uint8>(std::istreambuf_iterator<char>(in), {});
    }

    void Write(const std::string& name, const std::vector<uint8>& bytes) const
    {
        std::ofstream out(fDecoders / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    void Copy(const std::string& from, const std::string& to) const
    {
        std::filesystem::copy_file(fDecoders / from, fDecoders / to,
                                   std::filesystem::copy_options::overwrite_existing);
    }

    // Loads, checking that nothing went to stderr.
    pe_add_on_t* Load(const char* name)
    {
        testing::internal::CaptureStderr();
        pe_add_on_t* addOn = pe_load_add_on(name);
        std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(errors, "") << name;
        return addOn;
    }

    // Loads what must fail; returns what went to stderr.
    std::string LoadFails(const char* name)
    {
        testing::internal::CaptureStderr();
        pe_add_on_t* addOn = pe_load_add_on(name);
        std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_EQ(addOn, nullptr) << name;
        if (addOn != nullptr)
            pe_unload_add_on(addOn);
        return errors;
    }

    static uint32 Export(pe_add_on_t* addOn, const char* name)
    {
        void* address = nullptr;
        EXPECT_EQ(pe_get_image_symbol(addOn, name, &address), B_OK) << name;
        return uint32(reinterpret_cast<uintptr_t>(address));
    }

    static uint32 Call(pe_add_on_t* addOn, const char* name,
                       std::initializer_list<uint32> args = {})
    {
        uint32 result = 0xBAD0BAD0;
        EXPECT_EQ(call_module(Export(addOn, name), args, &result), B_OK) << name;
        return result;
    }

    std::filesystem::path fRoot;
    std::filesystem::path fDecoders;
};

// A copy of `text` on the module heap, for passing to module code.
inline uint32 heap_string(const char* text)
{
    size_t length = strlen(text) + 1;
    void* block = module_malloc(length);
    memcpy(block, text, length);
    return module_address(block);
}

// Little-endian access to a file image.
inline uint32 read32(const std::vector<uint8>& bytes, size_t offset)
{
    return uint32(bytes[offset]) | uint32(bytes[offset + 1]) << 8 |
           uint32(bytes[offset + 2]) << 16 | uint32(bytes[offset + 3]) << 24;
}

inline void write32(std::vector<uint8>& bytes, size_t offset, uint32 value)
{
    for (int i = 0; i < 4; i++)
        bytes[offset + i] = uint8(value >> (8 * i));
}

inline void write16(std::vector<uint8>& bytes, size_t offset, uint16 value)
{
    bytes[offset] = uint8(value);
    bytes[offset + 1] = uint8(value >> 8);
}

// Offsets of the headers in a PE file image.
struct pe_layout {
    size_t coff;     // the COFF file header (after "PE\0\0")
    size_t optional; // the optional header
    size_t sections; // the first section header

    explicit pe_layout(const std::vector<uint8>& bytes)
    {
        coff = read32(bytes, 0x3C) + 4;
        optional = coff + 20;
        sections = optional + 96 + 8 * read32(bytes, optional + 92);
    }
};
