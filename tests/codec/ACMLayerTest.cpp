// The driver call layer against the test driver: identifiers, size queries,
// header preparation and conversion flags as the driver sees them.
#include "CodecFixture.h"

#include "codec/Driver.h"
#include "registry/RegistryAPI.h"

#include <cstring>

namespace
{

// A copy of `format` in the module address space, freed with module_free.
tWAVEFORMATEX* module_format(uint16 tag, uint16 channels, uint32 rate, uint16 blockAlign,
                             uint16 bits, uint16 samplesPerBlock = 0)
{
    size_t size = sizeof(tWAVEFORMATEX) + (samplesPerBlock != 0 ? 2 : 0);
    tWAVEFORMATEX* format = static_cast<tWAVEFORMATEX*>(module_calloc(1, size));
    format->wFormatTag = tag;
    format->nChannels = channels;
    format->nSamplesPerSec = rate;
    format->nBlockAlign = blockAlign;
    format->wBitsPerSample = bits;
    if (samplesPerBlock != 0) {
        format->cbSize = 2;
        memcpy(reinterpret_cast<uint8*>(format) + sizeof(tWAVEFORMATEX), &samplesPerBlock, 2);
    }
    return format;
}

} // namespace

TEST_F(CodecTest, DriversGetConsecutiveIdentifiersAndKeepTheirAnswer)
{
    driver_t* first = nullptr;
    driver_t* second = nullptr;
    uint32 offered = gNextDriverID.load();
    ASSERT_EQ(acmDriverOpen(&first, "testacm.acm", 0, 0), 0);
    ASSERT_EQ(acmDriverOpen(&second, "testacm.acm", 0, 0), 0);
    // The driver answers DRV_OPEN with 0x5EED0000 plus the identifier offered.
    EXPECT_EQ(first->id, 0x5EED0000u | offered);
    EXPECT_EQ(second->id, 0x5EED0000u | (offered + 1));
    EXPECT_EQ(gNextDriverID.load(), offered + 2);
    EXPECT_NE(first->module, second->module) << "a second open loads a second copy";

    driver_t* missing = reinterpret_cast<driver_t*>(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(acmDriverOpen(&missing, "nothere.acm", 0, 0), -1);
    EXPECT_EQ(acmDriverOpen(&missing, "noproc.acm", 0, 0), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(gNextDriverID.load(), offered + 2) << "failed opens use no identifier";

    EXPECT_EQ(acmDriverClose(first, 0), 0);
    EXPECT_EQ(acmDriverClose(second, 0), 0);
}

TEST_F(CodecTest, StreamRequestsReachTheDriverAsItExpectsThem)
{
    driver_t* driver = nullptr;
    ASSERT_EQ(acmDriverOpen(&driver, "testacm.acm", 0, 0), 0);
    tWAVEFORMATEX* ima = module_format(0x11, 2, 44100, 2048, 4, 2041);
    tWAVEFORMATEX* pcm = module_format(1, 2, 44100, 4, 16);
    tWAVEFORMATEX* pcm22 = module_format(1, 2, 22050, 4, 16);

    acm_stream_t* stream = reinterpret_cast<acm_stream_t*>(0x1234);
    EXPECT_EQ(acmStreamOpen(&stream, driver, ima, pcm22, nullptr, 0, 0, 0),
              int32(ACMERR_NOTPOSSIBLE));
    EXPECT_EQ(stream, reinterpret_cast<acm_stream_t*>(0x1234)) << "not written on failure";
    tWAVEFORMATEX onStack = *pcm;
    EXPECT_EQ(acmStreamOpen(&stream, driver, ima, &onStack, nullptr, 0, 0, 0),
              int32(MMSYSERR_INVALPARAM))
        << "structures outside the module address space are refused";

    ASSERT_EQ(acmStreamOpen(&stream, driver, ima, pcm, nullptr, 7, 8, 0), 0);
    EXPECT_EQ(stream->instance->cbStruct, 40u);
    EXPECT_EQ(stream->instance->dwCallback, 7u);
    // The driver sees a number as the stream handle; the record is the host's.
    EXPECT_EQ(stream->instance->has, stream->handle);
    EXPECT_EQ(module_address(stream), 0u);
    EXPECT_NE(stream->instance->dwDriver, 0u) << "the driver keeps its state there";

    uint32 size = 0;
    EXPECT_EQ(acmStreamSize(stream, 4096, &size, ACM_STREAMSIZEF_SOURCE), 0);
    EXPECT_EQ(size, 2u * 2041 * 2 * 2) << "two blocks of 2041 stereo samples";
    EXPECT_EQ(acmStreamSize(stream, 2u * 2041 * 2 * 2, &size, ACM_STREAMSIZEF_DESTINATION), 0);
    EXPECT_EQ(size, 4096u);
    EXPECT_EQ(acmStreamSize(stream, 100, &size, ACM_STREAMSIZEF_SOURCE), int32(ACMERR_NOTPOSSIBLE));

    tACMSTREAMHEADER* header =
        static_cast<tACMSTREAMHEADER*>(module_calloc(1, sizeof(tACMSTREAMHEADER)));
    uint8* source = static_cast<uint8*>(module_calloc(1, 2048));
    uint8* destination = static_cast<uint8*>(module_calloc(1, 2041 * 4));
    header->cbStruct = sizeof(tACMSTREAMHEADER);
    header->pbSrc = module_address(source);
    header->cbSrcLength = 2048;
    header->pbDst = module_address(destination);
    header->cbDstLength = 2041 * 4;
    // The driver answers MMSYSERR_NOTSUPPORTED: that counts as prepared.
    EXPECT_EQ(acmStreamPrepareHeader(stream, header, 0), 0);
    EXPECT_TRUE(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
    EXPECT_EQ(acmStreamConvert(stream, header, 0x14), 0);
    EXPECT_EQ(header->dwReservedDriver[0], 0x14u);
    EXPECT_EQ(header->cbSrcLengthUsed, 2048u);
    EXPECT_EQ(header->cbDstLengthUsed, 2041u * 4);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, header, 0), 0);
    EXPECT_FALSE(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);

    EXPECT_EQ(acmStreamClose(stream, 0), 0);
    module_free(header);
    module_free(source);
    module_free(destination);
    module_free(ima);
    module_free(pcm);
    module_free(pcm22);
    acmDriverClose(driver, 0);
}

namespace
{

// A DWORD value of the test driver's registry key, read as a module would.
uint32 driver_setting(const char* name)
{
    char* key = static_cast<char*>(module_malloc(64));
    char* value = static_cast<char*>(module_malloc(64));
    uint32* handle = static_cast<uint32*>(module_calloc(4, sizeof(uint32)));
    strcpy(key, "Software\\Reelmoth\\TestACM");
    strcpy(value, name);
    uint32 result = 0xFFFFFFFF;
    if (exp_RegOpenKeyExA(HKEY_CURRENT_USER, module_address(key), 0, 0, module_address(handle)) ==
        ERROR_SUCCESS) {
        handle[1] = 0; // type
        handle[3] = 4; // size
        if (exp_RegQueryValueExA(handle[0], module_address(value), 0, module_address(&handle[1]),
                                 module_address(&handle[2]),
                                 module_address(&handle[3])) == ERROR_SUCCESS)
            result = handle[2];
        exp_RegCloseKey(handle[0]);
    }
    module_free(key);
    module_free(value);
    module_free(handle);
    return result;
}

} // namespace

TEST_F(CodecTest, ADriverKeepsItsSettingAndHearsNothingWhenClosed)
{
    uint32 opened = driver_setting("OpenCount");
    {
        CACMCodec codec("testacm.acm");
        ASSERT_EQ(codec.InitCheck(), B_OK);
        EXPECT_EQ(driver_setting("OpenCount"), opened == 0xFFFFFFFF ? 1 : opened + 1);
    }
    // The driver wrote down, as it was unloaded, the closing messages it got.
    EXPECT_EQ(driver_setting("CloseMessages"), 0u);
    EXPECT_EQ(pe_first_add_on(), nullptr);
}
