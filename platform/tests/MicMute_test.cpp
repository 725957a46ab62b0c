#include "platform/MicMute.h"
#include "platform/testing/PulseDaemon.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
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
