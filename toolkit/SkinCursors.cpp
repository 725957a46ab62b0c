#include "toolkit/SkinCursors.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

namespace {

// Watches every widget of the application: polished (before it first
// shows) and whenever its cursor changes.
class TCursorFilter : public QObject {
 public:
  std::optional<QCursor> Hand, Arrow;

  void Apply(QWidget* w) const {
    // Without a cursor of its own a widget reports its parent's.
    const bool own = w->testAttribute(Qt::WA_SetCursor);
    const Qt::CursorShape shape = own ? w->cursor().shape() : Qt::ArrowCursor;
    if (shape == Qt::BitmapCursor) return;  // ours already, or a widget's own picture
    if (Hand && ((own && shape == Qt::PointingHandCursor) || (!own && qobject_cast<QAbstractButton*>(w)))) {
      w->setCursor(*Hand);
      return;
    }
    // Children without a shape of their own take their window's.
    if (Arrow && w->isWindow() && (!own || shape == Qt::ArrowCursor)) w->setCursor(*Arrow);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if ((type == QEvent::Polish || type == QEvent::CursorChange) && watched->isWidgetType())
      Apply(static_cast<QWidget*>(watched));
    return false;
  }
};

QPointer<TCursorFilter>& filter() {
  static QPointer<TCursorFilter> instance;
  return instance;
}

}  // namespace

std::optional<QCursor> LoadCursorFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > (1 << 20)) return std::nullopt;
  const QByteArray bytes = file.readAll();
  if (bytes.size() < 22) return std::nullopt;
  auto u16 = [&](int at) { return int(uint8_t(bytes[at])) | int(uint8_t(bytes[at + 1])) << 8; };
  if (u16(0) != 0 || u16(2) != 2 || u16(4) < 1) return std::nullopt;
  const int hotX = u16(10), hotY = u16(12);
  QImage image = QImage::fromData(bytes, "cur");
  if (image.isNull()) image = QImage::fromData(bytes, "ico");
  if (image.isNull() || hotX >= image.width() || hotY >= image.height()) return std::nullopt;
  return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

void InstallSkinCursors(const QString& handFile, const QString& arrowFile) {
  std::optional<QCursor> hand = LoadCursorFile(handFile);
  std::optional<QCursor> arrow = LoadCursorFile(arrowFile);
  QPointer<TCursorFilter>& f = filter();
  if (!hand && !arrow) {
    delete f.data();
    return;
  }
  if (!f) {
    f = new TCursorFilter;
    f->setParent(qApp);
    qApp->installEventFilter(f);
  }
  f->Hand = std::move(hand);
  f->Arrow = std::move(arrow);
  for (QWidget* w : QApplication::allWidgets()) f->Apply(w);
}

std::optional<QCursor> SkinHandCursor() { return filter() ? filter()->Hand : std::nullopt; }
std::optional<QCursor> SkinArrowCursor() { return filter() ? filter()->Arrow : std::nullopt; }
