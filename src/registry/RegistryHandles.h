// Key handles: the 32-bit values that module code holds for keys.
//
// A key's handle is the address of a small block of its own in the module
// address space, given out the first time the key is opened or created and
// kept for the life of the key. The key node itself stays in host memory,
// out of reach of module code, which can write anywhere in its address
// space. A handle is valid exactly when it is one of the live keys'
// handles. Callers hold registry_lock().
#pragma once

#include "platform/support/Locker.h"
#include "platform/support/SupportDefs.h"

class registry_node;

// The one lock that serialises every registry function.
BLocker& registry_lock();

// Keys below this depth (the root's children are at depth 1) are never made.
constexpr int32 kMaxKeyDepth = 512;

// The handle of `node`, which lies `depth` levels below the root; 0 when no
// module memory is left for it.
uint32 registry_handle(registry_node* node, int32 depth);

// The key behind a handle and its depth, or null.
registry_node* registry_key(uint32 handle, int32* depth);

// Forgets a key that is being destroyed.
void registry_forget(const registry_node* node);
