// The player's side of a codec host against a host that says anything: the
// input is a script for a fake host (fake_codec_host.cpp), which answers each request with the
// reply type, status, sizes, payload and output-buffer bytes the script gives, sends malformed
// messages, or dies. The player's side must fail cleanly, never read or
// write outside its buffers, and take in only what the registry merge
// allows.
#include "codec/ModuleRegistry.h"
#include "host/CodecHost.h"
#include "host/HostProtocol.h"
#include "registry/RegistryNode.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace
{

const char kScriptVariable[] = "REELMOTH_FAKE_HOST_SCRIPT";

std::string to_hex(const uint8_t* data, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < size; i++) {
        text += kDigits[data[i] >> 4];
        text += kDigits[data[i] & 15];
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 2048)
        return 0;
    setenv("REELMOTH_CODEC_HOST", REELMOTH_FAKE_CODEC_HOST, 1);
    setenv(kScriptVariable, to_hex(data, size).c_str(), 1);

    CCodecHost host("fuzz.acm");
    int module = open("/dev/null", O_RDONLY | O_CLOEXEC);
    std::vector<uint8> before = registry_flatten();
    host_module_report report;
    host.Open(module, "fuzz.acm", before, 0, &report);
    close(module);
    std::vector<uint8> format(18, 0);
    format[0] = 0x11;
    format[2] = 1;
    format[12] = 0;
    format[13] = 1;
    host.Begin(format);
    std::vector<uint8> compressed(3000, 0x5A), pcm;
    for (int i = 0; i < 3 && !host.Failed(); i++)
        host.Decode(compressed.data(), compressed.size(), &pcm);
    host.Finish(&pcm);
    std::vector<uint8> after;
    if (host.Close(&after))
        merge_module_registry("fuzz.acm", before, after);
    // Nothing the host says makes more PCM than its buffer held per reply.
    if (pcm.size() > 8 * kHostOutputSize)
        abort();
    unsetenv(kScriptVariable);
    return 0;
}
