// The program itself: single instance, the end on a signal, the tray and the
// device watcher, each on its own emulated mouse.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

#include "emulator/EmulatorServer.h"
#include "emulator/testing/EmulatorProcess.h"
#include "emulator/testing/WireSummary.h"
#include "monitor/tests/MonitorTestSupport.h"
#include "platform/EmulatorProtocol.h"
#include "platform/FilterDriverProtocol.h"

namespace {

// The bound of every wait on the monitor: a generous one, since a start under
// ThreadSanitizer on a loaded machine, with an X display, takes half a minute.
constexpr int kWaitMs = 90000;

// The include list entry of the emulated mouse's vendor collection.
constexpr char kMouseId[] = "HID\\VID_1209&PID_0001&REV_0100&Col02";

// One monitor process on one emulated mouse, every folder in a temporary
// one, no sound server, the offscreen platform unless a test says otherwise.
class Tessold : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  void TearDown() override {
    if (monitor_ && monitor_->state() != QProcess::NotRunning) {
      monitor_->kill();
      monitor_->waitForFinished(kWaitMs);
    }
  }

  QString Path(const QString& name) const { return dir_.filePath(name); }

  // The monitor's environment; MOUSE_EMULATOR and MOUSE_DRIVER_DIR name the
  // mouse's folder (its socket may not be there yet).
  QProcessEnvironment Environment(const QString& mouseFolder) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* d : {"home", "config", "data", "run"}) QDir(dir_.path()).mkpath(d);
    env.insert("HOME", Path("home"));
    env.insert("XDG_CONFIG_HOME", Path("config"));
    env.insert("XDG_DATA_HOME", Path("data"));
    env.insert("XDG_RUNTIME_DIR", Path("run"));
    env.insert("MOUSE_RUNTIME_DIR", Path("run"));
    env.insert("MOUSE_EMULATOR", QDir(mouseFolder).filePath("mouse.sock"));
    env.insert("MOUSE_DRIVER_DIR", mouseFolder);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("PULSE_SERVER", "unix:" + Path("no-pulse"));
    env.remove("DISPLAY");
    return env;
  }
  QProcessEnvironment Environment() const { return Environment(QString::fromStdString(mouse_->driverDirectory())); }

  // A program folder of its own: the monitor, the hook library, a config.ini
  // listing the emulated mouse and a stand-in configurator that records its
  // starts. Returns the monitor's path.
  QString ProgramFolder(bool hookLibrary = true) {
    QDir(dir_.path()).mkpath("program");
    const QDir program(Path("program"));
    const QString exe = program.filePath("tessold");
    EXPECT_TRUE(QFile::copy(TESSOLD_EXE, exe));
    const QString hook = QFileInfo(TESSOLD_EXE).dir().filePath("libuiHook.so");
    if (hookLibrary && QFile::exists(hook)) QFile::link(hook, program.filePath("libuiHook.so"));
    QFile ini(program.filePath("config.ini"));
    EXPECT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QByteArray("[IncludeHIDDeviceList]\r\nid1=") + kMouseId + "\r\n");
    ini.close();
    QFile stub(program.filePath("Marvane"));
    EXPECT_TRUE(stub.open(QIODevice::WriteOnly));
    stub.write("#!/bin/sh\necho started >> \"" + program.filePath("marvane.log").toLocal8Bit() + "\"\n");
    stub.close();
    stub.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return exe;
  }
  bool ConfiguratorStarted() const { return QFile::exists(QDir(Path("program")).filePath("marvane.log")); }

  // The emulated mouse, its socket in a new folder or the one given.
  void StartMouse(const QString& folder = {}) {
    emulator::testing::EmulatorProcess::Options o;
    o.directory = folder.toStdString();
    mouse_ = std::make_unique<emulator::testing::EmulatorProcess>(o);
    ASSERT_TRUE(mouse_->start()) << mouse_->lastError();
  }

  // Starts the monitor (stderr kept for Errors()).
  void Start(const QProcessEnvironment& env, const QString& exe = TESSOLD_EXE) {
    monitor_ = std::make_unique<QProcess>();
    monitor_->setProcessEnvironment(env);
    monitor_->start(exe, {});
    ASSERT_TRUE(monitor_->waitForStarted());
  }
  // Start-up ran to its end: the table at start and the one for the mouse found.
  void StartAndWaitForItsTables(const QProcessEnvironment& env, const QString& exe = TESSOLD_EXE) {
    ASSERT_NO_FATAL_FAILURE(Start(env, exe));
    WaitFor([&] { return Tables() >= 2; }, "the tables of the start-up");
  }
  // Waits for cond (bounded); fails the test on time-out.
  void WaitFor(const std::function<bool()>& cond, const char* what, int ms = kWaitMs) {
    if (!QTest::qWaitFor(cond, ms)) FAIL() << "waited in vain for " << what << "\n" << Errors().toStdString();
  }
  // The end as the session makes it: SIGTERM, and a clean exit.
  void Terminate() {
    ::kill(pid_t(monitor_->processId()), SIGTERM);
    ASSERT_TRUE(monitor_->waitForFinished(kWaitMs)) << Errors().toStdString();
    EXPECT_EQ(monitor_->exitStatus(), QProcess::NormalExit) << Errors().toStdString();
    EXPECT_EQ(monitor_->exitCode(), 0) << Errors().toStdString();
  }
  QString Errors() {
    if (monitor_) errors_ += QString::fromLocal8Bit(monitor_->readAllStandardError());
    return errors_;
  }

  std::vector<std::vector<uint8_t>> DriverRequests(uint32_t code) {
    std::vector<std::vector<uint8_t>> out;
    for (auto& r : mouse_->driverLog())
      if (r.code == code) out.push_back(r.bytes);
    return out;
  }
  // How many DPI tables the driver has been given so far.
  int Tables() { return int(DriverRequests(platform::kIoctlSetCpiUnit).size()); }
  void ExpectLastTableStopsSoftwareCpi() {
    const auto tables = DriverRequests(platform::kIoctlSetCpiUnit);
    ASSERT_FALSE(tables.empty());
    ASSERT_EQ(tables.back().size(), 238u);
    EXPECT_EQ(tables.back()[2], 0);  // NeedApplyNewCPI 0
  }

  // After SIGTERM during a frame: the end is seen in that frame's pauses, or
  // (on a slow machine) in the next one's; either way every frame on the
  // wire kept both pauses and closed, and none followed the one that saw the
  // end. Returns how many there were.
  std::size_t ExpectWholeFramesUpToTheEnd() {
    const auto transfers = emulator::testing::Transfers(mouse_->wireLog());
    const std::size_t frames = emulator::testing::LevelReadFrames(transfers).size();
    EXPECT_GE(frames, 1u);
    EXPECT_LE(frames, 2u);
    monitor_test::ExpectLevelReadPauses(transfers, frames);
    EXPECT_EQ(transfers.size(), 6 * frames);
    return frames;
  }

  QTemporaryDir dir_;
  std::unique_ptr<emulator::testing::EmulatorProcess> mouse_;
  std::unique_ptr<QProcess> monitor_;
  QString errors_;
};

