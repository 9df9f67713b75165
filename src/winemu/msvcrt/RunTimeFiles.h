// Replacements: files, standard streams, environment, errors and the
// run-time's start and end. Modules get no file system: opening fails with
// ENOENT (INVALID_HANDLE_VALUE and ERROR_FILE_NOT_FOUND for the kernel's
// calls); writes to the standard output and error streams (descriptors 1
// and 2, and the FILE objects __acrt_iob_func gives) go to the debug output.
#pragma once

#include "platform/support/SupportDefs.h"

// The C run-time's errno values modules see.
enum {
    kModuleENOENT = 2,
    kModuleEBADF = 9,
    kModuleEINVAL = 22,
    kModuleESPIPE = 29,
    kModuleERANGE = 34,
};

// The calling thread's errno as module code sees it (_errno()).
void set_module_errno(int32 value);

// Writes module text to the debug output (REELMOTH_DEBUG).
void module_debug_output(const char* text, size_t length);

uint32 exp_fopen(uint32 name, uint32 mode);
uint32 exp_fdopen(int32 descriptor, uint32 mode);
int32 exp_fclose(uint32 stream);
uint32 exp_fwrite(uint32 data, uint32 size, uint32 count, uint32 stream);
int32 exp_open(uint32 name, int32 flags, int32 mode);
int32 exp_read(int32 descriptor, uint32 buffer, uint32 size);
int32 exp_write(int32 descriptor, uint32 data, uint32 size);
int32 exp_lseek(int32 descriptor, int32 offset, int32 origin);
int32 exp_close(int32 descriptor);
int32 exp_setmode(int32 descriptor, int32 mode);
// FILE objects of stdin, stdout and stderr (0, 1, 2); null for others.
uint32 exp_acrt_iob_func(uint32 which);
// The stream a FILE pointer stands for: 0, 1, 2, or -1.
int32 module_stream_number(uint32 stream);
uint32 exp_errno();
uint32 exp_strerror(int32 error);
uint32 exp_getenv(uint32 name);
void exp_assert(uint32 message, uint32 file, uint32 line);
// abort and _purecall end the module call as a fault.
void exp_abort();
void exp_purecall();
// Exit handlers are accepted and never run: modules stay loaded until the
// process ends, and their memory with them.
int32 exp_atexit(uint32 function);
uint32 exp_onexit(uint32 function);
uint32 exp_dllonexit(uint32 function, uint32 begin, uint32 end);
// Enough for modules that never raise: every exception continues the search.
uint32 exp_except_handler3(uint32 record, uint32 frame, uint32 context, uint32 dispatcher);

uint32 exp_FindFirstFileW(uint32 pattern, uint32 data);
uint32 exp_FindNextFileW(uint32 handle, uint32 data);
uint32 exp_FindClose(uint32 handle);
uint32 exp_GetFileAttributesW(uint32 name);
uint32 exp_PathCombineW(uint32 target, uint32 directory, uint32 file);
uint32 exp_PathIsRelativeW(uint32 path);
uint32 exp_PathIsUNCW(uint32 path);
void exp_OutputDebugStringA(uint32 text);
void exp_OutputDebugStringW(uint32 text);
