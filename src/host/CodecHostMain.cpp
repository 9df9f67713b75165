// reelmoth-codec-host: runs one codec module for the player, behind a
// system-call filter, answering the player's requests (host/HostProtocol.h)
// until the player closes the socket. Whatever the module does, only this
// process suffers.
#include "codec/ACMCodec.h"
#include "codec/DecoderModules.h"
#include "codec/ICMCodec.h"
#include "codec/ModuleStreamDecoder.h"
#include "host/HostFilter.h"
#include "host/HostProtocol.h"
#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"
#include "platform/support/Debug.h"
#include "platform/support/UTF8.h"
#include "registry/RegistryNode.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/cpu/ModuleLimits.h"
#include "winemu/loader/pe_add_on.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr uint16 kTagPCM = 0x0001;

const char* sLabel = "codec host";

void filter_before_module_code()
{
    // What the replacements would otherwise load or read from files later:
    // the text converters and the processor count.
    char utf8[8];
    int32 sourceLength = 2, destinationLength = sizeof(utf8), state = 0;
    const char wide[2] = {0, 'a'};
    convert_to_utf8(B_UNICODE_CONVERSION, wide, &sourceLength, utf8, &destinationLength, &state);
    system_info info;
    get_system_info(&info);
    pe_close_files();
    if (!install_codec_host_filter()) {
        fprintf(stderr, "reelmoth-codec-host: %s: the system-call filter could not be set\n",
                sLabel);
        _exit(3);
    }
}

uint8* map_buffer(int fd, size_t size, int protection)
{
    struct stat info;
    if (fstat(fd, &info) != 0 || size_t(info.st_size) < size)
        return nullptr;
    void* address = mmap(nullptr, size, protection, MAP_SHARED, fd, 0);
    return address == MAP_FAILED ? nullptr : static_cast<uint8*>(address);
}

class CHostServer
{
public:
    CHostServer(const uint8* input, uint8* output) : fInput(input), fOutput(output) {}

    void Handle(host_message* message, int fd)
    {
        host_message reply;
        reply.type = message->type;
        reply.status = B_OK;
        switch (message->type) {
        case kHostOpen:
            Open(*message, fd, &reply);
            break;
        case kHostBegin:
            reply.status = Begin(*message) ? B_OK : B_ERROR;
            FaultCheck(&reply);
            break;
        case kHostDecode:
        case kHostFinish:
            Decode(*message, &reply);
            FaultCheck(&reply);
            break;
        case kHostClose:
            Close(&reply);
            break;
        case kHostBeginPictures:
            BeginPictures(*message, &reply);
            FaultCheck(&reply);
            break;
        case kHostDecodePicture:
            DecodePicture(*message, &reply);
            FaultCheck(&reply);
            break;
        default:
            reply.status = B_BAD_VALUE;
            break;
        }
        if (fd >= 0 && message->type != kHostOpen)
            close(fd);
        if (!host_send(kHostSocketFd, reply))
            _exit(0);
    }

private:
    // Once the stream began, a module call that ended as a fault (or over a
    // limit) on any thread means the module's state is lost: the player
    // hears of it and goes on without the module.
    void FaultCheck(host_message* reply)
    {
        if ((fDecoder != nullptr || fPicturesBegun) && module_faults() != fFaultsAtOpen)
            reply->status = B_BAD_ADDRESS;
    }

