// Exports, resources and string tables of a loaded image. Every RVA and
// count is checked against the mapped image; what lies outside is absent.
#include "winemu/loader/pe_add_on.h"

#include "platform/kernel/ModuleSpace.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace
{

struct image_view {
    uint32 base;
    uint32 size;

    template <typename T>
    const T* At(uint64 rva, uint64 count = 1) const
    {
        if (count > size || rva > size || count * sizeof(T) > size - rva)
            return nullptr;
        return reinterpret_cast<const T*>(uintptr_t(base + rva));
    }
};

image_view view_of(const pe_add_on_t* addOn)
{
    return {addOn->image_base, addOn->image_size};
}

// The resource section: offsets in directory entries are relative to it.
struct resource_view {
    image_view image;
    uint64 start; // RVA

    const image_resource_directory_t* Directory(uint64 offset) const
    {
        return image.At<image_resource_directory_t>(start + offset);
    }
    const image_resource_directory_entry_t* Entries(const image_resource_directory_t* dir) const
    {
        uint64 rva = uint64(reinterpret_cast<uintptr_t>(dir)) - image.base + sizeof(*dir);
        return image.At<image_resource_directory_entry_t>(
            rva, uint64(dir->number_of_named_entries) + dir->number_of_id_entries);
    }
    // A name string: its length word, then that many UTF-16 units.
    const unaligned_uint16* Name(uint32 offset, uint16* length) const
    {
        const unaligned_uint16* header = image.At<unaligned_uint16>(start + offset);
        if (header == nullptr || image.At<unaligned_uint16>(start + offset + 2, *header) == nullptr)
            return nullptr;
        *length = *header;
        return header + 1;
    }
};

bool resources_of(const pe_add_on_t* addOn, resource_view* resources)
{
    if (addOn == nullptr || addOn->data_directory[2].virtual_address == 0)
        return false;
    *resources = {view_of(addOn), addOn->data_directory[2].virtual_address};
    return resources->Directory(0) != nullptr;
}

// The subdirectory of the first id entry equal to `id`, or null.
const image_resource_directory_t* find_id(const resource_view& resources,
                                          const image_resource_directory_t* directory, uint32 id)
{
    const image_resource_directory_entry_t* entries = resources.Entries(directory);
    if (entries == nullptr)
        return nullptr;
    for (uint32 i = directory->number_of_named_entries;
         i < uint32(directory->number_of_named_entries) + directory->number_of_id_entries; i++) {
        if (entries[i].name != id)
            continue;
        if ((entries[i].offset_to_data & 0x80000000u) == 0)
            return nullptr;
        return resources.Directory(entries[i].offset_to_data & 0x7FFFFFFF);
    }
    return nullptr;
}

bool name_matches(const unaligned_uint16* units, uint16 length, const char* name)
{
    if (length != strlen(name))
        return false;
    for (uint16 j = 0; j < length; j++) {
        int unit = static_cast<signed char>(units[j] & 0xFF);
        int wanted = static_cast<signed char>(name[j]);
        // tolower's table takes EOF and unsigned chars; other negatives map
        // to themselves.
        if (unit >= -1)
            unit = tolower(unit);
        if (wanted >= -1)
            wanted = tolower(wanted);
        if (unit != wanted)
            return false;
    }
    return true;
}

const image_resource_directory_t* find_name(const resource_view& resources,
                                            const image_resource_directory_t* directory,
                                            const char* name)
{
    const image_resource_directory_entry_t* entries = resources.Entries(directory);
    if (entries == nullptr || name == nullptr)
        return nullptr;
    for (uint32 i = 0; i < directory->number_of_named_entries; i++) {
        uint16 length = 0;
        const unaligned_uint16* units = resources.Name(entries[i].name & 0x7FFFFFFF, &length);
        if (units == nullptr || !name_matches(units, length, name))
            continue;
        if ((entries[i].offset_to_data & 0x80000000u) == 0)
            return nullptr;
        return resources.Directory(entries[i].offset_to_data & 0x7FFFFFFF);
    }
    return nullptr;
}

image_resource_data_entry_t* first_language(const resource_view& resources,
                                            const image_resource_directory_t* directory)
{
    if (directory == nullptr || directory->number_of_id_entries == 0)
        return nullptr;
    const image_resource_directory_entry_t* entries = resources.Entries(directory);
    if (entries == nullptr)
        return nullptr;
    // As Windows chooses for an English user: language neutral, then US
    // English, then any English, then the first there is (modules carry
    // their texts in many languages, in the order of the language codes).
    const image_resource_directory_entry_t* ids = entries + directory->number_of_named_entries;
    const image_resource_directory_entry_t* chosen = &ids[0];
    int chosenRank = 3;
    for (uint32 i = 0; i < directory->number_of_id_entries; i++) {
        uint32 language = ids[i].name & 0xFFFF;
        int rank = language == 0 ? 0 : language == 0x0409 ? 1 : (language & 0x3FF) == 0x09 ? 2 : 3;
        if (rank < chosenRank) {
            chosen = &ids[i];
            chosenRank = rank;
        }
    }
    const image_resource_directory_entry_t& entry = *chosen;
    if (entry.offset_to_data & 0x80000000u)
        return nullptr;
    return const_cast<image_resource_data_entry_t*>(
        resources.image.At<image_resource_data_entry_t>(resources.start + entry.offset_to_data));
}

// Real trees are three levels deep; the bounds keep a directory that points
// back at itself (or at a wide directory, again and again) from running on.
constexpr unsigned long kMaxDumpDepth = 8;
constexpr uint32 kMaxDumpEntries = 100000;
constexpr uint32 kMaxDumpCharacters = 1000000;

// The low bytes of UTF-16 units, each with "%c", within the budget.
void print_low_bytes(const unaligned_uint16* units, uint16 length, uint32* characters)
{
    for (uint16 j = 0; units != nullptr && j<length&& * characters> 0; j++, --*characters)
        printf("%c", char(units[j] & 0xFF));
}

void dump_directory(const resource_view& resources, const image_resource_directory_t* directory,
                    unsigned long depth, unsigned long type, uint32* budget, uint32* characters)
{
    if (directory == nullptr || depth > kMaxDumpDepth)
        return;
    const image_resource_directory_entry_t* entries = resources.Entries(directory);
    if (entries == nullptr)
        return;
    uint32 count = uint32(directory->number_of_named_entries) + directory->number_of_id_entries;
    for (uint32 i = 0; i < count; i++) {
        if (*budget == 0)
            return;
        --*budget;
        const image_resource_directory_entry_t& entry = entries[i];
        for (unsigned long d = 0; d < depth; d++)
            printf("   ");
        unsigned long entryType = type;
        if (entry.name & 0x80000000u) {
            printf("name=");
            uint16 length = 0;
            const unaligned_uint16* units = resources.Name(entry.name & 0x7FFFFFFF, &length);
            print_low_bytes(units, length, characters);
        } else {
            printf("id=%d", int(entry.name & 0xFFFF));
            if (depth == 0)
                entryType = entry.name;
        }
        if (entry.offset_to_data & 0x80000000u) {
            printf("\n");
            dump_directory(resources, resources.Directory(entry.offset_to_data & 0x7FFFFFFF),
                           depth + 1, entryType, budget, characters);
            continue;
        }
        const image_resource_data_entry_t* data =
            resources.image.At<image_resource_data_entry_t>(resources.start + entry.offset_to_data);
        if (data == nullptr) {
            printf("\n");
            continue;
        }
        printf(": offset_to_data=0x%08lx, size=%ld", (unsigned long)data->offset_to_data,
               long(data->size));
        if (entryType == 6) {
            printf(" \"");
            const unaligned_uint16* header =
                resources.image.At<unaligned_uint16>(data->offset_to_data);
            const unaligned_uint16* units = header != nullptr
                                                ? resources.image.At<unaligned_uint16>(
                                                      uint64(data->offset_to_data) + 2, *header)
                                                : nullptr;
            print_low_bytes(units, units != nullptr ? uint16(*header) : 0, characters);
            printf("\"");
        }
        printf("\n");
    }
}

} // namespace

