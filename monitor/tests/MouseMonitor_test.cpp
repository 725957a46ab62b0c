#include "monitor/MouseMonitor.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "device/DMUnit.h"
#include "device/DeviceProtocol.h"
#include "emulator/testing/EmulatorProcess.h"
#include "emulator/testing/WireSummary.h"
#include "monitor/MonitorPlatform.h"
#include "macro/uiHook.h"
#include "monitor/tests/MonitorTestSupport.h"
#include "platform/EmulatorProtocol.h"
#include "platform/FilterDriverProtocol.h"
#include "platform/InputSynthesis.h"
#include "platform/RegistryStore.h"
#include "toolkit/uiLanguage.h"

namespace {

using namespace monitor_test;

// Waits (up to 5 s, handling events) until actual equals expected; on
// time-out the test fails here with both values.
#define ASSERT_EVENTUALLY_EQ(actual, expected)                           \
  do {                                                                   \
    (void)QTest::qWaitFor([&] { return (actual) == (expected); }, 5000); \
    ASSERT_EQ(actual, expected);                                         \
  } while (0)

constexpr char kMouseId[] = "HID\\VID_1209&PID_0001&REV_0100&Col02";

struct RecordingTray : TMonitorTray {
  void SetHint(const QString& h) override { hint = h; }
  void SetMenuTexts(const QString& c, const QString& a, const QString& e) override { texts = {c, a, e}; }
  void SetVisible(bool v) override { visible = v; }
  QString hint;
  QStringList texts;
  bool visible = true;
};

struct RecordingHook : TMonitorWheelHook {
  void StopHookMouse() override { running = false; ++stops; }
  void RemoveAllMouseHookObject() override { objects.clear(); }
  void AddMouseHookObject(int b) override { objects.push_back(b); }
  void StartHookMouse() override { running = true; }
  // What the hook component does for a matching wheel event: raise the
  // event with the event's own direction and pass it on unless blocked.
  bool Wheel(int direction) {
    bool blocked = false;
    if (running && !objects.empty() && OnHookMouseButton) OnHookMouseButton(direction, 1, blocked);
    return blocked;
  }
  std::vector<int> objects;
  bool running = false;
  int stops = 0;
};

struct RecordingInput : TInputSynthesis {
  void Wheel(int delta) override { events.push_back("wheel " + std::to_string(delta)); }
  void Key(uint16_t vk, bool press) override {
    events.push_back((press ? "down " : "up ") + std::to_string(vk));
  }
  std::vector<std::string> events;
};

struct RecordingMic : platform::MicrophoneMute {
  explicit RecordingMic(platform::MicrophoneMute& real) : real(real) {}
  void toggle() override {
    ++toggles;
    real.toggle();
  }
  platform::MicrophoneMute& real;
  int toggles = 0;
};

std::vector<std::string> Names(const std::vector<emulator::testing::Transfer>& transfers) {
  std::vector<std::string> out;
  for (const auto& t : transfers) out.push_back(t.what);
  return out;
}

class MonitorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    suiteDir_ = new QTemporaryDir;
    pulse_ = new PulseDaemon;
    pulseStarted_ = pulse_->start(suiteDir_->path().toStdString());
  }
  static void TearDownTestSuite() {
    pulse_->stop();
    delete pulse_;
    delete suiteDir_;
  }

  void SetUp() override {
    if (!pulseStarted_) {
      if (std::getenv("CI")) FAIL() << pulse_->why();
      GTEST_SKIP() << pulse_->why();
    }
    ASSERT_EQ(Pactl({"set-default-source", "test_mic"}), "");
    ASSERT_EQ(Pactl({"set-source-mute", "test_mic", "0"}), "");
    ASSERT_TRUE(dir_.isValid());
    root_ = QDir(dir_.path());
    for (const char* d : {"program", "home/Documents", "run", "config", "data", "cache"}) root_.mkpath(d);
    program_ = root_.filePath("program");
    ::setenv("HOME", root_.filePath("home").toLocal8Bit().constData(), 1);
    ::setenv("XDG_CONFIG_HOME", root_.filePath("config").toLocal8Bit().constData(), 1);
    ::setenv("XDG_DATA_HOME", root_.filePath("data").toLocal8Bit().constData(), 1);
    ::setenv("XDG_CACHE_HOME", root_.filePath("cache").toLocal8Bit().constData(), 1);
    ::setenv("MOUSE_RUNTIME_DIR", root_.filePath("run").toLocal8Bit().constData(), 1);
    WriteConfig(kMouseId);
    // The stand-in configurator records that it was started.
    QFile stub(QDir(program_).filePath("Marvane"));
    ASSERT_TRUE(stub.open(QIODevice::WriteOnly));
    stub.write("#!/bin/sh\necho started >> \"" + QDir(program_).filePath("marvane.log").toLocal8Bit() + "\"\n");
    stub.close();
    stub.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    mouse_.exportEnvironment();
    ASSERT_TRUE(configurator_.start());
    store_ = platform::openSqliteRegistryStore(root_.filePath("registry.sqlite"));
    dm_ = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, root_.filePath("home/Documents")});
    dm_->InitData();
  }

  void TearDown() override {
    monitor_.reset();
    if (pulse_) pulse_->drain();
  }

  void WriteConfig(const QString& id) {
    QFile ini(QDir(program_).filePath("config.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[IncludeHIDDeviceList]\r\nid1=" + id.toUtf8() + "\r\n");
  }

  // Stores a button or wheel function in the current profile, as the
  // configurator's Apply would.
  void SetButton(int index, uint16_t function) {
    dm_->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[index].FunctionIndex = function;
    dm_->SaveBackToCurrentProfileInfo();
    ASSERT_TRUE(dm_->SaveCurrentProfileInfoToRegistry());
  }
  void SetWheel(int entry, uint8_t type, uint16_t function) {
    dm_->FCurrentProfileInfo.ConfigInfo.VWheelButtonFuncInfo[entry].FunctionType = type;
    dm_->FCurrentProfileInfo.ConfigInfo.VWheelButtonFuncInfo[entry].FunctionIndex = function;
    dm_->SaveBackToCurrentProfileInfo();
    ASSERT_TRUE(dm_->SaveCurrentProfileInfoToRegistry());
  }

  // hook and input: the real wheel hook and input synthesis; the recording
  // stand-ins when not given.
  void StartMonitor(TMonitorWheelHook* hook = nullptr, TInputSynthesis* input = nullptr) {
    TMonitorPlatform p;
    p.Tray = &tray_;
    p.Mic = &mic_;
    p.Driver = driver_.get();
    p.Configurator = &link_;
    p.Hook = hook ? hook : &hook_;
    p.Input = input ? input : &input_;
    p.Backend = platform::makeEmulatorHidBackend(mouse_.socketPath());
    p.Notifier = platform::makeEmulatorHidDeviceNotifier(mouse_.socketPath());
    p.ProgramFolder = program_;
    p.Terminate = [this] {
      ++terminated_;
      wireAtTerminate_ = Names(emulator::testing::Transfers(mouse_.wireLog()));
    };
    monitor_ = std::make_unique<TTessoldMain>(*dm_, std::move(p));
    monitor_->InitMonitor();
  }

  std::vector<emulator::DriverRequest> Requests(uint32_t code) {
    std::vector<emulator::DriverRequest> out;
    for (auto& r : mouse_.driverLog())
      if (r.code == code) out.push_back(r);
    return out;
  }
  std::vector<emulator::DriverRequest> Tables() { return Requests(platform::kIoctlSetCpiUnit); }

  // The level the mouse runs at in slot 1, made to differ from slot 0's.
  uint8_t GiveSlot1ALevelOfItsOwn() {
    const std::vector<uint8_t> slot0Level = mouse_.peek(kDeviceAddrCPITable[0] + 1, 1);
    EXPECT_EQ(slot0Level.size(), 1u);
    const uint8_t level1 = !slot0Level.empty() && slot0Level[0] == 4 ? 6 : 4;
    EXPECT_TRUE(mouse_.poke(kDeviceAddrCPITable[1] + 1, std::vector<uint8_t>{level1}));
    return level1;
  }
  bool ConfiguratorStarted() { return QFile::exists(QDir(program_).filePath("marvane.log")); }
  // Started, or (when one runs) brought forward.
  bool ConfiguratorShown() {
    return ConfiguratorStarted() || configurator_.count(platform::WM_ACTIVATE_WINDOW) > 0;
  }
  void WaitReaders() { ASSERT_TRUE(QTest::qWaitFor([&] { return monitor_->HidData().RunningReaderCount() > 0; }, 5000)); }
  // Only to prove that nothing more happens.
  static void Settle(int ms = 300) { QTest::qWait(ms); }

  static inline QTemporaryDir* suiteDir_ = nullptr;
  static inline PulseDaemon* pulse_ = nullptr;
  static inline bool pulseStarted_ = false;

  QTemporaryDir dir_;
  QDir root_;
  QString program_;
  emulator::testing::EmulatorProcess mouse_;
  FakeConfigurator configurator_;
  std::unique_ptr<platform::RegistryStore> store_;
  std::unique_ptr<TDM> dm_;
  RecordingTray tray_;
  platform::PulseMicrophoneMute realMic_;
  RecordingMic mic_{realMic_};
  std::unique_ptr<TuiSTDCommand> driver_ = nullptr;
  TPlatformConfiguratorLink* linkPtr_ = nullptr;
  TPlatformConfiguratorLink link_{QString()};
  RecordingHook hook_;
  RecordingInput input_;
  int terminated_ = 0;
  std::vector<std::string> wireAtTerminate_;  // the wire log when the program was told to end
  std::unique_ptr<TTessoldMain> monitor_;

 public:
  MonitorTest() = default;
};

