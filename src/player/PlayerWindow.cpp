// The player window's views, the request to close it, and the shutdown.

#include "player/ASFPlayer.h"

#include "platform/app/Application.h"
#include "platform/app/Message.h"
#include "platform/interface/Menu.h"
#include "platform/interface/View.h"
#include "platform/support/Debug.h"
#include "player/CoverPicture.h"
#include "player/PlayerView.h"

#include <algorithm>
#include <cstdio>

void CASFPlayer::InitViews()
{
    if (fSession.Video() != nullptr) {
        // The content area becomes exactly the picture's size.
        ResizeTo(float(fSession.Video()->Width() - 1), float(fSession.Video()->Height() - 1));
    }

    auto* menuBar = fMenuBar =
        new BMenuBar(Bounds(), "MenuBar", B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP, B_ITEMS_IN_ROW, true);
    AddChild(menuBar);
    menuBar->AddItem(new BMenu("File", B_ITEMS_IN_COLUMN));
    // The window grows by the bar, so that the area below keeps its size.
    ResizeBy(0, menuBar->Frame().bottom + 1);

    BRect contentFrame = Bounds();
    contentFrame.top = menuBar->Frame().bottom + 1;
    fContentView = new CPlayerView(contentFrame);
    AddChild(fContentView);
    fControls->SetView(fContentView);
    if (fSession.Video() == nullptr) {
        // No picture: what plays, or why nothing can.
        // The song's tags when it has them, else its file name.
        const asf_file_info& info = fSession.Extractor().Info();
        std::vector<std::string> lines;
        for (const char* name : {"Title", "Author", "WM/AlbumTitle"}) {
            std::string text = info.Text(name);
            if (!text.empty())
                lines.push_back(text);
        }
        std::string year = info.Text("WM/Year");
        if (!year.empty())
            lines.push_back(year);
        if (lines.empty())
            lines.push_back(fFileName);
        if (fSession.IsProtected()) {
            lines.push_back(fSession.SoundNote());
        } else if (fSession.Audio() != nullptr) {
            char format[96];
            snprintf(format, sizeof(format), "Audio format 0x%04X, %u Hz, %u channel%s",
                     fSession.Audio()->FormatTag(), unsigned(fSession.Audio()->Rate()),
                     unsigned(fSession.Audio()->Channels()),
                     fSession.Audio()->Channels() == 1 ? "" : "s");
            lines.push_back(format);
            lines.push_back("Decoded by " + fSession.Audio()->Description());
        } else {
            lines.push_back(fSession.SoundNote());
        }
        if (!fSession.VideoNote().empty())
            lines.push_back(fSession.VideoNote());
        fContentView->SetText(lines);
        asf_picture cover;
        if (!fSession.IsProtected() && info.Picture(&cover)) {
            if (std::unique_ptr<BBitmap> picture = decode_cover_picture(cover))
                fContentView->SetPicture(std::move(picture));
        }
    }
    if (fSession.Video() != nullptr) {
        fContentView->SetMovieFrame(fContentView->Bounds());
        fSession.SetPictureSink(fContentView);
        // The bar comes with every picture drawn.
        fContentView->SetOverlay([this] {
            fContentView->PictureDrawn();
            DrawCaption();
            DrawInfo();
            fControls->DrawBar();
        });
        // No more pictures: the window says why while the sound plays on.
        fSession.Video()->SetFailureHandler([this](const std::string& why) {
            if (LockLooper()) {
                fContentView->SetText({Title(), why});
                UnlockLooper();
            }
        });
    }
}

void CASFPlayer::DrawCaption()
{
    if (fCaptions == nullptr || fCaptions->IsEmpty() || fSession.Video() == nullptr ||
        fContentView == nullptr)
        return;
    bigtime_t now = fSession.Clock().Now() / 1000;
    const std::string& text = fCaptions->At(now > 0 ? uint32(now) : 0);
    fContentView->DrawCaption(fContentView->MovieFrame(), text);
}

bool CASFPlayer::QuitRequested()
{
    // The application closes players: it owns the list they are in.
    BMessage message(kMsgClosePlayer);
    message.AddPointer("player", this);
    be_app->PostMessage(&message);
    return false;
}

BView* CASFPlayer::ContentView() const
{
    return fContentView;
}

