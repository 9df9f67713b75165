#include "host/CodecHost.h"

#include "platform/support/Debug.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace
{

const char kHostName[] = "reelmoth-codec-host";

// Deadlines: generous for a slow machine under load. Loading runs the
// module's set-up code; a decode's grows with the data.
constexpr bigtime_t kOpenTimeout = 3000000;
constexpr bigtime_t kBeginTimeout = 3000000;
constexpr bigtime_t kDecodeTimeout = 2000000;
constexpr bigtime_t kDecodeTimePerMiB = 4000000;
constexpr bigtime_t kCloseTimeout = 1000000;
// Requests are watched in slices, so a thread asked to end stops waiting.
constexpr int kWaitSliceMs = 20;
// What a host may hold in memory: far above any codec's needs, far below
// what would trouble the machine. A module can write anywhere in its
// window, so this is watched from outside.
constexpr uint64 kHostMemoryLimit = 384ull << 20;

// The resident memory of `pid`, in bytes; 0 when it cannot be read.
uint64 resident_bytes(pid_t pid)
{
    char path[64];
    snprintf(path, sizeof(path), "/proc/%d/statm", int(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[128];
    ssize_t got = read(fd, text, sizeof(text) - 1);
    close(fd);
    if (got <= 0)
        return 0;
    text[got] = '\0';
    unsigned long long size = 0, resident = 0;
    if (sscanf(text, "%llu %llu", &size, &resident) != 2)
        return 0;
    return uint64(resident) * uint64(sysconf(_SC_PAGESIZE));
}

bool is_executable(const std::string& path)
{
    return !path.empty() && access(path.c_str(), X_OK) == 0;
}

int make_buffer(const char* name, size_t size, uint8** mapping)
{
    int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    void* address = MAP_FAILED;
    if (ftruncate(fd, off_t(size)) == 0)
        address = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        close(fd);
        return -1;
    }
    *mapping = static_cast<uint8*>(address);
    return fd;
}

} // namespace

std::string codec_host_path()
{
    if (const char* path = getenv("REELMOTH_CODEC_HOST"))
        return is_executable(path) ? path : "";
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (length <= 0)
        return "";
    std::string folder(self, size_t(length));
    folder.erase(folder.rfind('/') + 1);
    // Beside the program, then where an install puts it; a build folder
    // keeps its tools one folder down.
    for (const std::string& candidate :
         {folder + kHostName, folder + "../lib/reelmoth/" + kHostName,
          folder + "../" + kHostName}) {
        if (is_executable(candidate))
            return candidate;
    }
    return "";
}

bool codec_process_enabled()
{
    const char* choice = getenv("REELMOTH_CODEC_PROCESS");
    if (choice != nullptr && strcmp(choice, "0") == 0)
        return false;
    static const bool sFound = [] {
        bool found = !codec_host_path().empty();
        if (!found)
            _debugPrintf("codec host: %s not found; modules run in the player\n", kHostName);
        return found;
    }();
    return sFound;
}

CCodecHost::CCodecHost(const std::string& label)
    : fLabel(label), fStatus(B_ERROR), fPid(-1), fSocket(-1), fInput(nullptr), fOutput(nullptr),
      fNextSlot(0), fMore(false), fPictureSize(0), fLate(false), fLateDeadline(0)
{
    std::string path = codec_host_path();
    if (path.empty()) {
        fStatus = B_ENTRY_NOT_FOUND;
        return;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return;
    fSocket = pair[0];
    int input = make_buffer("reelmoth-codec-input", kHostInputSize, &fInput);
    int output = make_buffer("reelmoth-codec-output", kHostOutputSize, &fOutput);
    if (input >= 0 && output >= 0) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pair[1], kHostSocketFd);
        posix_spawn_file_actions_adddup2(&actions, input, kHostInputFd);
        posix_spawn_file_actions_adddup2(&actions, output, kHostOutputFd);
        char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(fLabel.c_str()),
                        nullptr};
        if (posix_spawn(&fPid, path.c_str(), &actions, nullptr, argv, environ) == 0)
            fStatus = B_OK;
        else
            fPid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    close(pair[1]);
    if (input >= 0)
        close(input);
    if (output >= 0)
        close(output);
}

