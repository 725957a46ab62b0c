#pragma once
#include <string>

namespace platform {

// The per-user runtime folder of both programs ($XDG_RUNTIME_DIR/<folder>,
// mode 0700), where the message sockets, the single-instance locks and the
// filter driver's socket live. MOUSE_RUNTIME_DIR overrides it, so tests and
// the emulated mouse can share a private folder. Created on first use.
// Returns an empty string when no folder can be made.
std::string runtimeDir();

}  // namespace platform
