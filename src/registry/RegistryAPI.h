// The registry functions that codec modules import. Each takes the call's
// 32-bit arguments as module code passed them (key handles, module
// addresses of names and buffers, numbers) and returns the Win32 result.
// Calls are serialised by one lock (registry_lock()).
//
// Key handles are HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS and
// HKEY_CURRENT_CONFIG (the root's children of those names, looked up at
// every call) or handles of keys given out by the open and create
// functions. A handle that designates no key prints "INVALID KEY\n" and
// gives ERROR_INVALID_HANDLE. Sub-key names are one key name each (never
// split at backslashes); a null or empty value name means the default
// value, "@". A pointer outside the module address space gives
// ERROR_NOACCESS; a missing out-pointer the call needs gives
// ERROR_INVALID_PARAMETER.
#pragma once

#include "platform/support/SupportDefs.h"

enum : uint32 {
    HKEY_CLASSES_ROOT = 0x80000000,
    HKEY_CURRENT_USER = 0x80000001,
    HKEY_LOCAL_MACHINE = 0x80000002,
    HKEY_USERS = 0x80000003,
    HKEY_CURRENT_CONFIG = 0x80000005,
};

enum : int32 {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_INVALID_HANDLE = 6,
    ERROR_NOT_ENOUGH_MEMORY = 8,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_MORE_DATA = 234,
    ERROR_NOACCESS = 998,
};

enum : uint32 {
    REG_CREATED_NEW_KEY = 1,
    REG_OPENED_EXISTING_KEY = 2,
};

// What a failed open leaves in the caller's handle.
constexpr uint32 kInvalidKeyHandle = 0xDEADBEEF;

// Modules may add to the registry (which goes into the user's settings
// file) only what the handler allows: it is asked (with the registry lock
// held) before each value is stored and each key made, with the value's
// size and what the registry grows by (a value's name and data, a key's
// name and kRegistryKeyCost; replacing a value counts the difference). A
// write it refuses fails with ERROR_NOT_ENOUGH_MEMORY. Without a handler
// every write is allowed.
constexpr uint32 kRegistryKeyCost = 64;
void set_registry_write_handler(bool (*handler)(uint32 valueSize, int64 growth));

// RegOpenKeyExA, 20 bytes of arguments.
int32 exp_RegOpenKeyExA(uint32 key, uint32 subKey, uint32 options, uint32 access, uint32 result);
// RegOpenKeyA, 12.
int32 exp_RegOpenKeyA(uint32 key, uint32 subKey, uint32 result);
// RegCreateKeyExA, 36.
int32 exp_RegCreateKeyExA(uint32 key, uint32 subKey, uint32 reserved, uint32 className,
                          uint32 options, uint32 access, uint32 security, uint32 result,
                          uint32 disposition);
// RegCreateKeyA, 12.
int32 exp_RegCreateKey(uint32 key, uint32 subKey, uint32 result);
// RegSetValueExA, 24.
int32 exp_RegSetValueExA(uint32 key, uint32 valueName, uint32 reserved, uint32 type, uint32 data,
                         uint32 size);
// RegQueryValueExA, 24.
int32 exp_RegQueryValueExA(uint32 key, uint32 valueName, uint32 reserved, uint32 type, uint32 data,
                           uint32 size);
// RegQueryValueA, 16.
int32 exp_RegQueryValueA(uint32 key, uint32 subKey, uint32 data, uint32 size);
// RegCloseKey, 4.
int32 exp_RegCloseKey(uint32 key);
