#include "toolkit/dialogmessage.h"

#include "toolkit/ImageDataBaseUnit.h"
#include "toolkit/uiLanguage.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace {

MessageDialogAnswer& answerHook() {
  static MessageDialogAnswer hook;
  return hook;
}

// The background sits 5 px inside the window; every position below is
// relative to the background picture.
constexpr int kPad = 5;
constexpr QColor kAccent{0xE8, 0x45, 0x2C};
constexpr QColor kGlow{0xFE, 0x86, 0x5F};
constexpr QRect kMessageBox(90, 101, 363, 43);
constexpr QRect kThirdLineBox(105, 150, 300, 18);
constexpr QRect kOkBox(247, 240, 80, 20);
constexpr QRect kCancelBox(342, 240, 80, 20);
constexpr QRect kWarningBox(42, 115, 50, 50);
// A window grown for a long message repeats this row of the background
// picture (inside the message panel, above the button strip) to fill the
// extra height; the picture itself is never scaled.
constexpr int kStretchRow = 150;

QFont uiFont(int pixelSize, bool bold = false) {
  QFont font;
  font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Noto Sans CJK SC")});
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

// The background used when the skin has no "dlg-back.png".
QImage defaultBackground() {
  QImage image(478, 292, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(0.5, 0.5, 477, 291);

  QLinearGradient body(0, 0, 0, 292);
  body.setColorAt(0.0, QColor(0x2A, 0x2D, 0x35));
  body.setColorAt(0.25, QColor(0x1C, 0x1E, 0x24));
  body.setColorAt(1.0, QColor(0x0F, 0x10, 0x14));
  p.fillRect(image.rect(), body);

  // Title band with an accent rule under it.
  QLinearGradient band(0, 0, 0, 62);
  band.setColorAt(0.0, QColor(255, 255, 255, 18));
  band.setColorAt(1.0, QColor(255, 255, 255, 0));
  p.fillRect(QRect(0, 0, 478, 62), band);
  QLinearGradient rule(0, 0, 478, 0);
  rule.setColorAt(0.0, QColor(0, 0, 0, 0));
  rule.setColorAt(0.2, kAccent);
  rule.setColorAt(0.5, kGlow);
  rule.setColorAt(0.8, kAccent);
  rule.setColorAt(1.0, QColor(0, 0, 0, 0));
  p.fillRect(QRectF(0, 64, 478, 2), rule);

  // Angled corner marks.
  p.setPen(QPen(kAccent, 2));
  p.drawLine(QPointF(8, 24), QPointF(24, 8));
  p.drawLine(QPointF(8, 34), QPointF(34, 8));
  p.drawLine(QPointF(470, 268), QPointF(444, 284));
  p.drawLine(QPointF(470, 258), QPointF(434, 284));

  // Button strip.
  p.fillRect(QRect(12, 228, 454, 44), QColor(0, 0, 0, 70));
  p.setPen(QPen(QColor(255, 255, 255, 20), 1));
  p.drawLine(QPointF(12, 228.5), QPointF(466, 228.5));

  // Frame.
  p.setPen(QPen(QColor(0x4A, 0x4E, 0x5A), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(r);
  p.setPen(QPen(QColor(255, 255, 255, 14), 1));
  p.drawRect(r.adjusted(1, 1, -1, -1));
  return image;
}

// The warning sign beside the message, 61 x 54.
QImage warningPicture() {
  QImage image(61, 54, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath triangle;
  triangle.moveTo(30.5, 3);
  triangle.lineTo(58, 51);
  triangle.lineTo(3, 51);
  triangle.closeSubpath();
  QLinearGradient fill(0, 0, 0, 54);
  fill.setColorAt(0.0, QColor(0xFF, 0xC0, 0x4D));
  fill.setColorAt(1.0, kAccent);
  p.setPen(QPen(QColor(0xFF, 0xE0, 0xA0), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(fill);
  p.drawPath(triangle);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x15, 0x16, 0x1A));
  p.drawRoundedRect(QRectF(27.5, 17, 6, 21), 3, 3);
  p.drawEllipse(QRectF(27.5, 41, 6, 6));
  return image;
}

const char kButtonStyle[] =
    "QPushButton { color: #f2f2f2; border: 1px solid #e8452c; border-radius: 3px;"
    " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #3b3f4a, stop:1 #22252c);"
    " padding: 0px; }"
    "QPushButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
    " stop:0 #565b68, stop:1 #2e323b); border-color: #fe865f; }"
    "QPushButton:pressed { background: #e8452c; color: #ffffff; }";

}  // namespace

TFrmMessageDialog::TFrmMessageDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("FrmMessageDialog"));
  setFixedSize(kClientWidth, kClientHeight);
  setModal(true);

  ImageMain = defaultBackground();
  IMGWARNING = warningPicture();

  auto makeLabel = [this](const char* name, QRect geometry, QFont font, const char* color) {
    auto* label = new QLabel(this);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry.translated(kPad, kPad));
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(QStringLiteral("color: %1; background: transparent;").arg(QLatin1String(color)));
    return label;
  };
  // Below the 25 px top strip (5 px from the top), 50 px in from both sides.
  LabelTitle = makeLabel("LabelTitle", QRect(50, 30, 378, 31), uiFont(16, true), "#ffffff");
  LabelText = makeLabel("LabelText", kMessageBox, uiFont(15), "#e4e6eb");
  LabelText->setWordWrap(true);
  LabelText1 = makeLabel("LabelText1", kThirdLineBox, uiFont(12), "#fe865f");

  auto makeButton = [this](const char* name, const char* caption, QRect geometry, int result) {
    auto* button = new QPushButton(this);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry.translated(kPad, kPad));
    button->setFont(uiFont(13));
    button->setStyleSheet(QLatin1String(kButtonStyle));
    // No default button and no focus: Enter and Space do nothing here.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    SetUiText(button, QLatin1String(caption));
    connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
    return button;
  };
  BTNOK = makeButton("BTNOK", "OK", kOkBox, kMessageDialogOK);
  BTNCANCEL = makeButton("BTNCANCEL", "CANCEL", kCancelBox, kMessageDialogCancel);

  LoadImages();
}

