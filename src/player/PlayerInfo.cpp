// The information panel the key `i` shows over a player window: the file,
// its tags, each stream with the decoder that plays it, and the position.

#include "player/ASFPlayer.h"

#include "platform/support/ByteOrder.h"
#include "player/PlayerView.h"

#include <cinttypes>
#include <cstdio>

namespace
{

std::string time_text(uint32 milliseconds)
{
    char text[32];
    uint32 seconds = milliseconds / 1000;
    snprintf(text, sizeof(text), "%" PRIu32 ":%02" PRIu32 ":%02" PRIu32, seconds / 3600,
             seconds / 60 % 60, seconds % 60);
    return text;
}

std::string fourcc_text(uint32 code)
{
    std::string text;
    for (int i = 0; i < 4; i++) {
        char c = char(code >> (8 * i));
        text += c >= 0x20 && c < 0x7F ? c : '.';
    }
    return text;
}

} // namespace

std::vector<std::string> CASFPlayer::InfoLines()
{
    const asf_file_info& info = fSession.Extractor().Info();
    std::vector<std::string> lines = {"File: " + fFileName};
    static const std::pair<const char*, const char*> kTags[] = {
        {"Title", "Title"},         {"Author", "Artist"},           {"WM/AlbumTitle", "Album"},
        {"WM/Year", "Year"},        {"WM/Genre", "Genre"},          {"WM/TrackNumber", "Track"},
        {"Copyright", "Copyright"}, {"Description", "Description"},
    };
    for (const auto& [name, label] : kTags) {
        std::string text = info.Text(name);
        if (!text.empty())
            lines.push_back(std::string(label) + ": " + text);
    }
    for (const asf_stream_declaration& stream : info.streams) {
        char line[256];
        int at = snprintf(line, sizeof(line), "Stream %u: %s", unsigned(stream.number),
                          stream.hasProperties ? asf_stream_kind(stream.type) : "undeclared");
        if (stream.tableIndex >= 0) {
            const CASFExtractor::stream_info* table =
                fSession.Extractor().StreamInfoAt(stream.tableIndex);
            const uint8* format = static_cast<const uint8*>(table->data);
            if (table->type == CASFExtractor::kVideoStream && table->data_size >= 20) {
                at += snprintf(line + at, sizeof(line) - size_t(at), " %s %" PRId32 "x%" PRId32,
                               fourcc_text(read_le32(format + 16)).c_str(),
                               int32(read_le32(format + 4)), int32(read_le32(format + 8)));
            } else if (table->type == CASFExtractor::kAudioStream && table->data_size >= 8) {
                at += snprintf(line + at, sizeof(line) - size_t(at), " 0x%04X %u ch %" PRIu32 " Hz",
                               read_le16(format), read_le16(format + 2), read_le32(format + 4));
            }
        }
        if (stream.bitrate != 0 && at < int(sizeof(line)))
            at += snprintf(line + at, sizeof(line) - size_t(at), ", %" PRIu32 " kb/s",
                           stream.bitrate / 1000);
        std::string text = line;
        if (stream.tableIndex >= 0 && stream.tableIndex == fSession.VideoStream() &&
            fSession.Video() != nullptr)
            text += " - plays, decoded by " + fSession.Video()->Description();
        else if (stream.tableIndex >= 0 && stream.tableIndex == fSession.AudioStream() &&
                 fSession.Audio() != nullptr)
            text += " - plays, decoded by " + fSession.Audio()->Description();
        lines.push_back(text);
    }
    if (fSession.IsProtected())
        lines.push_back("Protected by DRM: not played");
    lines.push_back("Position: " + time_text(fControls->PlayingPosition()) + " / " +
                    time_text(fSession.Reader().Duration()));
    return lines;
}

void CASFPlayer::ToggleInfo()
{
    if (fContentView == nullptr)
        return;
    fInfoShown = !fInfoShown;
    if (fInfoShown) {
        fContentView->DrawPanel(InfoLines());
        fContentView->Invalidate();
    } else {
        Repaint();
    }
}

void CASFPlayer::DrawInfo()
{
    if (fInfoShown && fContentView != nullptr)
        fContentView->DrawPanel(InfoLines());
}
