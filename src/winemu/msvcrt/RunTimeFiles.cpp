#include "winemu/msvcrt/RunTimeFiles.h"

#include "platform/kernel/ModuleSpace.h"
#include "platform/support/Debug.h"
#include "winemu/cpu/ModuleCall.h"
#include "winemu/kernel32/ProcessServices.h"
#include "winemu/kernel32/WideText.h"
#include "winemu/msvcrt/ModuleFormat.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace
{

enum {
    kErrorFileNotFound = 2,  // ERROR_FILE_NOT_FOUND
    kErrorInvalidHandle = 6, // ERROR_INVALID_HANDLE
    kErrorNoMoreFiles = 18,  // ERROR_NO_MORE_FILES
    kInvalidFileAttributes = 0xFFFFFFFF,
    kTextMode = 0x4000,   // _O_TEXT
    kFileObjectSize = 32, // room for the run-time's FILE
    kMaxPath = 260,       // MAX_PATH, in units, with the NUL
};

// stdin, stdout and stderr as module code holds them: three zeroed blocks
// that nothing reads; only their addresses matter.
uint32 stream_objects()
{
    static const uint32 objects = module_address(module_calloc(3, kFileObjectSize));
    return objects;
}

bool is_standard_output(int32 descriptor)
{
    return descriptor == 1 || descriptor == 2;
}

void set_last_error(uint32 error)
{
    exp_SetLastError(error);
}

struct error_text {
    int32 number;
    const char* text;
};

const error_text kErrorTexts[] = {
    {0, "No error"},
    {kModuleENOENT, "No such file or directory"},
    {kModuleEBADF, "Bad file descriptor"},
    {12, "Not enough space"},
    {13, "Permission denied"},
    {kModuleEINVAL, "Invalid argument"},
    {kModuleESPIPE, "Invalid seek"},
    {33, "Domain error"},
    {kModuleERANGE, "Result too large"},
};

bool starts_with_separator(const unaligned_uint16* path)
{
    return path[0] == '\\' || path[0] == '/';
}

bool has_drive(const unaligned_uint16* path)
{
    return ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':';
}

} // namespace

void set_module_errno(int32 value)
{
    if (uint8* block = thread_block())
        memcpy(block + kThreadBlockErrno, &value, 4);
}

void module_debug_output(const char* text, size_t length)
{
    if (_debugFlag())
        _debugPrintf("module: %.*s", int(length > 0x7FFFFFFF ? 0x7FFFFFFF : length), text);
}

uint32 exp_fopen(uint32, uint32)
{
    set_module_errno(kModuleENOENT);
    return 0;
}

uint32 exp_fdopen(int32, uint32)
{
    set_module_errno(kModuleEBADF);
    return 0;
}

int32 exp_fclose(uint32 stream)
{
    if (module_stream_number(stream) >= 0)
        return 0;
    set_module_errno(kModuleEINVAL);
    return -1;
}

uint32 exp_fwrite(uint32 data, uint32 size, uint32 count, uint32 stream)
{
    uint64 bytes = uint64(size) * count;
    if (bytes == 0)
        return 0;
    if (!is_standard_output(module_stream_number(stream)) || bytes > kModuleSpaceEnd) {
        set_module_errno(kModuleEBADF);
        return 0;
    }
    const char* text = module_pointer<const char>(data, size_t(bytes));
    if (text == nullptr) {
        set_module_errno(kModuleEINVAL);
        return 0;
    }
    module_debug_output(text, size_t(bytes));
    return count;
}

int32 exp_open(uint32, int32, int32)
{
    set_module_errno(kModuleENOENT);
    return -1;
}

int32 exp_read(int32 descriptor, uint32, uint32)
{
    if (descriptor == 0)
        return 0; // standard input is empty
    set_module_errno(kModuleEBADF);
    return -1;
}

int32 exp_write(int32 descriptor, uint32 data, uint32 size)
{
    if (!is_standard_output(descriptor)) {
        set_module_errno(kModuleEBADF);
        return -1;
    }
    if (size == 0)
        return 0;
    const char* text = module_pointer<const char>(data, size);
    if (text == nullptr || size > 0x7FFFFFFF) {
        set_module_errno(kModuleEINVAL);
        return -1;
    }
    module_debug_output(text, size);
    return int32(size);
}

int32 exp_lseek(int32 descriptor, int32, int32)
{
    set_module_errno(descriptor >= 0 && descriptor <= 2 ? kModuleESPIPE : kModuleEBADF);
    return -1;
}

int32 exp_close(int32 descriptor)
{
    if (descriptor >= 0 && descriptor <= 2)
        return 0;
    set_module_errno(kModuleEBADF);
    return -1;
}

int32 exp_setmode(int32 descriptor, int32)
{
    if (descriptor >= 0 && descriptor <= 2)
        return kTextMode;
    set_module_errno(kModuleEBADF);
    return -1;
}

uint32 exp_acrt_iob_func(uint32 which)
{
    uint32 objects = stream_objects();
    return which <= 2 && objects != 0 ? objects + which * kFileObjectSize : 0;
}

