/* Imports names no row binds, by name and by ordinal, and the same
   supported name from two DLLs. */
#include "imports.h"

IMPORT void WINAPI NoSuchFunction(void);
IMPORT void* Malloc(size_t size);
IMPORT void WINAPI ByOrdinalA(void);
IMPORT void ByOrdinalB(void);

/* The import slots themselves. */
extern void* const volatile kNoSuchFunction __asm__("__imp__NoSuchFunction@0");
extern void* const volatile kMalloc __asm__("__imp__Malloc");
extern void* const volatile kByOrdinalA __asm__("__imp__ByOrdinalA@0");
extern void* const volatile kByOrdinalB __asm__("__imp__ByOrdinalB");
extern void* const volatile kMallocSupported __asm__("__imp__malloc");

EXPORT void* WINAPI Slots(int which)
{
    switch (which) {
    case 0:
        return kNoSuchFunction;
    case 1:
        return kMalloc;
    case 2:
        return kByOrdinalA;
    case 3:
        return kByOrdinalB;
    default:
        return kMallocSupported;
    }
}

EXPORT void WINAPI CallUnresolved(void)
{
    NoSuchFunction();
}
