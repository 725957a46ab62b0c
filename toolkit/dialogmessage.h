#pragma once
// The configurator's modal message and confirmation window: a borderless,
// skinned window with a title, a message, an optional third line and the
// buttons OK and CANCEL. Callers translate the title and texts first.

#include <QDialog>
#include <QImage>

#include <functional>

class QLabel;
class QPushButton;

// Modal results of the dialog. Callers act on 1; a macro is deleted
// "unless 2", so every way of closing other than OK must give 2.
enum : int {
  kMessageDialogOK = 1,
  kMessageDialogCancel = 2,
};

class TFrmMessageDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 488;
  static constexpr int kClientHeight = 302;

  explicit TFrmMessageDialog(QWidget* parent = nullptr);

  // Set by the launcher; nothing reads it.
  bool FCreateByOther = false;

  // Fills the background from the skin picture "background/dlg-back.png";
  // without it the picture drawn here stays.
  void LoadImages();
  void SetTexts(const QString& title, const QString& text, const QString& thirdLine);

  QLabel* LabelTitle = nullptr;
  QLabel* LabelText = nullptr;
  QLabel* LabelText1 = nullptr;
  QPushButton* BTNOK = nullptr;
  QPushButton* BTNCANCEL = nullptr;
  QImage ImageMain;   // 478 x 292 background, drawn 5 px inside the window
  QImage IMGWARNING;  // fitted into 50 x 50 at (42, 115) of the background
  // How far the window grew below its 302 px for a long message.
  int Growth() const { return FGrowth; }

  // Any closing other than OK counts as CANCEL.
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void fitMessage();
  int FGrowth = 0;
};

// Shows the dialog modally, centred over `over` (the active window when
// null) and returns 1 for OK, 2 for CANCEL or any other closing.
int ShowMessageDialog(const QString& title, const QString& text, const QString& thirdLine,
                      QWidget* over = nullptr);

// For tests of callers: while set, ShowMessageDialog shows nothing and
// returns what this gives (any value but 1 counts as 2). Pass {} to reset.
using MessageDialogAnswer =
    std::function<int(const QString& title, const QString& text, const QString& thirdLine)>;
void SetMessageDialogAnswer(MessageDialogAnswer answer);
