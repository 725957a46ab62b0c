#pragma once
// The single-key capture dialog: while it is on screen, the last keyboard
// event anywhere (press or release) becomes the key it returns.

#include "device/pubunit_quindle.h"
#include "macro/HookSource.h"
#include "macro/MacroSkin.h"

#include <memory>

class QLabel;
class QLineEdit;

class TFrmSingleKey : public TSkinDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 478;
  static constexpr int kClientHeight = 292;

  explicit TFrmSingleKey(QWidget* parent = nullptr);
  ~TFrmSingleKey() override;

  TSINGLEKEYINFO FSingleKey{};
  bool FCreateByOther = false;  // set by the launcher; nothing reads it

  QLabel* Label2 = nullptr;  // title
  QLabel* Label1 = nullptr;  // hint
  QLineEdit* TextSingle = nullptr;
  TBitmapStateButton* Button1 = nullptr;  // OK
  TBitmapStateButton* Button2 = nullptr;  // CANCEL
  std::unique_ptr<THookSource> uiHook;

  void ShowSingleKeyText();
  void uiHookRecordKeyboardSingleKey(int Key, uint32_t ScanKey, int AState, int AKeyExtended,
                                     const std::string& SingleKeyString, bool& ABlocked);
  // Every way of closing ends the recording first.
  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void StopRecording();
  bool FRecording = false;
};

// Copies AKey in, shows the dialog modally, copies the captured key back
// whatever the result. Returns 1 for OK, 2 for Cancel.
int ShowSingleKeyDialog(TSINGLEKEYINFO& AKey, QWidget* over = nullptr);
