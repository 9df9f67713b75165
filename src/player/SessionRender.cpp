// Rendering a session: its streams' objects read in file order and decoded
// at once into the sinks, with no clock and no threads.

#include "player/PlaybackSession.h"

#include "asf/ASFExtractor.h"
#include "asf/VariableBuffer.h"
#include "platform/media/MediaDecoder.h"
#include "platform/storage/File.h"
#include "player/MediaQueue.h"
#include "player/PictureDecoder.h"
#include "player/SoundDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

namespace
{

// Pictures read ahead to find the frame rate.
constexpr size_t kRateSample = 60;

// Collects the objects of the chosen streams as the extractor completes
// them.
struct object_collector {
    int32 streams[2] = {-1, -1};
    std::vector<uint8> pending[2];
    std::vector<std::pair<int32, media_object>> done; // stream slot, object
    const CASFExtractor* extractor = nullptr;

    int32 Slot(int32 stream) const
    {
        return stream == streams[0] ? 0 : stream == streams[1] ? 1 : -1;
    }

    static void Stream(int32 stream, BDataIO* io, uint32 length, void* cookie)
    {
        auto* self = static_cast<object_collector*>(cookie);
        int32 slot = self->Slot(stream);
        if (slot < 0) {
            // Read and dropped: the extractor wants the bytes taken.
            uint8 buffer[4096];
            while (length > 0) {
                uint32 piece = std::min<uint32>(length, sizeof(buffer));
                if (io->Read(buffer, piece) != ssize_t(piece))
                    return;
                length -= piece;
            }
            return;
        }
        std::vector<uint8>& bytes = self->pending[slot];
        size_t at = bytes.size();
        bytes.resize(at + length);
        ssize_t got = io->Read(bytes.data() + at, length);
        bytes.resize(at + size_t(std::max<ssize_t>(got, 0)));
    }
    static void Flush(int32 stream, bool keyFrame, uint32, void* cookie)
    {
        auto* self = static_cast<object_collector*>(cookie);
        int32 slot = self->Slot(stream);
        if (slot < 0)
            return;
        media_object object;
        object.data = std::move(self->pending[slot]);
        object.time = self->extractor->ObjectTime(stream);
        object.keyFrame = keyFrame || self->extractor->ObjectIsKeyFrame(stream);
        self->pending[slot].clear();
        if (!object.data.empty())
            self->done.emplace_back(slot, std::move(object));
    }
    static void Skip(int32 stream, void* cookie)
    {
        auto* self = static_cast<object_collector*>(cookie);
        int32 slot = self->Slot(stream);
        if (slot >= 0)
            self->pending[slot].clear();
    }
};

} // namespace

uint32 CPlaybackSession::PlayDuration() const
{
    if (fExtractor == nullptr)
        return 0;
    uint64 duration = fExtractor->PlayDuration() / 10000;
    uint64 preroll = fExtractor->Preroll();
    return duration > preroll ? uint32(std::min<uint64>(duration - preroll, UINT32_MAX)) : 0;
}

void CPlaybackSession::FrameRate(uint32* numerator, uint32* denominator)
{
    // The first pictures' times, read by a second look at the file.
    *numerator = 25;
    *denominator = 1;
    if (fVideo == nullptr)
        return;
    BFile file(fPath.c_str(), B_READ_ONLY);
    CASFExtractor extractor(&file);
    if (extractor.InitCheck() != B_OK)
        return;
    object_collector collector;
    collector.streams[0] = fVideoStream;
    collector.extractor = &extractor;
    while (collector.done.size() < kRateSample &&
           extractor.ReadOn(object_collector::Stream, object_collector::Flush,
                            object_collector::Skip, &collector) == B_OK) {
    }
    std::vector<uint32> times;
    for (const auto& [slot, object] : collector.done)
        times.push_back(object.time);
    std::sort(times.begin(), times.end());
    if (times.size() < 2 || times.back() == times.front())
        return;
    // Milliseconds say 30 pictures a second as 33 and 34: the nearest
    // whole rate when it fits, else the fraction.
    uint32 span = times.back() - times.front();
    uint32 count = uint32(times.size() - 1);
    double rate = double(count) * 1000.0 / span;
    double whole = double(uint32(rate + 0.5));
    if (whole > 0 && std::abs(rate - whole) / whole < 0.02) {
        *numerator = uint32(whole);
        *denominator = 1;
    } else {
        *numerator = count * 1000;
        *denominator = span;
    }
}