    void Open(const host_message& message, int fd, host_message* reply)
    {
        reply->status = B_ERROR;
        std::string name(message.payload, strnlen(message.payload, message.payloadSize));
        if (fd < 0 || name.empty() || fDecoder != nullptr || fPicturesBegun) {
            if (fd >= 0)
                close(fd);
            return;
        }
        // A host that asks modules one after another (discovery) keeps the
        // ones asked loaded: closing them would run their code again.
        if (fCodec != nullptr)
            fKept.push_back(std::move(fCodec));
        if (fPictures != nullptr)
            fAsked.video.push_back(std::move(fPictures));
        registry_adopt(fInput, std::min<size_t>(message.args[0], kHostInputSize));
        fFaultsAtOpen = module_faults();
        module_registry_usage_preset(name, message.args[1]);
        pe_provide_module(name.c_str(), fd);
        std::string driver;
        std::string problem;
        uint32 count = 0;
        if (message.args[2] == kHostVideoModule) {
            auto pictures = std::make_unique<CICMCodec>(name.c_str(), message.args[3]);
            if (pictures->InitCheck() == B_OK) {
                driver = pictures->Name();
                reply->status = B_OK;
                reply->args[1] = kHostVideoModule;
                fPictures = std::move(pictures);
            } else {
                problem = "its driver is not a video decompressor";
                fAsked.video.push_back(std::move(pictures));
            }
        } else if (message.args[2] == kHostAnyModule) {
            decoder_module module;
            ask_module_driver(name, &module, &fAsked);
            driver = module.driver;
            problem = module.problem;
            if (!module.driver.empty() || module.video)
                reply->status = B_OK;
            reply->args[1] = module.video ? kHostVideoModule : kHostSoundModule;
            reply->args[3] = module.handler;
            for (uint32 code : module.fourCCs) {
                if (count < 256)
                    memcpy(fOutput + 4 * count++, &code, 4);
            }
            for (uint16 tag : module.tags) {
                if (count >= 256)
                    break;
                fOutput[2 * count] = uint8(tag);
                fOutput[2 * count + 1] = uint8(tag >> 8);
                count++;
            }
        } else {
            auto codec = std::make_unique<CACMCodec>(name.c_str());
            if (codec->InitCheck() == B_OK) {
                driver = driver_short_name(codec->DriverDetails());
                for (uint32 i = 0; i < codec->CountFormatTags() && count < 256; i++) {
                    uint16 tag = codec->FormatTagAt(i);
                    if (tag == kTagPCM)
                        continue;
                    fOutput[2 * count] = uint8(tag);
                    fOutput[2 * count + 1] = uint8(tag >> 8);
                    count++;
                }
                reply->status = B_OK;
                fCodec = std::move(codec);
            } else {
                problem = "its driver faulted or failed when asked for its formats";
                fKept.push_back(std::move(codec));
            }
        }
        if (reply->status != B_OK) {
            // Why, for the list of modules. The image stays loaded: a module
            // that loops as it is unloaded must not take the answer with it.
            if (pe_add_on_t* image = pe_load_add_on(name.c_str())) {
                void* proc = nullptr;
                if (pe_get_image_symbol(image, "DriverProc", &proc) < B_OK)
                    problem = "no DriverProc";
            } else {
                problem = "cannot be loaded";
            }
        }
        size_t driverSize = std::min(driver.size(), size_t(255));
        size_t problemSize = std::min(problem.size(), sizeof(reply->payload) - driverSize - 2);
        memcpy(reply->payload, driver.data(), driverSize);
        reply->payload[driverSize] = '\0';
        memcpy(reply->payload + driverSize + 1, problem.data(), problemSize);
        reply->payload[driverSize + 1 + problemSize] = '\0';
        reply->payloadSize = uint32(driverSize + problemSize + 2);
        reply->args[0] = count;
    }

    bool Begin(const host_message& message)
    {
        if (fDecoder == nullptr) {
            if (fCodec == nullptr)
                return false;
            std::vector<uint8> format(message.payload, message.payload + message.payloadSize);
            fDecoder = std::make_unique<CModuleStreamDecoder>(std::move(fCodec), format);
            // Faults while its formats were asked for were answered then.
            fFaultsAtOpen = module_faults();
        }
        return fDecoder->Restart();
    }

    void Decode(const host_message& message, host_message* reply)
    {
        // A finish uses slot 0; the player waits for it alone.
        uint32 slot = message.type == kHostDecode && message.args[2] == 1 ? 1 : 0;
        reply->args[2] = slot;
        fPCM.clear();
        bool more = false;
        if (fDecoder == nullptr) {
            reply->status = B_ERROR;
        } else if (message.type == kHostFinish) {
            fDecoder->Finish(&fPCM);
        } else {
            size_t size = std::min<size_t>(message.args[0], kHostSlotInput);
            more = fDecoder->Decode(fInput + slot * kHostSlotInput, size, &fPCM, kHostSlotOutput);
        }
        size_t size = std::min(fPCM.size(), kHostSlotOutput);
        if (size > 0)
            memcpy(fOutput + slot * kHostSlotOutput, fPCM.data(), size);
        reply->args[0] = uint32(size);
        reply->args[1] = more ? 1 : 0;
    }

