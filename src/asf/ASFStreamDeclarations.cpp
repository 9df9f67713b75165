// Stream declarations: Stream Properties objects in the header or embedded
// in the Header Extension's Extended Stream Properties, bitrates, mutual
// exclusion, the language list, and the order a player tries streams in.

#include "asf/ASFByteReader.h"
#include "asf/ASFExtractor.h"
#include "asf/ASFObjectIds.h"

#include "platform/support/ByteOrder.h"
#include "platform/support/Debug.h"

#include <algorithm>
#include <cstdlib>

namespace
{

constexpr uint32 kObjectHeaderSize = 24;
constexpr uint32 kStreamPropertiesFields = 54;
constexpr uint32 kVideoFormatPrefix = 11; // encoded width, height, flags, format size
constexpr uint32 kHeaderExtensionFields = 22;
constexpr uint16 kEncryptedFlag = 0x8000;

} // namespace

asf_stream_declaration* CASFExtractor::Declaration(uint16 number)
{
    number &= 0x7F;
    for (asf_stream_declaration& declaration : fInfo.streams) {
        if (declaration.number == number)
            return &declaration;
    }
    fInfo.streams.emplace_back();
    fInfo.streams.back().number = number;
    return &fInfo.streams.back();
}

bool CASFExtractor::RecordStream(const uint8* body, size_t size, int32 declaredIn)
{
    if (size < kStreamPropertiesFields)
        return false;
    guid_t type;
    memcpy(type.data, body, 16);
    uint32 typeDataLength = read_le32(body + 40);
    uint32 errorDataLength = read_le32(body + 44);
    uint16 flags = read_le16(body + 48);
    uint64 rest = size - kStreamPropertiesFields;
    if (uint64(typeDataLength) + errorDataLength > rest)
        return false;
    bool isVideo = type == kVideoStreamGUID;
    if (isVideo && typeDataLength < kVideoFormatPrefix)
        return false;

    uint16 number = flags & 0x7F;
    asf_stream_declaration* declaration = Declaration(number);
    if (declaration->hasProperties) {
        // A second declaration of one number: the first one stands.
        _debugPrintf("ASF stream %u declared twice\n", number);
        return true;
    }
    declaration->hasProperties = true;
    declaration->type = type;
    declaration->declaredIn = declaredIn;
    declaration->encrypted = (flags & kEncryptedFlag) != 0;

    if (!isVideo && type != kAudioStreamGUID) {
        // Commands, images, files: declared, their payloads passed over.
        fStreamByNumber[number] = kNotPlayable;
        return true;
    }
    if (fStreamCount >= kMaxStreams) {
        fStreamByNumber[number] = kNotPlayable;
        return true;
    }

    const uint8* typeData = body + kStreamPropertiesFields;
    uint32 skip = isVideo ? kVideoFormatPrefix : 0;
    uint32 formatSize = typeDataLength - skip;
    void* format = malloc(max_c<uint32>(formatSize, 1));
    if (format == nullptr)
        return false;
    memcpy(format, typeData + skip, formatSize);

    stream_info& info = fStreams[fStreamCount];
    info.type = isVideo ? kVideoStream : kAudioStream;
    info.data = format;
    info.data_size = formatSize;
    info.stream_flags = number;
    info.format_read = isVideo ? read_picture_format(format, formatSize, &info.picture)
                               : read_sound_format(format, formatSize, &info.sound);
    declaration->tableIndex = fStreamCount;
    fStreamByNumber[number] = int16(fStreamCount);
    fStreamCount++;
    return true;
}

