#include "platform/storage/Node.h"

#include "platform/storage/Entry.h"
#include "platform/storage/Path.h"
#include "platform/support/ByteOrder.h"
#include "platform/support/TypeConstants.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace
{

const char kNamespace[] = "user.";
constexpr size_t kNamespaceLength = sizeof(kNamespace) - 1;
constexpr size_t kTypeSize = 4;
// How long Lock() waits for another holder, and how often it looks.
constexpr int kLockAttempts = 200;
constexpr long kLockPollNanoseconds = 10 * 1000 * 1000;

// The extended attribute's name, or B_BAD_VALUE / B_NAME_TOO_LONG.
status_t xattr_name(const char* name, std::string* full)
{
    if (name == nullptr || name[0] == '\0')
        return B_BAD_VALUE;
    if (kNamespaceLength + strlen(name) >= B_ATTR_NAME_LENGTH)
        return B_NAME_TOO_LONG;
    *full = std::string(kNamespace) + name;
    return B_OK;
}

// Attribute errors in the storage kit's terms.
status_t attr_status(int error)
{
    switch (error) {
    case ENODATA:
        return B_ENTRY_NOT_FOUND;
    case ENOTSUP:
        return B_NOT_SUPPORTED;
    case ERANGE:
        return B_NAME_TOO_LONG;
    case ENOSPC:
    case E2BIG:
    case EDQUOT:
        return B_DEVICE_FULL;
    default:
        return status_from_errno(error);
    }
}

} // namespace

BNode::BNode()
    : fFd(-1), fStatus(B_NO_INIT), fAccessMode(O_RDONLY), fLocked(false), fAttrsListed(false),
      fAttrPosition(0)
{
}

BNode::BNode(const char* path) : BNode()
{
    SetTo(path);
}

BNode::BNode(const entry_ref* ref) : BNode()
{
    SetTo(ref);
}

BNode::~BNode()
{
    // BFile's Unset is no longer reachable here; this one closes the node.
    BNode::Unset();
}

status_t BNode::SetTo(const char* path)
{
    Unset();
    if (path == nullptr)
        return fStatus = B_BAD_VALUE;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fStatus = status_from_errno(errno);
    _SetDescriptor(fd, O_RDONLY);
    return B_OK;
}

status_t BNode::SetTo(const entry_ref* ref)
{
    BPath path(ref);
    if (path.InitCheck() != B_OK) {
        Unset();
        return fStatus = path.InitCheck();
    }
    return SetTo(path.Path());
}

void BNode::_SetDescriptor(int fd, int accessMode)
{
    fFd = fd;
    fAccessMode = accessMode;
    fStatus = B_OK;
}

void BNode::Unset()
{
    // Closing the descriptor also drops its lock.
    if (fFd >= 0)
        close(fFd);
    fFd = -1;
    fStatus = B_NO_INIT;
    fAccessMode = O_RDONLY;
    fLocked = false;
    fAttrsListed = false;
    fAttrNames.clear();
    fAttrPosition = 0;
}

status_t BNode::Lock()
{
    if (fFd < 0)
        return B_NO_INIT;
    if (fLocked)
        return B_BUSY;
    int kind = fAccessMode == O_RDONLY ? LOCK_SH : LOCK_EX;
    for (int attempt = 0; attempt < kLockAttempts; attempt++) {
        if (flock(fFd, kind | LOCK_NB) == 0) {
            fLocked = true;
            return B_OK;
        }
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK) {
            // No locks on this file system: there is nothing to exclude.
            if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
                fLocked = true;
                return B_OK;
            }
            return status_from_errno(errno);
        }
        struct timespec pause = {0, kLockPollNanoseconds};
        nanosleep(&pause, nullptr);
    }
    return B_BUSY;
}

status_t BNode::Unlock()
{
    if (fFd < 0)
        return B_NO_INIT;
    if (!fLocked)
        return B_BAD_VALUE;
    fLocked = false;
    flock(fFd, LOCK_UN);
    return B_OK;
}

status_t BNode::Sync()
{
    if (fFd < 0)
        return B_NO_INIT;
    return fsync(fFd) == 0 ? B_OK : status_from_errno(errno);
}

status_t BNode::GetPermissions(mode_t* permissions) const
{
    if (fFd < 0)
        return B_NO_INIT;
    if (permissions == nullptr)
        return B_BAD_VALUE;
    struct stat st;
    if (fstat(fFd, &st) != 0)
        return status_from_errno(errno);
    *permissions = st.st_mode & 07777;
    return B_OK;
}

status_t BNode::SetPermissions(mode_t permissions)
{
    if (fFd < 0)
        return B_NO_INIT;
    return fchmod(fFd, permissions & 07777) == 0 ? B_OK : status_from_errno(errno);
}

// ---- attributes -----------------------------------------------------------