// Fills the driver and the link once the program folder is known.
class Monitor : public MonitorTest {
 protected:
  void SetUp() override {
    MonitorTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    driver_ = std::make_unique<TuiSTDCommand>(QDir(program_).filePath("config.ini"));
    link_ = TPlatformConfiguratorLink(program_);
  }
};

TEST_F(Monitor, StartWithoutMouseThenPlugInStartsConfiguratorAndMuteToggles) {
  ASSERT_TRUE(mouse_.unplug());
  StartMonitor();
  auto tables = Tables();
  ASSERT_EQ(tables.size(), 1u);
  ASSERT_EQ(tables[0].bytes.size(), 238u);
  EXPECT_EQ(tables[0].bytes[0], 0x5A);
  EXPECT_EQ(tables[0].bytes[1], 0x3C);
  EXPECT_EQ(tables[0].bytes[2], 1);   // NeedApplyNewCPI
  EXPECT_EQ(tables[0].bytes[16], 0);  // level 0
  EXPECT_FALSE(ConfiguratorStarted());
  EXPECT_TRUE(tray_.visible);

  SetButton(2, kMicMuteFunctionIndex);
  configurator_.stop();
  ASSERT_TRUE(mouse_.plug());
  ASSERT_TRUE(QTest::qWaitFor([&] { return monitor_->DeviceArrivalPending(); }, 5000));
  ASSERT_TRUE(QTest::qWaitFor([&] { return ConfiguratorStarted(); }, 8000));
  // The arrival's level read, with its pauses, came before.
  ExpectLevelReadPauses(emulator::testing::Transfers(mouse_.wireLog()), 1);
  WaitReaders();
  ASSERT_TRUE(mouse_.press(3));
  ASSERT_EVENTUALLY_EQ(MicMute(), QString("Mute: yes"));
  ASSERT_TRUE(mouse_.press(3));
  ASSERT_EVENTUALLY_EQ(MicMute(), QString("Mute: no"));
  Settle();
  EXPECT_EQ(mic_.toggles, 2);
}

