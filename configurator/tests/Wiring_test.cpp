// The configurator's window wired to the button assignment, Apply and the
// mode and profile switches: driven through its buttons and menus against a
// real emulated mouse (its memory zeroed) and a fake monitor in its own
// thread. Observed: the mouse's memory and wire log, TDM, the store and what
// the monitor received. Every expected byte is written out by hand.
#include "configurator/MainConfig.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <future>
#include <mutex>

#include "configurator/AssignmentMenus.h"
#include "device/DMUnit.h"
#include "device/DeviceProtocol.h"
#include "device/uiHIDData.h"
#include "device/uiStdCmd.h"
#include "emulator/testing/EmulatorProcess.h"
#include "platform/HidBackend.h"
#include "platform/MessageChannel.h"
#include "platform/PointerSettings.h"
#include "platform/RegistryStore.h"
#include "platform/SingleInstance.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiMenuEx.h"
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


using emulator::testing::Summary;

int Count(const std::vector<std::string>& log, const std::string& line) {
  return int(std::count(log.begin(), log.end(), line));
}

using Received = std::vector<std::pair<int64_t, int64_t>>;

class WiringTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    base_ = tmp_.path();
    program_ = base_ + "/program";
    QDir().mkpath(program_);
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), program_ + "/Images");
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), program_ + "/images");
    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    monitor_ = std::make_unique<FakeMonitor>(mouse_.socketPath());
    ASSERT_TRUE(monitor_->ok());
    store_ = platform::openSqliteRegistryStore(base_ + "/registry.sqlite");
    SetMessageDialogAnswer([this](const QString& title, const QString& text, const QString&) {
      messages_.push_back(title + "|" + text);
      return 1;
    });
    dm_ = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, base_ + "/Documents"});
    dm_->InitData();
    TMarvaneEnvironment env;
    env.DM = dm_.get();
    env.HidBackend = platform::makeEmulatorHidBackend(mouse_.socketPath());
    env.Pointer = &pointer_;
    env.ProgramFolder = program_;
    env.Terminate = [] {};
    env.StartMonitor = [] {};
    window_ = std::make_unique<TMarvaneMain>(std::move(env));
    // The dialogs never open here: a test that needs one puts in its answer.
    window_->AssignmentDialogs.SingleKey = nullptr;
    window_->AssignmentDialogs.ComboKey = nullptr;
    window_->AssignmentDialogs.FireKey = nullptr;
    window_->AssignmentDialogs.MacroManager = nullptr;
    window_->AssignmentDialogs.Message = [this](const QString& title, const QString& text, const QString&) {
      messages_.push_back(title + "|" + text);
      return 1;
    };
    window_->show();
    ASSERT_TRUE(mouse_.clearLog());
  }
  void TearDown() override {
    window_.reset();
    TuiThread::WaitForAll();
    SetMessageDialogAnswer({});
  }

  TMarvaneMain& w() { return *window_; }
  // A choice in the menu that a click on button `button` (0..8) opened,
  // reported as the menu reports it.
  void Choose(int button, int64_t menuId) {
    w().BtnSetClick(button);
    TuiMenuEx* menu = button < 2 ? w().uiMenuExLRBUTTON : button < 7 ? w().uiMenuEx1 : w().uiMenuEx2;
    ASSERT_TRUE(menu->IsMenuOpen()) << "button " << button;
    menu->CloseMenu();
    menu->OnItemsClick(nullptr, QStringLiteral("Item%1").arg(menuId % 100), uint32_t(menuId), nullptr, 0);
  }
  std::vector<std::string> Log() { return Summary(mouse_.wireLog()); }
  Bytes Peek(uint16_t a, uint32_t n) { return mouse_.peek(a, n); }
  // Entry e of the button table of a slot as the mouse holds it.
  Bytes ButtonEntry(uint16_t table, int e) { return Peek(uint16_t(table + 1 + 4 * e), 4); }
  TMOUSECONFIGINFO& Edited() { return dm_->FCurrentProfileInfo.ConfigInfo; }
  std::unique_ptr<TDM> Reloaded() {
    auto dm = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, base_ + "/Documents"});
    dm->InitData();
    return dm;
  }

  QTemporaryDir tmp_;
  QString base_, program_;
  emulator::testing::EmulatorProcess mouse_{{1, true, {}}};
  std::unique_ptr<FakeMonitor> monitor_;
  std::unique_ptr<platform::RegistryStore> store_;
  std::unique_ptr<TDM> dm_;
  std::unique_ptr<TMarvaneMain> window_;
  platform::RecordingPointerSettings pointer_;
  std::vector<QString> messages_;
};

