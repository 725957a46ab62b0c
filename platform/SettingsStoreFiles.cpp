#include "platform/SettingsStoreFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::storefiles {

namespace {

QString strerr(int e) { return QString::fromLocal8Bit(std::strerror(e)); }

// Missing levels are made 0700; the store's own folder, when it is ours and
// open to others, is narrowed: every local user could read the settings
// otherwise.
bool makePrivateFolder(const QString& folder, const QString& storeFolder, QString& error) {
  const QByteArray native = QFile::encodeName(folder);
  struct stat st {};
  if (::stat(native.constData(), &st) != 0) {
    const QString parent = QFileInfo(folder).absolutePath();
    if (parent != folder && !makePrivateFolder(parent, storeFolder, error)) return false;
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST) {
      error = QStringLiteral("cannot create folder %1: %2").arg(folder, strerr(errno));
      return false;
    }
    if (::stat(native.constData(), &st) != 0) st = {};
  }
  if (!S_ISDIR(st.st_mode)) {
    error = QStringLiteral("cannot create folder %1: %2").arg(folder, strerr(ENOTDIR));
    return false;
  }
  if (folder == storeFolder && st.st_uid == ::getuid() && (st.st_mode & 077) != 0)
    ::chmod(native.constData(), st.st_mode & 0700);
  return true;
}

// A regular file of ours that is open to others is narrowed to 0600.
void narrowByPath(const QByteArray& native) {
  struct stat st {};
  if (::lstat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) return;
  if ((st.st_mode & 077) != 0) ::chmod(native.constData(), st.st_mode & 0600);
}

bool exists(const QString& path) {
  struct stat st {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 || errno != ENOENT;
}

bool renameNoReplace(const QString& from, const QString& to) {
  return ::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD, QFile::encodeName(to).constData(),
                     RENAME_NOREPLACE) == 0;
}

// The columns of a table of ours: name, declared type, NOT NULL, place in
// the primary key (0: not part of it).
struct Column {
  const char* name;
  const char* type;
  bool notNull;
  int pk;
};
struct Table {
  const char* name;
  std::initializer_list<Column> columns;
};
const Table kTables[] = {
    {"reg_keys", {{"root", "INTEGER", true, 1}, {"fold", "TEXT", true, 2}, {"path", "TEXT", true, 0}}},
    {"reg_values",
     {{"root", "INTEGER", true, 1},
      {"key_fold", "TEXT", true, 2},
      {"fold", "TEXT", true, 3},
      {"name", "TEXT", true, 0},
      {"type", "INTEGER", true, 0},
      {"data", "BLOB", false, 0}}},
};

class Reader {
 public:
  explicit Reader(sqlite3* db) : db_(db) {}
  // Rows of sql as text columns; false on any error.
  bool rows(const QString& sql, QList<QStringList>& out) {
    sqlite3_stmt* st = nullptr;
    const QByteArray u = sql.toUtf8();
    if (sqlite3_prepare_v2(db_, u.constData(), int(u.size()), &st, nullptr) != SQLITE_OK) return false;
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      QStringList row;
      for (int i = 0; i < sqlite3_column_count(st); ++i) {
        const unsigned char* t = sqlite3_column_text(st, i);
        row << QString::fromUtf8(t ? reinterpret_cast<const char*>(t) : "");
      }
      out << row;
    }
    sqlite3_finalize(st);
    return rc == SQLITE_DONE;
  }

 private:
  sqlite3* db_;
};

// What in the schema is not ours; empty when it all is (or there is none).
QString foreignSchema(Reader& r, bool& readable) {
  QList<QStringList> objects;
  readable = r.rows(QStringLiteral("SELECT type, name FROM sqlite_master WHERE name NOT LIKE 'sqlite\\_%' ESCAPE '\\'"),
                    objects);
  if (!readable) return {};
  for (const QStringList& o : objects) {
    const Table* table = nullptr;
    for (const Table& t : kTables)
      if (o[0] == QLatin1String("table") && o[1] == QLatin1String(t.name)) table = &t;
    if (!table) return QStringLiteral("%1 %2 is not one of the store's").arg(o[0], o[1]);
    QList<QStringList> columns;  // cid, name, type, notnull, dflt_value, pk
    readable = r.rows(QStringLiteral("PRAGMA table_info(\"%1\")").arg(o[1]), columns);
    if (!readable) return {};
    bool same = columns.size() == qsizetype(table->columns.size());
    qsizetype i = 0;
    for (const Column& c : table->columns) {
      if (!same) break;
      const QStringList& got = columns[i++];
      same = got[1] == QLatin1String(c.name) && got[2].compare(QLatin1String(c.type), Qt::CaseInsensitive) == 0 &&
             (got[3] == QLatin1String("1")) == c.notNull && got[5].toInt() == c.pk;
    }
    if (!same) return QStringLiteral("table %1 has other columns or another primary key").arg(o[1]);
  }
  return {};
}

}  // namespace

bool preparePlace(const QString& storePath, QString& error) {
  const QString folder = QFileInfo(storePath).absolutePath();
  if (!makePrivateFolder(folder, folder, error)) return false;
  const QByteArray native = QFile::encodeName(storePath);
  struct stat st {};
  if (::lstat(native.constData(), &st) != 0) {
    if (errno != ENOENT) {
      error = QStringLiteral("%1: %2").arg(storePath, strerr(errno));
      return false;
    }
    // A new file: no connection of this process can hold a lock on it, so
    // closing this descriptor drops nothing.
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno != EEXIST) {
      error = QStringLiteral("%1: %2").arg(storePath, strerr(errno));
      return false;
    }
    if (fd >= 0) ::close(fd);
  } else if (S_ISDIR(st.st_mode)) {
    error = QStringLiteral("%1: %2").arg(storePath, strerr(EISDIR));
    return false;
  }
  narrowByPath(native);
  for (const char* suffix : kCompanions) narrowByPath(native + suffix);
  return true;
}