TEST_F(Monitor, StartWithMouseDoesNotStartConfigurator) {
  StartMonitor();
  EXPECT_TRUE(monitor_->MousePresent());
  Settle();
  EXPECT_FALSE(ConfiguratorStarted());
  EXPECT_EQ(Tables().size(), 2u);  // at start-up, then for the mouse found
  ExpectLevelReadPauses(emulator::testing::Transfers(mouse_.wireLog()), 2);
}

struct ReportCase {
  const char* name;
  std::vector<uint8_t> report;  // ID first
  int toggles;
  // Handed to the report handler directly: the reader delivers input
  // reports at the collection's length, so a longer one never comes from it.
  bool direct = false;
};

class MonitorReports : public Monitor, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(MonitorReports, Dispatch) {
  SetButton(2, kMicMuteFunctionIndex);
  SetButton(4, kMacroFunctionIndex);
  StartMonitor();
  WaitReaders();
  const int group = dm_->ProfileGroupIndex();
  const size_t tables = Tables().size();
  const auto& r = GetParam().report;
  if (GetParam().direct)
    monitor_->uiHIDData1Data("", "", r[0], r.data() + 1, uint16_t(r.size() - 1));
  else
    ASSERT_TRUE(mouse_.rawInput(r));
  if (GetParam().toggles) ASSERT_EVENTUALLY_EQ(mic_.toggles, GetParam().toggles);
  Settle();
  EXPECT_EQ(mic_.toggles, GetParam().toggles);
  EXPECT_EQ(MicMute(), GetParam().toggles % 2 ? "Mute: yes" : "Mute: no");
  EXPECT_EQ(dm_->ProfileGroupIndex(), group);
  EXPECT_EQ(Tables().size(), tables);
  EXPECT_TRUE(Requests(platform::kIoctlSetCurrentCpi).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, MonitorReports,
    ::testing::Values(ReportCase{"MuteButton", {7, 0x04, 0, 0, 0, 0, 0, 0}, 1},
                      ReportCase{"MacroButton", {7, 0x10, 0, 0, 0, 0, 0, 0}, 0},
                      ReportCase{"TwoBits", {7, 0x14, 0, 0, 0, 0, 0, 0}, 0},
                      ReportCase{"Size6", {7, 0x04, 0, 0, 0, 0, 0}, 0},
                      ReportCase{"Size8", {7, 0x04, 0, 0, 0, 0, 0, 0, 0}, 0, true},
                      ReportCase{"MaskZero", {7, 0, 0, 0, 0, 0, 0, 0}, 0},
                      ReportCase{"Bit15", {7, 0, 0x80, 0, 0, 0, 0, 0}, 0},
                      ReportCase{"Bit21NoModeChange", {7, 0, 0, 0x20, 0, 0, 0, 0}, 0},
                      ReportCase{"Bit22NoModeChange", {7, 0, 0, 0x40, 0, 0, 0, 0}, 0},
                      ReportCase{"LevelOutOfRange", {8, 2, 200, 0, 0, 0, 0, 0}, 0},
                      ReportCase{"UnknownMode", {8, 1, 2, 0, 0, 0, 0, 0}, 0}),
    [](const ::testing::TestParamInfo<ReportCase>& info) { return std::string(info.param.name); });

TEST_F(Monitor, LevelBurstSendsOnlyTheLastLevelOnce) {
  StartMonitor();
  WaitReaders();
  ASSERT_TRUE(mouse_.rawInput(std::vector<uint8_t>{8, 2, 3, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(mouse_.rawInput(std::vector<uint8_t>{8, 2, 1, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Requests(platform::kIoctlSetCurrentCpi).empty(); }, 5000));
  Settle();
  const auto levels = Requests(platform::kIoctlSetCurrentCpi);
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_EQ(levels[0].bytes, (std::vector<uint8_t>{0x01, 0x00}));
}

TEST_F(Monitor, LevelReachesTheDriverNoSoonerThanTheDebounceAfterTheLastReport) {
  StartMonitor();
  WaitReaders();
  // A coarse timer may fire 5 % early; the level debounce must not.
  EXPECT_EQ(monitor_->LevelDebounceTimerType(), Qt::PreciseTimer);
  QElapsedTimer sinceLast;
  sinceLast.start();
  ASSERT_TRUE(mouse_.rawInput(std::vector<uint8_t>{8, 2, 2, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Requests(platform::kIoctlSetCurrentCpi).empty(); }, 5000));
  EXPECT_GE(sinceLast.elapsed(), 100);
}

// The 238 bytes of a table with NeedApplyNewCPI 1, written field by field.
std::vector<uint8_t> ExpectedTable(const TMOUSECONFIGINFO& cfg, uint8_t level) {
  std::vector<uint8_t> t(238, 0);
  auto put16 = [&](size_t at, uint16_t v) {
    t[at] = uint8_t(v);
    t[at + 1] = uint8_t(v >> 8);
  };
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) t[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  t[0] = 0x5A;
  t[1] = 0x3C;
  put16(2, 1);  // NeedApplyNewCPI
  put16(4, 8);  // ReportLength
  t[6] = 2;
  t[7] = 3;
  t[8] = 4;
  t[9] = 5;
  put16(16, level);
  for (size_t i = 0; i < 10; ++i) {
    const TCPISTATE& hw = cfg.HWCPIState[i];
    const TCPISTATE& st = cfg.CPIState[i];
    t[18 + 9 * i] = uint8_t(hw.State);
    put32(18 + 9 * i + 1, hw.X);
    put32(18 + 9 * i + 5, hw.Y);
    t[108 + 9 * i] = uint8_t(st.State);
    put32(108 + 9 * i + 1, st.X);
    put32(108 + 9 * i + 5, st.Y);
    if (hw.X != 0 && hw.Y != 0) {
      put16(198 + 4 * i, uint16_t(st.X * 100 / hw.X));
      put16(198 + 4 * i + 2, uint16_t(st.Y * 100 / hw.Y));
    }
  }
  return t;
}

TEST_F(Monitor, ModeSwitchOnTheMouseStoresGroupAndSendsThatProfilesTable) {
  // Mode 1's profile gets DPI levels of its own, unlike mode 0's.
  const int bound = dm_->FProfileSettingGroup.ProfileIndexOfProfileGroup[1];
  ASSERT_NE(bound, dm_->FProfileSettingGroup.ProfileIndexOfProfileGroup[0]);
  TMOUSEPROFILEINFO other{};
  ASSERT_TRUE(dm_->ReadProfileInfo(other, bound));
  for (int i = 0; i < 10; ++i) {
    other.ConfigInfo.HWCPIState[i] = TCPISTATE{uint16_t(800 + 100 * i), 1000, uint16_t(i % 3 == 0 ? 0 : 1)};
    other.ConfigInfo.CPIState[i] = TCPISTATE{uint16_t(1000 + 50 * i), uint16_t(1234 + i), uint16_t(i < 7)};
  }
  ASSERT_TRUE(dm_->SaveBackToProfileInfo(other, bound));
  ASSERT_TRUE(dm_->SaveProfileInfoToRegistry(bound));
  const uint8_t level1 = GiveSlot1ALevelOfItsOwn();
  StartMonitor();
  WaitReaders();
  ASSERT_EQ(dm_->ProfileGroupIndex(), 0);
  // Clears the wire and driver logs; the command list runs on.
  ASSERT_TRUE(mouse_.clearLog());
  const size_t commandsBefore = mouse_.commands().size();
  ASSERT_TRUE(mouse_.mode(1));
  ASSERT_EVENTUALLY_EQ(dm_->ProfileGroupIndex(), 1);
  ASSERT_EVENTUALLY_EQ(Tables().size(), size_t(1));
  Settle();
  EXPECT_EQ(Tables().size(), 1u);
  // The table of mode 1's profile, at the level read from slot 1.
  EXPECT_EQ(Tables().back().bytes, ExpectedTable(other.ConfigInfo, level1));
  EXPECT_TRUE(Requests(platform::kIoctlSetCurrentCpi).empty());
  // Stored: a fresh module reads mode 1.
  TDM fresh(TDMEnvironment{store_.get(), program_, root_.filePath("home/Documents")});
  fresh.InitData();
  EXPECT_EQ(fresh.ProfileGroupIndex(), 1);

  // What the host sent and fetched, in order: the frame opens, the active
  // slot is requested (report 2) and fetched (report 2), slot 1's DPI table
  // is requested (report 2) and fetched (report 3: 32 bytes), the frame
  // closes. Nothing else reaches the mouse.
  using platform::emu::Direction;
  std::vector<std::pair<Direction, std::vector<uint8_t>>> traffic;
  for (const auto& e : mouse_.wireLog()) {
    if (e.direction == Direction::Input) continue;
    EXPECT_EQ(e.status, platform::emu::Status::Ok) << e.note;
    const size_t head = std::min<size_t>(e.bytes.size(), 8);
    traffic.emplace_back(e.direction, std::vector<uint8_t>(e.bytes.begin(), e.bytes.begin() + long(head)));
  }
  const uint16_t slotAddr = kDeviceAddrActiveSlot;
  const uint16_t cpiAddr = kDeviceAddrCPITable[1];
  const std::vector<std::pair<Direction, std::vector<uint8_t>>> expected = {
      {Direction::SetFeature, {2, 6, 0, 0, 0, 0, 0, 0}},
      {Direction::SetFeature, {2, 3, uint8_t(slotAddr), uint8_t(slotAddr >> 8), 1, 0, 0xFA, 0xFA}},
      {Direction::GetFeature, {2, 3, uint8_t(slotAddr), uint8_t(slotAddr >> 8), 1, 0, 0xFA, 0xFA}},
      {Direction::SetFeature, {2, 3, uint8_t(cpiAddr), uint8_t(cpiAddr >> 8), 32, 0, 0xFA, 0xFA}},
      {Direction::GetFeature, {3, 3, uint8_t(cpiAddr), uint8_t(cpiAddr >> 8), 32, 0, 0xFA, 0xFA}},
      {Direction::SetFeature, {2, 6, 1, 0, 0, 0, 0, 0}},
  };
  EXPECT_EQ(traffic, expected);
  ExpectLevelReadPauses(emulator::testing::Transfers(mouse_.wireLog()), 1);
  // The commands the mouse took as such: the two halves of the frame.
  auto cmds = mouse_.commands();
  ASSERT_GE(cmds.size(), commandsBefore);
  cmds.erase(cmds.begin(), cmds.begin() + long(commandsBefore));
  ASSERT_EQ(cmds.size(), 2u);
  EXPECT_EQ(cmds[0].code, 6);
  EXPECT_EQ(cmds[0].p1, 0);
  EXPECT_EQ(cmds[0].p2, 0);
  EXPECT_EQ(cmds[1].code, 6);
  EXPECT_EQ(cmds[1].p1, 1);
  EXPECT_EQ(cmds[1].p2, 0);
  EXPECT_EQ(configurator_.count(platform::WM_PROFILE_CHANGED), 0);
}

// The mouse refuses the frame's opening: the level is still read, after the
// pause, and the frame closed, so the table carries the level of slot 1.
TEST_F(Monitor, RefusedFrameOpeningStillReadsAndCloses) {
  const uint8_t level1 = GiveSlot1ALevelOfItsOwn();
  StartMonitor();
  WaitReaders();
  ASSERT_TRUE(mouse_.clearLog());
  ASSERT_TRUE(mouse_.failNext(1));
  ASSERT_TRUE(mouse_.mode(1));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Tables().size() == 1; }, 5000));
  const auto transfers = emulator::testing::Transfers(mouse_.wireLog());
  EXPECT_EQ(Names(transfers), (std::vector<std::string>{"6(0,0)", "R64+1", "G", "R2376+32", "G", "6(1,0)"}));
  ASSERT_EQ(transfers.size(), 6u);
  EXPECT_FALSE(transfers[0].ok);
  for (std::size_t i = 1; i < transfers.size(); ++i) EXPECT_TRUE(transfers[i].ok) << i;
  ExpectLevelReadPauses(transfers, 1);
  EXPECT_EQ(Tables().back().bytes[16], level1);
}

// A mode switch handled while a frame pauses neither nests a frame in it nor
// lets it send a table of the old level: one more whole frame follows, and
// only its table reaches the driver.
TEST_F(Monitor, ModeSwitchDuringTheFramesPauseIsServedByOneMoreWholeFrame) {
  StartMonitor();
  WaitReaders();
  ASSERT_TRUE(mouse_.clearLog());
  bool handled = false;
  QTimer::singleShot(0, monitor_.get(), [&] {
    // What the mouse does at a mode switch, with the report handled at once.
    ASSERT_TRUE(mouse_.poke(kDeviceAddrActiveSlot, std::vector<uint8_t>{1}));
    monitor_->WMDeviceKey(kDeviceKeyMode1, 0);
    handled = true;
  });
  monitor_->SendCpiTable();
  EXPECT_TRUE(handled);
  EXPECT_EQ(dm_->ProfileGroupIndex(), 1);
  const auto transfers = emulator::testing::Transfers(mouse_.wireLog());
  const std::vector<std::string> frame = {"6(0,0)", "R64+1", "G", "R2376+32", "G", "6(1,0)"};
  std::vector<std::string> twice = frame;
  twice.insert(twice.end(), frame.begin(), frame.end());
  EXPECT_EQ(Names(transfers), twice);
  ExpectLevelReadPauses(transfers, 2);
  EXPECT_EQ(Tables().size(), 1u);
}

// A 7035 handled while a frame pauses is answered only once the frame that
// serves it (the one after the running frame) has closed: the configurator
// closes its own frame right after the answer, which must find no monitor
// frame open.
TEST_F(Monitor, ProfileChangedDuringAFrameIsAnsweredOnceItsFrameHasClosed) {
  StartMonitor();
  WaitReaders();
  ASSERT_TRUE(mouse_.clearLog());
  std::optional<std::vector<std::string>> wireAtAnswer;
  QTimer::singleShot(0, monitor_.get(), [&] {
    EXPECT_EQ(monitor_->HandleMessage(platform::WM_PROFILE_CHANGED, 0, 0), 0);
    wireAtAnswer = Names(emulator::testing::Transfers(mouse_.wireLog()));
  });
  monitor_->SendCpiTable();
  const std::vector<std::string> frame = {"6(0,0)", "R64+1", "G", "R72+32", "G", "6(1,0)"};
  std::vector<std::string> twice = frame;
  twice.insert(twice.end(), frame.begin(), frame.end());
  ASSERT_TRUE(wireAtAnswer);
  EXPECT_EQ(*wireAtAnswer, twice);
  ExpectLevelReadPauses(emulator::testing::Transfers(mouse_.wireLog()), 2);
  EXPECT_EQ(Tables().size(), 1u);
}

// "Exit" while a frame pauses, with one more frame and a device check asked
// for: the open frame keeps both pauses and closes, no frame follows, and
// only then is the program told to end; the last table still goes out.
TEST_F(Monitor, ExitDuringAFrameLetsItCloseWithItsPausesAndStartsNoOther) {
  StartMonitor();
  WaitReaders();
  ASSERT_TRUE(mouse_.clearLog());
  const size_t tables = Tables().size();
  QTimer::singleShot(0, monitor_.get(), [&] {
    monitor_->uiHIDEventEx1NewDeviceArrival({kMouseId});
    QTimer::singleShot(0, monitor_.get(), [&] { monitor_->Exit1Click(); });
    monitor_->SendCpiTable();
  });
  monitor_->SendCpiTable();
  const std::vector<std::string> frame = {"6(0,0)", "R64+1", "G", "R72+32", "G", "6(1,0)"};
  EXPECT_EQ(terminated_, 1);
  EXPECT_EQ(wireAtTerminate_, frame);
  EXPECT_FALSE(monitor_->DeviceArrivalPending());
  // Asked once more after the end: no frame.
  monitor_->SendCpiTable();
  monitor_->CheckDeviceAndStart();
  EXPECT_EQ(Names(emulator::testing::Transfers(mouse_.wireLog())), frame);
  ExpectLevelReadPauses(emulator::testing::Transfers(mouse_.wireLog()), 1);
  monitor_->DoneMonitor();
  const auto all = Tables();
  ASSERT_EQ(all.size(), tables + 2);  // the frame's own table, then the last one
  EXPECT_EQ(all.back().bytes[2], 0);  // NeedApplyNewCPI 0
  EXPECT_EQ(terminated_, 1);
}

// The level timer firing while a frame pauses sends the level last reported,
// not a table half filled.
TEST_F(Monitor, LevelTimerDuringTheFrameSendsTheReportedLevel) {
  StartMonitor();
  WaitReaders();
  ASSERT_TRUE(mouse_.clearLog());
  const uint8_t report[7] = {2, 3, 0, 0, 0, 0, 0};
  monitor_->uiHIDData1Data("", "", 8, report, 7);
  // Lasts its two pauses, longer than the level timer.
  monitor_->SendCpiTable();
  const auto levels = Requests(platform::kIoctlSetCurrentCpi);
  ASSERT_EQ(levels.size(), 1u);
  EXPECT_EQ(levels[0].bytes, (std::vector<uint8_t>{3, 0}));
  ExpectLevelReadPauses(emulator::testing::Transfers(mouse_.wireLog()), 1);
}

// A level the mouse reports while the frame pauses after its read is newer
// than the read: the table carries it.
TEST_F(Monitor, LevelReportedAfterTheFramesReadGoesIntoTheTable) {
  const std::vector<uint8_t> current = mouse_.peek(kDeviceAddrCPITable[0] + 1, 1);
  ASSERT_EQ(current.size(), 1u);
  const uint8_t reported = current[0] == 5 ? 6 : 5;
  StartMonitor();
  WaitReaders();
  ASSERT_TRUE(mouse_.clearLog());
  // Looks at the wire while the frame pauses; once the level was read, the
  // report comes in.
  QTimer watch;
  watch.setInterval(1);
  bool sent = false;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    const auto log = emulator::testing::Summary(mouse_.wireLog());
    if (std::find(log.begin(), log.end(), "R72+32") == log.end()) return;
    watch.stop();
    const uint8_t report[7] = {2, reported, 0, 0, 0, 0, 0};
    monitor_->uiHIDData1Data("", "", 8, report, 7);
    sent = true;
  });
  watch.start();
  monitor_->SendCpiTable();
  ASSERT_TRUE(sent);
  ASSERT_EQ(Tables().size(), 1u);
  EXPECT_EQ(Tables().back().bytes[16], reported);
}

