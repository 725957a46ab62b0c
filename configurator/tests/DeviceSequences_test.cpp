// Apply, the mode switch and the profile switch against a real emulated
// mouse, with a fake monitor in its own thread that does what the monitor
// does on 7035 (its own frame and level read) before it answers. Every
// expected byte below is written out by hand.
#include "configurator/DeviceSequences.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <future>
#include <mutex>
#include <thread>

#include <sys/stat.h>

#include "device/DMUnit.h"
#include "device/DeviceProtocol.h"
#include "device/ProfileFileDialogs.h"
#include "device/uiHIDData.h"
#include "device/uiStdCmd.h"
#include "emulator/testing/EmulatorProcess.h"
#include "platform/HidBackend.h"
#include "platform/MessageChannel.h"
#include "platform/PointerSettings.h"
#include "platform/RegistryStore.h"
#include "platform/SingleInstance.h"
#include "toolkit/dialogmessage.h"
#include "configurator/tests/FakeMonitor.h"
#include "emulator/testing/WireSummary.h"
#include "platform/testing/QtTestEnvironment.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace emu = platform::emu;

// The desktop settings of Apply run on workers; they end before the application.
class QtEnvironment : public QtTestEnvironment<QApplication> {
  void Ending() override { TuiThread::WaitForAll(); }
};
[[maybe_unused]] const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);


// Passes every transfer to the emulated mouse and counts them, so a test can
// make the k-th one fail or unplug the mouse after k of them.
class CountingBackend : public platform::HidBackend {
 public:
  CountingBackend(std::unique_ptr<platform::HidBackend> inner, emulator::testing::EmulatorProcess& mouse)
      : inner_(std::move(inner)), mouse_(mouse) {}
  std::vector<platform::HidInterfaceInfo> enumerate() override { return inner_->enumerate(); }
  std::vector<platform::HidInterfaceInfo> enumerate(uint32_t& error) override {
    // While the mouse is frozen, the link is waiting on it here.
    const bool frozen = suspended.load();
    if (frozen) waitingOnFrozenMouse = true;
    auto out = inner_->enumerate(error);
    if (frozen) waitingOnFrozenMouse = false;
    return out;
  }
  std::unique_ptr<platform::HidDevice> open(const std::string& path, uint32_t& error) override {
    auto device = inner_->open(path, error);
    if (!device) return nullptr;
    return std::make_unique<Device>(std::move(device), *this);
  }
  // Transfers run on Apply's workers, one at a time; the test reads these
  // on its own thread while one waits.
  int failAt = 0;       // 1-based transfer that fails; 0 none
  int unplugAfter = 0;  // the mouse leaves after this many transfers; 0 never
  int suspendAfter = 0;  // the mouse freezes (SIGSTOP) after this many; 0 never
  std::atomic<int> transfers{0};
  std::atomic<bool> suspended{false};
  std::atomic<bool> waitingOnFrozenMouse{false};

 private:
  void before() {
    ++transfers;
    if (failAt == transfers) mouse_.failNext(1);
  }
  void after() {
    if (unplugAfter != 0 && transfers == unplugAfter) mouse_.unplug();
    if (suspendAfter != 0 && transfers == suspendAfter && mouse_.suspend()) suspended = true;
  }
  struct Device : platform::HidDevice {
    Device(std::unique_ptr<platform::HidDevice> d, CountingBackend& o) : inner(std::move(d)), owner(o) {}
    uint32_t sendFeatureReport(std::span<const uint8_t> r) override {
      owner.before();
      const uint32_t code = inner->sendFeatureReport(r);
      owner.after();
      return code;
    }
    uint32_t getFeatureReport(std::span<uint8_t> r) override {
      owner.before();
      const uint32_t code = inner->getFeatureReport(r);
      owner.after();
      return code;
    }
    uint32_t writeOutputReport(std::span<const uint8_t> r) override { return inner->writeOutputReport(r); }
    uint32_t readInputReport(std::span<uint8_t> b, std::size_t& n) override { return inner->readInputReport(b, n); }
    void cancelRead() override { inner->cancelRead(); }
    std::unique_ptr<platform::HidDevice> inner;
    CountingBackend& owner;
  };
  std::unique_ptr<platform::HidBackend> inner_;
  emulator::testing::EmulatorProcess& mouse_;
};

