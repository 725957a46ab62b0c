#include "tools/translation-editor/EditorModel.h"

#include "toolkit/uiLanguage.h"

#include <QFileInfo>

namespace {

QString translationIn(const QStringList& table, const QString& text) {
  for (const QString& line : table) {
    const qsizetype eq = line.indexOf(u'=');
    if (eq == text.size() && line.startsWith(text)) return line.mid(eq + 1);
  }
  return QString();
}

void setTranslationIn(QStringList& table, const QString& text, const QString& translation) {
  table.removeIf([&](const QString& line) { return LanguageLineKey(line) == text; });
  if (!translation.isEmpty()) table.append(text + u'=' + translation);
  SortLanguageLines(table);
}

}  // namespace

bool TranslationEditorModel::Open(const QString& path, QString* error) {
  TLanguageData data;
  if (QFileInfo::exists(path)) {
    QString warning;
    if (!LoadLanguageFile(path, data, error, &warning)) return false;
  }
  SetData(data);
  return true;
}

void TranslationEditorModel::SetData(const TLanguageData& data) {
  original_ = data.Original;
  SortLanguageLines(original_);
  languages_.clear();
  tabs_.clear();
  pageStart_ = 0;
  for (const TLanguageEntry& entry : data.Languages) {
    languages_.push_back(Language{entry.Name, entry.Table, false});
    SortLanguageLines(languages_.back().Table);
    const TLocaleInfo* locale = FindLocale(entry.Name);
    if (!locale) continue;  // "CH", "US": kept, but no tab
    const QString id = QString::fromLatin1(locale->LangID);
    if (TabOf(id) >= 0) continue;  // a second name for one locale: kept as is
    languages_.back().Name = id;   // shown and saved in the Windows form
    tabs_.push_back(Tab{languages_.size() - 1, id});
  }
}

TLanguageData TranslationEditorModel::Data() const {
  TLanguageData data;
  data.Original = original_;
  for (const Language& language : languages_) {
    if (!language.Deleted) data.Languages.push_back(TLanguageEntry{language.Name, language.Table});
  }
  return data;
}

bool TranslationEditorModel::Save(const QString& path, QString* error) const {
  return SaveLanguageFile(path, Data(), error);
}

QString TranslationEditorModel::TabLangID(int tab) const {
  return tab >= 0 && tab < TabCount() ? tabs_[size_t(tab)].LangID : QString();
}

QString TranslationEditorModel::TabCaption(int tab) const {
  const TLocaleInfo* locale = FindLocale(TabLangID(tab));
  return locale ? QString::fromLatin1(locale->EnglishName) : QString();
}

int TranslationEditorModel::TabOf(const QString& langId) const {
  for (size_t i = 0; i < tabs_.size(); ++i) {
    if (tabs_[i].LangID.compare(langId, Qt::CaseInsensitive) == 0) return int(i);
  }
  return -1;
}

QStringList* TranslationEditorModel::tableOf(int tab) {
  return tab >= 0 && tab < TabCount() ? &languages_[tabs_[size_t(tab)].Language].Table : nullptr;
}

const QStringList* TranslationEditorModel::tableOf(int tab) const {
  return tab >= 0 && tab < TabCount() ? &languages_[tabs_[size_t(tab)].Language].Table : nullptr;
}

QString TranslationEditorModel::Translation(int tab, int row) const {
  const QStringList* table = tableOf(tab);
  if (!table || row < 0 || row >= original_.size()) return QString();
  return translationIn(*table, original_[row]);
}

void TranslationEditorModel::SetTranslation(int tab, int row, const QString& translation) {
  QStringList* table = tableOf(tab);
  if (!table || row < 0 || row >= original_.size()) return;
  // An unchanged cell leaves the table alone, also its second lines.
  if (translation == translationIn(*table, original_[row])) return;
  setTranslationIn(*table, original_[row], translation);
}

int TranslationEditorModel::AddLanguage(const QString& langId) {
  const TLocaleInfo* locale = FindLocale(langId);
  if (!locale) return -1;
  const QString id = QString::fromLatin1(locale->LangID);
  const int existing = TabOf(id);
  if (existing >= 0) return existing;
  languages_.push_back(Language{id, {}, false});
  tabs_.push_back(Tab{languages_.size() - 1, id});
  return TabCount() - 1;
}

bool TranslationEditorModel::DeleteLanguage(int tab) {
  if (tab < 0 || tab >= TabCount()) return false;
  languages_[tabs_[size_t(tab)].Language].Deleted = true;
  tabs_.erase(tabs_.begin() + tab);
  if (pageStart_ > 0 && TabCount() - pageStart_ < kTabsPerPage) --pageStart_;
  return true;
}

bool TranslationEditorModel::AddText(const QString& text) {
  if (text.isEmpty() || original_.contains(text)) return false;
  original_.append(text);
  SortLanguageLines(original_);
  return true;
}

int TranslationEditorModel::MergeTexts(const QStringList& texts) {
  int added = 0;
  for (const QString& text : texts) added += AddText(text) ? 1 : 0;
  return added;
}

void TranslationEditorModel::dropLinesOf(const QString& text) {
  for (Language& language : languages_) {
    language.Table.removeIf([&](const QString& line) { return LanguageLineKey(line) == text; });
  }
}

bool TranslationEditorModel::DeleteText(int row) {
  if (row < 0 || row >= original_.size()) return false;
  const QString text = original_.takeAt(row);
  dropLinesOf(text);
  return true;
}

QString TranslationEditorModel::TextList(int tab) const {
  QString out;
  for (int row = 0; row < original_.size(); ++row) {
    out += original_[row] + u'=' + Translation(tab, row) + u'\n';
  }
  return out;
}

void TranslationEditorModel::SetTextList(int tab, const QString& lines) {
  if (!tableOf(tab)) return;
  QStringList texts;
  std::vector<std::pair<QString, QString>> pairs;
  for (const QString& line : SplitLanguageLines(lines)) {
    const qsizetype eq = line.indexOf(u'=');
    if (eq <= 0) continue;  // no text to translate
    texts.append(line.left(eq));
    pairs.emplace_back(line.left(eq), line.mid(eq + 1));
  }
  SortLanguageLines(texts);
  for (const QString& old : original_) {
    if (!texts.contains(old)) dropLinesOf(old);
  }
  original_ = texts;
  QStringList* table = tableOf(tab);
  for (const auto& [text, translation] : pairs) {
    if (translation != translationIn(*table, text)) setTranslationIn(*table, text, translation);
  }
}

bool TranslationEditorModel::IsTabVisible(int tab) const {
  return tab >= pageStart_ && tab < pageStart_ + kTabsPerPage && tab < TabCount();
}

void TranslationEditorModel::NextPage() {
  if (TabCount() - pageStart_ > kTabsPerPage) ++pageStart_;
}

void TranslationEditorModel::PrevPage() {
  if (pageStart_ > 0) --pageStart_;
}