TEST_F(Monitor, UnplugClosesConfiguratorStopsHookHidesTrayAndReplugShowsItAgain) {
  SetButton(2, kMicMuteFunctionIndex);
  SetWheel(0, 1, 2);
  StartMonitor();
  WaitReaders();
  EXPECT_TRUE(hook_.running);
  ASSERT_TRUE(mouse_.unplug());
  ASSERT_EVENTUALLY_EQ(configurator_.count(platform::WM_CLOSE_CONFIG), 1);
  EXPECT_FALSE(hook_.running);
  EXPECT_FALSE(tray_.visible);
  ASSERT_TRUE(mouse_.plug());
  ASSERT_TRUE(QTest::qWaitFor([&] { return ConfiguratorShown(); }, 8000));
  EXPECT_TRUE(hook_.running);
  EXPECT_TRUE(tray_.visible);  // "Config" and "Exit" reachable again
  WaitReaders();
  ASSERT_TRUE(mouse_.press(3));
  ASSERT_EVENTUALLY_EQ(mic_.toggles, 1);
  Settle();
  EXPECT_EQ(mic_.toggles, 1);
  EXPECT_EQ(configurator_.count(platform::WM_CLOSE_CONFIG), 1);
}

TEST_F(Monitor, FastUnplugAndReplugIsTakenUpAndReadsOnce) {
  SetButton(2, kMicMuteFunctionIndex);
  StartMonitor();
  WaitReaders();
  ASSERT_TRUE(mouse_.unplug());
  ASSERT_TRUE(mouse_.plug());
  ASSERT_TRUE(QTest::qWaitFor([&] { return ConfiguratorShown(); }, 8000));
  WaitReaders();
  ASSERT_TRUE(mouse_.press(3));
  ASSERT_EVENTUALLY_EQ(mic_.toggles, 1);
  Settle();
  EXPECT_EQ(mic_.toggles, 1);
}

