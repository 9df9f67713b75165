// The player window's views, the request to close it, and the shutdown.

#include "player/ASFPlayer.h"

#include "platform/app/Application.h"
#include "platform/app/Message.h"
#include "platform/interface/Menu.h"
#include "platform/interface/View.h"
#include "platform/support/Debug.h"

void CASFPlayer::InitViews()
{
    if (fVideo != nullptr) {
        // The content area becomes exactly the picture's size.
        ResizeTo(float(fVideo->Width() - 1), float(fVideo->Height() - 1));
    }

    auto* menuBar =
        new BMenuBar(Bounds(), "MenuBar", B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, B_ITEMS_IN_ROW, true);
    AddChild(menuBar);
    menuBar->AddItem(new BMenu("File", B_ITEMS_IN_COLUMN));
    // The window grows by the bar, so that the area below keeps its size.
    ResizeBy(0, menuBar->Frame().bottom + 1);

    BRect contentFrame = Bounds();
    contentFrame.top = menuBar->Frame().bottom + 1;
    fContentView = new BView(contentFrame, "ContentView", B_FOLLOW_ALL, 0);
    fContentView->SetViewColor(0, 0, 0, 255);
    AddChild(fContentView);
    if (fVideo != nullptr)
        fVideo->SetTarget(fContentView, fContentView->Bounds());
}

bool CASFPlayer::QuitRequested()
{
    // The application closes players: it owns the list they are in.
    BMessage message(kMsgClosePlayer);
    message.AddPointer("player", this);
    be_app->PostMessage(&message);
    return false;
}

void CASFPlayer::Quit()
{
    _debugPrintf("player quit: %s\n", Title());
    // Killing wakes each thread wherever it waits; waiting for them before
    // anything is released means no thread can touch what goes next.
    fReader.Kill();
    if (fVideo != nullptr)
        fVideo->Kill();
    if (fAudio != nullptr)
        fAudio->Kill();
    fReader.WaitForThread();
    if (fVideo != nullptr)
        fVideo->WaitForThread();
    if (fAudio != nullptr)
        fAudio->WaitForThread();

    fClock.SetAudio(nullptr);
    fAudio.reset();
    fVideo.reset();
    BWindow::Quit();
}

CASFPlayer::~CASFPlayer() = default;
