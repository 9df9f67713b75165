#include "platform/storage/Entry.h"

#include "platform/storage/Path.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Replaces an owned string with a copy of `text` (or null).
status_t replace_string(char** field, const char* text)
{
    char* copy = nullptr;
    if (text != nullptr) {
        copy = strdup(text);
        if (copy == nullptr)
            return B_NO_MEMORY;
    }
    free(*field);
    *field = copy;
    return B_OK;
}

} // namespace

entry_ref::entry_ref() : device(-1), directory(ino_t(-1)), name(nullptr), directory_path(nullptr) {}

entry_ref::entry_ref(dev_t device, ino_t directory, const char* name)
    : device(device), directory(directory), name(nullptr), directory_path(nullptr)
{
    set_name(name);
}

entry_ref::entry_ref(const entry_ref& other) : entry_ref()
{
    *this = other;
}

entry_ref& entry_ref::operator=(const entry_ref& other)
{
    if (this == &other)
        return *this;
    device = other.device;
    directory = other.directory;
    set_name(other.name);
    set_directory_path(other.directory_path);
    return *this;
}

entry_ref::~entry_ref()
{
    free(name);
    free(directory_path);
}

status_t entry_ref::set_name(const char* newName)
{
    return replace_string(&name, newName);
}

status_t entry_ref::set_directory_path(const char* path)
{
    return replace_string(&directory_path, path);
}

bool entry_ref::operator==(const entry_ref& other) const
{
    if (device != other.device || directory != other.directory)
        return false;
    if (name == nullptr || other.name == nullptr)
        return name == other.name;
    return strcmp(name, other.name) == 0;
}

status_t get_ref_for_path(const char* path, entry_ref* ref)
{
    if (path == nullptr || ref == nullptr)
        return B_BAD_VALUE;
    BPath full(path);
    if (full.InitCheck() != B_OK)
        return full.InitCheck();

    BPath folder;
    const char* leaf = ".";
    if (strcmp(full.Path(), "/") == 0) {
        folder = full;
    } else {
        status_t status = full.GetParent(&folder);
        if (status != B_OK)
            return status;
        leaf = full.Leaf();
    }

    struct stat st;
    if (stat(folder.Path(), &st) != 0)
        return status_from_errno(errno);
    if (!S_ISDIR(st.st_mode))
        return B_NOT_A_DIRECTORY;

    entry_ref result(st.st_dev, st.st_ino, leaf);
    if (result.name == nullptr || result.set_directory_path(folder.Path()) != B_OK)
        return B_NO_MEMORY;
    *ref = result;
    if (ref->name == nullptr || ref->directory_path == nullptr)
        return B_NO_MEMORY;
    return B_OK;
}

BEntry::BEntry() = default;

BEntry::BEntry(const char* path)
{
    SetTo(path);
}

BEntry::BEntry(const entry_ref* ref)
{
    SetTo(ref);
}

status_t BEntry::SetTo(const char* path)
{
    if (path == nullptr) {
        fPath.Unset();
        return B_BAD_VALUE;
    }
    return fPath.SetTo(path);
}

status_t BEntry::SetTo(const entry_ref* ref)
{
    return fPath.SetTo(ref);
}

void BEntry::Unset()
{
    fPath.Unset();
}

bool BEntry::Exists() const
{
    struct stat st;
    return fPath.InitCheck() == B_OK && lstat(fPath.Path(), &st) == 0;
}

status_t BEntry::GetPath(BPath* path) const
{
    if (path == nullptr)
        return B_BAD_VALUE;
    if (fPath.InitCheck() != B_OK)
        return fPath.InitCheck();
    *path = fPath;
    return B_OK;
}

status_t BEntry::GetRef(entry_ref* ref) const
{
    if (fPath.InitCheck() != B_OK)
        return fPath.InitCheck();
    return get_ref_for_path(fPath.Path(), ref);
}

status_t BEntry::Rename(const char* path, bool clobber)
{
    if (fPath.InitCheck() != B_OK)
        return fPath.InitCheck();
    if (path == nullptr || path[0] == '\0')
        return B_BAD_VALUE;
    BPath target;
    if (path[0] == '/') {
        target.SetTo(path);
    } else {
        BPath folder;
        status_t status = fPath.GetParent(&folder);
        if (status != B_OK)
            return status;
        target.SetTo(folder.Path(), path);
    }
    if (target.InitCheck() != B_OK)
        return target.InitCheck();
    int result = clobber
                     ? rename(fPath.Path(), target.Path())
                     : renameat2(AT_FDCWD, fPath.Path(), AT_FDCWD, target.Path(), RENAME_NOREPLACE);
    if (result != 0)
        return status_from_errno(errno);
    fPath = target;
    return B_OK;
}

status_t BEntry::Remove()
{
    if (fPath.InitCheck() != B_OK)
        return fPath.InitCheck();
    struct stat st;
    if (lstat(fPath.Path(), &st) != 0)
        return status_from_errno(errno);
    int result = S_ISDIR(st.st_mode) ? rmdir(fPath.Path()) : unlink(fPath.Path());
    return result == 0 ? B_OK : status_from_errno(errno);
}
