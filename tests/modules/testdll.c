/* The main test DLL: exports by name and ordinal, a BSS section, data that
   needs relocation, resources, and an entry point that counts its notices
   and uses the module services. */
#include "imports.h"

IMPORT void* WINAPI AcmGetProcAddress(void* module, const char* name);

static int sAttaches; /* in .bss */
static int sDetaches;
static char sFileName[64];
static void* sHelper;
static int sLookupDuringAttach;
char gBig[8192]; /* a large .bss, not optimised away */

static int Twice(int x)
{
    return 2 * x;
}
static int Thrice(int x)
{
    return 3 * x;
}
/* Absolute addresses: each needs a HIGHLOW relocation when moved. */
int (*const kTable[])(int) = {Twice, Thrice};
const char* const kGreeting = "hello";

static int contains(const char* text, const char* part)
{
    for (; *text; text++) {
        const char* a = text;
        const char* b = part;
        while (*a && *b && *a == *b) {
            a++;
            b++;
        }
        if (*b == '\0')
            return 1;
    }
    return 0;
}

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)reserved;
    if (reason == 1) {
        sAttaches++;
        GetModuleFileNameA(instance, sFileName, sizeof(sFileName));
        /* Our own record is listed before this runs. */
        sLookupDuringAttach = GetProcAddress(instance, "Sum3") != (void*)0xDEADBEEF;
        if (contains(sFileName, "refuse"))
            return 0;
        sHelper = LoadLibraryA("helper.dll");
        DisableThreadLibraryCalls(instance);
    } else if (reason == 0) {
        sDetaches++;
        if (sHelper)
            FreeLibrary(sHelper);
    }
    return 1;
}

EXPORT int WINAPI Sum3(int a, int b, int c)
{
    return a + b + c;
}
EXPORT int WINAPI Attaches(void)
{
    return sAttaches;
}
EXPORT int WINAPI Detaches(void)
{
    return sDetaches;
}
EXPORT const char* WINAPI FileName(void)
{
    return sFileName;
}
EXPORT void* WINAPI Helper(void)
{
    return sHelper;
}
EXPORT int WINAPI LookupDuringAttach(void)
{
    return sLookupDuringAttach;
}
EXPORT int WINAPI CallTable(int which, int x)
{
    return kTable[which & 1](x);
}
EXPORT const char* WINAPI Greeting(void)
{
    return kGreeting;
}
EXPORT int WINAPI AdjustFdiv(void)
{
    return _adjust_fdiv;
}
EXPORT int WINAPI BssIsZero(void)
{
    for (unsigned i = 0; i < sizeof(gBig); i++)
        if (gBig[i])
            return 0;
    return 1;
}
EXPORT int Cdecl2(int a, int b)
{
    return a - b;
}
/* Exported by ordinal only (see testdll.def). */
EXPORT int WINAPI Hidden(void)
{
    return 77;
}
EXPORT void* WINAPI Allocate(uint32_t size)
{
    return malloc(size);
}
EXPORT void WINAPI Release(void* block)
{
    free(block);
}
EXPORT void* WINAPI DriverModule(void* driver)
{
    return GetDriverModuleHandle(driver);
}
EXPORT void* WINAPI Load(const char* name)
{
    return LoadLibraryA(name);
}
EXPORT int WINAPI Unload(void* module)
{
    return FreeLibrary(module);
}
EXPORT void* WINAPI Lookup(void* module, const char* name)
{
    return GetProcAddress(module, name);
}
/* The same name imported from KERNEL32 and MSACM32 binds alike. */
EXPORT int WINAPI SameBinding(void)
{
    return (void*)GetProcAddress == (void*)AcmGetProcAddress;
}
