// The main window's button column: the assignment of buttons 1..7 and the
// wheel through their menus and dialogs, the mode and profile buttons and
// PRESET.
#include <QFont>
#include <QSignalBlocker>
#include <cstdio>
#include <memory>
#include <utility>

#include "configurator/AssignmentMenus.h"
#include "configurator/MainConfig.h"
#include "configurator/fireset.h"
#include "device/DMUnit.h"
#include "macro/SingleKeyfrm.h"
#include "macro/combofrm.h"
#include "macro/macrofrm.h"
#include "toolkit/QtFileChooser.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiMenuEx.h"

// ---------------------------------------------------------------------------
// Mode and profile buttons (display only)

void TMarvaneMain::uiCommandSetting1Commands3Execute() {
  const bool second = DM().ProfileGroupIndex() == 1;
  SetStyleName(BSBTNMODE1, second ? "MyMODEBtn" : "MyMODEBtnA");
  SetStyleName(BSBTNMODE2, second ? "MyMODEBtnA" : "MyMODEBtn");
  for (int p = 0; p < 5; ++p) {
    const QSignalBlocker block(BtnProfile[p]);
    BtnProfile[p]->setChecked(p == DM().ProfileIndex());
  }
}

// ---------------------------------------------------------------------------
// Button assignment

void TMarvaneMain::CreateMenus() {
  auto menu = [this](const char* name, void (*build)(TuiMenuEx&)) {
    auto* m = new TuiMenuEx(this);
    m->setObjectName(QString::fromLatin1(name));
    build(*m);
    // The skin's dark look; the menu's own defaults paint black text on black.
    TMenuParams& look = m->Parameters();
    look.BGFill = QColor(0x16, 0x18, 0x1c);
    look.ItemNormalFill = QColor(0x16, 0x18, 0x1c);
    look.ItemOverFill = QColor(0xe3, 0x26, 0x3a);
    look.ItemDownFill = QColor(0x7a, 0x14, 0x20);
    look.ItemCheckFill = QColor(0xff, 0xff, 0xff);
    look.ItemExtenderFill = QColor(0xc8, 0xcc, 0xd2);
    look.ItemFontFill = QColor(0xf0, 0xf2, 0xf5);
    look.ItemFont = QFont(QStringLiteral("DejaVu Sans"), 10, QFont::Bold);
    look.BGMargins = QMarginsF(1, 1, 1, 1);
    return m;
  };
  uiMenuEx1 = menu("uiMenuEx1", BuildButtonMenu);
  uiMenuExLRBUTTON = menu("uiMenuExLRBUTTON", BuildMainButtonMenu);
  uiMenuEx2 = menu("uiMenuEx2", BuildWheelMenu);
  uiMenuEx3 = menu("uiMenuEx3", BuildPresetMenu);
  // The choice arrives queued, after every popup of the menu has closed.
  auto report = [this](void (TMarvaneMain::*handler)(int64_t)) {
    return [this, handler](TuiMenuItemEx*, const QString&, uint32_t id, const void*, int) { (this->*handler)(id); };
  };
  uiMenuEx1->OnItemsClick = report(&TMarvaneMain::uiMenuEx1ItemsClick);
  uiMenuExLRBUTTON->OnItemsClick = report(&TMarvaneMain::uiMenuEx1ItemsClick);
  uiMenuEx2->OnItemsClick = report(&TMarvaneMain::uiMenuEx2ItemsClick);
  uiMenuEx3->OnItemsClick = report(&TMarvaneMain::uiMenuEx3ItemsClick);

  AssignmentDialogs = DefaultAssignmentDialogs();
  AssignmentDialogs.SingleKey = [this](TSINGLEKEYINFO& key) { return ShowSingleKeyDialog(key, this); };
  AssignmentDialogs.ComboKey = [this](TCOMBOKEYINFO& key) { return ShowComboKeyDialog(key, this); };
  AssignmentDialogs.FireKey = [this](TFIREKEYINFO& fire) { return ShowFireKeyDialog(fire, this); };
  AssignmentDialogs.MacroManager = [this](TMACROKEYINFOLIST& macros, int& current, const QString& folder) {
    bool needUpdate = false;
    // A file that could not be written has had its message from the manager;
    // the edited list is used all the same.
    return ShowMacroManager(macros, current, folder, needUpdate, this);
  };
  AssignmentDialogs.Message = [this](const QString& title, const QString& text, const QString& third) {
    return ShowMessageDialog(title, text, third, this);
  };
  FileChooser = std::make_unique<QtFileChooser>(this);

  TDeviceSequenceContext context;
  context.DM = FEnv.DM;
  context.Hid = uiHIDData1;
  context.Pointer = FEnv.Pointer;
  context.Message = [this](const QString& title, const QString& text, const QString& third) {
    return ShowMessageDialog(title, text, third, this);
  };
  context.RefreshViews = [this] {
    RebuildMacroMenu(*uiMenuEx1, DM().FCurrentProfileInfo.MacroKeyInfoList);
    RefreshAllViews();
  };
  context.LedPreview = [this] { SendLedPreview(); };
  context.Busy = [this](bool busy) {
    APPLYAniIndicator->setEnabled(busy);
    APPLYAniIndicator->setVisible(busy);
  };
  seq = std::make_unique<TDeviceSequences>(std::move(context));
}

