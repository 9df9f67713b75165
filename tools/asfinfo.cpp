// reelmoth-asfinfo: prints what the demultiplexer makes of an ASF file.
#include "asf/ASFExtractor.h"
#include "platform/storage/File.h"
#include "platform/support/ByteOrder.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace
{

const char kUsage[] =
    "usage: reelmoth-asfinfo [--objects] FILE\n"
    "\n"
    "Prints the header of an ASF file (.asf, .wmv, .wma) as the player reads it,\n"
    "one tab-separated record per line:\n"
    "  play_duration  SECONDS         play duration from the file properties\n"
    "  preroll        MILLISECONDS\n"
    "  min_packet_size BYTES\n"
    "  max_packet_size BYTES\n"
    "  stream INDEX video ASF_NUMBER FOURCC WIDTH HEIGHT\n"
    "  stream INDEX audio ASF_NUMBER FORMAT_TAG CHANNELS RATE BLOCK_ALIGN\n"
    "INDEX is the stream's place in the player's table of audio and video streams.\n"
    "Then every declared stream, the tags, markers and script commands:\n"
    "  declared ASF_NUMBER KIND header|extension BITRATE INDEX|- ROLE LANGUAGE NAME\n"
    "      KIND audio, video, command, image, file, binary or other; where the\n"
    "      stream was declared (the header, or the Header Extension object);\n"
    "      BITRATE in bits per second (0: not given); ROLE \"plays\" for the\n"
    "      stream of each kind the player tries first (the highest bitrate),\n"
    "      \"alternative\" for the others it would fall back to, \"-\" for\n"
    "      streams it does not play; LANGUAGE and NAME \"-\" when not given\n"
    "  priority       ASF_NUMBER RANK mandatory|optional   (Stream Prioritization)\n"
    "  tag            NAME VALUE [STREAM]   STREAM when the tag is a stream's\n"
    "  picture        TYPE MIME_TYPE BYTES DESCRIPTION   (WM/Picture)\n"
    "  marker         MILLISECONDS NAME\n"
    "  script_command MILLISECONDS TYPE TEXT   (listed, never acted on)\n"
    "  protected      yes   (content encryption: the player will not play it)\n"
    "  broadcast      yes   (a live capture; its duration is found from its packets)\n"
    "Times are from the start of playback; byte arrays show as \"(N bytes)\".\n"
    "\n"
    "With --objects, then one line per media object in the order the packet\n"
    "reader completes them:\n"
    "  object INDEX BYTES SEND_TIME_MS KEY flushed|skipped\n"
    "KEY is 1 for a key frame; a skipped object lost a fragment. Last:\n"
    "  undeclared_payloads COUNT   payloads of streams the header never declared\n"
    "\n"
    "Exit status 0 on success, 1 when the file cannot be read as ASF or its data\n"
    "packets are damaged or cut short (the objects before the damage are listed).\n";

struct object_sink {
    struct pending_object {
        bool started = false;
        bool keyFrame = false;
        uint32 sendTime = 0;
        uint64 bytes = 0;
    } streams[CASFExtractor::kMaxStreams];

    static void Stream(int32 stream, BDataIO* io, uint32 length, void* cookie)
    {
        static_cast<object_sink*>(cookie)->streams[stream].bytes += length;
        if (BPositionIO* positionIO = dynamic_cast<BPositionIO*>(io))
            positionIO->Seek(length, SEEK_CUR);
    }

    // A flush or skip completes the object begun at the previous one and
    // carries the key flag and send time of the object that begins now.
    static void Complete(object_sink* sink, int32 stream, bool keyFrame, uint32 sendTime,
                         const char* outcome)
    {
        pending_object& object = sink->streams[stream];
        if (object.started) {
            printf("object\t%" PRId32 "\t%" PRIu64 "\t%" PRIu32 "\t%d\t%s\n", stream, object.bytes,
                   object.sendTime, object.keyFrame ? 1 : 0, outcome);
        }
        object.started = true;
        object.keyFrame = keyFrame;
        object.sendTime = sendTime;
        object.bytes = 0;
    }

    static void Flush(int32 stream, bool keyFrame, uint32 sendTime, void* cookie)
    {
        Complete(static_cast<object_sink*>(cookie), stream, keyFrame, sendTime, "flushed");
    }

    static void Skip(int32 stream, void* cookie)
    {
        // A skipped object's successor's flags are not known here; the next
        // flush or skip brings them.
        Complete(static_cast<object_sink*>(cookie), stream, false, 0, "skipped");
    }
};

void print_fourcc(uint32 code)
{
    for (int i = 0; i < 4; i++) {
        char c = char(code >> (8 * i));
        putchar(c >= 0x20 && c < 0x7F ? c : '.');
    }
}

void print_header(const CASFExtractor& extractor)
{
    printf("play_duration\t%.3f\n", double(extractor.PlayDuration()) / 1e7);
    printf("preroll\t%" PRIu64 "\n", extractor.Preroll());
    printf("min_packet_size\t%" PRIu32 "\n", extractor.MinPacketSize());
    printf("max_packet_size\t%" PRIu32 "\n", extractor.MaxPacketSize());
    for (int32 i = 0; i < extractor.CountStreams(); i++) {
        const CASFExtractor::stream_info* info = extractor.StreamInfoAt(i);
        const uint8* format = static_cast<const uint8*>(info->data);
        unsigned number = info->stream_flags & 0x7F;
        if (info->type == CASFExtractor::kVideoStream) {
            printf("stream\t%" PRId32 "\tvideo\t%u\t", i, number);
            if (info->data_size >= 20) {
                print_fourcc(read_le32(format + 16));
                printf("\t%" PRId32 "\t%" PRId32 "\n", int32(read_le32(format + 4)),
                       int32(read_le32(format + 8)));
            } else {
                printf("?\t?\t?\n");
            }
        } else {
            printf("stream\t%" PRId32 "\taudio\t%u\t", i, number);
            if (info->data_size >= 14) {
                printf("0x%04x\t%u\t%" PRIu32 "\t%u\n", read_le16(format), read_le16(format + 2),
                       read_le32(format + 4), read_le16(format + 12));
            } else {
                printf("?\t?\t?\t?\n");
            }
        }
    }
}

// Tabs and line ends would break the record.
std::string one_line(std::string text)
{
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    return text.empty() ? "-" : text;
}

void print_file_info(const CASFExtractor& extractor)
{
    const asf_file_info& info = extractor.Info();
    std::vector<int32> firsts;
    for (int32 type : {CASFExtractor::kVideoStream, CASFExtractor::kAudioStream}) {
        std::vector<int32> order = extractor.StreamsToTry(type);
        if (!order.empty())
            firsts.push_back(order.front());
    }
    for (const asf_stream_declaration& stream : info.streams) {
        const char* role = "-";
        if (stream.tableIndex >= 0) {
            bool first = std::find(firsts.begin(), firsts.end(), stream.tableIndex) != firsts.end();
            role = first ? "plays" : "alternative";
        }
        char index[16] = "-";
        if (stream.tableIndex >= 0)
            snprintf(index, sizeof(index), "%" PRId32, stream.tableIndex);
        printf("declared\t%u\t%s\t%s\t%" PRIu32 "\t%s\t%s\t%s\t%s\n", unsigned(stream.number),
               stream.hasProperties ? asf_stream_kind(stream.type) : "undeclared",
               stream.declaredIn == asf_stream_declaration::kInExtension ? "extension" : "header",
               stream.bitrate, index, role, one_line(stream.language).c_str(),
               one_line(stream.name).c_str());
    }
    for (const asf_stream_declaration& stream : info.streams) {
        if (stream.priority >= 0)
            printf("priority\t%u\t%" PRId32 "\t%s\n", unsigned(stream.number), stream.priority,
                   stream.mandatory ? "mandatory" : "optional");
    }
    for (const asf_tag& tag : info.tags) {
        std::string value = tag.text;
        if (tag.type == asf_tag::kBytes)
            value = "(" + std::to_string(tag.data.size()) + " bytes)";
        printf("tag\t%s\t%s", one_line(tag.name).c_str(), one_line(value).c_str());
        if (tag.stream != 0)
            printf("\t%u", unsigned(tag.stream));
        printf("\n");
    }
    asf_picture picture;
    if (info.Picture(&picture)) {
        printf("picture\t%u\t%s\t%zu\t%s\n", unsigned(picture.type),
               one_line(picture.mimeType).c_str(), picture.data.size(),
               one_line(picture.description).c_str());
    }
    for (const asf_marker& marker : info.markers)
        printf("marker\t%" PRIu32 "\t%s\n", marker.time, one_line(marker.name).c_str());
    for (const asf_script_command& command : info.scriptCommands) {
        printf("script_command\t%" PRIu32 "\t%s\t%s\n", command.time,
               one_line(command.type).c_str(), one_line(command.command).c_str());
    }
    if (info.isProtected)
        printf("protected\tyes\n");
    if (info.isBroadcast)
        printf("broadcast\tyes\n");
}

} // namespace

