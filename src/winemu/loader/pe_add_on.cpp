// Loading and unloading PE images.
#include "winemu/loader/pe_add_on.h"
#include "winemu/cpu/ModuleLimits.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/storage/FindDirectory.h"
#include "platform/storage/Path.h"
#include "platform/support/Debug.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/loader/ImportTable.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace
{

// The module list and what it holds; module code never runs with the lock
// held, so a module that waits or loops in its entry point blocks no other.
pe_add_on_t* sFirstAddOn = nullptr;
BLocker sLocker("pe_loader_locker");

// Module files given as descriptors, by name (under sLocker).
struct provided_module {
    std::string name;
    int fd;
};
std::vector<provided_module> sProvided;
bool sFilesClosed = false;
void (*sFirstRunHook)() = nullptr;
bool sFirstRunDone = false;

constexpr int kReadOnly = 0x8000; // the mode the loader opens modules with

// The unresolved-import counter and, for fault reports, what each marker
// stood for. Touched only under sLocker.
uint16 sUnresolvedCount = 0;
std::vector<std::string>& unresolved_names()
{
    static std::vector<std::string>* names = new std::vector<std::string>(65536);
    return *names;
}

ssize_t read_pos(int fd, off_t position, void* buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        ssize_t got = pread(fd, static_cast<char*>(buffer) + done, count - done, position + done);
        if (got <= 0)
            break;
        done += size_t(got);
    }
    return ssize_t(done);
}

// Sequential little-endian reads from the descriptor's position.
struct field_reader {
    int fd;
    bool ok = true;

    template <typename T>
    T Read()
    {
        uint8 bytes[sizeof(T)] = {};
        if (ok && ::read(fd, bytes, sizeof(T)) != ssize_t(sizeof(T)))
            ok = false;
        uint64 value = 0;
        for (size_t i = 0; i < sizeof(T); i++)
            value |= uint64(bytes[i]) << (8 * i);
        return T(value);
    }
};

// Image-relative access with the range checked against the mapped size.
struct image_view {
    uint32 base;
    uint32 size;

    bool Contains(uint64 rva, uint64 length) const { return rva <= size && length <= size - rva; }
    template <typename T>
    T* At(uint64 rva, uint64 count = 1) const
    {
        if (count > size || !Contains(rva, count * sizeof(T)))
            return nullptr;
        return reinterpret_cast<T*>(uintptr_t(base + rva));
    }
    // A NUL-terminated string of at most `limit` bytes, or null.
    const char* String(uint64 rva, uint64 limit) const
    {
        if (!Contains(rva, 1))
            return nullptr;
        const char* start = reinterpret_cast<const char*>(uintptr_t(base + rva));
        return memchr(start, '\0', min_c<uint64>(size - rva, limit + 1)) != nullptr ? start
                                                                                    : nullptr;
    }
};

// The images of the listed modules, and whether a thread one of them
// started has faulted. A lock of its own, never sLocker: waits consult it,
// and a thread holding sLocker may be waiting for the waiter.
struct image_health {
    uint32 base;
    uint32 size;
    bool threadFaulted;
    std::string name;
};
std::mutex sHealthLock;
std::vector<image_health>& image_healths()
{
    static std::vector<image_health>* healths = new std::vector<image_health>;
    return *healths;
}

void forget_health(uint32 base)
{
    forget_module_limits(base);
    std::lock_guard<std::mutex> guard(sHealthLock);
    std::vector<image_health>& healths = image_healths();
    for (size_t i = 0; i < healths.size(); i++) {
        if (healths[i].base == base) {
            healths.erase(healths.begin() + ptrdiff_t(i));
            break;
        }
    }
}

void release(pe_add_on_t* addOn)
{
    forget_health(addOn->image_base);
    if (addOn->area >= 0)
        delete_area(addOn->area);
    delete[] addOn->sections;
    free(addOn->name);
    delete addOn;
}

