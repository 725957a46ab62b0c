#pragma once
// The translation file "ui.local": reader and writer of its bytes, and the
// line rules shared by the language component and the translation editor.
// Qt Core only, so the fuzz target and the editor's model link light.
//
// Layout (little-endian, no header, no padding; a string is an Int32 count
// of UTF-16 code units followed by that many UTF-16LE units, no NUL):
//   string  untranslated texts, each followed by CR LF, sorted
//   Int32   language count L (0 is valid)
//   L times: string language name ("0409"), string table of lines
//            "text=translation" each followed by CR LF, sorted
// A language's position in the file is the language index the programs
// store in their settings, so the order of the languages is kept as read.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

// One language of the file: its name and its sorted table of lines.
struct TLanguageEntry {
  QString Name;
  QStringList Table;
};

// The whole content of a translation file.
struct TLanguageData {
  QStringList Original;                  // untranslated texts, sorted
  std::vector<TLanguageEntry> Languages;  // in file order
};

// Files larger than this are refused before any byte is read into memory.
inline constexpr qint64 kMaxLanguageFileSize = 64 * 1024 * 1024;

// The one ordering of texts and table lines: the user locale's case-sensitive
// comparison, ties broken by code units so that only identical lines are
// equal. Returns <0, 0, >0.
int CompareLanguageLines(const QString& a, const QString& b);

// Splits a stored string into lines: at CR LF, a lone CR or LF, vertical tab,
// form feed, U+2028 and U+2029; stops at a NUL unit. Empty lines are dropped.
QStringList SplitLanguageLines(QStringView text);

// Sorts with CompareLanguageLines and drops exact duplicates.
void SortLanguageLines(QStringList& lines);

// The part of a table line before its first "=", and the part after it.
// A line without "=" has no key (empty) and no translation.
QString LanguageLineKey(const QString& line);
QString LanguageLineValue(const QString& line);

// Parses the bytes of a translation file. On success fills `out` (sorted
// lists) and returns true; `warning` tells about ignored trailing bytes. On
// any damage returns false with `error` set and leaves `out` untouched.
bool ParseLanguageFile(const QByteArray& bytes, TLanguageData& out, QString* error,
                       QString* warning = nullptr);

// The bytes of a translation file: every list written in sorted order, each
// line followed by CR LF.
QByteArray SerializeLanguageFile(const TLanguageData& data);

// Reads and parses a file (size checked first). False with `error` set when
// the file cannot be read or is damaged; `out` is then untouched.
bool LoadLanguageFile(const QString& path, TLanguageData& out, QString* error,
                      QString* warning = nullptr);

// Writes the file atomically (temporary file, flush, rename).
bool SaveLanguageFile(const QString& path, const TLanguageData& data, QString* error);
