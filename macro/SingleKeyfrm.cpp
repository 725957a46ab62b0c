#include "macro/SingleKeyfrm.h"

#include "device/uiKeyCode.h"
#include "macro/KeyCaptureFrame.h"
#include "toolkit/uiLanguage.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>

TFrmSingleKey::TFrmSingleKey(QWidget* parent) : TSkinDialog(parent, kClientWidth, kClientHeight) {
  setObjectName(QStringLiteral("FrmSingleKey"));
  const keycapture::Frame f = keycapture::Build(this, "Edit Single Key...", "it can be any key on the keyboard",
                                                "TextSingle", "Button1", "Button2");
  Label2 = f.title;
  Label1 = f.hint;
  TextSingle = f.box;
  Button1 = f.ok;
  Button2 = f.cancel;
  uiHook = CreateHookSource(this);
  uiHook->OnRecordKeyboardSingleKey = [this](int Key, uint32_t ScanKey, int AState, int AKeyExtended,
                                             const std::string& text, bool& ABlocked) {
    uiHookRecordKeyboardSingleKey(Key, ScanKey, AState, AKeyExtended, text, ABlocked);
  };
}

TFrmSingleKey::~TFrmSingleKey() {
  StopRecording();
  uiHook->OnRecordKeyboardSingleKey = nullptr;
}

void TFrmSingleKey::ShowSingleKeyText() {
  TextSingle->setText(Translate(QString::fromStdString(VKToKeyDescription(FSingleKey.nKeyValue1,
                                                                          FSingleKey.nKey1Extended))));
}

void TFrmSingleKey::uiHookRecordKeyboardSingleKey(int Key, uint32_t, int, int AKeyExtended,
                                                  const std::string& SingleKeyString, bool&) {
  // The last event wins, press or release; nothing is swallowed.
  if (Key < 0 || Key > 0xFFFF) return;
  TextSingle->setText(Translate(QString::fromStdString(SingleKeyString)));
  FSingleKey.nKeyValue1 = static_cast<uint16_t>(Key);
  FSingleKey.nKey1Extended = AKeyExtended ? 1 : 0;
}

void TFrmSingleKey::showEvent(QShowEvent* event) {
  TSkinDialog::showEvent(event);
  if (!FRecording) {
    FRecording = true;
    uiHook->RecordKeyboardSingleKey();
  }
}

void TFrmSingleKey::StopRecording() {
  if (!FRecording) return;
  FRecording = false;
  uiHook->StopRecordKeyboardSingleKey();
}

void TFrmSingleKey::done(int result) {
  StopRecording();
  TSkinDialog::done(result);
}

int ShowSingleKeyDialog(TSINGLEKEYINFO& AKey, QWidget* over) {
  QPointer<TFrmSingleKey> dialog = new TFrmSingleKey(over);
  dialog->FCreateByOther = true;
  dialog->FSingleKey = AKey;
  dialog->ShowSingleKeyText();
  macroskin::CentreOver(dialog, over);
  const int result = dialog->exec();
  if (!dialog) return 2;
  AKey = dialog->FSingleKey;
  delete dialog.data();
  return result == 1 ? 1 : 2;
}
