#include "platform/app/Roster.h"

#include <cstring>
#include <mutex>
#include <unistd.h>

namespace
{

std::mutex sLock;
char sSignature[B_MIME_TYPE_LENGTH];
int32 sThread = -1;

} // namespace

void set_running_app_signature(const char* signature)
{
    std::lock_guard<std::mutex> lock(sLock);
    if (signature == nullptr) {
        sSignature[0] = '\0';
        sThread = -1;
        return;
    }
    strncpy(sSignature, signature, sizeof(sSignature) - 1);
    sSignature[sizeof(sSignature) - 1] = '\0';
    sThread = int32(gettid());
}

status_t get_running_app_info(app_info* info)
{
    if (info == nullptr)
        return B_BAD_VALUE;
    std::lock_guard<std::mutex> lock(sLock);
    if (sSignature[0] == '\0')
        return B_ERROR;
    memset(info, 0, sizeof(*info));
    info->thread = sThread;
    info->team = int32(getpid());
    memcpy(info->signature, sSignature, sizeof(sSignature));
    return B_OK;
}