CCodecHost::~CCodecHost()
{
    Stop();
    if (fInput != nullptr)
        munmap(fInput, kHostInputSize);
    if (fOutput != nullptr)
        munmap(fOutput, kHostOutputSize);
}

void CCodecHost::Stop()
{
    if (fSocket >= 0) {
        close(fSocket);
        fSocket = -1;
    }
    if (fPid > 0) {
        // Whatever the module is doing, the host goes now.
        kill(fPid, SIGKILL);
        while (waitpid(fPid, nullptr, 0) < 0 && errno == EINTR) {
        }
        fPid = -1;
    }
}

void CCodecHost::Fail(const std::string& why)
{
    if (fFailure.empty())
        fFailure = why;
    Stop();
}

bool CCodecHost::Request(const host_message& request, host_message* reply, bigtime_t timeout,
                         int fd)
{
    // A request waits behind the decodes in flight; their replies come first.
    if (!fInFlight.empty())
        CollectAll(nullptr);
    return Send(request, fd) && Await(request.type, reply, timeout);
}

bool CCodecHost::Send(const host_message& request, int fd)
{
    if (fStatus != B_OK || Failed())
        return false;
    if (host_send(fSocket, request, fd))
        return true;
    Gone();
    return false;
}

bool CCodecHost::Await(uint32 type, host_message* reply, bigtime_t timeout, bigtime_t patience)
{
    if (fStatus != B_OK || Failed())
        return false;
    bigtime_t start = system_time();
    bigtime_t deadline = start + timeout;
    bigtime_t givenUp = patience < timeout ? start + patience : deadline;
    for (int slice = 0;; slice++) {
        if (has_kill_request()) {
            Fail("was stopped as its window closed");
            return false;
        }
        if (slice % 5 == 0 && resident_bytes(fPid) > kHostMemoryLimit) {
            Fail("used more than 384 MiB of memory");
            return false;
        }
        pollfd ready = {fSocket, POLLIN, 0};
        int wait = kWaitSliceMs;
        if (givenUp < deadline)
            wait = int(std::clamp<bigtime_t>((givenUp - system_time()) / 1000 + 1, 1, wait));
        int count = poll(&ready, 1, slice == 0 ? 0 : wait);
        if (count > 0) {
            if (host_receive(fSocket, reply) && reply->type == type)
                return true;
            break;
        }
        if (count < 0 && errno != EINTR)
            break;
        if (slice > 0 && system_time() >= deadline) {
            Fail("stopped answering");
            return false;
        }
        if (slice > 0 && system_time() >= givenUp) {
            fLate = true;
            fLateDeadline = deadline;
            return false;
        }
    }
    Gone();
    return false;
}

void CCodecHost::Gone()
{
    // Gone or talking nonsense: say which.
    int status = 0;
    pid_t pid = fPid;
    close(fSocket);
    fSocket = -1;
    // A host whose end closed is on its way out: give it a moment to say how.
    pid_t ended = 0;
    for (int i = 0; i < 250 && pid > 0 && ended == 0; i++) {
        ended = waitpid(pid, &status, WNOHANG);
        if (ended == 0)
            snooze(2000);
    }
    if (pid > 0 && ended == pid) {
        fPid = -1;
        if (WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS)
            Fail("made a forbidden system call and was stopped");
        else if (WIFSIGNALED(status))
            Fail(std::string("crashed (") + strsignal(WTERMSIG(status)) + ")");
        else
            Fail("ended unexpectedly");
        return;
    }
    Fail("broke the protocol");
}

