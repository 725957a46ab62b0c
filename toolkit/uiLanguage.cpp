#include "toolkit/uiLanguage.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QVariant>

#include <cstdio>
#include <optional>

namespace {

// The installed table, keyed by the part before the first "=". Built from
// the sorted lines with the first line of a key winning, so a lookup gives
// what a scan of the sorted table from its first line would give.
std::optional<QHash<QString, QString>>& installedTable() {
  static std::optional<QHash<QString, QString>> table;
  return table;
}

std::vector<QPointer<QWidget>>& parentForms() {
  static std::vector<QPointer<QWidget>> forms;
  return forms;
}

int g_parentFormCount = 0;

constexpr char kSourcePrefix[] = "_uiSource_";

QByteArray sourceKey(const char* property) { return QByteArray(kSourcePrefix) + property; }

// Windows language IDs as LOCALE_ILANGUAGE gives them, with each language's
// own name (LOCALE_SNATIVELANGNAME) and its English name (LOCALE_SLANGUAGE).
constexpr TLocaleInfo kLocales[] = {
    {"0401", u"العربية", "Arabic (Saudi Arabia)"},
    {"0402", u"български", "Bulgarian (Bulgaria)"},
    {"0403", u"català", "Catalan (Catalan)"},
    {"0404", u"中文(繁體)", "Chinese (Traditional, Taiwan)"},
    {"0405", u"čeština", "Czech (Czech Republic)"},
    {"0406", u"dansk", "Danish (Denmark)"},
    {"0407", u"Deutsch", "German (Germany)"},
    {"0408", u"Ελληνικά", "Greek (Greece)"},
    {"0409", u"English", "English (United States)"},
    {"040a", u"español", "Spanish - Traditional Sort (Spain)"},
    {"040b", u"suomi", "Finnish (Finland)"},
    {"040c", u"français", "French (France)"},
    {"040d", u"עברית", "Hebrew (Israel)"},
    {"040e", u"magyar", "Hungarian (Hungary)"},
    {"040f", u"íslenska", "Icelandic (Iceland)"},
    {"0410", u"italiano", "Italian (Italy)"},
    {"0411", u"日本語", "Japanese (Japan)"},
    {"0412", u"한국어", "Korean (Korea)"},
    {"0413", u"Nederlands", "Dutch (Netherlands)"},
    {"0414", u"norsk (bokmål)", "Norwegian, Bokmål (Norway)"},
    {"0415", u"polski", "Polish (Poland)"},
    {"0416", u"Português", "Portuguese (Brazil)"},
    {"0418", u"română", "Romanian (Romania)"},
    {"0419", u"русский", "Russian (Russia)"},
    {"041a", u"hrvatski", "Croatian (Croatia)"},
    {"041b", u"slovenčina", "Slovak (Slovakia)"},
    {"041c", u"shqipe", "Albanian (Albania)"},
    {"041d", u"svenska", "Swedish (Sweden)"},
    {"041e", u"ไทย", "Thai (Thailand)"},
    {"041f", u"Türkçe", "Turkish (Turkey)"},
    {"0420", u"اُردو", "Urdu (Islamic Republic of Pakistan)"},
    {"0421", u"Bahasa Indonesia", "Indonesian (Indonesia)"},
    {"0422", u"українська", "Ukrainian (Ukraine)"},
    {"0423", u"беларуская", "Belarusian (Belarus)"},
    {"0424", u"slovenski", "Slovenian (Slovenia)"},
    {"0425", u"eesti", "Estonian (Estonia)"},
    {"0426", u"latviešu", "Latvian (Latvia)"},
    {"0427", u"lietuvių", "Lithuanian (Lithuania)"},
    {"0429", u"فارسى", "Persian"},
    {"042a", u"Tiếng Việt", "Vietnamese (Vietnam)"},
    {"042b", u"Հայերեն", "Armenian (Armenia)"},
    {"042d", u"euskara", "Basque (Basque)"},
    {"042f", u"македонски јазик", "Macedonian (FYROM)"},
    {"0436", u"Afrikaans", "Afrikaans (South Africa)"},
    {"0437", u"ქართული", "Georgian (Georgia)"},
    {"0439", u"हिंदी", "Hindi (India)"},
    {"043e", u"Bahasa Malaysia", "Malay (Malaysia)"},
    {"043f", u"Қазақ", "Kazakh (Kazakhstan)"},
    {"0445", u"বাংলা", "Bengali (India)"},
    {"0449", u"தமிழ்", "Tamil (India)"},
    {"0456", u"galego", "Galician (Galician)"},
    {"0804", u"中文(简体)", "Chinese (Simplified, PRC)"},
    {"0807", u"Deutsch", "German (Switzerland)"},
    {"0809", u"English", "English (United Kingdom)"},
    {"080a", u"Español", "Spanish (Mexico)"},
    {"080c", u"français", "French (Belgium)"},
    {"0810", u"italiano", "Italian (Switzerland)"},
    {"0813", u"Nederlands", "Dutch (Belgium)"},
    {"0814", u"norsk (nynorsk)", "Norwegian, Nynorsk (Norway)"},
    {"0816", u"português", "Portuguese (Portugal)"},
    {"081a", u"srpski", "Serbian (Latin, Serbia)"},
    {"0c04", u"中文(繁體)", "Chinese (Traditional, Hong Kong S.A.R.)"},
    {"0c07", u"Deutsch", "German (Austria)"},
    {"0c09", u"English", "English (Australia)"},
    {"0c0a", u"español", "Spanish (Spain)"},
    {"0c0c", u"français", "French (Canada)"},
    {"0c1a", u"српски", "Serbian (Cyrillic, Serbia)"},
    {"1004", u"中文(简体)", "Chinese (Simplified, Singapore)"},
    {"1009", u"English", "English (Canada)"},
    {"100c", u"français", "French (Switzerland)"},
    {"1404", u"中文(繁體)", "Chinese (Traditional, Macao S.A.R.)"},
    {"1409", u"English", "English (New Zealand)"},
    {"1809", u"English", "English (Ireland)"},
    {"2c0a", u"Español", "Spanish (Argentina)"},
    {"4009", u"English", "English (India)"},
};

bool isTranslatable(const char* property) { return property && *property; }

}  // namespace

