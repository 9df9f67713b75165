#include "platform/app/Message.h"

#include "platform/app/MessageFormat.h"
#include "platform/storage/Entry.h"

#include <climits>
#include <cstring>

size_t BMessage::Field::ItemStart(uint32 index) const
{
    if (fixedSize)
        return size_t(index) * itemSize;
    return index == 0 ? 0 : ends[index - 1];
}

size_t BMessage::Field::ItemSize(uint32 index) const
{
    return fixedSize ? itemSize : ends[index] - ItemStart(index);
}

BMessage::BMessage() : what(0) {}

BMessage::BMessage(uint32 what) : what(what) {}

BMessage::BMessage(const BMessage& other) = default;
BMessage& BMessage::operator=(const BMessage& other) = default;
BMessage::BMessage(BMessage&& other) noexcept = default;
BMessage& BMessage::operator=(BMessage&& other) noexcept = default;
BMessage::~BMessage() = default;

// ---- fields -------------------------------------------------------------------

const BMessage::Field* BMessage::_Find(const char* name) const
{
    if (name == nullptr)
        return nullptr;
    auto found = fIndex.find(name);
    return found == fIndex.end() ? nullptr : &fFields[found->second];
}

BMessage::Field* BMessage::_Find(const char* name)
{
    return const_cast<Field*>(static_cast<const BMessage*>(this)->_Find(name));
}

void BMessage::_Reindex()
{
    fIndex.clear();
    for (size_t i = 0; i < fFields.size(); i++)
        fIndex.emplace(fFields[i].name, i);
}

status_t BMessage::GetInfo(type_code typeRequested, int32 index, const char** nameFound,
                           type_code* typeFound, int32* countFound) const
{
    bool anyOfType = false;
    int32 seen = 0;
    for (const Field& field : fFields) {
        if (typeRequested != B_ANY_TYPE && field.type != typeRequested)
            continue;
        anyOfType = true;
        if (seen++ != index)
            continue;
        if (nameFound != nullptr)
            *nameFound = field.name.c_str();
        if (typeFound != nullptr)
            *typeFound = field.type;
        if (countFound != nullptr)
            *countFound = int32(field.count);
        return B_OK;
    }
    return anyOfType ? B_BAD_INDEX : B_BAD_TYPE;
}

status_t BMessage::GetInfo(type_code typeRequested, int32 index, char** nameFound,
                           type_code* typeFound, int32* countFound) const
{
    const char* name = nullptr;
    status_t status = GetInfo(typeRequested, index, &name, typeFound, countFound);
    if (status == B_OK && nameFound != nullptr)
        *nameFound = const_cast<char*>(name);
    return status;
}

status_t BMessage::GetInfo(const char* name, type_code* typeFound, int32* countFound) const
{
    if (name == nullptr)
        return B_BAD_VALUE;
    const Field* field = _Find(name);
    if (field == nullptr)
        return B_NAME_NOT_FOUND;
    if (typeFound != nullptr)
        *typeFound = field->type;
    if (countFound != nullptr)
        *countFound = int32(field->count);
    return B_OK;
}

status_t BMessage::GetInfo(const char* name, type_code* typeFound, bool* fixedSize) const
{
    if (name == nullptr)
        return B_BAD_VALUE;
    const Field* field = _Find(name);
    if (field == nullptr)
        return B_NAME_NOT_FOUND;
    if (typeFound != nullptr)
        *typeFound = field->type;
    if (fixedSize != nullptr)
        *fixedSize = field->fixedSize;
    return B_OK;
}

int32 BMessage::CountNames(type_code type) const
{
    if (type == B_ANY_TYPE)
        return int32(fFields.size());
    int32 count = 0;
    for (const Field& field : fFields)
        count += field.type == type ? 1 : 0;
    return count;
}

bool BMessage::IsEmpty() const
{
    return fFields.empty();
}

status_t BMessage::MakeEmpty()
{
    fFields.clear();
    fIndex.clear();
    return B_OK;
}

status_t BMessage::RemoveName(const char* name)
{
    if (name == nullptr)
        return B_BAD_VALUE;
    auto found = fIndex.find(name);
    if (found == fIndex.end())
        return B_NAME_NOT_FOUND;
    fFields.erase(fFields.begin() + ptrdiff_t(found->second));
    _Reindex();
    return B_OK;
}

