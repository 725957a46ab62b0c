#include "device/uiProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>
#include <cstring>

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
  if (FMemoryStream.size() < count) FMemoryStream.resize(count);
  std::memcpy(FMemoryStream.data(), buffer, count);
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
  return TProfileIOResult::error(QStringLiteral("%1: %2").arg(what, store.lastError()));
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
  if (!FileExists(path)) return TProfileIOResult::absent(QStringLiteral("%1: no such file").arg(path));
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return TProfileIOResult::error(QStringLiteral("%1: %2").arg(path, f.errorString()));
  const qint64 limit = std::min(maxBytes, kMaxImageSize);
  out = f.read(limit + 1);
  if (f.error() != QFileDevice::NoError)
    return TProfileIOResult::error(QStringLiteral("%1: %2").arg(path, f.errorString()));
  if (out.size() > limit) return TProfileIOResult::error(QStringLiteral("%1: file too large").arg(path));
  return TProfileIOResult::ok();
}

TProfileIOResult TuiProfile::WriteFile(const QString& path) const {
  // A temporary file beside the target, flushed and renamed over it, so a
  // crash leaves either the old file or the new one.
  QSaveFile f(path);
  f.setDirectWriteFallback(false);
  if (!f.open(QIODevice::WriteOnly))
    return TProfileIOResult::error(QStringLiteral("%1: %2").arg(path, f.errorString()));
  if (f.write(FMemoryStream) != FMemoryStream.size()) {
    const QString why = f.errorString();
    f.cancelWriting();
    return TProfileIOResult::error(QStringLiteral("%1: %2").arg(path, why));
  }
  if (!f.commit()) return TProfileIOResult::error(QStringLiteral("%1: %2").arg(path, f.errorString()));
  return TProfileIOResult::ok();
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
    return TProfileIOResult::absent(QStringLiteral("%1: no such file").arg(strFilewithpath));
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
    return TProfileIOResult::error(QStringLiteral("%1: cannot create the folder").arg(strFileWithPath));
  if (!Before(OnBeforeSaveToFile)) return TProfileIOResult::error(QStringLiteral("cancelled"));
  if (auto r = WriteFile(strFileWithPath); !r) return r;
  if (OnAfterSaveToFile) OnAfterSaveToFile(FMemoryStream);
  return TProfileIOResult::ok();
}

TProfileIOResult TuiProfile::PreSaveStreamToFile(const QString& strFileWithPath) {
  if (strFileWithPath.isEmpty() || strFileWithPath.endsWith(kPathDelimiter))
    return TProfileIOResult::error(QStringLiteral("no file name"));
  if (!EnsureFolderOf(strFileWithPath))
    return TProfileIOResult::error(QStringLiteral("%1: cannot create the folder").arg(strFileWithPath));
  const QFileInfo info(strFileWithPath);
  FFilePath = AddPathDelimiter(info.absolutePath());
  FFileName = info.fileName();
  return TProfileIOResult::ok();
}

void TuiProfile::RestoreToDefault() {
  if (OnRestoreToDefault) OnRestoreToDefault(FMemoryStream);
  FSize = FMemoryStream.size();
}
