#include "app/ASFApplication.h"

#include "asf/ASFExtractor.h"
#include "platform/app/Message.h"
#include "platform/storage/Entry.h"
#include "platform/storage/File.h"
#include "player/ASFPlayer.h"

#include <cstdio>

const char* const kApplicationSignature = "application/x-vnd.Tarnwick-Reelmoth";

CASFApplication::CASFApplication()
    : BApplication(kApplicationSignature), fFileOpened(false), fPlayers(20), fWindowsOpened(0)
{
}

CASFApplication::~CASFApplication() = default;

namespace
{

const char kRefNameField[] = "reelmoth:name";
// Each new window opens this far right of and below the last; after a
// round of ten, the cascade starts again at the top left. The display keeps
// each inside the screen.
constexpr float kCascadeStep = 32;
constexpr int32 kCascadeRound = 10;
constexpr float kFirstWindowAt = 50;

const char* describe(status_t status)
{
    return status == B_ENTRY_NOT_FOUND ? "no such file" : status_string(status);
}

} // namespace

void CASFApplication::ArgvReceived(int32 argc, char** argv)
{
    BMessage refs(B_REFS_RECEIVED);
    for (int32 i = 1; i < argc; i++) {
        entry_ref ref;
        status_t status = get_ref_for_path(argv[i], &ref);
        if (status != B_OK) {
            fprintf(stderr, "reelmoth: %s: %s\n", argv[i], describe(status));
            continue;
        }
        refs.AddRef("refs", &ref);
        // The name as it was given, for messages about the file.
        refs.AddString(kRefNameField, argv[i]);
    }
    if (refs.HasRef("refs", 0))
        RefsReceived(&refs);
}

void CASFApplication::RefsReceived(BMessage* message)
{
    entry_ref ref;
    for (int32 i = 0; message->FindRef("refs", i, &ref) == B_OK; i++) {
        const char* name = nullptr;
        if (message->FindString(kRefNameField, i, &name) != B_OK)
            name = nullptr;
        if (OpenASFStream(&ref, name) >= B_OK && !fFileOpened)
            fFileOpened = true;
    }
}

status_t CASFApplication::OpenASFStream(const entry_ref* ref, const char* name)
{
    auto* player = new CASFPlayer(ref);
    status_t status = player->InitCheck();
    BPath path(ref);
    const char* shownName =
        name != nullptr ? name : (path.Path() != nullptr ? path.Path() : ref->name);
    if (status < B_OK) {
        fprintf(stderr, "reelmoth: %s: %s\n", shownName, player->OpenResult().Why().c_str());
        // Never shown and still locked by its construction.
        player->Quit();
        return status;
    }
    if (player->IsProtected())
        fprintf(stderr, "reelmoth: %s: protected by DRM: it cannot be played\n", shownName);
    fPlayers.AddItem(player);
    float offset = kCascadeStep * float(fWindowsOpened++ % kCascadeRound);
    player->MoveTo(kFirstWindowAt + offset, kFirstWindowAt + offset);
    player->Show();
    player->Start();
    return status;
}

void CASFApplication::ReadyToRun()
{
    BApplication::ReadyToRun();
    if (!fFileOpened)
        PostMessage(B_QUIT_REQUESTED);
}

void CASFApplication::MessageReceived(BMessage* message)
{
    if (message->what != kMsgClosePlayer) {
        BApplication::MessageReceived(message);
        return;
    }
    void* pointer = nullptr;
    if (message->FindPointer("player", &pointer) != B_OK)
        return;
    auto* player = static_cast<CASFPlayer*>(pointer);
    // Only a player still in the list is ours to close: a second close
    // request for the same window must not touch it again.
    if (!fPlayers.HasItem(player))
        return;
    if (player->Lock())
        player->Quit();
    fPlayers.RemoveItem(player);
    if (fPlayers.IsEmpty())
        PostMessage(B_QUIT_REQUESTED);
}

void CASFApplication::Quit()
{
    for (int32 i = fPlayers.CountItems() - 1; i >= 0; i--) {
        CASFPlayer* player = fPlayers.RemoveItem(i);
        if (player != nullptr && player->Lock())
            player->Quit();
    }
    BApplication::Quit();
}