int main(int argc, char** argv)
{
    bool objects = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
        if (strcmp(argv[i], "--objects") == 0)
            objects = true;
        else if (path == nullptr && (argv[i][0] != '-' || argv[i][1] == '\0'))
            path = argv[i];
        else {
            fputs(kUsage, stderr);
            return 1;
        }
    }
    if (path == nullptr) {
        fputs(kUsage, stderr);
        return 1;
    }

    BFile file(path, B_READ_ONLY);
    if (file.InitCheck() != B_OK) {
        fprintf(stderr, "reelmoth-asfinfo: %s: cannot open: %s\n", path,
                status_string(file.InitCheck()));
        return 1;
    }
    CASFExtractor extractor(&file);
    if (extractor.InitCheck() != B_OK) {
        fprintf(stderr, "reelmoth-asfinfo: %s: not an ASF file, or its header is damaged\n", path);
        return 1;
    }
    print_header(extractor);
    print_file_info(extractor);
    if (!objects)
        return 0;

    object_sink sink;
    status_t status;
    while ((status = extractor.ReadOn(object_sink::Stream, object_sink::Flush, object_sink::Skip,
                                      &sink)) == B_OK) {
    }
    printf("undeclared_payloads\t%" PRIu64 "\n", extractor.UndeclaredPayloads());
    fflush(stdout);
    if (status != CASFExtractor::kEndOfData) {
        fprintf(stderr, "reelmoth-asfinfo: %s: data packets cannot be read: %s\n", path,
                status_string(status));
        return 1;
    }
    if (extractor.IsTruncated()) {
        fprintf(stderr, "reelmoth-asfinfo: %s: the file ends before its last data packet\n", path);
        return 1;
    }
    return 0;
}