    void BeginPictures(const host_message& message, host_message* reply)
    {
        reply->status = B_ERROR;
        size_t size = std::min<size_t>(message.args[0], kHostSlotInput);
        if (fPictures == nullptr || size < sizeof(tBITMAPINFOHEADER))
            return;
        if (!fPicturesBegun)
            fFaultsAtOpen = module_faults();
        fPicturesBegun = true;
        std::vector<uint8> input(fInput, fInput + size);
        if (!fPictures->Begin(input) || fPictures->OutputSize() > kHostSlotOutput ||
            fPictures->OutputFormat().size() > sizeof(reply->payload))
            return;
        const std::vector<uint8>& format = fPictures->OutputFormat();
        memcpy(reply->payload, format.data(), format.size());
        reply->payloadSize = uint32(format.size());
        reply->args[0] = fPictures->OutputSize();
        reply->status = B_OK;
    }

    void DecodePicture(const host_message& message, host_message* reply)
    {
        reply->status = B_ERROR;
        reply->args[0] = 0;
        if (fPictures == nullptr || !fPicturesBegun)
            return;
        size_t size = std::min<size_t>(message.args[0], kHostSlotInput);
        const uint8* picture = nullptr;
        status_t status = fPictures->Decompress(fInput, size, message.args[1], &picture);
        if (status == B_BAD_ADDRESS) {
            reply->status = B_BAD_ADDRESS;
            return;
        }
        if (status == B_OK && picture != nullptr) {
            memcpy(fOutput, picture, fPictures->OutputSize());
            reply->args[0] = fPictures->OutputSize();
            reply->status = B_OK;
        }
    }

    // The registry as the module left it. The module is not unloaded: the
    // player ends the process next, and a module that loops as it is
    // unloaded must not hold up a closing window.
    void Close(host_message* reply)
    {
        std::vector<uint8> registry = registry_flatten();
        if (registry.size() <= kHostOutputSize) {
            if (!registry.empty())
                memcpy(fOutput, registry.data(), registry.size());
            reply->args[0] = uint32(registry.size());
        }
    }

    const uint8* fInput;
    uint8* fOutput;
    std::unique_ptr<CACMCodec> fCodec;
    std::vector<std::unique_ptr<CACMCodec>> fKept; // never closed: the process ends instead
    std::unique_ptr<CModuleStreamDecoder> fDecoder;
    std::unique_ptr<CICMCodec> fPictures;
    bool fPicturesBegun = false;
    asked_drivers fAsked; // never closed either
    std::vector<uint8> fPCM;
    uint32 fFaultsAtOpen = 0;
};

} // namespace

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
// A module's stray access is a fault of this process by design (its window
// is guarded): let it end the process as a crash, which the player reports,
// rather than be reported as a bug of ours.
extern "C" const char* __asan_default_options()
{
    return "handle_segv=0";
}
#endif
#endif

int main(int argc, char** argv)
{
    if (argc > 1)
        sLabel = argv[1];
    // Nothing of the player's but what it passed on purpose.
    close_range(kHostOutputFd + 1, ~0u, 0);
    signal(SIGPIPE, SIG_IGN);
    // One malloc arena: the C library reads /proc to shrink the others.
    mallopt(M_ARENA_MAX, 1);
    limit_codec_host();
    const uint8* input = map_buffer(kHostInputFd, kHostInputSize, PROT_READ);
    uint8* output = map_buffer(kHostOutputFd, kHostOutputSize, PROT_READ | PROT_WRITE);
    if (input == nullptr || output == nullptr) {
        fprintf(stderr, "reelmoth-codec-host: start it from the player\n");
        return 2;
    }
    // Only what a module was given is memory it can touch.
    module_space_guard();
    install_module_fault_handler();
    pe_set_first_run_hook(filter_before_module_code);
    CHostServer server(input, output);
    host_message message;
    int fd = -1;
    while (host_receive(kHostSocketFd, &message, &fd))
        server.Handle(&message, fd);
    // The player is done with us: module code (detach notices) need not run.
    _exit(0);
}
