// Constants of the interface kit: resizing modes, window looks and feels.
#pragma once

#include "platform/support/SupportDefs.h"

// A resizing mode says which side of the parent each edge of a view follows:
// four 4-bit fields, top, left, bottom and right edge.
enum {
    _VIEW_TOP_ = 1,
    _VIEW_LEFT_ = 2,
    _VIEW_BOTTOM_ = 3,
    _VIEW_RIGHT_ = 4,
};

constexpr uint32 _rule_(uint32 top, uint32 left, uint32 bottom, uint32 right)
{
    return (top << 12) | (left << 8) | (bottom << 4) | right;
}

enum : uint32 {
    B_FOLLOW_NONE = 0,
    B_FOLLOW_ALL_SIDES = _rule_(_VIEW_TOP_, _VIEW_LEFT_, _VIEW_BOTTOM_, _VIEW_RIGHT_),
    B_FOLLOW_ALL = B_FOLLOW_ALL_SIDES,
    B_FOLLOW_LEFT = _rule_(0, _VIEW_LEFT_, 0, _VIEW_LEFT_),
    B_FOLLOW_RIGHT = _rule_(0, _VIEW_RIGHT_, 0, _VIEW_RIGHT_),
    B_FOLLOW_LEFT_RIGHT = _rule_(0, _VIEW_LEFT_, 0, _VIEW_RIGHT_),
    B_FOLLOW_TOP = _rule_(_VIEW_TOP_, 0, _VIEW_TOP_, 0),
    B_FOLLOW_BOTTOM = _rule_(_VIEW_BOTTOM_, 0, _VIEW_BOTTOM_, 0),
    B_FOLLOW_TOP_BOTTOM = _rule_(_VIEW_TOP_, 0, _VIEW_BOTTOM_, 0),
};

// Keys without a character of their own, as B_KEY_DOWN gives them.
enum {
    B_HOME = 0x01,
    B_END = 0x04,
    B_PAGE_UP = 0x0B,
    B_PAGE_DOWN = 0x0C,
    B_ESCAPE = 0x1B,
    B_LEFT_ARROW = 0x1C,
    B_RIGHT_ARROW = 0x1D,
    B_UP_ARROW = 0x1E,
    B_DOWN_ARROW = 0x1F,
    B_SPACE = 0x20,
};

enum window_look {
    B_BORDERED_WINDOW_LOOK = 20,
    B_NO_BORDER_WINDOW_LOOK = 19,
    B_TITLED_WINDOW_LOOK = 1,
    B_DOCUMENT_WINDOW_LOOK = 11,
    B_MODAL_WINDOW_LOOK = 3,
    B_FLOATING_WINDOW_LOOK = 7,
};

enum window_feel {
    B_NORMAL_WINDOW_FEEL = 0,
    B_MODAL_APP_WINDOW_FEEL = 1,
    B_FLOATING_APP_WINDOW_FEEL = 4,
};

enum {
    B_NOT_MOVABLE = 0x00000001,
    B_NOT_CLOSABLE = 0x00000020,
    B_NOT_ZOOMABLE = 0x00000040,
    B_NOT_MINIMIZABLE = 0x00004000,
    B_NOT_RESIZABLE = 0x00000002,
};

#define B_CURRENT_WORKSPACE 0
#define B_ALL_WORKSPACES 0xffffffff

enum menu_layout {
    B_ITEMS_IN_ROW = 0,
    B_ITEMS_IN_COLUMN,
    B_ITEMS_IN_MATRIX,
};

// The background of window areas no view covers, and of menus.
constexpr uint8 kPanelGrey = 216;

// Sets what the window system's libraries read from the environment when
// the display starts. An application calls it before it starts any other
// thread: setting a variable moves the environment, and a library loading
// meanwhile on another thread (FFmpeg's, read ahead) reads it. The display
// calls it again as it starts, which changes nothing once it is done.
void prepare_display_environment();

// Whether the window system could not be opened: the display said why on
// stderr and asked the application to quit.
bool display_unavailable();

// Called on the display thread when the connection to the window system is
// lost; the process then ends at once with status 1, without destroying its
// static objects under the threads that still run. Set it before the first
// window opens.
void set_display_lost_hook(void (*hook)());