TEST_F(Monitor, SecondDeviceCheckKeepsOneReaderPerInterface) {
  SetButton(2, kMicMuteFunctionIndex);
  StartMonitor();
  WaitReaders();
  monitor_->CheckDeviceAndStart();
  monitor_->CheckDeviceAndStart();
  EXPECT_EQ(monitor_->HidData().RunningReaderCount(), 1);
  ASSERT_TRUE(mouse_.press(3));
  ASSERT_EVENTUALLY_EQ(mic_.toggles, 1);
  Settle();
  EXPECT_EQ(mic_.toggles, 1);
}

TEST_F(Monitor, OnlyIncludedIdsRestartTheDeviceCheck) {
  StartMonitor();
  monitor_->uiHIDEventEx1NewDeviceArrival({"HID\\VID_9999&PID_0001&REV_0100&Col02"});
  EXPECT_FALSE(monitor_->DeviceArrivalPending());
  monitor_->uiHIDEventEx1PresentDeviceRemoval({QString(kMouseId).toLower()});
  EXPECT_TRUE(monitor_->DeviceArrivalPending());
}

TEST_F(Monitor, EmptyIncludeListNeverRestartsTheCheck) {
  WriteConfig("");
  StartMonitor();
  monitor_->uiHIDEventEx1NewDeviceArrival({kMouseId});
  EXPECT_FALSE(monitor_->DeviceArrivalPending());
}

