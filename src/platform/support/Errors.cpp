#include "platform/support/Errors.h"

int32_t status_from_errno(int error)
{
    switch (error) {
    case 0:
        return B_OK;
    case ENOMEM:
        return B_NO_MEMORY;
    case EACCES:
    case EPERM:
        return B_PERMISSION_DENIED;
    case ENOENT:
        return B_ENTRY_NOT_FOUND;
    case EEXIST:
        return B_FILE_EXISTS;
    case ENAMETOOLONG:
        return B_NAME_TOO_LONG;
    case ENOTDIR:
        return B_NOT_A_DIRECTORY;
    case EISDIR:
        return B_IS_A_DIRECTORY;
    case ENOTEMPTY:
        return B_DIRECTORY_NOT_EMPTY;
    case ENOSPC:
        return B_DEVICE_FULL;
    case EROFS:
        return B_READ_ONLY_DEVICE;
    case EMFILE:
    case ENFILE:
        return B_NO_MORE_FDS;
    case EXDEV:
        return B_CROSS_DEVICE_LINK;
    case ELOOP:
        return B_LINK_LIMIT;
    case EPIPE:
        return B_BUSTED_PIPE;
    case EINVAL:
        return B_BAD_VALUE;
    case EINTR:
        return B_INTERRUPTED;
    case ETIMEDOUT:
        return B_TIMED_OUT;
    case EAGAIN:
        return B_WOULD_BLOCK;
    case EBUSY:
        return B_BUSY;
    case ENOTSUP:
        return B_NOT_SUPPORTED;
    default:
        return B_IO_ERROR;
    }
}

#include <cstring>

const char* status_string(int32_t status)
{
    switch (status) {
    case B_OK:
        return "no error";
    case B_ERROR:
        return "general error";
    case B_NO_MEMORY:
        return "out of memory";
    case B_IO_ERROR:
        return "input/output error";
    case B_PERMISSION_DENIED:
        return "permission denied";
    case B_BAD_VALUE:
        return "invalid argument";
    case B_BAD_DATA:
        return "malformed data";
    case B_NO_INIT:
        return "not initialised";
    case B_TIMED_OUT:
        return "timed out";
    case B_INTERRUPTED:
        return "interrupted";
    case B_WOULD_BLOCK:
        return "operation would block";
    case B_ENTRY_NOT_FOUND:
        return "no such file or directory";
    case B_IS_A_DIRECTORY:
        return "is a directory";
    case B_NOT_SUPPORTED:
        return "operation not supported";
    default:
        return status > 0 ? strerror(status) : "unknown error";
    }
}
