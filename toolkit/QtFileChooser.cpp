#include "toolkit/QtFileChooser.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QSplitter>
#include <QTreeView>
#include <QMessageBox>

#include "toolkit/dialogmessage.h"
#include "toolkit/uiLanguage.h"

namespace {
const QString kFilter = QStringLiteral("pfd (*.pfd)");

// Qt's own dialog opens too narrow for its columns (name, size, type, date)
// and for the places beside them; this size shows them whole.
constexpr int kDialogWidth = 820, kDialogHeight = 480, kPlacesWidth = 190;

void LayOut(QFileDialog& dialog) {
  dialog.resize(kDialogWidth, kDialogHeight);
  if (auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter")))
    splitter->setSizes({kPlacesWidth, kDialogWidth - kPlacesWidth});
  if (auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"))) {
    QHeaderView* header = details->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int i = 1; i < header->count(); ++i) header->setSectionResizeMode(i, QHeaderView::ResizeToContents);
  }
}

QString Run(QWidget* parent, QFileDialog::AcceptMode mode, const QString& folder) {
  QFileDialog dialog(parent, QString(), folder, kFilter);
  // The titles of the PRESET rows that open it.
  dialog.setWindowTitle(Translate(mode == QFileDialog::AcceptSave ? QStringLiteral("Save to file")
                                                                  : QStringLiteral("Load from file")));
  dialog.setAcceptMode(mode);
  if (mode == QFileDialog::AcceptSave) {
    dialog.setDefaultSuffix(QStringLiteral("pfd"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  } else {
    // A typed name of a file that does not exist is accepted; the caller
    // refuses it.
    dialog.setFileMode(QFileDialog::AnyFile);
  }
  LayOut(dialog);
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

void QtFileChooser::ShowRefusal(const QString& text) {
  ShowMessageDialog(Translate(QStringLiteral("Warning")), text, QString(), parent_);
}