TEST_F(Monitor, ExitClosesConfiguratorAndLastTableStopsSoftwareCpi) {
  StartMonitor();
  monitor_->Exit1Click();
  ASSERT_EVENTUALLY_EQ(configurator_.count(platform::WM_CLOSE_CONFIG), 1);
  EXPECT_EQ(terminated_, 1);
  monitor_->DoneMonitor();
  const auto last = Tables().back();
  EXPECT_EQ(last.bytes[2], 0);
  EXPECT_EQ(last.bytes[0], 0x5A);
  EXPECT_EQ(monitor_->HidData().RunningReaderCount(), 0);
}

TEST_F(Monitor, TrayClickStartsOrActivatesConfigurator) {
  StartMonitor();
  monitor_->TrayIconDblClick();
  // The fake configurator listens: it is brought forward, not started again.
  ASSERT_EVENTUALLY_EQ(configurator_.count(platform::WM_ACTIVATE_WINDOW), 1);
  EXPECT_FALSE(ConfiguratorStarted());
}

TEST_F(Monitor, LanguageChangeRetranslatesTray) {
  TuiLanguage file(nullptr, QString());
  file.Original = QStringList{"Config", "Exit", "Gaming Mouse Driver"};
  file.Resources.push_back(TLanguageEntry{"0407", {"Config=Konfiguration", "Exit=Beenden",
                                                   "Gaming Mouse Driver=Maustreiber"}});
  ASSERT_TRUE(file.SaveToFile(QDir(program_).filePath("ui.local")));
  dm_->FAllProfileSettingInfo.CurrentLanguage = 2;  // "US", one of the monitor's own
  ASSERT_TRUE(dm_->SaveBackAllProfileSettingInfo());
  StartMonitor();
  EXPECT_EQ(tray_.texts, (QStringList{"Config", "About", "Exit"}));
  dm_->FAllProfileSettingInfo.CurrentLanguage = 0;
  ASSERT_TRUE(dm_->SaveBackAllProfileSettingInfo());
  dm_->FAllProfileSettingInfo.CurrentLanguage = 2;  // the handler reloads from the store
  EXPECT_EQ(monitor_->HandleMessage(platform::WM_LANGUAGE_CHANGED, 5, 9), 0);
  EXPECT_EQ(tray_.texts, (QStringList{"Konfiguration", "About", "Beenden"}));
  EXPECT_EQ(tray_.hint, "Maustreiber");
  RemoveTranslationTable();
}