void TMarvaneMain::SetButtonCaptions() {
  if (!uiMenuEx1) return;  // before the menus exist
  // The macro rows first: their IDs shift when the macro list changes.
  RebuildMacroMenu(*uiMenuEx1, DM().FCurrentProfileInfo.MacroKeyInfoList);
  const TButtonCaptions captions = AllCaptions(DM().FCurrentProfileInfo.ConfigInfo, *uiMenuEx1, *uiMenuEx2);
  for (int i = 0; i < kCaptionButtons && i < int(captions.Buttons.size()); ++i) BtnSet[i]->setText(captions.Buttons[i]);
  BtnSet[7]->setText(captions.Wheel[0]);
  BtnSet[8]->setText(captions.Wheel[1]);
}

void TMarvaneMain::uiCommandSetting1Commands0Execute() { SetButtonCaptions(); }

void TMarvaneMain::BtnSetClick(int index) {
  if (DeviceSequenceRunning() || index < 0 || index > 8) return;
  const TMOUSECONFIGINFO& c = DM().FCurrentProfileInfo.ConfigInfo;
  if (index < kCaptionButtons) {
    FPlaceButtonTag = index;
    TuiMenuEx* menu = index < kMainButtonCount ? uiMenuExLRBUTTON : uiMenuEx1;
    menu->ShowMainMenu(c.ButtonFuncInfo[index].MenuId, BtnSet[index], vgPlacementRightCenter);
  } else {
    FPlaceWheelButtonTag = index - kCaptionButtons;
    uiMenuEx2->ShowMainMenu(c.VWheelButtonFuncInfo[FPlaceWheelButtonTag].MenuId, BtnSet[index],
                            vgPlacementRightCenter);
  }
}

void TMarvaneMain::uiMenuEx1ItemsClick(int64_t menuId) {
  if (DeviceSequenceRunning()) return;
  const TAssignOutcome outcome = AssignButtonFunction(DM(), FPlaceButtonTag, menuId, AssignmentDialogs, FCurrentMacro);
  if (outcome.Invalid) {
    std::fprintf(stderr, "Marvane: menu choice %lld for button %d is not an assignment; nothing changed\n",
                 static_cast<long long>(menuId), FPlaceButtonTag + 1);
    return;
  }
  // Also after a cancelled dialog: Cancel then asks, as the user expects.
  SettingsChanged = true;
  SetButtonCaptions();
}

void TMarvaneMain::uiMenuEx2ItemsClick(int64_t menuId) {
  if (DeviceSequenceRunning()) return;
  // Counted as a change, or OK would close without storing the choice.
  if (AssignWheelFunction(DM(), FPlaceWheelButtonTag, menuId)) SettingsChanged = true;
  SetButtonCaptions();
}

void TMarvaneMain::BtnSet1MouseEnter(int index) {
  if (index < 0 || index >= kCaptionButtons) return;
  BtnSet[index]->setToolTip(ButtonHint(DM().FCurrentProfileInfo.ConfigInfo, index));
}

// ---------------------------------------------------------------------------
// Modes, profiles, PRESET

void TMarvaneMain::BSBTNMODE1Click(int g) {
  if (DeviceSequenceRunning() || g < 0 || g > 1) return;
  TSkinButton* clicked = g == 0 ? BSBTNMODE1 : BSBTNMODE2;
  clicked->setEnabled(false);
  SetStyleName(BSBTNMODE1, g == 0 ? "MyMODEBtnA" : "MyMODEBtn");
  SetStyleName(BSBTNMODE2, g == 0 ? "MyMODEBtn" : "MyMODEBtnA");
  seq->SwitchMode(g);
  clicked->setEnabled(true);
  uiCommandSetting1Commands3Execute();  // the buttons show the mode in use, also after a refusal
}

void TMarvaneMain::BtnProfile1Click(int p) {
  if (DeviceSequenceRunning()) {
    uiCommandSetting1Commands3Execute();  // the click is ignored: the pressed button stays
    return;
  }
  if (p < 0 || p > 4) return;
  TSkinButton* clicked = BtnProfile[p];
  clicked->setEnabled(false);
  seq->SwitchProfile(p, SettingsChanged, SystemMouseParams, FPreSavedLedConfig);
  clicked->setEnabled(true);
  uiCommandSetting1Commands3Execute();
}

void TMarvaneMain::BtnLoadProfile1Click() {
  if (DeviceSequenceRunning()) return;
  uiMenuEx3->ShowMainMenu(0, BtnLoadProfile, vgPlacementRightCenter);
}

void TMarvaneMain::uiMenuEx3ItemsClick(int64_t menuId) {
  if (DeviceSequenceRunning()) return;
  seq->PresetMenuClick(menuId, SettingsChanged, *FileChooser, FProfilePath);
}