void TFrmMessageDialog::LoadImages() {
  ImageDataBase().AssignIMAGE(ImageMain, QStringLiteral("dlg-back.png"),
                              QStringLiteral("background"), QString());
  update();
}

void TFrmMessageDialog::SetTexts(const QString& title, const QString& text,
                                 const QString& thirdLine) {
  LabelTitle->setText(title);
  // What the taskbar and a window list show: the message's own title.
  setWindowTitle(title);
  LabelText->setText(text);
  // A long third line (a file and why it failed) keeps both ends visible.
  const QFontMetrics metrics(LabelText1->font());
  const QString shown = metrics.elidedText(thirdLine, Qt::ElideMiddle, LabelText1->width());
  LabelText1->setText(shown);
  LabelText1->setToolTip(shown == thirdLine ? QString() : thirdLine);
  fitMessage();
}

// Long messages wrap (a word longer than the box breaks anywhere). The font
// shrinks a little first; when the text still needs more room, the message
// box, and with it the window, grows downwards, as far as the screen allows.
// Every line shows; only a text taller than the screen is cut, and then the
// whole text is the message's tooltip.
void TFrmMessageDialog::fitMessage() {
  constexpr int kLargest = 15, kSmallestBeforeGrowing = 12, kSmallest = 9;
  const QString text = LabelText->text();
  auto needed = [&](int size) {
    return QFontMetrics(uiFont(size))
        .boundingRect(QRect(0, 0, kMessageBox.width(), 100000), Qt::AlignCenter | Qt::TextWordWrap, text)
        .height();
  };
  const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  const int room = screen ? screen->availableGeometry().height() : kClientHeight;
  const int most = std::max(0, room - kClientHeight);  // the most the window may grow

  int size = kLargest;
  while (size > kSmallestBeforeGrowing && needed(size) > kMessageBox.height()) --size;
  while (size > kSmallest && needed(size) > kMessageBox.height() + most) --size;
  LabelText->setFont(uiFont(size));
  FGrowth = std::clamp(needed(size) - kMessageBox.height(), 0, most);
  LabelText->setToolTip(needed(size) > kMessageBox.height() + FGrowth ? text : QString());

  const QPoint down(0, FGrowth);
  LabelText->setGeometry(kMessageBox.adjusted(0, 0, 0, FGrowth).translated(kPad, kPad));
  LabelText1->setGeometry(kThirdLineBox.translated(kPad, kPad).translated(down));
  BTNOK->setGeometry(kOkBox.translated(kPad, kPad).translated(down));
  BTNCANCEL->setGeometry(kCancelBox.translated(kPad, kPad).translated(down));
  setFixedSize(kClientWidth, kClientHeight + FGrowth);
  update();
}

