#pragma once
// The language component: loads "ui.local", lists its languages, installs one
// language's table for the whole process and re-translates the registered
// windows when the language changes.
//
// Every text a window shows goes through one of two doors:
//  - Translate(text) for texts made at run time (menu rows, message texts);
//  - SetUiText(object, source [, property]) for texts a widget keeps showing:
//    it remembers the untranslated source on the widget, so a later language
//    change translates again from the source, never from what is on screen.

#include "toolkit/LanguageFile.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <span>
#include <vector>

// The translation of `text` in the installed table: the translation of the
// first line (in sorted order) whose part before its first "=" equals `text`
// exactly. `text` itself when no table is installed, no line matches or the
// translation is empty. Main thread only.
QString Translate(const QString& text);

// Installs a table of "text=translation" lines (any order; sorted here) for
// Translate. An empty table translates nothing.
void InstallTranslationTable(const QStringList& lines);
// Removes the installed table: every text shows untranslated.
void RemoveTranslationTable();
// Whether a table is installed (an empty one counts).
bool HasTranslationTable();

// Shows `source`, translated, in `property` of `object` ("text",
// "windowTitle", "toolTip", "placeholderText", ...) and remembers `source`
// there, so TuiLanguage::SetLang re-translates it from the source.
void SetUiText(QObject* object, const QString& source, const char* property = "text");
// The untranslated source remembered for `property` of `object`; empty when
// the text was not set through SetUiText.
QString UiTextSource(const QObject* object, const char* property = "text");
// Translates every remembered text of `root` and its descendants again and
// sends them a LanguageChange event, for widgets that draw their own texts.
void RetranslateUiTexts(QObject* root);

// One Windows locale of the language catalogue.
struct TLocaleInfo {
  const char* LangID;       // LOCALE_ILANGUAGE form: four lower-case hex digits
  const char16_t* NativeName;  // the language's own name for itself
  const char* EnglishName;  // the localized (English) name the editor shows
};

// The immutable catalogue of supported locales, in enumeration order; one
// entry per language ID. LocaleNativeNames of the configurator's chooser.
std::span<const TLocaleInfo> LocaleCatalogue();
// The catalogue entry of a language ID (case-insensitive); nullptr if none.
const TLocaleInfo* FindLocale(const QString& langId);

// Texts that the design-time collection always adds to the untranslated texts.
inline constexpr const char* kDesignTimeTexts[10] = {
    "Down",           "Up",           "ms",          "Mouse Click",
    "Mouse Right Click", "Mouse Middle Click", "Backward(Mouse)", "Forward(Mouse)",
    "Wheel up(Mouse)", "Wheel Down(Mouse)"};

// The language component of a program's main window.
class TuiLanguage : public QObject {
  Q_OBJECT
 public:
  // Registers `owner` (when given) and loads `fileName`; by default the
  // "ui.local" beside the running executable. A missing file leaves the
  // list empty; a damaged one is rejected whole and reported on stderr.
  explicit TuiLanguage(QWidget* owner = nullptr, const QString& fileName = DefaultFileName());
  ~TuiLanguage() override;

  static QString DefaultFileName();

  // The untranslated texts and the languages, in file order.
  QStringList Original;
  std::vector<TLanguageEntry> Resources;

  // Replaces Original and Resources with the file's content. False (nothing
  // changed) when the file is missing, unreadable or damaged.
  bool LoadFromFile(const QString& fileName, QString* error = nullptr);
  bool SaveToFile(const QString& fileName, QString* error = nullptr) const;
  // Adds a language with an empty table unless one of that name (any case)
  // exists.
  void AddLang(const QString& name);
  // Appends languages kept by a window rather than the file (the monitor's
  // "CH" and "US"), behind the file's languages, with empty tables.
  void AppendStoredLanguages(const QStringList& names);

  QString Lang() const { return FLanguageName; }
  // "en" removes the table; a known name (any case) installs its table; an
  // unknown one keeps the installed table. The name is stored either way,
  // the registered windows are re-translated and LanguageChanged fires.
  void SetLang(const QString& value);

  bool AutoSelect() const { return FAutoSelect; }
  // True selects the language named by the user locale's two-letter code.
  void SetAutoSelect(bool value);

  int GetLanguageIndexByShortID(const QString& index) const;
  QString GetLanguageShortIDByIndex(int index) const;
  QString GetLanguageLongNameByLangID(const QString& langId) const;
  QString GetLanguageLongNameByShortID(const QString& shortId) const;
  // The system default language as four upper-case hex digits ("0409").
  QString GetOSDefaultLang() const;

  // Windows whose texts SetLang re-translates; a destroyed window leaves the
  // list by itself.
  static void RegisterParentForm(QWidget* form);
  static int uiParentFormCount();
  static std::vector<QWidget*> ParentForms();

 signals:
  void LanguageChanged(TuiLanguage* component, const QString& languageShortID,
                       const QString& languageLongName);

 private:
  QString FLanguageName;
  bool FAutoSelect = false;
  bool FCountsForm = false;
};
