#include "platform/RegistryStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <iterator>
#include <mutex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SettingsStoreFiles.h"

namespace platform {

namespace {

// Value types, numbered as the registry numbers them.
constexpr int kTypeBinary = 3;
constexpr int kTypeInteger = 4;

// A database locked by another connection that commits nothing for this
// long (stuck, not busy) makes a call give up with Error.
constexpr int kBusyTimeoutMs = 5000;

// No value the programs store comes near this; a bigger one is damage.
constexpr int kMaxValueSize = 16 * 1024 * 1024;

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    " root INTEGER NOT NULL, fold TEXT NOT NULL, path TEXT NOT NULL,"
    " PRIMARY KEY(root, fold));"
    "CREATE TABLE IF NOT EXISTS reg_values("
    " root INTEGER NOT NULL, key_fold TEXT NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB,"
    " PRIMARY KEY(root, key_fold, fold));";

bool validRoot(RegistryRoot root) {
  return root == HKEY_CURRENT_USER || root == HKEY_LOCAL_MACHINE;
}

// "software\Orvelline" and "\software\Orvelline\" name the same key; the
// parts are kept with the caller's spelling.
QStringList keyParts(const QString& keyPath) {
  return keyPath.split(u'\\', Qt::SkipEmptyParts);
}

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool ok() const { return rc_ == SQLITE_OK && stmt_; }
  int prepareCode() const { return rc_; }
  sqlite3_stmt* get() const { return stmt_; }
  void bindText(int i, const QString& s) {
    const QByteArray u = s.toUtf8();
    sqlite3_bind_text(stmt_, i, u.constData(), static_cast<int>(u.size()), SQLITE_TRANSIENT);
  }
  void bindInt(int i, qint64 v) { sqlite3_bind_int64(stmt_, i, v); }
  void bindBlob(int i, const QByteArray& b) {
    if (b.isEmpty())
      sqlite3_bind_zeroblob(stmt_, i, 0);
    else
      sqlite3_bind_blob(stmt_, i, b.constData(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
  }
  int step() { return sqlite3_step(stmt_); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_ERROR;
};

class SqliteRegistryStore final : public RegistryStore {
 public:
  explicit SqliteRegistryStore(QString path) : path_(std::move(path)) {}
  ~SqliteRegistryStore() override {
    if (db_) sqlite3_close_v2(db_);
  }

  RegStatus readBinary(RegistryRoot root, const QString& keyPath, const QString& name,
                       QByteArray& data) override {
    std::lock_guard lock(mutex_);
    Target t;
    if (!prepare(root, keyPath, name, t)) return RegStatus::Error;
    int type = 0;
    QByteArray bytes;
    qint64 integer = 0;
    const RegStatus st = selectValue(t, type, bytes, integer);
    if (st != RegStatus::Ok) return st;
    if (type != kTypeBinary) return fail(QStringLiteral("value %1 is not binary").arg(name));
    data = bytes;
    return RegStatus::Ok;
  }

  RegStatus writeBinary(RegistryRoot root, const QString& keyPath, const QString& name,
                        const QByteArray& data) override {
    std::lock_guard lock(mutex_);
    Target t;
    if (!prepare(root, keyPath, name, t)) return RegStatus::Error;
    if (data.size() > kMaxValueSize) return fail(QStringLiteral("value %1 too large").arg(name));
    return inTransaction([&] { return createKeys(t) && upsert(t, kTypeBinary, &data, 0); });
  }

  RegStatus readInteger(RegistryRoot root, const QString& keyPath, const QString& name,
                        std::int32_t& value) override {
    std::lock_guard lock(mutex_);
    Target t;
    if (!prepare(root, keyPath, name, t)) return RegStatus::Error;
    int type = 0;
    QByteArray bytes;
    qint64 integer = 0;
    const RegStatus st = selectValue(t, type, bytes, integer);
    if (st != RegStatus::Ok) return st;
    if (type != kTypeInteger || integer < INT32_MIN || integer > UINT32_MAX)
      return fail(QStringLiteral("value %1 is not an integer").arg(name));
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(integer & 0xFFFFFFFF));
    return RegStatus::Ok;
  }

  RegStatus writeInteger(RegistryRoot root, const QString& keyPath, const QString& name,
                         std::int32_t value, bool onlyIfKeyExists) override {
    std::lock_guard lock(mutex_);
    Target t;
    if (!prepare(root, keyPath, name, t)) return RegStatus::Error;
    bool absent = false;
    const RegStatus st = inTransaction([&] {
      if (onlyIfKeyExists) {
        const RegStatus k = selectKey(t);
        if (k == RegStatus::Error) return false;
        if (k == RegStatus::Absent) {
          absent = true;
          return true;  // commit nothing
        }
      } else if (!createKeys(t)) {
        return false;
      }
      return upsert(t, kTypeInteger, nullptr, value);
    });
    if (st == RegStatus::Ok && absent) return RegStatus::Absent;
    return st;
  }

  RegStatus valueExists(RegistryRoot root, const QString& keyPath, const QString& name) override {
    std::lock_guard lock(mutex_);
    Target t;
    if (!prepare(root, keyPath, name, t)) return RegStatus::Error;
    int type = 0;
    QByteArray bytes;
    qint64 integer = 0;
    return selectValue(t, type, bytes, integer);
  }

  RegStatus keyExists(RegistryRoot root, const QString& keyPath) override {
    std::lock_guard lock(mutex_);
    Target t;
    if (!prepare(root, keyPath, QStringLiteral("-"), t)) return RegStatus::Error;
    return selectKey(t);
  }

  RegStatus updateBinary(RegistryRoot root, const QString& keyPath, const QString& name,
                         const std::function<bool(QByteArray&, RegStatus)>& edit) override {
    std::lock_guard lock(mutex_);
    Target t;
    if (!prepare(root, keyPath, name, t)) return RegStatus::Error;
    return inTransaction([&] {
      int type = 0;
      QByteArray bytes;
      qint64 integer = 0;
      const RegStatus st = selectValue(t, type, bytes, integer);
      if (st == RegStatus::Error) return false;
      if (st == RegStatus::Ok && type != kTypeBinary) {
        fail(QStringLiteral("value %1 is not binary").arg(name));
        return false;
      }
      if (!edit(bytes, st)) return true;
      if (bytes.size() > kMaxValueSize) {
        fail(QStringLiteral("value %1 too large").arg(name));
        return false;
      }
      return createKeys(t) && upsert(t, kTypeBinary, &bytes, 0);
    });
  }

  QString lastError() const override {
    std::lock_guard lock(mutex_);
    return error_;
  }

  // The start-up open: see openSqliteRegistryStoreAtStart.
  void openAtStart(RegistryStoreAtStart& out) {
    std::lock_guard lock(mutex_);
    const bool opened = finish(startUp());
    if (!damagedInUse_.isEmpty()) {
      out.notice = QStringLiteral("The settings store %1 is damaged (%2). Another program has it open, so both go "
                                  "on with it; it will be set aside when both programs have ended.")
                       .arg(path_, damagedInUse_);
      return;
    }
    out.damagedPath = damagedPath_;
    if (opened) {
      if (!damagedPath_.isEmpty())
        out.notice = QStringLiteral("The settings store %1 was damaged. It was moved to %2 and a new, empty "
                                    "store was made; settings kept in it start again from their defaults.")
                         .arg(path_, damagedPath_);
    } else if (!damagedPath_.isEmpty()) {
      out.notice = QStringLiteral("The settings store %1 was damaged and was moved to %2, but no new store can "
                                  "be made: %3. Settings will not be saved.")
                       .arg(path_, damagedPath_, error_);
    } else {
      out.notice = QStringLiteral("The settings store cannot be opened: %1. Settings will not be saved.").arg(error_);
    }
  }

 private:
  struct Target {
    RegistryRoot root = 0;
    QStringList parts;  // key path parts, caller's spelling
    QString keyFold;    // whole key path, case-folded, '\' between parts
    QString name;
    QString nameFold;
  };

  RegStatus fail(const QString& message) {
    error_ = message;
    return RegStatus::Error;
  }
  RegStatus failDb(const char* what) {
    return fail(QStringLiteral("%1: %2: %3").arg(path_, QLatin1String(what),
                                                  QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : "not open")));
  }

  // Validates the arguments before anything touches the database, then opens it.
  bool prepare(RegistryRoot root, const QString& keyPath, const QString& name, Target& t) {
    t.root = root;
    t.parts = keyParts(keyPath);
    if (!validRoot(root) || t.parts.isEmpty() || name.isEmpty()) {
      fail(QStringLiteral("invalid root, key or value name"));
      return false;
    }
    t.keyFold = t.parts.join(u'\\').toCaseFolded();
    t.name = name;
    t.nameFold = name.toCaseFolded();
    return open();
  }

  // Any later open: the store as it is, damaged or not, shared with the
  // other program.
  bool open() {
    return db_ || finish(storefiles::preparePlace(path_, error_) && useLock_.shareUse(error_) && connect());
  }

  // Every reason a store could not be opened names the store first.
  bool finish(bool opened) {
    if (!opened && !error_.startsWith(path_)) error_ = QStringLiteral("%1: %2").arg(path_, error_);
    return opened;
  }

  // A program's start, one at a time: the store is examined as it is found,
  // before anything writes to it. A damaged one is set aside and replaced
  // by a fresh one only when no other store has it open; otherwise this one
  // goes on with it too, so the two programs never part onto two files.
  bool startUp() {
    if (!storefiles::preparePlace(path_, error_) || !useLock_.lockStart(error_)) return false;
    struct EndOfStart {
      storefiles::UseLock& lock;
      ~EndOfStart() { lock.unlockStart(); }
    } endOfStart{useLock_};
    const storefiles::Examination found = storefiles::examine(path_);
    if (found.verdict == storefiles::Examination::Failed) {
      error_ = found.why;
      return false;
    }
    if (found.verdict == storefiles::Examination::Damaged) {
      if (!useLock_.tryExclusiveUse()) {
        damagedInUse_ = found.why.startsWith(path_ + QStringLiteral(": ")) ? found.why.mid(path_.size() + 2)
                                                                           : found.why;
      } else {
        const storefiles::SetAside moved = storefiles::setAside(path_, QDateTime::currentDateTimeUtc());
        damagedPath_ = moved.aside;
        if (!moved.ok) {
          error_ = damagedPath_.isEmpty()
                       ? QStringLiteral("%1; it could not be moved aside: %2").arg(found.why, moved.error)
                       : moved.error;
          return false;
        }
        if (!storefiles::preparePlace(path_, error_)) return false;
      }
    }
    return useLock_.shareUse(error_) && connect();
  }

  bool connect() {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path_.toUtf8().constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      error_ = QStringLiteral("%1: %2").arg(path_, QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory"));
      sqlite3_close_v2(db);
      return false;
    }
    db_ = db;
    sqlite3_busy_handler(db_, &SqliteRegistryStore::waitWhileOthersWrite, this);
    // WAL lets one program read while the other writes. The schema is made
    // in a write transaction so two first starts at once do not trip over
    // each other.
    if (exec("PRAGMA journal_mode=WAL") && exec("BEGIN IMMEDIATE")) {
      if (sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) == SQLITE_OK && exec("COMMIT")) return true;
      failDb("create tables");
      exec("ROLLBACK");
    } else {
      failDb("open");
    }
    sqlite3_close_v2(db_);
    db_ = nullptr;
    return false;
  }