// --- Wheel ------------------------------------------------------------------

TEST_F(Monitor, WheelUpAsVolumeUpSwallowsUpOnlyAndPressesTheKey) {
  SetWheel(0, 1, 2);
  StartMonitor();
  EXPECT_EQ(hook_.objects, (std::vector<int>{kHookWheelUp}));
  QSignalSpy done(monitor_.get(), &TTessoldMain::WheelActionDone);
  EXPECT_TRUE(hook_.Wheel(kHookWheelUp));
  // The hook objects match the other direction too: it passes untouched.
  EXPECT_FALSE(hook_.Wheel(kHookWheelDown));
  ASSERT_TRUE(done.wait(5000));
  EXPECT_EQ(input_.events, (std::vector<std::string>{"down 175", "up 175"}));
}

TEST_F(Monitor, OnlyWheelDownRemappedLetsWheelUpPass) {
  SetWheel(1, 1, 3);
  StartMonitor();
  EXPECT_EQ(hook_.objects, (std::vector<int>{kHookWheelDown}));
  EXPECT_FALSE(hook_.Wheel(kHookWheelUp));
  Settle(100);
  EXPECT_TRUE(input_.events.empty());
}

TEST_F(Monitor, SwappedDirectionsInvertScrollingInOrder) {
  SetWheel(0, 1, 1);
  SetWheel(1, 1, 0);
  StartMonitor();
  QSignalSpy done(monitor_.get(), &TTessoldMain::WheelActionDone);
  EXPECT_TRUE(hook_.Wheel(kHookWheelUp));
  EXPECT_TRUE(hook_.Wheel(kHookWheelUp));
  EXPECT_TRUE(hook_.Wheel(kHookWheelDown));
  ASSERT_EVENTUALLY_EQ(done.count(), 3);
  EXPECT_EQ(input_.events, (std::vector<std::string>{"wheel -120", "wheel -120", "wheel 120"}));
}

TEST_F(Monitor, QuickNotchesOfKeysRunInOrderWithoutOverlap) {
  SetWheel(0, 1, 4);
  SetWheel(1, 1, 5);
  StartMonitor();
  QSignalSpy done(monitor_.get(), &TTessoldMain::WheelActionDone);
  hook_.Wheel(kHookWheelUp);
  hook_.Wheel(kHookWheelDown);
  hook_.Wheel(kHookWheelUp);
  ASSERT_EVENTUALLY_EQ(done.count(), 3);
  EXPECT_EQ(input_.events, (std::vector<std::string>{"down 166", "up 166", "down 167", "up 167", "down 166",
                                                     "up 166"}));
}

TEST_F(Monitor, WheelEntryNotOfTypeOneIsSwallowedAndDoesNothing) {
  SetWheel(0, 2, 2);
  SetWheel(1, 1, 9);
  StartMonitor();
  EXPECT_TRUE(hook_.Wheel(kHookWheelUp));
  EXPECT_TRUE(hook_.Wheel(kHookWheelDown));
  Settle(150);
  EXPECT_TRUE(input_.events.empty());
}

TEST_F(Monitor, DefaultWheelHooksNothingAndMissingMouseStopsTheHook) {
  ASSERT_TRUE(mouse_.unplug());
  SetWheel(0, 1, 2);
  StartMonitor();
  EXPECT_FALSE(hook_.running);
}

// --- Wheel through the emulated mouse's desk, the hook library and TuiHook ---

// The monitor with its real wheel hook (TuiHook over libuiHook.so) and real
// input synthesis, both on the emulated mouse's input endpoint: what reaches
// applications is the emulator's input log.
class MonitorDeskWheel : public Monitor {
 protected:
  void SetUp() override {
    // Only the emulated mouse's events: no X display's hand in the log.
    ::unsetenv("DISPLAY");
    TuiHook::SetLibraryPath(MOUSE_HOOK_LIBRARY);
    Monitor::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    realInput_ = MakeInputSynthesis();
    ASSERT_NE(realInput_, nullptr);
    realHook_ = MakeTuiHookWheel(nullptr);
    ASSERT_NE(realHook_, nullptr);
  }
  void TearDown() override {
    Monitor::TearDown();
    realHook_.reset();
    realInput_.reset();
    TuiHook::SetLibraryPath({});
  }