bool apply_relocations(pe_add_on_t* addOn, uint32 preferredBase)
{
    const image_data_directory_t& directory = addOn->data_directory[5];
    if (addOn->image_base == preferredBase || directory.virtual_address == 0)
        return true;
    image_view image = {addOn->image_base, addOn->image_size};
    uint32 delta = addOn->image_base - preferredBase;
    uint64 block = directory.virtual_address;
    for (;;) {
        const unaligned_uint32* header = image.At<const unaligned_uint32>(block, 2);
        if (header == nullptr || header[0] == 0)
            return true; // the walk ends at a zero page or the image's end
        uint32 page = header[0];
        uint32 blockSize = header[1];
        if (blockSize < 8 || !image.Contains(block, blockSize))
            return false;
        const unaligned_uint16* entries =
            image.At<const unaligned_uint16>(block + 8, (blockSize - 8) / 2);
        for (uint32 i = 0; i < (blockSize - 8) / 2; i++) {
            int type = entries[i] >> 12;
            uint32 offset = entries[i] & 0x0FFF;
            if (type == IMAGE_REL_BASED_HIGHLOW) {
                unaligned_uint32* target = image.At<unaligned_uint32>(uint64(page) + offset);
                if (target == nullptr)
                    return false;
                *target += delta;
            } else if (type != IMAGE_REL_BASED_ABSOLUTE) {
                _debuggerAssert("pe_add_on", 405,
                                "reloc_type==IMAGE_REL_BASED_ABSOLUTE || "
                                "reloc_type==IMAGE_REL_BASED_HIGHLOW");
            }
        }
        block += blockSize - (blockSize - 8) % 2; // the next block follows the last entry
    }
}

uint32 unresolved_marker(const char* name, uint32 ordinal)
{
    char text[64];
    if (name == nullptr) {
        snprintf(text, sizeof(text), "ordinal %u", unsigned(ordinal));
        name = text;
    }
    // Kept short: the list holds up to 65536 of them for the process's life.
    unresolved_names()[sUnresolvedCount].assign(name, strnlen(name, 255));
    return 0xDEAD0000u + sUnresolvedCount++;
}

// Far more than any real module has; an image beyond them is refused
// rather than walked for minutes.
constexpr uint32 kMaxImports = 65536;
constexpr uint32 kMaxImportNameLength = 4096;

enum bind_result { kBound, kOutsideImage, kTooMany };

bind_result bind_imports(pe_add_on_t* addOn)
{
    const image_data_directory_t& directory = addOn->data_directory[1];
    if (directory.virtual_address == 0)
        return kBound;
    image_view image = {addOn->image_base, addOn->image_size};
    uint32 imports = 0;
    for (uint64 descriptor = directory.virtual_address;; descriptor += 20) {
        const unaligned_uint32* fields = image.At<const unaligned_uint32>(descriptor, 5);
        if (fields == nullptr)
            return kOutsideImage;
        if ((fields[0] | fields[1] | fields[2] | fields[3] | fields[4]) == 0)
            return kBound;
        if (++imports > kMaxImports)
            return kTooMany;
        // Some linkers leave the lookup table out; before binding, the
        // address table holds the same entries.
        uint64 lookup = fields[0] != 0 ? fields[0] : fields[4];
        uint64 slots = fields[4];
        for (uint64 i = 0;; i++) {
            const unaligned_uint32* entry = image.At<const unaligned_uint32>(lookup + 4 * i);
            unaligned_uint32* slot = image.At<unaligned_uint32>(slots + 4 * i);
            if (entry == nullptr || slot == nullptr)
                return kOutsideImage;
            uint32 value = *entry;
            if (value == 0)
                break;
            if (++imports > kMaxImports)
                return kTooMany;
            if (value & 0x80000000u) {
                *slot = unresolved_marker(nullptr, value & 0xFFFF);
                continue;
            }
            const char* name = image.String(uint64(value) + 2, kMaxImportNameLength);
            if (name == nullptr)
                return kOutsideImage;
            uint32 bound;
            if (import_lookup(name, addOn->image_base, &bound))
                *slot = bound;
            else
                *slot = unresolved_marker(name, 0);
        }
    }
}

