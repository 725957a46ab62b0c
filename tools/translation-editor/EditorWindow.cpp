#include "tools/translation-editor/EditorWindow.h"

#include "toolkit/uiLanguage.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// One tab's grid: rows are the untranslated texts, column 1 is editable.
class TabTableModel : public QAbstractTableModel {
 public:
  TabTableModel(TranslationEditorModel& model, int tab, QObject* parent)
      : QAbstractTableModel(parent), model_(model), tab_(tab) {}

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : int(model_.Original().size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
    if (index.column() == 0) return model_.Original().value(index.row());
    return model_.Translation(tab_, index.row());
  }

  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (!index.isValid() || index.column() != 1 || role != Qt::EditRole) return false;
    model_.SetTranslation(tab_, index.row(), value.toString());
    emit dataChanged(index, index);
    return true;
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == 1) f |= Qt::ItemIsEditable;
    return f;
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    return section == 0 ? QStringLiteral("Text") : QStringLiteral("Translation");
  }

  void refresh() {
    beginResetModel();
    endResetModel();
  }

 private:
  TranslationEditorModel& model_;
  int tab_;
};

// A grid that can hand its open editor's text to the model before a save.
class GridView : public QTableView {
 public:
  using QTableView::QTableView;
  void commitOpenEditor() {
    if (state() != QAbstractItemView::EditingState) return;
    QWidget* editor = indexWidget(currentIndex());
    if (!editor) editor = QApplication::focusWidget();
    if (editor && isAncestorOf(editor)) {
      commitData(editor);
      closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
  }
};

}  // namespace

EditorWindow::EditorWindow(const QString& path, QWidget* parent)
    : QMainWindow(parent), path_(path) {
  setWindowTitle(QStringLiteral("Translation editor - %1").arg(path));
  resize(930, 508);

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  auto* bar = new QHBoxLayout;
  bar->addWidget(new QLabel(QStringLiteral("Langs List："), central));
  langCombo_ = new QComboBox(central);
  langCombo_->setMaxVisibleItems(20);
  langCombo_->setMinimumWidth(195);
  for (const TLocaleInfo& locale : LocaleCatalogue())
    langCombo_->addItem(QString::fromLatin1(locale.EnglishName), QString::fromLatin1(locale.LangID));
  bar->addWidget(langCombo_);
  auto* add = new QPushButton(QStringLiteral("Add Language"), central);
  auto* del = new QPushButton(QStringLiteral("Delete Language"), central);
  bar->addWidget(add);
  bar->addWidget(del);
  bar->addStretch();
  auto* prev = new QPushButton(QStringLiteral("Prev Page"), central);
  auto* next = new QPushButton(QStringLiteral("Next Page"), central);
  bar->addWidget(prev);
  bar->addWidget(next);
  column->addLayout(bar);

  tabs_ = new QTabWidget(central);
  column->addWidget(tabs_, 1);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(new QLabel(QStringLiteral("Type Text to translate:"), central));
  constText_ = new QLineEdit(central);
  bottom->addWidget(constText_, 1);
  auto* addText = new QPushButton(QStringLiteral("Add Const Text"), central);
  auto* delText = new QPushButton(QStringLiteral("Delete Item From List"), central);
  auto* save = new QPushButton(QStringLiteral("Save to language file"), central);
  auto* list = new QPushButton(QStringLiteral("Get/Set Text List"), central);
  for (QPushButton* b : {addText, delText, save, list}) bottom->addWidget(b);
  column->addLayout(bottom);
  setCentralWidget(central);

  connect(add, &QPushButton::clicked, this, [this] {
    const int tab = model_.AddLanguage(langCombo_->currentData().toString());
    if (tab >= 0) rebuildTabs(tab);
  });
  connect(del, &QPushButton::clicked, this, [this] {
    const int tab = tabs_->currentIndex();
    if (tab < 0) return;
    commitEditors();
    model_.DeleteLanguage(tab);
    rebuildTabs(tab > 0 ? tab - 1 : 0);
  });
  connect(prev, &QPushButton::clicked, this, [this] {
    model_.PrevPage();
    applyPaging();
  });
  connect(next, &QPushButton::clicked, this, [this] {
    model_.NextPage();
    applyPaging();
  });
  connect(addText, &QPushButton::clicked, this, [this] {
    commitEditors();
    if (model_.AddText(constText_->text())) refreshGrids();
  });
  connect(delText, &QPushButton::clicked, this, [this] {
    QTableView* view = grid(tabs_->currentIndex());
    if (!view || !view->currentIndex().isValid()) return;
    commitEditors();
    if (model_.DeleteText(view->currentIndex().row())) refreshGrids();
  });
  connect(save, &QPushButton::clicked, this, [this] { SaveToFile(); });
  connect(list, &QPushButton::clicked, this, [this] { openTextList(); });

  QString error;
  if (!model_.Open(path_, &error)) {
    QMessageBox::warning(this, QStringLiteral("Translation editor"),
                         QStringLiteral("%1\nThe file is left as it is; saving is disabled.").arg(error));
    save->setEnabled(false);
  }
  rebuildTabs(0);
}

