// The reader thread, the demultiplexer's callbacks and the seeks.

#include "player/PlayerReader.h"

#include "platform/support/DataIO.h"
#include "player/AudioPath.h"
#include "player/PlaybackClock.h"
#include "player/VideoPath.h"

namespace
{

// How long the reader sleeps when the queues are full or the data ended,
// unless an object taken or a seek wakes it.
constexpr bigtime_t kRoomWait = 20000;
constexpr bigtime_t kIdleWait = 100000;
// A seek that finds no key frame before its target starts this far back,
// then twice as far each time.
constexpr uint32 kBackOffTime = 2000;

} // namespace

CPlayerReader::CPlayerReader(CASFExtractor* extractor, CPlaybackClock* clock)
    : fExtractor(extractor), fClock(clock), fAudio(nullptr), fVideo(nullptr), fAudioStream(-1),
      fVideoStream(-1), fRoom("ReaderRoom"), fSeekRequests(0), fSeekTarget(0), fSeeksSeen(0),
      fGeneration(0), fAtEnd(false), fFoundDuration(0), fSeeking(false), fTarget(0), fSeekOffset(0),
      fBackOffBytes(0), fHaveKey(false), fNeedBackOff(false)
{
}

CPlayerReader::~CPlayerReader() = default;

void CPlayerReader::SetAudio(CAudioPath* audio, int32 stream)
{
    fAudio = audio;
    fAudioStream = stream;
}

void CPlayerReader::SetVideo(CVideoPath* video, int32 stream)
{
    fVideo = video;
    fVideoStream = stream;
}

void CPlayerReader::Start()
{
    fWorker.Start("ReaderThread", [this] { return Thread(); });
}

bool CPlayerReader::DurationUnknown() const
{
    // A broadcast's header was written before its end was known.
    return fExtractor->Info().isBroadcast || fExtractor->PlayDuration() == 0;
}

uint32 CPlayerReader::Duration() const
{
    if (DurationUnknown())
        return fFoundDuration;
    uint64 duration = fExtractor->PlayDuration() / 10000;
    uint64 preroll = fExtractor->Preroll();
    return duration > preroll ? uint32(min_c<uint64>(duration - preroll, UINT32_MAX)) : 0;
}

void CPlayerReader::RequestSeek(uint32 time)
{
    fSeekTarget = time;
    fSeekRequests++;
    fRoom.Wake();
}

void CPlayerReader::StreamFunctionWrapper(int32 stream, BDataIO* source, uint32 size, void* cookie)
{
    static_cast<CPlayerReader*>(cookie)->StreamFunction(stream, source, size);
}

void CPlayerReader::FlushFunctionWrapper(int32 stream, bool, uint32, void* cookie)
{
    static_cast<CPlayerReader*>(cookie)->FlushFunction(stream);
}

void CPlayerReader::SkipFunctionWrapper(int32 stream, void* cookie)
{
    static_cast<CPlayerReader*>(cookie)->SkipFunction(stream);
}

void CPlayerReader::StreamFunction(int32 stream, BDataIO* source, uint32 size)
{
    if (stream >= 0 && (stream == fAudioStream || stream == fVideoStream)) {
        fAssembly[stream].WriteFromStream(source, size);
    } else if (auto* positionable = dynamic_cast<BPositionIO*>(source)) {
        // Not played: stepped over, not read.
        positionable->Seek(off_t(size), SEEK_CUR);
    }
}

void CPlayerReader::FlushFunction(int32 stream)
{
    if (stream < 0 || (stream != fAudioStream && stream != fVideoStream))
        return;
    CVariableBuffer& assembled = fAssembly[stream];
    // The flush at a stream's first payload completes nothing.
    if (assembled.Length() == 0)
        return;
    auto object = std::make_unique<media_object>();
    auto* bytes = static_cast<const uint8*>(assembled.Data());
    object->data.assign(bytes, bytes + assembled.Length());
    object->time = fExtractor->ObjectTime(stream);
    object->keyFrame = fExtractor->ObjectIsKeyFrame(stream);
    object->generation = fGeneration;
    object->showFrom = fTarget;
    assembled.MakeEmpty(true);
    if (object->time > fFoundDuration)
        fFoundDuration = object->time;
    Route(std::move(object), stream == fVideoStream);
}

void CPlayerReader::SkipFunction(int32 stream)
{
    if (stream >= 0 && stream < CASFExtractor::kMaxStreams)
        fAssembly[stream].MakeEmpty(true);
}

bool CPlayerReader::NeedsRoom()
{
    size_t bytes = (fAudio != nullptr ? fAudio->Queue().Bytes() : 0) +
                   (fVideo != nullptr ? fVideo->Queue().Bytes() : 0);
    if (bytes >= kMemoryCap)
        return true;
    if (fAudio != nullptr) {
        if (fAudio->Queue().Span() >= kAheadTime)
            return true;
        // Pictures as far ahead as the sound, with room for a file that
        // interleaves them loosely.
        return fVideo != nullptr && fVideo->Queue().Span() >= 2 * kAheadTime;
    }
    return fVideo != nullptr && fVideo->Queue().Span() >= kAheadTime;
}

