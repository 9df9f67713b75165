// An absolute path in the file system, built and taken apart by name.
#pragma once

#include "platform/support/SupportDefs.h"

#include <string>

struct entry_ref;

class BPath
{
public:
    BPath();
    BPath(const char* path, const char* leaf = nullptr, bool normalize = false);
    explicit BPath(const entry_ref* ref);
    BPath(const BPath& other);
    BPath& operator=(const BPath& other);

    // A relative `path` is taken from the current directory. `leaf`, when
    // given, must be relative and is appended. The path is always kept
    // normalised ("." and ".." resolved by name, no repeated separators), so
    // `normalize` changes nothing; it is there for callers that pass it.
    status_t SetTo(const char* path, const char* leaf = nullptr, bool normalize = false);
    // The ref's folder path and name; B_BAD_VALUE when it has no folder path.
    status_t SetTo(const entry_ref* ref);
    void Unset();
    status_t InitCheck() const { return fStatus; }

    // Appends a relative path; an absolute one is B_BAD_VALUE.
    status_t Append(const char* path, bool normalize = false);

    const char* Path() const { return fStatus == B_OK ? fPath.c_str() : nullptr; }
    const char* Leaf() const;
    status_t GetParent(BPath* parent) const;

    bool operator==(const BPath& other) const;
    bool operator!=(const BPath& other) const { return !(*this == other); }

private:
    std::string fPath;
    status_t fStatus;
};
