#include "configurator/MainConfig.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <utility>

#include "configurator/HelpUnit.h"
#include "configurator/MainConfigViews.h"
#include "device/DMUnit.h"
#include "device/uiHIDData.h"
#include "device/uiHIDEvent.h"
#include "platform/MessageChannel.h"
#include "platform/ProgramLauncher.h"
#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/QtFileChooser.h"
#include "toolkit/SkinCursors.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"

using namespace mainconfig;

namespace {

// The free bold sans font of the skin in place of the commercial one.
QString fontRule(int pointSize, bool bold) {
  return QStringLiteral("font-family: \"DejaVu Sans\"; font-size: %1pt;%2")
      .arg(pointSize)
      .arg(bold ? QStringLiteral(" font-weight: bold;") : QString());
}

// A fixed text field of a record, up to its first null (or its end).
template <size_t N>
QString fixedString(const char16_t (&field)[N]) {
  size_t n = 0;
  while (n < N && field[n] != 0) ++n;
  return QString::fromUtf16(field, static_cast<qsizetype>(n));
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation

TMarvaneMain::TMarvaneMain(TMarvaneEnvironment env, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), FEnv(std::move(env)) {
  setObjectName(QStringLiteral("MarvaneMain"));
  setFixedSize(kWidth, kHeight);
  if (FEnv.ProgramFolder.isEmpty()) FEnv.ProgramFolder = QCoreApplication::applicationDirPath();
  if (FEnv.LanguageFile.isEmpty()) FEnv.LanguageFile = QDir(FEnv.ProgramFolder).filePath(QStringLiteral("ui.local"));
  if (!FEnv.Terminate) FEnv.Terminate = [] { QCoreApplication::exit(0); };
  if (!FEnv.StartMonitor) {
    const QString folder = FEnv.ProgramFolder;
    FEnv.StartMonitor = [folder] {
      if (platform::find(platform::kMonitorClass))
        platform::post(platform::kMonitorClass, platform::WM_ACTIVATE_WINDOW);
      else
        platform::startProgram("tessold.exe", folder);
    };
  }
  // Centred on the desktop.
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));

  uiHIDData1 = new TuiHIDData(this, FEnv.HidBackend, QDir(FEnv.ProgramFolder).filePath(QStringLiteral("config.ini")));
  uiHIDEvent1 = new TuiHIDEvent(this, std::move(FEnv.Notifier));
  uiHIDEvent1->OnDeviceArrival = [this](auto&&...) { uiHIDEvent1DeviceArrival(); };
  uiLanguage1 = new TuiLanguage(this, FEnv.LanguageFile);
  if (!uiLanguage1->parent()) uiLanguage1->setParent(this);  // freed with the window

  // The view-refresh commands, in this order; SetLED has no handler.
  const std::pair<const char*, std::function<void()>> commands[] = {
      {"SetButton", [this] { uiCommandSetting1Commands0Execute(); }},
      {"SetCPI", [this] { uiCommandSetting1Commands1Execute(); }},
      {"SetMouseParam", [this] { uiCommandSetting1Commands2Execute(); }},
      {"SetProfileBtn", [this] { uiCommandSetting1Commands3Execute(); }},
      {"SetReport", [this] { uiCommandSetting1Commands4Execute(); }},
      {"SetLED", nullptr},
  };
  for (const auto& [name, run] : commands) {
    TuiCommand& c = uiCommandSetting1.Commands().Add();
    c.Name = QString::fromLatin1(name);
    if (run) c.OnExecute = [run](TuiGetSet, void*, uint32_t) { run(); };
  }

  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(500);
  connect(Timer2, &QTimer::timeout, this, &TMarvaneMain::Timer2Timer);

  CreateControls();
  FormCreate();
}

TMarvaneMain::~TMarvaneMain() = default;

void TMarvaneMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FEnv.StoreNotice.isEmpty()) return;
  // After the window is on screen, so the dialog has it to stand over; taken
  // out first, so it is said once however often the window shows.
  QMetaObject::invokeMethod(
      this,
      [this, notice = std::exchange(FEnv.StoreNotice, QString())] {
        ShowMessageDialog(Translate(QStringLiteral("Warning")), notice, QString(), this);
      },
      Qt::QueuedConnection);
}

void TMarvaneMain::SetStyleName(QWidget* w, const char* style) {
  if (w->property("skinStyle").toString() == QLatin1String(style)) return;
  w->setProperty("skinStyle", QString::fromLatin1(style));
  w->style()->unpolish(w);
  w->style()->polish(w);
  w->update();
}

void TMarvaneMain::SetFontSize(QWidget* w, int pointSize) {
  w->setStyleSheet(fontRule(pointSize, true) + QStringLiteral(" padding: 0px 2px;"));
}

TSkinButton* TMarvaneMain::NewSkinButton(QWidget* parent, const char* name, const QString& text, QRect where) {
  auto* b = new TSkinButton(parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(where);
  b->setFocusPolicy(Qt::NoFocus);
  if (!text.isEmpty()) SetUiText(b, text);
  return b;
}

void TMarvaneMain::CreateControls() {
  auto* title = new QLabel(this);
  title->setObjectName(QStringLiteral("LabelTitle"));
  title->setGeometry(300, 12, 200, 30);
  title->setAlignment(Qt::AlignCenter);
  title->setStyleSheet(fontRule(12, true) + QStringLiteral(" color: #ffffff;"));
  SetUiText(title, QStringLiteral("Gaming Mouse Config"));

  BSBTNHELP = NewSkinButton(this, "BSBTNHELP", QString(), QRect(705, 16, 24, 24));
  BSBTNHELP->hide();
  BSBTNMIN = NewSkinButton(this, "BSBTNMIN", QString(), QRect(735, 16, 24, 24));
  BtnClose = NewSkinButton(this, "BtnClose", QString(), QRect(765, 16, 24, 24));
  connect(BSBTNHELP, &QPushButton::clicked, this, &TMarvaneMain::BSBTNHELPClick);
  connect(BSBTNMIN, &QPushButton::clicked, this, &TMarvaneMain::BSBTNMINClick);
  connect(BtnClose, &QPushButton::clicked, this, &TMarvaneMain::BtnCloseClick);

  PopBoxLanguage = new QComboBox(this);
  PopBoxLanguage->setObjectName(QStringLiteral("PopBoxLanguage"));
  PopBoxLanguage->setGeometry(560, 20, 130, 22);
  PopBoxLanguage->hide();
  PopBoxLanguage->installEventFilter(this);
  connect(PopBoxLanguage, &QComboBox::currentIndexChanged, this, &TMarvaneMain::PopBoxLanguageChange);

  // Button assignment: buttons 1..7 and the two wheel directions.
  for (int i = 0; i < 9; ++i) {
    const QString name = i == 8 ? QStringLiteral("Btnset9") : QStringLiteral("BtnSet%1").arg(i + 1);
    auto* b = NewSkinButton(this, name.toLatin1().constData(), QStringLiteral("%1.Default").arg(i + 1),
                         QRect(30, 84 + i * 46, 150, 28));
    b->setProperty("tag", i < 7 ? i : i - 7);
    SetStyleName(b, "MyButtonSetStyle");
    b->TextMargins = QMargins(9, 0, 15, 0);
    BtnSet[i] = b;
    connect(b, &QPushButton::clicked, this, [this, i] { BtnSetClick(i); });
  }

  // Modes and profiles.
  BSBTNMODE1 = NewSkinButton(this, "BSBTNMODE1", QStringLiteral("Mode 1"), QRect(20, 539, 88, 30));
  BSBTNMODE2 = NewSkinButton(this, "BSBTNMODE2", QStringLiteral("Mode 2"), QRect(112, 539, 88, 30));
  BSBTNMODE1->setProperty("tag", 0);
  BSBTNMODE2->setProperty("tag", 1);
  connect(BSBTNMODE1, &QPushButton::clicked, this, [this] { BSBTNMODE1Click(0); });
  connect(BSBTNMODE2, &QPushButton::clicked, this, [this] { BSBTNMODE1Click(1); });
  for (int p = 0; p < 5; ++p) {
    auto* b = NewSkinButton(this, QStringLiteral("BtnProfile%1").arg(p + 1).toLatin1().constData(),
                         QStringLiteral("PROFILE%1").arg(p + 1), QRect(206 + p * 116, 539, 104, 30));
    b->setCheckable(true);  // stays pressed
    b->setProperty("tag", p);
    BtnProfile[p] = b;
    connect(b, &QPushButton::clicked, this, [this, p] { BtnProfile1Click(p); });
  }
  BtnLoadProfile = NewSkinButton(this, "BtnLoadProfile", QStringLiteral("PRESET"), QRect(20, 597, 104, 30));
  connect(BtnLoadProfile, &QPushButton::clicked, this, &TMarvaneMain::BtnLoadProfile1Click);

  // Footer.
  BSBTNRESTOREDEFAULTS = NewSkinButton(this, "BSBTNRESTOREDEFAULTS", QStringLiteral("Reset All"), QRect(380, 598, 96, 28));
  BSBTNAPPLY = NewSkinButton(this, "BSBTNAPPLY", QStringLiteral("Apply"), QRect(482, 598, 96, 28));
  BSBTNOK = NewSkinButton(this, "BSBTNOK", QStringLiteral("OK"), QRect(584, 598, 96, 28));
  BSBTNCANCEL = NewSkinButton(this, "BSBTNCANCEL", QStringLiteral("Cancel"), QRect(686, 598, 96, 28));
  for (auto* b : {BSBTNRESTOREDEFAULTS, BSBTNAPPLY, BSBTNOK, BSBTNCANCEL}) SetStyleName(b, "MyMAINOKButtonStyle");
  connect(BSBTNRESTOREDEFAULTS, &QPushButton::clicked, this, &TMarvaneMain::BSBTNRESTOREDEFAULTSClick);
  connect(BSBTNAPPLY, &QPushButton::clicked, this, &TMarvaneMain::BSBTNAPPLYClick);
  connect(BSBTNOK, &QPushButton::clicked, this, &TMarvaneMain::BSBTNOKClick);
  connect(BSBTNCANCEL, &QPushButton::clicked, this, &TMarvaneMain::BSBTNCANCELClick);

  APPLYAniIndicator = new TBusyIndicator(this);
  APPLYAniIndicator->setObjectName(QStringLiteral("APPLYAniIndicator"));
  APPLYAniIndicator->setGeometry(200, 598, 28, 28);
  APPLYAniIndicator->hide();
  APPLYAniIndicator->setEnabled(false);
  ProgressBarTime = new QProgressBar(this);
  ProgressBarTime->setObjectName(QStringLiteral("ProgressBarTime"));
  ProgressBarTime->setRange(0, 100);
  ProgressBarTime->setGeometry(240, 604, 120, 16);
  ProgressBarTime->hide();

  // The three views.
  TabControlMain = new QTabWidget(this);
  TabControlMain->setObjectName(QStringLiteral("TabControlMain"));
  TabControlMain->setGeometry(356, 68, 431, 454);
  TabControlMain->tabBar()->setFocusPolicy(Qt::NoFocus);
  Layout1 = new QWidget;
  Layout1->setObjectName(QStringLiteral("Layout1"));
  Layout2 = new QWidget;
  Layout2->setObjectName(QStringLiteral("Layout2"));
  Layout3 = new QWidget;
  Layout3->setObjectName(QStringLiteral("Layout3"));
  TabControlMain->addTab(Layout1, QString());
  TabControlMain->addTab(Layout2, QString());
  TabControlMain->addTab(Layout3, QString());
  CreateGeneralView();
  CreateLightView();
  CreateAdvancedView();
}
// ---------------------------------------------------------------------------
// Start-up

void TMarvaneMain::LoadSkin() {
  const QDir folder(FEnv.ProgramFolder);
  const QString styleFile = ResolveProgramPath(folder.filePath(QStringLiteral("images/ui.vgstyle")), FEnv.ProgramFolder);
  QFile style(styleFile);
  if (style.open(QIODevice::ReadOnly | QIODevice::Text) && style.size() < (4 << 20))
    setStyleSheet(QString::fromUtf8(style.readAll()));
  const QString icon = ResolveProgramPath(folder.filePath(QStringLiteral("images/0409/icons/logo.ico")), FEnv.ProgramFolder);
  if (QFileInfo(icon).isFile()) {
    const QIcon appIcon(icon);
    if (!appIcon.isNull()) {
      QApplication::setWindowIcon(appIcon);
      setWindowIcon(appIcon);
    }
  }

  // The pictures come through the one image cache, rooted in this program folder.
  const QString base = folder.filePath(QStringLiteral("Images/0409"));
  if (QDir::cleanPath(ImageDataBase().ImageDBPath()) != QDir::cleanPath(base)) ImageDataBase().SetImageBasePath(base);
  QImage back(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  back.fill(QColor(0x0e, 0x10, 0x13));
  ImageDataBase().AssignIMAGE(back, QStringLiteral("cfgMainback.png"), QStringLiteral("background"), QString());
  FBackground = back;
  ImageDataBase().AssignIMAGE(imageTest->Picture, QStringLiteral("DB-CLICK-TEST-AREA.png"), QStringLiteral("background"), QString());
  for (TSkinButton* b : BtnProfile) b->AssignPictures(QStringLiteral("ProfileButton-1.png"), QStringLiteral("ProfileButton-2.png"));
  BtnLoadProfile->AssignPictures(QStringLiteral("ProfileButton-1.png"), QStringLiteral("ProfileButton-2.png"));
  for (TSkinButton* b : BtnSet) {
    b->AssignPictures(QStringLiteral("ButtonAssign-1.png"), QStringLiteral("ButtonAssign-2.png"));
    SetFontSize(b, 11);
  }
  ImageDataBase().AssignIMAGE(imageTest->Picture, QStringLiteral("db-click-back.png"), QStringLiteral("background"), QString());
  for (TSkinButton* b : {BSBTNOK, BSBTNCANCEL, BSBTNAPPLY, BSBTNRESTOREDEFAULTS, BSBTNSENSDEFAULTS, BSBTNADVDEFAULTS})
    b->AssignPictures(QStringLiteral("ok-1.png"), QStringLiteral("ok-2.png"));
  BSBTNMIN->AssignPictures(QStringLiteral("min-1.png"), QStringLiteral("min-2.png"));
  BtnClose->AssignPictures(QStringLiteral("Close-1.png"), QStringLiteral("Close-2.png"));
  BSBTNHELP->AssignPictures(QStringLiteral("help-1.png"), QStringLiteral("help-2.png"));
  ImageDataBase().AssignIMAGE(APPLYAniIndicator->Picture, QStringLiteral("busy.png"), QStringLiteral("controls"),
                              QString());
  for (QWidget* w : std::initializer_list<QWidget*>{BtnProfile[0], BtnProfile[1], BtnProfile[2], BtnProfile[3],
                                                     BtnProfile[4], BtnLoadProfile, BSBTNMODE1, BSBTNMODE2})
    SetFontSize(w, 11);
}

void TMarvaneMain::LoadCursors() {
  const QDir folder(FEnv.ProgramFolder);
  InstallSkinCursors(ResolveProgramPath(folder.filePath(QStringLiteral("images/hand.cur")), FEnv.ProgramFolder),
                     ResolveProgramPath(folder.filePath(QStringLiteral("images/attack.cur")), FEnv.ProgramFolder));
}

void TMarvaneMain::FormCreate() {
  CreateMenus();  // before the language: applying it refreshes the captions
  LoadSkin();                                                     // 1
  FInitlizing = true;                                             // 2
  for (int i = 0; i < 4; ++i) {                                   // 3
    FCPI_NBOX_INFO[i] = LevelControlTable[i];
    FLight_Colors[i].Color = kSwatchColors[i];
  }
  for (int i = 0; i < 7; ++i) {
    FConfigButtonSet[i] = BtnSet[i];
    BtnSet[i]->setToolTipDuration(-1);
    BtnSet[i]->installEventFilter(this);  // the hint follows the assignment on mouse enter
  }
  FWheelConfigButtonSet[0] = BtnSet[7];
  FWheelConfigButtonSet[1] = BtnSet[8];
  for (int i = 0; i < 6; ++i) {
    FLight_Colors[i].Color = kSwatchColors[i];
    FLight_Colors[i].Swatch = findChild<QPushButton*>(QStringLiteral("C%1").arg(i + 1));
  }
  FillLanguageList();                                             // 4
  ApplyLanguage();
  FMacroFolderList.clear();                                       // 5
  FCurrentMacro = 0;
  TabControlMain->setCurrentIndex(0);                             // 6
  const TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;  // 7
  SystemMouseParams = {c.PointerSpeed, c.VWheelSpeed, c.PointerAcceleration};
  const int p = DM().ProfileIndex();                              // 8
  if (TDM::IsProfileIndexInRange(p)) {
    FProfilePath = fixedString(DM().FProfileSettingGroup.ProfileSettingList[p].FileFolder);
    FMacroPath = fixedString(DM().FProfileSettingGroup.ProfileSettingList[p].MacroFolder);
  }
  RefreshAllViews();                                              // 9
  LoadCursors();                                                  // 10
  SettingsChanged = false;                                        // 11
  FPreSavedLedConfig = DM().FCurrentProfileInfo.ConfigInfo.LEDConfig;  // 12
  FInitlizing = false;                                            // 13
  SelectedCpiLevel = 0;
  FEnv.StartMonitor();                                            // 14
}

void TMarvaneMain::RefreshAllViews() {
  // The record and size do not matter to the window's commands.
  uiCommandSetting1.SetData(&DM().FProfileSettingGroup, sizeof(DM().FProfileSettingGroup));
}

void TMarvaneMain::FillLanguageList() {
  const QSignalBlocker block(PopBoxLanguage);
  PopBoxLanguage->clear();
  for (int i = 0; i < int(uiLanguage1->Resources.size()); ++i) {
    const TLocaleInfo* locale = FindLocale(uiLanguage1->Resources[i].Name);
    if (!locale) continue;
    QString name = QString::fromUtf16(locale->NativeName);
    // First letter upper-cased by Unicode rules ("Русский").
    if (!name.isEmpty()) name = name.left(1).toUpper() + name.mid(1);
    PopBoxLanguage->addItem(name, i);
  }
}

void TMarvaneMain::ApplyLanguage() {
  const int wanted = DM().FAllProfileSettingInfo.CurrentLanguage;
  const int count = int(uiLanguage1->Resources.size());
  if (wanted >= 0 && wanted < count && uiLanguage1->GetLanguageIndexByShortID(uiLanguage1->Lang()) != wanted)
    uiLanguage1->SetLang(uiLanguage1->GetLanguageShortIDByIndex(wanted));
  {
    const QSignalBlocker block(PopBoxLanguage);
    const int item = PopBoxLanguage->findData(wanted);
    PopBoxLanguage->setCurrentIndex(item >= 0 ? item : (PopBoxLanguage->count() > 0 ? 0 : -1));
  }
  const QString lang = uiLanguage1->Lang();
  int groupSize = 0, assignSize = 0;
  if (lang == QLatin1String("0409")) {
    groupSize = 11;
    assignSize = 11;
  } else if (lang == QLatin1String("0419")) {
    groupSize = 9;
    assignSize = 10;
  }
  if (groupSize) {
    for (QWidget* w : std::initializer_list<QWidget*>{BtnProfile[0], BtnProfile[1], BtnProfile[2], BtnProfile[3],
                                                       BtnProfile[4], BtnLoadProfile, BSBTNMODE1, BSBTNMODE2})
      SetFontSize(w, groupSize);
    TabControlMain->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { %1 }").arg(fontRule(groupSize, true)));
    for (TSkinButton* b : BtnSet) SetFontSize(b, assignSize);
  }
  SetUiText(TabControlMain, QString());  // keeps the tab texts below in the language walk
  TabControlMain->setTabText(0, Translate(QStringLiteral("General")));
  TabControlMain->setTabText(1, Translate(QStringLiteral("Light")));
  TabControlMain->setTabText(2, Translate(QStringLiteral("Advanced")));
  const QString title = Translate(QStringLiteral("Gaming Mouse Config"));
  QGuiApplication::setApplicationDisplayName(title);
  setWindowTitle(title);
  uiCommandSetting1Commands0Execute();
}

// ---------------------------------------------------------------------------
// Window lifecycle

void TMarvaneMain::BtnCloseClick() { close(); }

void TMarvaneMain::BSBTNMINClick() {
  // Queued, so the click finishes before the window goes away.
  QMetaObject::invokeMethod(this, &QWidget::showMinimized, Qt::QueuedConnection);
}

void TMarvaneMain::BSBTNHELPClick() {
  ShowHelpForm(*uiLanguage1, FEnv.ProgramFolder, DM().FOtherConfig.HelpFile, this);
}

void TMarvaneMain::BSBTNOKClick() {
  BSBTNOK->setEnabled(false);
  if (SettingsChanged && ApplySettings())
    Timer2->start();
  else
    close();
  BSBTNOK->setEnabled(true);
}

void TMarvaneMain::BSBTNCANCELClick() {
  if (SettingsChanged) {
    const int answer = ShowMessageDialog(Translate(QStringLiteral("Warning")),
                                         Translate(QStringLiteral("The settings was changed, save the current setting anyway?")),
                                         QString(), this);
    if (answer == kMessageDialogOK) {
      TStoreStatus saved = DM().SaveBackAllProfileSettingInfo();
      saved.Merge(DM().SaveCurrentProfileInfoToRegistry());
      saved.Merge(DM().SaveBackAllProfileInfo());
      saved.Merge(DM().SaveBackAllProfileInfoToFile());
      // A profile switch is one of the changes asked about: its binding of
      // the profile to the mode in use is kept too.
      saved.Merge(DM().SaveProfileGroupSettingInfoToRegistry());
      if (!saved) {
        // The window closes all the same; the user is told what was not kept.
        ShowMessageDialog(Translate(QStringLiteral("Warning")), saved.Summary(), QString(), this);
      }
    }
  }
  close();
}

void TMarvaneMain::Timer2Timer() {
  if (!ProgressBarTime->isVisible()) {
    close();
    Timer2->stop();
  }
}

void TMarvaneMain::uiHIDEvent1DeviceArrival() { BSBTNAPPLY->setEnabled(true); }

void TMarvaneMain::WMCloseConfig() { FEnv.Terminate(); }

void TMarvaneMain::WMLanguageChanged() { ApplyLanguage(); }

void TMarvaneMain::WMReloadCurrentProfile() {
  const TStoreStatus status = DM().LoadCurrentProfileInfoFromRegistry();
  if (!status.Ok)
    std::fprintf(stderr, "Marvane: reloading the current profile failed: %s\n", qPrintable(status.Error));
  // Loaded or not, the working copy is now the current profile's: the views
  // show it, so that the next Apply stores what the window shows. Showing
  // them is not an edit.
  const bool was = FInitlizing;
  FInitlizing = true;
  RefreshAllViews();
  FInitlizing = was;
}

std::int64_t TMarvaneMain::HandleMessage(std::uint32_t message, std::int64_t, std::int64_t) {
  switch (message) {
    case platform::WM_CLOSE_CONFIG: WMCloseConfig(); break;
    case platform::WM_LANGUAGE_CHANGED: WMLanguageChanged(); break;
    case platform::WM_RELOAD_CURRENT_PROFILE: WMReloadCurrentProfile(); break;
    default: break;
  }
  return 0;
}

bool TMarvaneMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Enter)
    for (int i = 0; i < 7; ++i)
      if (watched == BtnSet[i]) BtnSet1MouseEnter(i);
  if (watched == PopBoxLanguage && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease))
    return true;  // every key is swallowed
  if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::FocusIn) {
    for (int i = 0; i < 4; ++i) {
      for (QSpinBox* box : {LevelControlTable[i].X, LevelControlTable[i].Y}) {
        if (box && (watched == box || watched->parent() == box)) {
          if (SelectedCpiLevel != i || event->type() == QEvent::MouseButtonPress) X1Click(i);
          return false;
        }
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TMarvaneMain::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(rect(), FBackground);
}

// The window has no frame: the top bar moves it.
void TMarvaneMain::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && event->position().y() < 56) {
    FDragging = true;
    FDragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
  }
}

