#include "macro/KeyCaptureFrame.h"

#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/uiLanguage.h"

#include <QLabel>
#include <QLineEdit>

namespace keycapture {

Frame Build(TSkinDialog* dialog, const char* title, const char* hint, const char* boxName, const char* okName,
            const char* cancelName) {
  dialog->BackgroundPadding = 5;
  ImageDataBase().AssignIMAGE(dialog->ImageMain, QStringLiteral("dlg-back.png"), QStringLiteral("background"),
                              QString());
  Frame f{};
  f.title = macroskin::MakeLabel(dialog, "Label2", QLatin1String(title), QRect(55, 35, 368, 31), 18, true);
  f.title->setAlignment(Qt::AlignCenter);
  f.hint = macroskin::MakeLabel(dialog, "Label1", QLatin1String(hint), QRect(45, 96, 388, 36), 13);
  f.hint->setAlignment(Qt::AlignCenter);
  f.hint->setWordWrap(true);
  f.box = new QLineEdit(dialog);
  f.box->setObjectName(QLatin1String(boxName));
  f.box->setProperty("skinStyle", QStringLiteral("KEYINPUTBOX"));
  f.box->setGeometry(65, 148, 348, 34);
  f.box->setReadOnly(true);
  f.box->setAlignment(Qt::AlignCenter);
  // Keys typed here belong to the capture, not to the box.
  f.box->setFocusPolicy(Qt::NoFocus);
  f.box->setFont(macroskin::Font(14, true));
  auto button = [dialog](const char* name, const char* caption, int x, int result) {
    auto* b = new TBitmapStateButton(dialog);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, 240, 80, 26);
    b->SetPictures(QStringLiteral("Button-1.png"), QStringLiteral("Button-2.png"), QStringLiteral("Button-3.png"),
                   QStringLiteral("buttons"));
    SetUiText(b, QLatin1String(caption));
    QObject::connect(b, &QAbstractButton::clicked, dialog, [dialog, result] { dialog->done(result); });
    return b;
  };
  f.ok = button(okName, "OK", 252, 1);
  f.cancel = button(cancelName, "CANCEL", 347, 2);
  return f;
}

}  // namespace keycapture
