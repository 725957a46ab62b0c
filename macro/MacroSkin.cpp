#include "macro/MacroSkin.h"

#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/uiLanguage.h"

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QScreen>

TBitmapStateButton::TBitmapStateButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setFont(macroskin::Font(12));
}

void TBitmapStateButton::SetPictures(const QString& normal, const QString& hot, const QString& pressed,
                                     const QString& subFolder) {
  ImageDataBase().AssignIMAGE(Normal, normal, subFolder, QString());
  ImageDataBase().AssignIMAGE(Hot, hot, subFolder, QString());
  ImageDataBase().AssignIMAGE(Pressed, pressed, subFolder, QString());
  update();
}

void TBitmapStateButton::enterEvent(QEnterEvent* event) {
  FHot = true;
  update();
  QAbstractButton::enterEvent(event);
}

void TBitmapStateButton::leaveEvent(QEvent* event) {
  FHot = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void TBitmapStateButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  const bool down = isDown() || isChecked();
  const QImage& picture = down ? Pressed : (FHot && isEnabled() ? Hot : Normal);
  if (!picture.isNull()) {
    p.drawImage(rect(), picture);
  } else {
    QColor face = down ? QColor(0x8A, 0x14, 0x22) : (FHot ? QColor(0x3A, 0x3F, 0x48) : QColor(0x2A, 0x2E, 0x35));
    p.setPen(QPen(down || FHot ? QColor(0xE3, 0x26, 0x3A) : QColor(0x4A, 0x4E, 0x5A), 1));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
  }
  if (!isEnabled()) p.fillRect(rect(), QColor(0, 0, 0, 110));
  if (!text().isEmpty()) {
    p.setPen(isEnabled() ? QColor(0xF2, 0xF2, 0xF2) : QColor(0x6A, 0x70, 0x7A));
    p.setFont(font());
    p.drawText(rect(), Qt::AlignCenter, text());
  }
}

TSkinDialog::TSkinDialog(QWidget* parent, int width, int height)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setFixedSize(width, height);
  setModal(true);
  ImageMain = macroskin::PlainBackground(width, height);
  // The skin's style file refines this base look when it is present.
  setStyleSheet(QStringLiteral(
                    "QListWidget { background: #101216; color: #dde1e6; border: 1px solid #2a2f37; }"
                    "QListWidget::item:selected { background: #8a1422; color: #ffffff; }"
                    "QListWidget:disabled { color: #5d646f; }"
                    "QLineEdit, QSpinBox { background: #0b0c0f; color: #dde1e6; border: 1px solid #2a2f37; }"
                    "QLineEdit:disabled, QSpinBox:disabled { color: #5d646f; background: #111316; }"
                    "QCheckBox { color: #dde1e6; }") +
                macroskin::MacroStyleSheet());
}

void TSkinDialog::reject() { done(2); }

void TSkinDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.fillRect(rect(), QColor(0x0A, 0x0B, 0x0E));
  p.drawImage(rect().adjusted(BackgroundPadding, BackgroundPadding, -BackgroundPadding, -BackgroundPadding),
              ImageMain);
}

void TSkinDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

namespace macroskin {

QFont Font(int pixelSize, bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Noto Sans CJK SC")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

QLabel* MakeLabel(QWidget* parent, const char* objectName, const QString& caption, const QRect& geometry,
                  int pixelSize, bool bold) {
  auto* label = new QLabel(parent);
  if (objectName) label->setObjectName(QLatin1String(objectName));
  label->setGeometry(geometry);
  label->setFont(Font(pixelSize, bold));
  label->setTextFormat(Qt::PlainText);
  label->setStyleSheet(QStringLiteral("color: #dde1e6; background: transparent;"));
  if (!caption.isEmpty()) SetUiText(label, caption);
  return label;
}

QString MacroStyleSheet() {
  const QString path = ResolveProgramPath(ProgramFolder() + QStringLiteral("/images/uimacro.vgstyle"));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  // A style file is small; anything larger is not ours.
  if (file.size() > 1024 * 1024) return QString();
  return QString::fromUtf8(file.readAll());
}

void CentreOver(QWidget* dialog, QWidget* over) {
  if (!over) over = QApplication::activeWindow();
  QRect area;
  if (over && over != dialog) area = over->frameGeometry();
  else if (QGuiApplication::primaryScreen()) area = QGuiApplication::primaryScreen()->availableGeometry();
  else area = QRect(0, 0, 1024, 768);
  dialog->move(area.center() - QPoint(dialog->width() / 2, dialog->height() / 2));
}

QImage PlainBackground(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&image);
  QLinearGradient body(0, 0, 0, height);
  body.setColorAt(0.0, QColor(0x24, 0x27, 0x2E));
  body.setColorAt(1.0, QColor(0x10, 0x11, 0x15));
  p.fillRect(image.rect(), body);
  p.setPen(QPen(QColor(0xE3, 0x26, 0x3A), 2));
  p.drawLine(0, 1, width, 1);
  p.setPen(QPen(QColor(0x4A, 0x4E, 0x5A), 1));
  p.drawRect(QRect(0, 0, width - 1, height - 1));
  return image;
}

}  // namespace macroskin
