// Replacements: the process and the machine as a Windows 98 module expects
// to see them: version, processor, command line, environment, standard
// handles, code page, case mapping, MulDiv and the last-error value.
#pragma once

#include "platform/support/SupportDefs.h"

#include <atomic>

// The last-error value: one for the process, not per thread.
extern std::atomic<uint32> gLastError;

// What GetStdHandle gives for STD_INPUT_HANDLE (-10), STD_OUTPUT_HANDLE
// (-11) and STD_ERROR_HANDLE (-12): opaque, never read or written through.
constexpr uint32 kStdInputHandle = 0x10;
constexpr uint32 kStdOutputHandle = 0x11;
constexpr uint32 kStdErrorHandle = 0x12;
constexpr uint32 kInvalidHandleValue = 0xFFFFFFFF;

// Sizes of the Win32 structures filled here.
constexpr uint32 kSystemInfoSize = 36;
constexpr uint32 kOSVersionInfoSize = 148;
constexpr uint32 kStartupInfoSize = 68;

// dwActiveProcessorMask for `count` processors: one bit each, all 32 bits
// from 32 processors on.
uint32 active_processor_mask(int32 count);

uint32 exp_GetVersion();
uint32 exp_GetVersionExA(uint32 info);
void exp_GetSystemInfo(uint32 info);
uint32 exp_GetCommandLineA();
uint32 exp_GetEnvironmentStrings();
uint32 exp_GetEnvironmentStringsW();
uint32 exp_FreeEnvironmentStringsW(uint32 block);
void exp_GetStartupInfoA(uint32 info);
uint32 exp_GetStdHandle(uint32 which);
uint32 exp_GetFileType(uint32 handle);
uint32 exp_SetHandleCount(uint32 count);
uint32 exp_SetUnhandledExceptionFilter(uint32 filter);
uint32 exp_GetACP();
uint32 exp_GetCPInfo(uint32 codePage, uint32 info);
int32 exp_toupper(int32 c);
int32 exp_MulDiv(int32 a, int32 b, int32 c);
uint32 exp_GetLastError();
void exp_SetLastError(uint32 error);
