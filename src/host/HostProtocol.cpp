#include "host/HostProtocol.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

bool host_send(int socket, const host_message& message, int fd)
{
    if (message.payloadSize > sizeof(message.payload))
        return false;
    iovec part = {const_cast<host_message*>(&message), kHostMessageHeader + message.payloadSize};
    msghdr header = {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof(control);
        cmsghdr* rights = CMSG_FIRSTHDR(&header);
        rights->cmsg_level = SOL_SOCKET;
        rights->cmsg_type = SCM_RIGHTS;
        rights->cmsg_len = CMSG_LEN(sizeof(int));
        memcpy(CMSG_DATA(rights), &fd, sizeof(int));
    }
    ssize_t sent;
    do
        sent = sendmsg(socket, &header, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent == ssize_t(part.iov_len);
}

bool host_receive(int socket, host_message* message, int* fd)
{
    if (fd != nullptr)
        *fd = -1;
    iovec part = {message, sizeof(*message)};
    msghdr header = {};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    ssize_t got;
    do
        got = recvmsg(socket, &header, MSG_CMSG_CLOEXEC);
    while (got < 0 && errno == EINTR);
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
            c->cmsg_len == CMSG_LEN(sizeof(int))) {
            int received;
            memcpy(&received, CMSG_DATA(c), sizeof(int));
            if (fd != nullptr)
                *fd = received;
            else
                close(received);
        }
    }
    if (got < ssize_t(kHostMessageHeader) || (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) ||
        message->payloadSize > sizeof(message->payload) ||
        size_t(got) != kHostMessageHeader + message->payloadSize) {
        if (fd != nullptr && *fd >= 0) {
            close(*fd);
            *fd = -1;
        }
        return false;
    }
    return true;
}
