#include "registry/RegistryHandles.h"

#include "platform/kernel/ModuleSpace.h"

#include <unordered_map>

namespace
{

struct handle_entry {
    registry_node* node;
    int32 depth;
};

// Built on first use and never destroyed: keys are forgotten while static
// objects (the root among them) are destroyed at exit.
struct handle_table {
    std::unordered_map<uint32, handle_entry> keys;
    std::unordered_map<const registry_node*, uint32> handles;
};

handle_table& table()
{
    static handle_table* sTable = new handle_table;
    return *sTable;
}

// What the block behind a handle holds; nothing reads it.
constexpr uint32 kHandleTag = 'RKEY';

} // namespace

BLocker& registry_lock()
{
    static BLocker* sLock = new BLocker("registry");
    return *sLock;
}

uint32 registry_handle(registry_node* node, int32 depth)
{
    handle_table& handles = table();
    auto found = handles.handles.find(node);
    if (found != handles.handles.end())
        return found->second;
    // The block is never freed: a key lives as long as the process.
    uint32* block = static_cast<uint32*>(module_calloc(1, sizeof(uint32)));
    uint32 handle = module_address(block);
    if (handle == 0)
        return 0;
    *block = kHandleTag;
    handles.handles.emplace(node, handle);
    handles.keys.emplace(handle, handle_entry{node, depth});
    return handle;
}

registry_node* registry_key(uint32 handle, int32* depth)
{
    handle_table& handles = table();
    auto found = handles.keys.find(handle);
    if (found == handles.keys.end())
        return nullptr;
    if (depth != nullptr)
        *depth = found->second.depth;
    return found->second.node;
}

void registry_forget(const registry_node* node)
{
    handle_table& handles = table();
    if (handles.handles.empty())
        return;
    auto found = handles.handles.find(node);
    if (found == handles.handles.end())
        return;
    handles.keys.erase(found->second);
    handles.handles.erase(found);
}
