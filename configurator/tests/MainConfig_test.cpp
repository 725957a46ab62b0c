// The configurator's window against the real emulated mouse (its own
// process) and a settings store in a temporary folder. Observed: TDM's
// profile, the store's writes, the profile files and the mouse's command log.
#include "configurator/MainConfig.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVariantAnimation>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QToolTip>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <functional>
#include <map>

#include "configurator/AssignmentMenus.h"
#include "configurator/EndConfigurator.h"
#include "configurator/HelpUnit.h"
#include "device/DMUnit.h"
#include "device/ProfileFileDialogs.h"
#include "device/uiStdCmd.h"
#include "macro/macrofrm.h"
#include "toolkit/SkinCursors.h"
#include "toolkit/testing/ModalWait.h"
#include "toolkit/uiMenuEx.h"
#include "emulator/testing/EmulatorProcess.h"
#include "platform/HidBackend.h"
#include "platform/MessageChannel.h"
#include "platform/PointerSettings.h"
#include "platform/RegistryStore.h"
#include "platform/SingleInstance.h"
#include "platform/testing/BlockingPointer.h"
#include "platform/testing/CountingStore.h"
#include "platform/testing/WatchedBackend.h"
#include "toolkit/QtFileChooser.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"
#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

using platform_test::BlockingPointer;
using platform_test::CountingStore;
using platform_test::WatchedBackend;

QByteArray profileBytes(const TMOUSEPROFILEINFO& p) {
  return QByteArray(reinterpret_cast<const char*>(&p), sizeof p);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    base_ = tmp_.path();
    for (const char* var : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"})
      qputenv(var, base_.toUtf8());
    qputenv("MOUSE_RUNTIME_DIR", (base_ + "/rt").toUtf8());
    program_ = base_ + "/program";
    QDir().mkpath(program_);
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), program_ + "/Images");
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), program_ + "/images");
    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    store_ = std::make_unique<CountingStore>(platform::openSqliteRegistryStore(base_ + "/registry.sqlite"));
    SetMessageDialogAnswer({});
  }
  void TearDown() override {
    SetMessageDialogAnswer({});
    window_.reset();
    dm_.reset();
  }

  // The data module as a first start makes it, then `prepare` on the edited
  // profile (stored back), then the window.
  TMarvaneMain& open(const std::function<void(TMOUSECONFIGINFO&)>& prepare = {}) {
    dm_ = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, base_ + "/Documents"});
    dm_->InitData();
    if (prepare) {
      prepare(dm_->FCurrentProfileInfo.ConfigInfo);
      dm_->SaveBackToCurrentProfileInfo();
    }
    return openWithModule();
  }
  // The window over the data module the test made itself.
  TMarvaneMain& openWithModule() {
    EXPECT_TRUE(mouse_.clearLog());
    store_->writes = 0;
    filesBefore_ = documents();
    TMarvaneEnvironment env;
    env.DM = dm_.get();
    env.HidBackend = std::make_shared<WatchedBackend>(platform::makeEmulatorHidBackend(mouse_.socketPath()), &watch_);
    env.Pointer = &pointer_;
    env.ProgramFolder = program_;
    env.Terminate = [this] { ++terminations_; };
    env.StartMonitor = [this] { ++monitorStarts_; };
    env.StoreNotice = storeNotice_;
    window_ = std::make_unique<TMarvaneMain>(std::move(env));
    return *window_;
  }

  // Every file under the documents folder with a hash of its content.
  std::map<QString, QByteArray> documents() const {
    std::map<QString, QByteArray> files;
    QDirIterator it(base_ + "/Documents", QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      QFile f(path);
      if (f.open(QIODevice::ReadOnly)) files[path] = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1);
    }
    return files;
  }
  bool filesUnchanged() const { return documents() == filesBefore_; }

  // The command bytes of the reports the host sent since the log was cleared.
  std::vector<std::vector<uint8_t>> sentCommands() {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& r : mouse_.sentReports())
      if (r.size() >= 4) out.push_back({r[1], r[2], r[3]});
    return out;
  }
  int previews() {
    int n = 0;
    for (const auto& c : sentCommands())
      if (c[0] == 4) ++n;
    return n;
  }
  // Forgets the start-up traffic.
  void quiet() { ASSERT_TRUE(mouse_.clearLog()); }
  TMOUSECONFIGINFO& config() { return dm_->FCurrentProfileInfo.ConfigInfo; }
  // The edited profile as its store holds it (what Apply and switches read).
  TMOUSEPROFILEINFO stored() {
    auto rec = std::make_unique<TMOUSEPROFILEINFO>();
    std::memset(static_cast<void*>(rec.get()), 0, sizeof *rec);
    dm_->CurrentStore()->Read(rec.get(), sizeof *rec);
    return *rec;
  }
  template <class T>
  T* child(const char* name) {
    T* w = window_->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  void type(QSpinBox* box, const QString& text) {
    auto* edit = box->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
  }

  QTemporaryDir tmp_;
  QString base_, program_;
  emulator::testing::EmulatorProcess mouse_;
  std::unique_ptr<CountingStore> store_;
  std::unique_ptr<TDM> dm_;
  std::unique_ptr<TMarvaneMain> window_;
  platform::RecordingPointerSettings pointer_;
  std::map<QString, QByteArray> filesBefore_;
  int terminations_ = 0, monitorStarts_ = 0;
  QString storeNotice_;
  WatchedBackend::Watch watch_;
};

// --- start-up

