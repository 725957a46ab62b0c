// The program itself: single instance and the end on a signal.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "emulator/testing/EmulatorProcess.h"
#include "platform/FilterDriverProtocol.h"

namespace {

// The bound of every wait on the monitor: a generous one, since a start under
// ThreadSanitizer on a loaded machine, with an X display, takes half a minute.
constexpr int kWaitMs = 90000;

// The monitor's environment for one test: every folder in dir, the emulated
// mouse and its driver, no sound server, the offscreen platform.
QProcessEnvironment monitorEnvironment(const QTemporaryDir& dir, const emulator::testing::EmulatorProcess& mouse) {
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

// How many DPI tables the driver has been given so far.
int cpiTables(emulator::testing::EmulatorProcess& mouse) {
  int n = 0;
  for (auto& r : mouse.driverLog()) n += r.code == platform::kIoctlSetCpiUnit;
  return n;
}

TEST(Tessold, SecondStartEndsAtOnceAndSigtermSendsTheLastTable) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  emulator::testing::EmulatorProcess mouse;
  ASSERT_TRUE(mouse.start()) << mouse.lastError();
  QProcessEnvironment env = monitorEnvironment(dir, mouse);

  QProcess first;
  first.setProcessEnvironment(env);
  first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  first.start(TESSOLD_EXE, {});
  ASSERT_TRUE(first.waitForStarted());
  auto tables = [&] { return cpiTables(mouse); };
  ASSERT_TRUE(QTest::qWaitFor([&] { return tables() >= 1; }, kWaitMs));

  QProcess second;
  second.setProcessEnvironment(env);
  second.start(TESSOLD_EXE, {});
  ASSERT_TRUE(second.waitForFinished(kWaitMs));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);

  const int before = tables();
  ::kill(pid_t(first.processId()), SIGTERM);
  ASSERT_TRUE(first.waitForFinished(kWaitMs));
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
  QProcessEnvironment env = monitorEnvironment(dir, mouse);

  QProcess monitor;
  monitor.setProcessEnvironment(env);
  monitor.start(exe, {});
  ASSERT_TRUE(monitor.waitForStarted());
  auto tables = [&] { return cpiTables(mouse); };
  // Start-up ran to its end: the table at start and the one for the mouse found.
  ASSERT_TRUE(QTest::qWaitFor([&] { return tables() >= 2; }, kWaitMs));
  ::kill(pid_t(monitor.processId()), SIGTERM);
  ASSERT_TRUE(monitor.waitForFinished(kWaitMs));
  EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(monitor.exitCode(), 0);
  EXPECT_EQ(tables(), 3);  // and the last one at the end
  EXPECT_TRUE(monitor.readAllStandardError().contains("uiHook.dll can not be found!"));
}

// A desktop without a tray (stock GNOME, a headless run; the offscreen
// platform has none): the monitor says so once, with the way to the
// configurator, and goes on with its work.
TEST(Tessold, WithoutATraySaysSoOnceAndKeepsWorking) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  emulator::testing::EmulatorProcess mouse;
  ASSERT_TRUE(mouse.start()) << mouse.lastError();
  QProcessEnvironment env = monitorEnvironment(dir, mouse);

  QProcess monitor;
  monitor.setProcessEnvironment(env);
  monitor.start(TESSOLD_EXE, {});
  ASSERT_TRUE(monitor.waitForStarted());
  auto driverRequests = [&](uint32_t code) {
    std::vector<std::vector<uint8_t>> out;
    for (auto& r : mouse.driverLog())
      if (r.code == code) out.push_back(r.bytes);
    return out;
  };
  // Start-up ran to its end: the table at start and the one for the mouse found.
  ASSERT_TRUE(QTest::qWaitFor([&] { return driverRequests(platform::kIoctlSetCpiUnit).size() >= 2; }, kWaitMs));
  // Still at work: a level chosen on the mouse reaches the driver.
  ASSERT_TRUE(mouse.dpi(2));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !driverRequests(platform::kIoctlSetCurrentCpi).empty(); }, kWaitMs));
  EXPECT_EQ(driverRequests(platform::kIoctlSetCurrentCpi).back(), (std::vector<uint8_t>{2, 0}));
  ::kill(pid_t(monitor.processId()), SIGTERM);
  ASSERT_TRUE(monitor.waitForFinished(kWaitMs));
  EXPECT_EQ(monitor.exitCode(), 0);

  const QString err = QString::fromUtf8(monitor.readAllStandardError());
  const QString notice = QStringLiteral("no system tray");
  EXPECT_EQ(err.count(notice), 1) << err.toStdString();
  const QString line = err.split(u'\n').filter(notice).value(0);
  EXPECT_TRUE(line.startsWith(QStringLiteral("tessold: "))) << line.toStdString();
  EXPECT_TRUE(line.contains(QStringLiteral("\"Gaming Mouse Config\""))) << line.toStdString();
  EXPECT_TRUE(line.contains(QStringLiteral("Marvane"))) << line.toStdString();
}

