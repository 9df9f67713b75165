#include "codec/ModuleRegistry.h"

#include "platform/support/Debug.h"
#include "platform/support/Locker.h"
#include "registry/RegistryAPI.h"
#include "registry/RegistryHandles.h"
#include "registry/RegistryNode.h"
#include "winemu/cpu/ModuleLimits.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace
{

const char kUsageValue[] = "Registry bytes";

// HKEY_CURRENT_USER\SOFTWARE\Reelmoth\Decoders\<file>, made when `make` is
// set.
registry_node* usage_key(const std::string& file, bool make)
{
    const std::string path[] = {"HKEY_CURRENT_USER", "SOFTWARE", "Reelmoth", "Decoders", file};
    registry_node* node = &gRootNode;
    for (const std::string& name : path) {
        registry_node* child = node->FindChild(name);
        if (child == nullptr && make) {
            child = new registry_node(name);
            node->AddChild(child);
        }
        if (child == nullptr)
            return nullptr;
        node = child;
    }
    return node;
}

uint64 read_usage(const std::string& file)
{
    const registry_node* key = usage_key(file, false);
    const registry_value* value = key != nullptr ? key->FindValue(kUsageValue) : nullptr;
    uint64 used = 0;
    if (value != nullptr && value->Size() == sizeof(used))
        memcpy(&used, value->Data(), sizeof(used));
    return used;
}

bool is_players_own(const std::vector<std::string>& path)
{
    return path.size() >= 3 && path[0] == "HKEY_CURRENT_USER" && path[1] == "SOFTWARE" &&
           path[2] == "Reelmoth";
}

struct merge_state {
    uint64 used;
    size_t taken = 0;
    bool full = false;
};

// Walks `after` beside `before` (null where `before` has no such key) and
// `live`, the player's tree, made where needed.
void merge(const registry_node& after, const registry_node* before, registry_node* live,
           std::vector<std::string>* path, merge_state* state)
{
    if (is_players_own(*path))
        return;
    for (const registry_value* value : after.Values()) {
        const registry_value* old = before != nullptr ? before->FindValue(value->Name()) : nullptr;
        if (old != nullptr && old->Type() == value->Type() && old->Size() == value->Size() &&
            (value->Size() == 0 || memcmp(old->Data(), value->Data(), value->Size()) == 0))
            continue;
        const registry_value* current = live->FindValue(value->Name());
        uint64 growth = value->Name().size() + value->Size();
        uint64 freed = current != nullptr ? current->Name().size() + current->Size() : 0;
        uint64 added = growth > freed ? growth - freed : 0;
        if (value->Size() > kModuleRegistryValueLimit ||
            added > kModuleRegistryLimit - state->used) {
            state->full = true;
            continue;
        }
        state->used += added;
        live->SetValue(value->Name(), value->Type(), value->Data(), value->Size());
        state->taken++;
    }
    for (const registry_node* child : after.Children()) {
        path->push_back(child->Name());
        const registry_node* old = before != nullptr ? before->FindChild(child->Name()) : nullptr;
        registry_node* target = live->FindChild(child->Name());
        if (target == nullptr && !is_players_own(*path)) {
            if (kRegistryKeyCost + child->Name().size() > kModuleRegistryLimit - state->used) {
                state->full = true;
                path->pop_back();
                continue;
            }
            state->used += kRegistryKeyCost + child->Name().size();
            target = new registry_node(child->Name());
            live->AddChild(target);
        }
        if (target != nullptr)
            merge(*child, old, target, path, state);
        path->pop_back();
    }
}

} // namespace

uint64 module_registry_used(const std::string& file)
{
    registry_load();
    BAutolock lock(registry_lock());
    return read_usage(file);
}

size_t merge_module_registry(const std::string& file, const std::vector<uint8>& before,
                             const std::vector<uint8>& after)
{
    std::unique_ptr<registry_node> afterTree(registry_unflatten(after.data(), after.size()));
    if (afterTree == nullptr)
        return 0;
    std::unique_ptr<registry_node> beforeTree(registry_unflatten(before.data(), before.size()));
    registry_load();
    BAutolock lock(registry_lock());
    merge_state state;
    state.used = read_usage(file);
    uint64 start = state.used;
    std::vector<std::string> path;
    merge(*afterTree, beforeTree.get(), &gRootNode, &path, &state);
    if (state.used != start) {
        if (registry_node* key = usage_key(file, true))
            key->SetValue(kUsageValue, REG_BINARY, &state.used, sizeof(state.used));
    }
    if (state.full)
        fprintf(stderr,
                "reelmoth: %s went over its limit of registry data; the rest of its "
                "settings were not kept\n",
                file.c_str());
    return state.taken;
}
