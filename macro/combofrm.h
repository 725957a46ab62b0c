#pragma once
// The combo-key capture dialog: modifiers and one or two keys pressed
// within the hook's combination window become the combination it returns.

#include "device/pubunit_quindle.h"
#include "macro/HookSource.h"
#include "macro/MacroSkin.h"

#include <memory>

class QLabel;
class QLineEdit;

class TFrmCombo : public TSkinDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 478;
  static constexpr int kClientHeight = 292;

  explicit TFrmCombo(QWidget* parent = nullptr);
  ~TFrmCombo() override;

  TCOMBOKEYINFO FComboKey{};
  bool FCreateByOther = false;  // set by the launcher; nothing reads it

  QLabel* Label2 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* TextCombo = nullptr;
  TBitmapStateButton* BTNOK = nullptr;
  TBitmapStateButton* BTNCANCEL = nullptr;
  std::unique_ptr<THookSource> uiHook;

  void ShowComboKeyText();
  void uiHookRecordKeyboardComboKey(int Key1, int Key1Extended, int Key2, int Key2Extended, int Modifier,
                                    const std::string& ComboKeyString);
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void StopRecording();
  bool FRecording = false;
};

int ShowComboKeyDialog(TCOMBOKEYINFO& AKey, QWidget* over = nullptr);
