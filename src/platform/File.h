// A file opened by path, read and written through a POSIX descriptor.
#pragma once

#include "platform/DataIO.h"
#include "platform/StorageDefs.h"

class BFile : public BPositionIO {
public:
    BFile();
    BFile(const char* path, uint32 openMode);
    ~BFile() override;

    status_t SetTo(const char* path, uint32 openMode);
    void Unset();
    status_t InitCheck() const { return fStatus; }

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

    // Flushes written data to the device.
    status_t Sync();

    int FileDescriptor() const { return fFd; }

private:
    int fFd;
    uint32 fMode;
    status_t fStatus;
};
