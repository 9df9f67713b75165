// The PE module loader: maps 32-bit Windows DLLs into the module address
// space, relocates them, binds their imports to our replacements and calls
// their entry points; then finds exports, resources and strings in them.
#pragma once

#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"
#include "platform/support/Locker.h"
#include "platform/support/SupportDefs.h"

#include <functional>
#include <string>

struct image_data_directory_t {
    uint32 virtual_address;
    uint32 size;
};

// A section header as stored in the file, with a NUL after the name.
struct image_section_header_t {
    char name[9];
    uint32 virtual_size;
    uint32 virtual_address;
    uint32 size_of_raw_data;
    uint32 pointer_to_raw_data;
    uint32 pointer_to_relocations;
    uint32 pointer_to_linenumbers;
    uint16 number_of_relocations;
    uint16 number_of_linenumbers;
    uint32 characteristics;
};

struct pe_add_on_t {
    image_data_directory_t data_directory[16];
    image_section_header_t* sections; // owned, one per section header
    area_id area;
    uint32 image_base;  // also the module handle the module sees
    uint32 entry_point; // RVA
    uint16 characteristics;
    char* name; // owned (strdup), the name passed to the load call
    pe_add_on_t* next;
    uint32 image_size; // bytes mapped at image_base; every lookup stays inside
    // Who holds the image: the host's loads, and the module's LoadLibraryA
    // calls. A module's FreeLibrary gives back only what a LoadLibraryA
    // took, so it can never free an image under the host. The record goes
    // once, when both are zero.
    int32 host_refs;
    int32 module_refs;
    bool unloading; // its detach notice runs or ran: no new holders
};

struct __attribute__((packed)) image_resource_directory_t {
    uint32 characteristics;
    uint32 time_date_stamp;
    uint16 major_version;
    uint16 minor_version;
    uint16 number_of_named_entries;
    uint16 number_of_id_entries;
};

struct __attribute__((packed)) image_resource_directory_entry_t {
    uint32 name;
    uint32 offset_to_data;
};

struct __attribute__((packed)) image_resource_data_entry_t {
    uint32 offset_to_data; // RVA
    uint32 size;
    uint32 code_page;
    uint32 reserved;
};

// Packed: images place them at any offset.
static_assert(sizeof(image_resource_directory_t) == 16);
static_assert(sizeof(image_resource_directory_entry_t) == 8);
static_assert(sizeof(image_resource_data_entry_t) == 16);

enum {
    IMAGE_FILE_DLL = 0x2000,
    IMAGE_SCN_CNT_UNINITIALIZED_DATA = 0x80,
    IMAGE_REL_BASED_ABSOLUTE = 0,
    IMAGE_REL_BASED_HIGHLOW = 3,
    DLL_PROCESS_DETACH = 0,
    DLL_PROCESS_ATTACH = 1,
};

int open_libpath(const char* name, int mode);
bool is_pe_file(int fd);
bool is_supported_architecture(int fd);

// The host's own load of a module of the decoders folder: a copy of its
// own, even when the file is loaded already. Module code (the entry point)
// runs without the loader's lock held.
pe_add_on_t* pe_load_add_on(const char* name);
// Gives back the host's load; the image goes with its last holder. A record
// that is not loaded (gone already) is refused with B_BAD_VALUE.
status_t pe_unload_add_on(pe_add_on_t* addOn);
// The record whose image starts at `start`, or null. Only valid while
// nothing can unload it: callers that may race an unload use
// pe_with_add_on.
pe_add_on_t* pe_get_add_on_from_start(unsigned long start);
// Runs `use` on the record whose image starts at `start` with the loader's
// lock held, so the record stays while it is used; false when there is
// none. `use` must not run module code.
bool pe_with_add_on(uint32 start, const std::function<void(pe_add_on_t*)>& use);

// LoadLibraryA and FreeLibrary for module code: a name loaded already gives
// the same image again (counted); FreeLibrary gives back one of those
// counts and is refused (false) for an image no LoadLibraryA of a module
// holds, its own handle in its entry point included.
uint32 pe_load_library(const char* name);
bool pe_free_library(uint32 start);

// For a process that may open no files (the codec host): `fd` (taken) is
// the module file of `name`; loads of that name read it. Once
// pe_close_files() is called, names without a given descriptor fail
// without the file system being asked.
void pe_provide_module(const char* name, int fd);
void pe_close_files();
// Runs once, just before module code first runs in this process (the
// codec host installs its system-call filter there).
void pe_set_first_run_hook(void (*hook)());

// The modules loaded, newest first (tests and checks).
pe_add_on_t* pe_first_add_on();
// Unloads every module whoever holds it, newest first (the end of a host
// process, and tests).
void pe_unload_all();

// Loads an image from a path instead of the decoders folder (tools, tests
// and the fuzz target); `name` is what the record keeps.
pe_add_on_t* pe_load_add_on_from_path(const char* path, const char* name);

status_t pe_get_image_symbol(pe_add_on_t* addOn, const char* name, void** address);
status_t pe_get_image_symbol_by_ordinal(pe_add_on_t* addOn, unsigned long ordinal, void** address);
image_resource_data_entry_t* pe_find_resource(pe_add_on_t* addOn, unsigned long type,
                                              unsigned long id, unsigned long language);
image_resource_data_entry_t* pe_find_resource(pe_add_on_t* addOn, unsigned long type,
                                              const char* name, unsigned long language);
void* pe_load_resource(pe_add_on_t* addOn, const image_resource_data_entry_t* entry);
uint32 pe_get_resource_size(pe_add_on_t* addOn, const image_resource_data_entry_t* entry);
// The string's length word, then its UTF-16 units; possibly unaligned.
const unaligned_uint16* pe_load_string(pe_add_on_t* addOn, unsigned short id);
void pe_dump_resources(pe_add_on_t* addOn);
void pe_dump_resource_dir(pe_add_on_t* addOn, const image_resource_directory_t* directory,
                          unsigned long depth, unsigned long type);

// True when `record` is in the module list (a pointer that a module handed
// over may be checked before use).
bool pe_is_loaded(const pe_add_on_t* record);

// For fault reports: "'name'" of the module whose image holds `address`, or
// "unknown code". Never blocks for long.
void pe_describe_address(uint32 address, char* buffer, size_t size);

// A thread a module started (its start routine at `address`) ended by a
// fault. The module's state can no longer be trusted: what its other threads
// wait for may never come.
void pe_note_thread_fault(uint32 address);
// The image base and the name of the loaded module whose image holds
// `address`; 0 and "" for none. Never take the loader's lock.
uint32 pe_image_base_at(uint32 address);
std::string pe_image_name_at(uint32 address);
// True when `address` lies in a module one of whose threads has faulted.
bool pe_has_faulted_thread(uint32 address);

// The import that got unresolved marker 0xDEAD0000 + `index`, as "name" or
// "ordinal N"; "?" when none did.
void pe_unresolved_import_name(uint16 index, char* buffer, size_t size);