TEST_F(MainWindowTest, StartUpSendsOnePreviewForASwatchColourAndNoneOtherwise) {
  struct Case {
    const char* name;
    uint8_t r, g, b;
    int previews;
  } cases[] = {{"green swatch", 0, 255, 0, 1}, {"teal swatch", 0, 96, 96, 1}, {"no swatch", 1, 2, 3, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMarvaneMain& w = open([&](TMOUSECONFIGINFO& ci) {
      ci.LEDConfig.R = c.r;
      ci.LEDConfig.G = c.g;
      ci.LEDConfig.B = c.b;
    });
    EXPECT_EQ(previews(), c.previews);
    EXPECT_FALSE(w.SettingsChanged);
    EXPECT_FALSE(w.FInitlizing);
    EXPECT_EQ(monitorStarts_, 1);
    EXPECT_EQ(store_->writes, 0);
    EXPECT_EQ(pointer_.calls().size(), 0u);
    // The stored colour is never complemented by the preview.
    EXPECT_EQ(config().LEDConfig.R, c.r);
    EXPECT_EQ(config().LEDConfig.G, c.g);
    window_.reset();
    monitorStarts_ = 0;
  }
}

TEST_F(MainWindowTest, ControlsCarryTheirNamesAndTabs) {
  TMarvaneMain& w = open();
  EXPECT_EQ(w.size(), QSize(801, 638));
  for (const char* name : {"BSBTNAPPLY", "BSBTNOK", "BSBTNCANCEL", "BSBTNRESTOREDEFAULTS", "BtnClose", "BSBTNMIN",
                           "BtnSet1", "BtnSet7", "BtnSet8", "Btnset9", "BtnProfile1", "BtnProfile5", "BSBTNMODE1",
                           "BSBTNMODE2", "BtnLoadProfile", "DPI1", "dpi2", "DPI3", "DPI4", "X1", "Y4", "C1", "C6"})
    EXPECT_NE(w.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  for (const char* hidden : {"BSBTNHELP", "PopBoxLanguage", "XY1", "TrackBarCPIX", "CHKAPPLYSETTINGEACHPROFILE",
                             "RDLIGHTOFF", "NBFIRECOUNT", "NBFireDelay", "ProgressBarTime"})
    EXPECT_TRUE(w.findChild<QWidget*>(QString::fromLatin1(hidden))->isHidden()) << hidden;
  EXPECT_EQ(w.TabControlMain->tabText(0), "General");
  EXPECT_EQ(w.TabControlMain->tabText(1), "Light");
  EXPECT_EQ(w.TabControlMain->tabText(2), "Advanced");
  EXPECT_EQ(w.TabControlMain->currentIndex(), 0);
}

// --- OK, Cancel, close, 7036

// The program ends while Apply's worker is still setting the desktop: the
// pointer settings outlive the worker. The worker is released only once the
// teardown waits for it.
TEST_F(MainWindowTest, TeardownWaitsForTheDesktopWorkerBeforeThePointerSettingsGo) {
  auto gate = std::make_shared<BlockingPointer::Gate>();
  auto dm = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, base_ + "/Documents"});
  dm->InitData();
  std::unique_ptr<platform::PointerSettings> pointer = std::make_unique<BlockingPointer>(gate);
  TMarvaneEnvironment env;
  env.DM = dm.get();
  env.HidBackend = platform::makeEmulatorHidBackend(mouse_.socketPath());
  env.Pointer = pointer.get();
  env.ProgramFolder = program_;
  env.Terminate = [] {};
  env.StartMonitor = [] {};
  auto window = std::make_unique<TMarvaneMain>(std::move(env));
  window->show();
  window->BSBTNAPPLY->click();
  {
    std::unique_lock l(gate->m);
    ASSERT_TRUE(gate->cv.wait_for(l, std::chrono::seconds(20), [&] { return gate->inside; }));
  }

  bool waited = false;
  EndConfigurator(window, dm, pointer, [&] {
    waited = true;
    gate->Release();
    TuiThread::WaitForAll();
  });
  TuiThread::WaitForAll();
  EXPECT_TRUE(waited);
  EXPECT_FALSE(gate->destroyedWhileInside);
  EXPECT_EQ(TuiThread::PendingCount(), 0);
}

TEST_F(MainWindowTest, OkUnchangedClosesAtOnceAndWritesNothing) {
  TMarvaneMain& w = open();
  quiet();
  w.show();
  w.BSBTNOK->click();
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(store_->writes, 0);
  EXPECT_TRUE(filesUnchanged());
  EXPECT_TRUE(mouse_.sentReports().empty());
}

TEST_F(MainWindowTest, CancelWithChangesAsksAndSavesOnlyOnOk) {
  for (int answer : {1, 2}) {
    SCOPED_TRACE(answer);
    TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) { ci.CPIState[0].X = 400; });
    w.show();
    type(w.LevelControlTable[0].X, "800");
    ASSERT_TRUE(w.SettingsChanged);
    ASSERT_TRUE(mouse_.clearLog());
    QString asked;
    SetMessageDialogAnswer([&](const QString& title, const QString& text, const QString&) {
      asked = title + "|" + text;
      return answer;
    });
    w.BSBTNCANCEL->click();
    EXPECT_EQ(asked, "Warning|The settings was changed, save the current setting anyway?");
    EXPECT_FALSE(w.isVisible());
    if (answer == 1) {
      EXPECT_GT(store_->writes, 0);
      // What was stored is the edit: a fresh data module reads it back.
      TDM again(TDMEnvironment{store_.get(), program_, base_ + "/Documents"});
      again.InitData();
      EXPECT_EQ(again.FCurrentProfileInfo.ConfigInfo.CPIState[0].X, 800);
    } else {
      EXPECT_EQ(store_->writes, 0);
      EXPECT_TRUE(filesUnchanged());
    }
    EXPECT_TRUE(mouse_.sentReports().empty());
    window_.reset();
  }
}

// A profile switch counts as a change, so Cancel asks; "Save anyway" keeps
// the switch: the next start edits the chosen profile, bound to the mode
// that was in use. The second round starts from what the first stored.
TEST_F(MainWindowTest, CancelSaveAnywayKeepsAProfileSwitch) {
  struct Case {
    int mode;
    int profile;
    int bound0, bound1;
  } cases[] = {{0, 3, 3, 1}, {1, 4, 3, 4}};
  SetMessageDialogAnswer([](const QString&, const QString&, const QString&) { return 1; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.profile);
    TMarvaneMain& w = open();
    w.show();
    if (c.mode == 1) w.BSBTNMODE2->click();
    ASSERT_EQ(dm_->ProfileGroupIndex(), c.mode);
    w.BtnProfile[c.profile]->click();
    ASSERT_EQ(dm_->ProfileIndex(), c.profile);
    ASSERT_TRUE(w.SettingsChanged);
    w.BSBTNCANCEL->click();
    EXPECT_FALSE(w.isVisible());
    window_.reset();

    TDM again(TDMEnvironment{store_.get(), program_, base_ + "/Documents"});
    again.InitData();
    EXPECT_EQ(again.ProfileGroupIndex(), c.mode);
    EXPECT_EQ(again.FProfileSettingGroup.ProfileIndexOfProfileGroup[0], c.bound0);
    EXPECT_EQ(again.FProfileSettingGroup.ProfileIndexOfProfileGroup[1], c.bound1);
    EXPECT_EQ(again.ProfileIndex(), c.profile);
  }
}

TEST_F(MainWindowTest, CancelWithoutChangesAndTheCloseButtonNeverAsk) {
  int asked = 0;
  for (const char* button : {"BSBTNCANCEL", "BtnClose"}) {
    SCOPED_TRACE(button);
    TMarvaneMain& w = open();
    w.show();
    if (QString(button) == "BtnClose") type(w.LevelControlTable[1].Y, "900");  // unsaved edit
    SetMessageDialogAnswer([&](const QString&, const QString&, const QString&) { return ++asked, 1; });
    child<QPushButton>(button)->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(store_->writes, 0);
    window_.reset();
  }
  EXPECT_EQ(asked, 0);
}

TEST_F(MainWindowTest, PostedCloseMessageQuitsWithUnsavedEditsAndAModalDialogOpen) {
  TMarvaneMain* w = nullptr;
  {
    dm_ = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, base_ + "/Documents"});
    dm_->InitData();
    TMarvaneEnvironment env;
    env.DM = dm_.get();
    env.HidBackend = platform::makeEmulatorHidBackend(mouse_.socketPath());
    env.ProgramFolder = program_;
    env.StartMonitor = [] {};
    window_ = std::make_unique<TMarvaneMain>(std::move(env));  // default quit: every loop ends
    w = window_.get();
  }
  platform::SingleInstance lock(platform::kConfiguratorClass);
  ASSERT_TRUE(lock.held());
  platform::MessageEndpoint endpoint;
  ASSERT_TRUE(endpoint.listen(lock, platform::kConfiguratorClass,
                              [w](std::uint32_t m, std::int64_t a, std::int64_t b) { return w->HandleMessage(m, a, b); }));
  w->show();
  type(w->LevelControlTable[2].X, "1200");
  ASSERT_TRUE(w->SettingsChanged);
  store_->writes = 0;
  ASSERT_TRUE(mouse_.clearLog());

  bool questionShown = false;
  QTimer::singleShot(0, w, [&] {
    // Once the save question is up, the monitor posts 7036.
    QTimer::singleShot(0, [&] {
      questionShown = QApplication::activeModalWidget() != nullptr;
      EXPECT_TRUE(platform::post(platform::kConfiguratorClass, platform::WM_CLOSE_CONFIG));
    });
    w->BSBTNCANCEL->click();  // modal: returns when 7036 ends every loop
  });
  QTimer guard;
  guard.setSingleShot(true);
  guard.callOnTimeout([] { QCoreApplication::exit(99); });
  guard.start(20000);
  const int rc = QApplication::exec();
  // Closing the window inside exec() posted a quit of its own, which would
  // end the first modal loop of a later test.
  QCoreApplication::removePostedEvents(qApp, QEvent::Quit);
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(questionShown);
  EXPECT_EQ(store_->writes, 0);  // the question's answer was CANCEL, nothing saved
  EXPECT_TRUE(mouse_.sentReports().empty());
}

