#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// Root keys, with the values the programs have always stored for them.
using RegistryRoot = std::uint32_t;
inline constexpr RegistryRoot HKEY_CURRENT_USER = 0x80000001u;
inline constexpr RegistryRoot HKEY_LOCAL_MACHINE = 0x80000002u;

// Every answer of the store keeps three cases apart. Only Absent may lead a
// caller to write defaults; an Error means the data may exist and must not be
// overwritten.
enum class RegStatus {
  Ok,      // done / found
  Absent,  // no such key or value (or, for a write to an existing key only, no key)
  Error,   // busy past the time-out, damaged database, wrong value type, bad argument
};

// The per-user settings store both programs share, in the shape of the
// Windows registry the profiles were kept in: keys named by paths with '\'
// between the parts (a key name, not a file path), binary and 32-bit integer
// values. Key paths and value names compare case-insensitively; the spelling
// of the first write is kept. A write creates its key and the parent keys; a
// read never creates anything. Root 0 (or any unknown root) and empty key or
// value names answer Error without touching the storage.
//
// Nothing is cached: every read sees what any process committed before it.
class RegistryStore {
 public:
  virtual ~RegistryStore() = default;

  // Reads a binary value; a value of another type is Error.
  virtual RegStatus readBinary(RegistryRoot root, const QString& keyPath, const QString& name,
                               QByteArray& data) = 0;
  virtual RegStatus writeBinary(RegistryRoot root, const QString& keyPath, const QString& name,
                                const QByteArray& data) = 0;
  // Reads a 32-bit integer value; a value of another type is Error.
  virtual RegStatus readInteger(RegistryRoot root, const QString& keyPath, const QString& name,
                                std::int32_t& value) = 0;
  // With onlyIfKeyExists, a missing key answers Absent and nothing is created.
  virtual RegStatus writeInteger(RegistryRoot root, const QString& keyPath, const QString& name,
                                 std::int32_t value, bool onlyIfKeyExists = false) = 0;
  virtual RegStatus valueExists(RegistryRoot root, const QString& keyPath, const QString& name) = 0;
  virtual RegStatus keyExists(RegistryRoot root, const QString& keyPath) = 0;
  // Read-modify-write of one binary value in one transaction, so a writer in
  // another process cannot slip in between. `edit` gets the current data
  // (empty when Absent) and the read status; it returns false to write nothing.
  // A value of another type is Error and `edit` is not called.
  virtual RegStatus updateBinary(RegistryRoot root, const QString& keyPath, const QString& name,
                                 const std::function<bool(QByteArray& data, RegStatus found)>& edit) = 0;

  // What went wrong with the last Error, for the user or stderr.
  virtual QString lastError() const = 0;
};

// The store on SQLite: one database file per user, shared by both programs,
// in WAL mode with a busy time-out of several seconds; each write is one
// transaction. The file and its folder are created on the first valid call,
// the file readable by its owner only (0600), the folder too (0700); an
// existing store or folder of this user that is open to others is narrowed
// to that. A damaged database is an Error on every call and is left alone.
std::unique_ptr<RegistryStore> openSqliteRegistryStore(const QString& databasePath);

// A program's start: the store opened at once and examined before anything
// writes to it. A damaged database (not a database, failing its integrity
// check, cut short, a database of another schema) is renamed aside with its
// journal files to "<path>.damaged-<UTC date and time>", never deleted, and a
// fresh store is made in its place, but only when no other store (of this or
// another process) has it open: then both go on with the damaged file and the
// notice says it will be set aside when both programs have ended. Every store
// holds "<path>.lock" shared while it has the database open; starts examine
// one at a time. A store that cannot be opened at all (its
// folder read-only, the disk full) stays closed: every call answers Error
// with the reason, so every save says what it could not store.
struct RegistryStoreAtStart {
  std::unique_ptr<RegistryStore> store;  // never null
  // For the user, once: what was set aside where, or why the store cannot be
  // opened, naming the paths. Empty when the store opened as it was.
  QString notice;
  QString damagedPath;  // where a damaged store now lies; empty when none
};
RegistryStoreAtStart openSqliteRegistryStoreAtStart(const QString& databasePath);

// $XDG_CONFIG_HOME/gaming-mouse/registry.sqlite (~/.config when unset).
QString defaultRegistryStorePath();

}  // namespace platform