void CASFExtractor::ParseHeaderExtension(CASFByteReader& body)
{
    body.Skip(kHeaderExtensionFields - 4);
    uint32 dataSize = body.U32();
    if (body.Failed())
        return;
    size_t end = body.Position() + min_c<size_t>(dataSize, body.Remaining());
    while (end - body.Position() >= kObjectHeaderSize) {
        guid_t id = body.Guid();
        uint64 size = body.U64();
        if (size < kObjectHeaderSize || size - kObjectHeaderSize > end - body.Position())
            return;
        size_t bodySize = size_t(size - kObjectHeaderSize);
        const uint8* objectBody = body.Bytes(bodySize);
        const body_object_row* row = FindBodyObject(id);
        // One level only: an extension inside an extension is passed over.
        if (row != nullptr && row->parse != &CASFExtractor::ParseHeaderExtension) {
            CASFByteReader object(objectBody, bodySize);
            (this->*row->parse)(object);
        }
    }
}

void CASFExtractor::ParseExtendedStreamProperties(CASFByteReader& body)
{
    body.Skip(16); // start and end time
    uint32 dataBitrate = body.U32();
    body.Skip(7 * 4); // buffer sizes, alternate rates, maximum object size, flags
    uint16 number = body.U16() & 0x7F;
    uint16 languageIndex = body.U16();
    uint64 timePerFrame = body.U64();
    uint16 nameCount = body.U16();
    uint16 extensionCount = body.U16();
    if (body.Failed())
        return;
    std::string name;
    for (uint32 i = 0; i < nameCount && !body.Failed(); i++) {
        body.U16(); // the name's language
        std::string text = body.Text(body.U16());
        if (name.empty())
            name = text;
    }
    for (uint32 i = 0; i < extensionCount && !body.Failed(); i++) {
        body.Skip(16 + 2);
        body.Skip(body.U32());
    }
    if (body.Failed())
        return;

    // Streams declared here carry their Stream Properties object inside.
    if (body.Remaining() >= kObjectHeaderSize) {
        guid_t id = body.Guid();
        uint64 size = body.U64();
        if (id == kStreamPropertiesObjectGUID && size >= kObjectHeaderSize &&
            size - kObjectHeaderSize <= body.Remaining()) {
            size_t bodySize = size_t(size - kObjectHeaderSize);
            const uint8* properties = body.Bytes(bodySize);
            if (!RecordStream(properties, bodySize, asf_stream_declaration::kInExtension))
                _debugPrintf("ASF stream %u: damaged stream properties\n", number);
        }
    }
    asf_stream_declaration* declaration = Declaration(number);
    declaration->extensionBitrate = dataBitrate;
    declaration->averageTimePerFrame = timePerFrame;
    declaration->languageIndex = languageIndex;
    declaration->name = name;
}

void CASFExtractor::ParseStreamBitrateProperties(CASFByteReader& body)
{
    uint16 count = body.U16();
    for (uint32 i = 0; i < count; i++) {
        uint16 flags = body.U16();
        uint32 bitrate = body.U32();
        if (body.Failed())
            return;
        Declaration(flags & 0x7F)->listedBitrate = bitrate;
    }
}

int32 CASFExtractor::NewExclusionGroup() const
{
    int32 group = 0;
    for (const asf_stream_declaration& declaration : fInfo.streams)
        group = max_c(group, declaration.exclusionGroup + 1);
    return group;
}

void CASFExtractor::ParseMutualExclusion(CASFByteReader& body)
{
    body.Guid(); // by bitrate, language or unknown: one stream plays either way
    uint16 count = body.U16();
    int32 group = NewExclusionGroup();
    for (uint32 i = 0; i < count; i++) {
        uint16 number = body.U16();
        if (body.Failed())
            return;
        asf_stream_declaration* declaration = Declaration(number);
        int32 previous = declaration->exclusionGroup;
        // A stream in two lists joins the lists into one group.
        for (asf_stream_declaration& other : fInfo.streams) {
            if (previous >= 0 && other.exclusionGroup == previous)
                other.exclusionGroup = group;
        }
        declaration->exclusionGroup = group;
    }
}