UseLock::UseLock(QString storePath) : path_(std::move(storePath)) {}

UseLock::~UseLock() {
  if (fd_ >= 0) ::close(fd_);  // the locks of this description go with it
}

bool UseLock::openFile(QString& error) {
  if (fd_ >= 0) return true;
  const QString lockPath = path_ + QStringLiteral(".lock");
  fd_ = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) error = QStringLiteral("%1: %2").arg(lockPath, strerr(errno));
  return fd_ >= 0;
}

bool UseLock::set(short type, off_t byte, bool wait, QString* error) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  int rc;
  do {
    rc = ::fcntl(fd_, wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0 && error) *error = QStringLiteral("%1.lock: %2").arg(path_, strerr(errno));
  return rc == 0;
}

constexpr off_t kStartByte = 0, kUseByte = 1;

bool UseLock::lockStart(QString& error) { return openFile(error) && set(F_WRLCK, kStartByte, true, &error); }

void UseLock::unlockStart() {
  if (fd_ >= 0) set(F_UNLCK, kStartByte, false, nullptr);
}

bool UseLock::shareUse(QString& error) {
  if (use_ == Use::Shared) return true;
  if (!openFile(error) || !set(F_RDLCK, kUseByte, true, &error)) return false;
  use_ = Use::Shared;
  return true;
}

bool UseLock::tryExclusiveUse() {
  QString ignored;
  if (!openFile(ignored) || !set(F_WRLCK, kUseByte, false, nullptr)) return false;
  use_ = Use::Exclusive;
  return true;
}

Examination examine(const QString& storePath) {
  Examination out;
  struct stat st {};
  if (::lstat(QFile::encodeName(storePath).constData(), &st) != 0) return out;  // made fresh
  out.inode = st.st_ino;
  out.device = st.st_dev;
  if (st.st_size == 0) return out;
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(storePath.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  auto verdict = [&](const char* what) {
    const int code = sqlite3_extended_errcode(db) & 0xFF;
    out.verdict = code == SQLITE_NOTADB || code == SQLITE_CORRUPT ? Examination::Damaged : Examination::Failed;
    out.why = QStringLiteral("%1: %2: %3")
                  .arg(storePath, QLatin1String(what), QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory"));
  };
  if (rc != SQLITE_OK) {
    verdict("open");
    sqlite3_close_v2(db);
    return out;
  }
  // Closing this connection must not write the file it examined.
  sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_busy_timeout(db, 5000);
  Reader reader(db);
  QList<QStringList> check;
  bool readable = false;
  // Every page is read once; a store of a few profiles takes milliseconds.
  if (!reader.rows(QStringLiteral("PRAGMA integrity_check(1)"), check)) {
    verdict("integrity check");
  } else if (check.isEmpty() || check[0].value(0) != QLatin1String("ok")) {
    out.verdict = Examination::Damaged;
    out.why = QStringLiteral("%1: integrity check: %2").arg(storePath, check.value(0).value(0));
  } else if (const QString foreign = foreignSchema(reader, readable); !readable) {
    verdict("schema");
  } else if (!foreign.isEmpty()) {
    out.verdict = Examination::Damaged;
    out.why = QStringLiteral("%1: not a settings store: %2").arg(storePath, foreign);
  }
  sqlite3_close_v2(db);
  return out;
}

SetAside setAside(const QString& storePath, const QDateTime& nowUtc) {
  SetAside out;
  const QString stamp = nowUtc.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
  for (int n = 1; n <= 100 && out.aside.isEmpty(); ++n) {
    QString aside = storePath + QStringLiteral(".damaged-") + stamp;
    if (n > 1) aside += QStringLiteral("-%1").arg(n);
    // A name whose journal names are free too, so the copy keeps its
    // journals under the names SQLite looks for.
    bool free = !exists(aside);
    for (const char* suffix : kCompanions) free = free && !exists(aside + QLatin1String(suffix));
    if (!free) continue;
    if (renameNoReplace(storePath, aside)) {
      out.aside = aside;
    } else if (errno != EEXIST) {
      out.error = strerr(errno);
      return out;
    }
  }
  if (out.aside.isEmpty()) {
    out.error = QStringLiteral("too many damaged copies beside it");
    return out;
  }
  // A journal left beside the fresh store would be played into it; beside
  // the damaged copy it stays part of that copy.
  for (const char* suffix : kCompanions) {
    const QString from = storePath + QLatin1String(suffix);
    QString to = out.aside + QLatin1String(suffix);
    bool moved = renameNoReplace(from, to);
    for (int k = 2; !moved && errno == EEXIST && k <= 100; ++k) {
      to = out.aside + QLatin1String(suffix) + QStringLiteral(".%1").arg(k);
      moved = renameNoReplace(from, to);
    }
    if (!moved && errno != ENOENT) {
      out.error = QStringLiteral("%1 could not be moved beside it: %2").arg(from, strerr(errno));
      return out;
    }
  }
  out.ok = true;
  return out;
}

}  // namespace platform::storefiles
