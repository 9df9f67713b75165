#include "asf/ASFExtractor.h"

#include "asf/ASFByteReader.h"
#include "asf/ASFObjectIds.h"

#include "platform/support/BufferIO.h"
#include "platform/support/ByteOrder.h"
#include "platform/support/Debug.h"
#include "platform/support/TypeConstants.h"
#include "platform/support/UTF8.h"

#include <cstdlib>
#include <new>

namespace
{

constexpr uint32 kObjectHeaderSize = 24;
constexpr uint32 kHeaderObjectFields = 6;
constexpr uint32 kPropertiesFields = 80;
constexpr uint32 kStreamPropertiesFields = 54;
constexpr uint32 kDataObjectFields = 26; // file ID, total packets, reserved
constexpr size_t kReadChunk = 64 * 1024;

} // namespace

const guid_t CASFExtractor::kHeaderObjectGUID = make_guid("75B22630-668E-11CF-A6D9-00AA0062CE6C");
const guid_t CASFExtractor::kPropertiesObjectGUID =
    make_guid("8CABDCA1-A947-11CF-8EE4-00C00C205365");
const guid_t CASFExtractor::kContentDescriptionObjectGUID = asf_id::kContentDescription;
const guid_t CASFExtractor::kHeaderExtensionObjectGUID = asf_id::kHeaderExtension;
const guid_t CASFExtractor::kStreamPropertiesObjectGUID =
    make_guid("B7DC0791-A9B7-11CF-8EE6-00C00C205365");
const guid_t CASFExtractor::kCodecObjectGUID = make_guid("86D15240-311D-11D0-A3A4-00A0C90348F6");
const guid_t CASFExtractor::kDataObjectGUID = make_guid("75B22636-668E-11CF-A6D9-00AA0062CE6C");
const guid_t CASFExtractor::kAudioStreamGUID = make_guid("F8699E40-5B4D-11CF-A8FD-00805F5C442B");
const guid_t CASFExtractor::kVideoStreamGUID = make_guid("BC19EFC0-5B4D-11CF-A8FD-00805F5C442B");

const CASFExtractor::header_object_row CASFExtractor::kHeaderObjects[] = {
    {kPropertiesObjectGUID, &CASFExtractor::ParsePropertiesObject},
    {kStreamPropertiesObjectGUID, &CASFExtractor::ParseStreamPropertiesObject},
    {kCodecObjectGUID, &CASFExtractor::ParseCodecObject},
};

const CASFExtractor::body_object_row CASFExtractor::kBodyObjects[] = {
    {asf_id::kHeaderExtension, &CASFExtractor::ParseHeaderExtension},
    {asf_id::kContentDescription, &CASFExtractor::ParseContentDescription},
    {asf_id::kExtendedContentDescription, &CASFExtractor::ParseExtendedContentDescription},
    {asf_id::kStreamBitrateProperties, &CASFExtractor::ParseStreamBitrateProperties},
    {asf_id::kBitrateMutualExclusion, &CASFExtractor::ParseMutualExclusion},
    {asf_id::kMarker, &CASFExtractor::ParseMarkers},
    {asf_id::kScriptCommand, &CASFExtractor::ParseScriptCommands},
    {asf_id::kContentEncryption, &CASFExtractor::ParseEncryption},
    {asf_id::kExtendedContentEncryption, &CASFExtractor::ParseEncryption},
    // Inside the header extension.
    {asf_id::kExtendedStreamProperties, &CASFExtractor::ParseExtendedStreamProperties},
    {asf_id::kAdvancedMutualExclusion, &CASFExtractor::ParseMutualExclusion},
    {asf_id::kGroupMutualExclusion, &CASFExtractor::ParseGroupMutualExclusion},
    {asf_id::kLanguageList, &CASFExtractor::ParseLanguageList},
    {asf_id::kStreamPrioritization, &CASFExtractor::ParseStreamPrioritization},
    {asf_id::kMetadata, &CASFExtractor::ParseMetadata},
    {asf_id::kMetadataLibrary, &CASFExtractor::ParseMetadataLibrary},
    {asf_id::kAdvancedContentEncryption, &CASFExtractor::ParseEncryption},
};

const CASFExtractor::body_object_row* CASFExtractor::FindBodyObject(const guid_t& id)
{
    return find_object_row(kBodyObjects, id);
}

