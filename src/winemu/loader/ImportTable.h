// The import binding table: the imported names a module may use, the
// replacement function behind each, and how module code reaches them.
//
// A replacement is a plain C++ function whose parameters are 32-bit integers
// (uint32, int32 ...; module pointers arrive as uint32 and are checked with
// module_pointer / module_string from platform/kernel/ModuleSpace.h) and whose
// result is an integer of up to 64 bits (EDX:EAX) or void. A variadic cdecl
// replacement takes `const import_args&` instead and reads as many words as
// it needs. Rows are listed in pe_patches.cpp.
#pragma once

#include "platform/kernel/ModuleSpace.h"
#include "platform/kernel/OS.h"
#include "platform/support/SupportDefs.h"

#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

// The argument words of one import call, as the module pushed them.
struct import_args {
    const uint32* words;
    size_t available; // words that lie inside the module's stack

    // Module stacks need not be aligned.
    uint32 operator[](size_t index) const
    {
        uint32 value = 0;
        if (index < available)
            memcpy(&value, words + index, 4);
        return value;
    }
};

typedef uint64 (*import_invoker)(const import_args& args);

enum { kCdecl = -1 };

struct import_entry {
    const char* name;
    int32 argumentBytes;   // bytes a stdcall replacement removes, or kCdecl
    int32 argumentWords;   // words the hook hands over
    import_invoker invoke; // null: not built yet, the import stays unresolved
    bool isModuleBase;     // "_adjust_fdiv": the slot gets the module's base

    // Run-time helpers whose arguments or results are not on the stack
    // reach their thunk through a stub of module code (the entry then is
    // the stub): the stub moves x87 arguments and registers to the stack
    // and a double result (returned as its bits in EDX:EAX) to ST0.
    uint8 x87Arguments = 0;         // popped from the x87 stack, ST0 last
    bool doubleResult = false;      // the replacement returns a double's bits
    bool registerArguments = false; // EAX, EDX, ECX are the arguments
    // A helper that is plain module code (it moves the stack pointer):
    // no replacement, the stub is these bytes.
    const uint8* code = nullptr;
    uint32 codeSize = 0;
};

// The bits of a double, for replacements whose result goes to ST0, and a
// double from the two words a module pushed.
inline uint64 double_result(double value)
{
    uint64 bits;
    memcpy(&bits, &value, 8);
    return bits;
}
inline double double_argument(uint32 low, uint32 high)
{
    uint64 bits = uint64(high) << 32 | low;
    double value;
    memcpy(&value, &bits, 8);
    return value;
}

// The value to store in an import slot for `name` of a module at
// `imageBase`; false when no row binds it (the slot is then unresolved).
bool import_lookup(const char* name, uint32 imageBase, uint32* value);

// The module-callable address of a replacement reached without a row (for
// GetProcAddress), or 0.
uint32 replacement_address(const char* name);

// For the execution core: the entry behind thunk number `index`, or null.
const import_entry* import_entry_at(uint32 index);

// The page of thunks: thunk i lies at base + i * kThunkSize and reads
// `mov eax, i; int 0x80; ret N`. The stubs lie in the page after it, one
// kStubSize slot each. 0 when the pages cannot be made. The pages lie just
// above the module window, in host memory of their own that each engine
// maps read-only (map_import_thunks): module code runs them but cannot
// change them, and no module address reaches them.
uint32 import_thunk_base();
constexpr uint32 kImportThunkBase = kModuleSpaceEnd;
constexpr uint32 kImportThunkPagesSize = 2 * B_PAGE_SIZE;
// The host's copy of the pages (read-only), or null.
const uint8* import_thunk_code();
// Maps the pages into an engine at import_thunk_base(); false on failure.
bool map_import_thunks(struct uc_struct* engine);
constexpr uint32 kThunkSize = 16;
constexpr uint32 kStubSize = 64;
constexpr uint32 kThunkInterrupt = 0x80;
// Offset inside a thunk just after its `int 0x80`.
constexpr uint32 kThunkAfterInterrupt = 7;
// An address in the page that module code never runs: the return address
// of every host-to-module call.
uint32 import_return_trap();