status_t BMessage::RemoveData(const char* name, int32 index)
{
    const Field* found;
    status_t status = _FindItem(name, B_ANY_TYPE, index, &found);
    if (status != B_OK)
        return status;
    if (found->count == 1)
        return RemoveName(name);
    Field* field = const_cast<Field*>(found);
    size_t start = field->ItemStart(uint32(index));
    size_t size = field->ItemSize(uint32(index));
    field->bytes.erase(field->bytes.begin() + ptrdiff_t(start),
                       field->bytes.begin() + ptrdiff_t(start + size));
    if (!field->fixedSize) {
        field->ends.erase(field->ends.begin() + index);
        for (size_t i = size_t(index); i < field->ends.size(); i++)
            field->ends[i] -= size;
    }
    field->count--;
    return B_OK;
}

// ---- adding -----------------------------------------------------------------

status_t BMessage::_AddItem(const char* name, type_code type, const void* data, size_t size,
                            bool isFixedSize, bool checked)
{
    if (name == nullptr || (data == nullptr && size > 0) || size > UINT32_MAX)
        return B_BAD_VALUE;
    Field* field = _Find(name);
    if (field != nullptr) {
        if (field->type != type)
            return B_BAD_TYPE;
        if (field->fixedSize && size != field->itemSize)
            return B_BAD_VALUE;
        if (field->count >= uint32(INT32_MAX))
            return B_NO_MEMORY;
    }
    if (!checked) {
        status_t status = MessageFormat::CheckItem(type, data, size, 0);
        if (status != B_OK)
            return status;
    }
    if (field == nullptr) {
        Field added;
        added.name = name;
        added.type = type;
        added.fixedSize = isFixedSize;
        added.itemSize = isFixedSize ? uint32(size) : 0;
        added.count = 0;
        fFields.push_back(std::move(added));
        fIndex.emplace(fFields.back().name, fFields.size() - 1);
        field = &fFields.back();
    }
    const uint8* bytes = static_cast<const uint8*>(data);
    std::vector<uint8> own;
    uintptr_t start = reinterpret_cast<uintptr_t>(field->bytes.data());
    uintptr_t at = reinterpret_cast<uintptr_t>(bytes);
    if (size > 0 && at >= start && at < start + field->bytes.size()) {
        // An item of this very field: growing the field would move it.
        own.assign(bytes, bytes + size);
        bytes = own.data();
    }
    field->bytes.insert(field->bytes.end(), bytes, bytes + size);
    if (!field->fixedSize)
        field->ends.push_back(field->bytes.size());
    field->count++;
    return B_OK;
}

status_t BMessage::AddData(const char* name, type_code type, const void* data, ssize_t numBytes,
                           bool isFixedSize, int32)
{
    if (numBytes < 0)
        return B_BAD_VALUE;
    return _AddItem(name, type, data, size_t(numBytes), isFixedSize, false);
}

status_t BMessage::AddBool(const char* name, bool value)
{
    uint8 byte = value ? 1 : 0;
    return _AddItem(name, B_BOOL_TYPE, &byte, 1, true, true);
}

status_t BMessage::AddInt8(const char* name, int8 value)
{
    return _AddItem(name, B_INT8_TYPE, &value, sizeof(value), true, true);
}

status_t BMessage::AddInt16(const char* name, int16 value)
{
    return _AddItem(name, B_INT16_TYPE, &value, sizeof(value), true, true);
}

status_t BMessage::AddInt32(const char* name, int32 value)
{
    return _AddItem(name, B_INT32_TYPE, &value, sizeof(value), true, true);
}

status_t BMessage::AddInt64(const char* name, int64 value)
{
    return _AddItem(name, B_INT64_TYPE, &value, sizeof(value), true, true);
}

status_t BMessage::AddUInt32(const char* name, uint32 value)
{
    return _AddItem(name, B_UINT32_TYPE, &value, sizeof(value), true, true);
}

status_t BMessage::AddFloat(const char* name, float value)
{
    return _AddItem(name, B_FLOAT_TYPE, &value, sizeof(value), true, true);
}

status_t BMessage::AddDouble(const char* name, double value)
{
    return _AddItem(name, B_DOUBLE_TYPE, &value, sizeof(value), true, true);
}

status_t BMessage::AddString(const char* name, const char* string)
{
    if (string == nullptr)
        return B_BAD_VALUE;
    return _AddItem(name, B_STRING_TYPE, string, strlen(string) + 1, false, true);
}

status_t BMessage::AddString(const char* name, const std::string& string)
{
    return AddString(name, string.c_str());
}

