// The application and interface kits on SDL's dummy display: loopers and
// their locks, windows and the layout of their views, drawing, menus.

#include "platform/app/Application.h"
#include "platform/app/Message.h"
#include "platform/app/Roster.h"
#include "platform/interface/Bitmap.h"
#include "platform/interface/Display.h"
#include "platform/interface/Menu.h"
#include "platform/interface/View.h"
#include "platform/interface/Window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

namespace
{

const int kDummyDisplay = setenv("SDL_VIDEODRIVER", "dummy", 1);

// The first window starts the display thread without waiting for SDL; a
// test that ends before SDL is up would otherwise exit under that thread,
// and exit frees Xlib's locks while it still takes them. No application
// object runs the display's exit hook here, so the tests end it themselves.
class CDisplayTeardown : public testing::Environment
{
public:
    void TearDown() override { display::shutdown(); }
};

testing::Environment* const kDisplayTeardown =
    testing::AddGlobalTestEnvironment(new CDisplayTeardown);

// Counts what reaches it; quits itself on 'quit'.
class counting_looper : public BLooper
{
public:
    counting_looper(std::atomic<int>* count, std::atomic<bool>* deleted)
        : BLooper("counter"), fCount(count), fDeleted(deleted)
    {
    }
    ~counting_looper() override { *fDeleted = true; }

    void MessageReceived(BMessage* message) override
    {
        if (message->what == 'quit') {
            Quit();
            return;
        }
        int32 value = 0;
        message->FindInt32("value", &value);
        *fCount += value;
    }

private:
    std::atomic<int>* fCount;
    std::atomic<bool>* fDeleted;
};

bool wait_for(const std::atomic<bool>& flag)
{
    for (int i = 0; i < 2000 && !flag; i++)
        snooze(5000);
    return flag;
}

uint32 pixel_at(BWindow* window, int32 x, int32 y)
{
    int32 width, height, stride;
    uint32* pixels = window->LockPixels(&width, &height, &stride);
    uint32 value = x < width && y < height ? pixels[size_t(y) * stride + x] : 0xDEADBEEF;
    window->UnlockPixels(false);
    return value & 0xFFFFFF;
}

} // namespace

TEST(Looper, DeliversCopiesAndQuitsFromInsideOrOutside)
{
    std::atomic<int> count{0};
    std::atomic<bool> deleted{false};
    auto* looper = new counting_looper(&count, &deleted);
    EXPECT_TRUE(looper->IsLocked()); // locked by its construction until Run
    BMessage message('add ');
    message.AddInt32("value", 5);
    EXPECT_EQ(looper->PostMessage(&message), B_OK);
    message.ReplaceInt32("value", 7); // the looper has its own copy
    looper->PostMessage(&message);
    EXPECT_GT(looper->Run(), 0);
    EXPECT_FALSE(looper->IsLocked());
    looper->PostMessage('quit');
    ASSERT_TRUE(wait_for(deleted));
    EXPECT_EQ(count.load(), 12);

    // From another thread, with the lock held twice: Quit returns once the
    // object is gone.
    deleted = false;
    looper = new counting_looper(&count, &deleted);
    looper->Run();
    ASSERT_TRUE(looper->Lock());
    ASSERT_TRUE(looper->Lock());
    looper->Quit();
    EXPECT_TRUE(deleted);

    // Never run: Quit deletes it at once.
    deleted = false;
    looper = new counting_looper(&count, &deleted);
    looper->Quit();
    EXPECT_TRUE(deleted);
}

namespace
{

struct lock_job {
    BLooper* looper;
    sem_id started;
    std::atomic<bool> result{true};
};

int32 lock_looper(void* data)
{
    auto* job = static_cast<lock_job*>(data);
    release_sem(job->started);
    job->result = job->looper->Lock();
    if (job->result)
        job->looper->Unlock();
    return 0;
}

} // namespace

TEST(Looper, AKilledThreadGivesUpWaitingForTheLock)
{
    std::atomic<int> count{0};
    std::atomic<bool> deleted{false};
    auto* looper = new counting_looper(&count, &deleted);
    looper->Run();
    ASSERT_TRUE(looper->Lock());
    lock_job job{looper, create_sem(0, "started")};
    thread_id waiter = spawn_thread(lock_looper, "waiter", B_NORMAL_PRIORITY, &job);
    resume_thread(waiter);
    ASSERT_EQ(acquire_sem(job.started), B_OK);
    delete_sem(job.started);
    snooze(50000);
    EXPECT_EQ(kill_thread(waiter), B_OK);
    EXPECT_EQ(wait_for_thread(waiter, nullptr), B_OK); // while the lock is still held
    EXPECT_FALSE(job.result);
    looper->Quit();
}

TEST(AppKit, RegistersItsSignatureAndRunsOnTheCallingThread)
{
    app_info info;
    EXPECT_EQ(get_running_app_info(&info), B_ERROR);
    {
        BApplication application("application/x-vnd.Test-Kits");
        ASSERT_EQ(application.InitCheck(), B_OK);
        EXPECT_EQ(be_app, &application);
        ASSERT_EQ(application.GetAppInfo(&info), B_OK);
        EXPECT_STREQ(info.signature, "application/x-vnd.Test-Kits");
        BApplication second("application/x-vnd.Test-Second");
        EXPECT_EQ(second.InitCheck(), B_ALREADY_RUNNING);

        // Quit requested before Run: the loop ends at once, and the windows
        // it still has are quit first.
        auto* window = new BWindow(BRect(10, 10, 109, 99), "left open", B_TITLED_WINDOW_LOOK,
                                   B_NORMAL_WINDOW_FEEL, 0);
        window->Show();
        EXPECT_EQ(application.CountWindows(), 1);
        application.PostMessage(B_QUIT_REQUESTED);
        EXPECT_EQ(application.Run(), find_thread(nullptr));
        EXPECT_EQ(application.CountWindows(), 0);
    }
    EXPECT_EQ(be_app, nullptr);
    EXPECT_EQ(get_running_app_info(&info), B_ERROR);
}

