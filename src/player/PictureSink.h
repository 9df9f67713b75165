// Where a playback session's pictures go as each reaches its time: the
// player window's view, or whatever plays a file without a window.
#pragma once

#include "platform/support/SupportDefs.h"

class BBitmap;

class CPictureSink
{
public:
    virtual ~CPictureSink() = default;

    // On the video thread: `picture` (B_RGB32, the stream's size), of
    // media time `time` (ms), is due now. False when it could not be shown
    // (the window is closing); the picture then does not count as shown.
    virtual bool ShowPicture(const BBitmap* picture, uint32 time) = 0;
};