TEST_F(MainWindowTest, MessagesReloadAndReapply) {
  TMarvaneMain& w = open();
  // 7038: what the store holds comes back and is shown, not edited.
  config().CPIState[0].X = 1900;
  dm_->SaveBackToCurrentProfileInfo();
  dm_->SaveCurrentProfileInfoToRegistry();
  config().CPIState[0].X = 2500;  // an edit that was never stored
  w.HandleMessage(7038, 0, 0);
  EXPECT_EQ(config().CPIState[0].X, 1900);
  EXPECT_EQ(w.LevelControlTable[0].X->value(), 1900);
  EXPECT_FALSE(w.SettingsChanged);
  EXPECT_EQ(terminations_, 0);
  w.HandleMessage(7036, 0, 0);
  EXPECT_EQ(terminations_, 1);
}

// 7038 when the store has no copy of the profile (kept in its file, never
// applied): the load fails, the working copy is the profile's own all the
// same, and the window shows that copy, so the next Apply stores what it shows.
TEST_F(MainWindowTest, ReloadThatFailsStillShowsWhatTheWorkingCopyHolds) {
  TMarvaneMain& w = open();
  const int shown = w.LevelControlTable[0].X->value();
  config().CPIState[0].X = uint16_t(shown == 1900 ? 2100 : 1900);
  dm_->SaveBackToCurrentProfileInfo();  // in memory only; the store has no copy
  const uint16_t kept = config().CPIState[0].X;
  w.HandleMessage(7038, 0, 0);
  EXPECT_EQ(config().CPIState[0].X, kept);
  EXPECT_EQ(w.LevelControlTable[0].X->value(), kept);
  EXPECT_FALSE(w.SettingsChanged);
}

// --- the views

TEST_F(MainWindowTest, DpiValuesAreKeptAsTypedAndQuantisedOnlyForTheMouse) {
  struct Case {
    const char* name;
    bool differentXY;
    const char* xText;
    const char* yText;
    uint16_t x, y, hw;
  } cases[] = {
      {"linked: 1600 into Y3", false, nullptr, "1600", 1600, 1600, 1500},
      {"different: X 400, Y 3500", true, "400", "3500", 400, 3500, 3500},
      {"linked: tie 1625 to the lower step", false, "1625", nullptr, 1625, 1625, 1500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) {
      ci.ApplyDiffirentXY = 0;
      ci.CPIState[2] = {200, 200, 1};
    });
    quiet();
    if (c.differentXY) {
      w.CHKApplyDiffirentXY->click();
      EXPECT_EQ(config().ApplyDiffirentXY, 1);
    }
    if (c.xText) type(w.LevelControlTable[2].X, c.xText);
    if (c.yText) type(w.LevelControlTable[2].Y, c.yText);
    const TMOUSEPROFILEINFO s = stored();
    EXPECT_EQ(s.ConfigInfo.CPIState[2].X, c.x);
    EXPECT_EQ(s.ConfigInfo.CPIState[2].Y, c.y);
    EXPECT_EQ(s.ConfigInfo.HWCPIState[2].X, c.hw);
    EXPECT_EQ(s.ConfigInfo.HWCPIState[2].Y, c.hw);
    EXPECT_EQ(w.SelectedCpiLevel, 2);
    EXPECT_TRUE(w.SettingsChanged);
    EXPECT_TRUE(mouse_.sentReports().empty());
    window_.reset();
  }
}

TEST_F(MainWindowTest, LevelToggles) {
  TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) {
    for (int i = 0; i < 4; ++i) ci.CPIState[i].State = i == 1 ? 1 : 0;
    ci.CPILevel = 1;
  });
  // The last enabled level stays on.
  w.LevelControlTable[1].Button->click();
  EXPECT_EQ(stored().ConfigInfo.CPIState[1].State, 1);
  EXPECT_TRUE(w.LevelControlTable[1].X->isEnabled());
  // A disabled level comes on; the current level is the first enabled one.
  w.LevelControlTable[3].Button->click();
  TMOUSEPROFILEINFO s = stored();
  EXPECT_EQ(s.ConfigInfo.CPIState[3].State, 1);
  EXPECT_EQ(s.ConfigInfo.HWCPIState[3].State, 1);
  EXPECT_EQ(s.ConfigInfo.CurrentCPIIndex, 1);
  EXPECT_EQ(s.ConfigInfo.CPILevel, 4);
  w.LevelControlTable[0].Button->click();
  EXPECT_EQ(stored().ConfigInfo.CurrentCPIIndex, 0);
  // Now level 2 can go off.
  w.LevelControlTable[1].Button->click();
  EXPECT_EQ(stored().ConfigInfo.CPIState[1].State, 0);
  EXPECT_FALSE(w.LevelControlTable[1].X->isEnabled());
  EXPECT_TRUE(w.SettingsChanged);
}

TEST_F(MainWindowTest, ReportRateRadios) {
  TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) { ci.ReportRate = 125; });
  quiet();
  const std::pair<QRadioButton*, int> cases[] = {
      {w.RD1000HZ, 1000}, {w.RD250HZ, 250}, {w.RD500HZ, 500}, {w.RD125HZ, 125}};
  for (auto [radio, rate] : cases) {
    radio->click();
    EXPECT_EQ(stored().ConfigInfo.ReportRate, rate);
  }
  EXPECT_TRUE(w.SettingsChanged);
  EXPECT_EQ(previews(), 0);
}

TEST_F(MainWindowTest, ClosedThenHighSpeedInEitherSignalOrder) {
  TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) {
    ci.LEDConfig = {1, 2, 3, 2, 2, 0};  // no swatch: no start-up preview
    ci.WheelLedOnOff = 1;
  });
  ASSERT_EQ(previews(), 0);
  w.rClose->click();
  TMOUSEPROFILEINFO s = stored();
  EXPECT_EQ(s.ConfigInfo.WheelLedOnOff, 0);
  EXPECT_EQ(s.ConfigInfo.LEDConfig.BRIGHT_LEVEL, 0);
  EXPECT_EQ(s.ConfigInfo.LEDConfig.BREATH_SPEED, 0);
  EXPECT_EQ(previews(), 1);
  auto led = mouse_.led();
  ASSERT_TRUE(led.has_value());
  EXPECT_EQ((*led)[3], 0);  // brightness 0

  w.rHigh->click();
  // The old radio's "unselected" arriving late must not undo the choice.
  emit w.rClose->toggled(false);
  s = stored();
  EXPECT_EQ(s.ConfigInfo.WheelLedOnOff, 1);
  EXPECT_EQ(s.ConfigInfo.LEDConfig.BRIGHT_LEVEL, 3);
  EXPECT_EQ(s.ConfigInfo.LEDConfig.BREATH_SPEED, 3);
  EXPECT_EQ(previews(), 2);
  EXPECT_TRUE(w.SettingsChanged);
}