QTableView* EditorWindow::grid(int tab) const {
  return tab >= 0 ? qobject_cast<QTableView*>(tabs_->widget(tab)) : nullptr;
}

void EditorWindow::rebuildTabs(int select) {
  while (tabs_->count() > 0) {
    QWidget* page = tabs_->widget(0);
    tabs_->removeTab(0);
    page->deleteLater();
  }
  for (int tab = 0; tab < model_.TabCount(); ++tab) {
    auto* view = new GridView(tabs_);
    view->setModel(new TabTableModel(model_, tab, view));
    view->setColumnWidth(0, 380);
    view->setColumnWidth(1, 440);
    view->horizontalHeader()->setStretchLastSection(true);
    view->setToolTip(model_.TabLangID(tab));
    tabs_->addTab(view, model_.TabCaption(tab));
  }
  applyPaging();
  if (select >= 0 && select < tabs_->count()) tabs_->setCurrentIndex(select);
}

void EditorWindow::applyPaging() {
  for (int tab = 0; tab < tabs_->count(); ++tab) tabs_->setTabVisible(tab, model_.IsTabVisible(tab));
}

void EditorWindow::refreshGrids() {
  for (int tab = 0; tab < tabs_->count(); ++tab) {
    if (QTableView* view = grid(tab)) static_cast<TabTableModel*>(view->model())->refresh();
  }
}

void EditorWindow::commitEditors() {
  for (int tab = 0; tab < tabs_->count(); ++tab) {
    if (auto* view = static_cast<GridView*>(grid(tab))) view->commitOpenEditor();
  }
}

bool EditorWindow::SaveToFile() {
  commitEditors();
  QString error;
  if (!model_.Save(path_, &error)) {
    QMessageBox::warning(this, QStringLiteral("Translation editor"), error);
    return false;
  }
  statusBar()->showMessage(QStringLiteral("Saved %1").arg(path_), 5000);
  return true;
}

void EditorWindow::openTextList() {
  const int tab = tabs_->currentIndex();
  if (tab < 0) return;
  commitEditors();
  QDialog dialog(this);
  dialog.setWindowTitle(model_.TabCaption(tab));
  dialog.resize(667, 368);
  auto* layout = new QVBoxLayout(&dialog);
  auto* memo = new QPlainTextEdit(&dialog);
  memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo->setPlainText(model_.TextList(tab));
  layout->addWidget(memo);
  auto* save = new QPushButton(QStringLiteral("Save"), &dialog);
  layout->addWidget(save, 0, Qt::AlignRight);
  connect(save, &QPushButton::clicked, &dialog, &QDialog::accept);
  if (dialog.exec() == QDialog::Accepted) {
    model_.SetTextList(tab, memo->toPlainText());
    refreshGrids();
  }
}
