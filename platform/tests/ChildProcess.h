#pragma once
// Runs the test binary itself again as a second, real process in a named
// role. A test file declares
//   static int childMain(const std::string& role);
//   static const bool kChildRole = testchild::runRoleIfAsked(childMain);
// at namespace scope; in the child that runs before main() and never returns.
#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testchild {

constexpr const char* kRoleVar = "PLATFORM_TEST_CHILD_ROLE";

template <typename Main>
bool runRoleIfAsked(Main childMain) {
  const char* role = std::getenv(kRoleVar);
  if (!role || !*role) return false;
  const std::string name(role);
  ::unsetenv(kRoleVar);
  std::_Exit(childMain(name));
}

struct Child {
  pid_t pid = -1;
  int out = -1;   // the child's stdout
  int in = -1;    // the child's stdin
  int pidfd = -1;

  Child() = default;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    if (out >= 0) ::close(out);
    if (in >= 0) ::close(in);
    if (pidfd >= 0) ::close(pidfd);
  }

  // Starts /proc/self/exe in role; extra "NAME=value" entries are added to
  // the current environment.
  bool start(const std::string& role, const std::vector<std::string>& extraEnv = {}) {
    int outPipe[2], inPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return false;
    if (::pipe2(inPipe, O_CLOEXEC) != 0) return false;
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back(std::string(kRoleVar) + "=" + role);
    for (const auto& e : extraEnv) env.push_back(e);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string exe = "/proc/self/exe";
    char* argv[] = {exe.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&fa, inPipe[0], 0);
    const int rc = ::posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(outPipe[1]);
    ::close(inPipe[0]);
    out = outPipe[0];
    in = inPipe[1];
    if (rc != 0) {
      pid = -1;
      return false;
    }
    pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return pidfd >= 0;
  }

  // One line of the child's stdout, without the newline; empty on time-out or end.
  std::string readLine(int timeoutMs = 20000) {
    std::string line;
    char c;
    for (;;) {
      pollfd p{out, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) <= 0) return line;
      if (::read(out, &c, 1) != 1 || c == '\n') return line;
      line += c;
    }
  }

  // The exit status (as waitpid reports it), or -1 when it did not end in time.
  int waitExit(int timeoutMs = 20000) {
    pollfd p{pidfd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    pid = -1;
    return status;
  }
};

// For child roles: report a line to the parent at once.
inline void say(const char* line) {
  std::string s = std::string(line) + "\n";
  (void)!::write(1, s.data(), s.size());
}

}  // namespace testchild
