// A codec module in a host process of its own, as the sound and the picture
// decoders open, close and report it.
#pragma once

#include "host/CodecHost.h"

#include <memory>
#include <string>
#include <vector>

// Starts a host and opens the decoders folder's `file` there as `kind` (a
// video decompressor with the code `handler`); *registry is what the module
// was given.
// Null when it cannot: a host that failed is reported, and the registry the
// module changed before it refused is kept.
std::unique_ptr<CCodecHost> open_hosted_module(const std::string& file, host_module_kind kind,
                                               uint32 handler, std::vector<uint8>* registry);

// The end of the module's use: what it changed in the registry is merged,
// unless its host failed or its window is closing.
void close_hosted_module(CCodecHost* host, const std::vector<uint8>& registry);

// One line for the user, once, and the module is not chosen again until its
// file changes. A window that closes is no failure of the module's.
void report_host_failure(const CCodecHost& host, const char* after);
