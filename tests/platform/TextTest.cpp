#include "platform/support/ByteOrder.h"
#include "platform/support/Debug.h"
#include "platform/support/TypeConstants.h"
#include "platform/support/UTF8.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

std::string to_utf8(const std::string& utf16be, int32 dstSize, int32* consumed = nullptr)
{
    std::string out(size_t(dstSize), '\0');
    int32 srcLength = int32(utf16be.size());
    int32 dstLength = dstSize;
    int32 state = 0;
    EXPECT_EQ(convert_to_utf8(B_UNICODE_CONVERSION, utf16be.data(), &srcLength, out.data(),
                              &dstLength, &state),
              B_OK);
    if (consumed != nullptr)
        *consumed = srcLength;
    out.resize(size_t(dstLength));
    return out;
}

} // namespace

TEST(SwapData, SwapsElementsForBigEndianAndRefusesPartialElements)
{
    uint8 words[4] = {0x41, 0x00, 0xE9, 0x00};
    EXPECT_EQ(swap_data(B_INT16_TYPE, words, 4, B_SWAP_HOST_TO_BENDIAN), B_OK);
    EXPECT_EQ(words[0], 0x00);
    EXPECT_EQ(words[1], 0x41);
    EXPECT_EQ(words[3], 0xE9);
    EXPECT_EQ(swap_data(B_INT16_TYPE, words, 4, B_SWAP_HOST_TO_LENDIAN), B_OK);
    EXPECT_EQ(words[1], 0x41) << "little-endian host: no change";
    uint8 quad[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(swap_data(B_INT32_TYPE, quad, 8, B_SWAP_ALWAYS), B_OK);
    EXPECT_EQ(quad[0], 4);
    EXPECT_EQ(quad[4], 8);
    EXPECT_EQ(swap_data(B_INT32_TYPE, quad, 6, B_SWAP_ALWAYS), B_BAD_VALUE);
    EXPECT_EQ(swap_data(B_STRING_TYPE, quad, 8, B_SWAP_ALWAYS), B_BAD_VALUE);
}

TEST(ConvertToUTF8, ConvertsUTF16BigEndianIncludingSurrogatePairs)
{
    // "Aé€" and U+1F600 as a surrogate pair.
    std::string source("\x00\x41\x00\xE9\x20\xAC\xD8\x3D\xDE\x00", 10);
    EXPECT_EQ(to_utf8(source, 64), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

TEST(ConvertToUTF8, SubstitutesBadUnitsAndStopsWhenTheDestinationIsFull)
{
    std::string lone("\xDC\x00\x00\x42", 4); // a lone low surrogate, then "B"
    EXPECT_EQ(to_utf8(lone, 16), std::string("\x1A") + "B");

    int32 consumed = 0;
    std::string cut = to_utf8(std::string("\x00\x41\x20\xAC", 4), 2, &consumed);
    EXPECT_EQ(cut, "A");
    EXPECT_EQ(consumed, 2) << "the euro sign did not fit and stays unconsumed";

    EXPECT_EQ(to_utf8(std::string(), 4), "");
}

TEST(ConvertFromUTF8, ConvertsToUTF16BigEndianAndSubstitutesInvalidBytes)
{
    std::string source = "A\xC3\xA9\xFF";
    char out[16];
    int32 srcLength = int32(source.size());
    int32 dstLength = sizeof(out);
    int32 state = 0;
    ASSERT_EQ(
        convert_from_utf8(B_UNICODE_CONVERSION, source.data(), &srcLength, out, &dstLength, &state),
        B_OK);
    EXPECT_EQ(srcLength, 4);
    EXPECT_EQ(std::string(out, size_t(dstLength)), std::string("\x00\x41\x00\xE9\x00\x1A", 6));

    srcLength = 1;
    EXPECT_EQ(convert_from_utf8(999, "A", &srcLength, out, &dstLength, &state), B_BAD_VALUE);
}

TEST(Debug, PrintsOnlyWithTheDebugFlagButAlwaysReportsFailedChecks)
{
    bool previous = _setDebugFlag(false);
    testing::internal::CaptureStderr();
    _debugPrintf("hidden %d\n", 1);
    EXPECT_FALSE(DEBUG_CHECK(1 + 1 == 3, "1+1==3"));
    EXPECT_TRUE(DEBUG_CHECK(true, "never printed"));
    std::string quiet = testing::internal::GetCapturedStderr();
    EXPECT_EQ(quiet.find("hidden"), std::string::npos);
    EXPECT_NE(quiet.find("TextTest.cpp:"), std::string::npos);
    EXPECT_NE(quiet.find("1+1==3"), std::string::npos);
    EXPECT_EQ(quiet.find("never printed"), std::string::npos);

    _setDebugFlag(true);
    testing::internal::CaptureStderr();
    _debugPrintf("shown %d\n", 2);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "shown 2\n");
    _setDebugFlag(previous);
}
