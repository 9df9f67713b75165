// Debug output and consistency reports.
//
// _debugPrintf writes only when the runtime debug flag is set (the
// REELMOTH_DEBUG environment variable); a failed consistency check
// (_debuggerAssert) always prints one line to stderr and execution goes on;
// debugger() reports a "cannot happen" condition the same way.
#pragma once

#include "platform/support/SupportDefs.h"

extern bool _rtDebugFlag;

bool _debugFlag();
bool _setDebugFlag(bool flag);

int _debugPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// `file` is the reporting source file (its path is cut to the name);
// `expression` is the check's text.
int _debuggerAssert(const char* file, int line, const char* expression);

void debugger(const char* message);

// Checks `condition`; when it fails, reports `text` with the file and line
// of the check and yields false so the caller can go on.
// The file's name alone: a path would put the build tree into the program.
#ifdef __FILE_NAME__
#define DEBUG_CHECK_FILE __FILE_NAME__
#else
#define DEBUG_CHECK_FILE __FILE__
#endif
#define DEBUG_CHECK(condition, text)                                                               \
    ((condition) ? true : (_debuggerAssert(DEBUG_CHECK_FILE, __LINE__, (text)), false))
