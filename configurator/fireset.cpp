#include "configurator/fireset.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>

#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/uiLanguage.h"

namespace {

QFont dialogFont(int pixelSize, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

// What the window shows when the skin has no "dlg-back.png".
QImage plainBackground() {
  QImage image(TFrmFire::kClientWidth, TFrmFire::kClientHeight, QImage::Format_ARGB32_Premultiplied);
  image.fill(QColor(0x17, 0x19, 0x1d));
  QPainter p(&image);
  p.fillRect(0, 66, image.width(), 2, QColor(0xe3, 0x26, 0x3a));
  return image;
}

void centreOver(QWidget* dialog, QWidget* over) {
  QRect area;
  if (over) {
    area = over->frameGeometry();
  } else if (QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isValid()) dialog->move(area.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
}

}  // namespace

TFrmFire::TFrmFire(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("FrmFire"));
  setFixedSize(kClientWidth, kClientHeight);

  LabelTitle = new QLabel(this);
  LabelTitle->setObjectName(QStringLiteral("LabelTitle"));
  LabelTitle->setFont(dialogFont(18, true));
  LabelTitle->setStyleSheet(QStringLiteral("color: #ffffff;"));
  LabelTitle->setGeometry(30, 30, 418, 31);
  SetUiText(LabelTitle, QStringLiteral("Fire Settings"));

  auto label = [this](const char* name, const QString& text, QRect where) {
    auto* l = new QLabel(this);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(dialogFont(14, false));
    l->setStyleSheet(QStringLiteral("color: #dde1e6;"));
    l->setGeometry(where);
    SetUiText(l, text);
    return l;
  };
  label("LabelFire", QStringLiteral("Fire:"), QRect(90, 105, 100, 28));
  label("LabelDelay", QStringLiteral("Delay:"), QRect(90, 155, 100, 28));
  label("LabelMs", QStringLiteral("ms"), QRect(320, 155, 60, 28));

  auto numberBox = [this](const char* name, QRect where) {
    auto* box = new QSpinBox(this);
    box->setObjectName(QString::fromLatin1(name));
    box->setRange(1, 255);
    box->setFont(dialogFont(14, false));
    box->setGeometry(where);
    return box;
  };
  NumBoxFire = numberBox("NumBoxFire", QRect(200, 105, 110, 28));
  NumboxDelay = numberBox("NumboxDelay", QRect(200, 155, 110, 28));
  NumboxDelay->setValue(60);

  auto button = [this](const char* name, const QString& text, QRect where) {
    auto* b = new QPushButton(this);
    b->setObjectName(QString::fromLatin1(name));
    b->setFont(dialogFont(13, true));
    b->setGeometry(where);
    b->setCursor(Qt::PointingHandCursor);
    SetUiText(b, text);
    return b;
  };
  BTNOK = button("BTNOK", QStringLiteral("OK"), QRect(247, 240, 80, 24));
  BTNCANCEL = button("BTNCANCEL", QStringLiteral("CANCEL"), QRect(342, 240, 80, 24));
  BTNOK->setDefault(true);
  // The OK button sets the result before its handler runs.
  connect(BTNOK, &QPushButton::clicked, this, [this] {
    setResult(kFireResultOK);
    BTNOKClick();
    done(kFireResultOK);
  });
  connect(BTNCANCEL, &QPushButton::clicked, this, [this] { done(kFireResultCancel); });

  FormCreate();
}

void TFrmFire::FormCreate() {
  ImageMain = plainBackground();
  ImageDataBase().AssignIMAGE(ImageMain, QStringLiteral("dlg-back.png"), QStringLiteral("background"), QString());
}

void TFrmFire::FormShow() {
  if (FFireKeyInfo.nLoopCount != 0) {
    NumBoxFire->setValue(FFireKeyInfo.nLoopCount);   // the box keeps 1..255
    NumboxDelay->setValue(FFireKeyInfo.DelyValue);
  } else {
    NumBoxFire->setValue(2);
    NumboxDelay->setValue(60);
  }
}

void TFrmFire::BTNOKClick() {
  FFireKeyInfo.nLoopCount = static_cast<uint16_t>(NumBoxFire->value());
  FFireKeyInfo.DelyValue = static_cast<uint16_t>(NumboxDelay->value());
}

void TFrmFire::showEvent(QShowEvent* event) {
  FormShow();
  QDialog::showEvent(event);
}

void TFrmFire::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(rect(), ImageMain);
}

int ShowFireKeyDialog(TFIREKEYINFO& AFireKeyInfo, QWidget* over) {
  if (!over) over = QApplication::activeWindow();
  QPointer<TFrmFire> form = new TFrmFire(over);
  form->FCreateByOther = true;
  form->FFireKeyInfo = AFireKeyInfo;
  centreOver(form, over);
  const int result = form->exec();
  // A quit that ends every event loop may have taken the dialog with its
  // owner; then nothing comes back and the answer is CANCEL.
  if (!form) return kFireResultCancel;
  AFireKeyInfo = form->FFireKeyInfo;
  delete form;
  return result == kFireResultOK ? kFireResultOK : kFireResultCancel;
}
