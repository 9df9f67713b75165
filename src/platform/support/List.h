// An ordered list of untyped pointers that grows in blocks.
#pragma once

#include "platform/support/SupportDefs.h"

#include <vector>

class BList
{
public:
    explicit BList(int32 blockSize = 20) : fBlockSize(blockSize > 0 ? blockSize : 20) {}
    virtual ~BList() = default;

    bool AddItem(void* item);
    bool AddItem(void* item, int32 index);
    bool RemoveItem(void* item);
    void* RemoveItem(int32 index);
    void* ItemAt(int32 index) const;
    int32 IndexOf(void* item) const;
    bool HasItem(void* item) const { return IndexOf(item) >= 0; }
    int32 CountItems() const { return int32(fItems.size()); }
    bool IsEmpty() const { return fItems.empty(); }
    void MakeEmpty() { fItems.clear(); }

private:
    int32 fBlockSize;
    std::vector<void*> fItems;
};
