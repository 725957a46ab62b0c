#include "platform/MicMute.h"
#include "platform/testing/PulseDaemon.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

using platform_test::PulseDaemon;

QString pactl(const QStringList& args) { return platform_test::Pactl(args); }

class MicMuteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new QTemporaryDir;
    daemon_ = new PulseDaemon;
    started_ = daemon_->start(tmp_->path().toStdString());
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
  // Connections to the sound server under the monitor's application name.
  static int monitorClients() {
    return int(pactl({"list", "clients"}).count("application.name = \"Gaming Mouse Monitor\""));
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

// The connection is kept between toggles: every toggle on one object flips
// the flag again, and the server sees that object as one client throughout.
TEST_F(MicMuteTest, RepeatedTogglesOnOneObjectKeepOneConnection) {
  platform::PulseMicrophoneMute mute;
  const struct {
    bool muted;
    const char* shown;
  } steps[] = {{true, "Mute: yes"}, {false, "Mute: no"}, {true, "Mute: yes"}, {false, "Mute: no"}};
  for (const auto& step : steps) {
    EXPECT_EQ(mute.toggleMute(), std::optional<bool>(step.muted));
    EXPECT_EQ(pactl({"get-source-mute", "test_mic"}), step.shown);
    EXPECT_EQ(monitorClients(), 1);
  }
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

// A default changed after the object has connected is followed too, and the
// source that was the default is left as it was.
TEST_F(MicMuteTest, FollowsADefaultChangedBetweenTwoTogglesOnOneObject) {
  platform::PulseMicrophoneMute mute;
  EXPECT_EQ(mute.toggleMute(), std::optional<bool>(true));
  const QString module = pactl({"load-module", "module-null-source", "source_name=second_mic"});
  ASSERT_FALSE(module.startsWith("pactl failed")) << module.toStdString();
  ASSERT_EQ(pactl({"set-default-source", "second_mic"}), "");
  EXPECT_EQ(mute.toggleMute(), std::optional<bool>(true));
  EXPECT_EQ(pactl({"get-source-mute", "second_mic"}), "Mute: yes");
  EXPECT_EQ(pactl({"get-source-mute", "test_mic"}), "Mute: yes");
  EXPECT_EQ(mute.toggleMute(), std::optional<bool>(false));
  EXPECT_EQ(pactl({"get-source-mute", "second_mic"}), "Mute: no");
  EXPECT_EQ(pactl({"get-source-mute", "test_mic"}), "Mute: yes");
  pactl({"unload-module", module});
}

// The sound server goes away after a toggle on an object; it is either back
// before the next toggle (restarted), or that toggle finds nothing and only
// the one after finds it back. Either way the object connects anew once the
// server is there.
TEST_F(MicMuteTest, ReconnectsAfterTheServerWentAway) {
  const struct {
    const char* name;
    bool toggleWhileGone;
  } cases[] = {{"restarted between two toggles", false}, {"toggled while gone, then back", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(pactl({"set-source-mute", "test_mic", "0"}), "");
    platform::PulseMicrophoneMute mute;
    EXPECT_EQ(mute.toggleMute(), std::optional<bool>(true));
    daemon_->stop();
    if (c.toggleWhileGone) {
      EXPECT_EQ(mute.toggleMute(), std::nullopt);
    }
    started_ = daemon_->start(tmp_->path().toStdString());
    ASSERT_TRUE(started_) << daemon_->why();
    ASSERT_EQ(pactl({"set-default-source", "test_mic"}), "");
    ASSERT_EQ(pactl({"get-source-mute", "test_mic"}), "Mute: no");
    EXPECT_EQ(mute.toggleMute(), std::optional<bool>(true));
    EXPECT_EQ(pactl({"get-source-mute", "test_mic"}), "Mute: yes");
    EXPECT_EQ(mute.toggleMute(), std::optional<bool>(false));
    EXPECT_EQ(pactl({"get-source-mute", "test_mic"}), "Mute: no");
  }
}

// A test killed mid-run (a ctest time-out) must not leave its sound server
// running: the daemon ends with the process that started it.
TEST(PulseDaemonTest, EndsWithTheProcessThatStartedIt) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  int report[2];
  ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
  const pid_t starter = ::fork();
  ASSERT_GE(starter, 0);
  if (starter == 0) {
    PulseDaemon daemon;
    const pid_t started = daemon.start(dir.path().toStdString()) ? daemon.pid() : -1;
    (void)!::write(report[1], &started, sizeof started);
    for (;;) ::pause();  // until killed
  }
  ::close(report[1]);
  pid_t daemonPid = -1;
  pollfd r{report[0], POLLIN, 0};
  const bool reported =
      ::poll(&r, 1, 30000) == 1 && ::read(report[0], &daemonPid, sizeof daemonPid) == sizeof daemonPid;
  ::close(report[0]);
  ::kill(starter, SIGKILL);
  ::waitpid(starter, nullptr, 0);
  ASSERT_TRUE(reported) << "the starter process did not report";
  if (daemonPid <= 0) {
    if (std::getenv("CI")) FAIL() << "pulseaudio did not start";
    GTEST_SKIP() << "pulseaudio did not start";
  }
  // The daemon is not our child: its pidfd becomes readable when it ends.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, daemonPid, 0));
  if (pidfd < 0) {
    ASSERT_EQ(errno, ESRCH);  // already gone
    return;
  }
  pollfd ended{pidfd, POLLIN, 0};
  const bool gone = ::poll(&ended, 1, 10000) == 1;
  if (!gone) ::kill(daemonPid, SIGKILL);  // leave nothing behind even on failure
  ::close(pidfd);
  EXPECT_TRUE(gone) << "pulseaudio " << daemonPid << " outlived the process that started it";
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
