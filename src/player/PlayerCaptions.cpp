#include "player/PlayerCaptions.h"

#include <strings.h>

CPlayerCaptions::CPlayerCaptions(const std::vector<asf_script_command>& commands)
{
    for (const asf_script_command& command : commands) {
        if (strcasecmp(command.type.c_str(), "CAPTION") == 0 ||
            strcasecmp(command.type.c_str(), "TEXT") == 0)
            fCaptions.emplace_back(command.time, command.command);
    }
}

const std::string& CPlayerCaptions::At(uint32 time) const
{
    static const std::string kNone;
    const std::string* shown = &kNone;
    for (const auto& caption : fCaptions) {
        if (caption.first > time)
            break;
        shown = &caption.second;
    }
    return *shown;
}

namespace
{

// The byte length of the UTF-8 character starting at `text[at]`.
size_t character_length(const std::string& text, size_t at)
{
    size_t length = 1;
    while (at + length < text.size() && (uint8(text[at + length]) & 0xC0) == 0x80)
        length++;
    return length;
}

} // namespace

std::vector<std::string>
CPlayerCaptions::Wrap(const std::string& text, float width,
                      const std::function<float(const std::string&)>& measure)
{
    std::vector<std::string> lines;
    std::string line;
    size_t at = 0;
    while (at < text.size()) {
        if (text[at] == '\n' || text[at] == '\r') {
            lines.push_back(line);
            line.clear();
            at++;
            continue;
        }
        size_t end = text.find_first_of(" \r\n", at);
        std::string word = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at += word.size();
        std::string joined = line.empty() ? word : line + " " + word;
        if (measure(joined) <= width) {
            line = joined;
        } else {
            if (!line.empty())
                lines.push_back(line);
            line.clear();
            // A word wider than a line goes in pieces, whole characters each.
            for (size_t i = 0; i < word.size();) {
                size_t length = character_length(word, i);
                std::string longer = line + word.substr(i, length);
                if (!line.empty() && measure(longer) > width) {
                    lines.push_back(line);
                    line.clear();
                    continue;
                }
                line = longer;
                i += length;
            }
        }
        while (at < text.size() && text[at] == ' ')
            at++;
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}
