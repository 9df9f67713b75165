// One thread's x86-32 emulator over the module address space. Only this
// file's implementation touches Unicorn.
#pragma once

#include "platform/kernel/OS.h"
#include "platform/support/SupportDefs.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

struct uc_struct;
struct uc_context;

// What another thread needs to stop this one, kept alive by both.
struct x86_stop_state {
    enum { kIdle, kInModule, kInHost };
    std::atomic<bool> stopRequested{false};
    std::atomic<int> where{kIdle};
    std::mutex engineLock; // guards `engine` against the context's end
    uc_struct* engine = nullptr;
};

class CX86Context
{
public:
    // The calling thread's context, made on first use; null when it cannot
    // be made (no room in the window, no emulator).
    static CX86Context* Current();
    // The calling thread's context if it has one; never makes one.
    static CX86Context* Existing();
    static status_t RequestStop(thread_id thread);

    ~CX86Context();

    status_t Call(uint32 address, const uint32* args, size_t count, uint32* result,
                  uint64* result64);
    bool StopRequested() const { return fStop->stopRequested.load(std::memory_order_relaxed); }
    uint32 Entry() const { return fDepth > 0 ? fEntry : 0; }

    // For the emulator's hooks only.
    void InterruptHook(uint32 number);
    bool InvalidMemory(int type, uint64 address);
    // Whether module code may access the page at the host address equal
    // to its own (the guard page below the stack is the engine's to fault).
    bool HostMayTouch(uint32 page) const;

private:
    enum fault_kind {
        kNoFault,
        kUnmappedRead,
        kUnmappedWrite,
        kUnmappedFetch,
        kInvalidInstruction,
        kException,
        kBadImportCall,
        kStackOverflow,
        kAborted,
        kEnded, // by module_call_end_all: reported already
    };

    CX86Context();
    status_t InitCheck() const { return fInitStatus; }

    // A stop was requested, or this thread was killed (which then counts
    // as a stop request).
    bool StopPending();
    void ImportCall(uint32 index, uint32 eip, uint32 esp);
    void Fault(fault_kind kind, uint32 address, uint32 detail);
    void ReportFault(status_t engineError);
    void ForgetStaleCode();
    void ForgetChangedPages();
    void FollowGuard();
    bool MapWindow(struct uc_struct* engine);

    status_t fInitStatus;
    uc_struct* fEngine;
    area_id fStackArea;
    uint32 fStackBottom;
    uint32 fStackTop;
    uint32 fReturnTrap;
    thread_id fThread;
    int32 fDepth;
    uint32 fEntry; // where the outermost running call entered module code
    uint64 fSeenGeneration;
    uint64 fDirectGeneration;        // deletions the direct map has forgotten
    uint64 fOpenedGeneration;        // openings it has looked at again
    bool fLoadsFault;                // reads checked by the host's faults
    std::vector<uc_context*> fSaved; // outer levels' registers, by depth
    std::shared_ptr<x86_stop_state> fStop;

    fault_kind fFault;
    uint32 fFaultAddress; // where the module was (EIP, or the caller)
    uint32 fFaultDetail;  // the bad address, the exception number...
    const char* fAbortReason;
};