int32 module_stream_number(uint32 stream)
{
    uint32 objects = stream_objects();
    if (objects == 0 || stream < objects || stream >= objects + 3 * kFileObjectSize ||
        (stream - objects) % kFileObjectSize != 0)
        return -1;
    return int32((stream - objects) / kFileObjectSize);
}

uint32 exp_errno()
{
    uint8* block = thread_block();
    return block != nullptr ? module_address(block + kThreadBlockErrno) : 0;
}

uint32 exp_strerror(int32 error)
{
    static std::mutex lock;
    static std::map<int32, uint32> copies; // module copies, made on first use
    const char* text = "Unknown error";
    for (const error_text& known : kErrorTexts) {
        if (known.number == error)
            text = known.text;
    }
    std::lock_guard<std::mutex> guard(lock);
    uint32& copy = copies[error];
    if (copy == 0) {
        size_t size = strlen(text) + 1;
        if (void* block = module_malloc(size)) {
            memcpy(block, text, size);
            copy = module_address(block);
        }
    }
    return copy;
}

uint32 exp_getenv(uint32)
{
    return 0;
}

void exp_assert(uint32 message, uint32 file, uint32 line)
{
    std::string text, where;
    copy_module_string(message, 256, &text);
    copy_module_string(file, 256, &where);
    fprintf(stderr, "module assertion failed: %s, file %s, line %" PRIu32 "\n", text.c_str(),
            where.c_str(), line);
    module_call_abort("assertion failed");
}

void exp_abort()
{
    module_call_abort("abort() called");
}

void exp_purecall()
{
    module_call_abort("pure virtual function called");
}

int32 exp_atexit(uint32)
{
    return 0;
}

uint32 exp_onexit(uint32 function)
{
    return function;
}

uint32 exp_dllonexit(uint32 function, uint32, uint32)
{
    return function;
}

uint32 exp_except_handler3(uint32, uint32, uint32, uint32)
{
    return 1; // ExceptionContinueSearch
}

uint32 exp_FindFirstFileW(uint32, uint32)
{
    set_last_error(kErrorFileNotFound);
    return kInvalidHandleValue;
}

uint32 exp_FindNextFileW(uint32 handle, uint32)
{
    set_last_error(handle == kInvalidHandleValue ? kErrorInvalidHandle : kErrorNoMoreFiles);
    return 0;
}

uint32 exp_FindClose(uint32)
{
    set_last_error(kErrorInvalidHandle);
    return 0;
}

uint32 exp_GetFileAttributesW(uint32)
{
    set_last_error(kErrorFileNotFound);
    return kInvalidFileAttributes;
}

// Joins a directory and a file name with one backslash; the file name alone
// when it is absolute. Null (and the target untouched) when a pointer is
// bad or the result would not fit MAX_PATH.
uint32 exp_PathCombineW(uint32 target, uint32 directory, uint32 file)
{
    std::u16string first, second;
    if (target == 0 || (directory == 0 && file == 0))
        return 0;
    if ((directory != 0 && !module_wide_string(directory, kMaxPath, &first)) ||
        (file != 0 && !module_wide_string(file, kMaxPath, &second)))
        return 0;
    // Judged on the copy: the module's text may end at the window's end, and
    // may change meanwhile.
    std::u16string path;
    const unaligned_uint16 name[2] = {second.size() > 0 ? uint16(second[0]) : uint16(0),
                                      second.size() > 1 ? uint16(second[1]) : uint16(0)};
    if (second.empty() || (!starts_with_separator(name) && !has_drive(name))) {
        path = first;
        if (!path.empty() && !second.empty() && path.back() != u'\\' && path.back() != u'/')
            path += u'\\';
        path += second;
    } else {
        path = second;
    }
    if (path.size() + 1 > kMaxPath)
        return 0;
    unaligned_uint16* out = module_pointer<unaligned_uint16>(target, path.size() + 1);
    if (out == nullptr)
        return 0;
    for (size_t i = 0; i < path.size(); i++)
        out[i] = uint16(path[i]);
    out[path.size()] = 0;
    return target;
}

uint32 exp_PathIsRelativeW(uint32 path)
{
    const unaligned_uint16* units = module_pointer<const unaligned_uint16>(path, 2);
    if (units == nullptr)
        return 1;
    return starts_with_separator(units) || (units[0] != 0 && has_drive(units)) ? 0 : 1;
}

uint32 exp_PathIsUNCW(uint32 path)
{
    const unaligned_uint16* units = module_pointer<const unaligned_uint16>(path, 2);
    return units != nullptr && units[0] == '\\' && units[1] == '\\' ? 1 : 0;
}

void exp_OutputDebugStringA(uint32 text)
{
    std::string copy;
    if (copy_module_string(text, 4096, &copy))
        module_debug_output(copy.data(), copy.size());
}

void exp_OutputDebugStringW(uint32 text)
{
    std::u16string units;
    if (!module_wide_string(text, 4096, &units))
        return;
    std::string copy(units.size() * 3, '\0');
    size_t length = wide_to_utf8(reinterpret_cast<const unaligned_uint16*>(units.data()),
                                 units.size(), copy.data(), copy.size(), '?');
    module_debug_output(copy.data(), length);
}
