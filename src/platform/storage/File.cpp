#include "platform/storage/File.h"

#include "platform/storage/Entry.h"
#include "platform/storage/Path.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

BFile::BFile() : fMode(0) {}

BFile::BFile(const char* path, uint32 openMode) : BFile()
{
    SetTo(path, openMode);
}

BFile::BFile(const entry_ref* ref, uint32 openMode) : BFile()
{
    SetTo(ref, openMode);
}

BFile::~BFile()
{
    Unset();
}

status_t BFile::SetTo(const char* path, uint32 openMode)
{
    Unset();
    if (path == nullptr) {
        fStatus = B_BAD_VALUE;
        return fStatus;
    }
    int fd = open(path, int(openMode) | O_CLOEXEC, 0644);
    if (fd < 0) {
        fStatus = status_from_errno(errno);
        return fStatus;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        fStatus = B_IS_A_DIRECTORY;
        return fStatus;
    }
    _SetDescriptor(fd, int(openMode) & O_ACCMODE);
    fMode = openMode;
    return B_OK;
}

status_t BFile::SetTo(const entry_ref* ref, uint32 openMode)
{
    BPath path(ref);
    if (path.InitCheck() != B_OK) {
        Unset();
        return fStatus = path.InitCheck();
    }
    return SetTo(path.Path(), openMode);
}

status_t BFile::SetToTemporary(const char* directory, const char* prefix, BPath* path)
{
    Unset();
    if (directory == nullptr || prefix == nullptr || path == nullptr || strchr(prefix, '/'))
        return fStatus = B_BAD_VALUE;
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; attempt++) {
        std::string name = prefix;
        for (int i = 0; i < 6; i++)
            name += kLetters[random() % (sizeof(kLetters) - 1)];
        BPath candidate(directory, name.c_str());
        if (candidate.InitCheck() != B_OK)
            return fStatus = candidate.InitCheck();
        // The process's umask applies, as for any new file.
        int fd = open(candidate.Path(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            _SetDescriptor(fd, O_RDWR);
            fMode = B_READ_WRITE;
            *path = candidate;
            return B_OK;
        }
        if (errno != EEXIST)
            return fStatus = status_from_errno(errno);
    }
    return fStatus = B_FILE_EXISTS;
}

void BFile::Unset()
{
    BNode::Unset();
    fMode = 0;
}

bool BFile::IsReadable() const
{
    return fFd >= 0 && (fMode & O_ACCMODE) != O_WRONLY;
}

bool BFile::IsWritable() const
{
    return fFd >= 0 && (fMode & O_ACCMODE) != O_RDONLY;
}

namespace
{

template <typename Op>
ssize_t retry(Op op)
{
    ssize_t result;
    do {
        result = op();
    } while (result < 0 && errno == EINTR);
    return result < 0 ? ssize_t(status_from_errno(errno)) : result;
}

} // namespace

ssize_t BFile::Read(void* buffer, size_t size)
{
    if (fFd < 0)
        return B_NO_INIT;
    return retry([&] { return read(fFd, buffer, size); });
}

ssize_t BFile::Write(const void* buffer, size_t size)
{
    if (fFd < 0)
        return B_NO_INIT;
    return retry([&] { return write(fFd, buffer, size); });
}

ssize_t BFile::ReadAt(off_t position, void* buffer, size_t size)
{
    if (fFd < 0)
        return B_NO_INIT;
    if (position < 0)
        return B_BAD_VALUE;
    return retry([&] { return pread(fFd, buffer, size, position); });
}

ssize_t BFile::WriteAt(off_t position, const void* buffer, size_t size)
{
    if (fFd < 0)
        return B_NO_INIT;
    if (position < 0)
        return B_BAD_VALUE;
    return retry([&] { return pwrite(fFd, buffer, size, position); });
}

off_t BFile::Seek(off_t position, uint32 seekMode)
{
    if (fFd < 0)
        return B_NO_INIT;
    off_t result = lseek(fFd, position, int(seekMode));
    return result < 0 ? off_t(status_from_errno(errno)) : result;
}

off_t BFile::Position() const
{
    if (fFd < 0)
        return B_NO_INIT;
    off_t result = lseek(fFd, 0, SEEK_CUR);
    return result < 0 ? off_t(status_from_errno(errno)) : result;
}

status_t BFile::SetSize(off_t size)
{
    if (fFd < 0)
        return B_NO_INIT;
    return ftruncate(fFd, size) == 0 ? B_OK : status_from_errno(errno);
}

status_t BFile::GetSize(off_t* size) const
{
    if (fFd < 0)
        return B_NO_INIT;
    if (size == nullptr)
        return B_BAD_VALUE;
    struct stat st;
    if (fstat(fFd, &st) != 0)
        return status_from_errno(errno);
    *size = st.st_size;
    return B_OK;
}
