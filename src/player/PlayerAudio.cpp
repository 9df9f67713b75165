// The audio path: the stream's codec module converts whole blocks of
// compressed audio to 16-bit PCM on the reader thread; the PCM waits in a
// bounded queue; the audio thread copies it page by page into the sound
// output.

#include "player/ASFPlayer.h"

#include "platform/game/PushGameSound.h"
#include "platform/media/MediaDefs.h"

#include "codec/ACMCodec.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace
{

// The sound output's ring: pages of 1024 frames, two of them.
constexpr size_t kFramesPerPage = 1024;
constexpr size_t kPageCount = 2;
// The PCM queue holds about this many seconds of sound at most.
constexpr uint32 kQueueSeconds = 2;
// How long a reader waiting for room looks again without being woken.
constexpr bigtime_t kRoomWait = 100000;

// The size of a WAVEFORMATEX up to and including cbSize.
constexpr uint32 kWaveFormatSize = 18;

struct audio_header {
    uint16 tag;
    uint16 channels;
    uint32 rate;
    uint16 blockAlign;
};

// The parts of the stream's WAVEFORMATEX the player uses.
bool read_header(const CASFExtractor::stream_info* info, audio_header* header)
{
    if (info->data == nullptr || info->data_size < 14)
        return false;
    auto* bytes = static_cast<const uint8*>(info->data);
    memcpy(&header->tag, bytes, 2);
    memcpy(&header->channels, bytes + 2, 2);
    memcpy(&header->rate, bytes + 4, 4);
    memcpy(&header->blockAlign, bytes + 12, 2);
    return true;
}

} // namespace

bool CASFPlayer::SetUpAudio(const CASFExtractor::stream_info* info)
{
    audio_header header;
    // A block alignment of 0 would keep the flush converting nothing for
    // ever; such a stream is not played.
    if (!read_header(info, &header) || header.blockAlign == 0 || header.channels == 0 ||
        header.rate == 0)
        return false;
    fAudioCodec = new CACMCodec(header.tag);
    if (fAudioCodec->InitCheck() < B_OK) {
        delete fAudioCodec;
        fAudioCodec = nullptr;
        return false;
    }
    // PCM at the stream's own rate and channel count: a codec converts, it
    // does not resample, and the output plays at the stream's rate.
    media_raw_audio_format target = media_raw_audio_format::wildcard;
    target.frame_rate = float(header.rate);
    target.channel_count = header.channels;
    target.format = media_raw_audio_format::B_AUDIO_SHORT;
    fAudioBlockSize = header.blockAlign;

    // The format block as a whole WAVEFORMATEX whose codec bytes lie
    // inside it: a short block gets cbSize 0, a cbSize beyond the block is
    // cut to what the block holds.
    std::vector<uint8> source(max_c(info->data_size, kWaveFormatSize), 0);
    memcpy(source.data(), info->data, info->data_size);
    uint16 extra = 0;
    if (info->data_size >= kWaveFormatSize) {
        memcpy(&extra, source.data() + 16, 2);
        extra = uint16(min_c<uint32>(extra, info->data_size - kWaveFormatSize));
    }
    memcpy(source.data() + 16, &extra, 2);

    uint32 outputSize = 0;
    if (fAudioCodec->BeginConversionEx(reinterpret_cast<const tWAVEFORMATEX*>(source.data()), 1,
                                       &target, fAudioBlockSize, &outputSize) < B_OK) {
        delete fAudioCodec;
        fAudioCodec = nullptr;
        return false;
    }
    if (!StartSound(header.rate, header.channels)) {
        fAudioCodec->EndConversion();
        delete fAudioCodec;
        fAudioCodec = nullptr;
        return false;
    }
    return true;
}

