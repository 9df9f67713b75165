// The registry tree: keys with child keys and values, and the one root,
// gRootNode, which registry_load() reads from the settings file "registry"
// in the folder "WeAreQuarl" of the user's settings directory and
// registry_save() writes back (docs/registry.md).
#pragma once

#include "registry/RegistryValue.h"

#include <string>
#include <vector>

class BMessage;

class registry_node
{
public:
    explicit registry_node(const std::string& name);
    registry_node(const registry_node& other);
    virtual ~registry_node();

    // A deep copy, the name included; each list is copied from its last
    // entry to its first (see Save and FromMessage for why).
    registry_node& operator=(const registry_node& other);

    // Lookups compare names exactly and search from the last entry.
    registry_node* FindChild(const std::string& name) const;
    registry_value* FindValue(const std::string& name) const;
    // The node takes ownership.
    void AddChild(registry_node* child);
    void AddValue(registry_value* value);
    // Deletes that very value if this key holds it.
    void RemoveValue(registry_value* value);
    // Replaces any value of that name with a new one holding a copy of the
    // bytes.
    status_t SetValue(const std::string& name, uint32 type, const void* data, uint32 size);

    // Builds a subtree from a key message. With a null name the message is
    // the stored top level and the result is the key of its first key
    // field. Null when the message is not a registry: no key field at the
    // top level, or a value message without a proper "type" and "data".
    static registry_node* FromMessage(const char* name, const BMessage* message);
    // Adds the field `name` holding this key's message: its values, then
    // its children, each from the last to the first.
    status_t Save(BMessage* into) const;
    void PrintToStream(long indent) const;
    const char* Identification() const { return "registry_node"; }

    const std::string& Name() const { return fName; }
    const std::vector<registry_node*>& Children() const { return fChildren; }
    const std::vector<registry_value*>& Values() const { return fValues; }

private:
    void _MakeEmpty();
    void _Startup();
    void _Shutdown() const;
    void _MakeDefault();
    friend status_t registry_load();

    // The tree as flattened message bytes (what a codec host process is given).
    std::vector<uint8> registry_flatten();
    // For a process that must not touch the registry file (a codec host): the
    // tree becomes the flattened one given (the default tree when the bytes are
    // not a registry), and neither registry_load nor registry_save touch the
    // file from then on.
    status_t registry_adopt(const void* data, size_t size);
    // A tree from flattened bytes, or null when they are not a registry.
    registry_node* registry_unflatten(const void* data, size_t size);
    friend void registry_save();
    friend status_t registry_adopt(const void* data, size_t size);

    std::string fName;
    std::vector<registry_node*> fChildren;
    std::vector<registry_value*> fValues;
};

// The root: made empty before main, never destroyed, so that module threads
// still running as the process ends find a whole tree.
extern registry_node& gRootNode;

// How the tree was read at start.
enum registry_origin {
    kRegistryLoaded,  // from the registry file
    kRegistryDefault, // no file, or one that is not a registry: the default tree
    kRegistryUnread,  // the file could not be read (busy, no permission...):
                      // the default tree, and the file is left alone at exit
};
registry_origin registry_start_origin();

// Reads the tree from its file, or makes the default tree: once, at start
// (the player's main does it first thing). A registry call made before it
// loads the tree itself. Later calls do nothing.
status_t registry_load();

// The tree as flattened message bytes (what a codec host process is given).
std::vector<uint8> registry_flatten();
// For a process that must not touch the registry file (a codec host): the
// tree becomes the flattened one given (the default tree when the bytes are
// not a registry), and neither registry_load nor registry_save touch the
// file from then on.
status_t registry_adopt(const void* data, size_t size);
// A tree from flattened bytes, or null when they are not a registry.
registry_node* registry_unflatten(const void* data, size_t size);
// Writes the tree to its file now, under the registry lock (not when the
// file could not be read at load: it may hold a registry still).
void registry_save();
