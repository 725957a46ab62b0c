#pragma once
// Skin pieces shared by the macro manager and its small dialogs: the
// picture button with normal, hot and pressed pictures, the frameless
// dialog base with its skin background, the fonts and the placement over
// the main window.

#include <QAbstractButton>
#include <QDialog>
#include <QImage>
#include <QString>

class QLabel;

// A button drawn from three skin pictures (normal, hot, pressed) with its
// caption on top. Checkable buttons stay pressed while checked. Drawn with
// a plain look of its own while the skin pictures are missing.
class TBitmapStateButton : public QAbstractButton {
  Q_OBJECT
 public:
  explicit TBitmapStateButton(QWidget* parent = nullptr);

  // Pictures from the image cache: name of each state and the sub-folder.
  void SetPictures(const QString& normal, const QString& hot, const QString& pressed, const QString& subFolder);

  QImage Normal, Hot, Pressed;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  bool FHot = false;
};

// A frameless modal dialog that draws a skin picture as its background.
class TSkinDialog : public QDialog {
  Q_OBJECT
 public:
  TSkinDialog(QWidget* parent, int width, int height);

  QImage ImageMain;  // the background picture
  int BackgroundPadding = 0;

  // Any closing but an explicit result counts as CANCEL (2).
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  // Qt's Enter and Escape shortcuts are off: Escape would close without
  // what the window asks first, and the capture dialogs take both as keys.
  void keyPressEvent(QKeyEvent* event) override;
};

namespace macroskin {

QFont Font(int pixelSize, bool bold = false);
// A transparent label with its (translated) caption.
QLabel* MakeLabel(QWidget* parent, const char* objectName, const QString& caption, const QRect& geometry,
                  int pixelSize = 12, bool bold = false);
// The style sheet of the macro windows, from "images/uimacro.vgstyle" in
// the program folder; empty when the file is missing.
QString MacroStyleSheet();
// Centres `dialog` over `over` (the active window when null, else the screen).
void CentreOver(QWidget* dialog, QWidget* over);
// The picture drawn while the skin has none: a dark panel of that size.
QImage PlainBackground(int width, int height);

}  // namespace macroskin
