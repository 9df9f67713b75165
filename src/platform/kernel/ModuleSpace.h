// The module address space: the low part of our own address space in which
// every byte that 32-bit module code can see lives. A module's 32-bit address
// is the host address, so host code reads and writes module memory through
// ordinary pointers once it has checked the range.
//
// [kModuleSpaceStart, kModuleHeapStart) holds areas (create_area): images,
// stacks, thread blocks, VirtualAlloc memory. [kModuleHeapStart,
// kModuleSpaceEnd) is the module heap (module_malloc and friends).
#pragma once

#include "platform/support/SupportDefs.h"

#include <cstring>
#include <string>
#include <type_traits>

constexpr uint32 kModuleSpaceStart = 0x00010000;

// Module data need not be aligned: read and write it through these (or
// memcpy) where the address comes from a module or an image.
typedef uint32 __attribute__((aligned(1))) unaligned_uint32;
typedef uint16 __attribute__((aligned(1))) unaligned_uint16;

constexpr uint32 kModuleHeapStart = 0x60000000;
constexpr uint32 kModuleSpaceEnd = 0x7FFF0000;

// Reserves the window (once; later calls report the first result). The
// platform does this from a static initialiser, so a program that links the
// kernel kit has it before main; every area, heap and thread-block call also
// makes sure of it. On failure a message goes to stderr once, and every area
// and heap call fails.
status_t module_space_init();

// For a process that runs modules and little else (the codec host): from
// now on only areas and the part of the module heap handed out are
// readable and writable; the rest of the window faults, for module code and
// host code alike, so a module can dirty no memory it was not given. Call
// once, before module code runs; not in the player, whose host code may
// read anywhere in the window.
status_t module_space_guard();
bool module_space_guarded();
// Once guarded: true when every other address below 4 GiB faults on the
// host as well (the guard closed what was free there, and nothing of the
// host's lies there), so that a module's read needs no bounds check: any
// 32-bit address either is the module's to read or faults.
bool module_space_surrounded();
// True when [address, address + size) may be read and written: inside the
// window, and once guarded, inside one area or the heap handed out.
bool module_range_accessible(uint32 address, uint64 size);
// The module heap handed out [from, to) for the first time (ModuleHeap).
void module_space_heap_grew(uint32 from, uint32 to);

// The host address of the window; the same number as the module address.
inline void* module_space_base()
{
    return reinterpret_cast<void*>(uintptr_t(kModuleSpaceStart));
}

// True when [address, address + size) lies inside the window. A size of 0
// still needs a valid address.
inline bool is_module_range(uint64 address, uint64 size)
{
    return address >= kModuleSpaceStart && address <= kModuleSpaceEnd &&
           size <= kModuleSpaceEnd - address;
}

// The host pointer for a module address, or null when `count` objects of T
// starting there do not lie inside the window. Use it on every address a
// module hands over before reading or writing through it.
template <typename T>
T* module_pointer(uint32 address, size_t count = 1)
{
    constexpr size_t kSize = sizeof(std::conditional_t<std::is_void_v<T>, char, T>);
    if (count > (uint64(kModuleSpaceEnd) / kSize) || !is_module_range(address, count * kSize))
        return nullptr;
    return reinterpret_cast<T*>(uintptr_t(address));
}

// The module address of a host pointer into the window; 0 for null or a
// pointer outside it.
inline uint32 module_address(const void* pointer)
{
    uintptr_t value = reinterpret_cast<uintptr_t>(pointer);
    return is_module_range(value, 0) ? uint32(value) : 0;
}

// A NUL-terminated string at a module address, or null when the address is
// outside the window or the string runs past its end. Only a check: module
// code may take the NUL away the moment after (another of its threads), so
// read the text through module_string_copy, not through this pointer.
inline const char* module_string(uint32 address)
{
    const char* start = module_pointer<const char>(address);
    if (start == nullptr)
        return nullptr;
    if (memchr(start, '\0', kModuleSpaceEnd - address) == nullptr)
        return nullptr;
    return start;
}