status_t CPlaybackSession::Render(uint32 start, uint32 duration, const render_sinks& sinks,
                                  const std::function<void(uint32)>& progress,
                                  std::vector<std::string>* problems)
{
    if (fExtractor == nullptr || fMode != kRender)
        return B_NOT_ALLOWED;
    CSoundDecoder* sound = fAudio != nullptr ? fAudio->Decoder() : nullptr;
    CPictureDecoder* pictures = fVideo != nullptr ? fVideo->Decoder() : nullptr;
    bool wantSound = sinks.sound && sound != nullptr;
    bool wantPictures = sinks.picture && pictures != nullptr;
    uint32 rate = fAudio != nullptr ? fAudio->Rate() : 0;
    uint32 channels = fAudio != nullptr ? fAudio->Channels() : 0;
    int32 width = fVideo != nullptr ? fVideo->Width() : 0;
    int32 height = fVideo != nullptr ? fVideo->Height() : 0;
    uint64 end = duration > 0 ? uint64(start) + duration : UINT64_MAX;
    object_collector collector;
    collector.streams[0] = wantSound ? fAudioStream : -1;
    collector.streams[1] = wantPictures ? fVideoStream : -1;
    collector.extractor = fExtractor.get();

    // A later start goes to the key frame at or before it, by the index.
    uint64 offset = 0;
    if (start > 0 && fExtractor->IndexedOffset(start, &offset))
        fExtractor->SeekToOffset(offset);

    // Sound: whole frames counted from the first object's place.
    uint32 frameSize = uint32(channels) * 2;
    uint64 soundFrame = 0;    // the stream frame the next PCM begins at
    bool soundPlaced = false; // the first object's place is known
    bool soundDone = !wantSound;
    uint64 firstFrame = uint64(start) * rate / 1000;
    uint64 endFrame = end == UINT64_MAX ? UINT64_MAX : end * rate / 1000;
    CVariableBuffer pcm;
    bool sinkFailed = false;
    // The first object's time: the PCM begins there, whenever a decoder
    // (one in another process gives an object's PCM with the next) hands
    // it out.
    int64 firstObjectTime = -1;
    auto take_sound = [&]() {
        if (pcm.Length() == 0 || frameSize == 0 || firstObjectTime < 0)
            return;
        uint64 frames = pcm.Length() / frameSize;
        if (!soundPlaced) {
            // The object's time in ms, put on the frame grid its decoded
            // length makes (blocks of a fixed size in every codec here).
            uint64 at = uint64(firstObjectTime) * rate / 1000;
            soundFrame = frames > 0 ? (at + frames / 2) / frames * frames : at;
            soundPlaced = true;
        }
        uint64 from = std::max(soundFrame, firstFrame);
        uint64 to = std::min(soundFrame + frames, endFrame);
        if (to > from && !sinkFailed) {
            const uint8* bytes = static_cast<const uint8*>(pcm.Data());
            if (!sinks.sound(bytes + (from - soundFrame) * frameSize,
                             size_t(to - from) * frameSize))
                sinkFailed = true;
        }
        soundFrame += frames;
        pcm.MakeEmpty(true);
        if (soundFrame >= endFrame)
            soundDone = true;
    };

    // Pictures: presentation times of the objects not yet given out, the
    // earliest first (a decoder that holds pictures back gives them in
    // that order).
    std::vector<uint8> picture(yuv420_size(uint32(width), uint32(height)));
    std::multiset<uint32> times;
    bool picturesDone = !wantPictures;
    uint32 undecodable = 0;
    auto take_picture = [&](const media_object& object) {
        times.insert(object.time);
        media_object shown = object;
        shown.showFrom = start;
        status_t decoded = pictures->Decode(shown, picture.data(), width);
        if (decoded == B_WOULD_BLOCK)
            return; // held back: it comes with a later object
        if (decoded != B_OK) {
            times.erase(times.find(object.time));
            undecodable++;
            return;
        }
        uint32 time = *times.begin();
        times.erase(times.begin());
        if (time >= end) {
            picturesDone = true;
            return;
        }
        if (time >= start && !sinkFailed && !sinks.picture(picture.data(), picture.size()))
            sinkFailed = true;
    };

    status_t status = B_OK;
    uint32 reached = start;
    while (!(soundDone && picturesDone) && !sinkFailed) {
        status = fExtractor->ReadOn(object_collector::Stream, object_collector::Flush,
                                    object_collector::Skip, &collector);
        for (auto& [slot, object] : collector.done) {
            reached = std::max(reached, object.time);
            if (slot == 0 && !soundDone) {
                if (firstObjectTime < 0)
                    firstObjectTime = object.time;
                sound->Decode(object.data.data(), object.data.size(), &pcm);
                take_sound();
            } else if (slot == 1 && !picturesDone) {
                take_picture(object);
            }
        }
        collector.done.clear();
        if (progress)
            progress(reached);
        if (status != B_OK)
            break;
    }
    if (wantSound && !soundDone && !sinkFailed) {
        sound->Finish(&pcm);
        take_sound();
    }

    if (status < B_OK)
        problems->push_back("the file is damaged: what follows the last packet read could not be "
                            "read");
    else if (status == CASFExtractor::kEndOfData && fExtractor->IsTruncated())
        problems->push_back("the file ends before its data do: it was cut short");
    if (undecodable > 0)
        problems->push_back(std::to_string(undecodable) + " picture" +
                            (undecodable == 1 ? "" : "s") + " could not be decoded" +
                            (pictures->Failure().empty() ? "" : ": " + pictures->Failure()));
    if (sinkFailed)
        problems->push_back("the output could not be written");
    return problems->empty() ? B_OK : B_ERROR;
}
