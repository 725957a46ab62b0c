#pragma once
// One real program of the end-to-end tests: spawned with stderr to a file,
// watched through a pidfd so every wait is on its exit, bounded.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <chrono>
#include <csignal>
#include <functional>
#include <optional>
#include <spawn.h>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace e2e {

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
inline QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The environment of the test process without any display, on the offscreen
// platform: what the programs get unless a test says otherwise.
inline std::vector<std::string> OffscreenEnvironment() {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("WAYLAND_DISPLAY=", 0) == 0 || v.rfind("QT_QPA_PLATFORM=", 0) == 0)
      continue;
    env.push_back(v);
  }
  env.push_back("QT_QPA_PLATFORM=offscreen");
  return env;
}

// Sets (or, with nullopt, removes) one variable of an environment list.
inline void SetVariable(std::vector<std::string>& env, const std::string& name, std::optional<std::string> value) {
  std::erase_if(env, [&](const std::string& v) { return v.rfind(name + "=", 0) == 0; });
  if (value) env.push_back(name + "=" + *value);
}

class Program {
 public:
  // Bound of a start and of the end on SIGTERM: sanitizer builds on a busy machine.
  static constexpr int kBoundMs = 30000;

  Program(const QString& exe, const QString& errFile, std::vector<std::string> env = OffscreenEnvironment())
      : err_(errFile) {
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    const std::string path = exe.toStdString();
    const std::string errPath = errFile.toStdString();
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    if (posix_spawn(&pid_, path.c_str(), &fa, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    if (pid_ > 0) pidfd_ = int(::syscall(SYS_pidfd_open, pid_, 0));
  }
  ~Program() {
    if (running()) {
      ::kill(pid_, SIGKILL);
      waitExit(kBoundMs);
    }
    if (pidfd_ >= 0) ::close(pidfd_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool spawned() const { return pid_ > 0 && pidfd_ >= 0; }
  bool running() const { return spawned() && !status_; }
  pid_t pid() const { return pid_; }
  // True once it ended (status() then holds its wait status).
  bool waitExit(int ms) {
    if (!running()) return status_.has_value();
    pollfd p{pidfd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return false;
    int st = 0;
    if (::waitpid(pid_, &st, 0) == pid_) status_ = st;
    return status_.has_value();
  }
  // Waits, bounded, until `ready` holds or the program ends; true when ready.
  template <class F>
  bool waitReadyOrExit(F ready, int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      if (ready()) return true;
      if (waitExit(20)) return false;
    }
    return ready();
  }
  void terminate() {
    if (running()) ::kill(pid_, SIGTERM);
  }
  std::optional<int> status() const { return status_; }
  QString errors() const { return QString::fromLocal8Bit(ReadFile(err_)); }

 private:
  QString err_;
  pid_t pid_ = -1;
  int pidfd_ = -1;
  std::optional<int> status_;
};

}  // namespace e2e
