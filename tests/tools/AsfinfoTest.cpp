// reelmoth-asfinfo against ffprobe: on files from ffmpeg's own muxer, the
// media objects the packet reader delivers must be the packets ffmpeg's
// demuxer reports.
#include "../asf/ASFTestObjects.h"
#include "asf/ASFObjectIds.h"

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

TEST(Asfinfo, ListsDeclaredStreamsTagsMarkersAndScriptCommands)
{
    // ffmpeg's own muxer: tags, and chapters written as markers.
    run_result song = run(kTool + " '" + kData + "/tagged-chapters.wma'");
    ASSERT_EQ(song.status, 0);
    for (const char* line :
         {"tag\tTitle\tLove Is Strange\n", "tag\tAuthor\tEverything But the Girl\n",
          "tag\tWM/AlbumTitle\tAcoustic\n", "marker\t0\tOne\n", "marker\t1000\tTwo\n",
          "declared\t1\taudio\theader\t"})
        EXPECT_NE(song.out.find(line), std::string::npos) << line << song.out;

    // What ffmpeg cannot write, the tests' writer does; ffprobe reads it
    // first, so that the writer and the demultiplexer are not wrong together.
    char folder[] = "/tmp/reelmoth-asfinfo-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    std::string jpegPath = std::string(folder) + "/cover.jpg";
    ASSERT_EQ(
        run("ffmpeg -v error -f lavfi -i testsrc=size=32x32 -frames:v 1 '" + jpegPath + "'").status,
        0);
    std::ifstream jpegIn(jpegPath, std::ios::binary);
    std::string jpegText((std::istreambuf_iterator<char>(jpegIn)), {});
    bytes_t jpeg(jpegText.begin(), jpegText.end());

    test_file file;
    test_stream high = audio_stream(2, 0x0161, 1486);
    file.header.streams = {audio_stream(1)};
    file.header.otherObjects = {
        make_stream_bitrates({{1, 32000}, {2, 64000}}),
        make_content_description("Love Is Strange", "Everything But the Girl"),
        make_extended_content_description(
            {{"WM/AlbumTitle", 0, utf16("Acoustic")},
             {"WM/Picture", 1, make_picture_value(3, "image/jpeg", "Front", jpeg)}}),
        make_markers({{(3100 + 1500) * 10000ull, "Bridge"}}),
        make_script_commands({"CAPTION", "URL"},
                             {{3100 + 200, 0, "Hello"}, {3100, 1, "http://x/"}}),
        make_header_extension({
            make_language_list({"en-us"}),
            make_extended_stream_properties(1, 32000),
            make_extended_stream_properties(2, 64000, &high, 0, 0, "High"),
            make_mutual_exclusion(asf_id::kAdvancedMutualExclusion, {1, 2}),
        }),
    };
    test_payload stray;
    stray.stream = 9;
    stray.data = bytes_t(10, 1);
    for (uint32 i = 0; i < 2; i++) {
        test_packet packet;
        packet.sendTime = 3100 + i * 100;
        packet.payloads = {stray};
        file.packets.push_back(make_packet(packet, 512));
    }
    std::string path = std::string(folder) + "/two-bitrates.wma";
    bytes_t bytes = make_file(file);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));

    run_result probe = run("ffprobe -v error -show_entries "
                           "stream=index,codec_type,codec_tag,bit_rate:stream_tags:format_tags:"
                           "chapter=start_time:chapter_tags -of compact '" +
                           path + "'");
    ASSERT_EQ(probe.status, 0);
    // Both sound streams (ffmpeg gives the sound's byte rate as their
    // bitrate), the language of each, the picture as a video stream.
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = probe.out.find(what); at != std::string::npos;
             at = probe.out.find(what, at + 1))
            n++;
        return n;
    };
    EXPECT_EQ(count("codec_type=audio|codec_tag=0x0161|"), 2u) << probe.out;
    EXPECT_EQ(count("|tag:language=eng"), 2u) << probe.out;
    for (const char* found : {"codec_type=video", "tag:title=Front", "tag:title=Love Is Strange",
                              "tag:artist=Everything But the Girl", "tag:album=Acoustic",
                              "start_time=1.500000|tag:title=Bridge"})
        EXPECT_NE(probe.out.find(found), std::string::npos) << found << "\n" << probe.out;

    run_result info = run(kTool + " --objects '" + path + "'");
    EXPECT_EQ(info.status, 0);
    for (const char* line :
         {"declared\t1\taudio\theader\t32000\t0\talternative\ten-us\t-\n",
          "declared\t2\taudio\textension\t64000\t1\tplays\ten-us\tHigh\n", "tag\tWM/Picture\t(",
          "marker\t1500\tBridge\n", "script_command\t0\tURL\thttp://x/\n",
          "script_command\t200\tCAPTION\tHello\n", "undeclared_payloads\t2\n"})
        EXPECT_NE(info.out.find(line), std::string::npos) << line << info.out;
    std::string pictureLine =
        "picture\t3\timage/jpeg\t" + std::to_string(jpeg.size()) + "\tFront\n";
    EXPECT_NE(info.out.find(pictureLine), std::string::npos) << info.out;
    EXPECT_EQ(info.out.find("protected"), std::string::npos);

    file.header.otherObjects.push_back(make_encryption(asf_id::kContentEncryption));
    bytes = make_file(file);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    EXPECT_NE(run(kTool + " '" + path + "'").out.find("protected\tyes\n"), std::string::npos);
    run(std::string("rm -rf ") + folder);
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