TEST_F(Tessold, SecondStartEndsAtOnceAndSigtermSendsTheLastTable) {
  ASSERT_NO_FATAL_FAILURE(StartMouse());
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForItsTables(Environment()));

  QProcess second;
  second.setProcessEnvironment(Environment());
  second.start(TESSOLD_EXE, {});
  ASSERT_TRUE(second.waitForFinished(kWaitMs));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(monitor_->state(), QProcess::Running);

  const int before = Tables();
  Terminate();
  EXPECT_EQ(Tables(), before + 1);
  ExpectLastTableStopsSoftwareCpi();
}

// Without the hook library beside the program the monitor still starts and
// ends on a signal at once: the load error is a line on stderr, not a modal
// box whose event loop would hold up the start and swallow the quit.
TEST_F(Tessold, MissingHookLibraryHoldsUpNeitherStartNorEnd) {
  ASSERT_NO_FATAL_FAILURE(StartMouse());
  const QString exe = ProgramFolder(false);
  ASSERT_FALSE(QFile::exists(QDir(Path("program")).filePath("libuiHook.so")));
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForItsTables(Environment(), exe));
  Terminate();
  EXPECT_EQ(Tables(), 3);  // and the last one at the end
  EXPECT_TRUE(Errors().contains("uiHook.dll can not be found!"));
}