void CASFExtractor::ParseGroupMutualExclusion(CASFByteReader& body)
{
    // Records of streams that play together; one record plays. For a
    // player of one sound and one picture this is one group of all.
    body.Guid();
    uint16 records = body.U16();
    int32 group = NewExclusionGroup();
    for (uint32 i = 0; i < records && !body.Failed(); i++) {
        uint16 count = body.U16();
        for (uint32 j = 0; j < count && !body.Failed(); j++) {
            uint16 number = body.U16();
            if (!body.Failed())
                Declaration(number)->exclusionGroup = group;
        }
    }
}

void CASFExtractor::ParseLanguageList(CASFByteReader& body)
{
    uint16 count = body.U16();
    for (uint32 i = 0; i < count; i++) {
        uint8 length = body.U8();
        std::string language = body.Text(length);
        if (body.Failed())
            return;
        fInfo.languages.push_back(language);
    }
}

void CASFExtractor::ParseStreamPrioritization(CASFByteReader& body)
{
    // The streams in the order the file would keep them when bandwidth is
    // short; the player plays one of each kind whatever it says, and shows
    // it.
    uint16 count = body.U16();
    for (uint32 i = 0; i < count; i++) {
        uint16 number = body.U16();
        uint16 flags = body.U16();
        if (body.Failed())
            return;
        asf_stream_declaration* declaration = Declaration(number);
        if (declaration != nullptr && declaration->priority < 0) {
            declaration->priority = int32(i);
            declaration->mandatory = (flags & 1) != 0;
        }
    }
}

void CASFExtractor::ParseEncryption(CASFByteReader&)
{
    // What the keys are does not matter: without them the content is noise.
    fInfo.isProtected = true;
}

void CASFExtractor::FinishStreams()
{
    for (asf_stream_declaration& declaration : fInfo.streams) {
        // The extension's figure; else a sound's own average byte rate
        // (some muxers list one default rate for every stream); else the
        // listed one.
        declaration.bitrate = declaration.extensionBitrate;
        if (declaration.bitrate == 0 && declaration.tableIndex >= 0) {
            const stream_info& info = fStreams[declaration.tableIndex];
            if (info.type == kAudioStream && info.data_size >= 12)
                declaration.bitrate = read_le32(static_cast<const uint8*>(info.data) + 8) * 8;
        }
        if (declaration.bitrate == 0)
            declaration.bitrate = declaration.listedBitrate;
        if (declaration.languageIndex >= 0 &&
            size_t(declaration.languageIndex) < fInfo.languages.size())
            declaration.language = fInfo.languages[size_t(declaration.languageIndex)];
        if (declaration.encrypted)
            fInfo.isProtected = true;
    }
    // The order of the table is the order of declaration; the list too.
    std::stable_sort(fInfo.streams.begin(), fInfo.streams.end(),
                     [](const asf_stream_declaration& a, const asf_stream_declaration& b) {
                         return a.number < b.number;
                     });
}

std::vector<int32> CASFExtractor::StreamsToTry(int32 type) const
{
    std::vector<std::pair<uint32, int32>> candidates;
    for (int32 i = 0; i < fStreamCount; i++) {
        if (fStreams[i].type != type)
            continue;
        const asf_stream_declaration* declaration = fInfo.Stream(fStreams[i].stream_flags);
        candidates.emplace_back(declaration != nullptr ? declaration->bitrate : 0, i);
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const auto& a, const auto& b) { return a > b; });
    std::vector<int32> order;
    for (const auto& candidate : candidates)
        order.push_back(candidate.second);
    return order;
}

const char* asf_stream_kind(const guid_t& type)
{
    if (type == CASFExtractor::kAudioStreamGUID)
        return "audio";
    if (type == CASFExtractor::kVideoStreamGUID)
        return "video";
    if (type == asf_id::kCommandMedia)
        return "command";
    if (type == asf_id::kJFIFMedia || type == asf_id::kDegradableJPEGMedia)
        return "image";
    if (type == asf_id::kFileTransferMedia)
        return "file";
    if (type == asf_id::kBinaryMedia)
        return "binary";
    return "other";
}
