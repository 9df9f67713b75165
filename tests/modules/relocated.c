/* Linked at testdll's base, so it is loaded elsewhere and relocated. */
#include "imports.h"

static int sValues[4] = {1, 2, 3, 4};
int* const kPointers[] = {&sValues[0], &sValues[1], &sValues[2], &sValues[3]};

EXPORT int WINAPI SumThroughPointers(void)
{
    int sum = 0;
    for (int i = 0; i < 4; i++)
        sum += *kPointers[i];
    return sum;
}

int WINAPI DllMain(void* instance, uint32_t reason, void* reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
