#pragma once
// Freezing a child process for a test. kill(SIGSTOP) returns before the child
// has stopped: a busy machine lets it serve a few more requests first, which
// is exactly what a test that freezes it must rule out.
#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>

namespace platform_test {

// Stops CHILD (a child of this process) and returns once every one of its
// threads has stopped. Only the stop is reaped: its end is left to whoever
// waits for that. __WALL: QProcess may start children that tell their end
// by another signal than SIGCHLD.
inline bool StopChild(pid_t child) {
  if (child <= 0 || ::kill(child, SIGSTOP) != 0) return false;
  siginfo_t info{};
  while (::waitid(P_PID, id_t(child), &info, WSTOPPED | __WALL) != 0) {
    if (errno != EINTR) return false;
  }
  return info.si_code == CLD_STOPPED;
}

}  // namespace platform_test
