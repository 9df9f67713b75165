// reelmoth-asfinfo against ffprobe: on files from ffmpeg's own muxer, the
// media objects the packet reader delivers must be the packets ffmpeg's
// demuxer reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

const std::string kTool = std::string(REELMOTH_TOOLS_DIR) + "/reelmoth-asfinfo";
const std::string kData = std::string(REELMOTH_TEST_DATA) + "/asf";

struct run_result {
    int status;
    std::string out;
};

run_result run(const std::string& command)
{
    run_result result{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        result.out.append(buffer, got);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<std::vector<std::string>> rows(const std::string& text, char separator)
{
    std::vector<std::vector<std::string>> result;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, separator))
            fields.push_back(cell);
        result.push_back(fields);
    }
    return result;
}

struct media_object {
    long size;
    bool key;
    bool operator==(const media_object& other) const
    {
        return size == other.size && key == other.key;
    }
};

std::ostream& operator<<(std::ostream& out, const media_object& object)
{
    return out << object.size << (object.key ? "K" : "");
}

std::vector<std::string> generated_files()
{
    std::vector<std::string> files;
    if (DIR* dir = opendir(kData.c_str())) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                files.push_back(kData + "/" + entry->d_name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

TEST(Asfinfo, ObjectsMatchWhatFfprobeReportsForEveryGeneratedFile)
{
    std::vector<std::string> files = generated_files();
    ASSERT_GE(files.size(), 8u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        run_result ours = run(kTool + " --objects '" + path + "'");
        ASSERT_EQ(ours.status, 0);
        run_result theirs = run("ffprobe -v error -show_entries packet=stream_index,size,flags "
                                "-of csv=p=0 '" +
                                path + "'");
        ASSERT_EQ(theirs.status, 0);

        std::map<int, std::vector<media_object>> ourObjects, theirObjects;
        std::map<int, bool> isVideo;
        for (const auto& row : rows(ours.out, '\t')) {
            if (row.size() >= 3 && row[0] == "stream")
                isVideo[std::stoi(row[1])] = row[2] == "video";
            if (row.size() == 6 && row[0] == "object") {
                EXPECT_EQ(row[5], "flushed") << "ffmpeg's files lose no fragments";
                ourObjects[std::stoi(row[1])].push_back({std::stol(row[2]), row[4] == "1"});
            }
        }
        for (const auto& row : rows(theirs.out, ',')) {
            ASSERT_EQ(row.size(), 3u);
            int stream = std::stoi(row[0]);
            // ffmpeg marks every audio packet as a key frame itself, whatever
            // the file says; only video key flags come from the file.
            bool key = isVideo[stream] ? row[2][0] == 'K' : false;
            theirObjects[stream].push_back({std::stol(row[1]), key});
        }
        for (auto& [stream, objects] : ourObjects) {
            if (!isVideo[stream])
                for (media_object& object : objects)
                    object.key = false;
        }
        EXPECT_EQ(ourObjects.size(), isVideo.size());
        EXPECT_EQ(ourObjects, theirObjects);
    }
}

TEST(Asfinfo, PrintsTheHeaderAsTabSeparatedRecords)
{
    run_result result = run(kTool + " '" + kData + "/wmv2-wmav2-512.wmv'");
    ASSERT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("max_packet_size\t512\n"), std::string::npos);
    EXPECT_NE(result.out.find("stream\t0\tvideo\t1\tWMV2\t320\t240\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("stream\t1\taudio\t2\t0x0161\t1\t44100\t"), std::string::npos)
        << result.out;
    EXPECT_EQ(result.out.find("object"), std::string::npos);

    result = run(kTool + " '" + kData + "/two-video-wmv2-700.asf'");
    EXPECT_NE(result.out.find("stream\t1\tvideo\t2\tWMV2\t176\t144\n"), std::string::npos);

    result = run(kTool + " --help");
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("--objects"), std::string::npos);
}

TEST(Asfinfo, BadFilesGiveOneErrorLineAndStatusOne)
{
    char folder[] = "/tmp/reelmoth-asfinfo-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string text = std::string(folder) + "/text.asf";
    std::ofstream(text) << "this is not a movie\n";
    std::string empty = std::string(folder) + "/empty.wmv";
    std::ofstream(empty).close();
    std::string cut = std::string(folder) + "/cut.wmv";
    {
        std::ifstream in(kData + "/wmv2-wmav2-512.wmv", std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        std::ofstream(cut, std::ios::binary) << bytes.substr(0, bytes.size() / 2 + 7);
    }

    for (const std::string& path : {text, empty, std::string(folder) + "/missing.asf", cut}) {
        SCOPED_TRACE(path);
        run_result result = run(kTool + " --objects '" + path + "' 2>&1 >/dev/null");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 1) << result.out;
        EXPECT_EQ(result.out.rfind("reelmoth-asfinfo: " + path + ": ", 0), 0u) << result.out;
    }
    EXPECT_EQ(run(kTool + " 2>/dev/null").status, 1);
    EXPECT_EQ(run(kTool + " --bogus x 2>/dev/null").status, 1);
    run(std::string("rm -rf ") + folder);
}

TEST(Asftag, GivesTheAudioStreamAnotherTagAndRefusesWhatIsNotASF)
{
    const std::string tagger = std::string(REELMOTH_TOOLS_DIR) + "/reelmoth-asftag";
    std::string copy = "/tmp/reelmoth-asftag-" + std::to_string(getpid()) + ".wmv";
    ASSERT_EQ(run("cp '" + kData + "/wmv2-wmav2-512.wmv' '" + copy + "'").status, 0);
    EXPECT_EQ(run(tagger + " '" + copy + "' 0x55").status, 0);
    run_result info = run(kTool + " '" + copy + "'");
    EXPECT_NE(info.out.find("audio\t2\t0x0055\t"), std::string::npos) << info.out;
    EXPECT_EQ(run(tagger + " '" + kData + "/video-only-wmv2.wmv' 0x55 2>/dev/null").status, 1)
        << "no audio stream: nothing written";
    EXPECT_EQ(run(tagger + " /etc/hostname 0x55 2>/dev/null").status, 1);
    EXPECT_EQ(run(tagger + " '" + copy + "' 0x10000 2>/dev/null").status, 1);
    unlink(copy.c_str());
}
