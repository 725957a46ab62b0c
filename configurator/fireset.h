#pragma once
// The fire-key dialog: the repeat count ("Fire:") and the delay in
// milliseconds ("Delay:") of a button's fire-key function.
#include <QDialog>
#include <QImage>

#include "device/pubunit_quindle.h"

class QLabel;
class QPushButton;
class QSpinBox;

class TFrmFire : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 478;
  static constexpr int kClientHeight = 292;

  explicit TFrmFire(QWidget* parent = nullptr);

  TFIREKEYINFO FFireKeyInfo{};
  // Set by the launcher; nothing reads it.
  bool FCreateByOther = false;

  QImage ImageMain;
  QLabel* LabelTitle = nullptr;
  QSpinBox* NumBoxFire = nullptr;
  QSpinBox* NumboxDelay = nullptr;
  QPushButton* BTNOK = nullptr;
  QPushButton* BTNCANCEL = nullptr;

  void FormCreate();
  void FormShow();
  void BTNOKClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
};

// Modal results of the dialog.
enum : int { kFireResultOK = 1, kFireResultCancel = 2 };

// Shows the dialog centred over `over` (the active window when null) with a
// copy of `AFireKeyInfo`, copies the dialog's values back whatever the
// result and returns 1 for OK, 2 for CANCEL or any other ending (also when
// the program is told to quit while the dialog is open). Callers keep the
// values only on 1.
int ShowFireKeyDialog(TFIREKEYINFO& AFireKeyInfo, QWidget* over = nullptr);