status_t pe_get_image_symbol(pe_add_on_t* addOn, const char* name, void** address)
{
    if (addOn == nullptr || name == nullptr || address == nullptr ||
        addOn->data_directory[0].virtual_address == 0)
        return B_ERROR;
    image_view image = view_of(addOn);
    const unaligned_uint32* directory =
        image.At<unaligned_uint32>(addOn->data_directory[0].virtual_address, 10);
    if (directory == nullptr)
        return B_ERROR;
    uint32 functionCount = directory[5];
    uint32 nameCount = directory[6];
    const unaligned_uint32* functions = image.At<unaligned_uint32>(directory[7], functionCount);
    const unaligned_uint32* names = image.At<unaligned_uint32>(directory[8], nameCount);
    const unaligned_uint16* ordinals = image.At<unaligned_uint16>(directory[9], nameCount);
    if (names == nullptr || ordinals == nullptr)
        return B_ERROR;
    // Compared with the wanted name and its NUL, so no export name is
    // scanned further than that.
    size_t wanted = strlen(name) + 1;
    for (uint32 i = 0; i < nameCount; i++) {
        const char* exported = image.At<char>(names[i], wanted);
        if (exported == nullptr || memcmp(exported, name, wanted) != 0)
            continue;
        uint32 k = ordinals[i];
        if (functions == nullptr || k >= functionCount)
            return B_ERROR;
        *address = reinterpret_cast<void*>(uintptr_t(addOn->image_base + functions[k]));
        return B_OK;
    }
    return B_ERROR;
}

