#pragma once
#include <string>

namespace platform {

// The per-user runtime folder of both programs ($XDG_RUNTIME_DIR/gaming-mouse,
// or /tmp/gaming-mouse-<uid> without XDG_RUNTIME_DIR), where the message
// sockets, the single-instance locks and the filter driver's socket live.
// MOUSE_RUNTIME_DIR overrides it, so tests and the emulated mouse can share a
// private folder. Created 0700 on first use; one of this user's that is open
// to others is narrowed to 0700, since anyone who may write into it could
// remove the locks or plant sockets.
struct RuntimeDirCheck {
  enum class State {
    Ok,           // path is ready
    Unavailable,  // it could not be made (no place for it)
    Refused,      // it exists but belongs to another user or is no folder: never used
  };
  State state = State::Unavailable;
  std::string path;     // the folder, also when refused or unavailable
  std::string problem;  // for the user, naming the folder; empty when Ok
};
RuntimeDirCheck checkRuntimeDir();

// The folder, or an empty string when it is unavailable or refused.
std::string runtimeDir();

}  // namespace platform
