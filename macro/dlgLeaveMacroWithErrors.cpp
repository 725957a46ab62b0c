#include "macro/dlgLeaveMacroWithErrors.h"

#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/uiLanguage.h"

#include <QLabel>
#include <QPointer>

TDlgLeaveMacroWithErrorsForm::TDlgLeaveMacroWithErrorsForm(QWidget* parent)
    : TSkinDialog(parent, kClientWidth, kClientHeight) {
  setObjectName(QStringLiteral("DlgLeaveMacroWithErrorsForm"));
  ImageDataBase().AssignIMAGE(ImageMain, QStringLiteral("dlg-back.png"), QStringLiteral("background"), QString());

  RectTop = new QWidget(this);
  RectTop->setObjectName(QStringLiteral("RectTop"));
  RectTop->setGeometry(0, 0, kClientWidth, 34);
  BitmapStateButton1 = new TBitmapStateButton(RectTop);
  BitmapStateButton1->setObjectName(QStringLiteral("BitmapStateButton1"));
  BitmapStateButton1->setGeometry(kClientWidth - 32, 6, 24, 24);
  BitmapStateButton1->SetPictures(QStringLiteral("Close-1.png"), QStringLiteral("Close-2.png"),
                                  QStringLiteral("Close-2.png"), QStringLiteral("Buttons"));
  connect(BitmapStateButton1, &QAbstractButton::clicked, this, [this] { done(2); });

  auto button = [this](const char* name, const char* caption, int x, int result) {
    auto* b = new TBitmapStateButton(this);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, 168, 80, 26);
    b->SetPictures(QStringLiteral("Button-1.png"), QStringLiteral("Button-2.png"), QStringLiteral("Button-3.png"),
                   QStringLiteral("buttons"));
    SetUiText(b, QLatin1String(caption));
    connect(b, &QAbstractButton::clicked, this, [this, result] { done(result); });
    return b;
  };
  Button1 = button("Button1", "OK", 246, 1);
  Button2 = button("Button2", "CANCEL", 342, 2);

  LabelTitle = macroskin::MakeLabel(this, "LabelTitle", QString(), QRect(40, 40, 372, 28), 16, true);
  LabelText = macroskin::MakeLabel(this, "LabelText", QString(), QRect(40, 80, 372, 40), 13);
  LabelText1 = macroskin::MakeLabel(this, "LabelText1", QString(), QRect(40, 124, 372, 20), 12);
  for (QLabel* l : {LabelTitle, LabelText, LabelText1}) l->hide();
}

int ShowLeaveMacroWithErrorsDialog(const QString& ATitle, const QString& AText, const QString& AText1,
                                   QWidget* over) {
  QPointer<TDlgLeaveMacroWithErrorsForm> dialog = new TDlgLeaveMacroWithErrorsForm(over);
  dialog->FCreateByOther = true;
  dialog->LabelTitle->setText(ATitle);
  dialog->LabelText->setText(AText);
  dialog->LabelText1->setText(AText1);
  macroskin::CentreOver(dialog, over);
  const int result = dialog->exec();
  delete dialog.data();
  return result == 1 ? 1 : 2;
}
