#include "platform/EndSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace platform {

namespace {
int gWriteEnd = -1;

void onEndSignal(int) {
  const int saved = errno;
  // Full pipe: a byte is already waiting, which is all the reader needs.
  (void)!::write(gWriteEnd, "x", 1);
  errno = saved;
}
}  // namespace

void unblockAllSignals() {
  sigset_t none;
  sigemptyset(&none);
  pthread_sigmask(SIG_SETMASK, &none, nullptr);
}

int watchEndSignals() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  gWriteEnd = fds[1];
  struct sigaction sa {};
  sa.sa_handler = onEndSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaction(s, &sa, nullptr);
  unblockAllSignals();
  return fds[0];
}

}  // namespace platform