BRect CASFPlayer::PictureFrame() const
{
    return fContentView != nullptr ? fContentView->MovieFrame() : BRect();
}

void CASFPlayer::LayOut()
{
    if (fSession.Video() == nullptr || fContentView == nullptr)
        return;
    BRect bounds = fContentView->Bounds();
    float width = bounds.Width() + 1, height = bounds.Height() + 1;
    float scale = std::min(width / float(fSession.Video()->Width()),
                           height / float(fSession.Video()->Height()));
    float pictureWidth = std::max(1.0f, std::round(float(fSession.Video()->Width()) * scale));
    float pictureHeight = std::max(1.0f, std::round(float(fSession.Video()->Height()) * scale));
    float left = std::floor((width - pictureWidth) / 2);
    float top = std::floor((height - pictureHeight) / 2);
    fContentView->SetMovieFrame(BRect(left, top, left + pictureWidth - 1, top + pictureHeight - 1));
}

void CASFPlayer::ArrangeViews()
{
    // Full screen is the picture's alone: the menu bar goes, and comes
    // back with the window.
    if (fMenuBar == nullptr || fContentView == nullptr || IsFullScreen() == fMenuBar->IsHidden())
        return;
    float top = 0;
    if (IsFullScreen()) {
        fMenuBar->Hide();
    } else {
        fMenuBar->Show();
        top = fMenuBar->Frame().bottom + 1;
    }
    BRect bounds = Bounds();
    fContentView->MoveTo(0, top);
    fContentView->ResizeTo(bounds.Width(), bounds.Height() - top);
    RedrawAll();
}

void CASFPlayer::FrameResized(float width, float height)
{
    BWindow::FrameResized(width, height);
    ArrangeViews();
    LayOut();
    // The window painted its views afresh.
    Repaint(false);
}

void CASFPlayer::Repaint(bool paintViews)
{
    // The picture comes back at once when no next one is on its way
    // (paused, or at the end).
    if (paintViews)
        RedrawAll();
    CVideoPath* video = fSession.Video();
    if (video != nullptr &&
        (fSession.IsPaused() || (fSession.Reader().AtEnd() && video->Queue().Count() == 0))) {
        if (const BBitmap* held = video->HeldPicture())
            fContentView->DrawBitmap(held, fContentView->MovieFrame());
        DrawCaption();
    }
    DrawInfo();
    fControls->DrawBar();
}

void CASFPlayer::DispatchMessage(BMessage* message, BHandler* target)
{
    if (fOpened.IsOK()) {
        switch (message->what) {
        case B_KEY_DOWN: {
            int32 key = 0;
            if (message->FindInt32("key", &key) != B_OK)
                return;
            if (key == 'i')
                ToggleInfo();
            else
                fControls->KeyDown(key);
            return;
        }
        case B_MOUSE_DOWN: {
            int32 x = 0, y = 0, clicks = 1;
            message->FindInt32("clicks", &clicks);
            // A click for an open menu, or outside the picture's view, is
            // the window's.
            if (message->FindInt32("x", &x) == B_OK && message->FindInt32("y", &y) == B_OK &&
                fMenuBar != nullptr && (fMenuBar->IsHidden() || fMenuBar->OpenIndex() < 0) &&
                fContentView->Frame().Contains(BPoint{float(x), float(y)})) {
                BRect frame = fContentView->Frame();
                fControls->MouseDown(BPoint{float(x) - frame.left, float(y) - frame.top}, clicks);
                return;
            }
            break;
        }
        case B_MOUSE_MOVED: {
            int32 x = 0, y = 0;
            if (message->FindInt32("x", &x) == B_OK && message->FindInt32("y", &y) == B_OK)
                fControls->MouseMoved(BPoint{float(x), float(y)});
            return;
        }
        case B_MOUSE_WHEEL_CHANGED: {
            float delta = 0;
            if (message->FindFloat("be:wheel_delta_y", &delta) == B_OK && delta != 0)
                fControls->WheelChanged(delta);
            return;
        }
        default:
            break;
        }
    }
    BWindow::DispatchMessage(message, target);
}

void CASFPlayer::Quit()
{
    _debugPrintf("player quit: %s\n", Title());
    if (fControls != nullptr) {
        fControls->Kill();
        fControls->WaitForThread();
    }
    fSession.Stop();
    BWindow::Quit();
}

CASFPlayer::~CASFPlayer() = default;