// A NUL-terminated string at a module address, copied to the host in one
// read bounded by `limit` and the window: false (and `text` empty) when the
// address is outside the window or no NUL comes within `limit` bytes or
// before the window's end. Judge and use the copy: the module may change
// its text meanwhile.
inline bool module_string_copy(uint32 address, size_t limit, std::string* text)
{
    text->clear();
    const char* start = module_pointer<const char>(address);
    if (start == nullptr)
        return false;
    size_t room = kModuleSpaceEnd - address;
    size_t look = limit < room ? limit + 1 : room;
    const void* end = memchr(start, '\0', look);
    if (end == nullptr)
        return false;
    text->assign(start, size_t(static_cast<const char*>(end) - start));
    return true;
}

// Bumped when a guarded window opens memory (an area made, the heap
// grown); module_space_opened_ranges calls `forget` for each range opened
// after `since` (false when too many to tell). An emulator that found a
// page closed beside one it runs on directly looks again.
uint64 module_space_opened_generation();
bool module_space_opened_ranges(uint64 since,
                                void (*forget)(uint32 start, uint32 end, void* cookie),
                                void* cookie);

// Bumped by every delete_area. An emulator that may have translated code in
// a deleted range forgets it (module_space_deleted_ranges).
uint64 module_space_generation();

// Calls `forget` for every range deleted after generation `since`; false
// when too many were deleted to tell (then forget everything).
bool module_space_deleted_ranges(uint64 since,
                                 void (*forget)(uint32 start, uint32 end, void* cookie),
                                 void* cookie);

// ---- the module heap ------------------------------------------------------
//
// Thread-safe, confined to [kModuleHeapStart, kModuleSpaceEnd), 16-byte
// aligned blocks. Its bookkeeping is host memory: module code that writes
// over the heap changes only block contents. Memory from module_calloc is
// zeroed; the others are not. module_free and module_realloc accept null
// and refuse (false / null, changing nothing) anything that is not the
// start of a live block, a block freed before included.
void* module_malloc(size_t size);
void* module_calloc(size_t count, size_t size);
void* module_realloc(void* block, size_t size);
bool module_free(void* block);
bool is_module_heap_pointer(const void* pointer);

// Each live block costs host bookkeeping, so blocks are charged to owners.
// The heap knows nothing of modules: `owner` (called outside the heap's
// lock) names the owner of each new block, 0 for the host's own, which is
// never limited. An owner with `limit` live blocks gets no more: the
// allocation gives null and `refused(owner)` is called, outside the lock. A
// block moved by module_realloc stays its owner's. Set once, before blocks
// are made for owners.
void set_module_heap_owners(uint32 (*owner)(), void (*refused)(uint32 owner), size_t limit);
// The blocks charged to `owner` are the host's from now on.
void module_heap_forget_owner(uint32 owner);
// The bytes a heap block can hold (at least what was asked for); 0 for a
// pointer that is not the start of a live block.
size_t module_block_size(const void* block);

// ---- thread blocks --------------------------------------------------------
//
// One 4 KiB block per thread inside the window, made on first use and
// released when the thread ends. Module code sees it through FS; the
// platform's TLS slots are its slot array. Null when the window is full.
enum {
    kThreadBlockExceptionList = 0x00,
    kThreadBlockStackBase = 0x04,
    kThreadBlockStackLimit = 0x08,
    kThreadBlockSelf = 0x18,
    kThreadBlockProcessId = 0x20,
    kThreadBlockThreadId = 0x24,
    kThreadBlockTLSPointer = 0x2C,
    kThreadBlockProcessBlock = 0x30, // the process block's address
    kThreadBlockLastError = 0x34,
    kThreadBlockErrno = 0xF80, // the C run-time's errno of the thread
    kThreadBlockTLSSlots = 0xE10,
    kThreadBlockSize = 0x1000,
};

uint8* thread_block();

// The process block (one 4 KiB block for the process, zeroed; the thread
// blocks point at it). Module code built for Windows reads a few fields
// directly, e.g. its process heap at kProcessBlockHeap. Null when the window
// is full.
enum {
    kProcessBlockHeap = 0x18,
    kProcessBlockSize = 0x1000,
};
uint8* process_block();
