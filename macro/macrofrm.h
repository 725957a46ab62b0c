#pragma once
// The macro manager: the modal window in which the user keeps the macros of
// the edited profile, records them with their delays, corrects delays and
// sets loop counts. It edits its own copy of the macro list; the launcher
// copies it out and writes the macro files on OK.

#include "device/pubunit_quindle.h"
#include "macro/HookSource.h"
#include "macro/MacroSkin.h"
#include "macro/uiMacroClassUnit.h"

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QSpinBox;
class TuiMenuEx;

class TFrmMacro : public TSkinDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 765;
  static constexpr int kClientHeight = 665;
  static constexpr int kMaxRecordRows = 126;  // rows shown live and steps made from one recording

  // Item data of the action rows.
  static constexpr int kStepRole = Qt::UserRole;         // index of the row's step, -1 for a live row
  static constexpr int kBindingRole = Qt::UserRole + 1;  // "Delay", "KeyDown", "KeyUp", "Mouse", "MouseUp"

  explicit TFrmMacro(QWidget* parent = nullptr);
  ~TFrmMacro() override;

  std::unique_ptr<TuiMacroClass> FMacroClass;
  QString FMacroPath;
  bool FNeedUpdate = false;
  bool FCreateByOther = false;  // set by the launcher; nothing reads it

  // Controls, named as their objectName.
  TBitmapStateButton* BtnMin = nullptr;
  TBitmapStateButton* BtnClose = nullptr;
  QLineEdit* TextBoxSelectedMacroName = nullptr;
  TBitmapStateButton* BSBTNNEWMACRO = nullptr;
  TBitmapStateButton* BSBTNDELETEMACRO = nullptr;
  TBitmapStateButton* IMGMACROLISTSCROLLUP = nullptr;
  TBitmapStateButton* IMGMACROLISTSCROLLDOWN = nullptr;
  QListWidget* ListBoxMacroList = nullptr;
  QCheckBox* BtnAutoDelay = nullptr;
  QCheckBox* BtnCustomDelay = nullptr;
  QSpinBox* NumBoxDelay = nullptr;
  QCheckBox* BtnMacroLoop = nullptr;
  QSpinBox* BoxMacroLoop = nullptr;
  TBitmapStateButton* BtnMacroStart = nullptr;
  TBitmapStateButton* BtnMacroStop = nullptr;
  QListWidget* ListBoxMacroKey = nullptr;
  QSpinBox* TextEditDelay = nullptr;
  QLabel* LabelAllDelayTime = nullptr;
  QLabel* lableTotalActions = nullptr;
  QWidget* LayoutActionsFull = nullptr;
  TBitmapStateButton* BtnCANCEL = nullptr;
  TBitmapStateButton* BtnOK = nullptr;
  std::unique_ptr<THookSource> uiHook1;
  TuiMenuEx* uiMenuMacro = nullptr;      // Rename, Up, Down
  TuiMenuEx* uiMenuMacroList = nullptr;  // Insert, Delete, Up, Down, Copy, Cut, Paste

  void FillMacroList();
  void ShowMacroActions();
  void RefreshMacroActions();
  void UpdateTotals();
  void UpdateErrorIcon(int AIndex);
  void UpdateAllErrorIcons();

  void BtnOKClick();
  void BtnCancelClick();
  void BtnMinClick();
  void BSBTNNEWMACROClick();
  void BSBTNDELETEMACROClick();
  void AddOrSelectMacro(const QString& AName);
  void ListBoxMacroListChange();
  void ListBoxMacroKeyChange();
  void ListBoxMacroKeyDblClick();
  void BtnAutoDelayClick();
  void BtnCustomDelayMouseUp();
  void BtnMacroLoopMouseUp();
  void ApplyLoopValue();
  void CommitDelayEdit();
  void CommitRename();
  void StartRename();
  // Puts a macro's name into the "Select:" box, its start in view.
  void ShowSelectedMacroName(const QString& name);
  void uiMenuMacroItemsClick(uint32_t AMenuItemID);
  void uiMenuMacroListItemsClick(uint32_t AMenuItemID);

  // Recording.
  void BtnMacroStopClick(int ATag);
  void StartInsertRecording();
  void StopRecording();
  void SetEditControlsEnabled(bool AValue);
  void uiHook1RecordKeyboardMacroKeyEx(int AState, uint32_t TotalTime, const QString& MacroKeyString);
  void uiHook1StopRecordKeyboardMacroKey(const TMacroKeyHookList& KeyList);
  bool MacroRecording() const { return FMacroRecording; }

  // Stops a running recording, then closes.
  void done(int result) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LoadSkin();
  void addActionRow(int at, const char* binding, const QString& text, int step);
  void selectActionRow();
  int selectedStep() const;
  void scrollMacroList(int direction);

  bool FMacroRecording = false;
  int FMacroRecordMode = 0;  // 0 replaces the steps, 2 inserts after the selected step
  int FRecordRowIndex = 0;
  int FInsertRowIndex = 0;
  int FEditedDelayStep = -1;
  QImage FFlagDown, FFlagUp, FFlagDelay;
};

// Shows the macro manager over `over` with a copy of the list, the macro to
// select and the macro folder. AMacroIndex receives the macro selected last
// on every result; on OK (1) the list receives the edited macros and every
// macro is written to "<folder>/<name>.macro". A failed write is shown in
// one message naming the file; AWriteError receives the error (empty when
// all were written) and the edited list is returned all the same. Returns
// 1 for OK, 2 for Cancel or close.
int ShowMacroManager(TMACROKEYINFOLIST& AMacroList, int& AMacroIndex, const QString& AMacroPath, bool& ANeedUpdate,
                     QWidget* over = nullptr, QString* AWriteError = nullptr);
