#include "codec/DecoderModules.h"

#include "codec/ACMCodec.h"
#include "codec/ICMCodec.h"
#include "codec/ModuleRegistry.h"
#include "host/CodecHost.h"
#include "platform/storage/FindDirectory.h"
#include "platform/storage/Path.h"
#include "platform/support/Debug.h"
#include "platform/support/Locker.h"
#include "registry/RegistryHandles.h"
#include "registry/RegistryNode.h"
#include "winemu/loader/pe_add_on.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr uint16 kTagPCM = 0x0001;
// The registry key of the remembered answers, below HKEY_CURRENT_USER.
const char* const kCachePath[] = {"SOFTWARE", "Reelmoth", "Decoders"};
const char* const kSettingsPath[] = {"SOFTWARE", "Reelmoth"};
const char kChoiceValue[] = "Audio decoders";
const char kVideoChoiceValue[] = "Video decoders";
// Set when the module took its host process down: it is not chosen again
// until its file changes.
const char kFailedValue[] = "Failed";

struct file_stamp {
    int64 size = -1;
    int64 modified = -1; // nanoseconds since the epoch
};

bool has_extension(const std::string& name, const char* extension)
{
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, extension) == 0;
}

bool is_module_name(const char* name)
{
    return has_extension(name, ".acm") || has_extension(name, ".dll") ||
           has_extension(name, ".drv");
}

// One host process asks the modules of a scan in turn (each is left loaded
// there: unloading would run its code again); after a module took its host
// down, a new one asks the rest.
struct discovery_host {
    std::unique_ptr<CCodecHost> host;
    int asked = 0;
};

// Modules one host asks before a new one takes over: each keeps its file
// open there.
constexpr int kModulesPerDiscoveryHost = 64;

// Loads the module in the scan's host process and asks its driver there.
void ask_in_host(discovery_host* discovery, const std::string& folder, decoder_module* module)
{
    if (discovery->host == nullptr || discovery->host->Failed() ||
        discovery->asked == kModulesPerDiscoveryHost) {
        discovery->host = std::make_unique<CCodecHost>(module->file);
        discovery->asked = 0;
    }
    discovery->asked++;
    CCodecHost* host = discovery->host.get();
    host->SetLabel(module->file);
    int fd = open((folder + "/" + module->file).c_str(), O_RDONLY | O_CLOEXEC);
    std::vector<uint8> before = registry_flatten();
    host_module_report report;
    bool opened = fd >= 0 && host->InitCheck() == B_OK &&
                  host->Open(fd, module->file, before, module_registry_used(module->file), &report,
                             kHostAnyModule);
    if (fd >= 0)
        close(fd);
    if (host->Failed()) {
        module->problem = "it " + host->Failure() + " when asked for its formats";
        module->failed = true;
        fprintf(stderr, "reelmoth: %s %s when asked for its formats; it is not used\n",
                module->file.c_str(), host->Failure().c_str());
        discovery->host.reset();
        return;
    }
    std::vector<uint8> after;
    if (host->Close(&after))
        merge_module_registry(module->file, before, after);
    if (!opened) {
        module->problem = !report.problem.empty() ? report.problem : "cannot be loaded";
        return;
    }
    module->driver = report.driver;
    module->problem = report.problem;
    module->video = report.video;
    module->handler = report.handler;
    module->fourCCs = report.fourCCs;
    for (uint16 tag : report.tags) {
        if (tag != kTagPCM &&
            std::find(module->tags.begin(), module->tags.end(), tag) == module->tags.end())
            module->tags.push_back(tag);
    }
}

