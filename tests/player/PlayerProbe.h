// The tests' window into the player: its fields and private steps.
#pragma once

#include "player/ASFPlayer.h"

struct player_probe {
    static int32 VideoStream(CASFPlayer* p) { return p->fVideoStream; }
    static int32 AudioStream(CASFPlayer* p) { return p->fAudioStream; }
    static CVariableBuffer& VideoData(CASFPlayer* p) { return p->fVideoData; }
    static CVariableBuffer& AudioData(CASFPlayer* p) { return p->fAudioData; }
    static CVariableBuffer& PCMData(CASFPlayer* p) { return p->fPCMData; }
    static BLocker& PCMLock(CASFPlayer* p) { return p->fPCMLock; }
    static uint32 PCMLimit(CASFPlayer* p) { return p->fPCMLimit; }
    static sem_id PCMSpaceSem(CASFPlayer* p) { return p->fPCMSpaceSem; }
    static sem_id VideoReadSem(CASFPlayer* p) { return p->fVideoReadSem; }
    static sem_id VideoWriteSem(CASFPlayer* p) { return p->fVideoWriteSem; }
    static int32 WriteFrame(CASFPlayer* p) { return p->fWriteFrame; }
    static uint32 FrameTime(CASFPlayer* p, int32 slot) { return p->fFrameTimes[slot]; }
    static thread_id ReaderThread(CASFPlayer* p) { return p->fReaderThread; }
    static thread_id VideoThread(CASFPlayer* p) { return p->fVideoThread; }
    static thread_id AudioThread(CASFPlayer* p) { return p->fAudioThread; }
    static BView* ContentView(CASFPlayer* p) { return p->fContentView; }
    static BRect VideoRect(CASFPlayer* p) { return p->fVideoRect; }
    static CASFExtractor& Extractor(CASFPlayer* p) { return p->fExtractor; }
    static void VideoFlush(CASFPlayer* p, uint32 time) { p->VideoFlush(time); }
    // Pretends an audio stream was set up, for the callbacks' sake.
    static void SelectAudio(CASFPlayer* p, int32 stream, uint32 blockSize)
    {
        p->fAudioStream = stream;
        p->fAudioBlockSize = blockSize;
    }
    // The sound half of the audio set-up: output and audio thread.
    static bool StartSound(CASFPlayer* p, uint32 rate, uint16 channels)
    {
        return p->StartSound(rate, channels);
    }
    static bool QueuePCM(CASFPlayer* p, const void* pcm, uint32 size)
    {
        return p->QueuePCM(pcm, size);
    }
    static void EndPCM(CASFPlayer* p) { p->EndPCM(); }
    // Ends the audio thread, so that the PCM queue stays as the reader
    // leaves it.
    static void StopAudioThread(CASFPlayer* p)
    {
        kill_thread(p->fAudioThread);
        CASFPlayer::StopThread(&p->fAudioThread);
    }
    // Ends the video thread, so that the ring stays as the reader leaves it.
    static void StopVideoThread(CASFPlayer* p)
    {
        kill_thread(p->fVideoThread);
        CASFPlayer::StopThread(&p->fVideoThread);
    }
};
