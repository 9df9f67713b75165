#include "app/ASFApplication.h"

#include "platform/app/Message.h"
#include "platform/storage/Entry.h"
#include "player/ASFPlayer.h"

const char* const kApplicationSignature = "application/x-vnd.Tarnwick-Reelmoth";

CASFApplication::CASFApplication()
    : BApplication(kApplicationSignature), fFileOpened(false), fPlayers(20)
{
}

CASFApplication::~CASFApplication() = default;

void CASFApplication::ArgvReceived(int32 argc, char** argv)
{
    BMessage refs(B_REFS_RECEIVED);
    for (int32 i = 1; i < argc; i++) {
        entry_ref ref;
        // Arguments that name nothing are left out without a word.
        if (get_ref_for_path(argv[i], &ref) == B_OK)
            refs.AddRef("refs", &ref);
    }
    if (refs.HasRef("refs", 0))
        RefsReceived(&refs);
}

void CASFApplication::RefsReceived(BMessage* message)
{
    entry_ref ref;
    for (int32 i = 0; message->FindRef("refs", i, &ref) == B_OK; i++) {
        if (OpenASFStream(&ref) >= B_OK && !fFileOpened)
            fFileOpened = true;
    }
}

status_t CASFApplication::OpenASFStream(const entry_ref* ref)
{
    auto* player = new CASFPlayer(ref);
    status_t status = player->InitCheck();
    if (status < B_OK) {
        // Never shown and still locked by its construction.
        player->Quit();
        return status;
    }
    fPlayers.AddItem(player);
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
