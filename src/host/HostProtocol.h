// What the player and a codec host process say to each other: one request,
// one reply, as whole messages over a socket pair. Bulk data (compressed
// bytes, PCM, the registry) goes through two shared memory buffers: the
// player writes the input buffer, the host the output buffer. A reply's
// sizes are checked against the buffers before use: the host is not
// trusted.
#pragma once

#include "platform/support/SupportDefs.h"

#include <cstddef>

enum host_request : uint32 {
    // Loads the module (its file descriptor rides with the message; the
    // payload is its name) and opens its driver. Input: the registry,
    // flattened (args[0] bytes); args[1]: the registry bytes the module
    // added in earlier runs; args[2]: a host_module_kind; args[3]: the
    // four-character code a video decompressor's driver opens with. Reply:
    // status, payload "driver\0problem\0", args[1] the kind found, args[3]
    // the code the driver opened with, and args[0] format tags as uint16s
    // (sound) or codes as uint32s (video) in the output buffer.
    kHostOpen = 1,
    // Begins a conversion; payload: the stream's WAVEFORMATEX. Reply:
    // status. From here on, B_BAD_ADDRESS says that module code faulted
    // (or went over a limit): the module can no longer be trusted.
    kHostBegin,
    // Converts args[0] bytes of input slot args[2] (0 or 1). Reply:
    // args[0] PCM bytes in output slot args[2]; args[1] 1 when whole blocks
    // wait for room (they go first with the next decode or finish).
    kHostDecode,
    // The end of the stream: the rest and what the module holds. Reply as
    // for kHostDecode.
    kHostFinish,
    // The end: args[0] bytes of the registry as the module left it,
    // flattened, in the output buffer. The module is never unloaded: the
    // player ends the host, or asks it to open another module.
    kHostClose,
    // Begins decompressing pictures; input: the stream's BITMAPINFOHEADER
    // with what follows it (args[0] bytes). Reply: status, the output
    // format as payload, args[0] the bytes of one output picture.
    kHostBeginPictures,
    // Decompresses one picture: args[0] bytes of input slot 0, args[1] the
    // ICDECOMPRESS_ flags. Reply: args[0] the picture's bytes in output
    // slot 0 (0 when the module gave none).
    kHostDecodePicture,
};

enum host_module_kind : uint32 {
    kHostSoundModule = 0,
    kHostVideoModule = 1,
    // Discovery: whichever the module is.
    kHostAnyModule = 2,
};

struct host_message {
    uint32 type = 0;
    int32 status = 0;
    uint32 args[4] = {};
    uint32 payloadSize = 0;
    // Names, wave formats and short texts; bulk data goes through the
    // buffers.
    char payload[4096];
};

constexpr size_t kHostMessageHeader = offsetof(host_message, payload);
constexpr size_t kHostInputSize = 4 * 1024 * 1024;
constexpr size_t kHostOutputSize = 16 * 1024 * 1024;
// Decodes use the buffers in two slots each, so one can be filled while the
// host works on the other.
constexpr size_t kHostSlotInput = kHostInputSize / 2;
constexpr size_t kHostSlotOutput = kHostOutputSize / 2;

// The descriptors a host starts with.
enum : int { kHostSocketFd = 3, kHostInputFd = 4, kHostOutputFd = 5 };

// Sends one message, with `fd` attached when it is not -1. False when the
// other end is gone.
bool host_send(int socket, const host_message& message, int fd = -1);
// Receives one message (and an attached descriptor into *fd, -1 for none).
// False at the end of the stream or for a message that is not whole.
bool host_receive(int socket, host_message* message, int* fd = nullptr);
