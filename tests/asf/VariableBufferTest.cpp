#include "asf/VariableBuffer.h"
#include "platform/support/DataIO.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(VariableBuffer, GrowsInWholePagesAndKeepsStorageWhenAsked)
{
    CVariableBuffer buffer;
    EXPECT_EQ(buffer.Data(), nullptr);
    ASSERT_EQ(buffer.Write("x", 1), B_OK);
    EXPECT_EQ(buffer.Length(), 1u);
    EXPECT_EQ(buffer.Capacity(), 4096u);
    void* block = buffer.Data();
    std::vector<char> more(4095, 'y');
    ASSERT_EQ(buffer.Write(more.data(), uint32(more.size())), B_OK);
    EXPECT_EQ(buffer.Data(), block) << "4096 bytes fit without reallocating";
    ASSERT_EQ(buffer.Write("z", 1), B_OK);
    EXPECT_EQ(buffer.Capacity(), 8192u);

    buffer.MakeEmpty(true);
    EXPECT_EQ(buffer.Length(), 0u);
    void* kept = buffer.Data();
    EXPECT_NE(kept, nullptr);
    ASSERT_EQ(buffer.Write("a", 1), B_OK);
    EXPECT_EQ(buffer.Data(), kept);

    buffer.MakeEmpty(false);
    EXPECT_EQ(buffer.Data(), nullptr);
    EXPECT_EQ(buffer.Capacity(), 0u);

    ASSERT_EQ(buffer.Write("", 0), B_OK);
    EXPECT_EQ(buffer.Data(), nullptr) << "an empty write takes no storage";
}

TEST(VariableBuffer, FillsRemovesHeadAndEmpties)
{
    CVariableBuffer buffer;
    ASSERT_EQ(buffer.Write('q', 5), B_OK);
    ASSERT_EQ(buffer.Write("abc", 3), B_OK);
    EXPECT_EQ(memcmp(buffer.Data(), "qqqqqabc", 8), 0);
    buffer.RemoveHead(0);
    EXPECT_EQ(buffer.Length(), 8u);
    buffer.RemoveHead(6);
    EXPECT_EQ(memcmp(buffer.Data(), "bc", 2), 0);
    buffer.RemoveHead(buffer.Length());
    EXPECT_EQ(buffer.Length(), 0u);
    EXPECT_NE(buffer.Data(), nullptr);
    buffer.RemoveHead(10); // more than is there: nothing to take
    EXPECT_EQ(buffer.Length(), 0u);
}

TEST(VariableBuffer, StreamWritesCountOnlyWhatWasRead)
{
    const char source[] = "0123456789";
    BMemoryIO io(static_cast<const void*>(source), 10);
    CVariableBuffer buffer;
    EXPECT_EQ(buffer.WriteFromStream(&io, 4), 4);
    EXPECT_EQ(buffer.WriteFromStream(&io, 100), 6) << "short read at the end of the stream";
    EXPECT_EQ(buffer.Length(), 10u);
    EXPECT_EQ(memcmp(buffer.Data(), source, 10), 0);
    EXPECT_EQ(buffer.WriteFromStream(&io, 5), 0);
    EXPECT_EQ(buffer.Length(), 10u);
    EXPECT_EQ(buffer.WriteFromStream(nullptr, 5), B_BAD_VALUE);
}

TEST(VariableBuffer, AWriteThatCannotBeHeldLeavesTheBufferAsItWas)
{
    CVariableBuffer buffer;
    ASSERT_EQ(buffer.Write("abc", 3), B_OK);
    void* block = buffer.Data();
    EXPECT_EQ(buffer.Write('x', UINT32_MAX), B_NO_MEMORY);
    EXPECT_EQ(buffer.Length(), 3u);
    EXPECT_EQ(buffer.Data(), block);
    EXPECT_EQ(buffer.Capacity(), 4096u);
    BMemoryIO io(static_cast<const void*>("z"), 1);
    EXPECT_EQ(buffer.WriteFromStream(&io, UINT32_MAX - 1), B_NO_MEMORY);
    EXPECT_EQ(io.Position(), 0) << "nothing was read";
    EXPECT_EQ(memcmp(buffer.Data(), "abc", 3), 0);
}
