#pragma once
// The OK/Cancel question asked before leaving the macro manager with macros
// that still hold press/release errors.

#include "macro/MacroSkin.h"

class QLabel;
class QWidget;

class TDlgLeaveMacroWithErrorsForm : public TSkinDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 452;
  static constexpr int kClientHeight = 211;

  explicit TDlgLeaveMacroWithErrorsForm(QWidget* parent = nullptr);

  QWidget* RectTop = nullptr;
  TBitmapStateButton* BitmapStateButton1 = nullptr;  // close: CANCEL
  TBitmapStateButton* Button1 = nullptr;             // OK
  TBitmapStateButton* Button2 = nullptr;             // CANCEL
  // Hidden: the texts put into them are not seen.
  QLabel* LabelTitle = nullptr;
  QLabel* LabelText = nullptr;
  QLabel* LabelText1 = nullptr;

 private:
  bool FCreateByOther = false;
  friend int ShowLeaveMacroWithErrorsDialog(const QString&, const QString&, const QString&, QWidget*);
};

// Returns 1 for OK, 2 for CANCEL or any other closing.
int ShowLeaveMacroWithErrorsDialog(const QString& ATitle, const QString& AText, const QString& AText1,
                                   QWidget* over = nullptr);