  // SQLite's busy handler. A writer that commits again and again (the other
  // program storing a burst of values) never makes a call here fail: the
  // wait ends only when the store stays locked with no commit at all for
  // kBusyTimeoutMs, that is when the other side is stuck, not busy. Every
  // commit changes the write-ahead log.
  static int waitWhileOthersWrite(void* self, int count) {
    auto* store = static_cast<SqliteRegistryStore*>(self);
    const auto now = std::chrono::steady_clock::now();
    const LogMark mark = LogMark::of(store->path_);
    if (count == 0 || !(mark == store->busyMark_)) {
      store->busyMark_ = mark;
      store->busySince_ = now;
    }
    if (now - store->busySince_ > std::chrono::milliseconds(kBusyTimeoutMs)) return 0;
    static constexpr int kDelaysMs[] = {1, 2, 5, 10};
    ::usleep(useconds_t(kDelaysMs[std::min<size_t>(size_t(count), std::size(kDelaysMs) - 1)]) * 1000);
    return 1;
  }

  struct LogMark {
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool operator==(const LogMark& o) const {
      return inode == o.inode && size == o.size && modified.tv_sec == o.modified.tv_sec &&
             modified.tv_nsec == o.modified.tv_nsec;
    }
    static LogMark of(const QString& path) {
      struct stat st {};
      if (::stat(QFile::encodeName(path + QStringLiteral("-wal")).constData(), &st) != 0) return {};
      return {st.st_ino, st.st_size, st.st_mtim};
    }
  };

