#include "platform/support/Debug.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

bool debug_from_environment()
{
    const char* value = getenv("REELMOTH_DEBUG");
    return value != nullptr && value[0] != '\0' && !(value[0] == '0' && value[1] == '\0');
}

} // namespace

bool _rtDebugFlag = debug_from_environment();

bool _debugFlag()
{
    return _rtDebugFlag;
}

bool _setDebugFlag(bool flag)
{
    bool previous = _rtDebugFlag;
    _rtDebugFlag = flag;
    return previous;
}

int _debugPrintf(const char* format, ...)
{
    if (!_rtDebugFlag)
        return 0;
    va_list args;
    va_start(args, format);
    int result = vfprintf(stderr, format, args);
    va_end(args);
    return result;
}

int _debuggerAssert(const char* file, int line, const char* expression)
{
    const char* name = file != nullptr ? file : "?";
    if (const char* slash = strrchr(name, '/'))
        name = slash + 1;
    // One line per report: a single fprintf keeps it whole across threads.
    fprintf(stderr, "%s:%d: assertion failed: %s\n", name, line,
            expression != nullptr ? expression : "?");
    return 0;
}

void debugger(const char* message)
{
    fprintf(stderr, "debugger: %s\n", message != nullptr ? message : "");
}
