// The flattened form of BMessage and the rules every item obeys; internal to
// the platform (docs/message-format.md describes the bytes).
#pragma once

#include "platform/app/Message.h"

class MessageFormat
{
public:
    // Nested messages deeper than this are refused when unflattening, so
    // that walking a message can never exhaust the stack.
    static constexpr int kMaxDepth = 1000;
    static constexpr size_t kHeaderSize = 16;

    // B_OK when `size` bytes of `data` are a valid item of `type`: numbers
    // of their exact size, NUL-terminated strings, parseable refs and
    // messages (checked down to kMaxDepth levels below `depth`).
    static status_t CheckItem(type_code type, const void* data, size_t size, int depth);

    // The flattened size; B_NO_MEMORY beyond what the form can express.
    static ssize_t FlattenedSize(const BMessage& message);
    // Writes exactly FlattenedSize() bytes.
    static void Write(const BMessage& message, uint8* out);
    // Parses a whole flattened message of exactly `size` bytes into `into`
    // (or only checks it when `into` is null). With `checkNested` false the
    // nested message items are taken as they are (they were checked when
    // they were added).
    static status_t Parse(const uint8* data, size_t size, int depth, bool checkNested,
                          BMessage* into);
    // The body size a header announces, or B_BAD_DATA.
    static ssize_t BodySize(const uint8* header);

    // The item form of an entry_ref.
    static size_t RefSize(const entry_ref& ref);
    static void WriteRef(const entry_ref& ref, uint8* out);
    static status_t ReadRef(const uint8* data, size_t size, entry_ref* ref);
};