// Records the calls and the thread they came on.
class ThreadRecordingPointer : public platform::RecordingPointerSettings {
 public:
  void setPointerSpeed(int v) override { note(); RecordingPointerSettings::setPointerSpeed(v); }
  void setAcceleration(int v) override { note(); RecordingPointerSettings::setAcceleration(v); }
  void setWheelScrollLines(int v) override { note(); RecordingPointerSettings::setWheelScrollLines(v); }
  std::atomic<bool> onGuiThread{false};
  std::atomic<int> count{0};

 private:
  void note() {
    ++count;
    if (QThread::currentThread() == qApp->thread()) onGuiThread = true;
  }
};

using emulator::testing::Summary;

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes Zeros(size_t n) { return Bytes(n, 0); }

// The default DPI table with the given current level: four levels 400, 800,
// 1600, 3500 -> step codes 2, 3, 6, 14; six disabled levels.
Bytes DefaultCpiTable(uint8_t current, uint8_t level1Code = 3) {
  return Concat({{4, current, 1, 2, 2, 1, level1Code, level1Code, 1, 6, 6, 1, 14, 14}, Zeros(18)});
}
// Default buttons as the mouse gets them: eight entries, 4 and 5 exchanged,
// the eighth with code 13.
Bytes DefaultButtonTable(Bytes entry2 = {3, 0, 0, 0}) {
  return Concat({{8, 1, 0, 0, 0, 2, 0, 0, 0}, entry2, {4, 0, 0, 0, 5, 0, 0, 0, 9, 0, 0, 0, 10, 0, 0, 0, 13, 0, 0, 0},
                 Zeros(32)});
}

const std::vector<std::string> kApplyLog = {
    "6(0,0)", "R64+1", "G", "R72+32", "G",                     // frame, level read
    "W144+65", "W1745+384", "W2177+6", "W72+32",               // slot 0
    "W2448+65", "W4049+384", "W4481+6", "W2376+32",            // slot 1
    "W69+1", "W64+1", "W62+1", "1(1,0)",                       // rate, mode, wheel byte, notice
    "6(0,0)", "R64+1", "G", "R72+32", "G", "6(1,0)",           // the monitor inside our frame
    "6(1,0)"};

class DeviceSequencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    store_ = platform::openSqliteRegistryStore(root_.filePath("registry.sqlite"));
    MakeDM();
    backend_ = std::make_shared<CountingBackend>(platform::makeEmulatorHidBackend(mouse_.socketPath()), mouse_);
    hid_ = std::make_unique<TuiHIDData>(nullptr, backend_, root_.filePath("none.ini"));
    monitor_ = std::make_unique<FakeMonitor>(mouse_.socketPath());
    ASSERT_TRUE(monitor_->ok());
    SetMessageDialogAnswer([this](const QString& title, const QString& text, const QString&) {
      messages_.push_back(title + "|" + text);
      return 1;
    });
    TDeviceSequenceContext c;
    c.DM = dm_.get();
    c.Hid = hid_.get();
    c.Pointer = &pointer_;
    c.Pause = [this](int ms) {
      pauses_.push_back(ms);
      if (onPause_) onPause_();
    };
    c.RefreshViews = [this] { ++refreshes_; };
    c.Busy = [this](bool on) { busy_.push_back({on, backend_->transfers.load(), int(messages_.size())}); };
    seq_ = std::make_unique<TDeviceSequences>(c);
    ASSERT_TRUE(mouse_.clearLog());
  }
  void TearDown() override {
    TuiThread::WaitForAll();
    SetMessageDialogAnswer({});
  }
  void MakeDM() {
    dm_ = std::make_unique<TDM>(TDMEnvironment{store_.get(), root_.filePath("program"), root_.filePath("Documents")});
    dm_->InitData();
  }
  // What a fresh data module reads back from the store and the files.
  std::unique_ptr<TDM> Reloaded() {
    auto dm = std::make_unique<TDM>(TDMEnvironment{store_.get(), root_.filePath("program"), root_.filePath("Documents")});
    dm->InitData();
    return dm;
  }
  bool Apply() { return seq_->ApplySettings(changed_, params_, led_); }
  std::vector<std::string> Log() { return Summary(mouse_.wireLog()); }
  Bytes Peek(uint16_t a, uint32_t n) { return mouse_.peek(a, n); }
  TMOUSECONFIGINFO& Edited() { return dm_->FCurrentProfileInfo.ConfigInfo; }

  QTemporaryDir root_;
  emulator::testing::EmulatorProcess mouse_{{1, true, {}}};
  std::unique_ptr<platform::RegistryStore> store_;
  std::unique_ptr<TDM> dm_;
  std::shared_ptr<CountingBackend> backend_;
  std::unique_ptr<TuiHIDData> hid_;
  std::unique_ptr<FakeMonitor> monitor_;
  ThreadRecordingPointer pointer_;
  std::unique_ptr<TDeviceSequences> seq_;
  std::vector<QString> messages_;
  // Each switch of the busy indicator: on or off, transfers done and
  // messages shown by then.
  struct BusySwitch {
    bool on;
    int transfers;
    int messages;
    bool operator==(const BusySwitch&) const = default;
  };
  std::vector<BusySwitch> busy_;
  std::vector<int> pauses_;
  std::function<void()> onPause_;
  int refreshes_ = 0;
  bool changed_ = true;
  TDesktopMouseParams params_{10, 3, 0};
  TLEDCONFIG led_{};
};

const QString kWarning = "Warning|    Please connect your mouse device before apply new settings!";

TEST_F(DeviceSequencesTest, FirstStartApplyWritesBothModes) {
  ASSERT_TRUE(Apply());
  EXPECT_FALSE(changed_);
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Log(), kApplyLog);
  EXPECT_EQ(Peek(64, 1), Bytes{0x00});
  EXPECT_EQ(Peek(62, 1), Bytes{0x81});
  EXPECT_EQ(Peek(69, 1), Bytes{0x88});
  // Slot 0 holds the edited profile, whose level the mouse (all zero) named 0.
  EXPECT_EQ(Peek(72, 32), DefaultCpiTable(0));
  EXPECT_EQ(Peek(2376, 32), DefaultCpiTable(1));
  EXPECT_EQ(Peek(144, 65), DefaultButtonTable());
  EXPECT_EQ(Peek(2448, 65), DefaultButtonTable());
  EXPECT_EQ(Peek(2177, 6), (Bytes{0xFF, 0xFF, 0x00, 0x02, 0x02, 0x00}));  // red
  EXPECT_EQ(Peek(4481, 6), (Bytes{0xFF, 0x00, 0xFF, 0x02, 0x02, 0x00}));  // blue
  // The stored profile keeps its own order and seven buttons.
  EXPECT_EQ(Edited().ButtonCount, 7);
  EXPECT_EQ(Edited().ButtonFuncInfo[3].FunctionClass, 5);
  EXPECT_EQ(Edited().ButtonFuncInfo[4].FunctionClass, 4);
  EXPECT_EQ(Edited().ButtonFuncInfo[7].FunctionClass, 0);
  EXPECT_EQ(Edited().CurrentCPIIndex, 0);
  EXPECT_EQ(monitor_->received(), (std::vector<std::pair<int64_t, int64_t>>{{0, 0}}));
  // Pauses: 100 before each slot, pumps between, 50 after the notice.
  EXPECT_EQ(pauses_, (std::vector<int>{100, 0, 0, 0, 100, 0, 0, 0, 0, 0, 50}));
  EXPECT_EQ(led_.R, 255);
}