TEST_F(MainWindowTest, SwatchC3SendsTheLedPreviewBytes) {
  TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) {
    ci.LEDConfig = {1, 2, 3, 3, 2, 7};
    ci.HWVWheelValue = 0x25;
    ci.WheelLedOnOff = 1;
  });
  ASSERT_EQ(previews(), 0);
  w.findChild<QPushButton*>("C3")->click();
  // Command 6 (0,0), command 4 with ~G ~B ~R, brightness, speed; the wheel
  // byte at 62; command 6 (1,0).
  const auto cmds = sentCommands();
  ASSERT_EQ(cmds.size(), 4u);
  EXPECT_EQ(cmds[0], (std::vector<uint8_t>{6, 0, 0}));
  EXPECT_EQ(cmds[1][0], 4);
  EXPECT_EQ(cmds[3], (std::vector<uint8_t>{6, 1, 0}));
  const std::array<uint8_t, 5> expected = {0x00, 0xFF, 0xFF, 0x03, 0x02};
  EXPECT_EQ(mouse_.led(), expected);
  EXPECT_EQ(mouse_.peek(62, 1), std::vector<uint8_t>{0xA5});
  const TMOUSEPROFILEINFO s = stored();
  EXPECT_EQ(s.ConfigInfo.LEDConfig.R, 0);
  EXPECT_EQ(s.ConfigInfo.LEDConfig.G, 255);
  EXPECT_EQ(s.ConfigInfo.LEDConfig.B, 0);
  EXPECT_TRUE(w.SettingsChanged);
}

// The current-colour picture's middle and which swatches are checked.
QColor shownColour(TMarvaneMain& w) {
  const QImage shown = w.ImageLightColor->pixmap().toImage();
  return shown.isNull() ? QColor() : shown.pixelColor(shown.width() / 2, shown.height() / 2);
}
std::vector<int> checkedSwatches(TMarvaneMain& w) {
  std::vector<int> on;
  for (int i = 0; i < 6; ++i)
    if (w.FLight_Colors[i].Swatch->isChecked()) on.push_back(i);
  return on;
}

TEST_F(MainWindowTest, LightViewShowsTheDefaultSecondProfilesBlueWithNoSwatchAndNoPreview) {
  // Mode 1 bound to the second default profile, pure blue, which no swatch
  // holds (the violet one is 84, 0, 255).
  dm_ = std::make_unique<TDM>(TDMEnvironment{store_.get(), program_, base_ + "/Documents"});
  dm_->InitData();
  dm_->FProfileSettingGroup.ProfileIndexOfProfileGroup[0] = 1;
  ASSERT_TRUE(dm_->SwitchToProfileGroup(0));
  ASSERT_EQ(config().LEDConfig.R, 0);
  ASSERT_EQ(config().LEDConfig.G, 0);
  ASSERT_EQ(config().LEDConfig.B, 255);
  TMarvaneMain& w = openWithModule();
  EXPECT_EQ(previews(), 0);
  EXPECT_EQ(shownColour(w), QColor(0, 0, 255));
  EXPECT_TRUE(checkedSwatches(w).empty());

  // Choosing a swatch shows it and checks only it; PROFILE2 again shows blue.
  w.findChild<QPushButton*>("C6")->click();
  EXPECT_EQ(shownColour(w), QColor(84, 0, 255));
  EXPECT_EQ(checkedSwatches(w), std::vector<int>{5});
  w.RefreshAllViews();
  EXPECT_EQ(checkedSwatches(w), std::vector<int>{5});
  quiet();
  w.BtnProfile[0]->click();  // red, the first swatch
  EXPECT_EQ(shownColour(w), QColor(255, 0, 0));
  EXPECT_EQ(checkedSwatches(w), std::vector<int>{0});
  w.BtnProfile[4]->click();  // the fifth default, magenta, a swatch too
  EXPECT_EQ(checkedSwatches(w), std::vector<int>{4});
  dm_->FCurrentProfileInfo.ConfigInfo.LEDConfig.R = 0;
  dm_->FCurrentProfileInfo.ConfigInfo.LEDConfig.G = 0;
  dm_->FCurrentProfileInfo.ConfigInfo.LEDConfig.B = 255;
  quiet();
  w.RefreshAllViews();
  EXPECT_EQ(previews(), 0);
  EXPECT_EQ(shownColour(w), QColor(0, 0, 255));
  EXPECT_TRUE(checkedSwatches(w).empty());
}

TEST_F(MainWindowTest, ApplyIndicatorTurnsExactlyInsideTheDeviceFrame) {
  TMarvaneMain& w = open();
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  TBusyIndicator* busy = w.APPLYAniIndicator;
  auto turning = [busy] { return busy->isVisible() && busy->isEnabled() && busy->Animation->state() == QAbstractAnimation::Running; };
  EXPECT_FALSE(busy->isVisible());
  EXPECT_NE(busy->Animation->state(), QAbstractAnimation::Running);
  // The skin's picture, not the drawn stand-in.
  EXPECT_FALSE(busy->Picture.isNull());

  // Each command sent, with whether the indicator turned while it went out.
  std::vector<std::pair<std::vector<uint8_t>, bool>> seen;
  watch_ = [&](std::span<const uint8_t> r) {
    if (r.size() >= 4) seen.push_back({{r[1], r[2], r[3]}, turning()});
  };
  ASSERT_TRUE(w.ApplySettings());
  watch_ = {};
  ASSERT_GE(seen.size(), 4u);
  // From the transfer that opens the frame (any transfer may be the one
  // that waits) to the closing command 6 it turns.
  EXPECT_EQ(seen.front().first, (std::vector<uint8_t>{6, 0, 0}));
  EXPECT_EQ(seen.back().first, (std::vector<uint8_t>{6, 1, 0}));
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_TRUE(seen[i].second) << "transfer " << i;
  EXPECT_FALSE(busy->isVisible());
  EXPECT_FALSE(busy->isEnabled());
  EXPECT_NE(busy->Animation->state(), QAbstractAnimation::Running);

  // Without the mouse Apply stops at the warning: the indicator never shows.
  mouse_.unplug();
  bool turnedAtWarning = true;
  SetMessageDialogAnswer([&](const QString&, const QString&, const QString&) {
    turnedAtWarning = busy->isVisible();
    return 1;
  });
  EXPECT_FALSE(w.ApplySettings());
  EXPECT_FALSE(turnedAtWarning);
  EXPECT_FALSE(busy->isVisible());
}

