// Both programs against one emulated mouse: the real `tessold` process from
// a copy of the program folder, the configurator's window in this process
// with its real message endpoint, one `mouse-emulator` process and, where
// the microphone matters, a private pulseaudio daemon. Observed: the
// mouse's wire log and memory, the driver log, the store, the files and
// pulseaudio's mute flag. Every expected byte is written out by hand.
//
// Built twice: as here, both programs reach the mouse through the
// emulator's socket; with E2E_THROUGH_HIDRAW the emulated mouse is a kernel
// HID device (`serve --uhid`) and both reach it through hidraw and udev like
// a real mouse, with the same expectations. That build skips without a
// usable /dev/uhid.
#include "configurator/MainConfig.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "configurator/DeviceSequences.h"
#include "device/DMUnit.h"
#include "device/uiStdCmd.h"
#include "emulator/testing/EmulatorProcess.h"
#include "monitor/tests/MonitorTestSupport.h"
#include "platform/FilterDriverProtocol.h"
#include "platform/HidBackend.h"
#include "platform/HidrawBackend.h"
#include "platform/MessageChannel.h"
#include "platform/PointerSettings.h"
#include "platform/RegistryStore.h"
#include "platform/SingleInstance.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiMenuEx.h"
#include "emulator/testing/WireSummary.h"
#include "platform/testing/QtTestEnvironment.h"
#include "platform/testing/StalledPeers.h"
#include "platform/testing/StopProcess.h"
#include "tests/e2e/UserFolders.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace emu = platform::emu;

// The third writer of the store: this executable started again with
// E2E_STORE_WRITER=<store path>. It writes whole 8 KiB images, each made of
// its generation, and reads each back, until the file E2E_STORE_WRITER_STOP
// names exists; it prints "writing" once its first image is back whole, and
// its last generation at the end. It ends before gtest starts, with 0 only
// when every write and read was whole.
QByteArray WriterImage(uint32_t generation) {
  QByteArray image(8192, char(generation & 0xFF));
  std::memcpy(image.data(), &generation, sizeof generation);
  return image;
}
bool WholeWriterImage(const QByteArray& image) {
  if (image.size() != 8192) return false;
  uint32_t generation = 0;
  std::memcpy(&generation, image.constData(), sizeof generation);
  return image == WriterImage(generation);
}
const QString kWriterKey = QStringLiteral("software\\EndToEndWriter");

[[maybe_unused]] const int kStoreWriter = [] {
  const char* path = std::getenv("E2E_STORE_WRITER");
  if (!path) return 0;
  const char* stop = std::getenv("E2E_STORE_WRITER_STOP");
  if (!stop) return 0;
  const QString stopFile = QString::fromLocal8Bit(stop);
  auto store = platform::openSqliteRegistryStore(QString::fromLocal8Bit(path));
  int failures = 0;
  uint32_t generation = 0;
  while (store && !QFile::exists(stopFile)) {
    ++generation;
    if (store->writeBinary(platform::HKEY_CURRENT_USER, kWriterKey, QStringLiteral("Image"), WriterImage(generation)) !=
            platform::RegStatus::Ok ||
        store->writeInteger(platform::HKEY_CURRENT_USER, kWriterKey, QStringLiteral("Generation"),
                            int32_t(generation)) != platform::RegStatus::Ok) {
      std::fprintf(stderr, "writer: write %u failed: %s\n", generation, qPrintable(store->lastError()));
      ++failures;
      continue;
    }
    QByteArray back;
    if (store->readBinary(platform::HKEY_CURRENT_USER, kWriterKey, QStringLiteral("Image"), back) !=
            platform::RegStatus::Ok ||
        !WholeWriterImage(back)) {
      std::fprintf(stderr, "writer: read %u not whole: %s\n", generation, qPrintable(store->lastError()));
      ++failures;
    } else if (generation == 1) {
      std::printf("writing\n");
      std::fflush(stdout);
    }
  }
  std::printf("%u\n", generation);
  std::fflush(stdout);
  std::_Exit(store && failures == 0 && generation > 0 ? 0 : 1);
}();

// The desktop settings of Apply run on workers; they end before the application.
class QtEnvironment : public QtTestEnvironment<QApplication> {
  void Ending() override { TuiThread::WaitForAll(); }
};
[[maybe_unused]] const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

#ifdef E2E_THROUGH_HIDRAW
constexpr bool kThroughHidraw = true;
// The kernel tells no release number of a uhid device: REV_0000.
constexpr char kMouseId[] = "HID\\VID_1209&PID_0001&REV_0000&Col02";
#else
constexpr bool kThroughHidraw = false;
// The include list entry of the emulated mouse's vendor collection.
constexpr char kMouseId[] = "HID\\VID_1209&PID_0001&REV_0100&Col02";
#endif

emulator::testing::EmulatorProcess::Options MouseOptions() {
  emulator::testing::EmulatorProcess::Options o;
  o.uhid = kThroughHidraw;
  return o;
}

using emulator::testing::Summary;

std::string Join(const std::vector<std::string>& v) {
  std::string s;
  for (const auto& x : v) s += x + " ";
  return s;
}

// Bytes 1..8 of a level in the driver's table: X and Y, four bytes each,
// low byte first.
Bytes LevelXY(uint16_t x, uint16_t y) {
  return {uint8_t(x & 0xFF), uint8_t(x >> 8), 0, 0, uint8_t(y & 0xFF), uint8_t(y >> 8), 0, 0};
}
// The software level i of a 238-byte table: 18 header bytes, ten hardware
// levels of nine bytes, then the ten software levels.
Bytes SoftwareLevelXY(const Bytes& table, int i) {
  const std::size_t at = 18 + 90 + 9 * std::size_t(i) + 1;
  if (table.size() < at + 8) return {};
  return Bytes(table.begin() + long(at), table.begin() + long(at + 8));
}

class BothPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    if (kThroughHidraw) {
      std::string why;
      if (!emulator::testing::EmulatorProcess::uhidUsable(why)) GTEST_SKIP() << why;
    }
    ASSERT_TRUE(tmp_.isValid());
    root_ = QDir(tmp_.path());
    root_.mkpath("program");
    e2e::PointUserFoldersAt(root_);
    program_ = root_.filePath("program");

    // The monitor finds its folder from its own path, so it runs from a copy.
    ASSERT_TRUE(QFile::copy(QStringLiteral(TESSOLD_EXE), QDir(program_).filePath("tessold")));
    QFile(QDir(program_).filePath("tessold")).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (QFile::exists(QStringLiteral(MOUSE_PROGRAM_DIR "/libuiHook.so")))
      QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/libuiHook.so"), QDir(program_).filePath("libuiHook.so"));
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), QDir(program_).filePath("Images"));
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), QDir(program_).filePath("images"));
    {
      QFile ini(QDir(program_).filePath("config.ini"));
      ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
      ini.write(QByteArray("[IncludeHIDDeviceList]\r\nid1=") + kMouseId + "\r\n");
    }
    // The configurator the monitor starts is a stand-in that records it.
    {
      QFile stub(QDir(program_).filePath("Marvane"));
      ASSERT_TRUE(stub.open(QIODevice::WriteOnly));
      stub.write("#!/bin/sh\necho started >> \"" + MarvaneLog().toLocal8Bit() + "\"\n");
      stub.close();
      stub.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    if (kThroughHidraw) {
      // The filter driver stays the emulator's; the mouse is reached as a
      // real one, once its node is there.
      mouse_.exportDriverEnvironment();
      ASSERT_TRUE(QTest::qWaitFor([] { return HidrawNodeOfTheMouse(); }, 15000)) << "no hidraw node";
    } else {
      mouse_.exportEnvironment();
    }
    store_ = platform::openSqliteRegistryStore(platform::defaultRegistryStorePath());
    ASSERT_TRUE(store_);
    dm_ = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, root_.filePath("home/Documents")});
    dm_->InitData();

    // The configurator's own endpoint, as its program opens it.
    lock_ = std::make_unique<platform::SingleInstance>(platform::kConfiguratorClass);
    ASSERT_TRUE(lock_->held());
    endpoint_ = std::make_unique<platform::MessageEndpoint>();
    ASSERT_TRUE(endpoint_->listen(*lock_, platform::kConfiguratorClass,
                                  [this](std::uint32_t m, std::int64_t w, std::int64_t l) -> std::int64_t {
                                    received_.push_back(m);
                                    return window_ ? window_->HandleMessage(m, w, l) : 0;
                                  }));
    SetMessageDialogAnswer([this](const QString& title, const QString& text, const QString&) {
      messages_.push_back(title + "|" + text);
      return 1;
    });
  }

  void TearDown() override {
    if (IsSkipped()) return;
    window_.reset();
    TuiThread::WaitForAll();
    SetMessageDialogAnswer({});
    StopMonitor();
    endpoint_.reset();
    lock_.reset();
    if (pulse_) pulse_->stop();
  }

  QString MarvaneLog() const { return root_.filePath("marvane.log"); }

  // The emulated mouse's hidraw node, readable and writable.
  static bool HidrawNodeOfTheMouse() {
    for (const auto& i : platform::HidrawBackend().enumerate())
      if (i.vendorId == 0x1209 && i.productId == 0x0001 && ::access(i.path.c_str(), R_OK | W_OK) == 0) return true;
    return false;
  }

  // Distinct levels per profile: level 0 of profile p runs at 500 + 100 p,
  // stored before either program reads them.
  void StoreDistinctProfileLevels() {
    for (int p = 0; p < kProfileCount; ++p) {
      ASSERT_TRUE(dm_->SwitchToProfile(p));
      auto& c = dm_->FCurrentProfileInfo.ConfigInfo;
      c.CPIState[0].X = c.CPIState[0].Y = uint16_t(500 + 100 * p);
      dm_->SaveBackToCurrentProfileInfo();
      ASSERT_TRUE(dm_->SaveCurrentProfileInfoToRegistry());
    }
    ASSERT_TRUE(dm_->SwitchToProfile(0));
    ASSERT_TRUE(dm_->SaveProfileGroupSettingInfoToRegistry());
  }

  // Level 0 of profile p at 500 + 100 p and whatever `edit` adds, in the
  // profile files only: no profile is in the store yet, as before the first
  // Apply. The configurator's data module is then made again from the disk.
  void WriteProfileFiles(const std::function<void(int, TMOUSEPROFILEINFO&)>& edit = {}) {
    for (int p = 0; p < kProfileCount; ++p) {
      ASSERT_TRUE(dm_->SwitchToProfile(p));
      auto& profile = dm_->FCurrentProfileInfo;
      profile.ConfigInfo.CPIState[0].X = profile.ConfigInfo.CPIState[0].Y = uint16_t(500 + 100 * p);
      if (edit) edit(p, profile);
      dm_->SaveBackToCurrentProfileInfo();
      ASSERT_TRUE(dm_->SaveCurrentProfileInfoToFile());
    }
    RestartConfiguratorData();
    for (int p = 0; p < kProfileCount; ++p) {
      QByteArray value;
      ASSERT_EQ(store_->readBinary(platform::HKEY_CURRENT_USER, QStringLiteral("software\\Orvelline"),
                                   QStringLiteral("Profile%1.pfd").arg(p + 1), value),
                platform::RegStatus::Absent)
          << "profile " << p + 1;
    }
  }
  void RestartConfiguratorData() {
    ASSERT_FALSE(window_);
    dm_ = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, root_.filePath("home/Documents")});
    dm_->InitData();
  }
  QString ProfileFile(int p) const {
    return root_.filePath(QStringLiteral("home/Documents/Profile/Profile%1.pfd").arg(p + 1));
  }
  static void PutMicMuteOnButton3(TMOUSEPROFILEINFO& profile) {
    TBUTTONFUNCINFO& b = profile.ConfigInfo.ButtonFuncInfo[2];
    b.FunctionType = kFunctionTypeMicMute;
    b.FunctionIndex = kMicMuteFunctionIndex;
    b.FunctionClass = kMicMuteFunctionClass;
    b.MenuId = kMicMuteMenuId;
    for (int k = 0; k < 3; ++k) b.MicMask[k] = ButtonMaskTable[2][size_t(k) + 1];
  }
  // The private sound server with an unmuted default microphone. Skips the
  // test outside CI when pulseaudio cannot run; callers check IsSkipped().
  void StartMicrophone() {
    pulse_ = std::make_unique<monitor_test::PulseDaemon>();
    if (!pulse_->start(root_.filePath("pulse").toStdString())) {
      if (std::getenv("CI")) FAIL() << pulse_->why();
      GTEST_SKIP() << pulse_->why();
    }
    ASSERT_EQ(monitor_test::Pactl({"set-default-source", "test_mic"}), "");
    ASSERT_EQ(monitor_test::Pactl({"set-source-mute", "test_mic", "0"}), "");
  }

  // The real monitor from the copied folder; returns once it has sent the
  // table of the mouse it found and its endpoint answers.
  void StartMonitor() {
    monitor_ = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    monitor_->setProcessEnvironment(env);
    monitor_->setProcessChannelMode(QProcess::SeparateChannels);
    monitor_->start(QDir(program_).filePath("tessold"), {});
    ASSERT_TRUE(monitor_->waitForStarted(20000));
    // At start-up, then for the mouse found.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Tables().size() >= 2; }, 30000)) << MonitorErrors().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([] { return platform::find(platform::kMonitorClass); }, 10000));
  }
  // Ends the monitor as the session does; it must end cleanly, without a
  // sanitizer report.
  void StopMonitor() {
    if (!monitor_) return;
    if (monitor_->state() != QProcess::NotRunning) {
      ::kill(pid_t(monitor_->processId()), SIGTERM);
      EXPECT_TRUE(monitor_->waitForFinished(20000));
    }
    const QString errors = MonitorErrors();
    EXPECT_EQ(monitor_->exitStatus(), QProcess::NormalExit) << errors.toStdString();
    EXPECT_EQ(monitor_->exitCode(), 0) << errors.toStdString();
    EXPECT_FALSE(errors.contains("AddressSanitizer")) << errors.toStdString();
    EXPECT_FALSE(errors.contains("runtime error")) << errors.toStdString();
    monitor_.reset();
  }
  QString MonitorErrors() {
    if (monitor_) stderr_ += QString::fromLocal8Bit(monitor_->readAllStandardError());
    return stderr_;
  }

  void OpenWindow() {
    TMarvaneEnvironment env;
    env.DM = dm_.get();
    if (kThroughHidraw)
      env.HidBackend = std::make_unique<platform::HidrawBackend>();
    else
      env.HidBackend = platform::makeEmulatorHidBackend(mouse_.socketPath());
    env.Pointer = &pointer_;
    env.ProgramFolder = program_;
    env.Terminate = [this] { ++terminated_; };
    env.StartMonitor = [] {};
    window_ = std::make_unique<TMarvaneMain>(std::move(env));
    window_->AssignmentDialogs.SingleKey = nullptr;
    window_->AssignmentDialogs.ComboKey = nullptr;
    window_->AssignmentDialogs.FireKey = nullptr;
    window_->AssignmentDialogs.MacroManager = nullptr;
    window_->AssignmentDialogs.Message = [this](const QString& title, const QString& text, const QString&) {
      messages_.push_back(title + "|" + text);
      return 1;
    };
    window_->show();
  }
  TMarvaneMain& w() { return *window_; }

  // A choice in the menu that a click on button `button` (0..8) opened.
  void Choose(int button, int64_t menuId) {
    w().BtnSetClick(button);
    TuiMenuEx* menu = button < 2 ? w().uiMenuExLRBUTTON : button < 7 ? w().uiMenuEx1 : w().uiMenuEx2;
    ASSERT_TRUE(menu->IsMenuOpen()) << "button " << button;
    menu->CloseMenu();
    menu->OnItemsClick(nullptr, QStringLiteral("Item%1").arg(menuId % 100), uint32_t(menuId), nullptr, 0);
  }

  std::vector<emulator::DriverRequest> Requests(uint32_t code) {
    std::vector<emulator::DriverRequest> out;
    for (auto& r : mouse_.driverLog())
      if (r.code == code) out.push_back(r);
    return out;
  }
  std::vector<emulator::DriverRequest> Tables() { return Requests(platform::kIoctlSetCpiUnit); }
  Bytes LastTable() {
    auto t = Tables();
    return t.empty() ? Bytes{} : t.back().bytes;
  }
  // Waits for table number `n` (counted from 1) and returns it.
  Bytes WaitTable(std::size_t n) {
    if (!QTest::qWaitFor([&] { return Tables().size() >= n; }, 10000)) return {};
    return Tables()[n - 1].bytes;
  }
  // A level report proves the monitor's reader is live: its current level
  // reaches the driver after the debounce.
  void WaitReaderLive(int level) {
    const auto before = Requests(platform::kIoctlSetCurrentCpi).size();
    ASSERT_TRUE(mouse_.dpi(level)) << mouse_.lastError();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Requests(platform::kIoctlSetCurrentCpi).size() > before; }, 10000));
    EXPECT_EQ(Requests(platform::kIoctlSetCurrentCpi).back().bytes, (Bytes{uint8_t(level), 0}));
  }
  std::unique_ptr<TDM> Reloaded() {
    auto dm = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, root_.filePath("home/Documents")});
    dm->InitData();
    return dm;
  }
  int Count(uint32_t message) { return int(std::count(received_.begin(), received_.end(), message)); }

  QTemporaryDir tmp_;
  QDir root_;
  QString program_;
  emulator::testing::EmulatorProcess mouse_{MouseOptions()};
  std::unique_ptr<monitor_test::PulseDaemon> pulse_;
  std::unique_ptr<platform::RegistryStore> store_;
  std::unique_ptr<TDM> dm_;
  std::unique_ptr<platform::SingleInstance> lock_;
  std::unique_ptr<platform::MessageEndpoint> endpoint_;
  std::unique_ptr<QProcess> monitor_;
  QString stderr_;
  std::unique_ptr<TMarvaneMain> window_;
  platform::RecordingPointerSettings pointer_;
  std::vector<QString> messages_;
  std::vector<uint32_t> received_;
  int terminated_ = 0;
};