void TFrmMessageDialog::reject() { done(kMessageDialogCancel); }

void TFrmMessageDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  // The 5 px rim: a dark edge with the accent glow around the picture.
  p.fillRect(rect(), QColor(0x0A, 0x0B, 0x0E));
  for (int i = 0; i < kPad; ++i) {
    QColor c = kGlow;
    c.setAlpha(22 + 26 * i);
    p.setPen(QPen(c, 1));
    p.drawRect(QRectF(i + 0.5, i + 0.5, width() - 2 * i - 1, height() - 2 * i - 1));
  }
  // Drawn at its own size, never scaled; a grown window repeats one row.
  const QPoint origin(kPad, kPad);
  if (FGrowth <= 0 || ImageMain.height() <= kStretchRow) {
    p.drawImage(origin, ImageMain);
  } else {
    const int w = ImageMain.width();
    p.drawImage(origin, ImageMain, QRect(0, 0, w, kStretchRow));
    p.drawImage(QRect(origin + QPoint(0, kStretchRow), QSize(w, FGrowth)), ImageMain,
                QRect(0, kStretchRow, w, 1));
    p.drawImage(origin + QPoint(0, kStretchRow + FGrowth), ImageMain,
                QRect(0, kStretchRow, w, ImageMain.height() - kStretchRow));
  }
  if (!IMGWARNING.isNull()) {
    // Beside the middle of the message, however far it grew.
    const QRect box = kWarningBox.translated(origin + QPoint(0, FGrowth / 2));
    const QSize fitted = IMGWARNING.size().scaled(box.size(), Qt::KeepAspectRatio);
    const QRect target(box.x() + (box.width() - fitted.width()) / 2,
                       box.y() + (box.height() - fitted.height()) / 2, fitted.width(), fitted.height());
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, IMGWARNING);
  }
}

void TFrmMessageDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();  // no default button
    return;
  }
  QDialog::keyPressEvent(event);
}

int ShowMessageDialog(const QString& title, const QString& text, const QString& thirdLine,
                      QWidget* over) {
  if (const MessageDialogAnswer& hook = answerHook()) {
    return hook(title, text, thirdLine) == kMessageDialogOK ? kMessageDialogOK
                                                            : kMessageDialogCancel;
  }
  if (!over) over = QApplication::activeWindow();
  QPointer<TFrmMessageDialog> dialog = new TFrmMessageDialog(over);
  dialog->FCreateByOther = true;
  dialog->SetTexts(title, text, thirdLine);
  const QRect area = over ? over->frameGeometry()
                          : (QGuiApplication::primaryScreen()
                                 ? QGuiApplication::primaryScreen()->availableGeometry()
                                 : QRect(0, 0, 1024, 768));
  QPoint topLeft = area.center() - QPoint(dialog->width() / 2, dialog->height() / 2);
  // A grown dialog over a window near the screen's edge stays on the screen.
  if (const QScreen* screen = over ? over->screen() : QGuiApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    topLeft.setX(std::clamp(topLeft.x(), room.left(), std::max(room.left(), room.right() + 1 - dialog->width())));
    topLeft.setY(std::clamp(topLeft.y(), room.top(), std::max(room.top(), room.bottom() + 1 - dialog->height())));
  }
  dialog->move(topLeft);
  const int result = dialog->exec();
  delete dialog.data();  // null when the parent took it down meanwhile
  return result == kMessageDialogOK ? kMessageDialogOK : kMessageDialogCancel;
}

void SetMessageDialogAnswer(MessageDialogAnswer answer) { answerHook() = std::move(answer); }
