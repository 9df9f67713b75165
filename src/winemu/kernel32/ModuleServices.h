// Replacements: module handles, exports and loading further modules.
#pragma once

#include "platform/support/SupportDefs.h"

struct pe_add_on_t;

// The record of one open installable driver. It lies in host memory; the
// module sees only `handle`, an opaque number that register_driver gives
// and find_driver looks up.
struct driver_t {
    uint32 id = 0; // what the driver answered to DRV_OPEN
    pe_add_on_t* module = nullptr;
    uint32 driver_proc = 0; // its exported DriverProc
    uint32 handle = 0;
};

// Files `driver` and sets its handle; forget_driver before it is deleted.
void register_driver(driver_t* driver);
void forget_driver(driver_t* driver);
// The open driver behind a handle a module passed; null for anything else.
driver_t* find_driver(uint32 handle);

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
