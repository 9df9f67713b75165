#include "platform/support/BufferIO.h"

#include <cstdlib>
#include <cstring>

BBufferIO::BBufferIO(BPositionIO* stream, size_t bufferSize, bool ownsStream)
    : fStream(stream), fOwnsStream(ownsStream),
      fBuffer(static_cast<char*>(malloc(max_c<size_t>(bufferSize, 512)))),
      fBufferSize(max_c<size_t>(bufferSize, 512)), fBufferStart(0), fBufferLength(0),
      fPosition(stream != nullptr ? stream->Position() : 0)
{
    if (fPosition < 0)
        fPosition = 0;
}

BBufferIO::~BBufferIO()
{
    free(fBuffer);
    if (fOwnsStream)
        delete fStream;
}

ssize_t BBufferIO::Fill(off_t position)
{
    fBufferStart = position;
    fBufferLength = 0;
    ssize_t result = fStream->ReadAt(position, fBuffer, fBufferSize);
    if (result > 0)
        fBufferLength = size_t(result);
    return result;
}

ssize_t BBufferIO::ReadAt(off_t position, void* buffer, size_t size)
{
    if (fBuffer == nullptr || fStream == nullptr)
        return B_NO_INIT;
    if (position < 0 || buffer == nullptr)
        return B_BAD_VALUE;

    char* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        off_t at = position + off_t(done);
        if (at >= fBufferStart && at < fBufferStart + off_t(fBufferLength)) {
            size_t offset = size_t(at - fBufferStart);
            size_t count = min_c(size - done, fBufferLength - offset);
            memcpy(out + done, fBuffer + offset, count);
            done += count;
            continue;
        }
        size_t wanted = size - done;
        if (wanted >= fBufferSize) {
            // Too big to be worth buffering: read straight into the caller's memory.
            ssize_t result = fStream->ReadAt(at, out + done, wanted);
            if (result < 0)
                return done > 0 ? ssize_t(done) : result;
            done += size_t(result);
            break;
        }
        ssize_t result = Fill(at);
        if (result <= 0) {
            if (result < 0 && done == 0)
                return result;
            break;
        }
    }
    return ssize_t(done);
}

ssize_t BBufferIO::Read(void* buffer, size_t size)
{
    // The common case of a small read inside the buffer, without the loop.
    if (fPosition >= fBufferStart && buffer != nullptr &&
        fPosition + off_t(size) <= fBufferStart + off_t(fBufferLength)) {
        memcpy(buffer, fBuffer + (fPosition - fBufferStart), size);
        fPosition += off_t(size);
        return ssize_t(size);
    }
    ssize_t result = ReadAt(fPosition, buffer, size);
    if (result > 0)
        fPosition += result;
    return result;
}

ssize_t BBufferIO::WriteAt(off_t, const void*, size_t)
{
    return B_NOT_SUPPORTED;
}

off_t BBufferIO::Seek(off_t position, uint32 seekMode)
{
    off_t size = 0;
    if (seekMode == SEEK_END) {
        status_t status = GetSize(&size);
        if (status != B_OK)
            return status;
    }
    off_t result = resolve_seek_position(position, seekMode, fPosition, size);
    if (result >= 0)
        fPosition = result;
    return result;
}

status_t BBufferIO::GetSize(off_t* size) const
{
    if (fStream == nullptr)
        return B_NO_INIT;
    return fStream->GetSize(size);
}