bool CASFPlayer::StartSound(uint32 rate, uint16 channels)
{
    gs_audio_format format = {};
    format.frame_rate = float(rate);
    format.channel_count = channels;
    format.format = gs_audio_format::B_GS_S16;
    format.byte_order = B_MEDIA_LITTLE_ENDIAN;
    format.buffer_size = 0;
    fSound = new BPushGameSound(kFramesPerPage, &format, kPageCount);
    if (fSound->InitCheck() < B_OK) {
        delete fSound;
        fSound = nullptr;
        return false;
    }
    fPCMLimit = uint32(min_c<uint64>(uint64(rate) * channels * 2 * kQueueSeconds, UINT32_MAX / 2));
    fPCMSpaceSem = create_sem(0, "PCMSpace");
    fSound->StartPlaying();
    fAudioThread = spawn_thread(AudioThreadWrapper, "AudioThread", B_NORMAL_PRIORITY, this);
    resume_thread(fAudioThread);
    return true;
}

void CASFPlayer::AudioFlush()
{
    // A killed reader converts no more: Quit is waiting for it.
    while (fAudioData.Length() >= fAudioBlockSize && !has_kill_request()) {
        const void* pcm = nullptr;
        uint32 pcmSize = 0;
        int32 consumed = fAudioCodec->Convert(fAudioData.Data(), fAudioBlockSize, &pcm, &pcmSize);
        // The block leaves the queue whatever became of it.
        fAudioData.RemoveHead(fAudioBlockSize);
        if (consumed >= 0 && pcm != nullptr && pcmSize > 0 && !QueuePCM(pcm, pcmSize))
            return; // killed while waiting for room
    }
}

void CASFPlayer::AudioFinish()
{
    if (fAudioCodec == nullptr)
        return;
    AudioFlush();
    if (has_kill_request())
        return;
    const void* pcm = nullptr;
    uint32 pcmSize = 0;
    uint32 left = uint32(fAudioData.Length());
    int32 consumed = fAudioCodec->Convert(fAudioData.Data(), left, &pcm, &pcmSize, true);
    fAudioData.RemoveHead(left);
    if (consumed >= 0 && pcm != nullptr && pcmSize > 0)
        QueuePCM(pcm, pcmSize);
}

bool CASFPlayer::QueuePCM(const void* pcm, uint32 size)
{
    for (;;) {
        fPCMLock.Lock();
        if (fPCMData.Length() < fPCMLimit) {
            fPCMData.Write(pcm, size);
            fPCMLock.Unlock();
            return true;
        }
        fPCMLock.Unlock();
        // Full: the audio thread releases the semaphore when it takes a page
        // from a full queue; the timeout only covers a release that came
        // before this wait.
        status_t status = acquire_sem_etc(fPCMSpaceSem, 1, B_RELATIVE_TIMEOUT, kRoomWait);
        if (status == B_INTERRUPTED || status == B_BAD_SEM_ID || has_kill_request())
            return false;
    }
}

void CASFPlayer::EndPCM()
{
    BAutolock locked(fPCMLock);
    fPCMEnded = true;
}

int32 CASFPlayer::AudioThread()
{
    while (!has_kill_request()) {
        void* page = nullptr;
        size_t pageSize = 0;
        // Waits for a free page; a killed thread gets none.
        if (fSound->LockNextPage(&page, &pageSize) != BPushGameSound::lock_ok)
            continue;
        fPCMLock.Lock();
        bool wasFull = fPCMData.Length() >= fPCMLimit;
        // A page is filled whole from the queue or not at all, but for the
        // sound's last part page, padded with silence; a page handed back
        // unwritten plays as silence.
        size_t length = fPCMData.Length();
        if (length >= pageSize || (fPCMEnded && length > 0)) {
            size_t taken = std::min(length, pageSize);
            memcpy(page, fPCMData.Data(), taken);
            memset(static_cast<uint8*>(page) + taken, 0, pageSize - taken);
            fPCMData.RemoveHead(uint32(taken));
        }
        fSound->UnlockPage(page);
        fPCMLock.Unlock();
        if (wasFull)
            release_sem(fPCMSpaceSem);
    }
    return B_OK;
}

void CASFPlayer::ReleaseAudio()
{
    if (fSound != nullptr) {
        fSound->StopPlaying();
        delete fSound;
        fSound = nullptr;
    }
    if (fAudioCodec != nullptr) {
        fAudioCodec->EndConversion();
        delete fAudioCodec;
        fAudioCodec = nullptr;
    }
    if (fPCMSpaceSem >= 0) {
        delete_sem(fPCMSpaceSem);
        fPCMSpaceSem = -1;
    }
}
