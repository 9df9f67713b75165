#include "asf/ASFAudioTag.h"

#include "asf/ASFExtractor.h"
#include "platform/support/ByteOrder.h"

#include <cstdio>
#include <cstring>

status_t asf_set_audio_format_tag(const char* path, uint16 tag)
{
    FILE* file = path != nullptr ? fopen(path, "r+b") : nullptr;
    if (file == nullptr)
        return B_ENTRY_NOT_FOUND;
    // The header object: GUID, size, object count, two reserved bytes, then
    // its objects, each a GUID and a 64-bit size. A stream properties
    // object's type-specific data (the WAVEFORMATEX) begin 78 bytes in.
    uint8 header[30];
    status_t status = B_BAD_DATA;
    if (fread(header, 1, sizeof(header), file) == sizeof(header) &&
        memcmp(header, CASFExtractor::kHeaderObjectGUID.data, 16) == 0) {
        uint64 headerSize = read_le64(header + 16);
        uint64 at = sizeof(header);
        while (status == B_BAD_DATA && at + 24 <= headerSize) {
            uint8 object[80];
            if (fseek(file, long(at), SEEK_SET) != 0 || fread(object, 1, 24, file) != 24)
                break;
            uint64 size = read_le64(object + 16);
            if (size < 24 || size > headerSize - at)
                break;
            if (memcmp(object, CASFExtractor::kStreamPropertiesObjectGUID.data, 16) == 0 &&
                size >= 80 && fread(object + 24, 1, 56, file) == 56 &&
                memcmp(object + 24, CASFExtractor::kAudioStreamGUID.data, 16) == 0) {
                uint8 bytes[2];
                write_le16(bytes, tag);
                status = fseek(file, long(at + 78), SEEK_SET) == 0 && fwrite(bytes, 1, 2, file) == 2
                             ? B_OK
                             : B_IO_ERROR;
            }
            at += size;
        }
    }
    if (fclose(file) != 0 && status == B_OK)
        status = B_IO_ERROR;
    return status;
}
