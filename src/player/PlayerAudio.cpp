// The audio path. Audio streams are decoded by the Windows ACM codec
// modules, which arrive with the codec host; until then no audio stream can
// be set up, and a file plays without sound.

#include "player/ASFPlayer.h"

bool CASFPlayer::SetUpAudio(const CASFExtractor::stream_info*)
{
    return false;
}

void CASFPlayer::AudioFlush() {}

int32 CASFPlayer::AudioThread()
{
    return B_OK;
}

void CASFPlayer::ReleaseAudio()
{
    fAudioCodec = nullptr;
    fSound = nullptr;
}
