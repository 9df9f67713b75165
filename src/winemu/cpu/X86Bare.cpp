// A bare emulator for measurements: the module address space and a stack,
// no hooks, no thread block, no stop requests, no fault reports. The
// benchmarks run the same module code here and in a real context to show
// what the execution core adds on top of the emulator.
#include "winemu/cpu/ModuleCall.h"

#include "platform/kernel/ModuleSpace.h"
#include "winemu/loader/ImportTable.h"

#include <unicorn/unicorn.h>

namespace
{

struct bare_engine {
    uc_engine* engine = nullptr;
    area_id stack = -1;
    uint32 top = 0;

    ~bare_engine()
    {
        if (engine != nullptr)
            uc_close(engine);
        if (stack >= 0)
            delete_area(stack);
    }
};

} // namespace

status_t call_module_bare(uint32 address, const uint32* args, size_t count, uint32* result)
{
    thread_local bare_engine bare;
    if (bare.engine == nullptr) {
        void* bottom = nullptr;
        bare.stack = create_area("bare stack", &bottom, B_ANY_ADDRESS, 1024 * 1024, B_NO_LOCK,
                                 B_READ_AREA | B_WRITE_AREA);
        if (bare.stack < 0 || uc_open(UC_ARCH_X86, UC_MODE_32, &bare.engine) != UC_ERR_OK)
            return B_NO_MEMORY;
        bare.top = module_address(bottom) + 1024 * 1024;
        // The x87 and SSE state a Windows thread starts with, as the
        // emulator proper sets it.
        uint32 controlWord = 0x027F;
        uint16 tagWord = 0xFFFF;
        uint32 mxcsr = 0x1FA0;
        uc_reg_write(bare.engine, UC_X86_REG_FPCW, &controlWord);
        uc_reg_write(bare.engine, UC_X86_REG_FPTAG, &tagWord);
        uc_reg_write(bare.engine, UC_X86_REG_MXCSR, &mxcsr);
        if (uc_mem_map_ptr(bare.engine, kModuleSpaceStart, kModuleSpaceEnd - kModuleSpaceStart,
                           UC_PROT_ALL, module_space_base()) != UC_ERR_OK ||
            !map_import_thunks(bare.engine))
            return B_ERROR;
    }
    uint32 trap = import_return_trap();
    uint32 esp = bare.top - 4 * uint32(count + 1);
    uint32* stack = reinterpret_cast<uint32*>(uintptr_t(esp));
    stack[0] = trap;
    for (size_t i = 0; i < count; i++)
        stack[1 + i] = args[i];
    uc_reg_write(bare.engine, UC_X86_REG_ESP, &esp);
    if (uc_emu_start(bare.engine, address, trap, 0, 0) != UC_ERR_OK)
        return B_BAD_ADDRESS;
    uc_reg_read(bare.engine, UC_X86_REG_EAX, result);
    return B_OK;
}
