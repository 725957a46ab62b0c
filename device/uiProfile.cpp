#include "device/uiProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool FileExists(const QString& path) { return !path.isEmpty() && QFileInfo(path).isFile(); }

QString AddPathDelimiter(const QString& path) {
  // An empty folder must stay empty: with a delimiter it would be the root.
  if (path.isEmpty() || path.endsWith(kPathDelimiter)) return path;
  return path + kPathDelimiter;
}

TuiProfile::TuiProfile(platform::RegistryStore* store) : FStore(store) {}

void TuiProfile::SetFilePath(const QString& v) {
  if (v == FFilePath || v.isEmpty() || !QFileInfo(v).isDir()) return;
  FFilePath = AddPathDelimiter(v);
}

void TuiProfile::SetSize(qint64 v) {
  if (v == FSize || v < 0 || v > kMaxImageSize) return;
  FSize = v;
  const qsizetype old = FMemoryStream.size();
  FMemoryStream.resize(v);
  if (v > old) std::memset(FMemoryStream.data() + old, 0, v - old);
}

int TuiProfile::Write(const void* buffer, int count) {
  if (count <= 0 || !buffer) return 0;
  if (FMemoryStream.size() < count) {
    // Every old byte is overwritten: a new buffer of exactly this size. Growing
    // the old one would copy its bytes first and round a profile up to 128 KiB.
    FMemoryStream = QByteArray(static_cast<const char*>(buffer), count);
  } else {
    std::memcpy(FMemoryStream.data(), buffer, count);
  }
  FSize = FMemoryStream.size();
  return count;
}

int TuiProfile::Write(const QByteArray& image) {
  if (image.isEmpty() || image.size() > kMaxImageSize) return 0;
  const int count = static_cast<int>(image.size());
  if (FMemoryStream.size() > count) return Write(image.constData(), count);
  FMemoryStream = image;
  FSize = FMemoryStream.size();
  return count;
}

int TuiProfile::Read(void* buffer, int count) const {
  if (count <= 0 || !buffer) return 0;
  const int n = static_cast<int>(std::min<qsizetype>(count, FMemoryStream.size()));
  if (n > 0) std::memcpy(buffer, FMemoryStream.constData(), n);
  return n;
}

bool TuiProfile::Before(const TuiProfileEvent& e) {
  bool go = true;
  if (e) e(FMemoryStream, go);
  FSize = FMemoryStream.size();
  return go;
}

TProfileIOResult TuiProfile::CheckRegistryTarget() const {
  if (!FStore) return TProfileIOResult::error(QStringLiteral("no settings store"));
  if ((FRootKey != platform::HKEY_CURRENT_USER && FRootKey != platform::HKEY_LOCAL_MACHINE) ||
      FKeyPath.isEmpty() || FFileName.isEmpty())
    return TProfileIOResult::error(QStringLiteral("store value not configured"));
  return TProfileIOResult::ok();
}

namespace {
TProfileIOResult FromStatus(platform::RegStatus st, platform::RegistryStore& store, const QString& what) {
  switch (st) {
    case platform::RegStatus::Ok:
      return TProfileIOResult::ok();
    case platform::RegStatus::Absent:
      return TProfileIOResult::absent(QStringLiteral("no stored value %1").arg(what));
    case platform::RegStatus::Error:
      break;
  }
  return TProfileIOResult::error(what, store.lastError());
}
}  // namespace

TProfileIOResult TuiProfile::LoadStreamFromRegistry() {
  if (!Before(OnBeforeLoadFromRegistry)) return TProfileIOResult::error(QStringLiteral("cancelled"));
  if (auto r = CheckRegistryTarget(); !r) return r;
  QByteArray data;
  const platform::RegStatus st = FStore->readBinary(FRootKey, FKeyPath, FFileName, data);
  if (st != platform::RegStatus::Ok) return FromStatus(st, *FStore, FFileName);
  if (data.size() > kMaxImageSize) return TProfileIOResult::error(QStringLiteral("%1 too large").arg(FFileName));
  FMemoryStream = data;
  FSize = FMemoryStream.size();
  if (OnAfterLoadFromRegistry) OnAfterLoadFromRegistry(FMemoryStream);
  return TProfileIOResult::ok();
}

TProfileIOResult TuiProfile::SaveStreamToRegistry() {
  if (!Before(OnBeforeSaveToRegistry)) return TProfileIOResult::error(QStringLiteral("cancelled"));
  if (auto r = CheckRegistryTarget(); !r) return r;
  const platform::RegStatus st = FStore->writeBinary(FRootKey, FKeyPath, FFileName, FMemoryStream);
  if (st != platform::RegStatus::Ok) {
    TProfileIOResult r = FromStatus(st, *FStore, FFileName);
    r.kind = TProfileIOResult::Error;  // a write that did not happen is never "absent"
    return r;
  }
  if (OnAfterSaveToRegistry) OnAfterSaveToRegistry(FMemoryStream);
  return TProfileIOResult::ok();
}

