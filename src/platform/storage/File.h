// A file opened by path, read and written through a POSIX descriptor; as a
// node it has a lock and attributes.
#pragma once

#include "platform/storage/Node.h"
#include "platform/storage/StorageDefs.h"
#include "platform/support/DataIO.h"

class BPath;
struct entry_ref;

class BFile : public BNode, public BPositionIO
{
public:
    BFile();
    BFile(const char* path, uint32 openMode);
    BFile(const entry_ref* ref, uint32 openMode);
    ~BFile() override;

    status_t SetTo(const char* path, uint32 openMode);
    status_t SetTo(const entry_ref* ref, uint32 openMode);
    // Creates and opens (read-write) a new file of a unique name, `prefix`
    // and six random characters, in `directory`; `path` receives its path.
    // For replacing a file whole: write the new file, then rename it.
    status_t SetToTemporary(const char* directory, const char* prefix, BPath* path);
    void Unset() override;

    bool IsReadable() const;
    bool IsWritable() const;

    ssize_t Read(void* buffer, size_t size) override;
    ssize_t Write(const void* buffer, size_t size) override;
    ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
    ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
    off_t Seek(off_t position, uint32 seekMode) override;
    off_t Position() const override;
    status_t SetSize(off_t size) override;
    status_t GetSize(off_t* size) const override;

    int FileDescriptor() const { return fFd; }

private:
    uint32 fMode;
};