// ---- binding a replacement ------------------------------------------------

namespace import_binding
{

template <typename F>
struct traits;

template <typename R, typename... A>
struct traits<R (*)(A...)> {
    using result = R;
    using arguments = std::tuple<A...>;
    static constexpr size_t count = sizeof...(A);
};

// (if constexpr: a function without parameters has no element 0 to test.)
template <typename F>
constexpr bool takes_import_args()
{
    if constexpr (traits<F>::count == 1)
        return std::is_same_v<std::tuple_element_t<0, typename traits<F>::arguments>,
                              const import_args&>;
    else
        return false;
}

template <typename F>
constexpr bool takes_args = takes_import_args<F>();

template <auto F, size_t... I>
uint64 call(const import_args& args, std::index_sequence<I...>)
{
    using T = traits<decltype(F)>;
    using R = typename T::result;
    if constexpr (std::is_void_v<R>) {
        F(static_cast<std::tuple_element_t<I, typename T::arguments>>(args[I])...);
        return 0;
    } else {
        static_assert(std::is_integral_v<R> && sizeof(R) <= 8, "results are integers");
        R value = F(static_cast<std::tuple_element_t<I, typename T::arguments>>(args[I])...);
        if constexpr (sizeof(R) <= 4)
            return uint32(value);
        else
            return uint64(value);
    }
}

template <auto F>
uint64 invoke(const import_args& args)
{
    if constexpr (takes_args<decltype(F)>) {
        return F(args);
    } else {
        using T = traits<decltype(F)>;
        return call<F>(args, std::make_index_sequence<T::count>());
    }
}

template <auto F>
constexpr int32 words()
{
    using T = traits<decltype(F)>;
    if constexpr (takes_args<decltype(F)>)
        return 16; // what a variadic replacement may read at most
    else
        return int32(T::count);
}

} // namespace import_binding

// A stdcall row: the replacement's parameter count must match the bytes the
// table gives, or the build fails.
template <auto F, int32 Bytes>
constexpr import_entry stdcall_row(const char* name)
{
    static_assert(!import_binding::takes_args<decltype(F)>, "stdcall rows have fixed arguments");
    static_assert(import_binding::words<F>() * 4 == Bytes,
                  "the replacement's parameters do not match the row's argument bytes");
    return {name, Bytes, import_binding::words<F>(), &import_binding::invoke<F>, false};
}

template <auto F>
constexpr import_entry cdecl_row(const char* name)
{
    return {name, kCdecl, import_binding::words<F>(), &import_binding::invoke<F>, false};
}

// A cdecl row whose result is a double (the replacement returns its bits).
template <auto F>
constexpr import_entry double_row(const char* name)
{
    import_entry row = cdecl_row<F>(name);
    row.doubleResult = true;
    return row;
}

// A compiler helper taking `Count` doubles on the x87 stack (one double is
// two parameters of the replacement, low word first).
template <auto F, uint8 Count>
constexpr import_entry x87_row(const char* name, bool doubleResult)
{
    static_assert(import_binding::words<F>() == 2 * Count, "two words per x87 argument");
    import_entry row = cdecl_row<F>(name);
    row.x87Arguments = Count;
    row.doubleResult = doubleResult;
    return row;
}

// A compiler helper taking its arguments in EAX, EDX and ECX.
template <auto F>
constexpr import_entry register_row(const char* name)
{
    static_assert(import_binding::words<F>() == 3, "EAX, EDX and ECX");
    import_entry row = cdecl_row<F>(name);
    row.registerArguments = true;
    return row;
}

// A helper that is module code of its own.
template <size_t N>
constexpr import_entry code_row(const char* name, const uint8 (&code)[N])
{
    import_entry row = {name, kCdecl, 0, nullptr, false};
    row.code = code;
    row.codeSize = uint32(N);
    return row;
}

// A row whose replacement is not built yet: the import stays unresolved.
constexpr import_entry pending_row(const char* name, int32 bytes)
{
    return {name, bytes, 0, nullptr, false};
}