// Apply with the monitor running: the monitor's own frame sits inside the
// configurator's, after command 1 and before the closing command 6 (1,0),
// every read request is fetched before anything else reaches the mouse, and
// the monitor's next table carries the applied level.
TEST_F(BothPrograms, ApplyNestsTheMonitorsFrameAndItsTableFollows) {
  StartMonitor();
  OpenWindow();
  // Clears the driver log too.
  ASSERT_TRUE(mouse_.clearLog());
  const std::size_t tables = Tables().size();

  w().LevelControlTable[1].X->setValue(1700);
  ASSERT_TRUE(w().SettingsChanged);
  w().BSBTNAPPLY->click();
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(w().SettingsChanged);

  const auto log = Summary(mouse_.wireLog());
  SCOPED_TRACE(Join(log));
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "6(0,0)");
  // The whole sequence: the configurator reads the active level, writes
  // each slot's button table, fifth macro block, LED block and DPI table,
  // then report rates, active slot and wheel byte, and sends command 1.
  EXPECT_EQ(log, (std::vector<std::string>{"6(0,0)",   "R64+1",    "G",        "R72+32",  "G",      "W144+65",
                                           "W1745+384", "W2177+6",  "W72+32",   "W2448+65", "W4049+384", "W4481+6",
                                           "W2376+32", "W69+1",    "W64+1",    "W62+1",    "1(1,0)", "6(0,0)",
                                           "R64+1",    "G",        "R72+32",   "G",        "6(1,0)", "6(1,0)"}));
  const auto command1 = std::find(log.begin(), log.end(), "1(1,0)");
  ASSERT_NE(command1, log.end());
  // The monitor: its frame, the active slot, the level of slot 0's table;
  // then the configurator closes its own frame.
  const std::vector<std::string> tail(command1 + 1, log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"6(0,0)", "R64+1", "G", "R72+32", "G", "6(1,0)", "6(1,0)"}));
  // No transfer of one program between the two halves of a read of the other.
  for (std::size_t i = 0; i < log.size(); ++i)
    if (log[i][0] == 'R') {
      ASSERT_LT(i + 1, log.size());
      EXPECT_EQ(log[i + 1], "G") << "after transfer " << i;
    }
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i] == "G") {
      EXPECT_TRUE(i > 0 && log[i - 1][0] == 'R') << "fetch " << i << " without its request";
    }
  }

  // One table for the reload, with level 1 at 1700 (0x06A4).
  ASSERT_EQ(Tables().size(), tables + 1);
  const Bytes table = LastTable();
  ASSERT_EQ(table.size(), 238u);
  EXPECT_EQ(table[0], 0x5A);
  EXPECT_EQ(table[1], 0x3C);
  EXPECT_EQ(table[2], 1);  // NeedApplyNewCPI
  EXPECT_EQ(SoftwareLevelXY(table, 1), LevelXY(0x06A4, 0x06A4));
  // And the store holds what was applied.
  EXPECT_EQ(Reloaded()->FCurrentProfileInfo.ConfigInfo.CPIState[1].X, 1700);
  // The mouse's memory: slot 0's DPI table, four levels with level 1 now at
  // step 1750 (code 7) beside the defaults 500, 1500 and 3500.
  Bytes dpiTable = {4, 1, 1, 2, 2, 1, 7, 7, 1, 6, 6, 1, 14, 14};
  dpiTable.resize(32, 0);
  EXPECT_EQ(mouse_.peek(72, 32), dpiTable);
}

