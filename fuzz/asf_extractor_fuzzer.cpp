// Feeds arbitrary bytes to the ASF header parser and packet reader, with
// callbacks that collect payloads the way the player does.
#include "asf/ASFExtractor.h"
#include "asf/VariableBuffer.h"
#include "platform/support/DataIO.h"

#include <cstddef>
#include <cstdint>

namespace
{

struct Sink {
    CVariableBuffer buffers[CASFExtractor::kMaxStreams];
};

void Stream(int32 stream, BDataIO* io, uint32 length, void* cookie)
{
    Sink* sink = static_cast<Sink*>(cookie);
    if (stream == 0)
        sink->buffers[0].WriteFromStream(io, length);
    else if (BPositionIO* positionIO = dynamic_cast<BPositionIO*>(io))
        positionIO->Seek(length, SEEK_CUR);
}

void Flush(int32 stream, bool, uint32, void* cookie)
{
    static_cast<Sink*>(cookie)->buffers[stream].MakeEmpty(true);
}

void Skip(int32 stream, void* cookie)
{
    static_cast<Sink*>(cookie)->buffers[stream].MakeEmpty(true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    BMemoryIO io(static_cast<const void*>(data), size);
    CASFExtractor extractor(&io);
    if (extractor.InitCheck() != B_OK)
        return 0;
    for (int32 i = 0; i < extractor.CountStreams(); i++) {
        const CASFExtractor::stream_info* info = extractor.StreamInfoAt(i);
        // Touch every byte of the format block the player would read.
        volatile uint8_t sum = 0;
        for (uint32 j = 0; j < info->data_size; j++)
            sum = sum + static_cast<const uint8_t*>(info->data)[j];
    }
    // What the player and the tools read of the header beyond the streams.
    const asf_file_info& info = extractor.Info();
    asf_picture picture;
    info.Picture(&picture);
    volatile size_t seen = info.DisplayTitle().size() + extractor.StreamsToTry(0).size();
    (void)seen;
    uint32 lastSendTime = 0;
    extractor.LastSendTime(&lastSendTime);
    Sink sink;
    // Every packet takes at least one byte, so this bound is never what ends a
    // well-behaved walk.
    for (size_t packets = 0; packets <= size; packets++) {
        if (extractor.ReadOn(Stream, Flush, Skip, &sink) != B_OK)
            break;
    }
    // Seeking as the player does: the index, then a packet found from a
    // byte in the middle of the data, and reading on from there.
    uint64 offset = 0;
    uint32 sendTime = 0;
    if (extractor.IndexedOffset(1000, &offset))
        extractor.SeekToOffset(offset);
    uint64 middle = extractor.DataStart() + (extractor.DataEnd() - extractor.DataStart()) / 2;
    if (extractor.PacketAt(middle, &offset, &sendTime) && extractor.SeekToOffset(offset) == B_OK) {
        for (size_t packets = 0; packets <= size; packets++) {
            if (extractor.ReadOn(Stream, Flush, Skip, &sink) != B_OK)
                break;
        }
    }
    return 0;
}
