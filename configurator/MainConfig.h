#pragma once
// TMarvaneMain: the configurator's one window. Three views of the edited
// profile ("General": DPI levels and report rate; "Light": breathing and
// colour; "Advanced": double-click, pointer and scroll speeds), the button
// assignment, mode and profile buttons, and OK, Cancel, Apply and Reset All.
//
// Every edit changes TDM's edited profile in place and copies it into that
// profile's store (SaveBackToCurrentProfileInfo); nothing reaches the
// settings store, the files or the mouse before Apply, except the LED preview
// (sent at once for every light change) and the double-click time (given to
// the desktop at once).
//
// The window's members are defined in MainConfig.cpp (creation, start-up,
// lifecycle, Reset All, Apply) and, view by view, in MainConfigGeneralView.cpp,
// MainConfigLightView.cpp, MainConfigAdvancedView.cpp and
// MainConfigButtonColumn.cpp (assignment, modes, profiles, PRESET).
#include <QImage>
#include <QMargins>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "configurator/ButtonAssignment.h"
#include "configurator/DeviceSequences.h"
#include "device/pubunit_quindle.h"
#include "device/uiCommandSetting.h"
#include "toolkit/SkinWidgets.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QRadioButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QTimer;
class QVariantAnimation;
class TDM;
class TProfileFileChooser;
class TuiHIDData;
class TuiHIDEvent;
class TuiLanguage;
class TuiMenuEx;
namespace platform {
class HidBackend;
class HidDeviceNotifier;
class PointerSettings;
}  // namespace platform

// What the window works with; tests build one in temporary folders.
struct TMarvaneEnvironment {
  TDM* DM = nullptr;                                      // not owned; created before the window
  std::shared_ptr<platform::HidBackend> HidBackend;       // the road to the mouse
  std::unique_ptr<platform::HidDeviceNotifier> Notifier;  // arrival events; may be null
  platform::PointerSettings* Pointer = nullptr;           // not owned; may be null
  QString ProgramFolder;                                  // skin, config.ini, ui.local, cursors
  QString LanguageFile;                                   // empty: ProgramFolder + "/ui.local"
  // Message 7036: end the program (default: every event loop of the
  // application ends, modal ones included).
  std::function<void()> Terminate;
  // Start-up: bring the monitor forward or start it (default: through the
  // message layer and the program launcher).
  std::function<void()> StartMonitor;
  // What opening the settings store found (a damaged store set aside, or a
  // store that cannot be opened): told once, in a message dialog over the
  // window once it shows. Empty: nothing to tell.
  QString StoreNotice;
};

