#include "platform/support/DataIO.h"
#include "platform/storage/File.h"
#include "platform/support/BufferIO.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

std::vector<uint8> counting_bytes(size_t count)
{
    std::vector<uint8> bytes(count);
    for (size_t i = 0; i < count; i++)
        bytes[i] = uint8(i * 7 + (i >> 8));
    return bytes;
}

// Counts the reads that reach the underlying stream.
class CountingIO : public BMemoryIO
{
public:
    using BMemoryIO::BMemoryIO;
    ssize_t ReadAt(off_t position, void* buffer, size_t size) override
    {
        reads++;
        return BMemoryIO::ReadAt(position, buffer, size);
    }
    int reads = 0;
};

} // namespace

TEST(MemoryIO, ReadsSeeksAndRefusesWritesWhenReadOnly)
{
    std::vector<uint8> bytes = counting_bytes(100);
    BMemoryIO io(static_cast<const void*>(bytes.data()), bytes.size());
    uint8 out[10];
    EXPECT_EQ(io.Read(out, 10), 10);
    EXPECT_EQ(out[9], bytes[9]);
    EXPECT_EQ(io.Seek(-5, SEEK_END), 95);
    EXPECT_EQ(io.Read(out, 10), 5);
    EXPECT_EQ(io.Read(out, 10), 0);
    EXPECT_LT(io.Seek(-1, SEEK_SET), 0);
    EXPECT_EQ(io.Position(), 100);
    EXPECT_EQ(io.WriteAt(0, out, 1), B_NOT_ALLOWED);
}

TEST(MallocIO, GrowsOnWriteAndZeroFillsGaps)
{
    BMallocIO io;
    EXPECT_EQ(io.WriteAt(10, "abc", 3), 3);
    EXPECT_EQ(io.BufferLength(), 13u);
    const char* data = static_cast<const char*>(io.Buffer());
    EXPECT_EQ(data[0], 0);
    EXPECT_EQ(std::string(data + 10, 3), "abc");
    io.Seek(0, SEEK_END);
    EXPECT_EQ(io.Write("de", 2), 2);
    off_t size = 0;
    EXPECT_EQ(io.GetSize(&size), B_OK);
    EXPECT_EQ(size, 15);
}

TEST(BufferIO, ServesSmallReadsFromOneUnderlyingRead)
{
    std::vector<uint8> bytes = counting_bytes(5000);
    CountingIO source(static_cast<const void*>(bytes.data()), bytes.size());
    BBufferIO io(&source, 4096, false);
    std::vector<uint8> out(bytes.size());
    size_t done = 0;
    for (size_t step = 1; done < bytes.size(); step = step % 13 + 1) {
        ssize_t got = io.Read(out.data() + done, min_c(step, bytes.size() - done));
        ASSERT_GT(got, 0);
        done += size_t(got);
    }
    EXPECT_EQ(out, bytes);
    EXPECT_EQ(source.reads, 2); // 4096 + the rest
    EXPECT_EQ(source.Position(), 0) << "the underlying position is left alone";
}

TEST(BufferIO, SeeksAndLargeReadsAcrossTheBuffer)
{
    std::vector<uint8> bytes = counting_bytes(100000);
    CountingIO source(static_cast<const void*>(bytes.data()), bytes.size());
    BBufferIO io(&source, 1024, false);
    uint8 one;
    ASSERT_EQ(io.Read(&one, 1), 1);
    EXPECT_EQ(io.Seek(500, SEEK_CUR), 501);
    ASSERT_EQ(io.Read(&one, 1), 1);
    EXPECT_EQ(one, bytes[501]);
    EXPECT_EQ(source.reads, 1);

    std::vector<uint8> big(50000);
    ASSERT_EQ(io.Read(big.data(), big.size()), ssize_t(big.size()));
    EXPECT_TRUE(std::equal(big.begin(), big.end(), bytes.begin() + 502));
    EXPECT_EQ(io.Position(), 50502);

    EXPECT_EQ(io.Seek(-2, SEEK_END), 99998);
    uint8 tail[8];
    EXPECT_EQ(io.Read(tail, sizeof(tail)), 2);
    EXPECT_EQ(tail[1], bytes[99999]);
    EXPECT_EQ(io.Read(tail, sizeof(tail)), 0);
    EXPECT_EQ(io.Seek(-1, SEEK_SET), B_BAD_VALUE);
}

TEST(File, OpensReadsAndReportsMissingFiles)
{
    char path[] = "/tmp/reelmoth-file-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "hello world", 11), 11);
    close(fd);

    BFile file(path, B_READ_ONLY);
    ASSERT_EQ(file.InitCheck(), B_OK);
    char buffer[16] = {};
    EXPECT_EQ(file.ReadAt(6, buffer, 5), 5);
    EXPECT_STREQ(buffer, "world");
    EXPECT_EQ(file.Position(), 0);
    EXPECT_EQ(file.Read(buffer, 5), 5);
    EXPECT_EQ(file.Position(), 5);
    off_t size = 0;
    EXPECT_EQ(file.GetSize(&size), B_OK);
    EXPECT_EQ(size, 11);
    EXPECT_FALSE(file.IsWritable());
    EXPECT_LT(file.Write("x", 1), 0);
    unlink(path);

    BFile missing("/nonexistent/reelmoth", B_READ_ONLY);
    EXPECT_EQ(missing.InitCheck(), B_ENTRY_NOT_FOUND);
    EXPECT_EQ(missing.Read(buffer, 1), B_NO_INIT);
    BFile directory("/tmp", B_READ_ONLY);
    EXPECT_EQ(directory.InitCheck(), B_IS_A_DIRECTORY);
}
