// What the running application says about itself. The application object
// registers its signature when it is constructed; until then (and in tools
// and tests without one) there is none.
#pragma once

#include "platform/support/SupportDefs.h"

#define B_MIME_TYPE_LENGTH 256

struct app_info {
    int32 thread; // the application's main thread
    int32 team;   // the process id
    uint32 flags;
    char signature[B_MIME_TYPE_LENGTH]; // empty when none is registered
};

// Registers (or with null, clears) the running application's signature.
void set_running_app_signature(const char* signature);

// Fills `info` for the running application; B_ERROR when no application
// signature is registered.
status_t get_running_app_info(app_info* info);