// Apply against a mouse that stops answering at the first transfer (its
// process frozen): the window keeps painting with the indicator turning
// while the transfer waits, then says the mouse does not answer; nothing
// further is sent and the profiles are stored.
TEST_F(MainWindowTest, ApplyToAMouseThatStopsAnsweringKeepsTheWindowLiveAndSaysSo) {
  TMarvaneMain& w = open([](TMOUSECONFIGINFO& c) { c.LEDConfig.G = 66; });
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  TBusyIndicator* busy = w.APPLYAniIndicator;
  std::atomic<bool> frozen{false};
  watch_ = [&](std::span<const uint8_t>) {
    if (!frozen && mouse_.suspend()) frozen = true;
  };
  // Checked on the window's own thread while the frozen mouse keeps a
  // transfer waiting.
  int liveTicks = 0;
  bool turning = true;
  QImage shot;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    if (!frozen) return;
    ++liveTicks;
    turning = turning && busy->isVisible() && busy->Animation->state() == QAbstractAnimation::Running;
    if (shot.isNull()) shot = w.grab().toImage();
  });
  tick.start(20);
  std::vector<QString> said;
  SetMessageDialogAnswer([&](const QString& title, const QString& text, const QString&) {
    said.push_back(title + "|" + text);
    return 1;
  });
  EXPECT_FALSE(w.ApplySettings());
  tick.stop();
  watch_ = {};
  ASSERT_TRUE(frozen);
  ASSERT_TRUE(mouse_.resume());
  EXPECT_GT(liveTicks, 0);
  EXPECT_TRUE(turning);
  EXPECT_FALSE(shot.isNull());
  EXPECT_FALSE(busy->isVisible());
  ASSERT_EQ(said.size(), 1u);
  EXPECT_TRUE(said[0].startsWith("Warning|The mouse does not answer.")) << qPrintable(said[0]);
  // The frame's opening reached the frozen mouse's socket and was never
  // answered; nothing after it was sent.
  EXPECT_LE(mouse_.sentReports().size(), 1u);
  TDM reloaded(TDMEnvironment{store_.get(), program_, base_ + "/Documents"});
  reloaded.InitData();
  EXPECT_EQ(reloaded.FCurrentProfileInfo.ConfigInfo.LEDConfig.G, 66) << "what was stored stays stored";
}

// The skin's cursors as the build renders them: the hand's hot spot at the
// finger tip, the arrow's at its point.
bool isSkinHand(const QCursor& c) { return c.shape() == Qt::BitmapCursor && c.hotSpot() == QPoint(11, 2); }
bool isSkinArrow(const QCursor& c) { return c.shape() == Qt::BitmapCursor && c.hotSpot() == QPoint(2, 2); }

TEST_F(MainWindowTest, SkinCursorsReachEveryWindowOfTheProgram) {
  TMarvaneMain& w = open();
  w.show();
  EXPECT_TRUE(isSkinArrow(w.cursor()));
  EXPECT_TRUE(isSkinHand(w.BSBTNOK->cursor()));
  EXPECT_TRUE(isSkinHand(w.BtnSet[0]->cursor()));

  // A message dialog: its window and its buttons.
  bool checked = false;
  WhenModal<TFrmMessageDialog>([&](TFrmMessageDialog* d) {
    EXPECT_TRUE(isSkinArrow(d->cursor()));
    EXPECT_TRUE(isSkinHand(d->BTNOK->cursor()));
    EXPECT_TRUE(isSkinHand(d->BTNCANCEL->cursor()));
    checked = true;
    d->BTNOK->click();
  });
  ShowMessageDialog("Warning", "Text", QString(), &w);
  EXPECT_TRUE(checked);

  // The PRESET popup menu.
  w.BtnLoadProfile->click();
  QWidget* popup = w.uiMenuEx3->Items().PopupWidget();
  ASSERT_NE(popup, nullptr);
  ASSERT_TRUE(popup->isVisible());
  EXPECT_TRUE(isSkinArrow(popup->cursor()));
  w.uiMenuEx3->Items().CloseAllPopups();

  // The macro manager, opened as the assignment opens it.
  checked = false;
  WhenModal<TFrmMacro>([&](TFrmMacro* f) {
    EXPECT_TRUE(isSkinArrow(f->cursor()));
    EXPECT_TRUE(isSkinHand(f->BtnOK->cursor()));
    EXPECT_TRUE(isSkinHand(f->BSBTNNEWMACRO->cursor()));
    checked = true;
    f->BtnClose->click();
  });
  w.FPlaceButtonTag = 2;
  w.uiMenuEx1ItemsClick(kMenuIdMacroManager);
  EXPECT_TRUE(checked);

  // The help window's links.
  TuiLanguage language(nullptr, program_ + "/none.local");
  THelpForm help(&w, &language, program_, {});
  help.show();
  EXPECT_TRUE(isSkinArrow(help.cursor()));
  EXPECT_TRUE(isSkinHand(help.lbl2983->cursor()));
  EXPECT_TRUE(isSkinHand(help.lblwebsite->cursor()));
}