// A desktop without a tray (stock GNOME, a headless run; the offscreen
// platform has none): the monitor says so once, with the way to the
// configurator, and goes on with its work.
TEST_F(Tessold, WithoutATraySaysSoOnceAndKeepsWorking) {
  ASSERT_NO_FATAL_FAILURE(StartMouse());
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForItsTables(Environment()));
  // Still at work: a level chosen on the mouse reaches the driver.
  ASSERT_TRUE(mouse_->dpi(2));
  ASSERT_NO_FATAL_FAILURE(
      WaitFor([&] { return !DriverRequests(platform::kIoctlSetCurrentCpi).empty(); }, "the level"));
  EXPECT_EQ(DriverRequests(platform::kIoctlSetCurrentCpi).back(), (std::vector<uint8_t>{2, 0}));
  Terminate();

  const QString err = Errors();
  const QString notice = QStringLiteral("no system tray");
  EXPECT_EQ(err.count(notice), 1) << err.toStdString();
  const QString line = err.split(u'\n').filter(notice).value(0);
  EXPECT_TRUE(line.startsWith(QStringLiteral("tessold: "))) << line.toStdString();
  EXPECT_TRUE(line.contains(QStringLiteral("\"Gaming Mouse Config\""))) << line.toStdString();
  EXPECT_TRUE(line.contains(QStringLiteral("Marvane"))) << line.toStdString();
}

// The private X display of the run, or a skip (a failure under CI).
std::optional<QString> TestDisplay() {
  const char* display = std::getenv("TEST_X_DISPLAY");
  if (!display) return std::nullopt;
  return QString::fromLocal8Bit(display);
}
#define REQUIRE_TEST_DISPLAY(var)                                             \
  const std::optional<QString> var = TestDisplay();                           \
  if (!var) {                                                                 \
    if (std::getenv("CI")) FAIL() << "TEST_X_DISPLAY is not set under CI";    \
    GTEST_SKIP() << "no TEST_X_DISPLAY";                                      \
  }

// The monitor as an X client of display.
QProcessEnvironment OnDisplay(QProcessEnvironment env, const QString& display) {
  env.remove("QT_QPA_PLATFORM");
  env.insert("DISPLAY", display);
  // Qt's xcb platform has libxkbcommon-x11 strndup() names out of X replies
  // that hold no NUL inside their buffer: within its length, but ASan's
  // strict string checks take it for an overflow and end the program.
  env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":strict_string_checks=0");
  return env;
}

// Under a Wayland session the monitor runs as an X client of XWayland, where
// its hooks work, without asking Qt for a Wayland plugin first.
TEST_F(Tessold, UnderWaylandRunsOnXWayland) {
  REQUIRE_TEST_DISPLAY(display);
  ASSERT_NO_FATAL_FAILURE(StartMouse());
  QProcessEnvironment env = OnDisplay(Environment(), *display);
  env.insert("XDG_SESSION_TYPE", "wayland");
  env.insert("WAYLAND_DISPLAY", "wayland-test");
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForItsTables(env));
  Terminate();
  EXPECT_FALSE(Errors().contains(QStringLiteral("wayland"), Qt::CaseInsensitive)) << Errors().toStdString();
}