  void StartDeskMonitor() {
    StartMonitor(realHook_.get(), realInput_.get());
    ASSERT_TRUE(mouse_.awaitHooks(false, true)) << mouse_.lastError();
  }

  // Turns the wheel by hand, one event after the other, from a thread of its
  // own: the hook's decision is taken on this (the GUI) thread, which keeps
  // running its event loop meanwhile. Returns whether each was swallowed.
  std::vector<bool> Turn(const std::vector<int>& deltas) {
    std::vector<bool> swallowed;
    std::string error;
    std::atomic<bool> finished{false};
    std::thread hand([&] {
      for (int d : deltas) {
        const std::optional<bool> r = mouse_.wheel(d);
        if (!r) {
          error = mouse_.lastError();
          break;
        }
        swallowed.push_back(*r);
      }
      finished = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return finished.load(); }, 20000));
    hand.join();
    EXPECT_EQ(error, "");
    return swallowed;
  }

  // The input log without time stamps.
  std::vector<std::string> Delivered() {
    std::vector<std::string> out;
    for (const auto& e : mouse_.inputLog()) {
      std::string line = platform::emu::formatInputEvent(e);
      const auto t = line.find(" t=");
      const auto end = line.find(' ', t + 1);
      line.erase(t, end == std::string::npos ? std::string::npos : end - t);
      out.push_back(line);
    }
    return out;
  }

  std::unique_ptr<TMonitorWheelHook> realHook_;
  std::unique_ptr<TInputSynthesis> realInput_;
};

TEST_F(MonitorDeskWheel, InputSynthesisSendsFlaggedEventsAndNoneWithoutABackend) {
  EXPECT_EQ(MakeInputSynthesis(platform::createNoInputSynthesis()), nullptr);
  EXPECT_EQ(MakeInputSynthesis(nullptr), nullptr);
  auto input = MakeInputSynthesis(platform::createEmulatorSynthesis(mouse_.socketPath()));
  ASSERT_NE(input, nullptr);
  input->Key(VK_BROWSER_FORWARD, true);
  input->Key(VK_BROWSER_FORWARD, false);
  input->Wheel(-120);
  EXPECT_EQ(Delivered(), (std::vector<std::string>{"key 0xA7 down injected", "key 0xA7 up injected",
                                                   "wheel -120 injected"}));
}

TEST_F(MonitorDeskWheel, WheelUpAsVolumeUpPressesAndReleasesTheKeyAndDoesNotScroll) {
  SetWheel(0, 1, 2);
  StartDeskMonitor();
  QSignalSpy done(monitor_.get(), &TTessoldMain::WheelActionDone);
  EXPECT_EQ(Turn({120}), (std::vector<bool>{true}));
  ASSERT_TRUE(done.wait(5000));
  Settle(200);
  EXPECT_EQ(done.count(), 1);
  EXPECT_EQ(Delivered(), (std::vector<std::string>{"key 0xAF down injected", "key 0xAF up injected"}));
}

TEST_F(MonitorDeskWheel, OnlyWheelDownRemappedLetsWheelUpPassWithItsOwnDelta) {
  SetWheel(1, 1, 3);
  StartDeskMonitor();
  QSignalSpy done(monitor_.get(), &TTessoldMain::WheelActionDone);
  EXPECT_EQ(Turn({240}), (std::vector<bool>{false}));
  Settle(200);
  EXPECT_EQ(done.count(), 0);
  EXPECT_EQ(Delivered(), (std::vector<std::string>{"wheel +240"}));
  // The remapped direction is still taken.
  EXPECT_EQ(Turn({-120}), (std::vector<bool>{true}));
  ASSERT_TRUE(done.wait(5000));
  EXPECT_EQ(Delivered(), (std::vector<std::string>{"wheel +240", "key 0xAE down injected", "key 0xAE up injected"}));
}

TEST_F(MonitorDeskWheel, SwappedDirectionsInvertScrollingWithoutALoop) {
  SetWheel(0, 1, 1);
  SetWheel(1, 1, 0);
  StartDeskMonitor();
  QSignalSpy done(monitor_.get(), &TTessoldMain::WheelActionDone);
  EXPECT_EQ(Turn({120, 120, -120}), (std::vector<bool>{true, true, true}));
  ASSERT_EVENTUALLY_EQ(done.count(), 3);
  // The replacements pass the hook untouched: no further action follows.
  Settle(300);
  EXPECT_EQ(done.count(), 3);
  EXPECT_EQ(Delivered(), (std::vector<std::string>{"wheel -120 injected", "wheel -120 injected",
                                                   "wheel +120 injected"}));
}

TEST_F(MonitorDeskWheel, QuickNotchesActInOrder) {
  SetWheel(0, 1, 4);
  SetWheel(1, 1, 5);
  StartDeskMonitor();
  QSignalSpy done(monitor_.get(), &TTessoldMain::WheelActionDone);
  EXPECT_EQ(Turn({120, -120, 120, 120}), (std::vector<bool>{true, true, true, true}));
  ASSERT_EVENTUALLY_EQ(done.count(), 4);
  Settle(200);
  EXPECT_EQ(done.count(), 4);
  EXPECT_EQ(Delivered(), (std::vector<std::string>{"key 0xA6 down injected", "key 0xA6 up injected",
                                                   "key 0xA7 down injected", "key 0xA7 up injected",
                                                   "key 0xA6 down injected", "key 0xA6 up injected",
                                                   "key 0xA6 down injected", "key 0xA6 up injected"}));
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