  bool firstRow(const char* sql, QString& out) {
    Statement s(db_, sql);
    if (!s.ok()) return false;
    const int rc = s.step();
    if (rc == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(s.get(), 0);
      out = QString::fromUtf8(text ? reinterpret_cast<const char*>(text) : "");
      return true;
    }
    return false;
  }

  bool exec(const char* sql) {
    Statement s(db_, sql);
    if (!s.ok()) return false;
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE;
  }

  // Runs body in BEGIN IMMEDIATE ... COMMIT; body returns false on failure
  // (having set the error or leaving it to the database's message).
  template <class Body>
  RegStatus inTransaction(Body body) {
    if (!exec("BEGIN IMMEDIATE")) return failDb("begin");
    error_.clear();
    bool ok = false;
    try {
      ok = body();
    } catch (...) {
      ok = false;
      error_ = QStringLiteral("update failed");
    }
    if (ok && exec("COMMIT")) return RegStatus::Ok;
    const QString why = error_;
    const RegStatus st = why.isEmpty() ? failDb("write") : fail(why);
    exec("ROLLBACK");
    return st;
  }

  RegStatus selectKey(const Target& t) {
    Statement s(db_, "SELECT 1 FROM reg_keys WHERE root=?1 AND fold=?2");
    if (!s.ok()) return failDb("read");
    s.bindInt(1, t.root);
    s.bindText(2, t.keyFold);
    const int rc = s.step();
    if (rc == SQLITE_ROW) return RegStatus::Ok;
    if (rc == SQLITE_DONE) return RegStatus::Absent;
    return failDb("read");
  }

