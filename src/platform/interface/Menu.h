// Menus: a BMenu lists items; a BMenuBar shows its menus' titles in a row at
// the top of a window and opens a menu when its title is clicked.
#pragma once

#include "platform/interface/InterfaceDefs.h"
#include "platform/interface/View.h"

#include <vector>

class BMenu : public BView
{
public:
    explicit BMenu(const char* title, menu_layout layout = B_ITEMS_IN_COLUMN);
    ~BMenu() override;

    // Adds a submenu; the menu owns it.
    bool AddItem(BMenu* menu);
    int32 CountItems() const { return int32(fItems.size()); }
    BMenu* SubmenuAt(int32 index) const;
    menu_layout Layout() const { return fLayout; }

protected:
    std::vector<BMenu*> fItems;

private:
    menu_layout fLayout;
};

class BMenuBar : public BMenu
{
public:
    BMenuBar(BRect frame, const char* name,
             uint32 resizingMode = B_FOLLOW_LEFT_RIGHT | B_FOLLOW_TOP,
             menu_layout layout = B_ITEMS_IN_ROW, bool resizeToFit = true);

    void Draw(BRect updateRect) override;
    void MouseDown(BPoint where) override;

    // The index of the menu whose title is at `where` (bar coordinates), or -1.
    int32 ItemAt(BPoint where) const;
    // The open menu's index, or -1.
    int32 OpenIndex() const { return fOpen; }
    // Paints the open menu over the views below the bar; the window calls
    // it after drawing every view.
    void DrawOpenMenu();
    // The same into pixels the caller has locked (a bitmap drawn over the
    // menu's place puts the menu back on top).
    void PaintOpenMenu(uint32* pixels, int32 width, int32 height, int32 stride);

private:
    BRect TitleFrame(int32 index) const;

    bool fResizeToFit;
    int32 fOpen;
};
