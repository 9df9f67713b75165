#include "winemu/cpu/X86Context.h"

#include "platform/kernel/ModuleSpace.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/cpu/ModuleLimits.h"
#include "winemu/kernel32/MemoryServices.h"
#include "winemu/loader/ImportTable.h"
#include "winemu/loader/pe_add_on.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <signal.h>
#include <sys/mman.h>
#include <thread>
#include <unicorn/unicorn.h>
#include <unistd.h>

namespace
{

std::atomic<uint32> sModuleFaults{0};
std::atomic<bool> sFaultHandlerInstalled{false};
struct sigaction sPreviousFaultHandler;

constexpr uint32 kStackSize = 1024 * 1024;
// Room left below the stack pointer before a nested call, so a call never
// needs the last bytes of the stack.
constexpr uint32 kStackReserve = 256;
// Translated code per emulator; plenty for a codec and its helpers.
constexpr uint32 kTranslationBufferSize = 64 * 1024 * 1024;

enum {
    kCodeSelector = 1 << 3,
    kDataSelector = 2 << 3,
    kThreadBlockSelector = 3 << 3,
    kDescriptorCount = 4,
};

// A flat 4 GiB 32-bit segment descriptor (code or read/write data), ring 0.
constexpr uint64 kFlatCode = 0x00CF9B000000FFFFull;
constexpr uint64 kFlatData = 0x00CF93000000FFFFull;
// CR4.OSFXSR and CR4.OSXMMEXCPT.
constexpr uint32 kCr4FxsrAndXmmExceptions = (1u << 9) | (1u << 10);

uint64 byte_segment(uint32 base, uint32 limit)
{
    return (limit & 0xFFFF) | (uint64(base & 0xFFFFFF) << 16) | (uint64(0x93) << 40) |
           (uint64((limit >> 16) & 0xF) << 48) | (uint64(0x4) << 52) | (uint64(base >> 24) << 56);
}

struct context_registry {
    std::mutex lock;
    std::map<thread_id, std::shared_ptr<x86_stop_state>> byThread;
};

context_registry& registry()
{
    static context_registry* shared = new context_registry;
    return *shared;
}

thread_id current_thread_id()
{
    return thread_id(gettid());
}

void InterruptHookWrapper(uc_engine*, uint32_t number, void* cookie)
{
    static_cast<CX86Context*>(cookie)->InterruptHook(number);
}

bool InvalidMemoryHookWrapper(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t,
                              void* cookie)
{
    return static_cast<CX86Context*>(cookie)->InvalidMemory(int(type), address);
}

// kill_thread's interrupt hook for a thread that runs module code; runs on
// the killer's thread.
void KillHookWrapper(thread_id thread, void*)
{
    CX86Context::RequestStop(thread);
}

void ForgetRangeWrapper(uint32 start, uint32 end, void* cookie)
{
    uc_ctl_remove_cache(static_cast<uc_engine*>(cookie), start, end);
}

void ForgetPagesWrapper(uint32 start, uint32 end, void* cookie)
{
    uc_direct_forget(static_cast<uc_engine*>(cookie), start, end);
}

bool DirectAccessibleWrapper(void* cookie, uint64_t page)
{
    return static_cast<CX86Context*>(cookie)->HostMayTouch(uint32(page));
}

void ModuleFaultHandler(int number, siginfo_t* info, void* context)
{
    if (uc_direct_fault(context, uint64(uintptr_t(info->si_addr))))
        return;
    const struct sigaction& previous = sPreviousFaultHandler;
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(number, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(number);
    } else {
        // The fault comes again on return, now with its default action.
        signal(SIGSEGV, SIG_DFL);
    }
}

uint32 read_register(uc_engine* engine, int which)
{
    uint32 value = 0;
    uc_reg_read(engine, which, &value);
    return value;
}

void write_register(uc_engine* engine, int which, uint32 value)
{
    uc_reg_write(engine, which, &value);
}

} // namespace