CASFExtractor::CASFExtractor(BDataIO* stream)
    : fStream(stream), fInitStatus(-1), fPlayDuration(0), fMinPacketSize(0),
      fMaxPacketSize(0), fStreams{}, fStreamCount(0), fStreamByNumber{}, fUndeclaredPayloads(0),
      fPreroll(0), fHasProperties(false), fOffset(0), fDataStart(0), fDataEnd(0), fTotalPackets(0),
      fPacketsRead(0), fIO(nullptr), fReadStatus(B_OK), fTruncated(false),
      fLastSendTime(0), fObjectTime{}, fCompletedTime{}, fObjectKey{}, fCompletedKey{},
      fIndexRead(false), fIndexInterval(0)
{
    status_t status = Sniff();
    fInitStatus = status < 0 ? status : B_OK;
}

CASFExtractor::~CASFExtractor()
{
    delete fIO;
    for (int32 i = 0; i < fStreamCount; i++)
        free(fStreams[i].data);
}

status_t CASFExtractor::Sniff()
{
    fStreamCount = 0;
    for (int16& index : fStreamByNumber)
        index = kUndeclared;
    if (fStream == nullptr || !ParseRoot())
        return -1;
    FinishStreams();
    FinishMarkers();
    for (int32 i = 0; i < fStreamCount; i++) {
        fStreams[i].object_number = 0;
        fStreams[i].new_object = true;
        fStreams[i].object_offset = 0;
        fStreams[i].object_broken = false;
    }
    return B_OK;
}

bool CASFExtractor::ReadExact(void* buffer, size_t size)
{
    ssize_t got = fStream->Read(buffer, size);
    if (got < 0 || size_t(got) != size)
        return false;
    fOffset += size;
    return true;
}

bool CASFExtractor::ReadObjectHeader(guid_t* guid, uint64* size)
{
    uint8 header[kObjectHeaderSize];
    if (!ReadExact(header, sizeof(header)))
        return false;
    memcpy(guid->data, header, 16);
    *size = read_le64(header + 16);
    return true;
}

// Reads `size` bytes into a new malloc'd block, growing it as data arrives,
// so that a declared length the file cannot hold never costs more memory
// than the file does.
void* CASFExtractor::ReadBlock(size_t size)
{
    char* block = nullptr;
    size_t done = 0;
    while (done < size || block == nullptr) {
        size_t chunk = min_c(size - done, kReadChunk);
        char* grown = static_cast<char*>(realloc(block, max_c<size_t>(done + chunk, 1)));
        if (grown == nullptr) {
            free(block);
            return nullptr;
        }
        block = grown;
        if (chunk == 0)
            break;
        if (!ReadExact(block + done, chunk)) {
            free(block);
            return nullptr;
        }
        done += chunk;
    }
    return block;
}

bool CASFExtractor::Skip(uint64 count)
{
    if (count == 0)
        return true;
    BPositionIO* positionIO = fIO != nullptr ? fIO : dynamic_cast<BPositionIO*>(fStream);
    if (positionIO != nullptr) {
        if (count > uint64(INT64_MAX) || positionIO->Seek(off_t(count), SEEK_CUR) < 0)
            return false;
        fOffset += count;
        return true;
    }
    // A stream that cannot seek is read through a small scratch block.
    char scratch[4096];
    while (count > 0) {
        size_t chunk = size_t(min_c<uint64>(count, sizeof(scratch)));
        if (!ReadExact(scratch, chunk))
            return false;
        count -= chunk;
    }
    return true;
}

bool CASFExtractor::SkipTo(uint64 offset)
{
    return offset >= fOffset && Skip(offset - fOffset);
}

bool CASFExtractor::ParseRoot()
{
    guid_t guid;
    uint64 size;
    if (!ReadObjectHeader(&guid, &size) || guid != kHeaderObjectGUID)
        return false;
    if (!ParseHeaderObject(size))
        return false;

    uint64 dataObjectStart = fOffset;
    if (!ReadObjectHeader(&guid, &size) || guid != kDataObjectGUID)
        return false;
    uint8 fields[kDataObjectFields];
    if (!ReadExact(fields, sizeof(fields)))
        return false;

    fDataStart = fOffset;
    // The data object's size marks the end of the packets; broadcast files
    // leave it 0, and then the packet count (when given) does.
    if (size >= kObjectHeaderSize + kDataObjectFields)
        fDataEnd = dataObjectStart + size;
    fTotalPackets = read_le64(fields + 16);
    return true;
}

