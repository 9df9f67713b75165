// Replacements: module handles, exports and loading further modules.
#pragma once

#include "platform/support/SupportDefs.h"

struct pe_add_on_t;

// The record of one open installable driver, handed to a module as its
// driver handle. It lies in the module address space.
struct driver_t {
    uint32 id; // what the driver answered to DRV_OPEN
    pe_add_on_t* module;
    uint32 driver_proc; // its exported DriverProc
};

// The handle GetModuleHandleA and GetModuleHandleW give for every name.
// GetProcAddress knows two names in it (IsProcessorFeaturePresent and
// IsTNT, which gives null) and gives null for everything it does not find.
constexpr uint32 kFakeModuleHandle = 0xDEADBEEF;

uint32 exp_GetDriverModuleHandle(uint32 driver);
uint32 exp_DisableThreadLibraryCalls(uint32 module);
uint32 exp_GetModuleHandleA(uint32 name);
uint32 exp_GetModuleHandleW(uint32 name);
uint32 exp_GetProcAddress(uint32 module, uint32 name);
uint32 exp_LoadLibraryA(uint32 name);
uint32 exp_FreeLibrary(uint32 module);
uint32 exp_GetModuleFileNameA(uint32 module, uint32 buffer, uint32 size);
uint32 exp_IsProcessorFeaturePresent(uint32 feature);