status_t BMessage::AddPointer(const char* name, const void* pointer)
{
    return _AddItem(name, B_POINTER_TYPE, &pointer, sizeof(pointer), true, true);
}

status_t BMessage::AddRef(const char* name, const entry_ref* ref)
{
    if (ref == nullptr || ref->name == nullptr)
        return B_BAD_VALUE;
    std::vector<uint8> item(MessageFormat::RefSize(*ref));
    MessageFormat::WriteRef(*ref, item.data());
    return _AddItem(name, B_REF_TYPE, item.data(), item.size(), false, false);
}

status_t BMessage::AddMessage(const char* name, const BMessage* message)
{
    if (message == nullptr)
        return B_BAD_VALUE;
    ssize_t size = MessageFormat::FlattenedSize(*message);
    if (size < 0)
        return status_t(size);
    std::vector<uint8> item(static_cast<size_t>(size));
    MessageFormat::Write(*message, item.data());
    return _AddItem(name, B_MESSAGE_TYPE, item.data(), item.size(), false, true);
}

// ---- finding ----------------------------------------------------------------

status_t BMessage::_FindItem(const char* name, type_code type, int32 index,
                             const Field** field) const
{
    if (name == nullptr)
        return B_BAD_VALUE;
    const Field* found = _Find(name);
    if (found == nullptr)
        return B_NAME_NOT_FOUND;
    if (type != B_ANY_TYPE && found->type != type)
        return B_BAD_TYPE;
    if (index < 0 || uint32(index) >= found->count)
        return B_BAD_INDEX;
    *field = found;
    return B_OK;
}

status_t BMessage::FindData(const char* name, type_code type, int32 index, const void** data,
                            ssize_t* numBytes) const
{
    const Field* field;
    status_t status = _FindItem(name, type, index, &field);
    if (status != B_OK)
        return status;
    if (data != nullptr)
        *data = field->bytes.data() + field->ItemStart(uint32(index));
    if (numBytes != nullptr)
        *numBytes = ssize_t(field->ItemSize(uint32(index)));
    return B_OK;
}

status_t BMessage::FindData(const char* name, type_code type, const void** data,
                            ssize_t* numBytes) const
{
    return FindData(name, type, 0, data, numBytes);
}

status_t BMessage::_FindFixed(const char* name, type_code type, int32 index, void* value,
                              size_t size) const
{
    if (value == nullptr)
        return B_BAD_VALUE;
    const Field* field;
    status_t status = _FindItem(name, type, index, &field);
    if (status != B_OK)
        return status;
    if (field->ItemSize(uint32(index)) != size)
        return B_BAD_DATA;
    memcpy(value, field->bytes.data() + field->ItemStart(uint32(index)), size);
    return B_OK;
}

status_t BMessage::FindBool(const char* name, int32 index, bool* value) const
{
    uint8 byte;
    if (value == nullptr)
        return B_BAD_VALUE;
    status_t status = _FindFixed(name, B_BOOL_TYPE, index, &byte, 1);
    if (status == B_OK)
        *value = byte != 0;
    return status;
}

status_t BMessage::FindBool(const char* name, bool* value) const
{
    return FindBool(name, 0, value);
}

#define REELMOTH_FIXED_FINDERS(Name, Type, Code)                                                   \
    status_t BMessage::Find##Name(const char* name, int32 index, Type* value) const                \
    {                                                                                              \
        return _FindFixed(name, Code, index, value, sizeof(Type));                                 \
    }                                                                                              \
    status_t BMessage::Find##Name(const char* name, Type* value) const                             \
    {                                                                                              \
        return _FindFixed(name, Code, 0, value, sizeof(Type));                                     \
    }

REELMOTH_FIXED_FINDERS(Int8, int8, B_INT8_TYPE)
REELMOTH_FIXED_FINDERS(Int16, int16, B_INT16_TYPE)
REELMOTH_FIXED_FINDERS(Int32, int32, B_INT32_TYPE)
REELMOTH_FIXED_FINDERS(Int64, int64, B_INT64_TYPE)
REELMOTH_FIXED_FINDERS(UInt32, uint32, B_UINT32_TYPE)
REELMOTH_FIXED_FINDERS(Float, float, B_FLOAT_TYPE)
REELMOTH_FIXED_FINDERS(Double, double, B_DOUBLE_TYPE)
REELMOTH_FIXED_FINDERS(Pointer, void*, B_POINTER_TYPE)

#undef REELMOTH_FIXED_FINDERS

