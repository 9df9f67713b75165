/* A module that lets go of itself from its own entry point: FreeLibrary on
 * its own handle while attaching and while detaching, and a LoadLibraryA of
 * itself given back in between. None of it may free its record twice. */
#include "imports.h"

static int sFreeInAttach = -1;
static int sSameHandle;

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)reserved;
    if (reason == 1) {
        sFreeInAttach = FreeLibrary(instance);
        void* again = LoadLibraryA("SelfFree.dll");
        sSameHandle = again == instance;
        if (again)
            FreeLibrary(again);
    } else if (reason == 0) {
        FreeLibrary(instance);
    }
    return 1;
}

EXPORT int WINAPI FreeInAttach(void)
{
    return sFreeInAttach;
}
EXPORT int WINAPI SameHandle(void)
{
    return sSameHandle;
}
/* Gives back what nobody took: the host's load stays. */
EXPORT int WINAPI FreeSelf(void* instance)
{
    return FreeLibrary(instance);
}
