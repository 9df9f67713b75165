// The player window's views, the request to close it, and the shutdown.

#include "player/ASFPlayer.h"

#include "platform/app/Application.h"
#include "platform/app/Message.h"
#include "platform/interface/Menu.h"
#include "platform/interface/View.h"
#include "platform/support/Debug.h"

#include <cstring>

void CASFPlayer::InitViews()
{
    if (fVideoStream >= 0) {
        // The content area becomes exactly the picture's size.
        auto* header = static_cast<const uint8*>(fExtractor.StreamInfoAt(fVideoStream)->data);
        int32 width, height;
        memcpy(&width, header + 4, 4);
        memcpy(&height, header + 8, 4);
        ResizeTo(float(width - 1), float(height - 1));
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
    fVideoRect = fContentView->Bounds();
}

bool CASFPlayer::QuitRequested()
{
    // The application closes players: it owns the list they are in.
    BMessage message(kMsgClosePlayer);
    message.AddPointer("player", this);
    be_app->PostMessage(&message);
    return false;
}

void CASFPlayer::StopThread(thread_id* thread)
{
    if (*thread < 0)
        return;
    wait_for_thread(*thread, nullptr);
    *thread = -1;
}

void CASFPlayer::Quit()
{
    _debugPrintf("player quit: %s\n", Title());
    // Killing wakes each thread wherever it waits; waiting for them before
    // anything is released means no thread can touch what goes next.
    if (fReaderThread >= 0)
        kill_thread(fReaderThread);
    if (fVideoThread >= 0)
        kill_thread(fVideoThread);
    if (fAudioThread >= 0)
        kill_thread(fAudioThread);
    StopThread(&fReaderThread);
    StopThread(&fVideoThread);
    StopThread(&fAudioThread);

    ReleaseAudio();
    ReleaseVideo();
    BWindow::Quit();
}

CASFPlayer::~CASFPlayer() = default;