// Steps 3 to 12 of a load, on an open descriptor; null after a message.
pe_add_on_t* load_image(int fd, const char* name)
{
    if (!is_pe_file(fd)) {
        fprintf(stderr, "'%s' is not a valid pe binary\n", name);
        return nullptr;
    }
    if (!is_supported_architecture(fd)) {
        fprintf(stderr, "'%s' is not a pe binary for this machine\n", name);
        return nullptr;
    }

    pe_add_on_t* addOn = new pe_add_on_t();
    addOn->area = -1;
    field_reader in = {fd};
    uint16 sectionCount = in.Read<uint16>();
    in.Read<uint32>(); // TimeDateStamp
    in.Read<uint32>(); // PointerToSymbolTable
    in.Read<uint32>(); // NumberOfSymbols
    in.Read<uint16>(); // SizeOfOptionalHeader
    addOn->characteristics = in.Read<uint16>();
    in.Read<uint16>(); // Magic
    in.Read<uint8>();  // linker version
    in.Read<uint8>();
    in.Read<uint32>(); // SizeOfCode
    in.Read<uint32>(); // SizeOfInitializedData
    in.Read<uint32>(); // SizeOfUninitializedData: the sections' own sizes are used
    addOn->entry_point = in.Read<uint32>();
    in.Read<uint32>(); // BaseOfCode
    in.Read<uint32>(); // BaseOfData
    uint32 preferredBase = in.Read<uint32>();
    in.Read<uint32>(); // SectionAlignment
    in.Read<uint32>(); // FileAlignment
    for (int i = 0; i < 6; i++)
        in.Read<uint16>(); // operating system, image, subsystem versions
    in.Read<uint32>();     // Win32VersionValue
    uint32 imageSize = in.Read<uint32>();
    uint32 headerSize = in.Read<uint32>();
    in.Read<uint32>(); // CheckSum
    in.Read<uint16>(); // Subsystem
    in.Read<uint16>(); // DllCharacteristics
    for (int i = 0; i < 5; i++)
        in.Read<uint32>(); // stack and heap sizes, LoaderFlags
    uint32 directoryCount = min_c<uint32>(in.Read<uint32>(), 16);
    for (uint32 i = 0; i < directoryCount; i++) {
        addOn->data_directory[i].virtual_address = in.Read<uint32>();
        addOn->data_directory[i].size = in.Read<uint32>();
    }
    if (!in.ok) {
        fprintf(stderr, "premature end of file\n");
        release(addOn);
        return nullptr;
    }

    addOn->sections = new image_section_header_t[sectionCount]();
    for (uint32 i = 0; i < sectionCount && in.ok; i++) {
        image_section_header_t& section = addOn->sections[i];
        for (int j = 0; j < 8; j++)
            section.name[j] = char(in.Read<uint8>());
        section.virtual_size = in.Read<uint32>();
        section.virtual_address = in.Read<uint32>();
        section.size_of_raw_data = in.Read<uint32>();
        section.pointer_to_raw_data = in.Read<uint32>();
        section.pointer_to_relocations = in.Read<uint32>();
        section.pointer_to_linenumbers = in.Read<uint32>();
        section.number_of_relocations = in.Read<uint16>();
        section.number_of_linenumbers = in.Read<uint16>();
        section.characteristics = in.Read<uint32>();
    }
    if (!in.ok) {
        fprintf(stderr, "failed to read section header\n");
        release(addOn);
        return nullptr;
    }

    uint64 areaSize = (uint64(imageSize) + B_PAGE_SIZE - 1) & ~uint64(B_PAGE_SIZE - 1);
    void* address = reinterpret_cast<void*>(uintptr_t(preferredBase));
    addOn->area = areaSize > UINT32_MAX
                      ? B_NO_MEMORY
                      : create_area("PELoader_sections", &address, B_EXACT_ADDRESS, areaSize,
                                    B_NO_LOCK, B_READ_AREA | B_WRITE_AREA);
    if (addOn->area < 0 && areaSize <= UINT32_MAX)
        addOn->area = create_area("PELoader_sections", &address, B_ANY_ADDRESS, areaSize, B_NO_LOCK,
                                  B_READ_AREA | B_WRITE_AREA);
    if (addOn->area < 0) {
        fprintf(stderr, "failed to create an area of size 0x%08lx anywhere\n",
                (unsigned long)areaSize);
        release(addOn);
        return nullptr;
    }
    addOn->image_base = module_address(address);
    addOn->image_size = uint32(areaSize);
    image_view image = {addOn->image_base, addOn->image_size};

    void* headers = image.At<uint8>(0, headerSize);
    if (headers == nullptr || read_pos(fd, 0, headers, headerSize) != ssize_t(headerSize)) {
        fprintf(stderr, "failed to read file into memory\n");
        release(addOn);
        return nullptr;
    }

    for (uint32 i = 0; i < sectionCount; i++) {
        const image_section_header_t& section = addOn->sections[i];
        // Uninitialised data needs no clearing: a new area reads as zeros,
        // and clearing could only wipe a section it overlaps.
        if (section.characteristics & IMAGE_SCN_CNT_UNINITIALIZED_DATA)
            continue;
        uint32 length = section.size_of_raw_data;
        if (length == 0)
            continue;
        void* destination = image.At<uint8>(section.virtual_address, length);
        if (destination == nullptr ||
            read_pos(fd, section.pointer_to_raw_data, destination, length) != ssize_t(length)) {
            fprintf(stderr, "failed to read section into memory\n");
            release(addOn);
            return nullptr;
        }
    }

    if (!apply_relocations(addOn, preferredBase)) {
        fprintf(stderr, "failed to apply a relocation outside the image\n");
        release(addOn);
        return nullptr;
    }
    bind_result bound = bind_imports(addOn);
    if (bound != kBound) {
        fprintf(stderr, bound == kTooMany ? "failed to bind imports: too many of them\n"
                                          : "failed to bind imports outside the image\n");
        release(addOn);
        return nullptr;
    }
    addOn->name = strdup(name);
    return addOn;
}

