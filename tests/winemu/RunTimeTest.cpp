// The run-time and system rows that codec modules of other makers use,
// called from module code (tests/modules/runtime.c) once each with their real
// calling conventions; the module marks each call that did the right thing.
#include "ModuleFixture.h"

#include "../modules/runtime-slots.h"

namespace
{

#define RUNTIME_SLOT_NAME(name) #name,
const char* const kSlotNames[] = {RUNTIME_SLOTS(RUNTIME_SLOT_NAME)};
#undef RUNTIME_SLOT_NAME

bool contains(const std::string& text, const char* part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(ModuleTest, EveryRunTimeRowDoesItsWorkFromModuleCode)
{
    pe_add_on_t* addOn = Load("runtime.dll");
    ASSERT_NE(addOn, nullptr);
    uint32* slots = static_cast<uint32*>(module_calloc(kRuntimeSlotCount, sizeof(uint32)));
    ASSERT_NE(slots, nullptr);
    for (uint32 i = 0; i < kRuntimeSlotCount; i++)
        slots[i] = 99; // not reached
    testing::internal::CaptureStderr();
    for (const char* part : {"SystemRows", "StringRows", "MathRows", "FormatAndFileRows"}) {
        uint32 result = 0;
        EXPECT_EQ(call_module(Export(addOn, part), {module_address(slots)}, &result), B_OK) << part;
    }
    std::string errors = testing::internal::GetCapturedStderr();
    for (uint32 i = 0; i < kRuntimeSlotCount; i++)
        EXPECT_EQ(slots[i], 1u) << kSlotNames[i];
    // A message box is seen; the debug output is not, without REELMOTH_DEBUG.
    EXPECT_TRUE(contains(errors, "module message box: caption: message text")) << errors;
    EXPECT_FALSE(contains(errors, "module fault")) << errors;
    EXPECT_FALSE(contains(errors, "narrow debug text")) << errors;
    module_free(slots);
}

TEST_F(ModuleTest, AbortPureCallAndFailedAssertionsEndTheCallNotTheProcess)
{
    pe_add_on_t* addOn = Load("runtime.dll");
    ASSERT_NE(addOn, nullptr);
    const char* said[] = {"abort() called", "pure virtual function called", "assertion failed"};
    for (uint32 which = 0; which < 3; which++) {
        testing::internal::CaptureStderr();
        uint32 result = 0;
        EXPECT_EQ(call_module(Export(addOn, "Abort"), {which}, &result), B_BAD_ADDRESS);
        std::string errors = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(contains(errors, "module fault in 'runtime.dll' at 0x")) << errors;
        EXPECT_TRUE(contains(errors, said[which])) << errors;
    }
    // The thread goes on running module code.
    uint32* slots = static_cast<uint32*>(module_calloc(kRuntimeSlotCount, sizeof(uint32)));
    ASSERT_NE(slots, nullptr);
    Call(addOn, "StringRows", {module_address(slots)});
    EXPECT_EQ(slots[kRt_strlen], 1u);
    module_free(slots);
}
