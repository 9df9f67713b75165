/* Calls the registry functions from module code: thin wrappers that the
   host drives case by case, a codec-like sequence that checks its own
   results, and a loop that checks each import's stack effect. */
#include "imports.h"

typedef void* HKEY;

IMPORT long WINAPI RegOpenKeyExA(HKEY key, const char* subKey, uint32_t options, uint32_t access,
                                 HKEY* result);
IMPORT long WINAPI RegOpenKeyA(HKEY key, const char* subKey, HKEY* result);
IMPORT long WINAPI RegCreateKeyExA(HKEY key, const char* subKey, uint32_t reserved, char* className,
                                   uint32_t options, uint32_t access, void* security, HKEY* result,
                                   uint32_t* disposition);
IMPORT long WINAPI RegCreateKeyA(HKEY key, const char* subKey, HKEY* result);
IMPORT long WINAPI RegSetValueExA(HKEY key, const char* name, uint32_t reserved, uint32_t type,
                                  const uint8_t* data, uint32_t size);
IMPORT long WINAPI RegQueryValueExA(HKEY key, const char* name, uint32_t* reserved, uint32_t* type,
                                    uint8_t* data, uint32_t* size);
IMPORT long WINAPI RegQueryValueA(HKEY key, const char* subKey, char* data, long* size);
IMPORT long WINAPI RegCloseKey(HKEY key);

#define HKEY_CURRENT_USER ((HKEY)0x80000001)
#define REG_DWORD 4
#define KEY_ALL_ACCESS 0xF003F

EXPORT long WINAPI OpenEx(HKEY key, const char* name, HKEY* out)
{
    return RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, out);
}

EXPORT long WINAPI Open(HKEY key, const char* name, HKEY* out)
{
    return RegOpenKeyA(key, name, out);
}

EXPORT long WINAPI CreateEx(HKEY key, const char* name, HKEY* out, uint32_t* disposition)
{
    return RegCreateKeyExA(key, name, 0, 0, 0, KEY_ALL_ACCESS, 0, out, disposition);
}

EXPORT long WINAPI Create(HKEY key, const char* name, HKEY* out)
{
    return RegCreateKeyA(key, name, out);
}

EXPORT long WINAPI SetValue(HKEY key, const char* name, uint32_t type, const uint8_t* data,
                            uint32_t size)
{
    return RegSetValueExA(key, name, 0, type, data, size);
}

EXPORT long WINAPI QueryEx(HKEY key, const char* name, uint32_t* type, uint8_t* data,
                           uint32_t* size)
{
    return RegQueryValueExA(key, name, 0, type, data, size);
}

EXPORT long WINAPI Query(HKEY key, const char* name, char* data, long* size)
{
    return RegQueryValueA(key, name, data, size);
}

EXPORT long WINAPI Close(HKEY key)
{
    return RegCloseKey(key);
}

/* What a codec does with its settings: open its key below SOFTWARE, make
   its own keys, store a number and read it back. Returns the number of
   results that differ from what Windows gives. */
EXPORT int WINAPI Settings(uint32_t quality)
{
    int wrong = 0;
    HKEY software = 0, vendor = 0, product = 0, again = 0;
    uint32_t disposition = 0, type = 0, value = 0, size = sizeof(value);

    wrong += RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE", 0, KEY_ALL_ACCESS, &software) != 0;
    wrong += RegCreateKeyExA(software, "Microcrap", 0, 0, 0, KEY_ALL_ACCESS, 0, &vendor,
                             &disposition) != 0;
    wrong += disposition != 2; /* the default tree has it */
    wrong +=
        RegCreateKeyExA(vendor, "Scrunch", 0, 0, 0, KEY_ALL_ACCESS, 0, &product, &disposition) != 0;
    wrong += disposition != 1 && disposition != 2;
    wrong += RegSetValueExA(product, "Quality", 0, REG_DWORD, (const uint8_t*)&quality, 4) != 0;
    wrong += RegOpenKeyA(vendor, "Scrunch", &again) != 0;
    wrong += again != product;
    wrong += RegQueryValueExA(again, "Quality", 0, &type, (uint8_t*)&value, &size) != 0;
    wrong += type != REG_DWORD || size != 4 || value != quality;
    wrong += RegCloseKey(again) != 0;
    wrong += RegCloseKey(product) != 0;
    wrong += RegCloseKey(vendor) != 0;
    wrong += RegCloseKey(software) != 0;
    return wrong;
}

/* ESP before minus ESP after a call with zero arguments pushed. */
#define CALL_AND_MEASURE(fn, pushes, result)                                                       \
    __asm__ volatile("movl %%esp, %%esi\n\t" pushes "call *%1\n\t"                                 \
                     "subl %%esp, %%esi\n\t"                                                       \
                     "addl %%esi, %%esp\n\t"                                                       \
                     : "=&S"(result)                                                               \
                     : "r"(fn)                                                                     \
                     : "eax", "ecx", "edx", "memory", "cc")

#define PUSH1 "pushl $0\n\t"
#define PUSH3 PUSH1 PUSH1 PUSH1
#define PUSH4 PUSH3 PUSH1
#define PUSH5 PUSH4 PUSH1
#define PUSH6 PUSH5 PUSH1
#define PUSH9 PUSH6 PUSH3

/* Returns the number of calls whose stack effect was wrong: every registry
   function removes exactly its arguments. */
EXPORT int WINAPI StackLoop(int rounds)
{
    int wrong = 0;
    for (int i = 0; i < rounds; i++) {
        int moved;
        CALL_AND_MEASURE((void*)RegOpenKeyExA, PUSH5, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)RegOpenKeyA, PUSH3, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)RegCreateKeyExA, PUSH9, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)RegCreateKeyA, PUSH3, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)RegSetValueExA, PUSH6, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)RegQueryValueExA, PUSH6, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)RegQueryValueA, PUSH4, moved);
        wrong += moved != 0;
        CALL_AND_MEASURE((void*)RegCloseKey, PUSH1, moved);
        wrong += moved != 0;
    }
    return wrong;
}

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
