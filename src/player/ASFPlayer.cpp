// Construction with the stream scan, and the start of the parts.

#include "player/ASFPlayer.h"

#include "platform/storage/Entry.h"

namespace
{

// Where a new player window appears and how big it is before a video sets
// its size.
const BRect kInitialFrame(50, 50, 400, 400);

const char* title_for(const entry_ref* ref)
{
    return ref != nullptr && ref->name != nullptr ? ref->name : "";
}

} // namespace

CASFPlayer::CASFPlayer(const entry_ref* ref)
    : BWindow(kInitialFrame, title_for(ref), B_TITLED_WINDOW_LOOK, B_NORMAL_WINDOW_FEEL, 0,
              B_CURRENT_WORKSPACE),
      fMenuBar(nullptr), fContentView(nullptr), fStarted(false), fInfoShown(false)
{
    fOpened = fSession.Open(ref);
    if (!fOpened.IsOK())
        return;
    fFileName = title_for(ref);
    const asf_file_info& info = fSession.Extractor().Info();
    std::string title = info.DisplayTitle();
    if (!title.empty())
        SetTitle(title.c_str());
    fControls = std::make_unique<CPlayerControls>(this, &fSession);
    std::vector<std::pair<uint32, std::string>> markers;
    for (const asf_marker& marker : info.markers)
        markers.emplace_back(marker.time, marker.name);
    fControls->SetMarkers(std::move(markers));
    fCaptions = std::make_unique<CPlayerCaptions>(info.scriptCommands);
    InitViews();
}

void CASFPlayer::Start()
{
    if (fStarted || !fOpened.IsOK())
        return;
    fStarted = true;
    fSession.Start();
    fControls->Start();
}