namespace
{

thread_local std::unique_ptr<CX86Context> tContext;
thread_local const char* tAbortReason = nullptr;
// Set by module_call_end_all: every level of the running call ends.
thread_local bool tEndAll = false;

} // namespace

CX86Context* CX86Context::Existing()
{
    return tContext.get();
}

CX86Context* CX86Context::Current()
{
    std::unique_ptr<CX86Context>& context = tContext;
    if (context == nullptr) {
        std::unique_ptr<CX86Context> made(new CX86Context);
        if (made->InitCheck() != B_OK)
            return nullptr;
        context = std::move(made);
    }
    return context.get();
}

CX86Context::CX86Context()
    : fInitStatus(B_NO_INIT), fEngine(nullptr), fStackArea(-1), fStackBottom(0), fStackTop(0),
      fReturnTrap(import_return_trap()), fThread(current_thread_id()), fDepth(0), fEntry(0),
      fSeenGeneration(module_space_generation()), fDirectGeneration(fSeenGeneration),
      fOpenedGeneration(module_space_opened_generation()), fLoadsFault(false),
      fStop(std::make_shared<x86_stop_state>()), fFault(kNoFault), fFaultAddress(0),
      fFaultDetail(0), fAbortReason(nullptr)
{
    uint8* block = thread_block();
    uint8* process = process_block();
    if (module_space_init() != B_OK || block == nullptr || process == nullptr || fReturnTrap == 0) {
        fInitStatus = B_NO_MEMORY;
        return;
    }
    // Modules built for Windows read their process heap from the process
    // block rather than calling GetProcessHeap. Written once: module code on
    // other threads may be reading it while a new context starts.
    static const bool sHeapWritten = [process] {
        *reinterpret_cast<uint32*>(process + kProcessBlockHeap) = kProcessHeapHandle;
        return true;
    }();
    (void)sHeapWritten;

    // The stack, with the descriptor table in the page above it and a guard
    // page below it: runaway recursion faults there rather than writing
    // over whatever lies below.
    void* address = nullptr;
    fStackArea = create_area("module stack", &address, B_ANY_ADDRESS, kStackSize + 2 * B_PAGE_SIZE,
                             B_NO_LOCK, B_READ_AREA | B_WRITE_AREA);
    if (fStackArea < 0) {
        fInitStatus = fStackArea;
        return;
    }
    fStackBottom = module_address(address) + B_PAGE_SIZE;
    fStackTop = fStackBottom + kStackSize;
    uint64* table = reinterpret_cast<uint64*>(uintptr_t(fStackTop));
    uint32 blockAddress = module_address(block);
    table[1] = kFlatCode;
    table[2] = kFlatData;
    table[3] = byte_segment(blockAddress, kThreadBlockSize - 1);
    *reinterpret_cast<uint32*>(block + kThreadBlockStackBase) = fStackTop;
    *reinterpret_cast<uint32*>(block + kThreadBlockStackLimit) = fStackBottom;

    uc_engine* engine = nullptr;
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &engine) != UC_ERR_OK) {
        fInitStatus = B_ERROR;
        return;
    }
    fEngine = engine;
    // The processor modules see: MMX, SSE, SSE2 and SSE3, which run in
    // the translated code itself (x87 and SSE on the host's units), and
    // nothing they would pick over those that runs as helper calls
    // (SSSE3, SSE4, 3DNow!).
    uc_ctl_set_cpu_model(engine, UC_CPU_X86_QEMU32);
    uc_ctl_set_tcg_buffer_size(engine, kTranslationBufferSize);
    // FXSAVE and SSE enabled, SIMD exceptions as #XM: what the system does
    // at start (the emulator enables SSE itself only beside XSAVE).
    uint32 cr4 = read_register(engine, UC_X86_REG_CR4) | kCr4FxsrAndXmmExceptions;
    write_register(engine, UC_X86_REG_CR4, cr4);
    uc_hook hook;
    uc_x86_mmr gdtr = {0, fStackTop, kDescriptorCount * 8 - 1, 0};
    if (!MapWindow(engine) || uc_reg_write(engine, UC_X86_REG_GDTR, &gdtr) != UC_ERR_OK ||
        uc_hook_add(engine, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(InterruptHookWrapper),
                    this, 1, 0) != UC_ERR_OK ||
        uc_hook_add(engine, &hook, UC_HOOK_MEM_INVALID,
                    reinterpret_cast<void*>(InvalidMemoryHookWrapper), this, 1, 0) != UC_ERR_OK) {
        fInitStatus = B_ERROR;
        return;
    }
    // Module memory is host memory at the same address: loads and stores
    // of module code go straight to it, page by page as the emulator finds
    // them accessible (HostMayTouch). Without it they are translated.
    uc_direct_window(engine, kModuleSpaceStart, kModuleSpaceEnd, DirectAccessibleWrapper, this);
    const struct {
        int which;
        uint32 selector;
    } segments[] = {
        {UC_X86_REG_CS, kCodeSelector}, {UC_X86_REG_SS, kDataSelector},
        {UC_X86_REG_DS, kDataSelector}, {UC_X86_REG_ES, kDataSelector},
        {UC_X86_REG_GS, kDataSelector}, {UC_X86_REG_FS, kThreadBlockSelector},
    };
    for (const auto& segment : segments) {
        if (uc_reg_write(engine, segment.which, &segment.selector) != UC_ERR_OK) {
            fInitStatus = B_ERROR;
            return;
        }
    }

    // Windows starts threads with 53-bit x87 precision and an empty x87
    // stack (the engine starts with every register tagged in use, so the
    // first load would overflow it); MXCSR as usual.
    uint32 controlWord = 0x027F;
    uint16 tagWord = 0xFFFF;
    uint32 mxcsr = 0x1FA0;
    uc_reg_write(engine, UC_X86_REG_FPCW, &controlWord);
    uc_reg_write(engine, UC_X86_REG_FPTAG, &tagWord);
    uc_reg_write(engine, UC_X86_REG_MXCSR, &mxcsr);

    fStop->engine = engine;
    {
        context_registry& shared = registry();
        std::lock_guard<std::mutex> guard(shared.lock);
        shared.byThread[fThread] = fStop;
    }
    // Killing this thread stops its module code. The hook stays after the
    // context has gone; it then finds no context and does nothing.
    set_thread_interrupt_hook(KillHookWrapper, nullptr);
    fInitStatus = B_OK;
}

