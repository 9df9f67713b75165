// The wall around a codec host process: resource limits, and a system-call
// filter that lets through only what the emulator and the replacements need
// and ends the process on anything else (opening files, starting programs,
// sockets, tracing...).
#pragma once

// Limits: no core dumps, few descriptors, a bounded address space. Before
// anything is loaded.
void limit_codec_host();
// Installs the filter for every thread, now and later; false when the
// kernel refused it (the host must then not run module code).
bool install_codec_host_filter();