TEST(Window, ViewsFollowTheirResizingModes)
{
    auto* window = new BWindow(BRect(50, 50, 400, 400), "layout", B_TITLED_WINDOW_LOOK,
                               B_NORMAL_WINDOW_FEEL, 0);
    EXPECT_EQ(window->Bounds(), BRect(0, 0, 350, 350));
    auto* bar = new BMenuBar(window->Bounds(), "MenuBar");
    window->AddChild(bar);
    bar->AddItem(new BMenu("File"));
    // The bar fits its height to a line of text.
    float barBottom = bar->Frame().bottom;
    EXPECT_GT(barBottom, 10);
    EXPECT_LT(barBottom, 40);
    EXPECT_EQ(bar->Frame().right, 350);

    BRect below = window->Bounds();
    below.top = barBottom + 1;
    auto* content = new BView(below, "ContentView", B_FOLLOW_ALL, 0);
    content->SetViewColor(0, 0, 0, 255);
    window->AddChild(content);
    auto* corner = new BView(BRect(300, 300, 340, 340), "corner", B_FOLLOW_NONE, 0);
    window->AddChild(corner);

    window->ResizeTo(319, 239);
    EXPECT_EQ(window->Bounds(), BRect(0, 0, 319, 239));
    EXPECT_EQ(bar->Frame(), BRect(0, 0, 319, barBottom)); // left-right, top
    EXPECT_EQ(content->Frame(), BRect(0, barBottom + 1, 319, 239));
    EXPECT_EQ(corner->Frame(), BRect(300, 300, 340, 340)); // stays put

    window->ResizeBy(0, barBottom + 1);
    EXPECT_EQ(content->Bounds(), BRect(0, 0, 319, 239));
    EXPECT_EQ(window->FindView("ContentView"), content);
    EXPECT_EQ(window->CountChildren(), 3);
    // Nonsense sizes are held to what a window can be.
    window->ResizeTo(-5, 1e9);
    EXPECT_EQ(window->Bounds().Width(), 0);
    EXPECT_LE(window->Bounds().Height(), 16383);
    window->Quit();
}

TEST(Window, DrawBitmapScalesIntoTheViewAndClipsToIt)
{
    auto* window =
        new BWindow(BRect(0, 0, 99, 99), "draw", B_TITLED_WINDOW_LOOK, B_NORMAL_WINDOW_FEEL, 0);
    auto* view = new BView(BRect(10, 20, 89, 79), "view", B_FOLLOW_ALL, 0);
    view->SetViewColor(0, 0, 0, 255);
    window->AddChild(view);
    EXPECT_EQ(pixel_at(window, 10, 20), 0u);
    EXPECT_EQ(pixel_at(window, 9, 20), 0xD8D8D8u); // the window's panel grey

    // A 2x2 bitmap: blue, green / red, white (bytes B, G, R, A).
    BBitmap bitmap(BRect(0, 0, 1, 1), B_RGB32);
    ASSERT_EQ(bitmap.InitCheck(), B_OK);
    EXPECT_EQ(bitmap.BytesPerRow(), 8);
    auto* bits = static_cast<uint32*>(bitmap.Bits());
    bits[0] = 0xFF0000FF;
    bits[1] = 0xFF00FF00;
    bits[2] = 0xFFFF0000;
    bits[3] = 0xFFFFFFFF;

    // Scaled to 20x20 at (5, 5) of the view, so each pixel becomes 10x10.
    ASSERT_TRUE(view->LockLooper());
    view->DrawBitmap(&bitmap, BRect(5, 5, 24, 24));
    view->UnlockLooper();
    EXPECT_EQ(pixel_at(window, 15, 25), 0x0000FFu);
    EXPECT_EQ(pixel_at(window, 24, 34), 0x0000FFu);
    EXPECT_EQ(pixel_at(window, 25, 25), 0x00FF00u);
    EXPECT_EQ(pixel_at(window, 15, 35), 0xFF0000u);
    EXPECT_EQ(pixel_at(window, 34, 44), 0xFFFFFFu);
    EXPECT_EQ(pixel_at(window, 35, 45), 0u); // outside the destination

    // Partly outside the view: only the view's part is drawn.
    view->DrawBitmap(&bitmap, BRect(-30, -30, 9, 9));
    EXPECT_EQ(pixel_at(window, 10, 20), 0xFFFFFFu);
    EXPECT_EQ(pixel_at(window, 9, 19), 0xD8D8D8u);
    view->DrawBitmap(nullptr, BRect(0, 0, 5, 5)); // ignored
    window->Quit();
}

TEST(Bitmap, RefusesWhatItCannotHold)
{
    BBitmap wrong(BRect(0, 0, 9, 9), B_NO_COLOR_SPACE);
    EXPECT_NE(wrong.InitCheck(), B_OK);
    EXPECT_EQ(wrong.Bits(), nullptr);
    BBitmap inverted(BRect(0, 0, -5, 9), B_RGB32);
    EXPECT_NE(inverted.InitCheck(), B_OK);
    BBitmap huge(BRect(0, 0, 1e6, 1e6), B_RGB32);
    EXPECT_NE(huge.InitCheck(), B_OK);
    BBitmap frame(BRect(0, 0, 319, 239), B_RGB32);
    EXPECT_EQ(frame.BitsLength(), 320 * 240 * 4);
}
