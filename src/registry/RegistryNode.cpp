#include "registry/RegistryNode.h"

#include "platform/app/Message.h"
#include "registry/RegistryHandles.h"

#include <cstdio>

registry_node::registry_node(const std::string& name) : fName(name)
{
    fChildren.reserve(20);
    fValues.reserve(20);
}

registry_node::registry_node(const registry_node& other)
{
    *this = other;
}

registry_node::~registry_node()
{
    registry_forget(this);
    _MakeEmpty();
}

void registry_node::_MakeEmpty()
{
    for (auto child = fChildren.rbegin(); child != fChildren.rend(); ++child)
        delete *child;
    for (auto value = fValues.rbegin(); value != fValues.rend(); ++value)
        delete *value;
    fChildren.clear();
    fValues.clear();
}

registry_node& registry_node::operator=(const registry_node& other)
{
    if (this == &other)
        return *this;
    fName = other.fName;
    _MakeEmpty();
    for (auto child = other.fChildren.rbegin(); child != other.fChildren.rend(); ++child)
        fChildren.push_back(new registry_node(**child));
    for (auto value = other.fValues.rbegin(); value != other.fValues.rend(); ++value)
        fValues.push_back(new registry_value(**value));
    return *this;
}

registry_node* registry_node::FindChild(const std::string& name) const
{
    for (auto child = fChildren.rbegin(); child != fChildren.rend(); ++child) {
        if ((*child)->fName == name)
            return *child;
    }
    return nullptr;
}

registry_value* registry_node::FindValue(const std::string& name) const
{
    for (auto value = fValues.rbegin(); value != fValues.rend(); ++value) {
        if ((*value)->Name() == name)
            return *value;
    }
    return nullptr;
}

void registry_node::AddChild(registry_node* child)
{
    if (child != nullptr)
        fChildren.push_back(child);
}

void registry_node::AddValue(registry_value* value)
{
    if (value != nullptr)
        fValues.push_back(value);
}

void registry_node::RemoveValue(registry_value* value)
{
    for (auto entry = fValues.rbegin(); entry != fValues.rend(); ++entry) {
        if (*entry == value) {
            fValues.erase(std::next(entry).base());
            delete value;
            return;
        }
    }
}

status_t registry_node::SetValue(const std::string& name, uint32 type, const void* data,
                                 uint32 size)
{
    registry_value* value = new registry_value(name, type, data, size);
    if (value->Size() != size) {
        delete value;
        return B_NO_MEMORY;
    }
    RemoveValue(FindValue(name));
    AddValue(value);
    return B_OK;
}

// ---- the message form -----------------------------------------------------------

namespace
{

// A field whose name begins with a blank holds a value when its message has
// a field of another type than a message ("type", "data"). Otherwise it is
// a key whose own name begins with a blank: a key's message holds nothing
// but messages.
bool is_value_message(const BMessage& message)
{
    return message.CountNames(B_MESSAGE_TYPE) != message.CountNames(B_ANY_TYPE);
}

} // namespace

registry_node* registry_node::FromMessage(const char* name, const BMessage* message)
{
    registry_node* node = new registry_node(name != nullptr ? name : "");
    const char* field;
    type_code type;
    for (int32 i = 0; message->GetInfo(B_MESSAGE_TYPE, i, &field, &type) == B_OK; i++) {
        BMessage item;
        if (message->FindMessage(field, &item) != B_OK) {
            delete node;
            return nullptr;
        }
        if (field[0] == ' ' && is_value_message(item)) {
            registry_value* value = registry_value::FromMessage(field + 1, &item);
            if (value == nullptr) {
                delete node;
                return nullptr;
            }
            node->AddValue(value);
        } else {
            registry_node* child = FromMessage(field, &item);
            if (child == nullptr) {
                delete node;
                return nullptr;
            }
            node->AddChild(child);
        }
    }
    if (name != nullptr)
        return node;
    // The stored top level: its first key is the root.
    registry_node* root = nullptr;
    if (!node->fChildren.empty()) {
        root = node->fChildren.front();
        node->fChildren.erase(node->fChildren.begin());
    }
    delete node;
    return root;
}

status_t registry_node::Save(BMessage* into) const
{
    BMessage message;
    for (auto value = fValues.rbegin(); value != fValues.rend(); ++value) {
        status_t status = (*value)->Save(&message);
        if (status != B_OK)
            return status;
    }
    for (auto child = fChildren.rbegin(); child != fChildren.rend(); ++child) {
        status_t status = (*child)->Save(&message);
        if (status != B_OK)
            return status;
    }
    return into->AddMessage(fName.c_str(), &message);
}

void registry_node::PrintToStream(long indent) const
{
    for (long i = 0; i < indent; i++)
        printf("|   ");
    printf("%s\n", fName.c_str());
    for (auto value = fValues.rbegin(); value != fValues.rend(); ++value)
        (*value)->PrintToStream(indent + 1);
    for (auto child = fChildren.rbegin(); child != fChildren.rend(); ++child)
        (*child)->PrintToStream(indent + 1);
}
