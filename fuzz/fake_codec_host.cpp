// A codec host that says anything: started by host_client_fuzzer in the
// codec host's place, it answers each request as its script (hex in
// REELMOTH_FAKE_HOST_SCRIPT) says: any reply type, status, sizes, payload and
// output-buffer bytes, messages that are no messages, or its death.
#include "host/HostProtocol.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{

struct script {
    std::vector<uint8> bytes;
    size_t at = 0;

    bool Done() const { return at >= bytes.size(); }
    uint8 Byte() { return at < bytes.size() ? bytes[at++] : 0; }
    uint32 Word()
    {
        uint32 value = 0;
        for (int i = 0; i < 4; i++)
            value |= uint32(Byte()) << (8 * i);
        return value;
    }
};

std::vector<uint8> from_hex(const char* text)
{
    std::vector<uint8> bytes;
    for (size_t i = 0; text[i] != '\0' && text[i + 1] != '\0'; i += 2) {
        auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
        bytes.push_back(uint8(digit(text[i]) << 4 | digit(text[i + 1])));
    }
    return bytes;
}

} // namespace

int main()
{
    const char* text = getenv("REELMOTH_FAKE_HOST_SCRIPT");
    if (text == nullptr)
        return 2;
    script s;
    s.bytes = from_hex(text);
    void* output =
        mmap(nullptr, kHostOutputSize, PROT_READ | PROT_WRITE, MAP_SHARED, kHostOutputFd, 0);
    if (output == MAP_FAILED)
        _exit(2);
    host_message request;
    int fd = -1;
    while (!s.Done() && host_receive(kHostSocketFd, &request, &fd)) {
        if (fd >= 0)
            close(fd);
        uint8 action = s.Byte();
        if (action % 8 == 0)
            _exit(0);
        if (action % 8 == 1)
            raise(SIGSEGV);
        if (action % 8 == 2) {
            // Bytes that are no message, of any length.
            uint8 junk[64];
            size_t length = s.Byte() % sizeof(junk);
            for (size_t i = 0; i < length; i++)
                junk[i] = s.Byte();
            (void)!send(kHostSocketFd, junk, length, MSG_NOSIGNAL);
            continue;
        }
        host_message reply;
        reply.type = (action & 8) ? s.Word() : request.type;
        reply.status = int32(s.Word());
        for (uint32& arg : reply.args)
            arg = (action & 16) ? s.Word() : s.Byte();
        reply.payloadSize = s.Byte();
        for (uint32 i = 0; i < reply.payloadSize; i++)
            reply.payload[i] = char(s.Byte());
        // Output bytes at a place of the script's choosing.
        uint32 offset = s.Word() % kHostOutputSize;
        size_t count = std::min<size_t>(s.Byte(), kHostOutputSize - offset);
        for (size_t i = 0; i < count; i++)
            static_cast<uint8*>(output)[offset + i] = s.Byte();
        host_send(kHostSocketFd, reply);
    }
    _exit(0);
}
