#pragma once
// A private pulseaudio daemon for tests that need a real sound server: its own
// HOME, runtime folder and socket, one null source "test_mic" as default, no
// autospawn; PULSE_SERVER and the client settings of this process point at it.
// It is started and stopped by its pid, dies with the thread that started it
// (even when the test is killed), and waits on the daemon's own word that it
// is ready, never on a sleep.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform_test {

// A private pulseaudio daemon: own HOME, runtime folder and socket, one null
// source as default, no autospawn; PULSE_SERVER points at it.
class PulseDaemon {
 public:
  bool start(const std::string& root) {
    home_ = root + "/pulse-home";
    run_ = root + "/pulse-run";
    socket_ = run_ + "/pulse.sock";
    ::mkdir(home_.c_str(), 0700);
    ::mkdir(run_.c_str(), 0700);
    const std::string conf = root + "/client.conf";
    if (FILE* f = std::fopen(conf.c_str(), "w")) {
      std::fputs("autospawn = no\n", f);
      std::fclose(f);
    }
    ::setenv("PULSE_CLIENTCONFIG", conf.c_str(), 1);
    ::setenv("PULSE_RUNTIME_PATH", (run_ + "/pulse").c_str(), 1);
    ::setenv("PULSE_STATE_PATH", (home_ + "/state").c_str(), 1);
    ::setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
    std::vector<std::string> args = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "--use-pid-file=no", "--disable-shm=yes", "--log-target=stderr",
                                     "--log-level=info", "-L", "module-null-source source_name=test_mic", "-L",
                                     "module-native-protocol-unix auth-anonymous=1 socket=" + socket_};
    if (::getuid() == 0) args.insert(args.begin() + 1, "--system=no");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The daemon gets its own HOME and runtime folder.
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, "HOME=", 5) == 0 || std::strncmp(*e, "XDG_RUNTIME_DIR=", 16) == 0) continue;
      envStore.emplace_back(*e);
    }
    envStore.push_back("HOME=" + home_);
    envStore.push_back("XDG_RUNTIME_DIR=" + run_);
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    // Resolved here: between fork and exec only async-signal-safe calls.
    const std::string program =
        QFile::encodeName(QStandardPaths::findExecutable(QStringLiteral("pulseaudio"))).toStdString();
    if (program.empty()) {
      why_ = "cannot run pulseaudio: not found on PATH";
      return false;
    }
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) return false;
    // The daemon runs in the foreground as our child and gets SIGTERM when
    // this thread ends, so a test killed mid-run (a ctest time-out, kill -9)
    // leaves no sound server behind. Start it from a thread that lives as
    // long as the daemon should (the tests' main thread).
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
      if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) ::_exit(127);
      ::dup2(err[1], 2);
      const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
      if (devNull >= 0) ::dup2(devNull, 0);
      ::execve(program.c_str(), argv.data(), envp.data());
      static const char kExecFailed[] = "cannot run pulseaudio: exec failed\n";
      (void)!::write(2, kExecFailed, sizeof kExecFailed - 1);
      ::_exit(127);
    }
    ::close(err[1]);
    log_ = err[0];
    if (pid_ < 0) {
      pid_ = -1;
      why_ = "cannot run pulseaudio: fork failed";
      return false;
    }
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    std::string text;
    char buf[512];
    for (;;) {
      pollfd p{log_, POLLIN, 0};
      if (::poll(&p, 1, 20000) <= 0) break;
      const ssize_t n = ::read(log_, buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
      if (text.find("Daemon startup complete") != std::string::npos) return true;
    }
    why_ = "pulseaudio did not start:\n" + text;
    return false;
  }
  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      pollfd p{pidfd_, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    if (log_ >= 0) ::close(log_);
    if (pidfd_ >= 0) ::close(pidfd_);
    log_ = pidfd_ = -1;
  }
  void drain() {
    char buf[4096];
    pollfd p{log_, POLLIN, 0};
    while (log_ >= 0 && ::poll(&p, 1, 0) == 1 && ::read(log_, buf, sizeof buf) > 0) {
    }
  }
  const std::string& why() const { return why_; }
  pid_t pid() const { return pid_; }

 private:
  std::string home_, run_, socket_, why_;
  pid_t pid_ = -1;
  int log_ = -1, pidfd_ = -1;
};

inline QString Pactl(const QStringList& args) {
  QProcess p;
  p.start("pactl", args);
  if (!p.waitForFinished(20000) || p.exitCode() != 0) return "pactl failed: " + p.readAllStandardError();
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

}  // namespace platform_test
