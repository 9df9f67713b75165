#include "platform/support/List.h"

#include <algorithm>

bool BList::AddItem(void* item)
{
    return AddItem(item, CountItems());
}

bool BList::AddItem(void* item, int32 index)
{
    if (index < 0 || index > CountItems())
        return false;
    if (fItems.size() == fItems.capacity())
        fItems.reserve(fItems.size() + size_t(fBlockSize));
    fItems.insert(fItems.begin() + index, item);
    return true;
}

bool BList::RemoveItem(void* item)
{
    int32 index = IndexOf(item);
    if (index < 0)
        return false;
    RemoveItem(index);
    return true;
}

void* BList::RemoveItem(int32 index)
{
    if (index < 0 || index >= CountItems())
        return nullptr;
    void* item = fItems[size_t(index)];
    fItems.erase(fItems.begin() + index);
    return item;
}

void* BList::ItemAt(int32 index) const
{
    return index >= 0 && index < CountItems() ? fItems[size_t(index)] : nullptr;
}

int32 BList::IndexOf(void* item) const
{
    auto found = std::find(fItems.begin(), fItems.end(), item);
    return found == fItems.end() ? -1 : int32(found - fItems.begin());
}
