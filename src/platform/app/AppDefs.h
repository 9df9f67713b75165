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
};
