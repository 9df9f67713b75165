// A file-system node: an open file or folder with its lock and its typed
// attributes.
//
// Attributes are Linux extended attributes in the "user." namespace: the
// attribute "name" is the extended attribute "user.name", whose value is the
// 4-byte type code (little-endian) followed by the attribute's data. A value
// too short to hold a type code was not written here and reads as
// B_RAW_TYPE data. On a file system without user extended attributes the
// node simply has none: listing finds nothing and writing reports
// B_NOT_SUPPORTED.
//
// Lock() takes an advisory whole-file lock (flock): shared on a node opened
// read-only, exclusive otherwise. It waits up to two seconds for another
// holder, then gives B_BUSY; where the file system has no locks it succeeds.
#pragma once

#include "platform/storage/StorageDefs.h"
#include "platform/support/SupportDefs.h"
#include "platform/support/TypeConstants.h"

#include <sys/stat.h>
#include <vector>

struct entry_ref;

#define B_ATTR_NAME_LENGTH 256

struct attr_info {
    uint32 type;
    off_t size;
};

class BNode
{
public:
    BNode();
    explicit BNode(const char* path);
    explicit BNode(const entry_ref* ref);
    virtual ~BNode();

    BNode(const BNode&) = delete;
    BNode& operator=(const BNode&) = delete;

    // Opens the file or folder read-only.
    status_t SetTo(const char* path);
    status_t SetTo(const entry_ref* ref);
    virtual void Unset();
    status_t InitCheck() const { return fStatus; }

    // B_BUSY when this node holds the lock already or another holder keeps
    // it; B_BAD_VALUE from Unlock when it is not held.
    status_t Lock();
    status_t Unlock();
    // Flushes the node's data and attributes to the device.
    status_t Sync();

    status_t GetPermissions(mode_t* permissions) const;
    status_t SetPermissions(mode_t permissions);

    // Writing at offset 0 replaces the whole attribute (other offsets are
    // B_NOT_SUPPORTED). Returns the bytes written or an error:
    // B_NAME_TOO_LONG, B_DEVICE_FULL (no room for attributes), B_NOT_SUPPORTED.
    ssize_t WriteAttr(const char* name, type_code type, off_t offset, const void* buffer,
                      size_t length);
    // Reads from `offset` of the attribute's data; the type is not checked.
    // B_ENTRY_NOT_FOUND when there is no such attribute.
    ssize_t ReadAttr(const char* name, type_code type, off_t offset, void* buffer,
                     size_t length) const;
    status_t RemoveAttr(const char* name);
    status_t GetAttrInfo(const char* name, attr_info* info) const;

    // Walks the attribute names; GetNextAttrName fills a buffer of
    // B_ATTR_NAME_LENGTH bytes and gives B_ENTRY_NOT_FOUND after the last.
    status_t RewindAttrs();
    status_t GetNextAttrName(char* buffer);

protected:
    // Takes over an open descriptor (its access mode decides the lock kind).
    void _SetDescriptor(int fd, int accessMode);

    int fFd;
    status_t fStatus;

private:
    status_t _ReadValue(const char* name, std::vector<uint8>* value) const;

    int fAccessMode;
    bool fLocked;
    bool fAttrsListed;
    std::vector<char> fAttrNames;
    size_t fAttrPosition;
};
