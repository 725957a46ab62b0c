#pragma once
// The settings store's files, apart from what is in them: where they may lie
// and with which modes, the lock that tells the programs using the store
// from a start that would set it aside, the examination of a store at a
// program's start and the set-aside of a damaged one. The SQL access is the
// store's own (SqliteRegistryStore.cpp).
#include <QDateTime>
#include <QString>
#include <sys/types.h>

namespace platform::storefiles {

// --- file policy

// The store's folder and file made ready before any database connection
// sees them: missing folder levels are made 0700, the store's own folder,
// when it is ours and open to others, is narrowed to 0700 (folders above it
// are the user's business), a missing store file is made empty with 0600,
// and an existing store file and its journal files of ours are narrowed to
// 0600 (SQLite gives its journal files the mode of the database file).
// Modes are changed by path after lstat: opening and closing a descriptor
// of the database would drop every POSIX lock this process holds on it,
// SQLite's for its open connections too. False with the reason in error.
bool preparePlace(const QString& storePath, QString& error);

// The journal files SQLite keeps beside a database, as suffixes of its path.
inline constexpr const char* kCompanions[] = {"-wal", "-shm", "-journal"};

// --- the lock of the store's users

// Open-file-description locks on "<store>.lock" beside the store: every
// store that has the database open holds the use lock shared; a start that
// sets the store aside holds it exclusively, and only when it gets it at
// once. Starts examine one at a time under the start lock. The locks belong
// to this object alone (another one in the same process is another user)
// and are never dropped by closing some other descriptor.
class UseLock {
 public:
  explicit UseLock(QString storePath);
  ~UseLock();
  UseLock(const UseLock&) = delete;
  UseLock& operator=(const UseLock&) = delete;

  // Waits while another start examines the store.
  bool lockStart(QString& error);
  void unlockStart();
  // Shared use; waits while a start sets the store aside.
  bool shareUse(QString& error);
  // Exclusive use, only when no other user holds it; a shared use this
  // object holds is kept when that fails.
  bool tryExclusiveUse();
  bool holdsUse() const { return use_ != Use::None; }

 private:
  enum class Use { None, Shared, Exclusive };
  bool openFile(QString& error);
  bool set(short type, off_t byte, bool wait, QString* error);

  QString path_;
  int fd_ = -1;
  Use use_ = Use::None;
};

// --- examination and set-aside

struct Examination {
  enum Verdict {
    Sound,    // a store of ours, or empty or missing: it may be opened
    Damaged,  // not a database, failing its integrity check, another schema
    Failed,   // could not be examined (the reason is no damage of the file)
  };
  Verdict verdict = Sound;
  QString why;  // for Damaged and Failed, naming the file
  ino_t inode = 0;
  dev_t device = 0;
};

// Reads the store without writing a byte of it: integrity and schema. The
// journal mode is not touched and no checkpoint is run on closing.
Examination examine(const QString& storePath);

struct SetAside {
  bool ok = false;
  QString aside;  // where the database now lies
  QString error;
};

// Renames the database to "<path>.damaged-<UTC date and time>" (with "-2",
// "-3" ... when that name or one of its journal names is taken) and its
// journal files beside it, never over anything and never deleting: a
// journal whose name is taken after all gets a number of its own. Only
// while the use lock is held exclusively.
SetAside setAside(const QString& storePath, const QDateTime& nowUtc);

}  // namespace platform::storefiles
