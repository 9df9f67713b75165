/* The memory, module, process, text, resource and dialog functions the
   services test module imports, declared as the Windows headers would. */
#ifndef TEST_MODULES_SERVICES_H
#define TEST_MODULES_SERVICES_H

#include "imports.h"

#include <stdarg.h>

typedef int(WINAPI* proc_t)(void);
typedef int(WINAPI* dialog_proc_t)(void* window, uint32_t message, uint32_t wparam,
                                   uint32_t lparam);

/* Memory */
IMPORT int WINAPI IsBadReadPtr(const void* block, uint32_t size);
IMPORT int WINAPI IsBadWritePtr(void* block, uint32_t size);
IMPORT void* WINAPI HeapCreate(uint32_t options, uint32_t initial, uint32_t maximum);
IMPORT int WINAPI HeapDestroy(void* heap);
IMPORT void* WINAPI GetProcessHeap(void);
IMPORT void* WINAPI HeapAlloc(void* heap, uint32_t flags, uint32_t size);
IMPORT int WINAPI HeapFree(void* heap, uint32_t flags, void* block);
IMPORT void* WINAPI GlobalAlloc(uint32_t flags, uint32_t size);
IMPORT void* WINAPI GlobalLock(void* handle);
IMPORT void* WINAPI GlobalHandle(const void* block);
IMPORT int WINAPI GlobalUnlock(void* handle);
IMPORT void* WINAPI GlobalFree(void* handle);
IMPORT void* WINAPI LocalAlloc(uint32_t flags, uint32_t size);
IMPORT void* WINAPI LocalLock(void* handle);
IMPORT void* WINAPI LocalFree(void* handle);
IMPORT void* WINAPI VirtualAlloc(void* address, uint32_t size, uint32_t type, uint32_t protect);
IMPORT int WINAPI VirtualFree(void* address, uint32_t size, uint32_t type);
IMPORT void* OperatorNew(size_t size);   /* ??2@YAPAXI@Z */
IMPORT void OperatorDelete(void* block); /* ??3@YAXPAX@Z */

/* Modules */
IMPORT void* WINAPI GetModuleHandleA(const char* name);

/* Process and system */
IMPORT uint32_t WINAPI GetVersion(void);
IMPORT int WINAPI GetVersionExA(void* info);
IMPORT void WINAPI GetSystemInfo(void* info);
IMPORT char* WINAPI GetCommandLineA(void);
IMPORT char* WINAPI GetEnvironmentStrings(void);
IMPORT uint16_t* WINAPI GetEnvironmentStringsW(void);
IMPORT int WINAPI FreeEnvironmentStringsW(uint16_t* block);
IMPORT void WINAPI GetStartupInfoA(void* info);
IMPORT void* WINAPI GetStdHandle(uint32_t which);
IMPORT uint32_t WINAPI GetFileType(void* handle);
IMPORT uint32_t WINAPI SetHandleCount(uint32_t count);
IMPORT void* WINAPI SetUnhandledExceptionFilter(void* filter);
IMPORT uint32_t WINAPI GetACP(void);
IMPORT int WINAPI GetCPInfo(uint32_t codePage, void* info);
IMPORT int toupper(int c);
IMPORT int WINAPI MulDiv(int a, int b, int c);
IMPORT uint32_t WINAPI GetLastError(void);
IMPORT void WINAPI SetLastError(uint32_t error);

/* Text */
IMPORT int WINAPI WideCharToMultiByte(uint32_t codePage, uint32_t flags, const uint16_t* wide,
                                      int wideCount, char* out, int outSize,
                                      const char* defaultChar, int* usedDefault);
IMPORT int WINAPI MultiByteToWideChar(uint32_t codePage, uint32_t flags, const char* text,
                                      int textLength, uint16_t* out, int outCount);
IMPORT int wsprintfA(char* buffer, const char* format, ...);
IMPORT int WINAPI wvsprintfA(char* buffer, const char* format, va_list arguments);

/* Strings and resources */
IMPORT int WINAPI LoadStringA(void* module, uint32_t id, char* buffer, int size);
IMPORT void* WINAPI FindResourceA(void* module, const char* name, const char* type);
IMPORT void* WINAPI LoadResource(void* module, void* resource);
IMPORT uint32_t WINAPI SizeofResource(void* module, void* resource);
IMPORT void* WINAPI LockResource(void* data);
IMPORT void* WINAPI LoadIconA(void* module, const char* name);

/* Dialogs, windows and drivers */
IMPORT int WINAPI DialogBoxParamA(void* module, const char* name, void* parent,
                                  dialog_proc_t procedure, uint32_t initParam);
IMPORT int WINAPI SetDlgItemTextA(void* dialog, int item, const char* text);
IMPORT int WINAPI SetDlgItemInt(void* dialog, int item, uint32_t value, int isSigned);
IMPORT void* WINAPI GetDlgItem(void* dialog, int item);
IMPORT int WINAPI SetScrollRange(void* window, int bar, int minimum, int maximum, int redraw);
IMPORT int WINAPI SetScrollPos(void* window, int bar, int position, int redraw);
IMPORT void* WINAPI GetDC(void* window);
IMPORT int WINAPI GetDeviceCaps(void* dc, int index);
IMPORT int WINAPI ReleaseDC(void* window, void* dc);
IMPORT uint32_t WINAPI DefDriverProc(uint32_t driverId, void* driver, uint32_t message,
                                     uint32_t parameter1, uint32_t parameter2);

#define MAKEINTRESOURCE(id) ((const char*)(uint32_t)(id))

#endif