class TMarvaneMain : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWidth = 801;
  static constexpr int kHeight = 638;

  explicit TMarvaneMain(TMarvaneEnvironment env, QWidget* parent = nullptr);
  ~TMarvaneMain() override;

  // A message from the other program (7036, 7037, 7038); the result goes
  // back to a `send`.
  std::int64_t HandleMessage(std::uint32_t message, std::int64_t wParam, std::int64_t lParam);

  // --- state shared with the assignment, Apply and switching handlers
  bool FInitlizing = false;
  bool SettingsChanged = false;
  int SelectedCpiLevel = 0;
  TDesktopMouseParams SystemMouseParams;
  int FPlaceButtonTag = 0;
  int FPlaceWheelButtonTag = 0;
  int FCurrentMacro = 0;
  QString FProfilePath, FMacroPath;
  TLEDCONFIG FPreSavedLedConfig{};
  QStringList FMacroFolderList;

  struct TLevelControls {
    QPushButton* Button = nullptr;
    QSpinBox* X = nullptr;
    QSpinBox* Y = nullptr;
    QSpinBox* XY = nullptr;
  };
  std::array<TLevelControls, 4> LevelControlTable{};
  std::array<TLevelControls, 4> FCPI_NBOX_INFO{};
  std::array<QPushButton*, 10> FConfigButtonSet{};
  std::array<QPushButton*, 10> FWheelConfigButtonSet{};
  struct TLightColor {
    uint32_t Color = 0;  // ARGB, alpha 255
    QPushButton* Swatch = nullptr;
  };
  std::array<TLightColor, 6> FLight_Colors{};

  // --- controls (objectName = the field name)
  TSkinButton *BtnClose = nullptr, *BSBTNMIN = nullptr, *BSBTNHELP = nullptr;
  QComboBox* PopBoxLanguage = nullptr;
  std::array<TSkinButton*, 9> BtnSet{};  // BtnSet1 .. BtnSet8, Btnset9
  TSkinButton *BSBTNMODE1 = nullptr, *BSBTNMODE2 = nullptr;
  std::array<TSkinButton*, 5> BtnProfile{};
  TSkinButton* BtnLoadProfile = nullptr;
  TSkinButton *BSBTNAPPLY = nullptr, *BSBTNCANCEL = nullptr, *BSBTNOK = nullptr, *BSBTNRESTOREDEFAULTS = nullptr;
  TBusyIndicator* APPLYAniIndicator = nullptr;
  QProgressBar* ProgressBarTime = nullptr;
  QTabWidget* TabControlMain = nullptr;
  QWidget *Layout1 = nullptr, *Layout2 = nullptr, *Layout3 = nullptr;
  QTimer* Timer2 = nullptr;
  TuiHIDData* uiHIDData1 = nullptr;
  TuiHIDEvent* uiHIDEvent1 = nullptr;
  TuiLanguage* uiLanguage1 = nullptr;
  TuiCommandSetting uiCommandSetting1;
  // The assignment menus and the PRESET menu.
  TuiMenuEx *uiMenuEx1 = nullptr, *uiMenuExLRBUTTON = nullptr, *uiMenuEx2 = nullptr, *uiMenuEx3 = nullptr;
  // Apply, the mode and profile switches and PRESET; holds LastProfileArg.
  std::unique_ptr<TDeviceSequences> seq;
  // The key, combination, fire-key, macro-manager and message dialogs of the
  // assignment (tests put their own in).
  TAssignmentDialogs AssignmentDialogs;
  // The profile-file dialogs of PRESET (tests put their own in).
  std::unique_ptr<TProfileFileChooser> FileChooser;
  // General
  QSlider *TrackBarCPIX = nullptr, *TrackBarCPIY = nullptr;
  QCheckBox *CHKApplyDiffirentXY = nullptr, *CHKAPPLYSETTINGEACHPROFILE = nullptr, *CHKApplyAccelaration = nullptr;
  QRadioButton *RD125HZ = nullptr, *RD250HZ = nullptr, *RD500HZ = nullptr, *RD1000HZ = nullptr;
  TSkinButton* BSBTNSENSDEFAULTS = nullptr;
  // Light
  QRadioButton *rlow = nullptr, *rMedium = nullptr, *rHigh = nullptr, *rClose = nullptr;
  QLabel* ImageLightColor = nullptr;
  TSkinButton* BSBTNADVDEFAULTS = nullptr;
  QRadioButton *RDLIGHTOFF = nullptr, *RDLIGHTON = nullptr;
  QSlider* TrackBarLIGHTSPEED = nullptr;
  QSpinBox *NBFIRECOUNT = nullptr, *NBFireDelay = nullptr;
  // Advanced
  QSlider *TrackBarDoubleClickSpeed = nullptr, *TrackBarPointerSpeed = nullptr, *TRACKBARSCROLLSPEED = nullptr;
  QCheckBox* CHKENHANCEPOINTER = nullptr;
  QRadioButton *RDSCROLL = nullptr, *RDSCROLLONEPAGE = nullptr;
  TRotatingImage* imageTest = nullptr;

  // --- handlers of the window's lifecycle
  void FormCreate();
  void BtnCloseClick();
  void BSBTNMINClick();
  void BSBTNHELPClick();
  void BSBTNOKClick();
  void BSBTNCANCELClick();
  void Timer2Timer();
  void uiHIDEvent1DeviceArrival();
  void WMCloseConfig();
  void WMLanguageChanged();
  void WMReloadCurrentProfile();
  void ApplyLanguage();

  // --- the views
  void DOCpiValueChangeEvent(QSpinBox* box);
  void X1Click(int tag);
  void DODPIStateValueChangedEvent(int tag);
  void TrackBarCPIXChange(QSlider* bar);
  void DOCpiAdvanceItemChangeEvent(QObject* sender);
  void DoReportRateAndLightChangeEvent(QObject* sender);
  void DOLightColorSelectionEvent(int tag);
  void DOSpeedValueChangedEvent(QObject* sender);
  void BSBTNSENSDEFAULTSClick();
  void BSBTNADVDEFAULTSClick();
  void BSBTNRESTOREDEFAULTSClick();
  void PopBoxLanguageChange(int itemIndex);
  void imageTestDblClick();
  void FillLanguageList();
  void SendLedPreview();
  // Runs the view-refresh commands in their order.
  void RefreshAllViews();

  // The refresh commands.
  void uiCommandSetting1Commands0Execute();  // SetButton
  void uiCommandSetting1Commands1Execute();  // SetCPI
  void uiCommandSetting1Commands2Execute();  // SetMouseParam
  void uiCommandSetting1Commands3Execute();  // SetProfileBtn
  void uiCommandSetting1Commands4Execute();  // SetReport

  // --- button assignment, Apply, mode and profile switches, PRESET. While a
  // device sequence runs these return at once.
  void BtnSetClick(int index);
  void uiMenuEx1ItemsClick(int64_t menuId);  // uiMenuEx1 and uiMenuExLRBUTTON
  void uiMenuEx2ItemsClick(int64_t menuId);
  void uiMenuEx3ItemsClick(int64_t menuId);
  void BtnSet1MouseEnter(int index);
  void BSBTNMODE1Click(int tag);
  void BtnProfile1Click(int tag);
  void BtnLoadProfile1Click();
  void BSBTNAPPLYClick();
  // True when the mouse was present and everything was stored and written.
  virtual bool ApplySettings();

  TDM& DM() const { return *FEnv.DM; }
  const QString& ProgramFolder() const { return FEnv.ProgramFolder; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  void CreateGeneralView();
  void CreateLightView();
  void CreateAdvancedView();
  void LoadSkin();
  void LoadCursors();
  void ShowLevels();
  void SetCpiTrackBars(int level);
  void HighlightLevel(int level);
  void ShowReportAndLight();
  // The current-colour picture in `argb`; swatch `swatch` checked, -1: none.
  void ShowLightColor(uint32_t argb, int swatch);
  void ShowSpeeds();
  void SetStyleName(QWidget* w, const char* style);
  // A skin button of the window: named, placed, never taking the focus, its
  // caption (when one is given) translated.
  TSkinButton* NewSkinButton(QWidget* parent, const char* name, const QString& text, QRect where);
  void SetFontSize(QWidget* w, int pointSize);
  void PumpMessages();
  void PumpMessagesAndSleep(int ms);
  void CreateMenus();
  void SetButtonCaptions();

  TMarvaneEnvironment FEnv;
  QImage FBackground;
  QPoint FDragOffset;
  bool FDragging = false;
  QButtonGroup *FReportGroup = nullptr, *FBreathGroup = nullptr, *FLightGroup = nullptr, *FScrollGroup = nullptr;
};
