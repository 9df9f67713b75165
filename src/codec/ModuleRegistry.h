// The registry as a codec host process sees it and gives it back. The
// player owns the registry and its file: a host gets a copy, and what its
// module changed comes back when the host closes, to be taken in here under
// the player's rules.
#pragma once

#include "platform/support/SupportDefs.h"

#include <string>
#include <vector>

// What the module of file `file` added to the registry over every run.
uint64 module_registry_used(const std::string& file);

// Takes in what a module changed: every value of `after` that differs from
// `before` (both flattened trees) and is not under
// HKEY_CURRENT_USER\SOFTWARE\Reelmoth, the player's own, while what the
// module added over all runs stays within its registry limit. Values and
// keys are added or replaced, never removed. Returns the values taken.
size_t merge_module_registry(const std::string& file, const std::vector<uint8>& before,
                             const std::vector<uint8>& after);
