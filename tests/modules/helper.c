/* Loaded by testdll's entry point: a second level of nested module calls. */
#include "imports.h"

static int sAttaches;
static int sDetaches;

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)instance;
    (void)reserved;
    if (reason == 1)
        sAttaches++;
    else if (reason == 0)
        sDetaches++;
    return 1;
}

EXPORT int WINAPI HelperAttaches(void)
{
    return sAttaches;
}
EXPORT int WINAPI HelperDetaches(void)
{
    return sDetaches;
}