CX86Context::~CX86Context()
{
    {
        context_registry& shared = registry();
        std::lock_guard<std::mutex> guard(shared.lock);
        auto found = shared.byThread.find(fThread);
        if (found != shared.byThread.end() && found->second == fStop)
            shared.byThread.erase(found);
    }
    {
        std::lock_guard<std::mutex> guard(fStop->engineLock);
        fStop->engine = nullptr;
    }
    for (uc_context* saved : fSaved)
        uc_context_free(saved);
    if (fEngine != nullptr)
        uc_close(fEngine);
    if (fStackArea >= 0)
        delete_area(fStackArea);
}

status_t install_module_fault_handler()
{
    if (sFaultHandlerInstalled.load())
        return B_OK;
    struct sigaction action = {};
    action.sa_sigaction = ModuleFaultHandler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGSEGV, &action, &sPreviousFaultHandler) != 0)
        return B_ERROR;
    sFaultHandlerInstalled.store(true);
    return B_OK;
}

status_t CX86Context::RequestStop(thread_id thread)
{
    std::shared_ptr<x86_stop_state> state;
    {
        context_registry& shared = registry();
        std::lock_guard<std::mutex> guard(shared.lock);
        auto found = shared.byThread.find(thread);
        if (found == shared.byThread.end())
            return B_BAD_THREAD_ID;
        state = found->second;
    }
    state->stopRequested.store(true);
    if (thread == current_thread_id())
        return B_OK; // our own code stops when we return to it

    // Module code normally reaches an import call or returns soon; only code
    // that does neither is stopped from outside, which the emulator does not
    // promise to handle well while it runs.
    auto deadline =
        std::chrono::steady_clock::now() + std::chrono::microseconds(kModuleStopGracePeriod);
    while (state->where.load() == x86_stop_state::kInModule) {
        if (std::chrono::steady_clock::now() >= deadline) {
            std::lock_guard<std::mutex> guard(state->engineLock);
            if (state->engine != nullptr && state->where.load() == x86_stop_state::kInModule)
                uc_emu_stop(state->engine);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return B_OK;
}

bool CX86Context::StopPending()
{
    if (StopRequested())
        return true;
    // kill_thread wakes a thread before it runs the hook that requests the
    // stop, so a replacement may see the kill (a wait cut short) first.
    if (!has_kill_request())
        return false;
    fStop->stopRequested.store(true);
    return true;
}

// Once the window is guarded and faults come back as the module's own,
// module code reads without a page lookup (6-8% of MP3 decoding's time).
// The guard page below the stack is then closed on the host too, so that a
// read of it faults; host code never needs it.
void CX86Context::FollowGuard()
{
    bool loadsFault = module_space_guarded() && sFaultHandlerInstalled.load();
    if (loadsFault == fLoadsFault || fDepth > 0)
        return;
    void* guard = reinterpret_cast<void*>(uintptr_t(fStackBottom - B_PAGE_SIZE));
    if (mprotect(guard, B_PAGE_SIZE, loadsFault ? PROT_NONE : PROT_READ | PROT_WRITE) != 0 ||
        uc_direct_loads_fault(fEngine, loadsFault) != UC_ERR_OK)
        return;
    // With nothing of the host's below 4 GiB the read itself is the check.
    if (loadsFault && module_space_surrounded())
        uc_direct_loads_unchecked(fEngine, true);
    fLoadsFault = loadsFault;
}

bool CX86Context::HostMayTouch(uint32 page) const
{
    return page != fStackBottom - B_PAGE_SIZE && module_range_accessible(page, B_PAGE_SIZE);
}

// Pages of areas deleted since the engine last looked stop being accessed
// directly: their next access asks HostMayTouch again, so module code that
// touches memory it gave back faults instead of reaching a closed page.
// Pages opened beside a page the engine found closed are looked at again
// too: the page below them goes direct once its accesses may cross.
void CX86Context::ForgetChangedPages()
{
    uint64 deleted = module_space_generation();
    if (deleted != fDirectGeneration) {
        if (!module_space_deleted_ranges(fDirectGeneration, ForgetPagesWrapper, fEngine))
            uc_direct_forget(fEngine, 0, uint64(1) << 32);
        fDirectGeneration = deleted;
    }
    uint64 opened = module_space_opened_generation();
    if (opened != fOpenedGeneration) {
        if (!module_space_opened_ranges(fOpenedGeneration, ForgetPagesWrapper, fEngine))
            uc_direct_forget(fEngine, 0, uint64(1) << 32);
        fOpenedGeneration = opened;
    }
}

void CX86Context::ForgetStaleCode()
{
    uint64 generation = module_space_generation();
    if (generation == fSeenGeneration)
        return;
    if (!module_space_deleted_ranges(fSeenGeneration, ForgetRangeWrapper, fEngine))
        uc_ctl_flush_tb(fEngine);
    fSeenGeneration = generation;
}

// The window, but for this thread's guard page, and the import thunk pages
// above it, which module code may read and run but not write (they are not
// module memory: no replacement can write them either). Mappings side by
// side cost nothing, where protecting a page of one mapping splits the
// engine's region at the price of tens of milliseconds.
bool CX86Context::MapWindow(uc_engine* engine)
{
    uint32 guard = fStackBottom - B_PAGE_SIZE;
    uint8* base = static_cast<uint8*>(module_space_base());
    return uc_mem_map_ptr(engine, kModuleSpaceStart, guard - kModuleSpaceStart, UC_PROT_ALL,
                          base) == UC_ERR_OK &&
           uc_mem_map_ptr(engine, fStackBottom, kModuleSpaceEnd - fStackBottom, UC_PROT_ALL,
                          base + (fStackBottom - kModuleSpaceStart)) == UC_ERR_OK &&
           map_import_thunks(engine);
}

status_t CX86Context::Call(uint32 address, const uint32* args, size_t count, uint32* result,
                           uint64* result64)
{
    if (StopPending()) // killed before its first module call, or stopped
        return B_INTERRUPTED;
    // Each level costs host stack: a module recursing through a replacement
    // that calls back (qsort, LoadLibraryA) must not exhaust it.
    if (fDepth >= kModuleCallDepthLimit) {
        module_limit_reached(kLimitCallDepth, fEntry);
        return B_NO_MEMORY;
    }
    ForgetStaleCode();
    ForgetChangedPages();
    FollowGuard();

    uint32 esp = fStackTop;
    if (fDepth > 0) {
        // Nested: below the outer level's stack, whose registers come back
        // afterwards.
        esp = read_register(fEngine, UC_X86_REG_ESP) & ~15u;
        if (fSaved.size() < size_t(fDepth)) {
            uc_context* saved = nullptr;
            if (uc_context_alloc(fEngine, &saved) != UC_ERR_OK)
                return B_NO_MEMORY;
            fSaved.push_back(saved);
        }
        uc_context_save(fEngine, fSaved[fDepth - 1]);
    }
    uint64 needed = 4 * (uint64(count) + 1) + kStackReserve;
    if (esp < fStackBottom || esp > fStackTop || esp - fStackBottom < needed) {
        fprintf(stderr, "module call at 0x%08" PRIx32 " refused: module stack exhausted\n",
                address);
        if (fDepth > 0)
            uc_context_restore(fEngine, fSaved[fDepth - 1]);
        return B_NO_MEMORY;
    }
    esp -= uint32(4 * count);
    uint32* stack = reinterpret_cast<uint32*>(uintptr_t(esp));
    for (size_t i = 0; i < count; i++)
        stack[i] = args[i];
    esp -= 4;
    *reinterpret_cast<uint32*>(uintptr_t(esp)) = fReturnTrap;
    write_register(fEngine, UC_X86_REG_ESP, esp);

    fFault = kNoFault;
    fStop->where.store(x86_stop_state::kInModule);
    if (fDepth == 0)
        fEntry = address;
    fDepth++;
    uc_err error = uc_emu_start(fEngine, address, fReturnTrap, 0, 0);
    fDepth--;
    fStop->where.store(fDepth > 0 ? x86_stop_state::kInHost : x86_stop_state::kIdle);
    if (fDepth == 0)
        tEndAll = false;

    status_t status = B_OK;
    uint32 eip = read_register(fEngine, UC_X86_REG_EIP);
    if (fFault != kNoFault || error != UC_ERR_OK) {
        ReportFault(error);
        status = B_BAD_ADDRESS;
    } else if (eip != fReturnTrap) {
        status = B_INTERRUPTED; // stopped on request
    } else {
        uint32 eax = read_register(fEngine, UC_X86_REG_EAX);
        if (result != nullptr)
            *result = eax;
        if (result64 != nullptr)
            *result64 = uint64(read_register(fEngine, UC_X86_REG_EDX)) << 32 | eax;
    }
    fFault = kNoFault;
    if (fDepth > 0)
        uc_context_restore(fEngine, fSaved[fDepth - 1]);
    return status;
}

void module_call_abort(const char* reason)
{
    tAbortReason = reason;
}

void module_call_end_all()
{
    if (module_call_entry() != 0)
        tEndAll = true;
}

void CX86Context::InterruptHook(uint32 number)
{
    uint32 eip = read_register(fEngine, UC_X86_REG_EIP);
    if (number != kThunkInterrupt) {
        Fault(kException, eip, number);
        return;
    }
    uint32 index = read_register(fEngine, UC_X86_REG_EAX);
    // Only the thunks may enter the host, and only with their own number.
    uint32 thunks = import_thunk_base();
    if (index > 0xFFFF || eip != thunks + index * kThunkSize + kThunkAfterInterrupt) {
        Fault(kBadImportCall, eip, index);
        return;
    }
    ImportCall(index, eip, read_register(fEngine, UC_X86_REG_ESP));
}

void CX86Context::ImportCall(uint32 index, uint32 eip, uint32 esp)
{
    const import_entry* entry = import_entry_at(index);
    if (entry == nullptr || entry->invoke == nullptr) {
        Fault(kBadImportCall, eip, index);
        return;
    }
    if (StopPending()) {
        uc_emu_stop(fEngine);
        return;
    }
    // The arguments lie above the return address; a broken stack pointer
    // gives the replacement zeros rather than host memory.
    import_args args = {nullptr, 0};
    uint64 first = uint64(esp) + 4;
    if (is_module_range(first, 0)) {
        args.words = reinterpret_cast<const uint32*>(uintptr_t(first));
        args.available =
            size_t(min_c<uint64>((kModuleSpaceEnd - first) / 4, uint64(entry->argumentWords)));
    }
    fStop->where.store(x86_stop_state::kInHost);
    tAbortReason = nullptr;
    uint64 value = entry->invoke(args);
    fStop->where.store(x86_stop_state::kInModule);
    ForgetChangedPages(); // memory it gave back or was given
    if (tEndAll) {
        tAbortReason = nullptr;
        Fault(kEnded, eip, 0);
        return;
    }
    if (tAbortReason != nullptr) {
        fAbortReason = tAbortReason;
        tAbortReason = nullptr;
        const unaligned_uint32* caller = module_pointer<const unaligned_uint32>(esp);
        Fault(kAborted, caller != nullptr ? uint32(*caller) : eip, 0);
        return;
    }
    write_register(fEngine, UC_X86_REG_EAX, uint32(value));
    write_register(fEngine, UC_X86_REG_EDX, uint32(value >> 32));
    if (StopPending())
        uc_emu_stop(fEngine);
}

bool CX86Context::InvalidMemory(int type, uint64 address)
{
    uint32 eip = read_register(fEngine, UC_X86_REG_EIP);
    if (address >= fStackBottom - B_PAGE_SIZE && address < fStackBottom) {
        Fault(kStackOverflow, eip, uint32(address));
        return false;
    }
    switch (type) {
    case UC_MEM_FETCH_UNMAPPED:
    case UC_MEM_FETCH_PROT: {
        // Reached by a call or jump: name the caller through the return
        // address when the stack holds one.
        uint32 esp = read_register(fEngine, UC_X86_REG_ESP);
        const unaligned_uint32* top = module_pointer<const unaligned_uint32>(esp);
        Fault(kUnmappedFetch, top != nullptr ? uint32(*top) : 0, uint32(address));
        break;
    }
    case UC_MEM_WRITE_UNMAPPED:
    case UC_MEM_WRITE_PROT:
        Fault(kUnmappedWrite, eip, uint32(address));
        break;
    default:
        Fault(kUnmappedRead, eip, uint32(address));
        break;
    }
    return false;
}

void CX86Context::Fault(fault_kind kind, uint32 address, uint32 detail)
{
    if (fFault == kNoFault) {
        fFault = kind;
        fFaultAddress = address;
        fFaultDetail = detail;
    }
    uc_emu_stop(fEngine);
}

void CX86Context::ReportFault(status_t engineError)
{
    sModuleFaults.fetch_add(1, std::memory_order_relaxed);
    char module[96];
    uint32 eip = read_register(fEngine, UC_X86_REG_EIP);
    fault_kind kind = fFault;
    uint32 where = fFaultAddress;
    if (kind == kNoFault) {
        kind = engineError == UC_ERR_INSN_INVALID ? kInvalidInstruction : kException;
        where = eip;
    }
    pe_describe_address(where, module, sizeof(module));

    switch (kind) {
    case kUnmappedFetch:
        if ((fFaultDetail >> 16) == 0xDEAD) {
            char name[128];
            pe_unresolved_import_name(fFaultDetail & 0xFFFF, name, sizeof(name));
            fprintf(stderr,
                    "module fault in %s: call of unresolved import '%s' (0x%08" PRIx32
                    ") from 0x%08" PRIx32 "\n",
                    module, name, fFaultDetail, where);
        } else {
            fprintf(stderr,
                    "module fault in %s: jump to unmapped address 0x%08" PRIx32
                    " (return address 0x%08" PRIx32 ")\n",
                    module, fFaultDetail, where);
        }
        break;
    case kUnmappedRead:
    case kUnmappedWrite:
        fprintf(stderr,
                "module fault in %s at 0x%08" PRIx32 ": %s of unmapped address 0x%08" PRIx32 "\n",
                module, where, kind == kUnmappedRead ? "read" : "write", fFaultDetail);
        break;
    case kInvalidInstruction:
        fprintf(stderr, "module fault in %s at 0x%08" PRIx32 ": invalid instruction\n", module,
                where);
        break;
    case kStackOverflow:
        fprintf(stderr, "module fault in %s at 0x%08" PRIx32 ": stack overflow (0x%08" PRIx32 ")\n",
                module, where, fFaultDetail);
        break;
    case kBadImportCall:
        fprintf(stderr,
                "module fault in %s at 0x%08" PRIx32 ": interrupt 0x80 outside an import thunk"
                " (eax 0x%08" PRIx32 ")\n",
                module, where, fFaultDetail);
        break;
    case kEnded:
        break;
    case kAborted:
        fprintf(stderr, "module fault in %s at 0x%08" PRIx32 ": %s\n", module, where,
                fAbortReason != nullptr ? fAbortReason : "aborted");
        break;
    case kException:
    default:
        if (fFault == kException)
            fprintf(stderr,
                    "module fault in %s at 0x%08" PRIx32 ": processor exception %" PRIu32 "\n",
                    module, where, fFaultDetail);
        else
            fprintf(stderr, "module fault in %s at 0x%08" PRIx32 ": %s\n", module, where,
                    uc_strerror(uc_err(engineError)));
        break;
    }
}

uint32 module_faults()
{
    return sModuleFaults.load(std::memory_order_relaxed);
}

status_t call_module(uint32 address, const uint32* args, size_t count, uint32* result,
                     uint64* result64)
{
    CX86Context* context = CX86Context::Current();
    if (context == nullptr)
        return B_NO_MEMORY;
    return context->Call(address, args, count, result, result64);
}

status_t request_module_stop(thread_id thread)
{
    return CX86Context::RequestStop(thread);
}

bool module_stop_requested()
{
    CX86Context* context = CX86Context::Existing();
    return context != nullptr && context->StopRequested();
}

uint32 module_call_entry()
{
    CX86Context* context = CX86Context::Existing();
    return context != nullptr ? context->Entry() : 0;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REELMOTH_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(REELMOTH_LEAK_CHECKED)
// The emulator keeps 32 bytes per engine after uc_close (in its own start-up
// code); that is the library's, not ours, so leak checks leave it out.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libunicorn.so\n";
}
#endif