// Tessold's icons that are on show on display (docked in a tray).
QStringList VisibleIcons(const QString& display) {
  QProcess search;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DISPLAY", display);
  search.setProcessEnvironment(env);
  search.start("xdotool", {"search", "--onlyvisible", "--classname", "tessold"});
  if (!search.waitForFinished(10000)) return {};
  return QString::fromLocal8Bit(search.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

// With a tray (trayer on the private X display): the icon is docked at
// start, leaves with the mouse and is docked again when the mouse comes back,
// so "Config" and "Exit" stay reachable.
TEST_F(Tessold, TrayIconLeavesWithTheMouseAndComesBackWithIt) {
  REQUIRE_TEST_DISPLAY(display);
  ASSERT_TRUE(VisibleIcons(*display).isEmpty()) << "an icon of another monitor is on show";
  QProcess tray;
  QProcessEnvironment trayEnv = QProcessEnvironment::systemEnvironment();
  trayEnv.insert("DISPLAY", *display);
  tray.setProcessEnvironment(trayEnv);
  tray.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100", "--height",
                        "24"});
  ASSERT_TRUE(tray.waitForStarted(10000)) << "trayer: " << tray.errorString().toStdString();
  struct EndTray {
    QProcess& p;
    ~EndTray() {
      p.terminate();
      if (!p.waitForFinished(10000)) p.kill();
    }
  } endTray{tray};

  ASSERT_NO_FATAL_FAILURE(StartMouse());
  QProcessEnvironment env = OnDisplay(Environment(), *display);
  // No session bus: Qt docks the icon in the X tray.
  env.remove("DBUS_SESSION_BUS_ADDRESS");
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForItsTables(env, ProgramFolder()));
  ASSERT_NO_FATAL_FAILURE(WaitFor([&] { return !VisibleIcons(*display).isEmpty(); }, "the icon in the tray"));

  ASSERT_TRUE(mouse_->unplug());
  ASSERT_NO_FATAL_FAILURE(WaitFor([&] { return VisibleIcons(*display).isEmpty(); }, "the icon to leave"));
  const int tables = Tables();
  ASSERT_TRUE(mouse_->plug());
  // Taken up through the arrival path: its table, then the icon.
  ASSERT_NO_FATAL_FAILURE(WaitFor([&] { return Tables() > tables; }, "the table of the mouse back"));
  ASSERT_NO_FATAL_FAILURE(WaitFor([&] { return !VisibleIcons(*display).isEmpty(); }, "the icon back in the tray"));
  Terminate();
}

// SIGTERM while the start-up's level read pauses (the event loop proper
// not running yet): the open frame keeps both its pauses and closes, no
// frame starts once the end is seen, and the last table goes out.
TEST_F(Tessold, SigtermDuringTheStartUpPausesEndsTheMonitor) {
  ASSERT_NO_FATAL_FAILURE(StartMouse());
  ASSERT_NO_FATAL_FAILURE(Start(Environment()));
  // The first frame opened: its pauses run before the event loop proper.
  ASSERT_NO_FATAL_FAILURE(
      WaitFor([&] { return !emulator::testing::Transfers(mouse_->wireLog()).empty(); }, "the first frame"));
  Terminate();
  const std::size_t frames = ExpectWholeFramesUpToTheEnd();
  // Each frame's table, then the last one.
  EXPECT_EQ(Tables(), int(frames) + 1);
  ExpectLastTableStopsSoftwareCpi();
}

// SIGTERM while a frame of the running monitor pauses (a mode switch on the
// mouse started it, and another switch asks for one more frame): the open
// frame keeps both pauses and closes, no frame follows it, and the last
// table goes out.
TEST_F(Tessold, SigtermDuringAFrameOfTheRunningMonitorLetsItCloseAndStartsNoOther) {
  ASSERT_NO_FATAL_FAILURE(StartMouse());
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForItsTables(Environment()));
  // The reader is live once a level reaches the driver.
  ASSERT_TRUE(mouse_->dpi(2));
  ASSERT_NO_FATAL_FAILURE(
      WaitFor([&] { return !DriverRequests(platform::kIoctlSetCurrentCpi).empty(); }, "the reader"));
  ASSERT_TRUE(mouse_->clearLog());
  ASSERT_TRUE(mouse_->mode(1));
  // The switch's own input report is logged too: wait for the frame's opening.
  ASSERT_NO_FATAL_FAILURE(WaitFor([&] { return !emulator::testing::Transfers(mouse_->wireLog()).empty(); },
                                  "the mode switch's frame"));
  ASSERT_TRUE(mouse_->mode(0));
  Terminate();
  ExpectWholeFramesUpToTheEnd();
  ExpectLastTableStopsSoftwareCpi();
}

