// Damaged real files: every mutation ends in an error or a clean end of
// data, never a crash, a hang or a read outside the data.
#include "ASFTestSink.h"
#include "asf/VariableBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace
{

std::vector<std::string> generated_files()
{
    std::vector<std::string> files;
    std::string folder = std::string(REELMOTH_TEST_DATA) + "/asf";
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                files.push_back(folder + "/" + entry->d_name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8> load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8>(std::istreambuf_iterator<char>(in), {});
}

struct collecting_sink {
    CVariableBuffer buffers[CASFExtractor::kMaxStreams];
    static void Stream(int32 stream, BDataIO* io, uint32 length, void* cookie)
    {
        static_cast<collecting_sink*>(cookie)->buffers[stream].WriteFromStream(io, length);
    }
    static void Done(int32 stream, bool, uint32, void* cookie)
    {
        static_cast<collecting_sink*>(cookie)->buffers[stream].MakeEmpty(true);
    }
    static void Skip(int32 stream, void* cookie) { Done(stream, false, 0, cookie); }
};

// Parses and walks `bytes`; fails the test if the walk does not end.
void walk(const std::vector<uint8>& bytes)
{
    BMemoryIO io(static_cast<const void*>(bytes.data()), bytes.size());
    CASFExtractor extractor(&io);
    if (extractor.InitCheck() != B_OK)
        return;
    collecting_sink sink;
    size_t packets = 0;
    status_t status;
    // Every packet moves the walk on by at least one byte.
    while ((status = extractor.ReadOn(collecting_sink::Stream, collecting_sink::Done,
                                      collecting_sink::Skip, &sink)) == B_OK) {
        ASSERT_LE(++packets, bytes.size()) << "the walk does not end";
    }
    EXPECT_TRUE(status == CASFExtractor::kEndOfData || status < B_OK) << status;
}

} // namespace

TEST(ASFCorruption, GeneratedFilesAreThere)
{
    EXPECT_GE(generated_files().size(), 8u);
}

TEST(ASFCorruption, RandomByteFlipsAndTruncationsEndCleanly)
{
    std::mt19937 random(20261207);
    for (const std::string& path : generated_files()) {
        SCOPED_TRACE(path);
        std::vector<uint8> original = load(path);
        ASSERT_GT(original.size(), 1000u);
        testing::internal::CaptureStderr(); // assertion reports of damaged packets
        for (int round = 0; round < 60; round++) {
            std::vector<uint8> bytes = original;
            int flips = 1 + int(random() % 8);
            // Half the rounds damage the header, where every field matters.
            size_t range = round % 2 == 0 ? min_c<size_t>(bytes.size(), 1200) : bytes.size();
            for (int i = 0; i < flips; i++)
                bytes[random() % range] ^= uint8(1 + random() % 255);
            walk(bytes);
            std::vector<uint8> cut(original.begin(),
                                   original.begin() + long(random() % original.size()));
            walk(cut);
        }
        testing::internal::GetCapturedStderr();
    }
}