void CPlayerReader::Route(std::unique_ptr<media_object> object, bool video)
{
    if (!fSeeking) {
        if (video)
            fVideo->Queue().Push(std::move(object));
        else
            fAudio->Queue().Push(std::move(object));
        return;
    }
    if (!video) {
        // Sound from the object that holds the target on; the audio path
        // cuts what comes before the target.
        if (object->time <= fTarget)
            fHeldAudio.clear();
        bool past = object->time > fTarget;
        fHeldAudio.push_back(std::move(object));
        if (past && fVideo == nullptr)
            EndSeek(false);
        return;
    }
    if (object->keyFrame && object->time <= fTarget) {
        fHeldVideo.clear();
        fHaveKey = true;
    }
    if (object->time < fTarget) {
        // A picture whose key frame was not read is of no use.
        if (fHaveKey)
            fHeldVideo.push_back(std::move(object));
        return;
    }
    if (!fHaveKey && !object->keyFrame && fSeekOffset > fExtractor->DataStart()) {
        fNeedBackOff = true;
        return;
    }
    fHeldVideo.push_back(std::move(object));
    EndSeek(false);
}

void CPlayerReader::EndSeek(bool atEnd)
{
    // Past the last picture, the last picture is shown.
    if (atEnd && !fHeldVideo.empty())
        fHeldVideo.back()->showFrom = fHeldVideo.back()->time;
    for (auto& object : fHeldVideo)
        fVideo->Queue().Push(std::move(object));
    for (auto& object : fHeldAudio)
        fAudio->Queue().Push(std::move(object));
    fHeldVideo.clear();
    fHeldAudio.clear();
    fSeeking = false;
}

uint64 CPlayerReader::StartOffset(uint32 target)
{
    uint64 offset = 0;
    if (fExtractor->IndexedOffset(target, &offset))
        return offset;
    // The last packet sent at or before the target lies in [low, high).
    uint64 low = fExtractor->DataStart(), high = fExtractor->DataEnd();
    uint64 found = low;
    while (high - low > 1) {
        uint64 middle = low + (high - low) / 2;
        uint32 sendTime = 0;
        if (!fExtractor->PacketAt(middle, &offset, &sendTime) || offset >= high) {
            high = middle;
        } else if (sendTime <= target) {
            low = found = offset;
        } else {
            high = middle;
        }
    }
    return found;
}

void CPlayerReader::Restart(uint64 offset)
{
    fSeekOffset = offset;
    fHeldVideo.clear();
    fHeldAudio.clear();
    fHaveKey = false;
    fNeedBackOff = false;
    for (CVariableBuffer& assembled : fAssembly)
        assembled.MakeEmpty(true);
    if (fExtractor->SeekToOffset(offset) != B_OK) {
        fSeekOffset = fExtractor->DataStart();
        fExtractor->SeekToOffset(fSeekOffset);
    }
}

void CPlayerReader::BeginSeek(uint32 target)
{
    uint32 duration = Duration();
    if (duration > 0 && target > duration)
        target = duration;
    fTarget = target;
    uint32 generation = fGeneration + 1;
    if (fAudio != nullptr) {
        fAudio->Queue().Flush();
        fAudio->Seek(generation, target);
    }
    if (fVideo != nullptr) {
        fVideo->Queue().Flush();
        fVideo->Seek(generation);
    }
    fGeneration = generation;
    fClock->Reset(bigtime_t(target) * 1000);
    fAtEnd = false;
    fSeeking = true;
    uint64 bytes = fExtractor->DataEnd() - fExtractor->DataStart();
    fBackOffBytes = duration > 0 ? max_c<uint64>(1, bytes * kBackOffTime / duration) : bytes;
    Restart(StartOffset(target));
}

void CPlayerReader::BackOff()
{
    uint64 start = fExtractor->DataStart();
    uint64 step = fBackOffBytes;
    fBackOffBytes *= 2;
    uint64 offset = start;
    uint32 sendTime = 0;
    if (fSeekOffset > start + step &&
        fExtractor->PacketAt(fSeekOffset - step, &offset, &sendTime) && offset < fSeekOffset) {
        Restart(offset);
        return;
    }
    Restart(start);
}

int32 CPlayerReader::Thread()
{
    uint32 lastSendTime;
    if (DurationUnknown() && fExtractor->LastSendTime(&lastSendTime)) {
        uint64 preroll = fExtractor->Preroll();
        uint32 duration = lastSendTime > preroll ? uint32(lastSendTime - preroll) : 0;
        if (duration > fFoundDuration)
            fFoundDuration = duration;
    }
    while (!has_kill_request()) {
        uint32 requests = fSeekRequests;
        if (requests != fSeeksSeen) {
            fSeeksSeen = requests;
            BeginSeek(fSeekTarget);
            continue;
        }
        if (fAtEnd) {
            // The window stays open on its last picture; a seek goes on.
            fRoom.Wait(kIdleWait);
            continue;
        }
        if (!fSeeking && NeedsRoom()) {
            fRoom.Wait(kRoomWait);
            continue;
        }
        status_t status = fExtractor->ReadOn(StreamFunctionWrapper, FlushFunctionWrapper,
                                             SkipFunctionWrapper, this);
        if (fNeedBackOff) {
            BackOff();
            continue;
        }
        if (status != B_OK) {
            // The data ended before a key frame: the last picture is
            // further back.
            if (fSeeking && fVideo != nullptr && !fHaveKey &&
                fSeekOffset > fExtractor->DataStart()) {
                BackOff();
                continue;
            }
            // At the end of the data, or after a read error.
            if (fSeeking)
                EndSeek(true);
            if (fAudio != nullptr)
                fAudio->Queue().SetEnded();
            if (fVideo != nullptr)
                fVideo->Queue().SetEnded();
            fAtEnd = true;
        }
    }
    return B_OK;
}
