// The application: opens a player window for every file it is given and
// ends when the last one has closed, or when nothing could be opened.
#pragma once

#include "app/PointerList.h"
#include "platform/app/Application.h"

class CASFPlayer;
struct entry_ref;

extern const char* const kApplicationSignature;

class CASFApplication : public BApplication
{
public:
    CASFApplication();
    ~CASFApplication() override;

    void MessageReceived(BMessage* message) override;
    void Quit() override;
    void ReadyToRun() override;
    void ArgvReceived(int32 argc, char** argv) override;
    void RefsReceived(BMessage* message) override;

    // `name` is the file's name as the user gave it, for messages (may be null).
    status_t OpenASFStream(const entry_ref* ref, const char* name = nullptr);

private:
    friend struct application_probe;

    bool fFileOpened;
    CPointerList<CASFPlayer> fPlayers;
    int32 fWindowsOpened; // for cascading each new window from the last
};
