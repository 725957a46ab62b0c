#pragma once
// The translation editor's data: the untranslated texts and every language of
// a "ui.local", the language tabs shown for them, and the edits made in the
// tabs until they are saved. Knows nothing of widgets.
//
// Every language keeps its position in the file (the programs store a
// language's position as the chosen language); languages without a tab
// (names that are no Windows language ID, or a second name for the same
// locale) are saved unchanged; new languages go to the end.

#include "toolkit/LanguageFile.h"

#include <QString>
#include <QStringList>

#include <vector>

class TranslationEditorModel {
 public:
  static constexpr int kTabsPerPage = 8;

  // Loads `path`; a missing file gives an empty model. False (model
  // unchanged) when the file is damaged or unreadable.
  bool Open(const QString& path, QString* error);
  void SetData(const TLanguageData& data);
  // What Save writes.
  TLanguageData Data() const;
  bool Save(const QString& path, QString* error) const;

  const QStringList& Original() const { return original_; }

  // Language tabs, in the order they were made.
  int TabCount() const { return int(tabs_.size()); }
  QString TabLangID(int tab) const;
  QString TabCaption(int tab) const;
  int TabOf(const QString& langId) const;  // -1 when no tab shows it

  // The translation of row `row` (of Original) in tab `tab`: the first line
  // of its table for that text; empty when none.
  QString Translation(int tab, int row) const;
  // An empty translation removes the text's lines.
  void SetTranslation(int tab, int row, const QString& translation);

  // Adds a tab for a Windows language ID (an existing tab is returned);
  // -1 when the ID is not in the locale catalogue.
  int AddLanguage(const QString& langId);
  // Removes the tab and its language from the file.
  bool DeleteLanguage(int tab);

  // Adds an untranslated text; false when empty or present.
  bool AddText(const QString& text);
  // Adds every non-empty text not present; the number added.
  int MergeTexts(const QStringList& texts);
  // Removes the text of `row` and its lines in every language.
  bool DeleteText(int row);

  // The tab's lines as "text=translation", one per untranslated text.
  QString TextList(int tab) const;
  // Takes such lines as the new untranslated texts and the tab's
  // translations; lines without "=" or with an empty text are ignored, and
  // texts no longer listed lose their lines in every language.
  void SetTextList(int tab, const QString& lines);

  // Paging of the tab bar: eight tabs from PageStart are visible.
  int PageStart() const { return pageStart_; }
  bool IsTabVisible(int tab) const;
  void NextPage();
  void PrevPage();

 private:
  struct Language {
    QString Name;
    QStringList Table;  // sorted lines
    bool Deleted = false;
  };
  struct Tab {
    size_t Language;  // index into languages_
    QString LangID;
  };
  QStringList* tableOf(int tab);
  const QStringList* tableOf(int tab) const;
  void dropLinesOf(const QString& text);

  QStringList original_;
  std::vector<Language> languages_;
  std::vector<Tab> tabs_;
  int pageStart_ = 0;
};
