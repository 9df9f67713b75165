/* Imports names no row binds, by name and by ordinal, and the same
   supported name from two DLLs. */
#include "imports.h"

IMPORT void WINAPI NoSuchFunction(void);
IMPORT void* Malloc(size_t size);
IMPORT void WINAPI ByOrdinalA(void);
IMPORT void ByOrdinalB(void);
IMPORT void* WINAPI GetProcAddress(void* module, const char* name);

typedef void* (WINAPI* lookup_t)(void*, const char*);

EXPORT void* WINAPI Slots(int which)
{
    switch (which) {
    case 0: return (void*)NoSuchFunction;
    case 1: return (void*)Malloc;
    case 2: return (void*)ByOrdinalA;
    case 3: return (void*)ByOrdinalB;
    default: return (void*)malloc;
    }
}

EXPORT void WINAPI CallUnresolved(void) { NoSuchFunction(); }