// The monitor starts while the mouse's arrival and removal events cannot be
// watched (the emulated mouse does not serve yet): it says so, tries again,
// and once the events are heard it takes up the mouse that came meanwhile.
TEST_F(Tessold, DeviceWatcherThatCouldNotStartIsTriedAgainUntilItWatches) {
  const QString mouseFolder = Path("mouse");
  ASSERT_TRUE(QDir(dir_.path()).mkpath("mouse"));
  const QString exe = ProgramFolder();
  ASSERT_NO_FATAL_FAILURE(Start(Environment(mouseFolder), exe));
  ASSERT_NO_FATAL_FAILURE(
      WaitFor([&] { return Errors().contains("device arrival and removal not watched"); }, "the watcher's failure"));

  ASSERT_NO_FATAL_FAILURE(StartMouse(mouseFolder));
  // The mouse is taken up as any arrival is: its table, and the configurator.
  ASSERT_NO_FATAL_FAILURE(
      WaitFor([&] { return Tables() >= 1 && ConfiguratorStarted(); }, "the mouse to be taken up"));
  EXPECT_TRUE(Errors().contains("device arrival and removal watched again")) << Errors().toStdString();
  monitor_test::ExpectLevelReadPauses(emulator::testing::Transfers(mouse_->wireLog()), 1);
  Terminate();
  ExpectLastTableStopsSoftwareCpi();
}


// A flood of idle clients makes the emulated mouse drop the monitor's
// watcher connection (the one idle longest): the monitor says the events
// are not watched, watches them again, and still takes up a mouse that is
// unplugged and plugged in again.
TEST_F(Tessold, DeviceWatcherDroppedByTheMouseWatchesAgain) {
  ASSERT_NO_FATAL_FAILURE(StartMouse());
  ASSERT_NO_FATAL_FAILURE(StartAndWaitForItsTables(Environment(), ProgramFolder()));
  {
    namespace emu = platform::emu;
    // Every place taken by a client newer than the monitor's. The monitor
    // may connect again while the flood runs (its watcher retries once
    // dropped); its newer connection then takes the place of one of ours
    // still short of its first frame, which connects again.
    std::vector<std::unique_ptr<emu::Connection>> idle;
    for (std::size_t i = 0; i < emulator::EmulatorServer::kMaxClients; ++i) {
      std::string error;
      std::unique_ptr<emu::Connection> c;
      emu::Connection::Reply reply;
      for (int attempt = 0; attempt < 5 && !c; ++attempt) {
        c = emu::Connection::connect(mouse_->socketPath(), error);
        ASSERT_TRUE(c) << error;
        if (!c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error)) c.reset();
      }
      ASSERT_TRUE(c) << "client " << i << " lost its place five times: " << error;
      ASSERT_EQ(reply.status, emu::Status::Ok);
      idle.push_back(std::move(c));
    }
  }
  ASSERT_NO_FATAL_FAILURE(WaitFor([&] { return Errors().contains("device arrival and removal not watched"); },
                                  "the monitor to see its watcher dropped"));
  // The test's own control connection was dropped too: the first call finds
  // that out, the next connects again.
  if (!mouse_->unplug()) {
    ASSERT_TRUE(mouse_->unplug()) << mouse_->lastError();
  }
  ASSERT_NO_FATAL_FAILURE(WaitFor([&] { return Errors().contains("device arrival and removal watched again"); },
                                  "the watcher back"));
  QFile::remove(QDir(Path("program")).filePath("marvane.log"));
  const int tables = Tables();
  ASSERT_TRUE(mouse_->plug()) << mouse_->lastError();
  // Taken up as any arrival is: its table, and the configurator.
  ASSERT_NO_FATAL_FAILURE(
      WaitFor([&] { return Tables() > tables && ConfiguratorStarted(); }, "the mouse back to be taken up"));
  Terminate();
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