TEST_F(MainWindowTest, MissingCursorFilesLeaveTheSystemsCursors) {
  QFile::remove(program_ + "/images");
  QFile::remove(program_ + "/Images");
  TMarvaneMain& w = open();
  w.show();
  EXPECT_FALSE(SkinHandCursor().has_value());
  EXPECT_FALSE(SkinArrowCursor().has_value());
  TFrmMessageDialog d(&w);
  d.show();
  EXPECT_EQ(d.cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(d.BTNOK->cursor().shape(), Qt::PointingHandCursor);
  TFrmMacro f(&w);
  f.show();
  EXPECT_EQ(f.BtnOK->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(MainWindowTest, MacroFileThatCannotBeWrittenGivesOneMessageNamingIt) {
  TMarvaneMain& w = open();
  w.show();
  // One macro in the edited profile; its folder's parent does not exist.
  TMACROKEYINFOLIST& macros = dm_->FCurrentProfileInfo.MacroKeyInfoList;
  macros.nMacroInfoCount = 1;
  WriteText(macros.MacroInfos[0].szMacroName, u"Jump");
  WriteText(dm_->FProfileSettingGroup.ProfileSettingList[dm_->ProfileIndex()].MacroFolder,
            (base_ + "/missing/Profile1_Macros").toStdU16String());
  dm_->SaveBackToCurrentProfileInfo();

  std::vector<QStringList> shown;
  SetMessageDialogAnswer([&](const QString& title, const QString& text, const QString& third) {
    shown.push_back({title, text, third});
    return 1;
  });
  WhenModal<TFrmMacro>([](TFrmMacro* f) { f->BtnOK->click(); });
  w.FPlaceButtonTag = 2;
  w.uiMenuEx1ItemsClick(kMenuIdMacroManager);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0][0], "Error");
  EXPECT_TRUE(shown[0][2].startsWith("Jump.macro: ")) << shown[0][2].toStdString();
  // The edited list is kept all the same.
  EXPECT_EQ(dm_->FCurrentProfileInfo.MacroKeyInfoList.nMacroInfoCount, 1);
}

TEST_F(MainWindowTest, SpeedEditsAndDefaultsSetSettingsChanged) {
  using Check = std::function<void(TMarvaneMain&, const TMOUSECONFIGINFO&)>;
  struct Case {
    const char* name;
    std::function<void(TMarvaneMain&)> act;
    Check check;
  } cases[] = {
      {"pointer speed", [](TMarvaneMain& w) { w.TrackBarPointerSpeed->setValue(5); },
       [](TMarvaneMain& w, const TMOUSECONFIGINFO& c) {
         EXPECT_EQ(c.PointerSpeed, 5);
         EXPECT_EQ(w.SystemMouseParams.PointerSpeed, 5);
       }},
      {"enhance pointer precision", [](TMarvaneMain& w) { w.CHKENHANCEPOINTER->click(); },
       [](TMarvaneMain& w, const TMOUSECONFIGINFO& c) {
         EXPECT_EQ(c.PointerAcceleration, w.CHKENHANCEPOINTER->isChecked() ? 1 : 0);
         EXPECT_EQ(w.SystemMouseParams.AccelerationIndex, c.PointerAcceleration);
       }},
      {"double-click bar runs reversed", [](TMarvaneMain& w) { w.TrackBarDoubleClickSpeed->setValue(300); },
       [this](TMarvaneMain&, const TMOUSECONFIGINFO& c) {
         EXPECT_EQ(c.DoubleClickSpeed, 800);
         const auto calls = pointer_.calls();
         ASSERT_EQ(calls.size(), 1u);
         EXPECT_EQ(calls[0], (platform::RecordingPointerSettings::Call{
                                 platform::RecordingPointerSettings::What::DoubleClick, 800}));
       }},
      {"scroll for one page", [](TMarvaneMain& w) { w.RDSCROLLONEPAGE->click(); },
       [](TMarvaneMain& w, const TMOUSECONFIGINFO& c) {
         EXPECT_EQ(c.VWheelSpeed, 20);
         EXPECT_EQ(w.SystemMouseParams.ScrollLines, 20);
         EXPECT_FALSE(w.TRACKBARSCROLLSPEED->isEnabled());
       }},
      {"scroll lines", [](TMarvaneMain& w) { w.TRACKBARSCROLLSPEED->setValue(7); },
       [](TMarvaneMain&, const TMOUSECONFIGINFO& c) { EXPECT_EQ(c.VWheelSpeed, 7); }},
      {"General defaults", [](TMarvaneMain& w) { w.BSBTNSENSDEFAULTS->click(); },
       [](TMarvaneMain&, const TMOUSECONFIGINFO& c) {
         EXPECT_EQ(c.ReportRate, 125);
         EXPECT_EQ(c.ApplyDiffirentXY, 0);
       }},
      {"Light defaults", [](TMarvaneMain& w) { w.BSBTNADVDEFAULTS->click(); },
       [](TMarvaneMain&, const TMOUSECONFIGINFO& c) {
         EXPECT_EQ(c.LEDConfig.R, 255);
         EXPECT_EQ(c.FireKeyCount, 2);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) {
      ci.VWheelSpeed = 3;
      ci.ReportRate = 1000;
      ci.PointerSpeed = 10;
      ci.DoubleClickSpeed = 500;
    });
    ASSERT_FALSE(w.SettingsChanged);
    c.act(w);
    EXPECT_TRUE(w.SettingsChanged);
    c.check(w, stored().ConfigInfo);
    window_.reset();
    pointer_.~RecordingPointerSettings();
    new (&pointer_) platform::RecordingPointerSettings;
  }
}

TEST_F(MainWindowTest, RefreshAfterAProfileSwitchChangesNothing) {
  TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) { ci.LEDConfig.R = 7; });
  struct Case {
    const char* name;
    int profile;
  } cases[] = {{"same profile", 0}, {"profile 3", 2}, {"profile 5", 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(dm_->SwitchToProfile(c.profile));
    config().LEDConfig = {9, 9, 9, 1, 1, 0};  // no swatch
    config().VWheelSpeed = 25;                // shows as one page, stays 25
    config().CPIState[1].X = 1234;            // not a step: stays as typed
    const QByteArray before = profileBytes(dm_->FCurrentProfileInfo);
    ASSERT_TRUE(mouse_.clearLog());
    store_->writes = 0;
    w.RefreshAllViews();
    EXPECT_EQ(profileBytes(dm_->FCurrentProfileInfo), before);
    EXPECT_FALSE(w.SettingsChanged);
    EXPECT_EQ(previews(), 0);
    EXPECT_TRUE(mouse_.sentReports().empty());
    EXPECT_TRUE(pointer_.calls().empty());
    EXPECT_EQ(store_->writes, 0);
    EXPECT_TRUE(w.RDSCROLLONEPAGE->isChecked());
    EXPECT_TRUE(w.BtnProfile[c.profile]->isChecked());
  }
}

// A profile in the data module with a macro list the manager's own rules
// would refuse: a count of 23 for 21 slots and a macro of 200 steps (files
// and stored values like it are refused before they get there; the window
// must still cope). The manager shows the list as the assignment menu and
// the mouse's encoder read it (21 macros, at most 128 steps), and OK keeps
// every macro and the button bound to one.
TEST_F(MainWindowTest, MacroManagerOkKeepsTheMacrosOfADamagedList) {
  TMarvaneMain& w = open();
  w.show();
  auto image = std::make_unique<TMOUSEPROFILEINFO>(stored());
  TMACROKEYINFOLIST& list = image->MacroKeyInfoList;
  for (int i = 0; i < kProfileMacroSlots; ++i) {
    TMACROKEYINFO& m = list.MacroInfos[i];
    std::memset(static_cast<void*>(&m), 0, sizeof m);
    WriteText(m.szMacroName, u"m" + QString::number(i + 1).toStdU16String());
    m.nMacroIndex = uint16_t(i);
    m.MacroListCount = 2;
    m.MacroList[0] = TMACROKEY{kMacroStepKeyboard, kMacroKeyPress, 0x41, 0};
    m.MacroList[1] = TMACROKEY{kMacroStepKeyboard, 0, 0x41, 0};
  }
  list.MacroInfos[3].MacroListCount = 200;
  for (int k = 2; k < kMacroMaxSteps; ++k) list.MacroInfos[3].MacroList[k] = TMACROKEY{kMacroStepDelay, 0, 10, 0};
  list.nMacroInfoCount = 23;
  TBUTTONFUNCINFO& b3 = image->ConfigInfo.ButtonFuncInfo[2];
  b3.FunctionType = kFunctionTypeMacro;
  b3.FunctionIndex = kMacroFunctionIndex;
  b3.FunctionClass = DeviceFunctionTable[kMacroFunctionIndex].FunctionClass;
  b3.MenuId = kMenuIdFirstMacro + 1;
  b3.MacroInfo = list.MacroInfos[1];
  ASSERT_TRUE(dm_->ImportCurrentProfileImage(profileBytes(*image)));
  w.RefreshAllViews();
  ASSERT_EQ(config().ButtonFuncInfo[2].FunctionType, kFunctionTypeMacro);
  ASSERT_EQ(dm_->FCurrentProfileInfo.MacroKeyInfoList.nMacroInfoCount, 23);

  int shown = -1;
  QString selected;
  w.BtnSetClick(2);
  ASSERT_TRUE(w.uiMenuEx1->IsMenuOpen());
  w.uiMenuEx1->CloseMenu();
  WhenModal<TFrmMacro>([&](TFrmMacro* f) {
    shown = f->ListBoxMacroList->count();
    selected = f->TextBoxSelectedMacroName->text();
    f->BtnOK->click();
  });
  w.uiMenuEx1ItemsClick(kMenuIdMacroManager);

  EXPECT_EQ(shown, kProfileMacroSlots);
  EXPECT_EQ(selected, "m2");
  const TMACROKEYINFOLIST& kept = dm_->FCurrentProfileInfo.MacroKeyInfoList;
  ASSERT_EQ(kept.nMacroInfoCount, kProfileMacroSlots);
  for (int i = 0; i < kProfileMacroSlots; ++i)
    EXPECT_EQ(ReadText(kept.MacroInfos[i].szMacroName), u"m" + QString::number(i + 1).toStdU16String()) << i;
  EXPECT_EQ(kept.MacroInfos[3].MacroListCount, kMacroMaxSteps);
  EXPECT_EQ(kept.MacroInfos[0].MacroListCount, 2);
  const TBUTTONFUNCINFO& after = config().ButtonFuncInfo[2];
  EXPECT_EQ(after.FunctionType, kFunctionTypeMacro);
  EXPECT_EQ(after.MenuId, kMenuIdFirstMacro + 1);
  EXPECT_EQ(ReadText(after.MacroInfo.szMacroName), u"m2");
  // And that is what the store holds for the next Apply.
  EXPECT_EQ(stored().MacroKeyInfoList.nMacroInfoCount, kProfileMacroSlots);
}

