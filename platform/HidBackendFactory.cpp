#include <cstdlib>

#include "platform/HidBackend.h"
#include "platform/HidrawBackend.h"
#include "platform/UdevNotifier.h"

namespace platform {

std::string emulatorSocketFromEnvironment() {
  const char* value = std::getenv("MOUSE_EMULATOR");
  return (value && *value) ? std::string(value) : std::string();
}

std::unique_ptr<HidBackend> makeHidBackend() {
  if (const std::string socket = emulatorSocketFromEnvironment(); !socket.empty())
    return makeEmulatorHidBackend(socket);
  return std::make_unique<HidrawBackend>();
}

std::unique_ptr<HidDeviceNotifier> makeHidDeviceNotifier() {
  if (const std::string socket = emulatorSocketFromEnvironment(); !socket.empty())
    return makeEmulatorHidDeviceNotifier(socket);
  return std::make_unique<UdevNotifier>();
}

}  // namespace platform
