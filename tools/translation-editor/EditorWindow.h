#pragma once
// The translation editor's window: one tab per language with a two-column
// grid (untranslated text, translation) over TranslationEditorModel.

#include "tools/translation-editor/EditorModel.h"

#include <QMainWindow>

class QComboBox;
class QLineEdit;
class QTabWidget;
class QTableView;

class EditorWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit EditorWindow(const QString& path, QWidget* parent = nullptr);

  TranslationEditorModel& Model() { return model_; }
  // Commits any open cell editor, then writes the file.
  bool SaveToFile();

 private:
  void rebuildTabs(int select);
  void applyPaging();
  void refreshGrids();
  void commitEditors();
  QTableView* grid(int tab) const;
  void openTextList();

  QString path_;
  TranslationEditorModel model_;
  QComboBox* langCombo_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QLineEdit* constText_ = nullptr;
};
