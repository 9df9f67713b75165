#include "player/HostedModule.h"

#include "codec/DecoderModules.h"
#include "codec/ModuleRegistry.h"
#include "platform/kernel/OS.h"
#include "registry/RegistryNode.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

std::unique_ptr<CCodecHost> open_hosted_module(const std::string& file, host_module_kind kind,
                                               uint32 handler, std::vector<uint8>* registry)
{
    auto host = std::make_unique<CCodecHost>(file);
    int fd = open((decoder_folder() + "/" + file).c_str(), O_RDONLY | O_CLOEXEC);
    *registry = registry_flatten();
    bool opened =
        fd >= 0 && host->InitCheck() == B_OK &&
        host->Open(fd, file, *registry, module_registry_used(file), nullptr, kind, handler);
    if (fd >= 0)
        close(fd);
    if (opened)
        return host;
    if (host->Failed())
        report_host_failure(*host, "it is not used");
    else
        close_hosted_module(host.get(), *registry);
    return nullptr;
}

void close_hosted_module(CCodecHost* host, const std::vector<uint8>& registry)
{
    if (host->InitCheck() != B_OK || host->Failed() || has_kill_request())
        return;
    std::vector<uint8> after;
    if (host->Close(&after))
        merge_module_registry(host->Label(), registry, after);
}

void report_host_failure(const CCodecHost& host, const char* after)
{
    if (has_kill_request())
        return;
    fprintf(stderr, "reelmoth: %s %s; %s\n", host.Label().c_str(), host.Failure().c_str(), after);
    remember_module_failure(host.Label(), "it " + host.Failure());
}
