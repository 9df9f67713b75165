// Records what the packet reader delivers, as readable events.
#pragma once

#include "asf/ASFExtractor.h"
#include "platform/support/DataIO.h"

#include <string>
#include <vector>

struct test_sink {
    std::vector<std::string> events;
    bool consume = true; // read the payload bytes (else leave them unread)

    static void Stream(int32 stream, BDataIO* io, uint32 length, void* cookie)
    {
        test_sink* sink = static_cast<test_sink*>(cookie);
        std::string bytes(length, '\0');
        if (sink->consume) {
            ssize_t got = io->Read(bytes.data(), length);
            bytes.resize(got > 0 ? size_t(got) : 0);
        } else {
            bytes = "?";
        }
        sink->events.push_back("data " + std::to_string(stream) + " " + bytes);
    }

    static void Flush(int32 stream, bool keyFrame, uint32 sendTime, void* cookie)
    {
        static_cast<test_sink*>(cookie)->events.push_back("flush " + std::to_string(stream) +
                                                          (keyFrame ? " key " : " ") +
                                                          std::to_string(sendTime));
    }

    static void Skip(int32 stream, void* cookie)
    {
        static_cast<test_sink*>(cookie)->events.push_back("skip " + std::to_string(stream));
    }

    status_t ReadOn(CASFExtractor& extractor)
    {
        return extractor.ReadOn(Stream, Flush, Skip, this);
    }

    // Reads packets until ReadOn stops returning B_OK; returns its last result.
    status_t ReadAll(CASFExtractor& extractor, int limit = 10000)
    {
        status_t status = B_OK;
        for (int i = 0; i < limit && status == B_OK; i++)
            status = ReadOn(extractor);
        return status;
    }
};
