/* The run-time test module's checks, one slot each: the module stores 1 in
   a slot when the row it calls did the right thing. Shared by the module
   (C) and the test (C++), which names the slots that failed. */
#ifndef TEST_MODULES_RUNTIME_SLOTS_H
#define TEST_MODULES_RUNTIME_SLOTS_H

#define RUNTIME_SLOTS(X)                                                                           \
    X(GetModuleHandleW)                                                                            \
    X(GetTickCount) X(HeapReAlloc) X(HeapSize) X(FindFirstFileW) X(FindNextFileW) X(FindClose) X(  \
        GetFileAttributesW) X(PathCombineW) X(PathIsRelativeW) X(PathIsUNCW)                       \
        X(InterlockedIncrement) X(InterlockedDecrement) X(InterlockedExchange) X(                  \
            InterlockedCompareExchange) X(lstrlenA) X(lstrlenW) X(lstrcpyA) X(lstrcmpiA)           \
            X(OutputDebugStringA) X(OutputDebugStringW) X(GetCurrentProcessId) X(vsnprintf_ntdll)  \
                X(MessageBoxA) X(calloc) X(realloc) X(memcpy) X(memmove) X(memset) X(memcmp) X(    \
                    memchr) X(strlen) X(strcmp) X(strncmp) X(strcpy) X(strncpy) X(strcat)          \
                    X(strncat) X(strchr) X(strrchr) X(strstr) X(strspn) X(strcspn) X(strpbrk) X(   \
                        strdup) X(stricmp) X(strnicmp) X(wcslen) X(wcsncmp) X(tolower) X(atoi)     \
                        X(atol) X(strtol) X(strtoul) X(strtod) X(atof) X(abs) X(labs) X(rand)      \
                            X(srand) X(qsort) X(pow) X(log) X(log10) X(exp) X(sqrt) X(sin) X(cos)  \
                                X(tan) X(atan) X(atan2) X(floor) X(ceil) X(fabs) X(fmod) X(        \
                                    ldexp) X(frexp) X(modf) X(CIpow) X(CIsqrt) X(CIexp)            \
                                    X(CIlog) X(CIsin) X(CIcos) X(CIatan) X(                        \
                                        CIatan2) X(CIfmod) X(ftol) X(allmul) X(alldiv) X(aulldiv)  \
                                        X(allrem) X(aullrem) X(allshl) X(allshr) X(aullshr) X(     \
                                            chkstk) X(alloca_probe)                                \
                                            X(sprintf) X(snprintf) X(vsprintf) X(sscanf) X(        \
                                                stdio_common_vsprintf) X(stdio_common_vfprintf)    \
                                                X(stdio_common_vsscanf)                            \
                                                    X(fopen) X(wfopen) X(fdopen) X(fclose) X(      \
                                                        fwrite) X(open) X(wopen) X(read) X(write)  \
                                                        X(lseek) X(close) X(setmode)               \
                                                            X(acrt_iob_func) X(error_number)       \
                                                                X(strerror)                        \
                                                                    X(getenv) X(wgetenv) X(atexit) \
                                                                        X(onexit) X(dllonexit)     \
                                                                            X(except_handler3) X(  \
                                                                                ProcessBlockHeap)  \
                                                                                X(LastErrorSlot)

#define RUNTIME_SLOT_ENUM(name) kRt_##name,
enum runtime_slot { RUNTIME_SLOTS(RUNTIME_SLOT_ENUM) kRuntimeSlotCount };
#undef RUNTIME_SLOT_ENUM

#endif
