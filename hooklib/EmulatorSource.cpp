#include "hooklib/EventSource.h"

#include <cstdio>

namespace hooklib {

std::unique_ptr<EventSource> openEmulatorSource(const char* socketPath) {
  std::fprintf(stderr, "uiHook: the emulated mouse's input endpoint at %s is not supported yet\n", socketPath);
  return nullptr;
}

}  // namespace hooklib