ssize_t BNode::WriteAttr(const char* name, type_code type, off_t offset, const void* buffer,
                         size_t length)
{
    if (fFd < 0)
        return B_NO_INIT;
    if (offset != 0)
        return B_NOT_SUPPORTED;
    if (buffer == nullptr && length > 0)
        return B_BAD_VALUE;
    std::string full;
    status_t status = xattr_name(name, &full);
    if (status != B_OK)
        return status;
    std::vector<uint8> value(kTypeSize + length);
    write_le32(value.data(), type);
    if (length > 0)
        memcpy(value.data() + kTypeSize, buffer, length);
    if (fsetxattr(fFd, full.c_str(), value.data(), value.size(), 0) != 0)
        return attr_status(errno);
    return ssize_t(length);
}

status_t BNode::_ReadValue(const char* name, std::vector<uint8>* value) const
{
    if (fFd < 0)
        return B_NO_INIT;
    std::string full;
    status_t status = xattr_name(name, &full);
    if (status != B_OK)
        return status;
    // The value may change between asking its size and reading it.
    for (int attempt = 0; attempt < 8; attempt++) {
        ssize_t size = fgetxattr(fFd, full.c_str(), nullptr, 0);
        if (size < 0)
            return attr_status(errno);
        value->resize(size_t(size));
        ssize_t read = fgetxattr(fFd, full.c_str(), value->data(), value->size());
        if (read >= 0) {
            value->resize(size_t(read));
            return B_OK;
        }
        if (errno != ERANGE)
            return attr_status(errno);
    }
    return B_BUSY;
}

ssize_t BNode::ReadAttr(const char* name, type_code, off_t offset, void* buffer,
                        size_t length) const
{
    if (offset < 0 || (buffer == nullptr && length > 0))
        return B_BAD_VALUE;
    std::vector<uint8> value;
    status_t status = _ReadValue(name, &value);
    if (status != B_OK)
        return status;
    size_t start = value.size() >= kTypeSize ? kTypeSize : 0;
    size_t size = value.size() - start;
    if (uint64(offset) >= size)
        return 0;
    size_t count = std::min(length, size - size_t(offset));
    if (count > 0)
        memcpy(buffer, value.data() + start + size_t(offset), count);
    return ssize_t(count);
}

status_t BNode::RemoveAttr(const char* name)
{
    if (fFd < 0)
        return B_NO_INIT;
    std::string full;
    status_t status = xattr_name(name, &full);
    if (status != B_OK)
        return status;
    return fremovexattr(fFd, full.c_str()) == 0 ? B_OK : attr_status(errno);
}

status_t BNode::GetAttrInfo(const char* name, attr_info* info) const
{
    if (info == nullptr)
        return B_BAD_VALUE;
    std::vector<uint8> value;
    status_t status = _ReadValue(name, &value);
    if (status != B_OK)
        return status;
    if (value.size() < kTypeSize) {
        info->type = B_RAW_TYPE;
        info->size = off_t(value.size());
    } else {
        info->type = read_le32(value.data());
        info->size = off_t(value.size() - kTypeSize);
    }
    return B_OK;
}

status_t BNode::RewindAttrs()
{
    if (fFd < 0)
        return B_NO_INIT;
    fAttrNames.clear();
    fAttrPosition = 0;
    fAttrsListed = true;
    for (int attempt = 0; attempt < 8; attempt++) {
        ssize_t size = flistxattr(fFd, nullptr, 0);
        if (size < 0)
            return errno == ENOTSUP ? B_OK : attr_status(errno);
        fAttrNames.resize(size_t(size));
        ssize_t listed = flistxattr(fFd, fAttrNames.data(), fAttrNames.size());
        if (listed >= 0) {
            fAttrNames.resize(size_t(listed));
            return B_OK;
        }
        if (errno != ERANGE)
            return attr_status(errno);
    }
    fAttrNames.clear();
    return B_BUSY;
}

status_t BNode::GetNextAttrName(char* buffer)
{
    if (buffer == nullptr)
        return B_BAD_VALUE;
    if (!fAttrsListed) {
        status_t status = RewindAttrs();
        if (status != B_OK)
            return status;
    }
    // The list is a run of NUL-terminated names; only "user." ones are ours.
    while (fAttrPosition < fAttrNames.size()) {
        const char* name = fAttrNames.data() + fAttrPosition;
        size_t length = strnlen(name, fAttrNames.size() - fAttrPosition);
        fAttrPosition += length + 1;
        if (length > kNamespaceLength && length - kNamespaceLength < B_ATTR_NAME_LENGTH &&
            strncmp(name, kNamespace, kNamespaceLength) == 0) {
            memcpy(buffer, name + kNamespaceLength, length - kNamespaceLength);
            buffer[length - kNamespaceLength] = '\0';
            return B_OK;
        }
    }
    return B_ENTRY_NOT_FOUND;
}