// Loads the module and asks its driver. The reasons are for `--codecs`.
decoder_module ask(discovery_host* discovery, const std::string& folder, const std::string& file)
{
    decoder_module module;
    module.file = file;
    _debugPrintf("decoder modules: asking %s\n", file.c_str());
    int fd = open((folder + "/" + file).c_str(), O_RDONLY | O_CLOEXEC);
    bool pe = fd >= 0 && is_pe_file(fd);
    bool x86 = pe && is_supported_architecture(fd);
    if (fd >= 0)
        close(fd);
    if (!pe) {
        module.problem = fd >= 0 ? "not a PE image" : "cannot be read";
        return module;
    }
    if (!x86) {
        module.problem = "not a 32-bit x86 module";
        return module;
    }
    if (codec_process_enabled()) {
        ask_in_host(discovery, folder, &module);
        if (module.problem.empty() && !module.video && module.tags.empty())
            module.problem = "its driver converts no format but PCM";
        return module;
    }
    if (pe_add_on_t* image = pe_load_add_on(file.c_str())) {
        void* proc = nullptr;
        bool hasProc = pe_get_image_symbol(image, "DriverProc", &proc) >= B_OK;
        pe_unload_add_on(image);
        if (!hasProc) {
            module.problem = "no DriverProc";
            return module;
        }
    } else {
        module.problem = "cannot be loaded";
        return module;
    }
    ask_module_driver(file, &module, nullptr);
    return module;
}

// The key below HKEY_CURRENT_USER at `path`, made when `make` is set.
registry_node* user_key(const char* const* path, size_t depth, bool make)
{
    registry_node* node = gRootNode.FindChild("HKEY_CURRENT_USER");
    for (size_t i = 0; node != nullptr && i < depth; i++) {
        registry_node* child = node->FindChild(path[i]);
        if (child == nullptr && make) {
            child = new registry_node(path[i]);
            node->AddChild(child);
        }
        node = child;
    }
    return node;
}

std::string string_value(const registry_node* key, const char* name)
{
    const registry_value* value = key->FindValue(name);
    if (value == nullptr || value->Data() == nullptr)
        return "";
    const char* text = static_cast<const char*>(value->Data());
    return std::string(text, strnlen(text, value->Size()));
}

int64 int64_value(const registry_node* key, const char* name)
{
    const registry_value* value = key->FindValue(name);
    int64 number = -1;
    if (value != nullptr && value->Size() == sizeof(number))
        memcpy(&number, value->Data(), sizeof(number));
    return number;
}

// The remembered answer for the file as it is now, if any.
bool recall(const registry_node* cache, const std::string& file, const file_stamp& stamp,
            decoder_module* module)
{
    const registry_node* key = cache != nullptr ? cache->FindChild(file) : nullptr;
    if (key == nullptr || int64_value(key, "Size") != stamp.size ||
        int64_value(key, "Modified") != stamp.modified)
        return false;
    module->file = file;
    module->driver = string_value(key, "Driver");
    module->problem = string_value(key, "Problem");
    module->failed = !string_value(key, kFailedValue).empty();
    module->video = string_value(key, "Kind") == "video";
    module->handler = 0;
    if (const registry_value* handler = key->FindValue("Handler");
        handler != nullptr && handler->Size() == sizeof(module->handler))
        memcpy(&module->handler, handler->Data(), sizeof(module->handler));
    module->fourCCs.clear();
    if (const registry_value* codes = key->FindValue("FourCCs")) {
        const uint8* bytes = static_cast<const uint8*>(codes->Data());
        for (uint32 i = 0; bytes != nullptr && i + 3 < codes->Size(); i += 4) {
            uint32 code;
            memcpy(&code, bytes + i, 4);
            module->fourCCs.push_back(code);
        }
    }
    module->tags.clear();
    if (const registry_value* tags = key->FindValue("Tags")) {
        const uint8* bytes = static_cast<const uint8*>(tags->Data());
        for (uint32 i = 0; bytes != nullptr && i + 1 < tags->Size(); i += 2)
            module->tags.push_back(uint16(bytes[i] | bytes[i + 1] << 8));
    }
    return true;
}