TEST_F(DeviceSequencesTest, ApplyVariantsReachTheirBytes) {
  struct Case {
    const char* name;
    std::function<void(TMOUSECONFIGINFO&)> edit;
    uint16_t address;
    Bytes expected;
  } cases[] = {
      {"1000Hz on the first profile", [](TMOUSECONFIGINFO& c) { c.ReportRate = 1000; }, 69, {0x81}},
      {"colour C3", [](TMOUSECONFIGINFO& c) { c.LEDConfig.R = 0, c.LEDConfig.G = 255, c.LEDConfig.B = 0; },
       2177, {0x00, 0xFF, 0xFF, 0x02, 0x02, 0x00}},
      {"colour C6", [](TMOUSECONFIGINFO& c) { c.LEDConfig.R = 84, c.LEDConfig.G = 0, c.LEDConfig.B = 255; },
       2177, {0xFF, 0x00, 0xAB, 0x02, 0x02, 0x00}},
      {"X2 := 1000", [](TMOUSECONFIGINFO& c) { c.CPIState[1].X = 1000; }, 72, DefaultCpiTable(0, 4)},
      {"button 3 Cut", [](TMOUSECONFIGINFO& c) {
         TBUTTONFUNCINFO& e = c.ButtonFuncInfo[2];
         e.FunctionType = 3, e.FunctionIndex = 7, e.FunctionClass = 15, e.MenuId = 801;
         e.ComboKey = {'X', 0, 0, 0, 2};
       }, 144, DefaultButtonTable({0x0F, 0x01, 0x1B, 0x00})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dm_->RestoreCurrentProfileInfoToDefault();
    c.edit(Edited());
    dm_->SaveBackToCurrentProfileInfo();
    ASSERT_TRUE(Apply());
    EXPECT_EQ(Peek(c.address, uint32_t(c.expected.size())), c.expected);
    // What was applied is what a restart reads back.
    auto again = Reloaded();
    const TMOUSECONFIGINFO& stored = again->FCurrentProfileInfo.ConfigInfo;
    EXPECT_EQ(0, std::memcmp(stored.ButtonFuncInfo, Edited().ButtonFuncInfo, sizeof stored.ButtonFuncInfo));
    EXPECT_EQ(0, std::memcmp(stored.CPIState, Edited().CPIState, sizeof stored.CPIState));
    EXPECT_EQ(0, std::memcmp(&stored.LEDConfig, &Edited().LEDConfig, sizeof stored.LEDConfig));
    EXPECT_EQ(stored.ReportRate, Edited().ReportRate);
  }
}

// Apply stores every profile; only a file whose bytes differ from the profile
// in memory (edited, damaged or missing on disk) is written again, whole.
TEST_F(DeviceSequencesTest, ApplyRewritesOnlyTheFilesThatDiffer) {
  auto file = [this](int i) { return root_.filePath(QString("Documents/Profile/Profile%1.pfd").arg(i + 1)); };
  auto inode = [](const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
  };
  auto bytes = [](const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  };
  auto put = [](const QString& path, const QByteArray& b) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(b), b.size());
  };
  struct Case {
    const char* name;
    std::function<void()> before;
    std::array<bool, kProfileCount> rewritten;
  };
  const Case cases[] = {
      {"nothing edited", [] {}, {}},
      {"current profile edited",
       [this] {
         Edited().ReportRate = Edited().ReportRate == 1000 ? 500 : 1000;
         dm_->SaveBackToCurrentProfileInfo();
       },
       {true, false, false, false, false}},
      {"a file cut short on disk", [&] { put(file(2), bytes(file(2)).left(int(sizeof(TMOUSEPROFILEINFO)) - 1)); },
       {false, false, true, false, false}},
      {"a file with one byte changed on disk",
       [&] {
         QByteArray b = bytes(file(3));
         b[100] = char(b[100] ^ 1);
         put(file(3), b);
       },
       {false, false, false, true, false}},
      {"a file removed", [&] { ASSERT_TRUE(QFile::remove(file(4))); }, {false, false, false, false, true}},
  };
  // The first Apply stores the level the mouse names; after the second,
  // memory and disk agree.
  ASSERT_TRUE(Apply());
  ASSERT_TRUE(Apply());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.before();
    // Damage is done in place, so a new inode after Apply means a new file.
    std::array<ino_t, kProfileCount> before{};
    for (int i = 0; i < kProfileCount; ++i) before[i] = inode(file(i));
    ASSERT_TRUE(Apply());
    for (int i = 0; i < kProfileCount; ++i) {
      const bool rewritten = before[i] == 0 || inode(file(i)) != before[i];
      EXPECT_EQ(rewritten, c.rewritten[i]) << "profile " << i + 1;
      EXPECT_EQ(bytes(file(i)), dm_->ProfileStore(i)->Stream()) << "profile " << i + 1;
    }
  }
}

