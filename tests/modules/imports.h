/* The Win32 and C-runtime names our test modules import, declared as the
   Windows headers would. Freestanding: no Windows headers are used. */
#ifndef TEST_MODULES_IMPORTS_H
#define TEST_MODULES_IMPORTS_H

typedef unsigned int uint32_t;
typedef unsigned short uint16_t;
typedef unsigned char uint8_t;
typedef unsigned int size_t;

#define WINAPI __attribute__((stdcall))
#define IMPORT __declspec(dllimport)
#define EXPORT __declspec(dllexport)

IMPORT void* WINAPI LoadLibraryA(const char* name);
IMPORT int WINAPI FreeLibrary(void* module);
IMPORT void* WINAPI GetProcAddress(void* module, const char* name);
IMPORT uint32_t WINAPI GetModuleFileNameA(void* module, char* buffer, uint32_t size);
IMPORT int WINAPI DisableThreadLibraryCalls(void* module);
IMPORT void* WINAPI GetDriverModuleHandle(void* driver);
IMPORT void* WINAPI GetProcessHeap(void);
IMPORT void* WINAPI HeapAlloc(void* heap, uint32_t flags, size_t size);
IMPORT int WINAPI HeapFree(void* heap, uint32_t flags, void* block);
IMPORT void* WINAPI VirtualAlloc(void* address, size_t size, uint32_t type, uint32_t protect);
IMPORT int WINAPI VirtualFree(void* address, size_t size, uint32_t type);

IMPORT void* malloc(size_t size);
IMPORT void free(void* block);
IMPORT int _initterm(void* begin, void* end);
IMPORT extern int _adjust_fdiv;

#endif
