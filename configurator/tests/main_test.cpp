// The real Marvane program: one instance per user, a second start ends
// silently, a killed instance never blocks the next, 7036 ends it.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

#include <csignal>
#include <future>
#include <mutex>

#include "emulator/testing/EmulatorProcess.h"
#include "platform/MessageChannel.h"
#include "platform/SingleInstance.h"
#include "platform/testing/EndpointThread.h"
#include <QEventLoop>
#include <QThread>

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { app_ = new QCoreApplication(argc_, argv_); }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[8] = "test";
  char* argv_[2] = {name_, nullptr};
  QCoreApplication* app_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// The monitor's endpoint on its own thread, so the configurator finds a
// monitor and starts none.
class FakeMonitor : public platform_test::EndpointThread {
 public:
  FakeMonitor()
      : EndpointThread(std::string(platform::kMonitorClass),
                       platform::MessageEndpoint::Handler([](std::uint32_t, std::int64_t, std::int64_t) {
                         return std::int64_t{0};
                       })) {}
};

// Waits for a condition while the event loop turns, up to a deadline.
bool waitFor(const std::function<bool()>& condition, int ms = 30000) {
  QElapsedTimer t;
  t.start();
  while (!condition()) {
    if (t.elapsed() > ms) return false;
    QTest::qWait(20);
  }
  return true;
}

ino_t inodeOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

class MarvaneProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    const QString base = tmp_.path();
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) qputenv(var, base.toUtf8());
    qputenv("MOUSE_RUNTIME_DIR", (base + "/rt").toUtf8());
    program_ = base + "/program";
    QDir().mkpath(program_);
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), program_ + "/Images");
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), program_ + "/images");
    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
  }

  std::unique_ptr<QProcess> start() {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("MOUSE_PROGRAM_DIR", program_);
    env.insert("MOUSE_EMULATOR", QString::fromStdString(mouse_.socketPath()));
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(QStringLiteral(MARVANE_EXE), {});
    EXPECT_TRUE(p->waitForStarted());
    return p;
  }

  QTemporaryDir tmp_;
  QString program_;
  emulator::testing::EmulatorProcess mouse_;
};

TEST_F(MarvaneProgramTest, SecondStartEndsSilentlyAndAKilledInstanceDoesNotBlock) {
  FakeMonitor monitor;
  ASSERT_TRUE(monitor.ok());
  const std::string socket = platform::messageSocketPath(platform::kConfiguratorClass);

  auto first = start();
  ASSERT_TRUE(waitFor([] { return platform::find(platform::kConfiguratorClass); }));
  const ino_t inode = inodeOf(socket);
  ASSERT_NE(inode, 0u);

  auto second = start();
  ASSERT_TRUE(second->waitForFinished(30000));
  EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second->exitCode(), 0);
  EXPECT_EQ(inodeOf(socket), inode);  // the first one's socket, untouched
  EXPECT_EQ(first->state(), QProcess::Running);

  // A crash leaves the lock to the kernel and a stale socket behind.
  ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
  ASSERT_TRUE(first->waitForFinished(30000));
  ASSERT_FALSE(platform::find(platform::kConfiguratorClass));

  auto third = start();
  ASSERT_TRUE(waitFor([] { return platform::find(platform::kConfiguratorClass); }));
  // 7036 from the monitor ends it at once.
  EXPECT_TRUE(platform::post(platform::kConfiguratorClass, platform::WM_CLOSE_CONFIG));
  ASSERT_TRUE(third->waitForFinished(30000));
  EXPECT_EQ(third->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(third->exitCode(), 0);
}

}  // namespace
