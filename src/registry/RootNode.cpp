// The process-wide root of the registry: read at start, written at exit,
// each when the program says so.
#include "registry/RegistryNode.h"

#include "platform/app/Message.h"
#include "platform/support/Debug.h"
#include "registry/RegistryHandles.h"
#include "settings/SettingsFile.h"

namespace
{

const char kFileName[] = "registry";
const char kFolderName[] = "WeAreQuarl";

registry_origin sOrigin = kRegistryDefault;
bool sLoaded = false;

// Failures that say what the file holds (or that there is none), as
// opposed to failures to read it at all.
bool is_content_failure(status_t status)
{
    return status == B_ENTRY_NOT_FOUND || status == B_BAD_DATA || status == B_BAD_VALUE ||
           status == B_BAD_TYPE || status == B_BAD_INDEX || status == B_NAME_NOT_FOUND;
}

} // namespace

registry_node& gRootNode = *new registry_node("/");

status_t registry_load()
{
    BAutolock lock(registry_lock());
    if (!sLoaded) {
        sLoaded = true;
        gRootNode._Startup();
    }
    return B_OK;
}

registry_origin registry_start_origin()
{
    return sOrigin;
}

void registry_node::_Startup()
{
    SettingsFile settings(kFileName, kFolderName, B_USER_SETTINGS_DIRECTORY);
    status_t status = settings.Load();
    registry_node* stored = status >= B_OK ? FromMessage(nullptr, &settings) : nullptr;
    if (stored != nullptr) {
        *this = *stored;
        delete stored;
        sOrigin = kRegistryLoaded;
        // This value is always on, whatever was stored.
        registry_node* key = FindChild("HKEY_CURRENT_USER");
        const char* path[] = {"SOFTWARE", "Microcrap", "Scrunch"};
        for (const char* name : path)
            key = key != nullptr ? key->FindChild(name) : nullptr;
        if (key != nullptr) {
            uint32 on = 0xFFFFFFFF;
            key->SetValue("Force Post Process Mode", REG_DWORD, &on, 4);
        }
        return;
    }

    sOrigin = status >= B_OK || is_content_failure(status) ? kRegistryDefault : kRegistryUnread;
    if (sOrigin == kRegistryUnread)
        _debugPrintf("registry: %s unread (%s); it will not be written\n",
                     settings.Path() != nullptr ? settings.Path() : kFileName,
                     status_string(status));
    _MakeDefault();
}

void registry_node::_MakeDefault()
{
    AddChild(new registry_node("HKEY_CURRENT_CONFIG"));
    registry_node* user = new registry_node("HKEY_CURRENT_USER");
    AddChild(user);
    registry_node* software = new registry_node("SOFTWARE");
    user->AddChild(software);
    software->AddChild(new registry_node("Microcrap"));
    registry_node* machine = new registry_node("HKEY_LOCAL_MACHINE");
    AddChild(machine);
    software = new registry_node("SOFTWARE");
    machine->AddChild(software);
    software->AddChild(new registry_node("Microsoft"));
}

std::vector<uint8> registry_flatten()
{
    registry_load();
    BAutolock lock(registry_lock());
    BMessage message;
    std::vector<uint8> bytes;
    if (gRootNode.Save(&message) != B_OK)
        return bytes;
    ssize_t size = message.FlattenedSize();
    if (size <= 0)
        return bytes;
    bytes.resize(size_t(size));
    if (message.Flatten(reinterpret_cast<char*>(bytes.data()), size) != B_OK)
        bytes.clear();
    return bytes;
}

registry_node* registry_unflatten(const void* data, size_t size)
{
    BMessage message;
    if (data == nullptr || size == 0 ||
        message.Unflatten(static_cast<const char*>(data), ssize_t(size)) != B_OK)
        return nullptr;
    return registry_node::FromMessage(nullptr, &message);
}

status_t registry_adopt(const void* data, size_t size)
{
    registry_node* given = registry_unflatten(data, size);
    BAutolock lock(registry_lock());
    sLoaded = true;
    // Never written back by this process.
    sOrigin = kRegistryUnread;
    if (given != nullptr) {
        gRootNode = *given;
        delete given;
        return B_OK;
    }
    gRootNode = registry_node("/");
    gRootNode._MakeDefault();
    return B_BAD_DATA;
}

void registry_save()
{
    BAutolock lock(registry_lock());
    if (sLoaded)
        gRootNode._Shutdown();
}

void registry_node::_Shutdown() const
{
    // A file that could not be read may hold a registry still: keep it.
    if (sOrigin == kRegistryUnread)
        return;
    SettingsFile settings(kFileName, kFolderName, B_USER_SETTINGS_DIRECTORY);
    if (Save(&settings) == B_OK)
        settings.Save();
}