status_t BMessage::FindString(const char* name, int32 index, const char** string) const
{
    if (string == nullptr)
        return B_BAD_VALUE;
    const void* data;
    status_t status = FindData(name, B_STRING_TYPE, index, &data, nullptr);
    if (status == B_OK)
        *string = static_cast<const char*>(data);
    return status;
}

status_t BMessage::FindString(const char* name, const char** string) const
{
    return FindString(name, 0, string);
}

status_t BMessage::FindString(const char* name, int32 index, std::string* string) const
{
    const char* text;
    if (string == nullptr)
        return B_BAD_VALUE;
    status_t status = FindString(name, index, &text);
    if (status == B_OK)
        *string = text;
    return status;
}

status_t BMessage::FindString(const char* name, std::string* string) const
{
    return FindString(name, 0, string);
}

status_t BMessage::FindRef(const char* name, int32 index, entry_ref* ref) const
{
    if (ref == nullptr)
        return B_BAD_VALUE;
    const void* data;
    ssize_t size;
    status_t status = FindData(name, B_REF_TYPE, index, &data, &size);
    if (status != B_OK)
        return status;
    return MessageFormat::ReadRef(static_cast<const uint8*>(data), size_t(size), ref);
}

status_t BMessage::FindRef(const char* name, entry_ref* ref) const
{
    return FindRef(name, 0, ref);
}

status_t BMessage::FindMessage(const char* name, int32 index, BMessage* message) const
{
    if (message == nullptr)
        return B_BAD_VALUE;
    const void* data;
    ssize_t size;
    status_t status = FindData(name, B_MESSAGE_TYPE, index, &data, &size);
    if (status != B_OK)
        return status;
    BMessage found;
    status = MessageFormat::Parse(static_cast<const uint8*>(data), size_t(size), 0, false, &found);
    if (status == B_OK)
        *message = std::move(found);
    return status;
}

status_t BMessage::FindMessage(const char* name, BMessage* message) const
{
    return FindMessage(name, 0, message);
}

bool BMessage::GetBool(const char* name, bool defaultValue) const
{
    bool value;
    return FindBool(name, &value) == B_OK ? value : defaultValue;
}

int32 BMessage::GetInt32(const char* name, int32 defaultValue) const
{
    int32 value;
    return FindInt32(name, &value) == B_OK ? value : defaultValue;
}

int64 BMessage::GetInt64(const char* name, int64 defaultValue) const
{
    int64 value;
    return FindInt64(name, &value) == B_OK ? value : defaultValue;
}

const char* BMessage::GetString(const char* name, const char* defaultValue) const
{
    const char* value;
    return FindString(name, &value) == B_OK ? value : defaultValue;
}

void* BMessage::GetPointer(const char* name, const void* defaultValue) const
{
    void* value;
    return FindPointer(name, &value) == B_OK ? value : const_cast<void*>(defaultValue);
}

// ---- replacing --------------------------------------------------------------

status_t BMessage::_ReplaceItem(const char* name, type_code type, int32 index, const void* data,
                                size_t size, bool checked)
{
    const Field* found;
    status_t status = _FindItem(name, type, index, &found);
    if (status != B_OK)
        return status;
    if ((data == nullptr && size > 0) || size > UINT32_MAX)
        return B_BAD_VALUE;
    Field* field = const_cast<Field*>(found);
    if (field->fixedSize && size != field->itemSize)
        return B_BAD_VALUE;
    if (!checked) {
        status = MessageFormat::CheckItem(field->type, data, size, 0);
        if (status != B_OK)
            return status;
    }
    size_t start = field->ItemStart(uint32(index));
    size_t oldSize = field->ItemSize(uint32(index));
    const uint8* bytes = static_cast<const uint8*>(data);
    if (size == oldSize) {
        if (size > 0)
            memmove(field->bytes.data() + start, bytes, size);
        return B_OK;
    }
    // Only variable-size items change their size.
    std::vector<uint8> replaced;
    replaced.reserve(field->bytes.size() - oldSize + size);
    replaced.insert(replaced.end(), field->bytes.begin(), field->bytes.begin() + ptrdiff_t(start));
    replaced.insert(replaced.end(), bytes, bytes + size);
    replaced.insert(replaced.end(), field->bytes.begin() + ptrdiff_t(start + oldSize),
                    field->bytes.end());
    field->bytes = std::move(replaced);
    for (size_t i = size_t(index); i < field->ends.size(); i++)
        field->ends[i] = field->ends[i] - oldSize + size;
    return B_OK;
}

