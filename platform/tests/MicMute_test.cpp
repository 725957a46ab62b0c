#include "platform/MicMute.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace std::chrono_literals;

namespace {

// A private pulseaudio daemon: its own HOME, runtime folder and socket, one
// null source, no autospawn. Started once for the whole test program.
class PulseDaemon {
 public:
  bool start(const QString& base) {
    const std::string root = base.toStdString();
    home_ = root + "/home";
    run_ = root + "/run";
    socket_ = run_ + "/pulse.sock";
    ::mkdir(home_.c_str(), 0700);
    ::mkdir(run_.c_str(), 0700);
    clientConf_ = root + "/client.conf";
    if (FILE* f = std::fopen(clientConf_.c_str(), "w")) {
      std::fputs("autospawn = no\n", f);
      std::fclose(f);
    }
    // The test process and pactl talk to this daemon only.
    ::setenv("HOME", home_.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", run_.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home_ + "/.config").c_str(), 1);
    ::setenv("PULSE_CLIENTCONFIG", clientConf_.c_str(), 1);
    ::setenv("PULSE_RUNTIME_PATH", (run_ + "/pulse").c_str(), 1);
    ::setenv("PULSE_STATE_PATH", (home_ + "/state").c_str(), 1);
    ::setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);

    std::vector<std::string> args = {"pulseaudio",
                                     "-n",
                                     "--daemonize=no",
                                     "--exit-idle-time=-1",
                                     "--use-pid-file=no",
                                     "--disable-shm=yes",
                                     "--log-target=stderr",
                                     "--log-level=info",
                                     "-L",
                                     "module-null-source source_name=test_mic",
                                     "-L",
                                     "module-native-protocol-unix auth-anonymous=1 socket=" + socket_};
    // pulseaudio runs as root (CI containers) only when told it may.
    if (::getuid() == 0) args.insert(args.begin() + 1, "--system=no");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    const int rc = ::posix_spawnp(&pid_, "pulseaudio", &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(err[1]);
    log_ = err[0];
    if (rc != 0) {
      pid_ = -1;
      why_ = "cannot run pulseaudio";
      return false;
    }
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    // Wait on the daemon's own word that it is ready, from its log.
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

  // Keeps the daemon's log pipe from filling up.
  void drain() {
    char buf[4096];
    pollfd p{log_, POLLIN, 0};
    while (log_ >= 0 && ::poll(&p, 1, 0) == 1 && ::read(log_, buf, sizeof buf) > 0) {
    }
  }

  const std::string& why() const { return why_; }

 private:
  std::string home_, run_, socket_, clientConf_, why_;
  pid_t pid_ = -1;
  int log_ = -1, pidfd_ = -1;
};

QString pactl(const QStringList& args) {
  QProcess p;
  p.start("pactl", args);
  if (!p.waitForFinished(20000) || p.exitCode() != 0) return "pactl failed: " + p.readAllStandardError();
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

class MicMuteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new QTemporaryDir;
    daemon_ = new PulseDaemon;
    started_ = daemon_->start(tmp_->path());
  }
  static void TearDownTestSuite() {
    daemon_->stop();
    delete daemon_;
    delete tmp_;
  }
  void SetUp() override {
    if (!started_) {
      if (std::getenv("CI")) FAIL() << daemon_->why();
      GTEST_SKIP() << daemon_->why();
    }
    ASSERT_EQ(pactl({"set-default-source", "test_mic"}), "");
    ASSERT_EQ(pactl({"set-source-mute", "test_mic", "0"}), "");
  }
  void TearDown() override {
    if (daemon_) daemon_->drain();
  }

  static inline QTemporaryDir* tmp_ = nullptr;
  static inline PulseDaemon* daemon_ = nullptr;
  static inline bool started_ = false;
};

TEST_F(MicMuteTest, TogglesTheDefaultSourceBackAndForth) {
  platform::PulseMicrophoneMute mute;
  EXPECT_EQ(pactl({"get-source-mute", "test_mic"}), "Mute: no");
  EXPECT_EQ(mute.toggleMute(), std::optional<bool>(true));
  EXPECT_EQ(pactl({"get-source-mute", "test_mic"}), "Mute: yes");
  mute.toggle();
  EXPECT_EQ(pactl({"get-source-mute", "test_mic"}), "Mute: no");
}

TEST_F(MicMuteTest, FollowsAChangedDefaultSource) {
  platform::PulseMicrophoneMute mute;
  const QString module = pactl({"load-module", "module-null-source", "source_name=second_mic"});
  ASSERT_FALSE(module.startsWith("pactl failed")) << module.toStdString();
  ASSERT_EQ(pactl({"set-default-source", "second_mic"}), "");
  EXPECT_EQ(mute.toggleMute(), std::optional<bool>(true));
  EXPECT_EQ(pactl({"get-source-mute", "second_mic"}), "Mute: yes");
  EXPECT_EQ(pactl({"get-source-mute", "test_mic"}), "Mute: no");
  pactl({"unload-module", module});
}

class MicMuteNoServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    ::setenv("HOME", tmp_.path().toLocal8Bit().constData(), 1);
    ::setenv("XDG_RUNTIME_DIR", tmp_.path().toLocal8Bit().constData(), 1);
    clientConf_ = tmp_.path() + "/client.conf";
    QFile f(clientConf_);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("autospawn = no\n");
    f.close();
    ::setenv("PULSE_CLIENTCONFIG", clientConf_.toLocal8Bit().constData(), 1);
  }
  QTemporaryDir tmp_;
  QString clientConf_;
};

TEST_F(MicMuteNoServer, AbsentServerDoesNothing) {
  const std::string server = "unix:" + tmp_.path().toStdString() + "/nobody.sock";
  ::setenv("PULSE_SERVER", server.c_str(), 1);
  platform::PulseMicrophoneMute mute;
  EXPECT_EQ(mute.toggleMute(), std::nullopt);
  mute.toggle();  // silent, no crash
}

TEST_F(MicMuteNoServer, HungServerTimesOut) {
  // Accepts connections into its backlog and never speaks.
  const std::string path = tmp_.path().toStdString() + "/hung.sock";
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  ::setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
  platform::PulseMicrophoneMute mute(300ms);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(mute.toggleMute(), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  ::close(fd);
}

}  // namespace
