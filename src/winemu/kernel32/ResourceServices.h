// Replacements: string tables and resources of a module's own image.
#pragma once

#include "platform/support/SupportDefs.h"

// What FindResourceA gives for a lookup by type name, which is not
// provided for.
constexpr uint32 kUnsupportedResource = 0xDEADDEAD;

enum {
    kResourceIcon = 3,   // RT_ICON
    kResourceDialog = 5, // RT_DIALOG
};

uint32 exp_LoadStringA(uint32 module, uint32 id, uint32 buffer, uint32 size);
uint32 exp_LoadStringW(uint32 module, uint32 id, uint32 buffer, uint32 size);
uint32 exp_FindResource(uint32 module, uint32 name, uint32 type);
uint32 exp_LoadResource(uint32 module, uint32 resource);
uint32 exp_SizeofResource(uint32 module, uint32 resource);
uint32 exp_LockResource(uint32 data);
uint32 exp_LoadIcon(uint32 module, uint32 name);
