// A message: a `what` code and named fields, each holding one or more items
// of one type, enumerated in the order in which the fields were added.
//
// Items of the types that the typed accessors read are always well formed:
// numbers have their exact size, strings end with a NUL, refs and nested
// messages parse. Adding or unflattening anything else is refused, so a
// message never hands out a malformed item. The flattened form is described
// in docs/message-format.md.
#pragma once

#include "platform/support/DataIO.h"
#include "platform/support/TypeConstants.h"

#include <string>
#include <unordered_map>
#include <vector>

struct entry_ref;

class BMessage
{
public:
    uint32 what;

    BMessage();
    explicit BMessage(uint32 what);
    BMessage(const BMessage& other);
    BMessage& operator=(const BMessage& other);
    BMessage(BMessage&& other) noexcept;
    BMessage& operator=(BMessage&& other) noexcept;
    virtual ~BMessage();

    // ---- fields -----------------------------------------------------------

    // The index-th field whose type is `typeRequested` (B_ANY_TYPE: any
    // field), counting in the order of addition. B_BAD_TYPE when no field
    // has that type, B_BAD_INDEX when the index is past the last one. The
    // name stays valid until the field is removed or the message changes.
    status_t GetInfo(type_code typeRequested, int32 index, char** nameFound, type_code* typeFound,
                     int32* countFound = nullptr) const;
    status_t GetInfo(type_code typeRequested, int32 index, const char** nameFound,
                     type_code* typeFound, int32* countFound = nullptr) const;
    // B_NAME_NOT_FOUND when there is no field of that name.
    status_t GetInfo(const char* name, type_code* typeFound, int32* countFound = nullptr) const;
    status_t GetInfo(const char* name, type_code* typeFound, bool* fixedSize) const;

    int32 CountNames(type_code type) const;
    bool IsEmpty() const;
    status_t MakeEmpty();
    status_t RemoveName(const char* name);
    // Removes one item; a field that loses its last item is removed.
    status_t RemoveData(const char* name, int32 index = 0);

    // A readable dump on standard output, nested messages indented.
    void PrintToStream() const;

    // ---- flattening ---------------------------------------------------------

    ssize_t FlattenedSize() const;
    status_t Flatten(char* buffer, ssize_t size) const;
    // Writes FlattenedSize() bytes; `size`, when given, receives the count.
    status_t Flatten(BDataIO* stream, ssize_t* size = nullptr) const;
    // Both replace the contents. Malformed or truncated input is refused
    // (B_BAD_DATA, or the stream's error) and leaves the message empty;
    // memory taken is bounded by the bytes actually read.
    status_t Unflatten(const char* buffer, ssize_t size);
    status_t Unflatten(BDataIO* stream);

    // ---- adding -------------------------------------------------------------

    // Appends an item; the field is created with `type` and `isFixedSize`
    // on first use. B_BAD_TYPE if the field exists with another type,
    // B_BAD_VALUE for a null name, a size that differs from a fixed-size
    // field's or one that the type does not allow. `count` is a hint only.
    status_t AddData(const char* name, type_code type, const void* data, ssize_t numBytes,
                     bool isFixedSize = true, int32 count = 1);
    status_t AddBool(const char* name, bool value);
    status_t AddInt8(const char* name, int8 value);
    status_t AddInt16(const char* name, int16 value);
    status_t AddInt32(const char* name, int32 value);
    status_t AddInt64(const char* name, int64 value);
    status_t AddUInt32(const char* name, uint32 value);
    status_t AddFloat(const char* name, float value);
    status_t AddDouble(const char* name, double value);
    status_t AddString(const char* name, const char* string);
    status_t AddString(const char* name, const std::string& string);
    status_t AddPointer(const char* name, const void* pointer);
    status_t AddRef(const char* name, const entry_ref* ref);
    status_t AddMessage(const char* name, const BMessage* message);

    // ---- finding ------------------------------------------------------------

