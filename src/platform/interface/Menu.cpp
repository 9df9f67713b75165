#include "platform/interface/Menu.h"

#include "platform/interface/Display.h"
#include "platform/interface/Window.h"

#include <algorithm>

namespace
{

// Room around a title in the bar, and the bar's padding above and below.
constexpr int32 kTitlePadding = 8;
constexpr int32 kBarPadding = 3;
// An open menu without items is an empty box of this height.
constexpr int32 kEmptyMenuHeight = 8;
constexpr int32 kMinimumMenuWidth = 60;

constexpr rgb_color kPanel = {kPanelGrey, kPanelGrey, kPanelGrey, 255};
constexpr rgb_color kShadow = {152, 152, 152, 255};
constexpr rgb_color kHighlight = {168, 168, 168, 255};
constexpr rgb_color kText = {0, 0, 0, 255};

} // namespace

BMenu::BMenu(const char* title, menu_layout layout)
    : BView(BRect(0, 0, 10, 10), title, B_FOLLOW_NONE, 0), fLayout(layout)
{
    SetViewColor(kPanel);
}

BMenu::~BMenu()
{
    for (BMenu* item : fItems)
        delete item;
}

bool BMenu::AddItem(BMenu* menu)
{
    if (menu == nullptr)
        return false;
    fItems.push_back(menu);
    Draw(Bounds());
    return true;
}

BMenu* BMenu::SubmenuAt(int32 index) const
{
    return index >= 0 && index < CountItems() ? fItems[size_t(index)] : nullptr;
}

BMenuBar::BMenuBar(BRect frame, const char* name, uint32 resizingMode, menu_layout layout,
                   bool resizeToFit)
    : BMenu(name, layout), fResizeToFit(resizeToFit), fOpen(-1)
{
    SetResizingMode(resizingMode);
    MoveTo(frame.left, frame.top);
    float height = frame.Height();
    // Fitting to the items: a row of titles is one line of text high.
    if (resizeToFit)
        height = float(display::font_height() + 2 * kBarPadding - 1);
    BView::ResizeTo(frame.Width(), height);
}

BRect BMenuBar::TitleFrame(int32 index) const
{
    float left = 0;
    for (int32 i = 0; i < index; i++)
        left += float(display::text_width(fItems[size_t(i)]->Name()) + 2 * kTitlePadding);
    float width = float(display::text_width(fItems[size_t(index)]->Name()) + 2 * kTitlePadding);
    return BRect(left, 0, left + width - 1, Bounds().bottom);
}

int32 BMenuBar::ItemAt(BPoint where) const
{
    for (int32 i = 0; i < CountItems(); i++) {
        if (TitleFrame(i).Contains(where))
            return i;
    }
    return -1;
}

void BMenuBar::Draw(BRect)
{
    BRect bounds = Bounds();
    FillRect(bounds, kPanel);
    FillRect(BRect(0, bounds.bottom, bounds.right, bounds.bottom), kShadow);
    for (int32 i = 0; i < CountItems(); i++) {
        BRect title = TitleFrame(i);
        if (i == fOpen)
            FillRect(BRect(title.left, 0, title.right, bounds.bottom - 1), kHighlight);
        DrawString(fItems[size_t(i)]->Name(), BPoint(title.left + kTitlePadding, kBarPadding),
                   kText);
    }
}

void BMenuBar::DrawOpenMenu()
{
    // The open menu lies over the views below the bar, so it is painted
    // straight into the window's picture; closing it repaints the window.
    BWindow* window = Window();
    if (window == nullptr || fOpen < 0)
        return;
    int32 width, height, stride;
    uint32* pixels = window->LockPixels(&width, &height, &stride);
    PaintOpenMenu(pixels, width, height, stride);
    window->UnlockPixels(true);
}

void BMenuBar::PaintOpenMenu(uint32* pixels, int32 width, int32 height, int32 stride)
{
    if (fOpen < 0)
        return;
    BRect title = TitleFrame(fOpen);
    BMenu* menu = fItems[size_t(fOpen)];
    int32 rows = menu->CountItems();
    int32 boxHeight = rows == 0 ? kEmptyMenuHeight : rows * (display::font_height() + 4) + 4;
    int32 boxWidth = kMinimumMenuWidth;
    int32 left = int32(Frame().left + title.left);
    int32 top = int32(Frame().bottom) + 1;
    for (int32 y = top; y < top + boxHeight && y < height; y++) {
        for (int32 x = left; x < left + boxWidth && x < width; x++) {
            bool border =
                y == top || y == top + boxHeight - 1 || x == left || x == left + boxWidth - 1;
            rgb_color c = border ? kShadow : kPanel;
            pixels[size_t(y) * stride + x] =
                0xFF000000u | uint32(c.red) << 16 | uint32(c.green) << 8 | c.blue;
        }
    }
    for (int32 i = 0; i < rows; i++) {
        display::draw_text(pixels, width, height, stride, BRect(0, 0, width - 1, height - 1),
                           left + 4, top + 2 + i * (display::font_height() + 4),
                           menu->SubmenuAt(i)->Name(), kText);
    }
}

void BMenuBar::MouseDown(BPoint where)
{
    int32 index = fOpen >= 0 ? -1 : ItemAt(where);
    fOpen = index;
    if (Window() != nullptr)
        Window()->RedrawAll();
}