// Apply's notice reaches the monitor while a frame of the monitor's own runs
// (the mouse reported a mode switch just before): the monitor answers only
// once the frame that serves the notice has closed, so the configurator's
// closing 6(1,0) comes after two whole frames of the monitor, never inside
// one.
TEST_F(BothPrograms, ApplysNoticeDuringAMonitorFrameIsAnsweredAfterTheFrameServingIt) {
  StartMonitor();
  OpenWindow();
  WaitReaderLive(1);
  ASSERT_TRUE(mouse_.clearLog());
  auto opened = [&] {
    const auto log = Summary(mouse_.wireLog());
    return std::count(log.begin(), log.end(), "6(0,0)");
  };
  // Apply pumps after its last write, before command 1 and the notice: there
  // the mouse reports a switch to the mode that is active, and the monitor's
  // frame for it opens.
  bool monitorFrameOpen = false;
  QTimer watch;
  watch.setInterval(1);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const auto log = Summary(mouse_.wireLog());
    if (std::find(log.begin(), log.end(), "W62+1") == log.end()) return;
    watch.stop();
    const auto before = opened();
    ASSERT_TRUE(mouse_.mode(0)) << mouse_.lastError();
    monitorFrameOpen = QTest::qWaitFor([&] { return opened() > before; }, 10000);
  });
  watch.start();
  w().LevelControlTable[1].X->setValue(1700);
  w().BSBTNAPPLY->click();
  watch.stop();
  EXPECT_TRUE(messages_.empty());
  ASSERT_TRUE(monitorFrameOpen) << MonitorErrors().toStdString();

  const auto transfers = emulator::testing::Transfers(mouse_.wireLog());
  std::vector<std::string> log;
  for (const auto& t : transfers) log.push_back(t.what);
  SCOPED_TRACE(Join(log));
  const auto lastWrite = std::find(log.begin(), log.end(), "W62+1");
  ASSERT_NE(lastWrite, log.end());
  // After Apply's last write: the monitor's frame for the mode switch, the
  // one serving the notice, then the configurator's close. Command 1 falls
  // into the first frame, wherever the monitor was when it came.
  std::vector<emulator::testing::Transfer> after(transfers.begin() + (lastWrite - log.begin()) + 1, transfers.end());
  const auto command1 = std::find_if(after.begin(), after.end(), [](const auto& t) { return t.what == "1(1,0)"; });
  ASSERT_NE(command1, after.end());
  after.erase(command1);
  std::vector<std::string> tail;
  for (const auto& t : after) tail.push_back(t.what);
  const std::vector<std::string> frame = {"6(0,0)", "R64+1", "G", "R72+32", "G", "6(1,0)"};
  std::vector<std::string> expected = frame;
  expected.insert(expected.end(), frame.begin(), frame.end());
  expected.push_back("6(1,0)");
  EXPECT_EQ(tail, expected);
  monitor_test::ExpectLevelReadPauses(after, 2);
}

