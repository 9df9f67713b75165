#include "winemu/MemoryServices.h"

#include "platform/ModuleSpace.h"

uint32 exp_malloc(uint32 size)
{
    return module_address(module_malloc(size));
}

void exp_free(uint32 block)
{
    module_free(reinterpret_cast<void*>(uintptr_t(block)));
}

uint32 exp_new(uint32 size)
{
    return exp_malloc(size);
}

void exp_delete(uint32 block)
{
    exp_free(block);
}

// The module's C-runtime initialiser tables are never run.
uint32 exp_initterm(uint32, uint32)
{
    return 0;
}