TEST_F(DeviceSequencesTest, MouseAbsentStoresAndWarns) {
  Edited().ReportRate = 500;
  ASSERT_TRUE(mouse_.unplug());
  ASSERT_TRUE(mouse_.clearLog());
  EXPECT_FALSE(Apply());
  EXPECT_FALSE(changed_);
  EXPECT_EQ(messages_, std::vector<QString>{kWarning});
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(monitor_->received().empty());
  EXPECT_EQ(Reloaded()->FCurrentProfileInfo.ConfigInfo.ReportRate, 500);
  TuiThread::WaitForAll();
  EXPECT_EQ(pointer_.count.load(), 3) << "the desktop is set before the presence test";
}

TEST_F(DeviceSequencesTest, FaultsAcrossTheSequenceFailAndKeepTheEdits) {
  // The configurator's own transfers of a healthy Apply, counted first.
  ASSERT_TRUE(Apply());
  const int total = backend_->transfers;
  ASSERT_GE(total, 17);
  for (int k : {1, 2, 3, 6, 9, 12, total - 1, total}) {
    for (bool unplug : {false, true}) {
      SCOPED_TRACE(std::string(unplug ? "unplug after " : "fail transfer ") + std::to_string(k));
      ASSERT_TRUE(mouse_.plug());
      ASSERT_TRUE(mouse_.reset(true));
      messages_.clear();
      Edited().LEDConfig.G = uint8_t(k);
      dm_->SaveBackToCurrentProfileInfo();
      backend_->transfers = 0;
      backend_->failAt = unplug ? 0 : k;
      if (unplug && k == 1) {
        ASSERT_TRUE(mouse_.unplug());  // gone before the first transfer
      }
      backend_->unplugAfter = unplug && k > 1 ? k - 1 : 0;
      EXPECT_FALSE(Apply());
      EXPECT_EQ(messages_, std::vector<QString>{kWarning});
      EXPECT_EQ(Reloaded()->FCurrentProfileInfo.ConfigInfo.LEDConfig.G, k);
      // The next Apply on a healthy mouse writes everything.
      backend_->failAt = backend_->unplugAfter = 0;
      ASSERT_TRUE(mouse_.plug());
      messages_.clear();
      EXPECT_TRUE(Apply());
      EXPECT_TRUE(messages_.empty());
      EXPECT_EQ(Peek(2177, 6), (Bytes{uint8_t(255 - k), 0xFF, 0x00, 0x02, 0x02, 0x00}));
      EXPECT_EQ(Peek(4481, 6), (Bytes{0xFF, 0x00, 0xFF, 0x02, 0x02, 0x00}));
      EXPECT_EQ(Peek(69, 1), Bytes{0x88});
    }
  }
}