// At start the monitor reads the mouse's level inside a frame of its own
// and sends the filter driver its table, at start-up and again for the
// mouse it found; a burst of level reports reaches the driver as one
// request, with the last level. The burst is both reports waiting for the
// monitor when it next runs: it is stopped while they are sent.
TEST_F(BothPrograms, MonitorsTableAtStartAndOneRequestPerBurstOfLevels) {
  StartMonitor();
  const auto tables = Tables();
  ASSERT_EQ(tables.size(), 2u);
  for (const auto& t : tables) {
    ASSERT_EQ(t.bytes.size(), 238u);
    // Marker word, NeedApplyNewCPI 1, and the current level the mouse's
    // factory table holds (1) at offset 16.
    EXPECT_EQ(Bytes(t.bytes.begin(), t.bytes.begin() + 4), (Bytes{0x5A, 0x3C, 1, 0}));
    EXPECT_EQ(Bytes(t.bytes.begin() + 16, t.bytes.begin() + 18), (Bytes{1, 0}));
  }
  // It read the level inside a frame of its own, before anything else.
  const auto log = Summary(mouse_.wireLog());
  ASSERT_GE(log.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 6),
            (std::vector<std::string>{"6(0,0)", "R64+1", "G", "R72+32", "G", "6(1,0)"}));

  auto levels = [&] {
    std::vector<Bytes> out;
    for (const auto& r : Requests(platform::kIoctlSetCurrentCpi)) out.push_back(r.bytes);
    return out;
  };
  ASSERT_TRUE(levels().empty());
  const pid_t monitor = pid_t(monitor_->processId());
  ASSERT_TRUE(platform_test::StopChild(monitor));
  struct Resume {
    pid_t pid;
    ~Resume() { ::kill(pid, SIGCONT); }
  } resume{monitor};
  ASSERT_TRUE(mouse_.dpi(3)) << mouse_.lastError();
  ASSERT_TRUE(mouse_.dpi(1)) << mouse_.lastError();
  // The mouse sends what a request gave rise to before it serves the next
  // one: once this answer is back, both reports are on their way.
  ASSERT_FALSE(mouse_.peek(0, 1).empty()) << mouse_.lastError();
  ASSERT_EQ(::kill(monitor, SIGCONT), 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !levels().empty(); }, 10000)) << MonitorErrors().toStdString();
  // A later report, once the burst's request is out, proves no second
  // request of the burst was pending.
  ASSERT_TRUE(mouse_.dpi(5)) << mouse_.lastError();
  ASSERT_TRUE(QTest::qWaitFor([&] { return levels().size() >= 2; }, 10000));
  EXPECT_EQ(levels(), (std::vector<Bytes>{{1, 0}, {5, 0}}));
}

// Another process of the user holds 200 connections to the monitor's socket,
// each with the first four bytes of a frame and nothing more. Apply's notice
// still reaches the monitor, which reloads before Apply returns.
TEST_F(BothPrograms, HalfFramesOnTheMonitorsSocketDoNotLoseApplysNotice) {
  StartMonitor();
  OpenWindow();
  const std::size_t tables = Tables().size();
  const uint8_t magic[] = {'M', 'M', 'S', 'G'};
  platform_test::StalledPeers peers(platform::messageSocketPath(platform::kMonitorClass), 200, magic);
  EXPECT_EQ(peers.connected(), 200);

  w().LevelControlTable[1].X->setValue(1800);
  w().BSBTNAPPLY->click();
  EXPECT_TRUE(messages_.empty());
  ASSERT_EQ(Tables().size(), tables + 1) << MonitorErrors().toStdString();
  EXPECT_EQ(SoftwareLevelXY(LastTable(), 1), LevelXY(0x0708, 0x0708));
}

// The monitor's level read keeps both pauses on the wire wherever it runs:
// at start-up (the table at start and the one for the mouse found), when the
// mouse arrives, after a mode switch on the mouse and inside Apply.
enum class ReadTrigger { StartUp, Arrival, ModeSwitch, Apply };
struct FramePauseCase {
  const char* name;
  ReadTrigger trigger;
  std::size_t frames;  // level-read frames the monitor sends for it
};

class BothProgramsFramePauses : public BothPrograms, public ::testing::WithParamInterface<FramePauseCase> {};

