// The compressed media objects of one stream between the reader and the
// thread that decodes them, and the wake-up the waiting side sleeps on.
#pragma once

#include "platform/kernel/OS.h"

#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// One complete media object as the demultiplexer assembled it.
struct media_object {
    std::vector<uint8> data;
    uint32 time = 0;       // presentation time, milliseconds from the start
    bool keyFrame = false; // a picture that decodes on its own
    // The seek that produced it (0: the start); a consumer that sees a newer
    // one than its own first drops what it holds.
    uint32 generation = 0;
    // Decoded for the sake of the objects after it but not shown or played
    // before this time (a seek's target).
    uint32 showFrom = 0;
};

// A semaphore that one thread sleeps on and any other wakes; wakes that
// nobody waits for do not pile up.
class CWakeUp
{
public:
    explicit CWakeUp(const char* name);
    ~CWakeUp();
    CWakeUp(const CWakeUp&) = delete;
    CWakeUp& operator=(const CWakeUp&) = delete;

    // Sleeps up to `timeout`; B_INTERRUPTED once the thread is killed.
    status_t Wait(bigtime_t timeout);
    void Wake();

private:
    sem_id fSem;
    std::mutex fLock;
    bool fWaiting;
};

class CMediaQueue
{
public:
    // `taken` is woken whenever an object leaves the queue (the reader
    // waits on it for room).
    CMediaQueue(const char* name, CWakeUp* taken);
    ~CMediaQueue();
    CMediaQueue(const CMediaQueue&) = delete;
    CMediaQueue& operator=(const CMediaQueue&) = delete;

    void Push(std::unique_ptr<media_object> object);
    // The oldest object, waiting up to `timeout` for one; null when none
    // came (or the thread was killed).
    std::unique_ptr<media_object> Pop(bigtime_t timeout);
    // Drops every object and the end mark.
    void Flush();
    // No more objects will come (until the next Flush).
    void SetEnded();
    // Ended and empty: everything queued was taken.
    bool IsDrained();

    // Milliseconds between the oldest and the newest object's time.
    uint32 Span();
    size_t Bytes();
    size_t Count();

private:
    std::mutex fLock;
    std::deque<std::unique_ptr<media_object>> fObjects;
    size_t fBytes;
    bool fEnded;
    CWakeUp fPushed;
    CWakeUp* fTaken;
};
