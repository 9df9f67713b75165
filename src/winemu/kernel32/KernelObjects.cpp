#include "winemu/kernel32/KernelObjects.h"

#include "platform/kernel/ModuleSpace.h"

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace
{

struct object_table {
    std::mutex lock;
    std::unordered_map<uint32, kernel_record*> byHandle;
    // Every record ever made: a thread's record is its body's cookie, so it
    // must outlive a handle that the module freed and the heap gave out again.
    std::deque<std::unique_ptr<kernel_record>> all;
};

// Never destroyed: module threads may still use handles while the process
// exits.
object_table& table()
{
    static object_table* sTable = new object_table;
    return *sTable;
}

} // namespace

kernel_object_t* allocate_kernel_object()
{
    return static_cast<kernel_object_t*>(module_calloc(1, sizeof(kernel_object_t)));
}

uint32 register_kernel_object(kernel_object_t* object, kernel_record* record)
{
    object->tag = record->tag;
    object->id = record->id;
    uint32 handle = module_address(object);
    object_table& t = table();
    std::lock_guard<std::mutex> locked(t.lock);
    t.all.emplace_back(record);
    // An address comes back from the heap only after the module freed the
    // object behind an older handle; that handle is dead from now on.
    t.byHandle[handle] = record;
    return handle;
}

kernel_record* find_kernel_object(uint32 handle)
{
    object_table& t = table();
    std::lock_guard<std::mutex> locked(t.lock);
    auto found = t.byHandle.find(handle);
    return found != t.byHandle.end() ? found->second : nullptr;
}
