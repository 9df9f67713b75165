// A typed list of owned pointers: what it still holds when it is emptied or
// destroyed is deleted.
#pragma once

#include "platform/support/List.h"

template <typename T>
class CPointerList : public BList
{
public:
    explicit CPointerList(int32 blockSize = 20) : BList(blockSize) {}
    ~CPointerList() override { MakeEmpty(); }

    bool AddItem(T* item) { return BList::AddItem(item); }
    bool RemoveItem(T* item) { return BList::RemoveItem(item); }
    T* RemoveItem(int32 index) { return static_cast<T*>(BList::RemoveItem(index)); }
    T* ItemAt(int32 index) const { return static_cast<T*>(BList::ItemAt(index)); }
    int32 CountItems() const { return BList::CountItems(); }
    bool IsEmpty() const { return BList::IsEmpty(); }

    // From the last item to the first, deleting each.
    void MakeEmpty()
    {
        for (int32 i = CountItems() - 1; i >= 0; i--)
            delete RemoveItem(i);
    }
};