QString Translate(const QString& text) {
  if (text.isEmpty()) return QString();
  const auto& table = installedTable();
  if (!table) return text;
  const auto it = table->constFind(text);
  if (it == table->constEnd() || it->isEmpty()) return text;
  return *it;
}

void InstallTranslationTable(const QStringList& lines) {
  QStringList sorted = lines;
  SortLanguageLines(sorted);
  QHash<QString, QString> table;
  table.reserve(sorted.size());
  for (const QString& line : sorted) {
    const qsizetype eq = line.indexOf(u'=');
    if (eq <= 0) continue;  // no key: such a line can never match a text
    const QString key = line.left(eq);
    if (!table.contains(key)) table.insert(key, line.mid(eq + 1));
  }
  installedTable() = std::move(table);
}

void RemoveTranslationTable() { installedTable().reset(); }

bool HasTranslationTable() { return installedTable().has_value(); }

void SetUiText(QObject* object, const QString& source, const char* property) {
  if (!object || !isTranslatable(property)) return;
  object->setProperty(sourceKey(property).constData(), source);
  object->setProperty(property, Translate(source));
}

QString UiTextSource(const QObject* object, const char* property) {
  if (!object || !isTranslatable(property)) return QString();
  return object->property(sourceKey(property).constData()).toString();
}

namespace {

void retranslateOne(QObject* object) {
  const QList<QByteArray> names = object->dynamicPropertyNames();
  for (const QByteArray& name : names) {
    if (!name.startsWith(kSourcePrefix)) continue;
    const QByteArray property = name.mid(int(sizeof(kSourcePrefix)) - 1);
    object->setProperty(property.constData(), Translate(object->property(name.constData()).toString()));
  }
  QEvent change(QEvent::LanguageChange);
  QCoreApplication::sendEvent(object, &change);
}

}  // namespace

void RetranslateUiTexts(QObject* root) {
  if (!root) return;
  // Collect first: a LanguageChange handler may create or delete children.
  QList<QPointer<QObject>> objects;
  objects.append(root);
  for (QObject* child : root->findChildren<QObject*>()) objects.append(child);
  for (const QPointer<QObject>& object : objects) {
    if (object) retranslateOne(object);
  }
}

std::span<const TLocaleInfo> LocaleCatalogue() { return std::span<const TLocaleInfo>(kLocales); }

const TLocaleInfo* FindLocale(const QString& langId) {
  for (const TLocaleInfo& info : kLocales) {
    if (langId.compare(QLatin1String(info.LangID), Qt::CaseInsensitive) == 0) return &info;
  }
  return nullptr;
}

// --- TuiLanguage ---

