// The program itself: single instance and the end on a signal.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

#include "emulator/testing/EmulatorProcess.h"
#include "platform/FilterDriverProtocol.h"

namespace {

// Private folders in dir, the emulated mouse and its driver, no display, no
// sound server.
QProcessEnvironment MonitorEnvironment(const QTemporaryDir& dir, const emulator::testing::EmulatorProcess& mouse) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* d : {"home", "config", "data", "run"}) QDir(dir.path()).mkpath(d);
  env.insert("HOME", dir.filePath("home"));
  env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
  env.insert("XDG_DATA_HOME", dir.filePath("data"));
  env.insert("XDG_RUNTIME_DIR", dir.filePath("run"));
  env.insert("MOUSE_RUNTIME_DIR", dir.filePath("run"));
  env.insert("MOUSE_EMULATOR", QString::fromStdString(mouse.socketPath()));
  env.insert("MOUSE_DRIVER_DIR", QString::fromStdString(mouse.driverDirectory()));
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("PULSE_SERVER", "unix:" + dir.filePath("no-pulse"));
  env.remove("DISPLAY");
  return env;
}

TEST(Tessold, SecondStartEndsAtOnceAndSigtermSendsTheLastTable) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  emulator::testing::EmulatorProcess mouse;
  ASSERT_TRUE(mouse.start()) << mouse.lastError();
  const QProcessEnvironment env = MonitorEnvironment(dir, mouse);

  QProcess first;
  first.setProcessEnvironment(env);
  first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  first.start(TESSOLD_EXE, {});
  ASSERT_TRUE(first.waitForStarted());
  auto tables = [&] {
    int n = 0;
    for (auto& r : mouse.driverLog()) n += r.code == platform::kIoctlSetCpiUnit;
    return n;
  };
  QTRY_VERIFY_WITH_TIMEOUT(tables() >= 1, 20000);

  QProcess second;
  second.setProcessEnvironment(env);
  second.start(TESSOLD_EXE, {});
  ASSERT_TRUE(second.waitForFinished(20000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);

  const int before = tables();
  ::kill(pid_t(first.processId()), SIGTERM);
  ASSERT_TRUE(first.waitForFinished(20000));
  EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first.exitCode(), 0);
  std::vector<uint8_t> last;
  int after = 0;
  for (auto& r : mouse.driverLog())
    if (r.code == platform::kIoctlSetCpiUnit) {
      last = r.bytes;
      ++after;
    }
  EXPECT_EQ(after, before + 1);
  ASSERT_EQ(last.size(), 238u);
  EXPECT_EQ(last[2], 0);  // NeedApplyNewCPI 0
}

// Without the hook library beside the program the monitor still starts and
// ends on a signal at once: the load error is a line on stderr, not a modal
// box whose event loop would hold up the start and swallow the quit.
TEST(Tessold, MissingHookLibraryHoldsUpNeitherStartNorEnd) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  emulator::testing::EmulatorProcess mouse;
  ASSERT_TRUE(mouse.start()) << mouse.lastError();
  QDir(dir.path()).mkpath("program");
  const QString exe = QDir(dir.filePath("program")).filePath("tessold");
  ASSERT_TRUE(QFile::copy(TESSOLD_EXE, exe));
  ASSERT_FALSE(QFile::exists(QDir(dir.filePath("program")).filePath("libuiHook.so")));
  const QProcessEnvironment env = MonitorEnvironment(dir, mouse);

  QProcess monitor;
  monitor.setProcessEnvironment(env);
  monitor.start(exe, {});
  ASSERT_TRUE(monitor.waitForStarted());
  auto tables = [&] {
    int n = 0;
    for (auto& r : mouse.driverLog()) n += r.code == platform::kIoctlSetCpiUnit;
    return n;
  };
  // Start-up ran to its end: the table at start and the one for the mouse found.
  QTRY_VERIFY_WITH_TIMEOUT(tables() >= 2, 20000);
  ::kill(pid_t(monitor.processId()), SIGTERM);
  ASSERT_TRUE(monitor.waitForFinished(20000));
  EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(monitor.exitCode(), 0);
  EXPECT_EQ(tables(), 3);  // and the last one at the end
  EXPECT_TRUE(monitor.readAllStandardError().contains("uiHook.dll can not be found!"));
}

// SIGTERM while the start-up's level read pauses (the event loop proper
// not running yet): the monitor finishes its start and ends at once, with
// the last table.
TEST(Tessold, SigtermDuringTheStartUpPausesEndsTheMonitor) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  emulator::testing::EmulatorProcess mouse;
  ASSERT_TRUE(mouse.start()) << mouse.lastError();
  const QProcessEnvironment env = MonitorEnvironment(dir, mouse);

  QProcess monitor;
  monitor.setProcessEnvironment(env);
  monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  monitor.start(TESSOLD_EXE, {});
  ASSERT_TRUE(monitor.waitForStarted());
  auto tables = [&] {
    int n = 0;
    for (auto& r : mouse.driverLog()) n += r.code == platform::kIoctlSetCpiUnit;
    return n;
  };
  // The first frame opened: its pauses run before the event loop proper.
  QTRY_VERIFY_WITH_TIMEOUT(!mouse.wireLog().empty(), 20000);
  ::kill(pid_t(monitor.processId()), SIGTERM);
  ASSERT_TRUE(monitor.waitForFinished(20000));
  EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(monitor.exitCode(), 0);
  // The tables of the start, then the last one.
  EXPECT_EQ(tables(), 3);
  std::vector<uint8_t> last;
  for (auto& r : mouse.driverLog())
    if (r.code == platform::kIoctlSetCpiUnit) last = r.bytes;
  ASSERT_EQ(last.size(), 238u);
  EXPECT_EQ(last[2], 0);  // NeedApplyNewCPI 0
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