TEST_F(MainWindowTest, ResetAllAsksThenRestores) {
  for (int answer : {2, 1}) {
    SCOPED_TRACE(answer);
    TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) { ci.CPIState[0].X = 3300; });
    QString third;
    SetMessageDialogAnswer([&](const QString& title, const QString& text, const QString& line) {
      EXPECT_EQ(title, "Reset This Profile");
      EXPECT_EQ(text, "Are you sure you want to reset this profile ?");
      third = line;
      return answer;
    });
    w.BSBTNRESTOREDEFAULTS->click();
    EXPECT_EQ(third, "Reset the current profile back to factory setting.");
    EXPECT_EQ(w.SettingsChanged, answer == 1);
    EXPECT_EQ(stored().ConfigInfo.CPIState[0].X == 3300, answer != 1);
    window_.reset();
  }
}

// --- the settings store at start

TEST_F(MainWindowTest, DamagedStoreIsToldOnceInADialogOverTheWindow) {
  // A store that is no database, as the program's start finds it.
  const QString path = base_ + "/cfg/gaming-mouse/registry.sqlite";
  ASSERT_TRUE(QDir().mkpath(base_ + "/cfg/gaming-mouse"));
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'q'));
  }
  platform::RegistryStoreAtStart opened = platform::openSqliteRegistryStoreAtStart(path);
  ASSERT_FALSE(opened.damagedPath.isEmpty());
  store_ = std::make_unique<CountingStore>(std::move(opened.store));

  struct Shown {
    QString title, text;
    bool windowVisible;
  };
  std::vector<Shown> shown;
  SetMessageDialogAnswer([&](const QString& title, const QString& text, const QString&) {
    shown.push_back({title, text, window_ && window_->isVisible()});
    return 1;
  });
  storeNotice_ = opened.notice;
  TMarvaneMain& w = open();
  QCoreApplication::processEvents();
  EXPECT_TRUE(shown.empty()) << "nothing is said before the window shows";
  w.show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return shown.size() == 1; }, 5000)) << shown.size();
  EXPECT_EQ(shown[0].title, "Warning");
  EXPECT_TRUE(shown[0].text.contains(path)) << shown[0].text.toStdString();
  EXPECT_TRUE(shown[0].text.contains(opened.damagedPath)) << shown[0].text.toStdString();
  EXPECT_TRUE(shown[0].windowVisible);
  // Once: hiding and showing the window again says nothing more.
  w.hide();
  w.show();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(shown.size(), size_t(1));
}

