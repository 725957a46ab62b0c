#pragma once
// Ways a settings store file is found damaged, for tests of the start-up
// that sets such a store aside: each turns the bytes of a whole store into
// the damaged file.
#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>
#include <ostream>
#include <sqlite3.h>

namespace platform::testing {

struct StoreDamage {
  const char* name;
  QByteArray (*damage)(const QByteArray& whole);
};
inline void PrintTo(const StoreDamage& d, std::ostream* os) { *os << d.name; }

// Noise over a page in the middle of the file: the header and the schema
// stay readable, the values' tree does not.
inline QByteArray noiseInTheMiddle(QByteArray b) {
  const qsizetype page = 4096, at = (b.size() / page / 2) * page;
  for (qsizetype i = 0; i < page && at + i < b.size(); ++i) b[at + i] = char((i * 37) & 0xFF);
  return b;
}

// A sound database of another schema, as another program could leave at the
// store's path.
inline QByteArray databaseOf(const char* sql) {
  QTemporaryDir dir;
  const QString path = dir.filePath("other.sqlite");
  sqlite3* db = nullptr;
  if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK ||
      sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return QByteArray();
  }
  sqlite3_close(db);
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline const StoreDamage kStoreDamages[] = {
    {"NotADatabase", [](const QByteArray&) { return QByteArray(8192, 'q'); }},
    {"FailsIntegrityCheck", [](const QByteArray& whole) { return noiseInTheMiddle(whole); }},
    {"RollbackJournalFailsIntegrityCheck",
     [](const QByteArray& whole) {
       // Header bytes 18 and 19 say rollback journal, not write-ahead log.
       QByteArray b = noiseInTheMiddle(whole);
       if (b.size() > 19) b[18] = b[19] = 1;
       return b;
     }},
    {"ForeignSchemaOtherColumns",
     [](const QByteArray&) {
       return databaseOf(
           "CREATE TABLE reg_keys(root INTEGER NOT NULL, fold TEXT NOT NULL, path TEXT NOT NULL,"
           " PRIMARY KEY(root, fold));"
           "CREATE TABLE reg_values(key TEXT PRIMARY KEY, value BLOB);"
           "INSERT INTO reg_values VALUES('ALLPROFILE.pfd', x'0102');");
     }},
    {"ForeignSchemaNoPrimaryKey",
     [](const QByteArray&) {
       return databaseOf(
           "CREATE TABLE reg_keys(root INTEGER NOT NULL, fold TEXT NOT NULL, path TEXT NOT NULL);"
           "CREATE TABLE reg_values(root INTEGER NOT NULL, key_fold TEXT NOT NULL, fold TEXT NOT NULL,"
           " name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB);");
     }},
    {"CutShort", [](const QByteArray& whole) { return whole.left(whole.size() / 3); }},
    {"HeaderOnly", [](const QByteArray& whole) { return whole.left(60); }},
};

}  // namespace platform::testing