status_t BMessage::ReplaceData(const char* name, type_code type, int32 index, const void* data,
                               ssize_t numBytes)
{
    if (numBytes < 0)
        return B_BAD_VALUE;
    return _ReplaceItem(name, type, index, data, size_t(numBytes), false);
}

status_t BMessage::ReplaceData(const char* name, type_code type, const void* data, ssize_t numBytes)
{
    return ReplaceData(name, type, 0, data, numBytes);
}

status_t BMessage::ReplaceBool(const char* name, int32 index, bool value)
{
    uint8 byte = value ? 1 : 0;
    return _ReplaceItem(name, B_BOOL_TYPE, index, &byte, 1, true);
}

status_t BMessage::ReplaceBool(const char* name, bool value)
{
    return ReplaceBool(name, 0, value);
}

status_t BMessage::ReplaceInt32(const char* name, int32 index, int32 value)
{
    return _ReplaceItem(name, B_INT32_TYPE, index, &value, sizeof(value), true);
}

status_t BMessage::ReplaceInt32(const char* name, int32 value)
{
    return ReplaceInt32(name, 0, value);
}

status_t BMessage::ReplaceInt64(const char* name, int32 index, int64 value)
{
    return _ReplaceItem(name, B_INT64_TYPE, index, &value, sizeof(value), true);
}

status_t BMessage::ReplaceInt64(const char* name, int64 value)
{
    return ReplaceInt64(name, 0, value);
}

status_t BMessage::ReplaceString(const char* name, int32 index, const char* string)
{
    if (string == nullptr)
        return B_BAD_VALUE;
    return _ReplaceItem(name, B_STRING_TYPE, index, string, strlen(string) + 1, true);
}

status_t BMessage::ReplaceString(const char* name, const char* string)
{
    return ReplaceString(name, 0, string);
}

status_t BMessage::ReplacePointer(const char* name, int32 index, const void* pointer)
{
    return _ReplaceItem(name, B_POINTER_TYPE, index, &pointer, sizeof(pointer), true);
}

status_t BMessage::ReplacePointer(const char* name, const void* pointer)
{
    return ReplacePointer(name, 0, pointer);
}

status_t BMessage::ReplaceRef(const char* name, int32 index, const entry_ref* ref)
{
    if (ref == nullptr || ref->name == nullptr)
        return B_BAD_VALUE;
    std::vector<uint8> item(MessageFormat::RefSize(*ref));
    MessageFormat::WriteRef(*ref, item.data());
    return _ReplaceItem(name, B_REF_TYPE, index, item.data(), item.size(), false);
}

status_t BMessage::ReplaceRef(const char* name, const entry_ref* ref)
{
    return ReplaceRef(name, 0, ref);
}

status_t BMessage::ReplaceMessage(const char* name, int32 index, const BMessage* message)
{
    if (message == nullptr)
        return B_BAD_VALUE;
    ssize_t size = MessageFormat::FlattenedSize(*message);
    if (size < 0)
        return status_t(size);
    std::vector<uint8> item(static_cast<size_t>(size));
    MessageFormat::Write(*message, item.data());
    return _ReplaceItem(name, B_MESSAGE_TYPE, index, item.data(), item.size(), true);
}

status_t BMessage::ReplaceMessage(const char* name, const BMessage* message)
{
    return ReplaceMessage(name, 0, message);
}

// ---- testing ----------------------------------------------------------------

bool BMessage::HasData(const char* name, type_code type, int32 index) const
{
    const Field* field;
    return _FindItem(name, type, index, &field) == B_OK;
}

bool BMessage::HasBool(const char* name, int32 index) const
{
    return HasData(name, B_BOOL_TYPE, index);
}

bool BMessage::HasInt32(const char* name, int32 index) const
{
    return HasData(name, B_INT32_TYPE, index);
}

bool BMessage::HasInt64(const char* name, int32 index) const
{
    return HasData(name, B_INT64_TYPE, index);
}

bool BMessage::HasString(const char* name, int32 index) const
{
    return HasData(name, B_STRING_TYPE, index);
}

bool BMessage::HasPointer(const char* name, int32 index) const
{
    return HasData(name, B_POINTER_TYPE, index);
}

bool BMessage::HasRef(const char* name, int32 index) const
{
    return HasData(name, B_REF_TYPE, index);
}

bool BMessage::HasMessage(const char* name, int32 index) const
{
    return HasData(name, B_MESSAGE_TYPE, index);
}
