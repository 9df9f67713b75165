// Captions: the file's script commands of type CAPTION or TEXT, each shown
// over the bottom of the picture from its time until the next one. Other
// types (URL, FILENAME...) are never acted on.
#pragma once

#include "asf/ASFFileInfo.h"

#include <functional>
#include <string>
#include <vector>

class CPlayerCaptions
{
public:
    explicit CPlayerCaptions(const std::vector<asf_script_command>& commands);

    bool IsEmpty() const { return fCaptions.empty(); }
    // The caption shown at `time` (ms from the start of playback): the
    // last one begun at or before it; "" before the first.
    const std::string& At(uint32 time) const;

    // `text` in lines no wider than `width` as `measure` gives widths,
    // broken at spaces, and inside a word only when it alone is wider.
    static std::vector<std::string> Wrap(const std::string& text, float width,
                                         const std::function<float(const std::string&)>& measure);

private:
    std::vector<std::pair<uint32, std::string>> fCaptions; // in time order
};