TProfileIOResult TuiProfile::ReadFile(const QString& path, qint64 maxBytes, QByteArray& out) const {
  if (!FileExists(path)) return TProfileIOResult::absent(path, QStringLiteral("no such file"));
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return TProfileIOResult::error(path, f.errorString());
  const qint64 limit = std::min(maxBytes, kMaxImageSize);
  out = f.read(limit + 1);
  if (f.error() != QFileDevice::NoError)
    return TProfileIOResult::error(path, f.errorString());
  if (out.size() > limit) return TProfileIOResult::error(path, QStringLiteral("file too large"));
  return TProfileIOResult::ok();
}

TProfileIOResult TuiProfile::WriteFile(const QString& path) const {
  const std::string target = QFile::encodeName(path).toStdString();
  // Apply saves every profile, most of them unchanged; a save costs two
  // syncs, a comparison a read from the cache.
  if (FileHoldsExactly(target, FMemoryStream.constData(), size_t(FMemoryStream.size())))
    return TProfileIOResult::ok();
  std::string why;
  if (!WriteFileAtomically(target, FMemoryStream.constData(), size_t(FMemoryStream.size()), &why))
    return TProfileIOResult::error(path, QString::fromLocal8Bit(why.c_str()));
  return TProfileIOResult::ok();
}

namespace {
constexpr char kSaveTemporaryMark[] = ".tmp-";
constexpr int kSaveTemporaryRandom = 6;

// Six letters or digits, as mkstemp would choose them.
std::string RandomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> pick(0, int(sizeof kChars) - 2);
  std::string out(kSaveTemporaryRandom, 'X');
  for (char& c : out) c = kChars[pick(random)];
  return out;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += size_t(n);
  }
  return true;
}
}  // namespace

