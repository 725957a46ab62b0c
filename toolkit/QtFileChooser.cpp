#include "toolkit/QtFileChooser.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {
const QString kFilter = QStringLiteral("pfd (*.pfd)");

QString Run(QWidget* parent, QFileDialog::AcceptMode mode, const QString& folder) {
  QFileDialog dialog(parent, QString(), folder, kFilter);
  dialog.setAcceptMode(mode);
  if (mode == QFileDialog::AcceptSave) {
    dialog.setDefaultSuffix(QStringLiteral("pfd"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  } else {
    // A typed name of a file that does not exist is accepted; the caller
    // refuses it.
    dialog.setFileMode(QFileDialog::AnyFile);
  }
  if (dialog.exec() != QDialog::Accepted) return {};
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : files.first();
}
}  // namespace

QString QtFileChooser::ChooseOpenFile(const QString& initialFolder) {
  return Run(parent_, QFileDialog::AcceptOpen, initialFolder);
}

QString QtFileChooser::ChooseSaveFile(const QString& initialFolder) {
  return Run(parent_, QFileDialog::AcceptSave, initialFolder);
}

void QtFileChooser::ShowMessage(const QString& text) { QMessageBox::information(parent_, QString(), text); }