    // B_NAME_NOT_FOUND, B_BAD_TYPE or B_BAD_INDEX when the item is not
    // there. FindData with B_ANY_TYPE matches a field of any type; the
    // returned bytes stay valid until the message changes.
    status_t FindData(const char* name, type_code type, int32 index, const void** data,
                      ssize_t* numBytes) const;
    status_t FindData(const char* name, type_code type, const void** data, ssize_t* numBytes) const;
    status_t FindBool(const char* name, int32 index, bool* value) const;
    status_t FindBool(const char* name, bool* value) const;
    status_t FindInt8(const char* name, int32 index, int8* value) const;
    status_t FindInt8(const char* name, int8* value) const;
    status_t FindInt16(const char* name, int32 index, int16* value) const;
    status_t FindInt16(const char* name, int16* value) const;
    status_t FindInt32(const char* name, int32 index, int32* value) const;
    status_t FindInt32(const char* name, int32* value) const;
    status_t FindInt64(const char* name, int32 index, int64* value) const;
    status_t FindInt64(const char* name, int64* value) const;
    status_t FindUInt32(const char* name, int32 index, uint32* value) const;
    status_t FindUInt32(const char* name, uint32* value) const;
    status_t FindFloat(const char* name, int32 index, float* value) const;
    status_t FindFloat(const char* name, float* value) const;
    status_t FindDouble(const char* name, int32 index, double* value) const;
    status_t FindDouble(const char* name, double* value) const;
    status_t FindString(const char* name, int32 index, const char** string) const;
    status_t FindString(const char* name, const char** string) const;
    status_t FindString(const char* name, int32 index, std::string* string) const;
    status_t FindString(const char* name, std::string* string) const;
    status_t FindPointer(const char* name, int32 index, void** pointer) const;
    status_t FindPointer(const char* name, void** pointer) const;
    status_t FindRef(const char* name, int32 index, entry_ref* ref) const;
    status_t FindRef(const char* name, entry_ref* ref) const;
    status_t FindMessage(const char* name, int32 index, BMessage* message) const;
    status_t FindMessage(const char* name, BMessage* message) const;

    // The item's value, or `defaultValue` when it is not there.
    bool GetBool(const char* name, bool defaultValue = false) const;
    int32 GetInt32(const char* name, int32 defaultValue) const;
    int64 GetInt64(const char* name, int64 defaultValue) const;
    const char* GetString(const char* name, const char* defaultValue = nullptr) const;
    void* GetPointer(const char* name, const void* defaultValue = nullptr) const;

    // ---- replacing ----------------------------------------------------------

    // Replaces an existing item; the same errors as the finders, and
    // B_BAD_VALUE for a size that the field or the type does not allow.
    status_t ReplaceData(const char* name, type_code type, int32 index, const void* data,
                         ssize_t numBytes);
    status_t ReplaceData(const char* name, type_code type, const void* data, ssize_t numBytes);
    status_t ReplaceBool(const char* name, int32 index, bool value);
    status_t ReplaceBool(const char* name, bool value);
    status_t ReplaceInt32(const char* name, int32 index, int32 value);
    status_t ReplaceInt32(const char* name, int32 value);
    status_t ReplaceInt64(const char* name, int32 index, int64 value);
    status_t ReplaceInt64(const char* name, int64 value);
    status_t ReplaceString(const char* name, int32 index, const char* string);
    status_t ReplaceString(const char* name, const char* string);
    status_t ReplacePointer(const char* name, int32 index, const void* pointer);
    status_t ReplacePointer(const char* name, const void* pointer);
    status_t ReplaceRef(const char* name, int32 index, const entry_ref* ref);
    status_t ReplaceRef(const char* name, const entry_ref* ref);
    status_t ReplaceMessage(const char* name, int32 index, const BMessage* message);
    status_t ReplaceMessage(const char* name, const BMessage* message);

    // ---- testing ------------------------------------------------------------

    // True when item `index` of a field `name` of that type exists
    // (B_ANY_TYPE: of any type).
    bool HasData(const char* name, type_code type, int32 index = 0) const;
    bool HasBool(const char* name, int32 index = 0) const;
    bool HasInt32(const char* name, int32 index = 0) const;
    bool HasInt64(const char* name, int32 index = 0) const;
    bool HasString(const char* name, int32 index = 0) const;
    bool HasPointer(const char* name, int32 index = 0) const;
    bool HasRef(const char* name, int32 index = 0) const;
    bool HasMessage(const char* name, int32 index = 0) const;

private:
    struct Field {
        std::string name;
        type_code type;
        bool fixedSize;
        uint32 itemSize;          // fixed-size fields: the size of every item
        uint32 count;             // number of items, at least 1
        std::vector<uint8> bytes; // the items back to back
        std::vector<size_t> ends; // variable-size fields: where each item ends

        size_t ItemStart(uint32 index) const;
        size_t ItemSize(uint32 index) const;
    };

    friend class MessageFormat;

    const Field* _Find(const char* name) const;
    Field* _Find(const char* name);
    status_t _FindItem(const char* name, type_code type, int32 index, const Field** field) const;
    status_t _FindFixed(const char* name, type_code type, int32 index, void* value,
                        size_t size) const;
    status_t _AddItem(const char* name, type_code type, const void* data, size_t size,
                      bool isFixedSize, bool checked);
    status_t _ReplaceItem(const char* name, type_code type, int32 index, const void* data,
                          size_t size, bool checked);
    void _Reindex();
    void _Print(int indent) const;

    std::vector<Field> fFields;
    std::unordered_map<std::string, size_t> fIndex;
};
