// Replacements: C-runtime, heap, movable and virtual memory. Every block a
// module gets lies on the module heap; virtual memory is one area per call.
#pragma once

#include "platform/support/SupportDefs.h"

// There is one heap, the module heap; this is its handle.
constexpr uint32 kProcessHeapHandle = 1;

enum {
    kHeapZeroMemory = 0x08,         // HEAP_ZERO_MEMORY
    kHeapReallocInPlaceOnly = 0x10, // HEAP_REALLOC_IN_PLACE_ONLY
    kMemoryZeroInit = 0x40,         // GMEM_ZEROINIT, LMEM_ZEROINIT
    kPageReadOnly = 0x02,           // PAGE_READONLY
    kPageReadWrite = 0x04,          // PAGE_READWRITE
};

// The name of the areas VirtualAlloc makes; VirtualFree deletes no others.
constexpr char kVirtualAllocAreaName[] = "VirtualAlloc_area";

uint32 exp_malloc(uint32 size);
void exp_free(uint32 block);
uint32 exp_calloc(uint32 count, uint32 size);
uint32 exp_realloc(uint32 block, uint32 size);
uint32 exp_new(uint32 size);
void exp_delete(uint32 block);
uint32 exp_initterm(uint32 begin, uint32 end);

uint32 exp_HeapCreate(uint32 options, uint32 initialSize, uint32 maximumSize);
uint32 exp_HeapDestroy(uint32 heap);
uint32 exp_GetProcessHeap();
uint32 exp_HeapAlloc(uint32 heap, uint32 flags, uint32 size);
uint32 exp_HeapFree(uint32 heap, uint32 flags, uint32 block);
uint32 exp_HeapReAlloc(uint32 heap, uint32 flags, uint32 block, uint32 size);
// (SIZE_T)-1 for a block that is not one of the heap's.
uint32 exp_HeapSize(uint32 heap, uint32 flags, uint32 block);

uint32 exp_GlobalAlloc(uint32 flags, uint32 size);
uint32 exp_GlobalLock(uint32 handle);
uint32 exp_GlobalHandle(uint32 block);
uint32 exp_GlobalUnlock(uint32 handle);
uint32 exp_GlobalFree(uint32 handle);
uint32 exp_LocalAlloc(uint32 flags, uint32 size);
uint32 exp_LocalLock(uint32 handle);
uint32 exp_LocalFree(uint32 handle);

uint32 exp_VirtualAlloc(uint32 address, uint32 size, uint32 type, uint32 protect);
uint32 exp_VirtualFree(uint32 address, uint32 size, uint32 type);

uint32 exp_IsBadReadPtr(uint32 block, uint32 size);
uint32 exp_IsBadStringPtrA(uint32 text, uint32 limit);
uint32 exp_IsBadWritePtr(uint32 block, uint32 size);
