#pragma once
// TuiProfile: one record image in memory, moved to and from one value of the
// settings store and one file. It knows nothing of the record inside.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <chrono>
#include <functional>
#include <string>

#include "platform/RegistryStore.h"

// The path delimiter of folders kept in stores and records.
inline constexpr char16_t kPathDelimiter = u'/';

// The answer of a load or save: Ok, Absent (no such value or file; the only
// case that may lead to writing defaults) or Error (exists but could not be
// read or written, damaged, busy, not configured). Tests as a Boolean.
struct TProfileIOResult {
  enum Kind { Ok, Absent, Error };
  Kind kind = Ok;
  QString what;     // the value or file concerned, when one is
  QString why;      // the reason, for Absent and Error
  QString message;  // both for a reader: "<what>: <why>", or the reason alone

  explicit operator bool() const { return kind == Ok; }
  static TProfileIOResult ok() { return {}; }
  static TProfileIOResult absent(QString why) { return make(Absent, {}, std::move(why)); }
  static TProfileIOResult absent(QString what, QString why) { return make(Absent, std::move(what), std::move(why)); }
  static TProfileIOResult error(QString why) { return make(Error, {}, std::move(why)); }
  static TProfileIOResult error(QString what, QString why) { return make(Error, std::move(what), std::move(why)); }

 private:
  static TProfileIOResult make(Kind kind, QString what, QString why) {
    QString message = what.isEmpty() ? why : what + QStringLiteral(": ") + why;
    return {kind, std::move(what), std::move(why), std::move(message)};
  }
};

// Before an operation: the handler may replace the stream, and cancels the
// operation by setting bContinue to false.
using TuiProfileEvent = std::function<void(QByteArray& AStream, bool& bContinue)>;
// After a successful operation.
using TuiProfileEvent2 = std::function<void(const QByteArray& AStream)>;
// Writes the default record into the stream in place; the stream holds at
// least a whole record.
using TuiProfileOnRestoreToDefault = std::function<void(QByteArray& AStream)>;

class TuiProfile {
 public:
  // No file or value read bigger than this is accepted (the largest record is
  // 109,896 bytes).
  static constexpr qint64 kMaxImageSize = 16 * 1024 * 1024;

  // The store is not owned and must outlive the component; it may be null
  // for a component that only works with files.
  explicit TuiProfile(platform::RegistryStore* store = nullptr);

  platform::RegistryRoot RootKey() const { return FRootKey; }
  void SetRootKey(platform::RegistryRoot v) { FRootKey = v; }
  const QString& KeyPath() const { return FKeyPath; }
  void SetKeyPath(const QString& v) { FKeyPath = v; }
  const QString& FileName() const { return FFileName; }
  void SetFileName(const QString& v) { FFileName = v; }
  const QString& FilePath() const { return FFilePath; }
  // Ignored when equal to the current value or when no folder of that name
  // exists; otherwise stored with a trailing delimiter.
  void SetFilePath(const QString& v);
  // Forgets the folder, so a later SetFilePath of a missing folder leaves none.
  void ResetFilePath() { FFilePath.clear(); }
  qint64 Size() const { return FSize; }
  // Resizes the stream (cut or zero-extended) when the size changes.
  void SetSize(qint64 v);

  const QByteArray& Stream() const { return FMemoryStream; }

  // Writes count bytes at position 0; the stream grows and never shrinks.
  int Write(const void* buffer, int count);
  // The same with the bytes of image; a stream no longer than image then
  // shares image's buffer until either is changed (image must own its bytes).
  int Write(const QByteArray& image);
  // Reads up to count bytes from position 0; returns how many were read.
  int Read(void* buffer, int count) const;

  TProfileIOResult LoadStreamFromRegistry();
  TProfileIOResult SaveStreamToRegistry();
  // From FilePath + FileName.
  TProfileIOResult LoadStreamFromFile();
  // From the given file, reading at most maxBytes (a bigger file is Error);
  // FilePath and FileName are kept.
  TProfileIOResult LoadStreamFromFile(const QString& strFilewithpath, qint64 maxBytes = kMaxImageSize);
  // To FilePath + FileName; the folder must exist. Atomic: the file is either
  // the old one or the new one, whole. A regular file that already holds
  // exactly the stream is left as it is.
  TProfileIOResult SaveStreamToFile();
  // To the given file, creating its folder (one level) when missing.
  TProfileIOResult SaveStreamToFile(const QString& strFileWithPath);
  // Creates the folder of the path (one level) and takes folder and name.
  TProfileIOResult PreSaveStreamToFile(const QString& strFileWithPath);
  void RestoreToDefault();

  TuiProfileOnRestoreToDefault OnRestoreToDefault;
  TuiProfileEvent OnBeforeSaveToRegistry, OnBeforeSaveToFile, OnBeforeLoadFromRegistry, OnBeforeLoadFromFile;
  TuiProfileEvent2 OnAfterSaveToRegistry, OnAfterSaveToFile, OnAfterLoadFromRegistry, OnAfterLoadFromFile;

 private:
  bool Before(const TuiProfileEvent& e);
  TProfileIOResult CheckRegistryTarget() const;
  TProfileIOResult ReadFile(const QString& path, qint64 maxBytes, QByteArray& out) const;
  TProfileIOResult WriteFile(const QString& path) const;

  platform::RegistryStore* FStore;
  QByteArray FMemoryStream;
  platform::RegistryRoot FRootKey = 0;
  QString FKeyPath;
  QString FFileName;
  QString FFilePath;
  qint64 FSize = 0;
};

// True when path names a regular file (not a folder).
bool FileExists(const QString& path);
// The path with a trailing delimiter, except that an empty path stays empty.
QString AddPathDelimiter(const QString& path);

// Saving files atomically. A save writes ".<name>.tmp-XXXXXX" (six letters or
// digits) beside the file "<name>", created exclusively, then flushes, syncs and
// renames it over the file, so the file is always either the old one or the new
// one, whole. A process killed mid-save leaves that temporary file; as both
// programs save into the same folders, only such files old enough that no save
// can still be writing them may be removed.

// The extension of macro files, known here for the clean-up of macro folders.
inline constexpr char kMacroFileExtension[] = ".macro";
// No save takes this long: a temporary file this old belongs to a killed save.
inline constexpr std::chrono::seconds kStaleSaveTemporaryAge{10 * 60};

// Writes size bytes to path as described above; on failure the old file is
// untouched, no temporary file stays and error (when given) says why.
bool WriteFileAtomically(const std::string& path, const void* data, size_t size, std::string* error = nullptr);
// True when path is a regular file (not a link) holding exactly these size
// bytes: saving them again would change nothing.
bool FileHoldsExactly(const std::string& path, const void* data, size_t size);
// True when fileName is a save's temporary file; target receives "<name>".
bool IsSaveTemporaryName(const QString& fileName, QString* target = nullptr);
// Removes from folder the save temporaries whose target isOurs accepts and whose
// last change is at least minAge old; anything else stays. Returns how many
// were removed.
int RemoveStaleSaveTemporaries(const QString& folder, const std::function<bool(const QString& target)>& isOurs,
                               std::chrono::seconds minAge = kStaleSaveTemporaryAge);
