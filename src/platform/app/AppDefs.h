// Message codes of the application and interface kits.
#pragma once

#include "platform/support/SupportDefs.h"

enum {
    B_QUIT_REQUESTED = '_QRQ',
    B_REFS_RECEIVED = '_RRC',
    B_ARGV_RECEIVED = '_ARG',
    B_READY_TO_RUN = '_RTR',
    B_MOUSE_DOWN = '_MDN',
    B_WINDOW_RESIZED = '_WRS',
    // Field "key" (int32): the character typed, or one of the key codes of
    // InterfaceDefs.h for keys without one.
    B_KEY_DOWN = '_KYD',
    B_MOUSE_MOVED = '_MMV',
    // Field "be:wheel_delta_y" (float): positive away from the user.
    B_MOUSE_WHEEL_CHANGED = '_MWC',
};