// Under a Wayland session the monitor runs as an X client of XWayland, where
// its hooks work, without asking Qt for a Wayland plugin first.
TEST(Tessold, UnderWaylandRunsOnXWayland) {
  const char* display = std::getenv("TEST_X_DISPLAY");
  if (!display) {
    if (std::getenv("CI")) FAIL() << "TEST_X_DISPLAY is not set under CI";
    GTEST_SKIP() << "no TEST_X_DISPLAY";
  }
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  emulator::testing::EmulatorProcess mouse;
  ASSERT_TRUE(mouse.start()) << mouse.lastError();
  QProcessEnvironment env = monitorEnvironment(dir, mouse);
  env.remove("QT_QPA_PLATFORM");
  env.insert("XDG_SESSION_TYPE", "wayland");
  env.insert("WAYLAND_DISPLAY", "wayland-test");
  env.insert("DISPLAY", display);
  // Qt's xcb platform has libxkbcommon-x11 strndup() names out of X replies
  // that hold no NUL inside their buffer: within its length, but ASan's
  // strict string checks take it for an overflow and end the program.
  env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":strict_string_checks=0");

  QProcess monitor;
  monitor.setProcessEnvironment(env);
  monitor.start(TESSOLD_EXE, {});
  ASSERT_TRUE(monitor.waitForStarted());
  auto tables = [&] { return cpiTables(mouse); };
  // What the monitor printed, with every verdict: a sanitizer's report
  // explains an exit status only there.
  auto errors = [&] { return QString::fromUtf8(monitor.readAllStandardError()).toStdString(); };
  ASSERT_TRUE(QTest::qWaitFor([&] { return tables() >= 2 || monitor.state() == QProcess::NotRunning; }, kWaitMs));
  ASSERT_GE(tables(), 2) << "the monitor ended with " << monitor.exitCode() << ":\n" << errors();
  ::kill(pid_t(monitor.processId()), SIGTERM);
  ASSERT_TRUE(monitor.waitForFinished(kWaitMs)) << errors();
  const std::string err = errors();
  EXPECT_EQ(monitor.exitStatus(), QProcess::NormalExit) << err;
  EXPECT_EQ(monitor.exitCode(), 0) << err;
  EXPECT_EQ(QString::fromStdString(err).contains(QStringLiteral("wayland"), Qt::CaseInsensitive), false) << err;
}

// SIGTERM while the start-up's level read pauses (the event loop proper
// not running yet): the monitor finishes its start and ends at once, with
// the last table.
TEST(Tessold, SigtermDuringTheStartUpPausesEndsTheMonitor) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  emulator::testing::EmulatorProcess mouse;
  ASSERT_TRUE(mouse.start()) << mouse.lastError();
  const QProcessEnvironment env = monitorEnvironment(dir, mouse);

  QProcess monitor;
  monitor.setProcessEnvironment(env);
  monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  monitor.start(TESSOLD_EXE, {});
  ASSERT_TRUE(monitor.waitForStarted());
  auto tables = [&] { return cpiTables(mouse); };
  // The first frame opened: its pauses run before the event loop proper.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !mouse.wireLog().empty(); }, kWaitMs));
  ::kill(pid_t(monitor.processId()), SIGTERM);
  ASSERT_TRUE(monitor.waitForFinished(kWaitMs));
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
