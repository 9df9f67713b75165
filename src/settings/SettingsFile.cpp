#include "settings/SettingsFile.h"

#include "platform/app/Roster.h"
#include "platform/storage/Entry.h"
#include "platform/storage/File.h"
#include "platform/support/Debug.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

const char kVendorPrefix[] = "application/x-vnd.";
const char kApplicationPrefix[] = "application/";
// Item counts beyond this have no attribute names.
constexpr int32 kMaxIndexedCount = 999999999;

// The folder the application's signature stands for: the part after the
// prefix with every "." made a "/", or, without dots, its first "-".
status_t folder_from_signature(std::string* folder)
{
    app_info info;
    status_t status = get_running_app_info(&info);
    if (status != B_OK)
        return status;
    const char* signature = info.signature;
    if (strncmp(signature, kVendorPrefix, sizeof(kVendorPrefix) - 1) == 0)
        signature += sizeof(kVendorPrefix) - 1;
    else if (strncmp(signature, kApplicationPrefix, sizeof(kApplicationPrefix) - 1) == 0)
        signature += sizeof(kApplicationPrefix) - 1;
    else
        return B_BAD_VALUE;
    *folder = signature;
    bool dotted = false;
    for (char& c : *folder) {
        if (c == '.') {
            c = '/';
            dotted = true;
        }
    }
    if (!dotted) {
        size_t dash = folder->find('-');
        if (dash != std::string::npos)
            (*folder)[dash] = '/';
    }
    return B_OK;
}

// The digits of the largest index of `count` items, so that all the names
// of one field have the same length.
int index_width(int32 count)
{
    int width = 1;
    for (int32 last = count - 1; last >= 10; last /= 10)
        width++;
    return width;
}

std::string indexed_name(const char* prefix, const char* name, int width, int32 index, bool nested)
{
    std::string number = std::to_string(index);
    number.insert(0, size_t(std::max(0, width - int(number.size()))), '0');
    return std::string(prefix) + name + "::" + number + (nested ? ":" : "");
}

// Attribute write failures that only mean the file system will not hold
// this attribute: the flattened data has the field all the same.
bool attribute_not_storable(status_t status)
{
    return status == B_NOT_SUPPORTED || status == B_NAME_TOO_LONG || status == B_DEVICE_FULL;
}

} // namespace

SettingsFile::SettingsFile(const char* name, const char* folder, directory_which which)
    : fStatus(B_OK)
{
    status_t status =
        which == directory_which(-1) ? fPath.SetTo("/") : find_directory(which, &fPath, false);
    if (status != B_OK) {
        fStatus = status;
        return;
    }
    std::string subfolder;
    if (folder != nullptr) {
        subfolder = folder;
    } else {
        status = folder_from_signature(&subfolder);
        if (status != B_OK) {
            fStatus = status;
            return;
        }
    }
    status = fPath.Append(subfolder.c_str());
    if (status == B_OK)
        status = fPath.Append(name != nullptr ? name : "Settings");
    if (status != B_OK) {
        fStatus = status;
        fPath.Unset();
    }
}

SettingsFile::~SettingsFile() = default;

bool SettingsFile::IsAttributeType(type_code type)
{
    switch (type) {
    case B_BOOL_TYPE:
    case B_CHAR_TYPE:
    case B_DOUBLE_TYPE:
    case B_FLOAT_TYPE:
    case B_INT8_TYPE:
    case B_INT16_TYPE:
    case B_INT32_TYPE:
    case B_INT64_TYPE:
    case B_MIME_TYPE:
    case B_OFF_T_TYPE:
    case B_POINT_TYPE:
    case B_RECT_TYPE:
    case B_RGB_COLOR_TYPE:
    case B_SIZE_T_TYPE:
    case B_SSIZE_T_TYPE:
    case B_STRING_TYPE:
    case B_TIME_TYPE:
    case B_UINT8_TYPE:
    case B_UINT16_TYPE:
    case B_UINT32_TYPE:
    case B_UINT64_TYPE:
        return true;
    default:
        return false;
    }
}

// ---- loading ------------------------------------------------------------------

status_t SettingsFile::Load()
{
    BFile file(fPath.Path(), B_READ_ONLY);
    status_t status = file.InitCheck();
    if (status != B_OK)
        return status;
    status = file.Lock();
    if (status != B_OK)
        return status;

    status = Unflatten(&file);
    if (status == B_OK)
        status = file.RewindAttrs();
    if (status != B_OK) {
        file.Unlock();
        MakeEmpty();
        return status;
    }

    char name[B_ATTR_NAME_LENGTH];
    while ((status = file.GetNextAttrName(name)) == B_OK) {
        attr_info info;
        status = file.GetAttrInfo(name, &info);
        if (status != B_OK)
            break;
        if (!IsAttributeType(info.type))
            continue;
        char* copy = strdup(name);
        if (copy == nullptr) {
            status = B_NO_MEMORY;
            break;
        }
        status = _ExtractAttribute(this, &file, name, copy, &info);
        free(copy);
        if (status != B_OK)
            break;
    }
    file.Unlock();
    return status == B_ENTRY_NOT_FOUND ? B_OK : status;
}

status_t SettingsFile::_ReplaceItem(BMessage* target, BFile* file, const char* attrName,
                                    const char* field, int32 index, attr_info* info)
{
    if (!target->HasData(field, info->type, index))
        return B_OK;
    std::vector<uint8> data(size_t(info->size));
    ssize_t read = file->ReadAttr(attrName, info->type, 0, data.data(), data.size());
    if (read < 0 || size_t(read) != data.size())
        return B_IO_ERROR;
    return target->ReplaceData(field, info->type, index, data.data(), ssize_t(data.size()));
}