void TMarvaneMain::mouseMoveEvent(QMouseEvent* event) {
  if (FDragging) move(event->globalPosition().toPoint() - FDragOffset);
}

void TMarvaneMain::mouseReleaseEvent(QMouseEvent*) { FDragging = false; }

void TMarvaneMain::PumpMessages() { QCoreApplication::processEvents(); }

void TMarvaneMain::PumpMessagesAndSleep(int ms) {
  QCoreApplication::processEvents();
  QThread::msleep(static_cast<unsigned long>(ms));
}

// ---------------------------------------------------------------------------
// Reset All, language

void TMarvaneMain::BSBTNRESTOREDEFAULTSClick() {
  if (DeviceSequenceRunning()) return;
  const int answer = ShowMessageDialog(Translate(QStringLiteral("Reset This Profile")),
                                       Translate(QStringLiteral("Are you sure you want to reset this profile ?")),
                                       Translate(QStringLiteral("Reset the current profile back to factory setting.")), this);
  if (answer != kMessageDialogOK) return;
  DM().RestoreCurrentProfileInfoToDefault();
  FPreSavedLedConfig = DM().FCurrentProfileInfo.ConfigInfo.LEDConfig;
  RefreshAllViews();  // the macro menu is rebuilt by the SetButton command
  SettingsChanged = true;
}

void TMarvaneMain::PopBoxLanguageChange(int itemIndex) {
  if (itemIndex < 0) return;
  const int language = PopBoxLanguage->itemData(itemIndex).toInt();
  uiLanguage1->SetLang(uiLanguage1->GetLanguageShortIDByIndex(language));
  DM().FAllProfileSettingInfo.CurrentLanguage = language;
  DM().SaveBackAllProfileSettingInfo();
  ApplyLanguage();
  platform::send(platform::kMonitorClass, platform::WM_LANGUAGE_CHANGED, 0, 0);
  SettingsChanged = true;
}

// ---------------------------------------------------------------------------
// Apply

void TMarvaneMain::BSBTNAPPLYClick() {
  if (DeviceSequenceRunning()) return;
  BSBTNAPPLY->setEnabled(false);
  ApplySettings();
  BSBTNAPPLY->setEnabled(true);
}

bool TMarvaneMain::ApplySettings() {
  if (DeviceSequenceRunning()) return false;
  return seq->ApplySettings(SettingsChanged, SystemMouseParams, FPreSavedLedConfig);
}