TuiLanguage::TuiLanguage(QWidget* owner, const QString& fileName) {
  if (owner) {
    RegisterParentForm(owner);
    ++g_parentFormCount;
    FCountsForm = true;
  }
  if (!fileName.isEmpty() && QFileInfo::exists(fileName)) {
    QString error;
    if (!LoadFromFile(fileName, &error)) {
      std::fprintf(stderr, "ui.local: %s; texts stay untranslated\n", qPrintable(error));
    }
  }
}

TuiLanguage::~TuiLanguage() {
  if (FCountsForm) --g_parentFormCount;
}

QString TuiLanguage::DefaultFileName() {
  if (!QCoreApplication::instance()) return QString();
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ui.local"));
}

bool TuiLanguage::LoadFromFile(const QString& fileName, QString* error) {
  TLanguageData data;
  QString warning;
  if (!LoadLanguageFile(fileName, data, error, &warning)) return false;
  if (!warning.isEmpty()) std::fprintf(stderr, "ui.local: %s\n", qPrintable(warning));
  Original = std::move(data.Original);
  Resources = std::move(data.Languages);
  return true;
}

bool TuiLanguage::SaveToFile(const QString& fileName, QString* error) const {
  TLanguageData data;
  data.Original = Original;
  data.Languages = Resources;
  return SaveLanguageFile(fileName, data, error);
}

void TuiLanguage::AddLang(const QString& name) {
  if (GetLanguageIndexByShortID(name) >= 0) return;
  Resources.push_back(TLanguageEntry{name, {}});
}

void TuiLanguage::AppendStoredLanguages(const QStringList& names) {
  for (const QString& name : names) Resources.push_back(TLanguageEntry{name, {}});
}

void TuiLanguage::SetLang(const QString& value) {
  if (value == QLatin1String("en")) {
    RemoveTranslationTable();
  } else {
    const int index = GetLanguageIndexByShortID(value);
    if (index >= 0) InstallTranslationTable(Resources[size_t(index)].Table);
  }
  FLanguageName = value;
  for (QWidget* form : ParentForms()) RetranslateUiTexts(form);
  emit LanguageChanged(this, FLanguageName, GetLanguageLongNameByShortID(FLanguageName));
}

void TuiLanguage::SetAutoSelect(bool value) {
  FAutoSelect = value;
  if (value) {
    // The user locale's two-letter language code, for example "en".
    const QString code = QLocale::system().name().left(2).toLower();
    SetLang(code.size() == 2 && code != QLatin1String("c") ? code : QString());
  }
}

int TuiLanguage::GetLanguageIndexByShortID(const QString& index) const {
  for (size_t i = 0; i < Resources.size(); ++i) {
    if (Resources[i].Name.compare(index, Qt::CaseInsensitive) == 0) return int(i);
  }
  return -1;
}

QString TuiLanguage::GetLanguageShortIDByIndex(int index) const {
  if (index < 0 || size_t(index) >= Resources.size()) return QString();
  return Resources[size_t(index)].Name;
}

QString TuiLanguage::GetLanguageLongNameByLangID(const QString& langId) const {
  const TLocaleInfo* info = FindLocale(langId);
  return info ? QString::fromUtf16(info->NativeName) : QString();
}

QString TuiLanguage::GetLanguageLongNameByShortID(const QString& shortId) const {
  // Every locale of the catalogue has a country, so both keys are the same.
  return GetLanguageLongNameByLangID(shortId);
}

QString TuiLanguage::GetOSDefaultLang() const {
  const QLocale system = QLocale::system();
  // Map the system locale through its English name to the catalogue.
  const QString english = QLocale::languageToString(system.language());
  const QString country = QLocale::territoryToString(system.territory());
  for (const TLocaleInfo& info : kLocales) {
    const QString name = QLatin1String(info.EnglishName);
    if (name.startsWith(english) && name.contains(country)) return QString::fromLatin1(info.LangID).toUpper();
  }
  for (const TLocaleInfo& info : kLocales) {
    if (QLatin1String(info.EnglishName).startsWith(english)) return QString::fromLatin1(info.LangID).toUpper();
  }
  return QStringLiteral("0409");
}

void TuiLanguage::RegisterParentForm(QWidget* form) {
  auto& forms = parentForms();
  std::erase_if(forms, [](const QPointer<QWidget>& p) { return p.isNull(); });
  forms.emplace_back(form);
}

int TuiLanguage::uiParentFormCount() { return g_parentFormCount; }

std::vector<QWidget*> TuiLanguage::ParentForms() {
  std::vector<QWidget*> live;
  for (const QPointer<QWidget>& p : parentForms()) {
    if (p) live.push_back(p.data());
  }
  return live;
}
