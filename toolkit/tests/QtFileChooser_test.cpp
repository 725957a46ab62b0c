// The profile-file chooser on Qt's own file dialog: titled by what it does,
// with every column of the file list shown whole.
#include "toolkit/QtFileChooser.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QTemporaryDir>
#include <QTreeView>

#include "platform/testing/QtTestEnvironment.h"
#include "toolkit/testing/ModalWait.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

struct Seen {
  QString title;
  bool columnsWhole = false;
  QString cut;
};

Seen Look(bool save) {
  QTemporaryDir dir;
  QFile f(dir.filePath(QStringLiteral("A rather long profile name.pfd")));
  f.open(QIODevice::WriteOnly);
  f.write("x");
  f.close();
  Seen seen;
  WhenModal<QFileDialog>([&seen](QFileDialog* d) {
    seen.title = d->windowTitle();
    d->setViewMode(QFileDialog::Detail);
    QCoreApplication::processEvents();
    auto* view = d->findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(view, nullptr);
    QHeaderView* header = view->header();
    seen.columnsWhole = true;
    int used = 0;
    for (int i = 0; i < header->count(); ++i) {
      if (header->isSectionHidden(i)) continue;
      used += header->sectionSize(i);
      const QString text = header->model()->headerData(i, Qt::Horizontal).toString();
      // The caption and the sort arrow's room.
      if (header->fontMetrics().horizontalAdvance(text) + 24 > header->sectionSize(i)) {
        seen.columnsWhole = false;
        seen.cut += text + QLatin1Char(' ');
      }
    }
    if (used > view->viewport()->width()) {
      seen.columnsWhole = false;
      seen.cut += QStringLiteral("(wider than the view)");
    }
    d->reject();
  });
  QtFileChooser chooser;
  const QString chosen = save ? chooser.ChooseSaveFile(dir.path()) : chooser.ChooseOpenFile(dir.path());
  EXPECT_TRUE(chosen.isEmpty());
  return seen;
}

TEST(QtFileChooser, SaveDialogShowsItsColumnsWholeUnderItsTitle) {
  const Seen seen = Look(true);
  EXPECT_EQ(seen.title, "Save to file");
  EXPECT_TRUE(seen.columnsWhole) << seen.cut.toStdString();
}

TEST(QtFileChooser, LoadDialogShowsItsColumnsWholeUnderItsTitle) {
  const Seen seen = Look(false);
  EXPECT_EQ(seen.title, "Load from file");
  EXPECT_TRUE(seen.columnsWhole) << seen.cut.toStdString();
}

}  // namespace