bool WriteFileAtomically(const std::string& path, const void* data, size_t size, std::string* error) {
  auto fail = [&](int err) {
    if (error) *error = std::strerror(err);
    return false;
  };
  const size_t slash = path.rfind('/');
  const std::string folder = FolderOf(path);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return fail(EISDIR);
  // The mode never widens: a file that was there keeps its own permissions;
  // anything else (no file, or a link, which the rename replaces) gives a new
  // file, created 0644 so that the umask and a default ACL of the folder
  // apply as to any file the user makes. A link's target is not ours to copy.
  struct stat old {};
  const bool replacesFile = ::lstat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
  const std::string stem =
      (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + "." + name + kSaveTemporaryMark;
  std::string temp;
  int fd = -1;
  // O_EXCL: never another save's file.
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = stem + RandomSuffix();
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 && errno != EEXIST) return fail(errno);
  }
  if (fd < 0) return fail(EEXIST);
  if (replacesFile) ::fchmod(fd, old.st_mode & 0777);
  int err = 0;
  if (!WriteAll(fd, static_cast<const char*>(data), size)) err = errno;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return fail(err);
  }
  // The rename itself survives a power loss only once the folder is synced.
  if (const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

bool FileHoldsExactly(const std::string& path, const void* data, size_t size) {
  // Only a regular file is what a save leaves; a link or anything else there
  // is replaced by the save as before.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool same = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 && size_t(st.st_size) == size;
  // One byte more than expected is read, so a file that grew since the fstat
  // does not compare equal.
  std::vector<char> held(same ? size + 1 : 0);
  size_t got = 0;
  while (same && got < held.size()) {
    const ssize_t n = ::read(fd, held.data() + got, held.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fd);
  return same && got == size && (size == 0 || std::memcmp(held.data(), data, size) == 0);
}

bool IsSaveTemporaryName(const QString& fileName, QString* target) {
  const QLatin1String mark(kSaveTemporaryMark);
  const qsizetype tail = mark.size() + kSaveTemporaryRandom;
  // "." + at least one unit of a name + mark + random
  if (fileName.size() < 2 + tail || !fileName.startsWith(u'.')) return false;
  if (QStringView(fileName).sliced(fileName.size() - tail, mark.size()) != mark) return false;
  for (qsizetype i = fileName.size() - kSaveTemporaryRandom; i < fileName.size(); ++i) {
    const char16_t c = fileName[i].unicode();
    if (!((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))) return false;
  }
  if (target) *target = fileName.sliced(1, fileName.size() - 1 - tail);
  return true;
}

int RemoveStaleSaveTemporaries(const QString& folder, const std::function<bool(const QString& target)>& isOurs,
                               std::chrono::seconds minAge) {
  if (folder.isEmpty()) return 0;
  const QDir dir(folder);
  if (!dir.exists()) return 0;
  const auto now = std::chrono::system_clock::now();
  int removed = 0;
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    QString target;
    if (!IsSaveTemporaryName(name, &target) || !isOurs(target)) continue;
    const QByteArray path = QFile::encodeName(dir.filePath(name));
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const auto changed = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::seconds(st.st_mtim.tv_sec) + std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    // A save still writing has touched its file within minAge.
    if (now - changed < minAge) continue;
    if (::unlink(path.constData()) == 0) ++removed;
  }
  return removed;
}

TProfileIOResult TuiProfile::LoadStreamFromFile() {
  if (!Before(OnBeforeLoadFromFile)) return TProfileIOResult::error(QStringLiteral("cancelled"));
  if (FFilePath.isEmpty() || FFileName.isEmpty())
    return TProfileIOResult::error(QStringLiteral("profile file not configured"));
  FFilePath = AddPathDelimiter(FFilePath);
  QByteArray data;
  if (auto r = ReadFile(FFilePath + FFileName, kMaxImageSize, data); !r) return r;
  FMemoryStream = data;
  FSize = FMemoryStream.size();
  if (OnAfterLoadFromFile) OnAfterLoadFromFile(FMemoryStream);
  return TProfileIOResult::ok();
}

TProfileIOResult TuiProfile::LoadStreamFromFile(const QString& strFilewithpath, qint64 maxBytes) {
  if (!FileExists(strFilewithpath))
    return TProfileIOResult::absent(strFilewithpath, QStringLiteral("no such file"));
  if (!Before(OnBeforeLoadFromFile)) return TProfileIOResult::error(QStringLiteral("cancelled"));
  QByteArray data;
  if (auto r = ReadFile(strFilewithpath, maxBytes, data); !r) return r;
  FMemoryStream = data;
  FSize = FMemoryStream.size();
  if (OnAfterLoadFromFile) OnAfterLoadFromFile(FMemoryStream);
  return TProfileIOResult::ok();
}

TProfileIOResult TuiProfile::SaveStreamToFile() {
  if (!Before(OnBeforeSaveToFile)) return TProfileIOResult::error(QStringLiteral("cancelled"));
  if (FFilePath.isEmpty() || FFileName.isEmpty())
    return TProfileIOResult::error(QStringLiteral("profile file not configured"));
  FFilePath = AddPathDelimiter(FFilePath);
  if (auto r = WriteFile(FFilePath + FFileName); !r) return r;
  if (OnAfterSaveToFile) OnAfterSaveToFile(FMemoryStream);
  return TProfileIOResult::ok();
}

namespace {
// Creates the folder of a file path when missing, one level only: the parent
// must exist.
bool EnsureFolderOf(const QString& path) {
  const QFileInfo info(path);
  const QString folder = info.absolutePath();
  if (QFileInfo(folder).isDir()) return true;
  return QDir().mkdir(folder);
}
}  // namespace

TProfileIOResult TuiProfile::SaveStreamToFile(const QString& strFileWithPath) {
  if (strFileWithPath.isEmpty() || strFileWithPath.endsWith(kPathDelimiter))
    return TProfileIOResult::error(QStringLiteral("no file name"));
  if (!EnsureFolderOf(strFileWithPath))
    return TProfileIOResult::error(strFileWithPath, QStringLiteral("cannot create the folder"));
  if (!Before(OnBeforeSaveToFile)) return TProfileIOResult::error(QStringLiteral("cancelled"));
  if (auto r = WriteFile(strFileWithPath); !r) return r;
  if (OnAfterSaveToFile) OnAfterSaveToFile(FMemoryStream);
  return TProfileIOResult::ok();
}

TProfileIOResult TuiProfile::PreSaveStreamToFile(const QString& strFileWithPath) {
  if (strFileWithPath.isEmpty() || strFileWithPath.endsWith(kPathDelimiter))
    return TProfileIOResult::error(QStringLiteral("no file name"));
  if (!EnsureFolderOf(strFileWithPath))
    return TProfileIOResult::error(strFileWithPath, QStringLiteral("cannot create the folder"));
  const QFileInfo info(strFileWithPath);
  FFilePath = AddPathDelimiter(info.absolutePath());
  FFileName = info.fileName();
  return TProfileIOResult::ok();
}

void TuiProfile::RestoreToDefault() {
  if (OnRestoreToDefault) OnRestoreToDefault(FMemoryStream);
  FSize = FMemoryStream.size();
}