status_t SettingsFile::_ExtractAttribute(BMessage* target, BFile* file, const char* attrName,
                                         char* name, attr_info* info)
{
    char* colon = strchr(name, ':');
    if (colon == nullptr)
        return _ReplaceItem(target, file, attrName, name, 0, info);

    *colon = '\0';
    if (colon[1] != ':') {
        // One nested message: "field:rest".
        if (!target->HasMessage(name))
            return B_OK;
        BMessage nested;
        status_t status = target->FindMessage(name, &nested);
        if (status == B_OK)
            status = _ExtractAttribute(&nested, file, attrName, colon + 1, info);
        if (status == B_OK)
            status = target->ReplaceMessage(name, &nested);
        return status;
    }

    // An indexed item: "field::n" or "field::n:rest". The index must be a
    // proper decimal number.
    const char* number = colon + 2;
    char* end;
    errno = 0;
    long index = strtol(number, &end, 10);
    if (errno != 0 || end == number || index < 0 || index > kMaxIndexedCount)
        return B_OK;
    if (*end == ':') {
        if (!target->HasMessage(name, int32(index)))
            return B_OK;
        BMessage nested;
        status_t status = target->FindMessage(name, int32(index), &nested);
        if (status == B_OK)
            status = _ExtractAttribute(&nested, file, attrName, end + 1, info);
        if (status == B_OK)
            status = target->ReplaceMessage(name, int32(index), &nested);
        return status;
    }
    if (*end != '\0')
        return B_OK;
    return _ReplaceItem(target, file, attrName, name, int32(index), info);
}

// ---- saving -------------------------------------------------------------------

status_t SettingsFile::Save() const
{
    // A settings file that is a symbolic link (kept with a user's other
    // configuration, say) stays one: the file it leads to is replaced.
    BPath target = fPath;
    struct stat link;
    if (fPath.Path() != nullptr && lstat(fPath.Path(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* resolved = realpath(fPath.Path(), nullptr);
        if (resolved != nullptr) {
            target.SetTo(resolved);
            free(resolved);
        }
    }
    BPath folder;
    status_t status = target.GetParent(&folder);
    if (status != B_OK)
        return status;

    // An existing file must be writable, as it had to be when it was
    // rewritten in place; holding its lock serialises savers.
    BFile current(target.Path(), B_READ_WRITE);
    status = current.InitCheck();
    if (status == B_OK)
        status = current.Lock();
    if (status != B_OK && status != B_ENTRY_NOT_FOUND)
        return status;

    std::string prefix = std::string(".") + target.Leaf() + ".";
    BFile file;
    BPath temporary;
    status = file.SetToTemporary(folder.Path(), prefix.c_str(), &temporary);
    if (status == B_ENTRY_NOT_FOUND) {
        status = create_directory(folder.Path(), 0777);
        if (status != B_OK)
            return status;
        status = file.SetToTemporary(folder.Path(), prefix.c_str(), &temporary);
    }
    if (status != B_OK)
        return status;

    status = _Write(&file);
    mode_t mode;
    if (status == B_OK && current.InitCheck() == B_OK && current.GetPermissions(&mode) == B_OK)
        status = file.SetPermissions(mode);
    if (status == B_OK)
        status = BEntry(temporary.Path()).Rename(target.Path(), true);
    if (status != B_OK) {
        BEntry(temporary.Path()).Remove();
        return status;
    }
    // The rename reaches the disk with the folder.
    BNode(folder.Path()).Sync();
    return B_OK;
}

status_t SettingsFile::_Write(BFile* file) const
{
    status_t status = file->Lock();
    if (status != B_OK)
        return status;
    status = Flatten(file);
    if (status == B_OK)
        status = _StoreAttributes(this, file, "");
    if (status == B_OK)
        status = file->Sync();
    file->Unlock();
    return status;
}

status_t SettingsFile::_StoreAttributes(const BMessage* source, BFile* file, const char* prefix)
{
    for (int32 i = 0; i < source->CountNames(B_ANY_TYPE); i++) {
        const char* name;
        type_code type;
        int32 count;
        status_t status = source->GetInfo(B_ANY_TYPE, i, &name, &type, &count);
        if (status != B_OK)
            return status;
        // A colon cannot be told from the separator: this field and the
        // ones after it live in the flattened data only.
        if (strchr(name, ':') != nullptr)
            return B_OK;
        if (count > kMaxIndexedCount)
            continue;
        int width = index_width(count);

        if (type == B_MESSAGE_TYPE) {
            for (int32 j = 0; j < count; j++) {
                BMessage nested;
                status = source->FindMessage(name, j, &nested);
                if (status != B_OK)
                    return status;
                std::string inner = count == 1 ? std::string(prefix) + name + ":"
                                               : indexed_name(prefix, name, width, j, true);
                status = _StoreAttributes(&nested, file, inner.c_str());
                if (status != B_OK)
                    return status;
            }
            continue;
        }
        if (!IsAttributeType(type))
            continue;
        for (int32 j = 0; j < count; j++) {
            const void* data;
            ssize_t size;
            status = source->FindData(name, type, j, &data, &size);
            if (status != B_OK)
                return status;
            std::string attribute = count == 1 ? std::string(prefix) + name
                                               : indexed_name(prefix, name, width, j, false);
            ssize_t written = file->WriteAttr(attribute.c_str(), type, 0, data, size_t(size));
            if (written < 0 && attribute_not_storable(status_t(written))) {
                _debugPrintf("settings: attribute \"%s\" not stored: %s\n", attribute.c_str(),
                             status_string(status_t(written)));
                continue;
            }
            if (written < 0)
                return status_t(written);
        }
    }
    return B_OK;
}