void remember(registry_node* cache, const decoder_module& module, const file_stamp& stamp)
{
    registry_node* key = cache->FindChild(module.file);
    if (key == nullptr) {
        key = new registry_node(module.file);
        cache->AddChild(key);
    }
    key->SetValue("Size", REG_BINARY, &stamp.size, sizeof(stamp.size));
    key->SetValue("Modified", REG_BINARY, &stamp.modified, sizeof(stamp.modified));
    key->SetValue("Driver", REG_SZ, module.driver.c_str(), uint32(module.driver.size() + 1));
    key->SetValue("Problem", REG_SZ, module.problem.c_str(), uint32(module.problem.size() + 1));
    std::string failed = module.failed ? "1" : "";
    key->SetValue(kFailedValue, REG_SZ, failed.c_str(), uint32(failed.size() + 1));
    std::vector<uint8> tags;
    for (uint16 tag : module.tags) {
        tags.push_back(uint8(tag));
        tags.push_back(uint8(tag >> 8));
    }
    key->SetValue("Tags", REG_BINARY, tags.data(), uint32(tags.size()));
    const char* kind = module.video ? "video" : "sound";
    key->SetValue("Kind", REG_SZ, kind, uint32(strlen(kind) + 1));
    key->SetValue("Handler", REG_BINARY, &module.handler, sizeof(module.handler));
    key->SetValue("FourCCs", REG_BINARY, module.fourCCs.data(),
                  uint32(module.fourCCs.size() * sizeof(uint32)));
}

decoder_choice choice_of(const char* variable, const char* value)
{
    std::string choice;
    if (const char* text = getenv(variable)) {
        choice = text;
    } else {
        registry_load();
        BAutolock lock(registry_lock());
        if (const registry_node* key = user_key(kSettingsPath, std::size(kSettingsPath), false))
            choice = string_value(key, value);
    }
    if (strcasecmp(choice.c_str(), "modules") == 0)
        return kDecodersModules;
    if (strcasecmp(choice.c_str(), "ffmpeg") == 0)
        return kDecodersFFmpeg;
    return kDecodersAuto;
}

} // namespace

std::string decoder_folder()
{
    BPath path;
    if (find_directory(B_USER_MEDIA_NODES_DIRECTORY, &path, false, nullptr) != B_OK ||
        path.Append("decoders") != B_OK)
        return "";
    return path.Path();
}

