#include "macro/macrocreat.h"

#include "macro/uiMacroClassUnit.h"
#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"

#include "device/uiProfile.h"

#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

TFrmCreat::TFrmCreat(QWidget* parent) : TSkinDialog(parent, kClientWidth, kClientHeight) {
  setObjectName(QStringLiteral("FrmCreat"));
  SetUiText(this, QStringLiteral("Create macro"), "windowTitle");
  BackgroundPadding = 5;

  macroskin::MakeLabel(this, "LabelTitle", QStringLiteral("Create macro"), QRect(55, 35, 368, 31), 21, true)
      ->setAlignment(Qt::AlignCenter);
  macroskin::MakeLabel(this, "LabelName", QStringLiteral("New macro name:"), QRect(65, 110, 348, 24), 16);

  TextboxMacroName = new QLineEdit(this);
  TextboxMacroName->setObjectName(QStringLiteral("TextboxMacroName"));
  TextboxMacroName->setProperty("skinStyle", QStringLiteral("Nametextboxstyle"));
  TextboxMacroName->setGeometry(65, 140, 348, 30);
  TextboxMacroName->setFont(macroskin::Font(14));
  // Longer names are cut to 50 units on OK; the box keeps typing bounded.
  TextboxMacroName->setMaxLength(200);
  connect(TextboxMacroName, &QLineEdit::returnPressed, this, &TFrmCreat::BTNOKClick);

  BTNOK = new TBitmapStateButton(this);
  BTNOK->setObjectName(QStringLiteral("BTNOK"));
  BTNOK->setGeometry(252, 240, 80, 26);
  SetUiText(BTNOK, QStringLiteral("OK"));
  connect(BTNOK, &QAbstractButton::clicked, this, &TFrmCreat::BTNOKClick);

  BTNCANCEL = new TBitmapStateButton(this);
  BTNCANCEL->setObjectName(QStringLiteral("BTNCANCEL"));
  BTNCANCEL->setGeometry(347, 240, 80, 26);
  SetUiText(BTNCANCEL, QStringLiteral("CANCEL"));
  connect(BTNCANCEL, &QAbstractButton::clicked, this, [this] { done(2); });

  LoadImages();
}

void TFrmCreat::LoadImages() {
  ImageDataBase().AssignIMAGE(ImageMain, QStringLiteral("dlg-back.png"), QStringLiteral("background"), QString());
  for (TBitmapStateButton* b : {BTNOK, BTNCANCEL})
    b->SetPictures(QStringLiteral("Button-1.png"), QStringLiteral("Button-2.png"), QStringLiteral("Button-3.png"),
                   QStringLiteral("buttons"));
  update();
}

void TFrmCreat::showEvent(QShowEvent* event) {
  TSkinDialog::showEvent(event);
  // The name box gets the focus; the pointer and the system's foreground
  // setting are left alone.
  activateWindow();
  TextboxMacroName->setFocus(Qt::ActiveWindowFocusReason);
}

void TFrmCreat::BTNOKClick() {
  const std::u16string name = CutMacroName(TextboxMacroName->text().toStdU16String());
  if (!IsValidMacroName(name)) return;
  if (FMacroPath.isEmpty()) {
    ShowMessageDialog(Translate(QStringLiteral("Error")), Translate(QStringLiteral("No macro folder is set.")),
                      QString(), this);
    return;
  }
  const QString folder = AddPathDelimiter(FMacroPath);
  const std::string path = TuiMacroClass::MacroFilePath(folder.toStdString(), name);
  // A file of that name belongs to an existing macro: it stays as it is and
  // the manager selects that macro.
  if (!QFileInfo::exists(QString::fromStdString(path))) {
    TMACROKEYINFO info;
    ZeroImage(info);
    WriteText(info.szMacroName, name);
    info.Version = 258;
    std::string error;
    if (!TuiMacroClass::WriteMacroFile(info, folder.toStdString(), &error)) {
      ShowMessageDialog(Translate(QStringLiteral("Error")), QString::fromStdString(error), QString(), this);
      return;
    }
  }
  FMacroPath = folder;
  FMacroName = QString::fromStdU16String(name);
  done(1);
}

int ShowCreateMacroDialog(QString& AMacroName, const QString& AMacroPath, QWidget* over) {
  QPointer<TFrmCreat> dialog = new TFrmCreat(over);
  dialog->FCreateByOther = true;
  dialog->FMacroPath = AMacroPath;
  macroskin::CentreOver(dialog, over);
  const int result = dialog->exec();
  if (!dialog) return 2;
  AMacroName = dialog->FMacroName;
  delete dialog.data();
  return result == 1 ? 1 : 2;
}