TEST_P(BothProgramsFramePauses, MonitorsLevelReadPausesAfterOpeningAndBeforeClosing) {
  switch (GetParam().trigger) {
    case ReadTrigger::StartUp:
      StartMonitor();
      break;
    case ReadTrigger::Arrival:
      StartMonitor();
      WaitReaderLive(1);
      ASSERT_TRUE(mouse_.unplug());
      ASSERT_TRUE(QTest::qWaitFor([&] { return Count(platform::WM_CLOSE_CONFIG) >= 1; }, 10000));
      ASSERT_TRUE(mouse_.clearLog());
      ASSERT_TRUE(mouse_.plug());
      ASSERT_FALSE(WaitTable(1).empty()) << MonitorErrors().toStdString();
      break;
    case ReadTrigger::ModeSwitch:
      StartMonitor();
      WaitReaderLive(1);
      ASSERT_TRUE(mouse_.clearLog());
      ASSERT_TRUE(mouse_.mode(1));
      ASSERT_FALSE(WaitTable(1).empty()) << MonitorErrors().toStdString();
      break;
    case ReadTrigger::Apply:
      StartMonitor();
      OpenWindow();
      ASSERT_TRUE(mouse_.clearLog());
      w().BSBTNAPPLY->click();
      EXPECT_TRUE(messages_.empty());
      ASSERT_EQ(Tables().size(), 1u);
      break;
  }
  monitor_test::ExpectLevelReadPauses(emulator::testing::Transfers(mouse_.wireLog()), GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(Table, BothProgramsFramePauses,
                         ::testing::Values(FramePauseCase{"StartUp", ReadTrigger::StartUp, 2},
                                           FramePauseCase{"Arrival", ReadTrigger::Arrival, 1},
                                           FramePauseCase{"ModeSwitch", ReadTrigger::ModeSwitch, 1},
                                           FramePauseCase{"Apply", ReadTrigger::Apply, 1}),
                         [](const ::testing::TestParamInfo<FramePauseCase>& info) {
                           return std::string(info.param.name);
                         });

// "Mute(microphone)" on button 3 through the configurator's menu and Apply;
// one press of the mouse's button 3 then flips the microphone once.
TEST_F(BothPrograms, MicMuteAssignedInTheConfiguratorFlipsTheMicrophoneOnce) {
  StartMicrophone();
  if (IsSkipped() || HasFatalFailure()) return;
  StartMonitor();
  OpenWindow();

  Choose(2, kMicMuteMenuId);
  w().BSBTNAPPLY->click();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Reloaded()->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[2].FunctionIndex, kMicMuteFunctionIndex);
  WaitReaderLive(2);

  EXPECT_EQ(monitor_test::MicMute(), "Mute: no");
  ASSERT_TRUE(mouse_.press(3)) << mouse_.lastError();
  ASSERT_TRUE(QTest::qWaitFor([] { return monitor_test::MicMute() == "Mute: yes"; }, 5000))
      << monitor_test::MicMute().toStdString();
  // Once: a second flip would undo it.
  QTest::qWait(300);
  EXPECT_EQ(monitor_test::MicMute(), "Mute: yes");
  ASSERT_TRUE(mouse_.press(3));
  ASSERT_TRUE(QTest::qWaitFor([] { return monitor_test::MicMute() == "Mute: no"; }, 5000));
}

// A mode switch on the mouse: the monitor stores the group and sends the
// table of that group's profile; the configurator's next Apply writes its
// own group back, to the store and to the mouse's active slot.
TEST_F(BothPrograms, ModeSwitchOnTheMouseThenApplyWritesTheConfiguratorsGroupBack) {
  StoreDistinctProfileLevels();
  const int profileOfGroup1 = dm_->FProfileSettingGroup.ProfileIndexOfProfileGroup[1];
  ASSERT_GE(profileOfGroup1, 0);
  ASSERT_LT(profileOfGroup1, kProfileCount);
  StartMonitor();
  OpenWindow();
  ASSERT_EQ(dm_->ProfileGroupIndex(), 0);
  const std::size_t tables = Tables().size();
  EXPECT_EQ(SoftwareLevelXY(LastTable(), 0), LevelXY(500, 500));

  ASSERT_TRUE(mouse_.mode(1)) << mouse_.lastError();
  const Bytes table = WaitTable(tables + 1);
  const uint16_t level = uint16_t(500 + 100 * profileOfGroup1);
  EXPECT_EQ(SoftwareLevelXY(table, 0), LevelXY(level, level));
  EXPECT_EQ(Reloaded()->ProfileGroupIndex(), 1);

  w().BSBTNAPPLY->click();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Reloaded()->ProfileGroupIndex(), 0);
  EXPECT_EQ(mouse_.peek(64, 1), Bytes{0x00});
  // The monitor reloaded inside Apply: group 0's profile again.
  ASSERT_EQ(Tables().size(), tables + 2);
  EXPECT_EQ(SoftwareLevelXY(LastTable(), 0), LevelXY(500, 500));
}

// "Mode 2" clicked before any Apply: the profile bound to mode 2 is only in
// its file, never stored, and the monitor acts on it all the same: its
// level table, and "Mute(microphone)" on button 3, which only Profile2.pfd
// has.
TEST_F(BothPrograms, ModeSwitchBeforeAnyApplyMovesTheMonitorToThatModesProfile) {
  WriteProfileFiles([](int p, TMOUSEPROFILEINFO& profile) {
    if (p == 1) PutMicMuteOnButton3(profile);
  });
  StartMicrophone();
  if (IsSkipped() || HasFatalFailure()) return;
  StartMonitor();
  OpenWindow();
  const std::size_t tables = Tables().size();
  EXPECT_EQ(SoftwareLevelXY(LastTable(), 0), LevelXY(500, 500));

  w().BSBTNMODE2->click();
  ASSERT_EQ(dm_->ProfileIndex(), 1);
  EXPECT_EQ(SoftwareLevelXY(WaitTable(tables + 1), 0), LevelXY(600, 600));

  WaitReaderLive(1);
  EXPECT_EQ(monitor_test::MicMute(), "Mute: no");
  ASSERT_TRUE(mouse_.press(3)) << mouse_.lastError();
  EXPECT_TRUE(QTest::qWaitFor([] { return monitor_test::MicMute() == "Mute: yes"; }, 5000))
      << monitor_test::MicMute().toStdString();
  EXPECT_TRUE(messages_.empty());
}

// A profile switch before any Apply binds the profile to the mode in the
// configurator only; the next mode switch stores the binding, and from then
// on the monitor follows it into profiles that are only in their files.
TEST_F(BothPrograms, ProfileSwitchBeforeAnyApplyIsFollowedOnceItsBindingIsStored) {
  WriteProfileFiles();
  StartMonitor();
  OpenWindow();
  const std::size_t tables = Tables().size();

  w().BtnProfile[2]->click();
  ASSERT_EQ(dm_->ProfileIndex(), 2);
  // The stored binding is still profile 1's.
  EXPECT_EQ(SoftwareLevelXY(WaitTable(tables + 1), 0), LevelXY(500, 500));
  w().BSBTNMODE2->click();
  EXPECT_EQ(SoftwareLevelXY(WaitTable(tables + 2), 0), LevelXY(600, 600));
  w().BSBTNMODE1->click();
  ASSERT_EQ(dm_->ProfileIndex(), 2);
  EXPECT_EQ(SoftwareLevelXY(WaitTable(tables + 3), 0), LevelXY(700, 700));
  EXPECT_TRUE(messages_.empty());
}