bool CCodecHost::Open(int moduleFd, const std::string& name, const std::vector<uint8>& registry,
                      uint64 registryUsed, host_module_report* report, host_module_kind kind,
                      uint32 handler)
{
    host_message request;
    request.type = kHostOpen;
    request.payloadSize = uint32(std::min(name.size(), sizeof(request.payload) - 1));
    memcpy(request.payload, name.data(), request.payloadSize);
    if (fInput != nullptr && !registry.empty() && registry.size() <= kHostInputSize) {
        memcpy(fInput, registry.data(), registry.size());
        request.args[0] = uint32(registry.size());
    }
    request.args[1] = uint32(std::min<uint64>(registryUsed, UINT32_MAX));
    request.args[2] = kind;
    request.args[3] = handler;
    host_message reply;
    if (!Request(request, &reply, kOpenTimeout, moduleFd))
        return false;
    if (report != nullptr) {
        const char* text = reply.payload;
        size_t size = reply.payloadSize;
        size_t first = strnlen(text, size);
        report->driver.assign(text, first);
        report->problem.clear();
        if (first < size)
            report->problem.assign(text + first + 1, strnlen(text + first + 1, size - first - 1));
        report->tags.clear();
        report->fourCCs.clear();
        report->video = reply.args[1] == kHostVideoModule;
        report->handler = report->video ? reply.args[3] : 0;
        uint32 count = std::min<uint32>(reply.args[0], 256);
        for (uint32 i = 0; i < count; i++) {
            if (report->video) {
                uint32 code;
                memcpy(&code, fOutput + 4 * i, 4);
                report->fourCCs.push_back(code);
            } else {
                report->tags.push_back(uint16(fOutput[2 * i] | fOutput[2 * i + 1] << 8));
            }
        }
    }
    return reply.status == B_OK;
}

bool CCodecHost::Begin(const std::vector<uint8>& waveFormat)
{
    // What is in flight belongs to the conversion that ends here.
    if (!CollectAll(nullptr))
        return false;
    fMore = false;
    host_message request;
    request.type = kHostBegin;
    if (waveFormat.size() > sizeof(request.payload))
        return false;
    request.payloadSize = uint32(waveFormat.size());
    if (!waveFormat.empty())
        memcpy(request.payload, waveFormat.data(), waveFormat.size());
    host_message reply;
    if (!Request(request, &reply, kBeginTimeout))
        return false;
    if (reply.status == B_BAD_ADDRESS)
        Fail("faulted");
    return reply.status == B_OK;
}

bool CCodecHost::BeginPictures(const std::vector<uint8>& input, std::vector<uint8>* outputFormat,
                               uint32* pictureSize)
{
    fPictureSize = 0;
    if (input.size() > kHostSlotInput || Failed())
        return false;
    host_message request;
    request.type = kHostBeginPictures;
    if (!input.empty())
        memcpy(fInput, input.data(), input.size());
    request.args[0] = uint32(input.size());
    host_message reply;
    if (!Request(request, &reply, kBeginTimeout))
        return false;
    if (reply.status == B_BAD_ADDRESS)
        Fail("faulted");
    if (reply.status != B_OK)
        return false;
    if (reply.args[0] == 0 || reply.args[0] > kHostSlotOutput) {
        Fail("broke the protocol");
        return false;
    }
    fPictureSize = reply.args[0];
    outputFormat->assign(reply.payload, reply.payload + reply.payloadSize);
    *pictureSize = fPictureSize;
    return true;
}

bool CCodecHost::DecodePicture(const uint8* data, size_t size, uint32 flags, const uint8** picture)
{
    *picture = nullptr;
    if (size > kHostSlotInput || fPictureSize == 0 || Failed())
        return false;
    host_message request;
    request.type = kHostDecodePicture;
    if (size > 0)
        memcpy(fInput, data, size);
    request.args[0] = uint32(size);
    request.args[1] = flags;
    host_message reply;
    bigtime_t timeout = kDecodeTimeout + kDecodeTimePerMiB * bigtime_t(size >> 20);
    if (!Request(request, &reply, timeout))
        return false;
    if (reply.status == B_BAD_ADDRESS) {
        Fail("faulted");
        return false;
    }
    if (reply.args[0] != 0 && reply.args[0] != fPictureSize) {
        Fail("broke the protocol");
        return false;
    }
    if (reply.status == B_OK && reply.args[0] != 0)
        *picture = fOutput;
    return true;
}

bool CCodecHost::TakeOutput(const host_message& reply, uint32 slot, std::vector<uint8>* pcm,
                            bool* more)
{
    if (reply.status == B_BAD_ADDRESS) {
        Fail("faulted");
        return false;
    }
    if (reply.args[0] > kHostSlotOutput || slot > 1) {
        Fail("broke the protocol");
        return false;
    }
    const uint8* output = fOutput + slot * kHostSlotOutput;
    pcm->insert(pcm->end(), output, output + reply.args[0]);
    *more = reply.args[1] != 0;
    fMore = *more;
    return true;
}