// A mouse that stops answering mid-Apply (its process frozen right after the
// level read): the next transfer waits out its time-out and ends the
// sequence; the window's thread keeps handling events meanwhile.
TEST_F(DeviceSequencesTest, MouseThatStopsAnsweringEndsApplyAtTheFirstTimeOut) {
  Edited().LEDConfig.G = 77;
  dm_->SaveBackToCurrentProfileInfo();
  backend_->suspendAfter = 5;  // 6(0,0), R64+1, G, R72+32, G
  int ticksWhileWaiting = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (backend_->waitingOnFrozenMouse) ++ticksWhileWaiting;
  });
  tick.start(10);
  EXPECT_FALSE(Apply());
  tick.stop();
  ASSERT_TRUE(backend_->suspended);
  ASSERT_TRUE(mouse_.resume());

  EXPECT_EQ(Log(), (std::vector<std::string>{"6(0,0)", "R64+1", "G", "R72+32", "G"}))
      << "nothing after the transfer that timed out, not even the frame's end";
  EXPECT_GT(ticksWhileWaiting, 0) << "the GUI thread's timer fired while the transfer waited";
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(messages_[0].startsWith("Warning|The mouse does not answer.")) << qPrintable(messages_[0]);
  EXPECT_FALSE(messages_[0].contains("Please connect"));
  // On before the first transfer; off once the sequence ended, before the message.
  EXPECT_EQ(busy_, (std::vector<BusySwitch>{{true, 0, 0}, {false, 5, 0}}));
  EXPECT_TRUE(monitor_->received().empty()) << "the monitor is not asked to read a silent mouse";
  EXPECT_FALSE(changed_);
  EXPECT_EQ(Reloaded()->FCurrentProfileInfo.ConfigInfo.LEDConfig.G, 77) << "what was stored stays stored";

  // The mouse answers again: the next Apply goes through whole.
  backend_->suspendAfter = 0;
  backend_->suspended = false;
  messages_.clear();
  busy_.clear();
  ASSERT_TRUE(mouse_.clearLog());
  EXPECT_TRUE(Apply());
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Log(), kApplyLog);
  ASSERT_EQ(busy_.size(), 2u);
  EXPECT_EQ(busy_[0], (BusySwitch{true, 5, 0}));
  EXPECT_FALSE(busy_[1].on);
}

TEST_F(DeviceSequencesTest, UnusableLevelFromTheMouseFallsBackToTheFirstEnabled) {
  struct Case {
    uint8_t mouseLevel;
    bool level0Enabled;
    int32_t expected;
  } cases[] = {{2, true, 2}, {3, true, 3}, {12, true, 0}, {5, true, 0}, {0, false, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.mouseLevel));
    const uint8_t table[2] = {4, c.mouseLevel};
    ASSERT_TRUE(mouse_.poke(72, table));
    Edited().CPIState[0].State = c.level0Enabled ? 1 : 0;
    dm_->SaveBackToCurrentProfileInfo();
    ASSERT_TRUE(Apply());
    EXPECT_EQ(Edited().CurrentCPIIndex, c.expected);
    EXPECT_EQ(Peek(73, 1), Bytes{uint8_t(c.expected)});
  }
}

TEST_F(DeviceSequencesTest, ModeSwitchWritesOnlyTheModeByte) {
  ASSERT_TRUE(seq_->SwitchMode(1));
  EXPECT_EQ(Log(), (std::vector<std::string>{"6(0,0)", "W64+1", "1(1,1)", "6(1,0)", "6(0,0)", "R64+1", "G",
                                            "R2376+32", "G", "6(1,0)"}));
  EXPECT_EQ(Peek(64, 1), Bytes{0x01});
  EXPECT_EQ(monitor_->received(), (std::vector<std::pair<int64_t, int64_t>>{{0, 0}}));
  EXPECT_EQ(dm_->ProfileGroupIndex(), 1);
  EXPECT_EQ(dm_->ProfileIndex(), 1);
  EXPECT_EQ(Reloaded()->ProfileGroupIndex(), 1) << "the mode is stored at once";
  EXPECT_EQ(refreshes_, 1);
  EXPECT_FALSE(seq_->SwitchMode(2));
}

