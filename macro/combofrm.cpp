#include "macro/combofrm.h"

#include "device/uiKeyCode.h"
#include "macro/KeyCaptureFrame.h"
#include "toolkit/uiLanguage.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>

TFrmCombo::TFrmCombo(QWidget* parent) : TSkinDialog(parent, kClientWidth, kClientHeight) {
  setObjectName(QStringLiteral("FrmCombo"));
  const keycapture::Frame f =
      keycapture::Build(this, "Edit Combo Key...", "It can be a Win, Ctrl, Shift, Alt + any of the keyboard keys.",
                        "TextCombo", "BTNOK", "BTNCANCEL");
  Label2 = f.title;
  Label1 = f.hint;
  TextCombo = f.box;
  TextCombo->setFont(macroskin::Font(12, true));
  BTNOK = f.ok;
  BTNCANCEL = f.cancel;
  uiHook = CreateHookSource(this);
  uiHook->OnRecordKeyboardComboKey = [this](int k1, int e1, int k2, int e2, int mod, const std::string& text) {
    uiHookRecordKeyboardComboKey(k1, e1, k2, e2, mod, text);
  };
}

TFrmCombo::~TFrmCombo() {
  StopRecording();
  uiHook->OnRecordKeyboardComboKey = nullptr;
}

void TFrmCombo::ShowComboKeyText() {
  const QString modifiers = QString::fromStdString(ModifierToText(static_cast<uint8_t>(FComboKey.nModifier & 0xFF)));
  const QString first =
      Translate(QString::fromStdString(VKToKeyDescription(FComboKey.nKeyValue1, FComboKey.nKey1Extended)));
  const QString second =
      Translate(QString::fromStdString(VKToKeyDescription(FComboKey.nKeyValue2, FComboKey.nKey2Extended)));
  if (!first.isEmpty()) TextCombo->setText(modifiers + first);
  if (!second.isEmpty()) TextCombo->setText(TextCombo->text() + QStringLiteral("+") + second);
}

void TFrmCombo::uiHookRecordKeyboardComboKey(int Key1, int Key1Extended, int Key2, int Key2Extended, int Modifier,
                                             const std::string& ComboKeyString) {
  auto fits = [](int v) { return v >= 0 && v <= 0xFFFF; };
  if (!fits(Key1) || !fits(Key2) || !fits(Modifier)) return;
  TextCombo->setText(QString::fromStdString(ComboKeyString));
  FComboKey.nKeyValue1 = static_cast<uint16_t>(Key1);
  FComboKey.nKey1Extended = Key1Extended ? 1 : 0;
  FComboKey.nKeyValue2 = static_cast<uint16_t>(Key2);
  FComboKey.nKey2Extended = Key2Extended ? 1 : 0;
  FComboKey.nModifier = static_cast<uint16_t>(Modifier);
}

void TFrmCombo::showEvent(QShowEvent* event) {
  TSkinDialog::showEvent(event);
  if (!FRecording) {
    FRecording = true;
    uiHook->RecordKeyboardComboKey();
  }
}

void TFrmCombo::StopRecording() {
  if (!FRecording) return;
  FRecording = false;
  uiHook->StopRecordKeyboardComboKey();
}

void TFrmCombo::done(int result) {
  StopRecording();
  TSkinDialog::done(result);
}

int ShowComboKeyDialog(TCOMBOKEYINFO& AKey, QWidget* over) {
  QPointer<TFrmCombo> dialog = new TFrmCombo(over);
  dialog->FCreateByOther = true;
  dialog->FComboKey = AKey;
  dialog->ShowComboKeyText();
  macroskin::CentreOver(dialog, over);
  const int result = dialog->exec();
  if (!dialog) return 2;
  AKey = dialog->FComboKey;
  delete dialog.data();
  return result == 1 ? 1 : 2;
}