TEST_F(MainWindowTest, ApplyWithAStoreThatCannotBeOpenedSaysWhatWasNotSaved) {
  // The store's folder is a file: nothing can open it, for any user.
  {
    QFile f(base_ + "/cfg");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  const QString path = base_ + "/cfg/gaming-mouse/registry.sqlite";
  platform::RegistryStoreAtStart opened = platform::openSqliteRegistryStoreAtStart(path);
  EXPECT_TRUE(opened.notice.contains("cannot be opened")) << opened.notice.toStdString();
  store_ = std::make_unique<CountingStore>(std::move(opened.store));

  TMarvaneMain& w = open([](TMOUSECONFIGINFO& ci) { ci.CPIState[0].X = 3300; });
  QStringList texts;
  SetMessageDialogAnswer([&](const QString&, const QString& text, const QString&) {
    texts << text;
    return 1;
  });
  EXPECT_FALSE(w.ApplySettings()) << "Apply never reports success when nothing could be stored";
  ASSERT_EQ(texts.size(), 1) << texts.join(" | ").toStdString();
  const QString& said = texts[0];
  // Every value that did not reach the store, by name, once, and why.
  for (const char* value : {"Profile1.pfd", "Profile2.pfd", "Profile3.pfd", "Profile4.pfd", "Profile5.pfd",
                            "ProfileSettingGroup.pfd"})
    EXPECT_EQ(said.count(QString::fromLatin1(value)), 1) << value << " not named once in: " << said.toStdString();
  EXPECT_TRUE(said.contains(path)) << said.toStdString();
  // All of it readable in the dialog that says it.
  TFrmMessageDialog d;
  d.SetTexts(QStringLiteral("Warning"), said, QString());
  const QRect box = d.LabelText->geometry();
  const QRect needed = QFontMetrics(d.LabelText->font())
                           .boundingRect(QRect(0, 0, box.width(), 10000), Qt::AlignCenter | Qt::TextWordWrap, said);
  EXPECT_LE(needed.height(), box.height()) << said.toStdString();
  // The profile files are not among them: they were saved.
  EXPECT_TRUE(QFile::exists(base_ + "/Documents/Profile/Profile1.pfd"));
}

TEST_F(MainWindowTest, LanguageListShowsNativeNamesAndStoresTheChoice) {
  {
    TuiLanguage file(nullptr, program_ + "/none.local");
    file.AddLang("0409");
    file.AddLang("0419");
    ASSERT_TRUE(file.SaveToFile(program_ + "/ui.local"));
  }
  TMarvaneMain& w = open();
  ASSERT_EQ(w.PopBoxLanguage->count(), 2);
  EXPECT_EQ(w.PopBoxLanguage->itemText(1), QString::fromUtf8("Русский"));
  EXPECT_EQ(w.PopBoxLanguage->itemText(0).left(1), w.PopBoxLanguage->itemText(0).left(1).toUpper());
  EXPECT_FALSE(w.SettingsChanged);
  store_->writes = 0;
  quiet();
  w.PopBoxLanguage->setCurrentIndex(1);
  EXPECT_EQ(dm_->FAllProfileSettingInfo.CurrentLanguage, 1);
  EXPECT_EQ(w.uiLanguage1->Lang(), "0419");
  EXPECT_GT(store_->writes, 0);  // stored at once
  EXPECT_TRUE(w.SettingsChanged);
  EXPECT_EQ(previews(), 0);
}

// --- skin

// Rows of `area` in `shot` that hold caption ink (light pixels); the
// pictures under the captions are dark.
std::pair<int, int> InkRows(const QImage& shot, const QRect& area) {
  int top = -1, bottom = -1;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (QColor(shot.pixel(x, y)).lightness() > 150) {
        if (top < 0) top = y;
        bottom = y;
        break;
      }
  return {top, bottom};
}

TEST_F(MainWindowTest, AssignmentCaptionsKeepTheirFontAndLongOnesShowWholeAsTooltip) {
  {
    TuiLanguage file(nullptr, program_ + "/none.local");
    file.AddLang("0409");
    file.AddLang("0419");
    ASSERT_TRUE(file.SaveToFile(program_ + "/ui.local"));
  }
  TMarvaneMain& w = open([](TMOUSECONFIGINFO& c) {
    c.ButtonFuncInfo[2].MenuId = 3;     // "Middle Button"
    c.ButtonFuncInfo[4].MenuId = 1008;  // "Mute(microphone)"
  });
  w.show();
  int shortened = 0;
  for (int language : {0, 1}) {
    SCOPED_TRACE(language == 0 ? "0409" : "0419");
    w.PopBoxLanguage->setCurrentIndex(language);
    TSkinButton* middle = w.BtnSet[2];
    TSkinButton* forward = w.BtnSet[3];
    TSkinButton* mute = w.BtnSet[4];
    ASSERT_EQ(middle->text(), "Middle Button");
    ASSERT_EQ(forward->text(), "Forward");
    ASSERT_EQ(mute->text(), "Mute(microphone)");

    // "Middle Button" is drawn whole, as tall as "Forward": the same font.
    EXPECT_EQ(middle->ShownCaption(), middle->text());
    const auto inkOf = [](TSkinButton* b) {
      return InkRows(b->grab().toImage(), b->rect().marginsRemoved(b->TextMargins));
    };
    const auto middleInk = inkOf(middle), forwardInk = inkOf(forward);
    ASSERT_GE(forwardInk.first, 0);
    EXPECT_EQ(middleInk, forwardInk);
    EXPECT_EQ(inkOf(mute).first, forwardInk.first);

    // A caption wider than its room shows its start and the whole text as
    // the tooltip.
    if (mute->ShownCaption() != mute->text()) {
      ++shortened;
      EXPECT_TRUE(mute->ShownCaption().startsWith("Mute(")) << mute->ShownCaption().toStdString();
      EXPECT_TRUE(mute->ShownCaption().endsWith(QChar(0x2026)));
      QTest::mouseMove(mute);  // the window puts the button's hint (none here) in place
      QHelpEvent help(QEvent::ToolTip, mute->rect().center(), mute->mapToGlobal(mute->rect().center()));
      QApplication::sendEvent(mute, &help);
      EXPECT_EQ(QToolTip::text(), "Mute(microphone)");
      QToolTip::hideText();
    }
  }
  EXPECT_GE(shortened, 1);  // at the larger size it does not fit
}

TEST_F(MainWindowTest, NumberBoxesShowAnUpAndADownArrow) {
  TMarvaneMain& w = open();
  w.show();
  QSpinBox* box = child<QSpinBox>("X2");
  ASSERT_NE(box, nullptr);
  ASSERT_TRUE(box->isVisible());
  const QImage shot = box->grab().toImage();
  QStyleOptionSpinBox option;
  option.initFrom(box);
  option.rect = box->rect();
  option.subControls = QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown | QStyle::SC_SpinBoxFrame;
  option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
  const auto part = [&](QStyle::SubControl sc) {
    return shot.copy(box->style()->subControlRect(QStyle::CC_SpinBox, &option, sc, box));
  };
  const QImage up = part(QStyle::SC_SpinBoxUp), down = part(QStyle::SC_SpinBoxDown);
  ASSERT_FALSE(up.isNull());
  ASSERT_EQ(up.size(), down.size());
  EXPECT_NE(up, down);
  // Each holds an arrow: pixels clearly lighter than its button.
  for (const QImage* image : {&up, &down}) {
    int light = 0;
    for (int y = 0; y < image->height(); ++y)
      for (int x = 0; x < image->width(); ++x) light += QColor(image->pixel(x, y)).lightness() > 150;
    EXPECT_GE(light, 6);
  }
}

// PRESET "Load from file" with files no profile of ours could be: each one
// is refused in the message dialog, which names the file and why, and
// nothing of it reaches the window, the stores or the mouse. A file the
// window itself exported is taken.
TEST_F(MainWindowTest, LoadFromFileRefusesWhatNoProfileHoldsAndSaysWhy) {
  TMarvaneMain& w = open();
  struct Answering : QtFileChooser {
    using QtFileChooser::QtFileChooser;
    QString file;
    QString ChooseOpenFile(const QString&) override { return file; }
    QString ChooseSaveFile(const QString&) override { return file; }
  };
  auto own = std::make_unique<Answering>(&w);
  Answering& chooser = *own;
  w.FileChooser = std::move(own);
  const QString folder = base_ + "/import/";
  ASSERT_TRUE(QDir().mkpath(folder));

  auto image = NewZeroImage<TMOUSEPROFILEINFO>();
  dm_->ReadProfileInfo(*image, 0);
  image->ConfigInfo.CPIState[2].X = 12000;
  QByteArray random(109896, '\0');
  for (int i = 0; i < random.size(); ++i) random[i] = char((i * 2654435761u) >> 24);
  const int32_t version = 258;
  std::memcpy(random.data(), &version, 4);
  struct Case {
    const char* name;
    QByteArray bytes;
    const char* why;
  };
  const Case cases[] = {
      {"empty.pfd", QByteArray(""), "it holds 0 bytes, and a profile holds 109896"},
      {"short.pfd", QByteArray(104, '\x02'), "it holds 104 bytes"},
      {"big.pfd", QByteArray(200 * 1024, '\x7F'), "(ProfileHeader.FFileVersion holds 2139062143)"},
      {"random.pfd", random, "it is not a profile this program can use (ConfigInfo.ButtonFuncInfo[0]."},
      {"level.pfd", profileBytes(*image), "(ConfigInfo.CPIState[2].X holds 12000)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    chooser.file = folder + c.name;
    QFile f(chooser.file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(c.bytes), c.bytes.size());
    f.close();
    const QByteArray before = profileBytes(dm_->FCurrentProfileInfo);
    const QByteArray storedBefore = profileBytes(stored());
    const QString caption = w.BtnSet[0]->text();
    store_->writes = 0;
    quiet();
    std::vector<QString> said;
    SetMessageDialogAnswer([&](const QString& title, const QString& text, const QString&) {
      said.push_back(title + "|" + text);
      return 1;
    });
    w.uiMenuEx3ItemsClick(kMenuIdPresetLoad);
    SetMessageDialogAnswer({});
    ASSERT_EQ(said.size(), 1u);
    EXPECT_TRUE(said[0].startsWith("Warning|The file \"" + QDir::toNativeSeparators(chooser.file) + "\" was not imported: "))
        << qPrintable(said[0]);
    EXPECT_TRUE(said[0].contains(QString::fromLatin1(c.why))) << qPrintable(said[0]);
    EXPECT_EQ(profileBytes(dm_->FCurrentProfileInfo), before);
    EXPECT_EQ(profileBytes(stored()), storedBefore);
    EXPECT_EQ(w.BtnSet[0]->text(), caption);
    EXPECT_FALSE(w.SettingsChanged);
    EXPECT_EQ(store_->writes, 0);
    EXPECT_TRUE(mouse_.sentReports().empty());
  }

  // "Save to file", then "Load from file" of what it wrote: no message, taken.
  chooser.file = folder + "mine.pfd";
  w.uiMenuEx3ItemsClick(kMenuIdPresetSave);
  ASSERT_TRUE(QFile::exists(chooser.file));
  bool anyMessage = false;
  SetMessageDialogAnswer([&](const QString&, const QString&, const QString&) {
    anyMessage = true;
    return 1;
  });
  w.uiMenuEx3ItemsClick(kMenuIdPresetLoad);
  SetMessageDialogAnswer({});
  EXPECT_FALSE(anyMessage);
  EXPECT_TRUE(w.SettingsChanged);
  EXPECT_EQ(dm_->CurrentStore()->FileName(), "mine.pfd");
}

}  // namespace
