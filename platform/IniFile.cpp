#include "platform/IniFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

namespace platform {

namespace {

QString decode(const QByteArray& bytes) {
  auto starts = [&](std::initializer_list<unsigned char> bom) {
    if (bytes.size() < qsizetype(bom.size())) return false;
    qsizetype i = 0;
    for (unsigned char b : bom)
      if (static_cast<unsigned char>(bytes[i++]) != b) return false;
    return true;
  };
  if (starts({0xFF, 0xFE})) {
    QStringDecoder d(QStringDecoder::Utf16LE);
    return d.decode(QByteArrayView(bytes).sliced(2));
  }
  if (starts({0xFE, 0xFF})) {
    QStringDecoder d(QStringDecoder::Utf16BE);
    return d.decode(QByteArrayView(bytes).sliced(2));
  }
  if (starts({0xEF, 0xBB, 0xBF})) return QString::fromUtf8(QByteArrayView(bytes).sliced(3));
  return QString::fromUtf8(bytes);
}

// Windows' profile reader hands out a value without one pair of matching
// quotes around it (double or single), so that blanks at its ends can be
// kept; a lone or unmatched quote stays.
QString withoutSurroundingQuotes(const QString& value) {
  if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
    return value.mid(1, value.size() - 2);
  return value;
}

bool sameName(const QString& a, const QString& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

IniFile::LoadResult IniFile::load(const QString& path) {
  sections_.clear();
  error_.clear();
  QFileInfo info(path);
  if (!info.exists()) {
    error_ = QStringLiteral("%1: no such file").arg(path);
    return LoadResult::Missing;
  }
  if (!info.isFile()) {
    error_ = QStringLiteral("%1: not a regular file").arg(path);
    return LoadResult::Error;
  }
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    error_ = QStringLiteral("%1: %2").arg(path, f.errorString());
    return LoadResult::Error;
  }
  // Read one byte past the limit so a file that grew since stat() is caught.
  QByteArray bytes = f.read(kMaxFileSize + 1);
  if (f.error() != QFileDevice::NoError) {
    error_ = QStringLiteral("%1: %2").arg(path, f.errorString());
    return LoadResult::Error;
  }
  if (bytes.size() > kMaxFileSize) {
    error_ = QStringLiteral("%1: larger than %2 bytes").arg(path).arg(kMaxFileSize);
    return LoadResult::Error;
  }
  parse(bytes);
  return LoadResult::Ok;
}

void IniFile::parse(const QByteArray& bytes) {
  sections_.clear();
  const QString text = decode(bytes);
  Section* current = nullptr;
  qsizetype pos = 0;
  const qsizetype n = text.size();
  while (pos < n) {
    qsizetype end = pos;
    while (end < n && text[end] != u'\r' && text[end] != u'\n') ++end;
    const QString line = text.mid(pos, end - pos).trimmed();
    pos = end;
    if (pos < n && text[pos] == u'\r') ++pos;
    if (pos < n && text[pos] == u'\n') ++pos;

    if (line.isEmpty() || line.startsWith(u';')) continue;
    if (line.startsWith(u'[')) {
      const qsizetype close = line.indexOf(u']');
      if (close < 0) continue;
      sections_.push_back(Section{line.mid(1, close - 1).trimmed(), {}});
      current = &sections_.back();
      continue;
    }
    if (!current) continue;
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0) continue;
    const QString key = line.left(eq).trimmed();
    if (key.isEmpty()) continue;
    current->entries.push_back(Entry{key, withoutSurroundingQuotes(line.mid(eq + 1).trimmed())});
  }
}

const IniFile::Section* IniFile::findSection(const QString& name) const {
  for (const Section& s : sections_)
    if (sameName(s.name, name)) return &s;
  return nullptr;
}

const IniFile::Entry* IniFile::findEntry(const Section& s, const QString& key) {
  for (const Entry& e : s.entries)
    if (sameName(e.key, key)) return &e;
  return nullptr;
}

QString IniFile::readString(const QString& section, const QString& key,
                            const QString& defaultValue) const {
  const Section* s = findSection(section);
  if (!s) return defaultValue;
  const Entry* e = findEntry(*s, key);
  return e ? e->value : defaultValue;
}

int IniFile::readInteger(const QString& section, const QString& key, int defaultValue) const {
  const QString text = readString(section, key);
  if (text.isEmpty()) return defaultValue;
  bool ok = false;
  int value = 0;
  if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
    value = text.mid(2).toInt(&ok, 16);
  else
    value = text.toInt(&ok, 10);
  return ok ? value : defaultValue;
}

bool IniFile::hasSection(const QString& section) const { return findSection(section) != nullptr; }

bool IniFile::hasKey(const QString& section, const QString& key) const {
  const Section* s = findSection(section);
  return s && findEntry(*s, key);
}

QStringList IniFile::sectionKeys(const QString& section) const {
  QStringList keys;
  for (const auto& [k, v] : sectionValues(section)) keys << k;
  return keys;
}

std::vector<std::pair<QString, QString>> IniFile::sectionValues(const QString& section) const {
  std::vector<std::pair<QString, QString>> out;
  const Section* s = findSection(section);
  if (!s) return out;
  QSet<QString> seen;
  for (const Entry& e : s->entries) {
    const QString folded = e.key.toCaseFolded();
    if (seen.contains(folded)) continue;
    seen.insert(folded);
    out.emplace_back(e.key, e.value);
  }
  return out;
}

}  // namespace platform
