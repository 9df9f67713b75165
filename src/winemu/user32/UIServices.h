// Replacements: the dialog, window and device-context calls of a codec's
// configuration dialog, and the default driver procedure. There is no user
// interface: a dialog only receives its initialisation message.
#pragma once

#include "platform/support/SupportDefs.h"

// The only window handle module code is ever given.
constexpr uint32 kFakeWindowHandle = 0xDEADBEEF;
constexpr uint32 kInitDialogMessage = 0x110; // WM_INITDIALOG

uint32 exp_DialogBoxParamA(uint32 module, uint32 dialogTemplate, uint32 parent, uint32 dialogProc,
                           uint32 initParam);
uint32 exp_SetDlgItemTextA(uint32 dialog, uint32 item, uint32 text);
uint32 exp_SetDlgItemInt(uint32 dialog, uint32 item, uint32 value, uint32 isSigned);
uint32 exp_GetDlgItem(uint32 dialog, uint32 item);
uint32 exp_SetScrollRange(uint32 window, uint32 bar, uint32 minimum, uint32 maximum, uint32 redraw);
uint32 exp_SetScrollPos(uint32 window, uint32 bar, uint32 position, uint32 redraw);
uint32 exp_GetDC(uint32 window);
uint32 exp_GetDeviceCaps(uint32 dc, uint32 index);
void exp_ReleaseDC(uint32 window, uint32 dc);
// Prints the text (and caption) on stderr and answers IDOK.
uint32 exp_MessageBoxA(uint32 window, uint32 text, uint32 caption, uint32 type);
uint32 exp_MessageBoxW(uint32 window, uint32 text, uint32 caption, uint32 type);
uint32 exp_DefDriverProc(uint32 driverId, uint32 driver, uint32 message, uint32 parameter1,
                         uint32 parameter2);