TEST_F(DeviceSequencesTest, ProfileSwitchKeepsTheModeByteAndTellsTheProfile) {
  // The profiles themselves live under "software\Orvelline" here, so the key exists.
  struct Case {
    int mode;
    Bytes byte64;
  } cases[] = {{0, {0x00}}, {1, {0x01}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ASSERT_TRUE(seq_->SwitchMode(c.mode));
    changed_ = false;
    ASSERT_TRUE(mouse_.clearLog());
    ASSERT_TRUE(seq_->SwitchProfile(3, changed_, params_, led_));
    EXPECT_TRUE(changed_);
    EXPECT_EQ(Peek(64, 1), c.byte64);
    const std::string slot = c.mode ? "R2376+32" : "R72+32";
    EXPECT_EQ(Log(), (std::vector<std::string>{"6(1,0)", "W64+1", "1(1,3)", "6(1,0)", "6(0,0)", "R64+1", "G", slot,
                                              "G", "6(1,0)"}));
    EXPECT_EQ(monitor_->received().back(), (std::pair<int64_t, int64_t>{1, 3}));
    int32_t id = -1;
    const auto st = store_->readInteger(platform::HKEY_CURRENT_USER, "software\\Orvelline", "ProfileID", id);
    EXPECT_EQ(st, platform::RegStatus::Ok);
    EXPECT_EQ(id, 3);
    EXPECT_EQ(dm_->ProfileIndex(), 3);
    EXPECT_EQ(dm_->FProfileSettingGroup.ProfileIndexOfProfileGroup[c.mode], 3);
    EXPECT_EQ(params_.PointerSpeed, 10);
    EXPECT_EQ(params_.ScrollLines, 3);
    EXPECT_EQ(led_.R, 0);  // profile 4 is teal
    EXPECT_EQ(led_.G, 96);
    // The next Apply tells the mouse profile 3.
    ASSERT_TRUE(mouse_.clearLog());
    ASSERT_TRUE(Apply());
    const auto log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), "1(1,3)"), log.end());
    EXPECT_EQ(Peek(64, 1), c.byte64);
  }
  EXPECT_FALSE(seq_->SwitchProfile(5, changed_, params_, led_));
  EXPECT_FALSE(seq_->SwitchProfile(-1, changed_, params_, led_));
}

TEST_F(DeviceSequencesTest, ProfileIdOnlyUnderAnExistingKey) {
  auto empty = platform::openSqliteRegistryStore(root_.filePath("empty.sqlite"));
  TDM dm(TDMEnvironment{empty.get(), root_.filePath("program2"), root_.filePath("Documents2")});
  TDeviceSequenceContext ctx;
  ctx.DM = &dm;
  ctx.Hid = hid_.get();
  TDeviceSequences seq(ctx);
  EXPECT_FALSE(seq.WriteProfileIdToRegistry(3));
  EXPECT_EQ(empty->keyExists(platform::HKEY_CURRENT_USER, "software\\Orvelline"), platform::RegStatus::Absent);
  ASSERT_EQ(empty->writeInteger(platform::HKEY_CURRENT_USER, "software\\Orvelline", "Other", 7),
            platform::RegStatus::Ok);
  EXPECT_TRUE(seq.WriteProfileIdToRegistry(4));
  int32_t id = -1;
  EXPECT_EQ(empty->readInteger(platform::HKEY_CURRENT_USER, "software\\Orvelline", "ProfileID", id),
            platform::RegStatus::Ok);
  EXPECT_EQ(id, 4);
}

