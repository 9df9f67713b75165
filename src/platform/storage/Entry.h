// References to entries of the file system.
//
// An entry_ref names an entry by its folder and its leaf name. The folder is
// identified by device and inode, as the platform does, and also by its
// absolute path: Linux cannot open a folder by its inode number, so the path
// is what BPath, BFile and BEntry use to reach the entry. Refs compare equal
// when device, folder inode and name are equal.
#pragma once

#include "platform/storage/Path.h"
#include "platform/support/SupportDefs.h"

#include <sys/types.h>

struct entry_ref {
    entry_ref();
    // A ref without a folder path cannot be turned into a path.
    entry_ref(dev_t device, ino_t directory, const char* name);
    entry_ref(const entry_ref& other);
    entry_ref& operator=(const entry_ref& other);
    ~entry_ref();

    status_t set_name(const char* name);
    status_t set_directory_path(const char* path);

    bool operator==(const entry_ref& other) const;
    bool operator!=(const entry_ref& other) const { return !(*this == other); }

    dev_t device;
    ino_t directory;
    char* name;           // the leaf name, owned
    char* directory_path; // the folder's absolute path, owned; may be null
};

// Fills `ref` for `path` (relative paths start at the current folder). The
// folder must exist; the entry itself need not. "/" gives the ref of "." in
// "/". B_ENTRY_NOT_FOUND or B_NOT_A_DIRECTORY when the folder is not there.
status_t get_ref_for_path(const char* path, entry_ref* ref);

// An entry of the file system by path, whether it exists or not.
class BEntry
{
public:
    BEntry();
    explicit BEntry(const char* path);
    explicit BEntry(const entry_ref* ref);

    status_t SetTo(const char* path);
    status_t SetTo(const entry_ref* ref);
    void Unset();
    status_t InitCheck() const { return fPath.InitCheck(); }

    bool Exists() const;
    status_t GetPath(BPath* path) const;
    status_t GetRef(entry_ref* ref) const;

    // Moves the entry to `path` (a relative path starts at the entry's own
    // folder) in one step: readers see the old entry or the new one, never
    // neither. Without `clobber`, an existing entry there is B_FILE_EXISTS.
    status_t Rename(const char* path, bool clobber = false);
    status_t Remove();

private:
    BPath fPath;
};
