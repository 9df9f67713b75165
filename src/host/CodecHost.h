// The player's side of a codec host process: starts it, asks it with a
// deadline for every request, and kills it when it misses one, dies or
// breaks the protocol. After a failure every request fails at once and
// Failure() says what happened, for one line to the user.
#pragma once

#include "host/HostProtocol.h"
#include "platform/kernel/OS.h"

#include <deque>
#include <string>
#include <sys/types.h>
#include <vector>

// Whether codec modules run in host processes: unless REELMOTH_CODEC_PROCESS
// is 0, and only when the host executable is there.
bool codec_process_enabled();
// The host executable: REELMOTH_CODEC_HOST, else beside the program or in
// ../lib/reelmoth/ from it; empty when there is none.
std::string codec_host_path();

// What a host said of the module it opened.
struct host_module_report {
    std::string driver;          // the driver's short name
    std::string problem;         // why it cannot be used; empty when it can
    std::vector<uint16> tags;    // the format tags it lists
    bool video = false;          // a picture decompressor
    std::vector<uint32> fourCCs; // the picture codes it decompresses
    uint32 handler = 0;          // the code its driver opens with
};

class CCodecHost
{
public:
    // `label` names the module in messages ("L3codeca.acm").
    explicit CCodecHost(const std::string& label);
    // Ends the host, whatever its module is doing.
    ~CCodecHost();

    CCodecHost(const CCodecHost&) = delete;
    CCodecHost& operator=(const CCodecHost&) = delete;

    status_t InitCheck() const { return fStatus; }

    // Loads the module from `moduleFd` (not taken) and opens its driver.
    // `registry` is the flattened registry the module sees; `registryUsed`
    // what it added in earlier runs.
    // `kind` says what to open it as; a video decompressor with `handler`,
    // the code its driver opens with.
    bool Open(int moduleFd, const std::string& name, const std::vector<uint8>& registry,
              uint64 registryUsed, host_module_report* report,
              host_module_kind kind = kHostSoundModule, uint32 handler = 0);
    bool Begin(const std::vector<uint8>& waveFormat);
    // Appends the PCM of `size` compressed bytes to `pcm`.
    bool Decode(const uint8* data, size_t size, std::vector<uint8>* pcm);
    // The same in two steps, so that the host decodes while the player goes
    // on: Post hands over up to kHostSlotInput bytes without waiting (at
    // most two are in flight: a third is refused); Collect waits
    // for the oldest in flight and appends its PCM (`pcm` may be null to
    // drop it). Every other request collects what is in flight first.
    bool Post(const uint8* data, size_t size);
    bool Collect(std::vector<uint8>* pcm);
    // The same, waiting at most `patience` (less than the deadline): when
    // the reply has not come by then, *late is set and false returned, and
    // the host is Late() but not failed.
    bool Collect(std::vector<uint8>* pcm, bigtime_t patience, bool* late);
    bool Late() const { return fLate; }
    // For a late host, without waiting: true once every reply in flight
    // came (they are dropped; the host answers again); false while one is
    // still out, and the host fails when its deadline passes.
    bool Settle();
    bool CollectAll(std::vector<uint8>* pcm);
    size_t InFlight() const { return fInFlight.size(); }
    // Without waiting: whether the reply to the oldest decode in flight has
    // come.
    bool Answered() const;
    bool Finish(std::vector<uint8>* pcm);
    // Pictures: begins decompressing the stream's BITMAPINFOHEADER (with
    // what follows it); gives the output format and one picture's bytes.
    bool BeginPictures(const std::vector<uint8>& input, std::vector<uint8>* outputFormat,
                       uint32* pictureSize);
    // Decompresses one picture (`flags`: ICDECOMPRESS_ flags); *picture
    // points at it in shared memory until the next request, or is null
    // when the module gave none.
    bool DecodePicture(const uint8* data, size_t size, uint32 flags, const uint8** picture);

    // Gives the registry as the module left it (empty when it could not be
    // had). Only another Open may follow (discovery asks modules in turn).
    bool Close(std::vector<uint8>* registry);

    bool Failed() const { return !fFailure.empty(); }
    // "stopped answering", "was stopped by the system-call filter", ...
    const std::string& Failure() const { return fFailure; }
    const std::string& Label() const { return fLabel; }
    // The module asked now, for messages (a host asks several in turn).
    void SetLabel(const std::string& label) { fLabel = label; }

private:
    bool Request(const host_message& request, host_message* reply, bigtime_t timeout, int fd = -1);
    bool Send(const host_message& request, int fd = -1);
    // The reply of type `type`, with the deadline, kill and memory watch;
    // false with fLate set when `patience` runs out first.
    bool Await(uint32 type, host_message* reply, bigtime_t timeout,
               bigtime_t patience = B_INFINITE_TIMEOUT);
    // The host closed its end or talked nonsense: says which, once.
    void Gone();
    // Output of a decode or finish reply in `slot`, checked against it.
    bool TakeOutput(const host_message& reply, uint32 slot, std::vector<uint8>* pcm, bool* more);
    void Fail(const std::string& why);
    void Stop();

    std::string fLabel;
    status_t fStatus;
    pid_t fPid;
    int fSocket;
    uint8* fInput;
    uint8* fOutput;
    std::deque<uint32> fInFlight; // the slots of the decodes in flight, oldest first
    uint32 fNextSlot;
    bool fMore; // the last decode left whole blocks in the host
    uint32 fPictureSize;
    bool fLate;
    bigtime_t fLateDeadline; // when the reply a late host owes is due
    std::string fFailure;
};
