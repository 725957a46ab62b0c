#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

namespace platform {

// Read-only INI file in the manner of the Windows profile API, which is what
// config.ini was written for:
// - section and key names match without regard to case; the first section and
//   the first key of a name win;
// - names and values are trimmed of surrounding blanks; a value then loses
//   one pair of matching quotes around it ("..." or '...'), and is otherwise
//   taken literally to the end of its line (hardware IDs hold '\' and '&', web
//   addresses '%' and ',', none of which is special here);
// - lines starting with ';' are comments; lines without '=' and lines before
//   the first section are ignored;
// - UTF-8 (with or without BOM) or UTF-16 with a BOM; CR LF, LF or CR.
// QSettings is unsuitable: on Linux it is case-sensitive and rewrites
// backslashes, '%' and commas.
class IniFile {
 public:
  // The largest file read; config.ini is a few kilobytes.
  static constexpr qint64 kMaxFileSize = 4 * 1024 * 1024;

  enum class LoadResult {
    Ok,        // read and parsed
    Missing,   // no such file: every read gives its default
    Error,     // exists but cannot be read, is not a regular file, or too big
  };

  IniFile() = default;

  // Replaces the content with that of the file at path. On Missing or Error
  // the content is empty and errorString() says why.
  LoadResult load(const QString& path);
  // Parses bytes as a file would hold them.
  void parse(const QByteArray& bytes);

  QString readString(const QString& section, const QString& key,
                     const QString& defaultValue = QString()) const;
  // Decimal, or hexadecimal with a 0x prefix; anything else gives the default.
  int readInteger(const QString& section, const QString& key, int defaultValue) const;
  bool hasSection(const QString& section) const;
  bool hasKey(const QString& section, const QString& key) const;
  // Key names of the first section of that name, in file order, each once.
  QStringList sectionKeys(const QString& section) const;
  // (key, value) pairs of the first section of that name, in file order, each
  // key once with its first value.
  std::vector<std::pair<QString, QString>> sectionValues(const QString& section) const;

  QString errorString() const { return error_; }

 private:
  struct Entry {
    QString key;
    QString value;
  };
  struct Section {
    QString name;
    std::vector<Entry> entries;
  };
  const Section* findSection(const QString& name) const;
  static const Entry* findEntry(const Section& s, const QString& key);

  std::vector<Section> sections_;
  QString error_;
};

}  // namespace platform