status_t pe_get_image_symbol_by_ordinal(pe_add_on_t* addOn, unsigned long ordinal, void** address)
{
    if (addOn == nullptr || address == nullptr || addOn->data_directory[0].virtual_address == 0)
        return B_ERROR;
    image_view image = view_of(addOn);
    const unaligned_uint32* directory =
        image.At<unaligned_uint32>(addOn->data_directory[0].virtual_address, 10);
    if (directory == nullptr)
        return B_ERROR;
    uint32 k = uint32(ordinal) - directory[4];
    if (ordinal > UINT32_MAX || k >= directory[5])
        return B_ERROR;
    const unaligned_uint32* function =
        image.At<unaligned_uint32>(uint64(directory[7]) + 4 * uint64(k));
    if (function == nullptr || *function == 0)
        return B_ERROR;
    *address = reinterpret_cast<void*>(uintptr_t(addOn->image_base + *function));
    return B_OK;
}

image_resource_data_entry_t* pe_find_resource(pe_add_on_t* addOn, unsigned long type,
                                              unsigned long id, unsigned long)
{
    resource_view resources;
    if (!resources_of(addOn, &resources) || type > UINT32_MAX || id > UINT32_MAX)
        return nullptr;
    const image_resource_directory_t* names = find_id(resources, resources.Directory(0), type);
    if (names == nullptr)
        return nullptr;
    return first_language(resources, find_id(resources, names, uint32(id)));
}

image_resource_data_entry_t* pe_find_resource(pe_add_on_t* addOn, unsigned long type,
                                              const char* name, unsigned long)
{
    resource_view resources;
    if (!resources_of(addOn, &resources) || type > UINT32_MAX)
        return nullptr;
    const image_resource_directory_t* names = find_id(resources, resources.Directory(0), type);
    if (names == nullptr)
        return nullptr;
    return first_language(resources, find_name(resources, names, name));
}

void* pe_load_resource(pe_add_on_t* addOn, const image_resource_data_entry_t* entry)
{
    if (addOn == nullptr || entry == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(uintptr_t(addOn->image_base + entry->offset_to_data));
}

uint32 pe_get_resource_size(pe_add_on_t*, const image_resource_data_entry_t* entry)
{
    return entry != nullptr ? entry->size : 0;
}

const unaligned_uint16* pe_load_string(pe_add_on_t* addOn, unsigned short id)
{
    image_resource_data_entry_t* block = pe_find_resource(addOn, 6, id / 16 + 1, 0);
    if (block == nullptr)
        return nullptr;
    image_view image = view_of(addOn);
    uint64 rva = block->offset_to_data;
    for (int k = id % 16; k > 0; k--) {
        const unaligned_uint16* length = image.At<unaligned_uint16>(rva);
        if (length == nullptr)
            return nullptr;
        rva += 2 * (1 + uint64(*length));
    }
    const unaligned_uint16* length = image.At<unaligned_uint16>(rva);
    if (length == nullptr || image.At<unaligned_uint16>(rva + 2, *length) == nullptr)
        return nullptr;
    return length;
}

void pe_dump_resources(pe_add_on_t* addOn)
{
    resource_view resources;
    uint32 budget = kMaxDumpEntries;
    uint32 characters = kMaxDumpCharacters;
    if (resources_of(addOn, &resources))
        dump_directory(resources, resources.Directory(0), 0, 0, &budget, &characters);
}

void pe_dump_resource_dir(pe_add_on_t* addOn, const image_resource_directory_t* directory,
                          unsigned long depth, unsigned long type)
{
    resource_view resources;
    uint32 budget = kMaxDumpEntries;
    uint32 characters = kMaxDumpCharacters;
    if (resources_of(addOn, &resources))
        dump_directory(resources, directory, depth, type, &budget, &characters);
}
