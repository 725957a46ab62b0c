#pragma once
// Widgets drawn from the skin's pictures: the picture push button, the
// turning picture and the busy indicator.
#include <QImage>
#include <QMargins>
#include <QPushButton>
#include <QString>
#include <QWidget>

class QVariantAnimation;

// A push button drawn from skin pictures: the normal picture, the hot one
// under the pointer and the pressed one while pressed or (when it stays
// pressed) checked. Without pictures the style sheet draws it.
class TSkinButton : public QPushButton {
  Q_OBJECT
 public:
  explicit TSkinButton(QWidget* parent = nullptr) : QPushButton(parent) {}
  QImage PictureNormal, PictureHot, PicturePressed;
  // Parts of the picture the caption keeps clear of (the assignment buttons'
  // bar on the left and arrow on the right).
  QMargins TextMargins;
  // Fills the pictures from the image cache (sub-folder "Buttons").
  void AssignPictures(const QString& normal, const QString& hotAndPressed);
  // The caption as drawn over the pictures: the whole text, or its start and
  // "…" when it is wider than the room inside TextMargins. A shortened one
  // shows whole as the tooltip while the button has no tooltip of its own.
  QString ShownCaption() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
};

// The double-click test picture; a double click turns it once around.
class TRotatingImage : public QWidget {
  Q_OBJECT
 public:
  explicit TRotatingImage(QWidget* parent = nullptr);
  QImage Picture;
  double RotateAngle = 0;
  QVariantAnimation* Animation = nullptr;

 signals:
  void doubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// The busy indicator of Apply: the skin's picture "controls/busy.png" turning
// (a drawn ring without it). It turns only while shown, so a hidden
// indicator keeps no timer running.
class TBusyIndicator : public TRotatingImage {
  Q_OBJECT
 public:
  explicit TBusyIndicator(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
};