TEST_F(DeviceSequencesTest, ClicksDuringASequenceAreIgnored) {
  bool switched = true, moded = true, preset = true;
  bool other = false;
  onPause_ = [&] {
    if (!DeviceSequenceRunning()) return;
    switched = seq_->SwitchProfile(2, other, params_, led_);
    moded = seq_->SwitchMode(1);
    bool c = false;
    struct NoChooser : TProfileFileChooser {
      QString ChooseOpenFile(const QString&) override { return {}; }
      QString ChooseSaveFile(const QString&) override { return {}; }
      void ShowMessage(const QString&) override {}
    } chooser;
    preset = seq_->PresetMenuClick(1, c, chooser, QString());
  };
  ASSERT_TRUE(Apply());
  EXPECT_FALSE(switched);
  EXPECT_FALSE(moded);
  EXPECT_FALSE(preset);
  EXPECT_FALSE(DeviceSequenceRunning());
  EXPECT_EQ(Log(), kApplyLog);
  EXPECT_EQ(dm_->ProfileIndex(), 0);
  EXPECT_EQ(dm_->ProfileGroupIndex(), 0);
}

TEST_F(DeviceSequencesTest, DesktopPointerSettingsOnTheWorker) {
  struct Case {
    TDesktopMouseParams params;
    std::vector<platform::RecordingPointerSettings::Call> calls;
  } cases[] = {
      {{10, 3, 0}, {{platform::RecordingPointerSettings::What::Acceleration, 0},
                    {platform::RecordingPointerSettings::What::Speed, 10},
                    {platform::RecordingPointerSettings::What::WheelLines, 3}}},
      {{15, 7, 7}, {{platform::RecordingPointerSettings::What::Speed, 15},
                    {platform::RecordingPointerSettings::What::WheelLines, 7}}},
  };
  for (const Case& c : cases) {
    ThreadRecordingPointer pointer;
    TDeviceSequenceContext ctx;
    ctx.DM = dm_.get();
    ctx.Hid = hid_.get();
    ctx.Pointer = &pointer;
    ctx.Pause = [](int) {};
    TDeviceSequences seq(ctx);
    TDesktopMouseParams params = c.params;
    ASSERT_TRUE(seq.ApplySettings(changed_, params, led_));
    TuiThread::WaitForAll();
    EXPECT_EQ(pointer.calls(), c.calls);
    EXPECT_FALSE(pointer.onGuiThread.load());
  }
}

TEST_F(DeviceSequencesTest, PresetDefaultsAndLoadCountAsChanges) {
  struct Chooser : TProfileFileChooser {
    QString open, save;
    QString ChooseOpenFile(const QString&) override { return open; }
    QString ChooseSaveFile(const QString&) override { return save; }
    void ShowMessage(const QString&) override {}
  } chooser;
  Edited().ReportRate = 1000;
  dm_->SaveBackToCurrentProfileInfo();
  chooser.save = root_.filePath("Documents/export.pfd");
  bool c = false;
  EXPECT_TRUE(seq_->PresetMenuClick(3, c, chooser, root_.filePath("Documents")));
  EXPECT_FALSE(c) << "saving to a file changes nothing";
  EXPECT_TRUE(seq_->PresetMenuClick(1, c, chooser, QString()));
  EXPECT_TRUE(c);
  EXPECT_EQ(Edited().ReportRate, 125);
  c = false;
  chooser.open = chooser.save;
  EXPECT_TRUE(seq_->PresetMenuClick(2, c, chooser, root_.filePath("Documents")));
  EXPECT_TRUE(c);
  EXPECT_EQ(Edited().ReportRate, 1000);
  c = false;
  chooser.open.clear();
  EXPECT_FALSE(seq_->PresetMenuClick(2, c, chooser, QString()));
  EXPECT_FALSE(c);
  EXPECT_FALSE(seq_->PresetMenuClick(4, c, chooser, QString()));
  EXPECT_TRUE(Log().empty()) << "PRESET never talks to the mouse";
}

}  // namespace