// A choice through the window's menus, then Apply: the stored entry and the
// mouse's table entry (slot 0; entries 3 and 4 exchanged on the mouse).
TEST_F(WiringTest, MenuChoiceThenApplyReachesTheMouse) {
  struct Case {
    const char* name;
    int button;
    int64_t menuId;
    int mouseEntry;  // where the entry sits in the mouse's table
    Bytes bytes;
    const char* caption;
  } cases[] = {
      {"Cut on button 3", 2, 801, 2, {0x0F, 0x01, 0x1B, 0x00}, "Cut"},
      {"Right Click on button 1", 0, 2, 0, {0x02, 0x00, 0x00, 0x00}, "Right Click"},
      {"Middle Button on button 4", 3, 3, 4, {0x03, 0x00, 0x00, 0x00}, "Middle Button"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Choose(c.button, c.menuId);
    EXPECT_TRUE(w().SettingsChanged);
    EXPECT_EQ(Edited().ButtonFuncInfo[c.button].MenuId, c.menuId);
    EXPECT_EQ(w().BtnSet[c.button]->text(), QString::fromLatin1(c.caption));
    w().BSBTNAPPLY->click();
    EXPECT_FALSE(w().SettingsChanged);
    EXPECT_EQ(ButtonEntry(144, c.mouseEntry), c.bytes);
    EXPECT_EQ(Reloaded()->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[c.button].MenuId, c.menuId);
  }
  EXPECT_TRUE(messages_.empty());
  // The stored profile keeps its own order and seven buttons.
  EXPECT_EQ(Edited().ButtonCount, 7);
}

TEST_F(WiringTest, SwatchC6ThenApplyWritesTheComplementedColour) {
  w().findChild<QPushButton*>(QStringLiteral("C6"))->click();
  w().BSBTNAPPLY->click();
  EXPECT_EQ(Peek(2177, 6), (Bytes{0xFF, 0x00, 0xAB, 0x02, 0x02, 0x00}));
  EXPECT_EQ(Peek(4481, 6), (Bytes{0xFF, 0x00, 0xFF, 0x02, 0x02, 0x00}));  // mode 2 keeps its blue
  EXPECT_EQ(monitor_->received(), (Received{{0, 0}}));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(WiringTest, WheelChoiceCountsAsAChangeAndKeepsItsClass) {
  const int32_t classBefore = Edited().VWheelButtonFuncInfo[1].FunctionClass;
  Choose(8, 1);  // "Wheel Up" on the wheel's down direction
  EXPECT_TRUE(w().SettingsChanged);
  EXPECT_EQ(Edited().VWheelButtonFuncInfo[1].FunctionIndex, 0);
  EXPECT_EQ(Edited().VWheelButtonFuncInfo[1].FunctionClass, classBefore);
  EXPECT_EQ(w().BtnSet[8]->text(), "Wheel Up");
}

TEST_F(WiringTest, CancelledKeyDialogLeavesTheEntryButCountsAsAChange) {
  int asked = 0;
  w().AssignmentDialogs.SingleKey = [&](TSINGLEKEYINFO&) { return ++asked, 2; };
  const TBUTTONFUNCINFO before = Edited().ButtonFuncInfo[4];
  Choose(4, 6);  // "Single Key"
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(w().SettingsChanged);
  EXPECT_EQ(std::memcmp(&before, &Edited().ButtonFuncInfo[4], sizeof before), 0);
}

TEST_F(WiringTest, ModeTwoWritesTheActiveSlotOnly) {
  w().BSBTNMODE2->click();
  const auto log = Log();
  EXPECT_EQ(Peek(64, 1), Bytes{0x01});
  EXPECT_EQ(Count(log, "1(1,1)"), 1);
  EXPECT_EQ(Count(log, "W144+65") + Count(log, "W2448+65"), 0);
  EXPECT_EQ(monitor_->received(), (Received{{0, 0}}));
  EXPECT_EQ(dm_->ProfileGroupIndex(), 1);
  EXPECT_FALSE(w().SettingsChanged);
}

TEST_F(WiringTest, ProfileFourThenApplySendsItsArgument) {
  w().BtnProfile[3]->click();
  EXPECT_EQ(monitor_->received(), (Received{{1, 3}}));
  EXPECT_EQ(Count(Log(), "1(1,3)"), 1);
  EXPECT_EQ(Peek(64, 1), Bytes{0x00});  // Mode 1 stays the active slot
  EXPECT_EQ(dm_->ProfileIndex(), 3);
  EXPECT_TRUE(w().BtnProfile[3]->isChecked());
  EXPECT_TRUE(w().SettingsChanged);
  EXPECT_EQ(w().seq->LastProfileArg, 3);
  ASSERT_TRUE(mouse_.clearLog());
  w().BSBTNAPPLY->click();
  EXPECT_EQ(Count(Log(), "1(1,3)"), 1);
  EXPECT_EQ(Reloaded()->FProfileSettingGroup.ProfileIndexOfProfileGroup[0], 3);
}

TEST_F(WiringTest, OkAfterAnEditAppliesThenCloses) {
  Choose(2, 801);
  w().BSBTNOK->click();
  EXPECT_EQ(ButtonEntry(144, 2), (Bytes{0x0F, 0x01, 0x1B, 0x00}));
  EXPECT_TRUE(QTest::qWaitFor([&] { return !w().isVisible(); }, 5000));
  EXPECT_EQ(Reloaded()->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[2].MenuId, 801);
}

// PRESET "Default Profile" counts as a change, so OK carries it to the mouse.
TEST_F(WiringTest, PresetDefaultsReachTheMouseThroughOk) {
  Choose(2, 801);
  w().BSBTNAPPLY->click();
  ASSERT_EQ(ButtonEntry(144, 2), (Bytes{0x0F, 0x01, 0x1B, 0x00}));
  w().BtnLoadProfile1Click();
  ASSERT_TRUE(w().uiMenuEx3->IsMenuOpen());
  w().uiMenuEx3->CloseMenu();
  w().uiMenuEx3->OnItemsClick(nullptr, QStringLiteral("Item1"), 1, nullptr, 0);
  EXPECT_TRUE(w().SettingsChanged);
  EXPECT_EQ(w().BtnSet[2]->text(), "Middle Button");
  w().BSBTNOK->click();
  EXPECT_EQ(ButtonEntry(144, 2), (Bytes{0x03, 0x00, 0x00, 0x00}));
}

// OK closes at once when Apply fails (only a good Apply waits for the timer),
// after the warning; the edit is stored all the same.
TEST_F(WiringTest, OkWithTheMouseAbsentWarnsAndStores) {
  ASSERT_TRUE(mouse_.unplug());
  Choose(2, 801);
  w().BSBTNOK->click();
  EXPECT_EQ(messages_, (std::vector<QString>{"Warning|    Please connect your mouse device before apply new settings!"}));
  EXPECT_FALSE(w().Timer2->isActive());
  EXPECT_TRUE(monitor_->received().empty());
  // Stored all the same.
  EXPECT_EQ(Reloaded()->FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[2].MenuId, 801);
}

// Clicks that arrive while Apply pumps are ignored: one frame on the wire,
// the profile unchanged.
TEST_F(WiringTest, ClicksDuringApplyAreIgnored) {
  struct Case {
    const char* name;
    std::function<void(TMarvaneMain&)> click;
  } cases[] = {
      {"profile", [](TMarvaneMain& m) { m.BtnProfile[3]->click(); }},
      {"mode", [](TMarvaneMain& m) { m.BSBTNMODE2->click(); }},
      {"assignment", [](TMarvaneMain& m) { m.uiMenuEx1ItemsClick(801); }},
      {"apply", [](TMarvaneMain& m) { m.BSBTNAPPLY->click(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(mouse_.clearLog());
    const auto receivedBefore = monitor_->received().size();
    w().FPlaceButtonTag = 2;
    bool ran = false;
    // A queued call is not user input: it runs inside Apply's first pump.
    QMetaObject::invokeMethod(
        qApp, [&] { c.click(w()), ran = true; }, Qt::QueuedConnection);
    w().BSBTNAPPLY->click();
    ASSERT_TRUE(ran);
    const auto log = Log();
    EXPECT_EQ(Count(log, "6(0,0)"), 2);  // ours and the monitor's
    EXPECT_EQ(Count(log, "1(1,0)"), 1);
    EXPECT_EQ(Count(log, "W64+1"), 1);
    EXPECT_EQ(monitor_->received().size(), receivedBefore + 1);
    EXPECT_EQ(dm_->ProfileIndex(), 0);
    EXPECT_EQ(dm_->ProfileGroupIndex(), 0);
    EXPECT_NE(Edited().ButtonFuncInfo[2].MenuId, 801);
    EXPECT_FALSE(w().SettingsChanged);
    EXPECT_TRUE(w().BtnProfile[0]->isChecked());
  }
}

}  // namespace
