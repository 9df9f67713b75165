// The registry tree: keys with child keys and values, and the one root,
// gRootNode, which is read from the settings file "registry" in the folder
// "WeAreQuarl" of the user's settings directory while the process starts
// and written back while it ends (docs/registry.md).
#pragma once

#include "registry/RegistryValue.h"

#include <string>
#include <vector>

class BMessage;

class registry_node
{
public:
    // For gRootNode this also loads the tree.
    explicit registry_node(const std::string& name);
    registry_node(const registry_node& other);
    // For gRootNode this first writes the tree.
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
    friend void registry_write_now();

    std::string fName;
    std::vector<registry_node*> fChildren;
    std::vector<registry_value*> fValues;
};

extern registry_node gRootNode;

// How the tree was read at start.
enum registry_origin {
    kRegistryLoaded,  // from the registry file
    kRegistryDefault, // no file, or one that is not a registry: the default tree
    kRegistryUnread,  // the file could not be read (busy, no permission...):
                      // the default tree, and the file is left alone at exit
};
registry_origin registry_start_origin();

// Writes the tree to its file now, under the registry lock: for a process
// that must end without destroying its static objects.
void registry_write_now();
