#pragma once
#include <QPointer>
#include <QWidget>

#include "device/ProfileFileDialogs.h"

// The profile-file chooser on Qt's file dialog: one filter "pfd (*.pfd)", no
// question before replacing a file, messages in a plain message box and
// refused imports in the program's message dialog.
class QtFileChooser : public TProfileFileChooser {
 public:
  explicit QtFileChooser(QWidget* parent = nullptr) : parent_(parent) {}
  QString ChooseOpenFile(const QString& initialFolder) override;
  QString ChooseSaveFile(const QString& initialFolder) override;
  void ShowMessage(const QString& text) override;
  // The program's message dialog titled "Warning".
  void ShowRefusal(const QString& text) override;

 private:
  QPointer<QWidget> parent_;
};
