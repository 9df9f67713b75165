// The Marker object (named places) and the Script Command object (captions,
// texts, and commands the player lists but never acts on).

#include "asf/ASFByteReader.h"
#include "asf/ASFExtractor.h"

#include <algorithm>

namespace
{

// Lists longer than this are cut: no file marks or captions this often.
constexpr uint32 kMaxEntries = 1u << 16;

} // namespace

void CASFExtractor::ParseMarkers(CASFByteReader& body)
{
    body.Guid();
    uint32 count = body.U32();
    body.U16();
    body.Skip(body.U16()); // the list's own name
    for (uint32 i = 0; i < count && i < kMaxEntries; i++) {
        body.U64();               // the byte offset of the packet, which seeking finds itself
        uint64 time = body.U64(); // 100 ns, the preroll counted in
        body.U16();
        body.U32(); // send time
        body.U32(); // flags
        uint32 length = body.U32();
        std::string name = body.Text(size_t(length) * 2);
        if (body.Failed())
            break;
        // Made playback-relative once the whole header is read.
        fInfo.markers.push_back({uint32(min_c<uint64>(time / 10000, UINT32_MAX)), std::move(name)});
    }
}

void CASFExtractor::ParseScriptCommands(CASFByteReader& body)
{
    body.Guid();
    uint16 commandCount = body.U16();
    uint16 typeCount = body.U16();
    std::vector<std::string> types;
    for (uint32 i = 0; i < typeCount; i++) {
        std::string type = body.Text(size_t(body.U16()) * 2);
        if (body.Failed())
            return;
        types.push_back(std::move(type));
    }
    for (uint32 i = 0; i < commandCount; i++) {
        uint32 time = body.U32();
        uint16 typeIndex = body.U16();
        std::string command = body.Text(size_t(body.U16()) * 2);
        if (body.Failed())
            break;
        asf_script_command entry;
        entry.time = time;
        entry.type = typeIndex < types.size() ? types[typeIndex] : std::string("?");
        entry.command = std::move(command);
        fInfo.scriptCommands.push_back(std::move(entry));
    }
}

void CASFExtractor::FinishMarkers()
{
    // Presentation times count the preroll in, whichever object came first.
    for (asf_marker& marker : fInfo.markers)
        marker.time = PlaybackTime(marker.time);
    for (asf_script_command& command : fInfo.scriptCommands)
        command.time = PlaybackTime(command.time);
    std::stable_sort(fInfo.markers.begin(), fInfo.markers.end(),
                     [](const asf_marker& a, const asf_marker& b) { return a.time < b.time; });
    std::stable_sort(
        fInfo.scriptCommands.begin(), fInfo.scriptCommands.end(),
        [](const asf_script_command& a, const asf_script_command& b) { return a.time < b.time; });
}