void unlink(pe_add_on_t* addOn)
{
    pe_add_on_t** link = &sFirstAddOn;
    while (*link != nullptr && *link != addOn)
        link = &(*link)->next;
    if (*link == addOn)
        *link = addOn->next;
}

bool is_listed(const pe_add_on_t* record)
{
    for (pe_add_on_t* addOn = sFirstAddOn; addOn != nullptr; addOn = addOn->next) {
        if (addOn == record)
            return true;
    }
    return false;
}

pe_add_on_t* find_by_start(uint32 start)
{
    for (pe_add_on_t* addOn = sFirstAddOn; addOn != nullptr; addOn = addOn->next) {
        if (addOn->image_base == start)
            return addOn;
    }
    return nullptr;
}

bool has_entry_point(const pe_add_on_t* addOn)
{
    return (addOn->characteristics & IMAGE_FILE_DLL) != 0 && addOn->entry_point != 0;
}

// Runs module code with the loader's lock let go (the calling thread holds
// it exactly once) and takes it again.
status_t call_unlocked(uint32 address, std::initializer_list<uint32> args, uint32* result)
{
    sLocker.Unlock();
    status_t status = call_module(address, args, result);
    sLocker.Lock();
    return status;
}

// The last holder went: the detach notice, then the record goes. Later
// lookups of the image fail, and nothing gives it out again meanwhile.
void drop(pe_add_on_t* addOn)
{
    addOn->unloading = true;
    if (has_entry_point(addOn))
        call_unlocked(addOn->image_base + addOn->entry_point,
                      {addOn->image_base, DLL_PROCESS_DETACH, 0}, nullptr);
    unlink(addOn);
    release(addOn);
}

// Steps 13 and 14: list the record, then tell the module it is attached.
// With the lock held once; null when the module refused or faulted, or let
// go of itself while attaching.
pe_add_on_t* attach(pe_add_on_t* addOn, bool hostLoad)
{
    addOn->next = sFirstAddOn;
    sFirstAddOn = addOn;
    {
        std::lock_guard<std::mutex> guard(sHealthLock);
        image_healths().push_back({addOn->image_base, addOn->image_size, false,
                                   addOn->name != nullptr ? addOn->name : ""});
    }
    (hostLoad ? addOn->host_refs : addOn->module_refs) = 1;
    // The image is mapped and none of its code has run yet.
    if (!sFirstRunDone) {
        sFirstRunDone = true;
        if (sFirstRunHook != nullptr)
            sFirstRunHook();
    }
    if (!has_entry_point(addOn))
        return addOn;
    // The notice holds the record too: a FreeLibrary inside it cannot free
    // the record under it.
    addOn->host_refs++;
    uint32 result = 0;
    status_t status = call_unlocked(addOn->image_base + addOn->entry_point,
                                    {addOn->image_base, DLL_PROCESS_ATTACH, 0}, &result);
    addOn->host_refs--;
    if (status != B_OK || result == 0) {
        // A failed or faulting attach is taken out again, without a detach.
        fprintf(stderr, "PROCESS_ATTACH failed\n");
        unlink(addOn);
        release(addOn);
        return nullptr;
    }
    if (addOn->host_refs + addOn->module_refs <= 0) {
        drop(addOn);
        return nullptr;
    }
    return addOn;
}