std::vector<decoder_module> decoder_modules()
{
    std::string folder = decoder_folder();
    std::vector<std::pair<std::string, file_stamp>> files;
    if (DIR* directory = folder.empty() ? nullptr : opendir(folder.c_str())) {
        while (dirent* entry = readdir(directory)) {
            struct stat info;
            if (!is_module_name(entry->d_name) ||
                stat((folder + "/" + entry->d_name).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
                continue;
            file_stamp stamp;
            stamp.size = info.st_size;
            stamp.modified = int64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
            files.emplace_back(entry->d_name, stamp);
        }
        closedir(directory);
    }
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    registry_load();
    std::vector<decoder_module> modules;
    discovery_host discovery;
    for (const auto& [file, stamp] : files) {
        decoder_module module;
        {
            BAutolock lock(registry_lock());
            if (recall(user_key(kCachePath, std::size(kCachePath), false), file, stamp, &module)) {
                modules.push_back(module);
                continue;
            }
        }
        // Asked without the registry's lock: the module may use the registry.
        module = ask(&discovery, folder, file);
        if (!module.problem.empty())
            _debugPrintf("decoder modules: %s passed over: %s\n", file.c_str(),
                         module.problem.c_str());
        BAutolock lock(registry_lock());
        if (registry_node* cache = user_key(kCachePath, std::size(kCachePath), true))
            remember(cache, module, stamp);
        modules.push_back(module);
    }
    return modules;
}

std::vector<std::string> decoder_modules_for_tag(uint16 tag)
{
    std::vector<std::string> chosen;
    std::vector<decoder_module> modules = decoder_modules();
    // The fixed name first, when that file is there (in any letter case).
    const char* fixed = CACMCodec::ModuleForTag(tag);
    std::string fixedFile;
    for (const decoder_module& module : modules) {
        if (fixed != nullptr && !module.failed && strcasecmp(module.file.c_str(), fixed) == 0 &&
            (fixedFile.empty() || module.file < fixedFile))
            fixedFile = module.file;
    }
    if (!fixedFile.empty())
        chosen.push_back(fixedFile);
    for (const decoder_module& module : modules) {
        if (module.file != fixedFile && module.problem.empty() && !module.failed &&
            std::find(module.tags.begin(), module.tags.end(), tag) != module.tags.end())
            chosen.push_back(module.file);
    }
    return chosen;
}

std::string driver_short_name(const tACMDRIVERDETAILSW* details)
{
    std::string name;
    for (size_t i = 0; i < std::size(details->szShortName) && details->szShortName[i] != 0; i++) {
        uint16 unit = details->szShortName[i];
        name += unit < 0x80 && unit >= 0x20 ? char(unit) : '?';
    }
    return name;
}

void remember_module_failure(const std::string& file, const std::string& problem)
{
    std::string folder = decoder_folder();
    struct stat info;
    if (folder.empty() || stat((folder + "/" + file).c_str(), &info) != 0)
        return;
    file_stamp stamp;
    stamp.size = info.st_size;
    stamp.modified = int64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    decoder_module module;
    registry_load();
    BAutolock lock(registry_lock());
    registry_node* cache = user_key(kCachePath, std::size(kCachePath), true);
    if (cache == nullptr)
        return;
    if (!recall(cache, file, stamp, &module))
        module.file = file;
    module.problem = problem;
    module.failed = true;
    remember(cache, module, stamp);
}

decoder_choice audio_decoders_choice()
{
    return choice_of("REELMOTH_AUDIO", kChoiceValue);
}

decoder_choice video_decoders_choice()
{
    return choice_of("REELMOTH_VIDEO", kVideoChoiceValue);
}

std::vector<decoder_module> video_modules_for_fourcc(uint32 fourCC)
{
    std::vector<decoder_module> listed, others;
    for (decoder_module& module : decoder_modules()) {
        if (!module.video || !module.problem.empty() || module.failed)
            continue;
        bool lists =
            std::find(module.fourCCs.begin(), module.fourCCs.end(), fourCC) != module.fourCCs.end();
        (lists ? listed : others).push_back(std::move(module));
    }
    for (decoder_module& module : others)
        listed.push_back(std::move(module));
    return listed;
}

asked_drivers::asked_drivers() = default;
asked_drivers::~asked_drivers() = default;

void ask_module_driver(const std::string& file, decoder_module* module, asked_drivers* keep)
{
    if (!has_extension(file, ".acm")) {
        std::unique_ptr<CICMCodec> pictures =
            CICMCodec::Find(file.c_str(), keep != nullptr ? &keep->video : nullptr);
        if (pictures != nullptr) {
            module->video = true;
            module->driver = pictures->Name();
            module->handler = pictures->Handler();
            module->fourCCs = pictures->ProbeFourCCs();
            if (module->fourCCs.empty())
                module->problem = "its driver decompresses none of the known picture formats";
            if (keep != nullptr)
                keep->video.push_back(std::move(pictures));
            return;
        }
    }
    auto codec = std::make_unique<CACMCodec>(file.c_str());
    if (codec->InitCheck() != B_OK) {
        module->problem = "its driver faulted or failed when asked for its formats";
    } else {
        module->driver = driver_short_name(codec->DriverDetails());
        for (uint32 i = 0; i < codec->CountFormatTags(); i++) {
            uint16 tag = codec->FormatTagAt(i);
            if (tag != kTagPCM &&
                std::find(module->tags.begin(), module->tags.end(), tag) == module->tags.end())
                module->tags.push_back(tag);
        }
        if (module->tags.empty())
            module->problem = "its driver converts no format but PCM";
    }
    if (keep != nullptr)
        keep->sound.push_back(std::move(codec));
}

std::string fourcc_text(uint32 fourCC)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        char c = char(fourCC >> shift);
        if (c < 0x20 || c > 0x7E) {
            char number[16];
            snprintf(number, sizeof(number), "0x%08X", fourCC);
            return number;
        }
        text += c;
    }
    return text;
}