bool CASFExtractor::ParseHeaderObject(uint64 size)
{
    uint64 start = fOffset - kObjectHeaderSize;
    if (size < kObjectHeaderSize + kHeaderObjectFields || size > UINT64_MAX - start)
        return false;
    uint64 end = start + size;

    uint8 fields[kHeaderObjectFields];
    if (!ReadExact(fields, sizeof(fields)))
        return false;
    uint32 count = read_le32(fields);

    for (uint32 i = 0; i < count; i++) {
        uint64 objectStart = fOffset;
        guid_t guid;
        uint64 objectSize;
        if (end - objectStart < kObjectHeaderSize || !ReadObjectHeader(&guid, &objectSize))
            return false;
        // Every object lies inside the header and consumes exactly its size.
        if (objectSize < kObjectHeaderSize || objectSize > end - objectStart)
            return false;

        bool ok;
        if (const header_object_row* row = find_object_row(kHeaderObjects, guid))
            ok = (this->*row->parse)(objectSize);
        else if (const body_object_row* bodyRow = FindBodyObject(guid))
            ok = ParseBodyObject(*bodyRow, objectSize);
        else
            ok = Skip(objectSize - kObjectHeaderSize);
        if (!ok || !SkipTo(objectStart + objectSize))
            return false;
    }
    return SkipTo(end);
}

bool CASFExtractor::ParsePropertiesObject(uint64 size)
{
    if (size < kObjectHeaderSize + kPropertiesFields)
        return false;
    uint8 fields[kPropertiesFields];
    if (!ReadExact(fields, sizeof(fields)))
        return false;

    fPlayDuration = read_le64(fields + 40);
    _debugPrintf("play_duration: %3.2f secs\n", double(fPlayDuration) / 10000000.0);
    uint64 sendDuration = read_le64(fields + 48);
    _debugPrintf("send_duration: %3.2f secs\n", double(sendDuration) / 10000000.0);
    fPreroll = read_le64(fields + 56);
    _debugPrintf("preroll: %3.2f secs\n", double(fPreroll) / 1000.0);
    fInfo.isBroadcast = (read_le32(fields + 64) & 1) != 0;
    fMinPacketSize = read_le32(fields + 68);
    fMaxPacketSize = read_le32(fields + 72);
    fHasProperties = true;
    return true;
}

bool CASFExtractor::ParseBodyObject(const body_object_row& row, uint64 size)
{
    uint64 bodySize = size - kObjectHeaderSize;
    if (bodySize > SIZE_MAX)
        return false;
    auto* body = static_cast<uint8*>(ReadBlock(size_t(bodySize)));
    if (body == nullptr)
        return false;
    CASFByteReader reader(body, size_t(bodySize));
    (this->*row.parse)(reader);
    free(body);
    return true;
}

bool CASFExtractor::ParseStreamPropertiesObject(uint64 size)
{
    uint64 bodySize = size - kObjectHeaderSize;
    if (bodySize < kStreamPropertiesFields || bodySize > SIZE_MAX)
        return false;
    auto* body = static_cast<uint8*>(ReadBlock(size_t(bodySize)));
    if (body == nullptr)
        return false;
    bool ok = RecordStream(body, size_t(bodySize), asf_stream_declaration::kInHeader);
    free(body);
    return ok;
}

bool CASFExtractor::ParseCodecObject(uint64 size)
{
    uint64 end = fOffset - kObjectHeaderSize + size;
    uint8 fields[20];
    if (size < kObjectHeaderSize + sizeof(fields) || !ReadExact(fields, sizeof(fields)))
        return false;
    uint32 count = read_le32(fields + 16);

    for (uint32 i = 0; i < count; i++) {
        uint8 type[2];
        if (end - fOffset < 2 || !ReadExact(type, 2))
            return false;
        for (int text = 0; text < 2; text++) {
            uint8 lengthField[2];
            if (end - fOffset < 2 || !ReadExact(lengthField, 2))
                return false;
            uint32 bytes = uint32(read_le16(lengthField)) * 2;
            if (bytes > end - fOffset)
                return false;
            char* utf16 = static_cast<char*>(ReadBlock(bytes));
            char* utf8 = static_cast<char*>(malloc(bytes * 2 + 1));
            if (utf16 == nullptr || utf8 == nullptr) {
                free(utf16);
                free(utf8);
                return false;
            }
            swap_data(B_INT16_TYPE, utf16, bytes, B_SWAP_HOST_TO_BENDIAN);
            int32 srcLength = int32(bytes);
            int32 dstLength = int32(bytes * 2);
            int32 state = 0;
            if (convert_to_utf8(B_UNICODE_CONVERSION, utf16, &srcLength, utf8, &dstLength, &state,
                                B_SUBSTITUTE) != B_OK)
                dstLength = 0;
            utf8[dstLength] = '\0';
            _debugPrintf("%s\n", utf8);
            if (text == 0 && dstLength > 0)
                fInfo.codecs.emplace_back(utf8);
            free(utf16);
            free(utf8);
        }
        uint8 infoLength[2];
        if (end - fOffset < 2 || !ReadExact(infoLength, 2))
            return false;
        uint16 skip = read_le16(infoLength);
        if (skip > end - fOffset || !Skip(skip))
            return false;
    }
    return true;
}