pe_add_on_t* load_from_fd(int fd, const char* name, bool hostLoad)
{
    pe_add_on_t* addOn = load_image(fd, name);
    close(fd);
    return addOn != nullptr ? attach(addOn, hostLoad) : nullptr;
}

} // namespace

int open_libpath(const char* name, int mode)
{
    {
        BAutolock lock(sLocker);
        // The name as given first (two files may differ in letter case
        // only), then in any case, as the folder is searched; the newest
        // given first.
        for (bool exact : {true, false}) {
            for (auto module = sProvided.rbegin(); module != sProvided.rend(); ++module) {
                if (exact ? module->name == name : strcasecmp(module->name.c_str(), name) == 0)
                    return fcntl(module->fd, F_DUPFD_CLOEXEC, 0);
            }
        }
        if (sFilesClosed) {
            errno = ENOENT;
            return -1;
        }
    }
    BPath path;
    if (find_directory(B_USER_MEDIA_NODES_DIRECTORY, &path, true, nullptr) != B_OK)
        return -1;
    if (path.Append("decoders") != B_OK)
        return -1;
    BPath folder = path;
    if (path.Append(name) != B_OK)
        return -1;
    // The platform's read-only mode bit; Linux knows it as O_RDONLY.
    int flags = (mode & kReadOnly) ? O_RDONLY : mode;
    int fd = open(path.Path(), flags | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT || strchr(name, '/') != nullptr)
        return fd;

    // Windows file names ignore letter case, and codec modules are often
    // stored in lower case: take a name that differs only in case (the
    // first in byte order, so the choice does not depend on the folder).
    std::string match;
    if (DIR* directory = opendir(folder.Path())) {
        while (dirent* entry = readdir(directory)) {
            if (strcasecmp(entry->d_name, name) == 0 && (match.empty() || match > entry->d_name))
                match = entry->d_name;
        }
        closedir(directory);
    }
    if (match.empty() || folder.Append(match.c_str()) != B_OK)
        return -1;
    return open(folder.Path(), flags | O_CLOEXEC);
}

bool is_pe_file(int fd)
{
    uint8 magic[2];
    uint8 offset[4];
    if (read_pos(fd, 0, magic, 2) != 2 || magic[0] != 'M' || magic[1] != 'Z')
        return false;
    if (read_pos(fd, 0x3C, offset, 4) != 4)
        return false;
    uint32 position = uint32(offset[0]) | uint32(offset[1]) << 8 | uint32(offset[2]) << 16 |
                      uint32(offset[3]) << 24;
    if (lseek(fd, off_t(position), SEEK_SET) < 0)
        return false;
    uint8 signature[4];
    if (::read(fd, signature, 4) != 4)
        return false;
    return signature[0] == 'P' && signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
}

bool is_supported_architecture(int fd)
{
    field_reader in = {fd};
    uint16 machine = in.Read<uint16>();
    return in.ok && machine >= 0x014C && machine <= 0x014E;
}

pe_add_on_t* pe_load_add_on(const char* name)
{
    BAutolock lock(sLocker);
    if (name == nullptr)
        name = "";
    int fd = open_libpath(name, kReadOnly);
    if (fd < 0) {
        fprintf(stderr, "could not open file '%s'\n", name);
        return nullptr;
    }
    return load_from_fd(fd, name, true);
}

pe_add_on_t* pe_load_add_on_from_path(const char* path, const char* name)
{
    BAutolock lock(sLocker);
    int fd = path != nullptr ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) {
        fprintf(stderr, "could not open file '%s'\n", name != nullptr ? name : "");
        return nullptr;
    }
    return load_from_fd(fd, name != nullptr ? name : path, true);
}

status_t pe_unload_add_on(pe_add_on_t* addOn)
{
    BAutolock lock(sLocker);
    if (addOn == nullptr)
        return B_OK;
    // A record that went already (or never was) is never touched.
    if (!is_listed(addOn) || addOn->host_refs <= 0 || addOn->unloading)
        return B_BAD_VALUE;
    if (--addOn->host_refs + addOn->module_refs <= 0)
        drop(addOn);
    return B_OK;
}

