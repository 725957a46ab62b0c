#pragma once
// The create-macro dialog: asks for the name of a new macro and writes an
// empty macro file of that name into the profile's macro folder.

#include "macro/MacroSkin.h"

class QLineEdit;

class TFrmCreat : public TSkinDialog {
  Q_OBJECT
 public:
  static constexpr int kClientWidth = 478;
  static constexpr int kClientHeight = 292;

  explicit TFrmCreat(QWidget* parent = nullptr);

  QString FMacroPath;  // the macro folder, given by the launcher
  QString FMacroName;  // the accepted name; empty until OK has succeeded
  bool FCreateByOther = false;  // set by the launcher; nothing reads it

  QLineEdit* TextboxMacroName = nullptr;
  TBitmapStateButton* BTNOK = nullptr;
  TBitmapStateButton* BTNCANCEL = nullptr;

  void LoadImages();
  // OK and Enter in the name box: writes the file and closes with 1; an
  // empty or invalid name does nothing; an error is shown and keeps the
  // dialog open.
  void BTNOKClick();

 protected:
  void showEvent(QShowEvent* event) override;
};

// Shows the dialog modally over `over`; AMacroName receives the accepted
// name (empty unless OK succeeded). Returns 1 for OK, 2 for Cancel.
int ShowCreateMacroDialog(QString& AMacroName, const QString& AMacroPath, QWidget* over = nullptr);
