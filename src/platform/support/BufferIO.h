// Read buffering over a positionable stream: small reads and short forward
// seeks are served from memory, large reads go straight to the stream. The
// underlying stream's own position is never moved (reads use ReadAt).
#pragma once

#include "platform/support/DataIO.h"

class BBufferIO : public BPositionIO
{
public:
    static constexpr size_t kDefaultBufferSize = 256 * 1024;

    BBufferIO(BPositionIO* stream, size_t bufferSize = kDefaultBufferSize, bool ownsStream = true);
    ~BBufferIO() override;

    status_t InitCheck() const { return fBuffer != nullptr ? B_OK : B_NO_MEMORY; }

    ssize_t Read(void* buffer, size_t size) override;
    ssize_t ReadAt(off_t position, void* buffer, size_t size) override;
    // Writing is not offered: the buffer serves readers only.
    ssize_t WriteAt(off_t position, const void* buffer, size_t size) override;
    off_t Seek(off_t position, uint32 seekMode) override;
    off_t Position() const override { return fPosition; }
    status_t GetSize(off_t* size) const override;

    BPositionIO* Stream() const { return fStream; }
    size_t BufferSize() const { return fBufferSize; }

private:
    ssize_t Fill(off_t position);

    BPositionIO* fStream;
    bool fOwnsStream;
    char* fBuffer;
    size_t fBufferSize;
    off_t fBufferStart; // file offset of fBuffer[0]
    size_t fBufferLength;
    off_t fPosition;
};