uint32 pe_load_library(const char* name)
{
    BAutolock lock(sLocker);
    for (pe_add_on_t* addOn = sFirstAddOn; addOn != nullptr; addOn = addOn->next) {
        if (!addOn->unloading && addOn->name != nullptr && strcasecmp(addOn->name, name) == 0) {
            addOn->module_refs++;
            return addOn->image_base;
        }
    }
    int fd = open_libpath(name, kReadOnly);
    if (fd < 0) {
        fprintf(stderr, "could not open file '%s'\n", name);
        return 0;
    }
    pe_add_on_t* addOn = load_from_fd(fd, name, false);
    return addOn != nullptr ? addOn->image_base : 0;
}

bool pe_free_library(uint32 start)
{
    BAutolock lock(sLocker);
    pe_add_on_t* addOn = find_by_start(start);
    if (addOn == nullptr || addOn->module_refs <= 0 || addOn->unloading)
        return false;
    if (--addOn->module_refs + addOn->host_refs <= 0)
        drop(addOn);
    return true;
}

pe_add_on_t* pe_get_add_on_from_start(unsigned long start)
{
    BAutolock lock(sLocker);
    return start <= UINT32_MAX ? find_by_start(uint32(start)) : nullptr;
}

bool pe_with_add_on(uint32 start, const std::function<void(pe_add_on_t*)>& use)
{
    BAutolock lock(sLocker);
    pe_add_on_t* addOn = find_by_start(start);
    if (addOn == nullptr)
        return false;
    use(addOn);
    return true;
}

pe_add_on_t* pe_first_add_on()
{
    BAutolock lock(sLocker);
    return sFirstAddOn;
}

void pe_provide_module(const char* name, int fd)
{
    BAutolock lock(sLocker);
    sProvided.push_back({name, fd});
}

void pe_close_files()
{
    BAutolock lock(sLocker);
    sFilesClosed = true;
}

void pe_set_first_run_hook(void (*hook)())
{
    BAutolock lock(sLocker);
    sFirstRunHook = hook;
}

void pe_unload_all()
{
    BAutolock lock(sLocker);
    // A detach notice may load or free others: start from the head again.
    for (;;) {
        pe_add_on_t* addOn = sFirstAddOn;
        while (addOn != nullptr && addOn->unloading)
            addOn = addOn->next;
        if (addOn == nullptr)
            return;
        addOn->host_refs = 0;
        addOn->module_refs = 0;
        drop(addOn);
    }
}

bool pe_is_loaded(const pe_add_on_t* record)
{
    BAutolock lock(sLocker);
    return is_listed(record);
}

void pe_describe_address(uint32 address, char* buffer, size_t size)
{
    snprintf(buffer, size, "unknown code");
    // Another thread may hold the lock while it waits for this one.
    if (sLocker.LockWithTimeout(100000) != B_OK)
        return;
    for (pe_add_on_t* addOn = sFirstAddOn; addOn != nullptr; addOn = addOn->next) {
        if (address >= addOn->image_base && address - addOn->image_base < addOn->image_size) {
            snprintf(buffer, size, "'%s'", addOn->name != nullptr ? addOn->name : "");
            break;
        }
    }
    sLocker.Unlock();
}

void pe_note_thread_fault(uint32 address)
{
    std::lock_guard<std::mutex> guard(sHealthLock);
    for (image_health& health : image_healths()) {
        if (address >= health.base && address - health.base < health.size)
            health.threadFaulted = true;
    }
}

std::string pe_image_name_at(uint32 address)
{
    std::lock_guard<std::mutex> guard(sHealthLock);
    for (const image_health& health : image_healths()) {
        if (address >= health.base && address - health.base < health.size)
            return health.name;
    }
    return std::string();
}

uint32 pe_image_base_at(uint32 address)
{
    std::lock_guard<std::mutex> guard(sHealthLock);
    for (const image_health& health : image_healths()) {
        if (address >= health.base && address - health.base < health.size)
            return health.base;
    }
    return 0;
}

bool pe_has_faulted_thread(uint32 address)
{
    std::lock_guard<std::mutex> guard(sHealthLock);
    for (const image_health& health : image_healths()) {
        if (address >= health.base && address - health.base < health.size)
            return health.threadFaulted;
    }
    return false;
}

void pe_unresolved_import_name(uint16 index, char* buffer, size_t size)
{
    snprintf(buffer, size, "?");
    if (sLocker.LockWithTimeout(100000) != B_OK)
        return;
    const std::string& name = unresolved_names()[index];
    if (!name.empty())
        snprintf(buffer, size, "%s", name.c_str());
    sLocker.Unlock();
}
