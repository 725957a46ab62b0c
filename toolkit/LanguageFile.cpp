#include "toolkit/LanguageFile.h"

#include <QCollator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

int CompareLanguageLines(const QString& a, const QString& b) {
  // One collator for the process: QString::localeAwareCompare keeps a
  // per-thread one that is never freed.
  static const QCollator collator = [] {
    QCollator c(QLocale::system());
    c.setCaseSensitivity(Qt::CaseSensitive);
    return c;
  }();
  const int byLocale = collator.compare(a, b);
  if (byLocale != 0) return byLocale;
  return QString::compare(a, b, Qt::CaseSensitive);
}

QStringList SplitLanguageLines(QStringView text) {
  QStringList lines;
  qsizetype start = 0;
  qsizetype i = 0;
  const qsizetype n = text.size();
  auto flush = [&](qsizetype end) {
    if (end > start) lines.append(text.mid(start, end - start).toString());
  };
  for (; i < n; ++i) {
    const char16_t c = text[i].unicode();
    if (c == 0) break;
    if (c == u'\r' || c == u'\n' || c == 0x0B || c == 0x0C || c == 0x2028 || c == 0x2029) {
      flush(i);
      if (c == u'\r' && i + 1 < n && text[i + 1].unicode() == u'\n') ++i;
      start = i + 1;
    }
  }
  flush(i);
  return lines;
}

void SortLanguageLines(QStringList& lines) {
  std::sort(lines.begin(), lines.end(),
            [](const QString& a, const QString& b) { return CompareLanguageLines(a, b) < 0; });
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
}

QString LanguageLineKey(const QString& line) {
  const qsizetype eq = line.indexOf(u'=');
  return eq < 0 ? QString() : line.left(eq);
}

QString LanguageLineValue(const QString& line) {
  const qsizetype eq = line.indexOf(u'=');
  return eq < 0 ? QString() : line.mid(eq + 1);
}

namespace {

// A bounds-checked little-endian cursor over the file's bytes.
class Reader {
 public:
  explicit Reader(const QByteArray& bytes) : data_(bytes.constData()), size_(bytes.size()) {}

  qsizetype left() const { return size_ - pos_; }

  bool int32(qint32& value) {
    if (left() < 4) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(data_ + pos_);
    const quint32 u = quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) |
                      (quint32(p[3]) << 24);
    value = static_cast<qint32>(u);
    pos_ += 4;
    return true;
  }

  // A string; `what` names the field for the error text.
  bool string(QString& value, const char* what, QString* error) {
    qint32 count = 0;
    if (!int32(count)) return fail(error, QStringLiteral("file ends inside the length of %1").arg(what));
    if (count < 0) return fail(error, QStringLiteral("negative length %1 of %2").arg(count).arg(what));
    if (qint64(count) * 2 > left())
      return fail(error, QStringLiteral("%1 of %2 units runs past the end of the file").arg(what).arg(count));
    value.resize(count);
    auto* out = reinterpret_cast<char16_t*>(value.data());
    const auto* p = reinterpret_cast<const unsigned char*>(data_ + pos_);
    for (qint32 i = 0; i < count; ++i) out[i] = char16_t(p[2 * i] | (p[2 * i + 1] << 8));
    pos_ += qsizetype(count) * 2;
    return true;
  }

 private:
  static bool fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
  }

  const char* data_;
  qsizetype size_;
  qsizetype pos_ = 0;
};

void putInt32(QByteArray& out, qint32 value) {
  const auto u = static_cast<quint32>(value);
  const char b[4] = {char(u & 0xFF), char((u >> 8) & 0xFF), char((u >> 16) & 0xFF),
                     char((u >> 24) & 0xFF)};
  out.append(b, 4);
}

void putString(QByteArray& out, const QString& s) {
  putInt32(out, qint32(s.size()));
  for (QChar c : s) {
    const char16_t u = c.unicode();
    out.append(char(u & 0xFF));
    out.append(char(u >> 8));
  }
}

QString joinLines(const QStringList& lines) {
  QString s;
  for (const QString& line : lines) {
    s += line;
    s += QStringLiteral("\r\n");
  }
  return s;
}

}  // namespace

bool ParseLanguageFile(const QByteArray& bytes, TLanguageData& out, QString* error,
                       QString* warning) {
  if (bytes.size() > kMaxLanguageFileSize) {
    if (error) *error = QStringLiteral("file of %1 bytes is too large").arg(bytes.size());
    return false;
  }
  Reader in(bytes);
  TLanguageData data;
  QString texts;
  if (!in.string(texts, "the untranslated texts", error)) return false;
  data.Original = SplitLanguageLines(texts);
  SortLanguageLines(data.Original);

  qint32 count = 0;
  if (!in.int32(count)) {
    if (error) *error = QStringLiteral("file ends before the language count");
    return false;
  }
  // Every language needs at least its two lengths.
  if (count < 0 || qint64(count) * 8 > in.left()) {
    if (error) *error = QStringLiteral("language count %1 does not fit the file").arg(count);
    return false;
  }
  data.Languages.reserve(size_t(count));
  for (qint32 k = 0; k < count; ++k) {
    TLanguageEntry entry;
    QString table;
    if (!in.string(entry.Name, "a language name", error)) return false;
    if (!in.string(table, "a language table", error)) return false;
    entry.Table = SplitLanguageLines(table);
    SortLanguageLines(entry.Table);
    data.Languages.push_back(std::move(entry));
  }
  if (warning) {
    *warning = in.left() > 0
                   ? QStringLiteral("%1 bytes after the last language ignored").arg(in.left())
                   : QString();
  }
  out = std::move(data);
  return true;
}

QByteArray SerializeLanguageFile(const TLanguageData& data) {
  QByteArray out;
  QStringList original = data.Original;
  SortLanguageLines(original);
  putString(out, joinLines(original));
  putInt32(out, qint32(data.Languages.size()));
  for (const TLanguageEntry& entry : data.Languages) {
    putString(out, entry.Name);
    QStringList table = entry.Table;
    SortLanguageLines(table);
    putString(out, joinLines(table));
  }
  return out;
}

bool LoadLanguageFile(const QString& path, TLanguageData& out, QString* error, QString* warning) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    return false;
  }
  if (file.size() > kMaxLanguageFileSize) {
    if (error) *error = QStringLiteral("%1 is too large (%2 bytes)").arg(path).arg(file.size());
    return false;
  }
  const QByteArray bytes = file.read(kMaxLanguageFileSize + 1);
  if (file.error() != QFileDevice::NoError) {
    if (error) *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    return false;
  }
  return ParseLanguageFile(bytes, out, error, warning);
}

bool SaveLanguageFile(const QString& path, const TLanguageData& data, QString* error) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    if (error) *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
  }
  const QByteArray bytes = SerializeLanguageFile(data);
  if (file.write(bytes) != bytes.size() || !file.commit()) {
    if (error) *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return false;
  }
  return true;
}