// Profile2.pfd is cut short: both programs hold profile 2's defaults in
// memory and store nothing of it. "Mode 2" moves the monitor onto those
// defaults (level 0 at 400), not onto profile 1 (500).
TEST_F(BothPrograms, ModeSwitchToAProfileThatDidNotLoadGivesTheMonitorItsDefaults) {
  WriteProfileFiles();
  {
    QFile file(ProfileFile(1));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QByteArray(100, '\x01'));
  }
  RestartConfiguratorData();
  ASSERT_FALSE(dm_->IsProfileLoaded(1));
  StartMonitor();
  OpenWindow();
  const std::size_t tables = Tables().size();
  EXPECT_EQ(SoftwareLevelXY(LastTable(), 0), LevelXY(500, 500));

  w().BSBTNMODE2->click();
  EXPECT_EQ(SoftwareLevelXY(WaitTable(tables + 1), 0), LevelXY(400, 400));
  w().BSBTNMODE1->click();
  EXPECT_EQ(SoftwareLevelXY(WaitTable(tables + 2), 0), LevelXY(500, 500));
  // Nothing of the damaged profile was written over its file.
  QFile file(ProfileFile(1));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), QByteArray(100, '\x01'));
}

// A profile switch in the configurator reaches the monitor, which reloads
// and reads the mouse before the switch goes on. The new binding of the
// profile to the mode is stored only by Apply, so the reload still finds
// profile 1; the Apply that follows brings profile 4's level to the driver.
TEST_F(BothPrograms, ProfileSwitchInTheConfiguratorReloadsTheMonitor) {
  StoreDistinctProfileLevels();
  StartMonitor();
  OpenWindow();
  // Clears the driver log too.
  ASSERT_TRUE(mouse_.clearLog());

  w().BtnProfile[3]->click();
  EXPECT_EQ(dm_->ProfileIndex(), 3);
  // Sent before 7035 was answered: the reload happened inside the switch.
  ASSERT_EQ(Tables().size(), 1u);
  EXPECT_EQ(SoftwareLevelXY(LastTable(), 0), LevelXY(500, 500));
  const auto log = Summary(mouse_.wireLog());
  SCOPED_TRACE(Join(log));
  // Our frame and notice, then the monitor's frame with its level read.
  const auto command1 = std::find(log.begin(), log.end(), "1(1,3)");
  ASSERT_NE(command1, log.end());
  const auto lastOpen = std::find(log.rbegin(), log.rend(), "6(0,0)");
  ASSERT_NE(lastOpen, log.rend());
  const auto monitorFrame = std::prev(lastOpen.base());
  ASSERT_GT(monitorFrame, command1);
  EXPECT_EQ(std::vector<std::string>(monitorFrame, log.end()),
            (std::vector<std::string>{"6(0,0)", "R64+1", "G", "R72+32", "G", "6(1,0)"}));
  EXPECT_TRUE(messages_.empty());

  w().BSBTNAPPLY->click();
  EXPECT_TRUE(messages_.empty());
  ASSERT_EQ(Tables().size(), 2u);
  EXPECT_EQ(SoftwareLevelXY(LastTable(), 0), LevelXY(800, 800));
  EXPECT_EQ(Reloaded()->FProfileSettingGroup.ProfileIndexOfProfileGroup[0], 3);
}

// The mouse leaves during Apply: the configurator warns and fails, the
// monitor sends 7036 and the configurator's endpoint takes it; the edit is
// stored all the same. Back again, the monitor starts the configurator.
TEST_F(BothPrograms, UnplugDuringApplyClosesTheConfiguratorAndReplugStartsIt) {
  StartMonitor();
  OpenWindow();
  WaitReaderLive(1);
  Choose(2, 801);  // "Cut"
  ASSERT_TRUE(w().SettingsChanged);

  // A queued call is no user input: it runs inside Apply's first pump.
  bool unplugged = false;
  QMetaObject::invokeMethod(
      qApp, [&] { unplugged = mouse_.unplug(); }, Qt::QueuedConnection);
  EXPECT_FALSE(w().ApplySettings());
  ASSERT_TRUE(unplugged) << mouse_.lastError();
  EXPECT_EQ(messages_,
            (std::vector<QString>{"Warning|    Please connect your mouse device before apply new settings!"}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Count(platform::WM_CLOSE_CONFIG) >= 1; }, 10000)) << MonitorErrors().toStdString();
  EXPECT_EQ(terminated_, 1);
  EXPECT_EQ(Reloaded()->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[2].MenuId, 801);

  // The configurator ends on 7036: its endpoint goes away.
  window_.reset();
  endpoint_.reset();
  lock_.reset();
  ASSERT_FALSE(QFile::exists(MarvaneLog()));
  ASSERT_TRUE(mouse_.plug());
  // The stub's shell makes the file before it writes the line: wait for a
  // whole line.
  QByteArray started;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        QFile log(MarvaneLog());
        started = log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
        return started.endsWith('\n');
      },
      10000))
      << MonitorErrors().toStdString();
  EXPECT_EQ(started, "started\n");
}

