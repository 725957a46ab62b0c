#include "toolkit/SkinWidgets.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>
#include <QVariantAnimation>

#include "toolkit/ImageDataBaseUnit.h"

void TSkinButton::AssignPictures(const QString& normal, const QString& hotAndPressed) {
  const QString sub = QStringLiteral("Buttons");
  ImageDataBase().AssignIMAGE(PictureNormal, normal, sub, QString());
  ImageDataBase().AssignIMAGE(PictureHot, hotAndPressed, sub, QString());
  ImageDataBase().AssignIMAGE(PicturePressed, hotAndPressed, sub, QString());
  update();
}

void TSkinButton::paintEvent(QPaintEvent* event) {
  if (PictureNormal.isNull()) {
    QPushButton::paintEvent(event);
    return;
  }
  QPainter p(this);
  const QImage* picture = &PictureNormal;
  if ((isDown() || isChecked()) && !PicturePressed.isNull())
    picture = &PicturePressed;
  else if (underMouse() && isEnabled() && !PictureHot.isNull())
    picture = &PictureHot;
  p.drawImage(rect(), *picture);
  p.setFont(font());
  p.setPen(isEnabled() ? palette().color(QPalette::ButtonText) : QColor(0x5d, 0x64, 0x6f));
  p.drawText(rect().marginsRemoved(TextMargins), Qt::AlignCenter, ShownCaption());
}

QString TSkinButton::ShownCaption() const {
  // Every caption keeps the button's font; one wider than the room between
  // the picture's bar and arrow ends in "…" and shows whole as a tooltip.
  return fontMetrics().elidedText(text(), Qt::ElideRight, rect().marginsRemoved(TextMargins).width());
}

bool TSkinButton::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip && toolTip().isEmpty() && ShownCaption() != text()) {
    QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
    return true;
  }
  return QPushButton::event(event);
}

TRotatingImage::TRotatingImage(QWidget* parent) : QWidget(parent) {
  Animation = new QVariantAnimation(this);
  Animation->setStartValue(0.0);
  Animation->setEndValue(360.0);
  Animation->setDuration(1200);
  connect(Animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
    RotateAngle = v.toDouble();
    update();
  });
}

void TRotatingImage::paintEvent(QPaintEvent*) {
  if (Picture.isNull()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.translate(width() / 2.0, height() / 2.0);
  p.rotate(RotateAngle);
  p.translate(-width() / 2.0, -height() / 2.0);
  p.drawImage(rect(), Picture);
}

void TRotatingImage::mouseDoubleClickEvent(QMouseEvent*) { emit doubleClicked(); }

TBusyIndicator::TBusyIndicator(QWidget* parent) : TRotatingImage(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  Animation->setDuration(900);
  Animation->setLoopCount(-1);
}

void TBusyIndicator::showEvent(QShowEvent*) { Animation->start(); }

void TBusyIndicator::hideEvent(QHideEvent*) {
  Animation->stop();
  RotateAngle = 0;
}

void TBusyIndicator::paintEvent(QPaintEvent* event) {
  if (!Picture.isNull()) {
    TRotatingImage::paintEvent(event);
    return;
  }
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF ring = QRectF(rect()).adjusted(5, 5, -5, -5);
  p.setPen(QPen(QColor(0x2c, 0x31, 0x38), 3));
  p.drawEllipse(ring);
  p.setPen(QPen(QColor(0xff, 0x3b, 0x4f), 3, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(ring, int(-RotateAngle * 16), 90 * 16);
}