  RegStatus selectValue(const Target& t, int& type, QByteArray& bytes, qint64& integer) {
    Statement s(db_, "SELECT type, data FROM reg_values WHERE root=?1 AND key_fold=?2 AND fold=?3");
    if (!s.ok()) return failDb("read");
    s.bindInt(1, t.root);
    s.bindText(2, t.keyFold);
    s.bindText(3, t.nameFold);
    const int rc = s.step();
    if (rc == SQLITE_DONE) return RegStatus::Absent;
    if (rc != SQLITE_ROW) return failDb("read");
    type = sqlite3_column_int(s.get(), 0);
    const int colType = sqlite3_column_type(s.get(), 1);
    if (type == kTypeInteger) {
      if (colType != SQLITE_INTEGER) return fail(QStringLiteral("value %1 is damaged").arg(t.name));
      integer = sqlite3_column_int64(s.get(), 1);
      return RegStatus::Ok;
    }
    if (type == kTypeBinary) {
      if (colType != SQLITE_BLOB && colType != SQLITE_NULL)
        return fail(QStringLiteral("value %1 is damaged").arg(t.name));
      const int n = sqlite3_column_bytes(s.get(), 1);
      if (n < 0 || n > kMaxValueSize) return fail(QStringLiteral("value %1 is damaged").arg(t.name));
      const void* p = sqlite3_column_blob(s.get(), 1);
      bytes = n > 0 && p ? QByteArray(static_cast<const char*>(p), n) : QByteArray();
      return RegStatus::Ok;
    }
    // A type this store never writes: report it like the registry would a
    // string value where a binary one is expected.
    return RegStatus::Ok;
  }

  bool createKeys(const Target& t) {
    Statement s(db_, "INSERT OR IGNORE INTO reg_keys(root, fold, path) VALUES(?1, ?2, ?3)");
    if (!s.ok()) return false;
    for (qsizetype i = 1; i <= t.parts.size(); ++i) {
      const QString path = QStringList(t.parts.mid(0, i)).join(u'\\');
      sqlite3_reset(s.get());
      s.bindInt(1, t.root);
      s.bindText(2, path.toCaseFolded());
      s.bindText(3, path);
      if (s.step() != SQLITE_DONE) return false;
    }
    return true;
  }

  bool upsert(const Target& t, int type, const QByteArray* blob, qint64 integer) {
    Statement s(db_,
                "INSERT INTO reg_values(root, key_fold, fold, name, type, data) VALUES(?1,?2,?3,?4,?5,?6)"
                " ON CONFLICT(root, key_fold, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
    if (!s.ok()) return false;
    s.bindInt(1, t.root);
    s.bindText(2, t.keyFold);
    s.bindText(3, t.nameFold);
    s.bindText(4, t.name);
    s.bindInt(5, type);
    if (blob)
      s.bindBlob(6, *blob);
    else
      s.bindInt(6, integer);
    return s.step() == SQLITE_DONE;
  }

  const QString path_;
  storefiles::UseLock useLock_{path_};
  QString damagedPath_;   // where this start set a damaged store aside
  QString damagedInUse_;  // why the store is damaged, when another has it open
  LogMark busyMark_;
  std::chrono::steady_clock::time_point busySince_;
  sqlite3* db_ = nullptr;
  mutable std::mutex mutex_;
  QString error_;
};

}  // namespace

std::unique_ptr<RegistryStore> openSqliteRegistryStore(const QString& databasePath) {
  return std::make_unique<SqliteRegistryStore>(databasePath);
}

RegistryStoreAtStart openSqliteRegistryStoreAtStart(const QString& databasePath) {
  RegistryStoreAtStart out;
  auto store = std::make_unique<SqliteRegistryStore>(databasePath);
  store->openAtStart(out);
  out.store = std::move(store);
  return out;
}

QString defaultRegistryStorePath() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.config");
  return base + QStringLiteral("/gaming-mouse/registry.sqlite");
}

}  // namespace platform