// The monitor storing mode switches, the configurator storing its profile
// and a third process writing its own values, all at once until each has
// written a good number of times (each switch lasts the monitor's level read
// with its pauses): every write goes through (no "database is locked"),
// every value is whole, and the store ends with the mode of the last switch.
// The run is counted in writes and switches, not in time, so a loaded
// machine only makes it longer.
TEST_F(BothPrograms, ThreeWritersAtOnceLoseNothing) {
  StartMonitor();
  OpenWindow();
  auto& edited = dm_->FCurrentProfileInfo.ConfigInfo;
  edited.CPIState[2].X = edited.CPIState[2].Y = 1300;
  dm_->SaveBackToCurrentProfileInfo();

  constexpr int kSwitches = 4;
  constexpr int kConfiguratorWrites = 12;
  const QString stopFile = root_.filePath("writer.stop");
  QProcess writer;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("E2E_STORE_WRITER", platform::defaultRegistryStorePath());
  env.insert("E2E_STORE_WRITER_STOP", stopFile);
  writer.setProcessEnvironment(env);
  writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  writer.start(QCoreApplication::applicationFilePath(), {});
  ASSERT_TRUE(writer.waitForStarted(10000));
  // The writer is at work before the others start.
  QByteArray said;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        said += writer.readAllStandardOutput();
        return said.startsWith("writing\n") || writer.state() == QProcess::NotRunning;
      },
      30000));
  ASSERT_TRUE(said.startsWith("writing\n")) << "the writer ended before its first write: " << said.toStdString();

  int configuratorWrites = 0, configuratorFailures = 0, switches = 0, lastGroup = 0;
  TDM probe(TDMEnvironment{store_.get(), program_, root_.filePath("home/Documents")});
  probe.InitData();
  while (switches < kSwitches || configuratorWrites < kConfiguratorWrites) {
    ASSERT_EQ(writer.state(), QProcess::Running) << "the writer ended early, after switch " << switches;
    const int group = 1 - lastGroup;
    const std::size_t tables = Tables().size();
    ASSERT_TRUE(mouse_.mode(group)) << mouse_.lastError();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
          ++configuratorWrites;
          if (!dm_->SaveCurrentProfileInfoToRegistry()) ++configuratorFailures;
          return Tables().size() > tables;
        },
        10000))
        << "switch " << switches;
    lastGroup = group;
    ++switches;
    // The monitor stored the group before it sent the table.
    ASSERT_TRUE(probe.LoadProfileGroupSettingInfoFromRegistry());
    EXPECT_EQ(probe.FProfileSettingGroup.CurrentProfileGroup, group) << "switch " << switches;
  }
  {
    QFile stop(stopFile);
    ASSERT_TRUE(stop.open(QIODevice::WriteOnly));
  }
  ASSERT_TRUE(writer.waitForFinished(60000));
  EXPECT_EQ(writer.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(writer.exitCode(), 0);
  said += writer.readAllStandardOutput();
  const QByteArray generations = said.mid(int(sizeof "writing\n") - 1).trimmed();
  EXPECT_GT(generations.toInt(), 0) << said.toStdString();
  EXPECT_GE(switches, kSwitches);
  EXPECT_GE(configuratorWrites, kConfiguratorWrites);
  EXPECT_EQ(configuratorFailures, 0);

  // Whole: the writer's last image, the configurator's profile, the group.
  QByteArray image;
  ASSERT_EQ(store_->readBinary(platform::HKEY_CURRENT_USER, kWriterKey, QStringLiteral("Image"), image),
            platform::RegStatus::Ok);
  EXPECT_TRUE(WholeWriterImage(image));
  int32_t generation = 0;
  ASSERT_EQ(store_->readInteger(platform::HKEY_CURRENT_USER, kWriterKey, QStringLiteral("Generation"), generation),
            platform::RegStatus::Ok);
  EXPECT_EQ(QByteArray::number(generation), generations);
  auto reloaded = Reloaded();
  EXPECT_EQ(reloaded->FProfileSettingGroup.CurrentProfileGroup, lastGroup);
  EXPECT_EQ(dm_->ProfileGroupIndex(), 0);
  EXPECT_EQ(dm_->ProfileIndex(), 0);
  EXPECT_EQ(dm_->FCurrentProfileInfo.ConfigInfo.CPIState[2].X, 1300);
  // As the monitor reads the profiles.
  ASSERT_TRUE(reloaded->SwitchToProfile(0));
  ASSERT_TRUE(reloaded->LoadCurrentProfileInfoFromRegistry());
  EXPECT_EQ(reloaded->FCurrentProfileInfo.ConfigInfo.CPIState[2].X, 1300);
  const QString errors = MonitorErrors();
  EXPECT_FALSE(errors.contains("locked")) << errors.toStdString();
  EXPECT_FALSE(errors.contains("not stored")) << errors.toStdString();
}

// "Volume +" on wheel up through the configurator's wheel menu and Apply:
// a wheel-up notch of the user's hand is swallowed by the monitor's hook and
// a volume-up key press and release reach applications instead, no scroll.
TEST_F(BothPrograms, VolumeUpOnWheelUpGivesAKeyAndNoScroll) {
  StartMonitor();
  OpenWindow();
  Choose(7, 3);  // "Volume +"
  w().BSBTNAPPLY->click();
  EXPECT_TRUE(messages_.empty());
  ASSERT_TRUE(mouse_.awaitHooks(false, true)) << mouse_.lastError();

  const auto swallowed = mouse_.wheel(120);
  ASSERT_TRUE(swallowed.has_value()) << mouse_.lastError();
  EXPECT_TRUE(*swallowed);
  auto keys = [&] {
    std::vector<std::string> out;
    for (const auto& e : mouse_.inputLog()) out.push_back(emu::formatInputEvent(e));
    return out;
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return keys().size() >= 2; }, 5000)) << Join(keys());
  QTest::qWait(200);  // only to prove nothing more comes
  const auto log = mouse_.inputLog();
  ASSERT_EQ(log.size(), 2u) << Join(keys());
  EXPECT_EQ(log[0].kind, emu::InputKind::Key);
  EXPECT_EQ(log[0].code, 0xAF);
  EXPECT_TRUE(log[0].down);
  EXPECT_TRUE(log[0].injected);
  EXPECT_EQ(log[1].kind, emu::InputKind::Key);
  EXPECT_EQ(log[1].code, 0xAF);
  EXPECT_FALSE(log[1].down);
  EXPECT_TRUE(log[1].injected);
}

}  // namespace
