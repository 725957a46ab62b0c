#include "toolkit/testing/PinnedLocale.h"
#include "tools/translation-editor/EditorWindow.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

TEST(EditorWindow, OpenCellEditorIsCommittedBeforeSaving) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("ui.local");
  TLanguageData data;
  data.Original = {"Apply", "OK"};
  data.Languages.push_back({"CH", {}});
  data.Languages.push_back({"040c", {"OK=D'accord"}});
  ASSERT_TRUE(SaveLanguageFile(path, data, nullptr));

  EditorWindow window(path);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* tabs = window.findChild<QTabWidget*>();
  ASSERT_NE(tabs, nullptr);
  ASSERT_EQ(tabs->count(), 1);
  EXPECT_EQ(tabs->tabText(0), "French (France)");
  auto* grid = qobject_cast<QTableView*>(tabs->widget(0));
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(grid->model()->index(1, 1).data().toString(), "D'accord");

  const QModelIndex cell = grid->model()->index(0, 1);
  grid->setCurrentIndex(cell);
  grid->edit(cell);
  auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  ASSERT_NE(editor, nullptr);
  editor->setText("Appliquer");  // typed, not yet committed

  ASSERT_TRUE(window.SaveToFile());
  TLanguageData back;
  ASSERT_TRUE(LoadLanguageFile(path, back, nullptr));
  ASSERT_EQ(back.Languages.size(), 2u);
  EXPECT_EQ(back.Languages[0].Name, "CH");
  EXPECT_EQ(back.Languages[1].Table, (QStringList{"Apply=Appliquer", "OK=D'accord"}));
}

}  // namespace