bool CCodecHost::Post(const uint8* data, size_t size)
{
    if (size > kHostSlotInput || Failed())
        return false;
    // Two slots: one may still hold the decode in flight.
    if (fInFlight.size() == 2)
        return false;
    uint32 slot = fInFlight.empty() ? fNextSlot : 1 - fInFlight.back();
    host_message request;
    request.type = kHostDecode;
    if (size > 0)
        memcpy(fInput + slot * kHostSlotInput, data, size);
    request.args[0] = uint32(size);
    request.args[2] = slot;
    if (!Send(request))
        return false;
    fInFlight.push_back(slot);
    fNextSlot = 1 - slot;
    return true;
}

bool CCodecHost::Collect(std::vector<uint8>* pcm)
{
    if (fInFlight.empty())
        return !Failed();
    uint32 slot = fInFlight.front();
    fInFlight.pop_front();
    host_message reply;
    bool more = false;
    std::vector<uint8> ignored;
    if (!Await(kHostDecode, &reply, kDecodeTimeout + kDecodeTimePerMiB * 2) ||
        !TakeOutput(reply, slot, pcm != nullptr ? pcm : &ignored, &more))
        return false;
    // Blocks the slot's room could not take wait in the host; they go with
    // the next request, in order.
    return true;
}

bool CCodecHost::Collect(std::vector<uint8>* pcm, bigtime_t patience, bool* late)
{
    *late = false;
    if (fInFlight.empty())
        return !Failed();
    uint32 slot = fInFlight.front();
    host_message reply;
    bool more = false;
    bigtime_t timeout = kDecodeTimeout + kDecodeTimePerMiB * 2;
    if (!Await(kHostDecode, &reply, timeout, patience)) {
        *late = fLate;
        return false;
    }
    fInFlight.pop_front();
    return TakeOutput(reply, slot, pcm, &more);
}

bool CCodecHost::Settle()
{
    while (fLate && !Failed()) {
        if (has_kill_request())
            return false;
        pollfd ready = {fSocket, POLLIN, 0};
        if (poll(&ready, 1, 0) <= 0) {
            if (system_time() >= fLateDeadline)
                Fail("stopped answering");
            return false;
        }
        host_message reply;
        if (!host_receive(fSocket, &reply) || reply.type != kHostDecode) {
            Gone();
            return false;
        }
        if (!fInFlight.empty())
            fInFlight.pop_front();
        fMore = false;
        fLate = !fInFlight.empty();
        fLateDeadline = system_time() + kDecodeTimeout + kDecodeTimePerMiB * 2;
    }
    return !Failed();
}

bool CCodecHost::Answered() const
{
    if (fInFlight.empty() || Failed())
        return false;
    pollfd ready = {fSocket, POLLIN, 0};
    return poll(&ready, 1, 0) > 0;
}

bool CCodecHost::CollectAll(std::vector<uint8>* pcm)
{
    while (!fInFlight.empty()) {
        if (!Collect(pcm))
            return false;
    }
    return !Failed();
}

bool CCodecHost::Decode(const uint8* data, size_t size, std::vector<uint8>* pcm)
{
    size_t done = 0;
    bool more = false;
    // Large objects go in pieces; a piece's PCM may need more than one reply.
    while ((done < size || more) && !Failed()) {
        size_t piece = more ? 0 : std::min(size - done, kHostSlotInput);
        if (!Post(data + done, piece) || !CollectAll(pcm))
            return false;
        done += piece;
        more = fMore;
    }
    return !Failed();
}

bool CCodecHost::Finish(std::vector<uint8>* pcm)
{
    // What waits behind a full slot first, then the end.
    if (!CollectAll(pcm))
        return false;
    while (fMore) {
        if (!Post(nullptr, 0) || !CollectAll(pcm))
            return false;
    }
    host_message request;
    request.type = kHostFinish;
    host_message reply;
    bool more = false;
    return Request(request, &reply, kDecodeTimeout) && TakeOutput(reply, 0, pcm, &more);
}

bool CCodecHost::Close(std::vector<uint8>* registry)
{
    CollectAll(nullptr);
    if (registry != nullptr)
        registry->clear();
    host_message request;
    request.type = kHostClose;
    host_message reply;
    bool answered = Request(request, &reply, kCloseTimeout);
    if (answered && registry != nullptr && reply.args[0] <= kHostOutputSize)
        registry->assign(fOutput, fOutput + reply.args[0]);
    return answered;
}
