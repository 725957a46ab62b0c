#include "device/DMUnit.h"

#include "device/ProfileCheck.h"

#include <QHash>

#include <QDir>
#include <QFileInfo>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "device/ConfigReaders.h"
#include "device/DeviceProtocol.h"
#include "device/ProfileEncoders.h"

namespace {

constexpr int kProfileSize = sizeof(TMOUSEPROFILEINFO);
constexpr int kSettingGroupSize = sizeof(TProfileSettingGroup);
constexpr int kAllGamesSize = sizeof(TALLGAMESINFO);
constexpr size_t kFolderMaxUnits = 1023;  // 1,024 units with the null
constexpr size_t kButtonParamBytes = offsetof(TBUTTONFUNCINFO, ButtonIndex);

void Warn(const QString& text) { std::fprintf(stderr, "profiles: %s\n", qPrintable(text)); }

QString Q(std::u16string_view s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }
template <size_t N>
QString QText(const char16_t (&units)[N]) {
  return QString::fromStdU16String(ReadText(units));
}
template <size_t N>
bool Terminated(const char16_t (&units)[N]) {
  return std::find(units, units + N, u'\0') != units + N;
}
template <size_t N>
bool PutText(char16_t (&units)[N], const QString& text, size_t limit) {
  return WriteText(units, text.toStdU16String(), limit);
}

// The stream as a record: extended with zeros to a whole record first, edited
// through an aligned copy, written back in place (bytes past the record kept).
template <class T, class F>
void EditImage(QByteArray& stream, F edit) {
  if (stream.size() < qsizetype(sizeof(T))) {
    const qsizetype old = stream.size();
    stream.resize(sizeof(T));
    std::memset(stream.data() + old, 0, sizeof(T) - old);
  }
  auto rec = NewZeroImage<T>();
  std::memcpy(static_cast<void*>(rec.get()), stream.constData(), sizeof(T));
  edit(*rec);
  std::memcpy(stream.data(), static_cast<const void*>(rec.get()), sizeof(T));
}

// Replaces a store's whole image by exactly `size` bytes.
void ReplaceStream(TuiProfile& s, const void* data, int size) {
  s.SetSize(0);
  s.Write(data, size);
}

template <class T>
void ReplaceStream(TuiProfile& s, const T& rec) {
  ReplaceStream(s, &rec, sizeof(T));
}

void SetButton(TBUTTONFUNCINFO& b, uint16_t index, uint8_t type, uint16_t function, int32_t cls, int32_t menu) {
  b.ButtonIndex = index;
  b.FunctionType = type;
  b.FunctionIndex = function;
  b.FunctionClass = cls;
  b.MenuId = menu;
}

// The DPI levels of the default profile: levels 0..3 as the user sees them,
// and the hardware step the sensor takes for each.
void DefaultCpiLevels(TMOUSECONFIGINFO& c) {
  static constexpr uint16_t kLevels[4] = {400, 800, 1600, 3500};
  for (int l = 0; l < 10; ++l) {
    c.CPIState[l] = TCPISTATE{0, 0, 0};
    c.HWCPIState[l] = TCPISTATE{0, 0, 0};
  }
  for (int l = 0; l < 4; ++l) {
    c.CPIState[l] = TCPISTATE{kLevels[l], kLevels[l], 1};
    const auto step = static_cast<uint16_t>(NearestCPIStep(std::max(c.CPIState[l].X, c.CPIState[l].Y)));
    c.HWCPIState[l] = TCPISTATE{step, step, c.CPIState[l].State};
  }
  c.CurrentCPIIndex = 1;
}

}  // namespace

void TStoreStatus::Fail(const TStoreFailure& failure) {
  Ok = false;
  if (!Error.isEmpty()) Error += QStringLiteral("; ");
  Error += failure.What.isEmpty() ? failure.Why : failure.What + QStringLiteral(": ") + failure.Why;
  Failures << failure;
}

void TStoreStatus::Merge(const TStoreStatus& other) {
  if (!other.Ok) {
    Ok = false;
    if (!Error.isEmpty() && !other.Error.isEmpty()) Error += QStringLiteral("; ");
    Error += other.Error;
    Failures += other.Failures;
  }
  Skipped += other.Skipped;
}

QString TStoreStatus::Summary() const {
  if (Failures.isEmpty()) return Skipped.isEmpty() ? Error : Skipped.join(QStringLiteral(", "));
  // One broken store fails every value the same way: the reason is said once.
  QStringList reasons;
  QHash<QString, QStringList> named;
  QStringList lines;
  for (const TStoreFailure& failure : Failures) {
    if (failure.What.isEmpty()) {
      if (!lines.contains(failure.Why)) lines << failure.Why;
      continue;
    }
    if (!named.contains(failure.Why)) reasons << failure.Why;
    QStringList& names = named[failure.Why];
    if (!names.contains(failure.What)) names << failure.What;
  }
  QStringList grouped;
  for (const QString& why : reasons)
    grouped << QStringLiteral("Not saved: %1 (%2)").arg(named[why].join(QStringLiteral(", ")), why);
  grouped += lines;
  if (!Skipped.isEmpty())
    grouped << QStringLiteral("Not saved, never loaded: %1").arg(Skipped.join(QStringLiteral(", ")));
  return grouped.join(u'\n');
}

void SetVendorCollection() {
  DeviceUsageAndPage.Usage = 1;
  DeviceUsageAndPage.UsagePage = 0xFFA0;
}

TDM::TDM(TDMEnvironment env)
    : uiProfileAllSettingInfo(env.Store),
      uiProfileGame1(env.Store),
      uiProfileGame2(env.Store),
      uiProfileGame3(env.Store),
      uiProfileGame4(env.Store),
      uiProfileGame5(env.Store),
      uiProfileSettingGroup(env.Store),
      uiProfileDefaultGame(env.Store),
      uiProfileTest(env.Store),
      FEnv(std::move(env)) {
  ZeroImage(FAllProfileSettingInfo);
  ZeroImage(FProfileSettingGroup);
  ZeroImage(FCurrentProfileInfo);
  ZeroImage(FDefaultProfileInfo);
  ZeroImage(FTestProfileInfo);
  FProfileGroup = {&uiProfileGame1, &uiProfileGame2, &uiProfileGame3, &uiProfileGame4, &uiProfileGame5, nullptr};
  uiProfileSettingGroup.OnRestoreToDefault = [this](QByteArray& s) { uiProfileSettingGroupRestoreToDefault(s); };
  uiProfileAllSettingInfo.OnRestoreToDefault = [this](QByteArray& s) { uiProfileAllSettingInfoRestoreToDefault(s); };
  for (TuiProfile* p : {&uiProfileGame1, &uiProfileGame2, &uiProfileGame3, &uiProfileGame4, &uiProfileGame5,
                        &uiProfileDefaultGame})
    p->OnRestoreToDefault = uiProfileGame1RestoreToDefault;
  uiProfileTest.OnRestoreToDefault = [this](QByteArray& s) { uiProfileTestRestoreToDefault(s); };
}

// ---------------------------------------------------------------------------
// Start-up

TStoreStatus TDM::InitData() {
  TStoreStatus status;
  ReadOptionsFromConfigFile(FOptionsFromConfigFile, FEnv.ProgramFolder);
  FOtherConfig = TOtherConfig{};
  ReadOtherConfig(FOtherConfig, FEnv.ProgramFolder);
  FProfileGroupIndex = 0;
  status.Merge(LoadProfileSettingGroup(/*atStartUp=*/true));
  // The folders are known once the setting group is loaded.
  RemoveStaleSaveTemporaryFiles();
  status.Merge(LoadAllProfileSettingInfo(/*atStartUp=*/true));
  status.Merge(LoadAllProfiles());
  SetVendorCollection();
  return status;
}

void TDM::RemoveStaleSaveTemporaryFiles() const {
  for (int i = 0; i < kProfileCount; ++i) {
    const TProfileSetting& e = FProfileSettingGroup.ProfileSettingList[i];
    const QString name = QText(e.FileName);
    if (!name.isEmpty())
      RemoveStaleSaveTemporaries(QText(e.FileFolder), [&name](const QString& target) { return target == name; });
    RemoveStaleSaveTemporaries(QText(e.MacroFolder), [](const QString& target) {
      return target.size() > qsizetype(std::strlen(kMacroFileExtension)) &&
             target.endsWith(QLatin1String(kMacroFileExtension));
    });
  }
}

void TDM::ConfigureStore(TuiProfile& s, const QString& name) const {
  s.SetRootKey(platform::HKEY_CURRENT_USER);
  s.SetFileName(name);
  s.SetKeyPath(Q(FOptionsFromConfigFile.ProfileRegFolder));
}

void TDM::ConfigureProfileStores() {
  for (int i = 0; i < kProfileCount; ++i) {
    const TProfileSetting& e = FProfileSettingGroup.ProfileSettingList[i];
    TuiProfile& s = *FProfileGroup[i];
    ConfigureStore(s, QText(e.FileName));
    // The folder setter ignores a folder that does not exist; such a store
    // keeps no stale folder of a former binding.
    s.ResetFilePath();
    s.SetFilePath(QText(e.FileFolder));
  }
}

bool TDM::AdoptProfileSettingGroup(const QByteArray& stored, QStringList& repairs) {
  auto rec = NewZeroImage<TProfileSettingGroup>();
  const size_t n = LoadImage(*rec, std::as_bytes(std::span(stored.constData(), size_t(stored.size()))));
  if (n < sizeof(int32_t) || rec->CurrentProfileGroup < 0 || rec->CurrentProfileGroup >= kProfileGroupCount) {
    repairs << QStringLiteral("mode %1 replaced by mode 1").arg(n < 4 ? -1 : rec->CurrentProfileGroup);
    rec->CurrentProfileGroup = 0;
  }
  for (int g = 0; g < kProfileGroupCount; ++g) {
    const size_t end = offsetof(TProfileSettingGroup, ProfileIndexOfProfileGroup) + (g + 1) * sizeof(int32_t);
    int32_t& p = rec->ProfileIndexOfProfileGroup[g];
    if (n < end || !IsProfileIndexInRange(p)) {
      repairs << QStringLiteral("binding of mode %1 replaced by the default").arg(g + 1);
      p = g;
    }
  }
  for (int i = 0; i < kProfileCount; ++i) {
    TProfileSetting& e = rec->ProfileSettingList[i];
    const size_t end = offsetof(TProfileSettingGroup, ProfileSettingList) + (i + 1) * sizeof(TProfileSetting);
    const bool whole = n >= end;
    const bool nameOk = Terminated(e.FileName) && e.FileName[0] != u'\0';
    const bool folderOk = Terminated(e.FileFolder) && e.FileFolder[0] != u'\0';
    if (whole && nameOk && folderOk) continue;
    repairs << QStringLiteral("storage of profile %1 replaced by the default").arg(i + 1);
    ZeroImage(e);
    DefaultProfileSetting(e, i);
  }
  FProfileSettingGroup = *rec;
  ReplaceStream(uiProfileSettingGroup, FProfileSettingGroup);
  return !repairs.isEmpty();
}

TStoreStatus TDM::LoadProfileSettingGroup(bool atStartUp) {
  TStoreStatus status;
  ConfigureStore(uiProfileSettingGroup, Q(kProfileSettingGroupValue));
  const TProfileIOResult r = uiProfileSettingGroup.LoadStreamFromRegistry();
  if (r) {
    QStringList repairs;
    if (AdoptProfileSettingGroup(uiProfileSettingGroup.Stream(), repairs)) {
      Warn(QStringLiteral("damaged mode settings: %1").arg(repairs.join(QStringLiteral(", "))));
      if (atStartUp) {
        if (auto w = uiProfileSettingGroup.SaveStreamToRegistry(); !w) status.Fail(w);
      }
    }
  } else if (r.kind == TProfileIOResult::Absent || atStartUp) {
    auto zeros = NewZeroImage<TProfileSettingGroup>();
    ReplaceStream(uiProfileSettingGroup, *zeros);
    uiProfileSettingGroup.RestoreToDefault();
    uiProfileSettingGroup.Read(&FProfileSettingGroup, kSettingGroupSize);
    if (r.kind == TProfileIOResult::Absent) {
      if (auto w = uiProfileSettingGroup.SaveStreamToRegistry(); !w) status.Fail(w);
    } else {
      // The stored value may still be there: defaults stay in memory.
      Warn(QStringLiteral("cannot read the mode settings (%1); using defaults, nothing stored").arg(r.message));
      status.Fail(r);
    }
  } else {
    Warn(QStringLiteral("cannot reload the mode settings (%1); keeping the current ones").arg(r.message));
    status.Fail(r);
    return status;
  }
  FProfileGroupIndex = FProfileSettingGroup.CurrentProfileGroup;
  FProfileIndex = FProfileSettingGroup.ProfileIndexOfProfileGroup[FProfileGroupIndex];
  return status;
}

TStoreStatus TDM::LoadAllProfileSettingInfo(bool atStartUp) {
  TStoreStatus status;
  ConfigureStore(uiProfileAllSettingInfo, Q(kAllProfileValue));
  const TProfileIOResult r = uiProfileAllSettingInfo.LoadStreamFromRegistry();
  if (r) {
    const QByteArray stored = uiProfileAllSettingInfo.Stream();
    if (stored.size() >= kAllGamesSize) {
      uiProfileAllSettingInfo.SetSize(kAllGamesSize);
      uiProfileAllSettingInfo.Read(&FAllProfileSettingInfo, kAllGamesSize);
      return status;
    }
    // Keep the parts the short value holds whole, default the rest.
    QByteArray image(kAllGamesSize, '\0');
    uiProfileAllSettingInfoRestoreToDefault(image);
    auto rec = NewZeroImage<TALLGAMESINFO>();
    std::memcpy(static_cast<void*>(rec.get()), image.constData(), kAllGamesSize);
    auto keep = [&](size_t offset, size_t size) {
      if (size_t(stored.size()) >= offset + size)
        std::memcpy(reinterpret_cast<char*>(rec.get()) + offset, stored.constData() + offset, size);
    };
    for (int i = 0; i < kProfileCount; ++i) keep(i * sizeof(TProfileSetting), sizeof(TProfileSetting));
    keep(offsetof(TALLGAMESINFO, CurrentGame), sizeof(int32_t));
    keep(offsetof(TALLGAMESINFO, CurrentLanguage), sizeof(int32_t));
    Warn(QStringLiteral("damaged all-profile settings (%1 bytes); repaired").arg(stored.size()));
    FAllProfileSettingInfo = *rec;
    ReplaceStream(uiProfileAllSettingInfo, FAllProfileSettingInfo);
    if (auto w = uiProfileAllSettingInfo.SaveStreamToRegistry(); !w) status.Fail(w);
    return status;
  }
  if (r.kind == TProfileIOResult::Error && !atStartUp) {
    // Keep what we have rather than put defaults in its place.
    Warn(QStringLiteral("cannot reload the all-profile settings (%1)").arg(r.message));
    status.Fail(r);
    return status;
  }
  auto zeros = NewZeroImage<TALLGAMESINFO>();
  ReplaceStream(uiProfileAllSettingInfo, *zeros);
  uiProfileAllSettingInfo.RestoreToDefault();
  uiProfileAllSettingInfo.Read(&FAllProfileSettingInfo, kAllGamesSize);
  if (r.kind == TProfileIOResult::Absent) {
    if (auto w = uiProfileAllSettingInfo.SaveStreamToRegistry(); !w) status.Fail(w);
  } else {
    Warn(QStringLiteral("cannot read the all-profile settings (%1); using defaults, nothing stored").arg(r.message));
    status.Fail(r);
  }
  return status;
}

void TDM::MakeDefaultProfile(int i) {
  // Every start or reload with profiles missing or damaged lands here, up to
  // five times; the image depends on nothing but the index, so each is made
  // once and shared by the stores until they change it.
  static const std::array<QByteArray, kProfileCount> kDefaults = [] {
    std::array<QByteArray, kProfileCount> images;
    for (int k = 0; k < kProfileCount; ++k) {
      QByteArray image(kProfileSize, '\0');
      uiProfileGame1RestoreToDefault(image);
      EditImage<TMOUSEPROFILEINFO>(image, [k](TMOUSEPROFILEINFO& p) { SetDefaultLedColor(k, p); });
      images[k] = image;
    }
    return images;
  }();
  TuiProfile& s = *FProfileGroup[i];
  s.SetSize(0);
  s.Write(kDefaults[i]);
}

bool TDM::TrimProfileStore(int i) {
  TuiProfile& s = *FProfileGroup[i];
  if (s.Size() < kProfileSize) return false;
  s.SetSize(kProfileSize);
  return true;
}

std::optional<TProfileFault> TDM::StoreFault(int i) const {
  auto record = NewZeroImage<TMOUSEPROFILEINFO>();
  FProfileGroup[i]->Read(record.get(), kProfileSize);
  return FirstProfileFault(*record);
}

void TDM::MarkNotLoaded(int i, const QString& why) {
  FNotLoaded[i] = true;
  Warn(QStringLiteral("profile %1 not loaded (%2); using defaults in memory, stored data left as it is")
           .arg(i + 1)
           .arg(why));
}

TStoreStatus TDM::LoadAllProfiles() {
  TStoreStatus status;
  FNotLoaded = {};
  ConfigureProfileStores();
  for (int i = 0; i < kProfileCount; ++i) {
    const TProfileSetting& e = FProfileSettingGroup.ProfileSettingList[i];
    TuiProfile& s = *FProfileGroup[i];
    if (e.Storage == kStorageRegistry) {
      const TProfileIOResult r = s.LoadStreamFromRegistry();
      if (r) {
        if (!TrimProfileStore(i)) {
          const qint64 size = s.Size();
          MakeDefaultProfile(i);
          MarkNotLoaded(i, QStringLiteral("stored value of %1 bytes is damaged").arg(size));
        } else if (const auto fault = StoreFault(i)) {
          MakeDefaultProfile(i);
          MarkNotLoaded(i, QStringLiteral("stored value cannot be used: %1").arg(fault->Text()));
          status.Fail(QStringLiteral("profile %1 cannot be used: %2").arg(i + 1).arg(fault->Text()));
        }
      } else {
        MakeDefaultProfile(i);
        if (r.kind == TProfileIOResult::Error) {
          MarkNotLoaded(i, r.message);
          status.Fail(r);
        }
      }
    } else if (e.Storage == kStorageFile) {
      const QString folder = QText(e.FileFolder);
      const QString path = AddPathDelimiter(folder) + QText(e.FileName);
      if (!FileExists(path)) {
        MakeDefaultProfile(i);
        if (auto w = s.SaveStreamToFile(path); !w) {
          Warn(QStringLiteral("cannot write profile %1: %2").arg(i + 1).arg(w.message));
          status.Fail(w);
        }
        // The folder may only now exist; later saves must reach it.
        s.SetFilePath(folder);
      } else if (const TProfileIOResult r = s.LoadStreamFromFile(path); !r) {
        MakeDefaultProfile(i);
        MarkNotLoaded(i, r.message);
        status.Fail(r);
      } else if (!TrimProfileStore(i)) {
        const qint64 size = s.Size();
        MakeDefaultProfile(i);
        MarkNotLoaded(i, QStringLiteral("%1 holds %2 bytes, not a whole profile").arg(path).arg(size));
        status.Fail(QStringLiteral("%1 is damaged").arg(path));
      } else if (const auto fault = StoreFault(i)) {
        MakeDefaultProfile(i);
        MarkNotLoaded(i, QStringLiteral("%1 cannot be used: %2").arg(path, fault->Text()));
        status.Fail(QStringLiteral("%1 cannot be used: %2").arg(path, fault->Text()));
      }
    } else {
      MakeDefaultProfile(i);
      MarkNotLoaded(i, QStringLiteral("unknown storage kind %1").arg(e.Storage));
      status.Fail(QStringLiteral("profile %1").arg(i + 1), QStringLiteral("unknown storage kind"));
    }
  }
  SwitchToProfileGroup(FProfileGroupIndex);
  return status;
}

// ---------------------------------------------------------------------------
// Switching and copying

bool TDM::SwitchToProfileGroup(int AProfileGroupIndex) {
  if (!IsProfileGroupIndexInRange(AProfileGroupIndex)) return false;
  int p = FProfileSettingGroup.ProfileIndexOfProfileGroup[AProfileGroupIndex];
  if (!IsProfileIndexInRange(p)) p = AProfileGroupIndex;  // never reaches a store out of range
  FProfileSettingGroup.CurrentProfileGroup = AProfileGroupIndex;
  FProfileGroupIndex = AProfileGroupIndex;
  FProfileIndex = p;
  SwitchToProfile(p);
  return true;
}

bool TDM::SwitchToProfile(int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  FProfileIndex = AProfileIndex;
  FProfileGroup[AProfileIndex]->Read(&FCurrentProfileInfo, kProfileSize);
  FAllProfileSettingInfo.CurrentGame = AProfileIndex;
  return true;
}

void TDM::SaveBackToCurrentProfileInfo() {
  TuiProfile& s = *CurrentStore();
  // Only a real edit makes a profile that failed to load the user's own again.
  if (s.Size() < kProfileSize || std::memcmp(s.Stream().constData(), &FCurrentProfileInfo, kProfileSize) != 0)
    FNotLoaded[FProfileIndex] = false;
  s.Write(&FCurrentProfileInfo, kProfileSize);
}

void TDM::SaveBackToProfileGroupSettingInfo() { uiProfileSettingGroup.Write(&FProfileSettingGroup, kSettingGroupSize); }

bool TDM::SaveBackToProfileInfo(const TMOUSEPROFILEINFO& AProfileInfo, int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  FNotLoaded[AProfileIndex] = false;
  FProfileGroup[AProfileIndex]->Write(&AProfileInfo, kProfileSize);
  return true;
}

bool TDM::ReadProfileInfo(TMOUSEPROFILEINFO& AProfileInfo, int AProfileIndex) const {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  FProfileGroup[AProfileIndex]->Read(&AProfileInfo, kProfileSize);
  return true;
}

bool TDM::ReadCurrentProfileInfo() {
  CurrentStore()->Read(&FCurrentProfileInfo, kProfileSize);
  return true;
}

// ---------------------------------------------------------------------------
// Saving

TStoreStatus TDM::SaveProfileToRegistry(int i) {
  TStoreStatus status;
  if (FNotLoaded[i]) {
    const QString name = QText(FProfileSettingGroup.ProfileSettingList[i].FileName);
    Warn(QStringLiteral("profile %1 (%2) not stored: it never loaded and was not edited").arg(i + 1).arg(name));
    status.Skipped << name;
    return status;
  }
  if (auto r = FProfileGroup[i]->SaveStreamToRegistry(); !r) status.Fail(r);
  return status;
}

TStoreStatus TDM::SaveProfileToFile(int i) {
  TStoreStatus status;
  const TProfileSetting& e = FProfileSettingGroup.ProfileSettingList[i];
  const QString name = QText(e.FileName);
  if (FNotLoaded[i]) {
    Warn(QStringLiteral("profile %1 (%2) not saved to its file: it never loaded and was not edited")
             .arg(i + 1)
             .arg(name));
    status.Skipped << name;
    return status;
  }
  const QString folder = QText(e.FileFolder);
  if (folder.isEmpty() || name.isEmpty()) {
    status.Fail(QStringLiteral("profile %1 has no file").arg(i + 1));
    return status;
  }
  TuiProfile& s = *FProfileGroup[i];
  if (auto r = s.SaveStreamToFile(AddPathDelimiter(folder) + name); !r) status.Fail(r);
  s.SetFilePath(folder);
  return status;
}

TStoreStatus TDM::SaveCurrentProfileInfoToRegistry() {
  SaveBackToCurrentProfileInfo();
  return SaveProfileToRegistry(FProfileIndex);
}

TStoreStatus TDM::SaveCurrentProfileInfoToFile() { return SaveProfileToFile(FProfileIndex); }

TStoreStatus TDM::SaveCurrentProfileInfoToFile(const QString& AFile) {
  TStoreStatus status;
  if (auto r = CurrentStore()->SaveStreamToFile(AFile); !r) status.Fail(r);
  return status;
}

TStoreStatus TDM::SaveBackAllProfileInfo() {
  TStoreStatus status;
  for (int i = 0; i < kProfileCount; ++i) status.Merge(SaveProfileToRegistry(i));
  return status;
}

TStoreStatus TDM::SaveBackAllProfileInfoToRegistry() { return SaveBackAllProfileInfo(); }

TStoreStatus TDM::SaveBackAllProfileInfoToFile() {
  TStoreStatus status;
  for (int i = 0; i < kProfileCount; ++i) status.Merge(SaveProfileToFile(i));
  return status;
}

TStoreStatus TDM::SaveBackAllProfileSettingInfo() {
  TStoreStatus status;
  FAllProfileSettingInfo.CurrentGame = FProfileIndex;
  uiProfileAllSettingInfo.Write(&FAllProfileSettingInfo, kAllGamesSize);
  if (auto r = uiProfileAllSettingInfo.SaveStreamToRegistry(); !r) status.Fail(r);
  return status;
}

TStoreStatus TDM::SaveProfileGroupSettingInfoToRegistry() {
  TStoreStatus status;
  SaveBackToProfileGroupSettingInfo();
  if (auto r = uiProfileSettingGroup.SaveStreamToRegistry(); !r) status.Fail(r);
  return status;
}

TStoreStatus TDM::SaveProfileGroupIndexToRegistry() {
  TStoreStatus status;
  platform::RegistryStore* store = FEnv.Store;
  if (!store) {
    status.Fail(QStringLiteral("no settings store"));
    return status;
  }
  const int32_t mode = FProfileGroupIndex;
  QByteArray result;
  const platform::RegStatus st = store->updateBinary(
      platform::HKEY_CURRENT_USER, Q(FOptionsFromConfigFile.ProfileRegFolder), Q(kProfileSettingGroupValue),
      [&](QByteArray& data, platform::RegStatus found) {
        if (found == platform::RegStatus::Ok && data.size() >= qsizetype(sizeof mode))
          std::memcpy(data.data(), &mode, sizeof mode);
        else
          data = QByteArray(reinterpret_cast<const char*>(&FProfileSettingGroup), kSettingGroupSize);
        result = data;
        return true;
      });
  if (st != platform::RegStatus::Ok) {
    status.Fail(store->lastError());
    return status;
  }
  QStringList repairs;
  AdoptProfileSettingGroup(result, repairs);
  FProfileGroupIndex = FProfileSettingGroup.CurrentProfileGroup;
  FProfileIndex = FProfileSettingGroup.ProfileIndexOfProfileGroup[FProfileGroupIndex];
  ConfigureProfileStores();
  return status;
}

bool TDM::SaveProfileInfoToRegistry(int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  const TStoreStatus st = SaveProfileToRegistry(AProfileIndex);
  return st.Ok && st.Skipped.isEmpty();
}

// ---------------------------------------------------------------------------
// Loading

TStoreStatus TDM::LoadProfileInfoFromRegistry(int AProfileIndex) {
  TStoreStatus status;
  if (!IsProfileIndexInRange(AProfileIndex)) {
    status.Fail(QStringLiteral("no profile %1").arg(AProfileIndex + 1));
    return status;
  }
  TuiProfile& s = *FProfileGroup[AProfileIndex];
  const QByteArray before = s.Stream();
  const TProfileIOResult r = s.LoadStreamFromRegistry();
  if (!r) {
    status.Fail(r);
    return status;
  }
  if (!TrimProfileStore(AProfileIndex)) {
    status.Fail(QStringLiteral("stored profile %1 holds %2 bytes, not a whole profile").arg(AProfileIndex + 1).arg(s.Size()));
    ReplaceStream(s, before.constData(), static_cast<int>(before.size()));
    return status;
  }
  if (const auto fault = StoreFault(AProfileIndex)) {
    status.Fail(QStringLiteral("stored profile %1 cannot be used: %2").arg(AProfileIndex + 1).arg(fault->Text()));
    ReplaceStream(s, before.constData(), static_cast<int>(before.size()));
    return status;
  }
  FNotLoaded[AProfileIndex] = false;
  return status;
}

TStoreStatus TDM::LoadCurrentProfileInfoFromRegistry() {
  TStoreStatus status = LoadProfileInfoFromRegistry(FProfileIndex);
  // Whatever the load answered: until its first Apply a profile lives only in
  // its file (or, when it did not load, in its defaults), and the current
  // profile may have just changed with the mode settings. The working copy
  // must be that profile's, not the one current before.
  ReadCurrentProfileInfo();
  return status;
}

TStoreStatus TDM::LoadCurrentProfileInfoFromFile(const QString& AFile) {
  TStoreStatus status;
  TuiProfile probe;
  if (auto r = probe.LoadStreamFromFile(AFile); !r) {
    status.Fail(r);
    return status;
  }
  const QByteArray& image = probe.Stream();
  if (image.size() < kProfileSize) {
    status.Fail(QStringLiteral("%1 is not a whole profile").arg(AFile));
    return status;
  }
  auto record = NewZeroImage<TMOUSEPROFILEINFO>();
  std::memcpy(static_cast<void*>(record.get()), image.constData(), kProfileSize);
  if (const auto fault = FirstProfileFault(*record)) {
    status.Fail(QStringLiteral("%1 cannot be used: %2").arg(AFile, fault->Text()));
    return status;
  }
  ImportCurrentProfileImage(image);
  return status;
}

bool TDM::ImportCurrentProfileImage(const QByteArray& image) {
  if (image.size() < kProfileSize) return false;
  TuiProfile& s = *CurrentStore();
  ReplaceStream(s, image.constData(), kProfileSize);
  s.Read(&FCurrentProfileInfo, kProfileSize);
  FNotLoaded[FProfileIndex] = false;
  return true;
}

TStoreStatus TDM::LoadProfileGroupSettingInfoFromRegistry() {
  TStoreStatus status = LoadProfileSettingGroup(/*atStartUp=*/false);
  // The other program may have rebound a profile to another file.
  ConfigureProfileStores();
  return status;
}

TStoreStatus TDM::LoadAllProfileInfoFromRegistry() { return LoadAllProfileSettingInfo(/*atStartUp=*/false); }

// ---------------------------------------------------------------------------
// Defaults

void TDM::RestoreCurrentProfileInfoToDefault() {
  TuiProfile& s = *CurrentStore();
  s.RestoreToDefault();
  s.Read(&FCurrentProfileInfo, kProfileSize);
  SetDefaultLedColor(FProfileIndex, FCurrentProfileInfo);
  s.Write(&FCurrentProfileInfo, kProfileSize);
  FNotLoaded[FProfileIndex] = false;
}

QByteArray TDM::CurrentProfileRestoredImage() {
  QByteArray image = CurrentStore()->Stream();
  uiProfileGame1RestoreToDefault(image);
  image.truncate(kProfileSize);
  auto rec = NewZeroImage<TMOUSEPROFILEINFO>();
  std::memcpy(static_cast<void*>(rec.get()), image.constData(), kProfileSize);
  SetDefaultLedColor(FProfileIndex, *rec);
  std::memcpy(image.data(), static_cast<const void*>(rec.get()), kProfileSize);
  return image;
}

bool TDM::RestoreProfileInfoToDefault(int AProfileIndex) {
  if (!IsProfileIndexInRange(AProfileIndex)) return false;
  FProfileGroup[AProfileIndex]->RestoreToDefault();
  FNotLoaded[AProfileIndex] = false;
  return true;
}

bool TDM::RestoreProfileGroupToDefault(int AProfileGroupIndex) {
  if (!IsProfileGroupIndexInRange(AProfileGroupIndex)) return false;
  const int p = FProfileSettingGroup.ProfileIndexOfProfileGroup[AProfileGroupIndex];
  if (!IsProfileIndexInRange(p)) return false;
  if (p == FProfileIndex)
    RestoreCurrentProfileInfoToDefault();
  else
    RestoreProfileInfoToDefault(p);
  return true;
}

TStoreStatus TDM::RestoreProfileSettingGroupToDefault() {
  TStoreStatus status;
  uiProfileSettingGroup.RestoreToDefault();
  if (auto r = uiProfileSettingGroup.SaveStreamToRegistry(); !r) status.Fail(r);
  return status;
}

void TDM::RestoreToDefaultCPISetting() {
  TMOUSECONFIGINFO& c = FCurrentProfileInfo.ConfigInfo;
  DefaultCpiLevels(c);
  for (int l = 0; l < 4; ++l) c.UseDiffentXY[l] = 0;
  c.ApplyCPISettingEachProfile = 1;
  c.ApplyAccelaration = 0;
  c.ApplyDiffirentXY = 0;
}

void TDM::RestoreToDefaultLightAndReportAdvancedSetting() {
  TMOUSECONFIGINFO& c = FCurrentProfileInfo.ConfigInfo;
  c.ApplyCPISettingEachProfile = 1;
  c.ApplyAccelaration = 1;
  c.ApplyDiffirentXY = 0;
  c.FireKeySpeed = 5;
  c.FireKeyCount = 2;
  c.ReportRate = 125;
  c.LEDConfig.BRIGHT_LEVEL = 2;
  c.LEDConfig.BREATH_SPEED = 2;
  c.LEDConfig.R = 255;
  c.LEDConfig.G = 0;
  c.LEDConfig.B = 0;
  c.WheelLedOnOff = 1;
}

void TDM::RestoreToDefaultReportRateSetting() { FCurrentProfileInfo.ConfigInfo.ReportRate = 125; }

void TDM::InitTestDefaultValue() {
  ConfigureStore(uiProfileTest, Q(kTestGameValue));
  ConfigureStore(uiProfileDefaultGame, Q(kDefaultGameValue));
  uiProfileTest.Write(&FTestProfileInfo, kProfileSize);
  uiProfileDefaultGame.Write(&FDefaultProfileInfo, kProfileSize);
  uiProfileTest.RestoreToDefault();
  uiProfileDefaultGame.RestoreToDefault();
  uiProfileTest.Read(&FTestProfileInfo, kProfileSize);
  uiProfileDefaultGame.Read(&FDefaultProfileInfo, kProfileSize);
}

void TDM::SetDefaultLedColor(int index, TMOUSEPROFILEINFO& profile) {
  static constexpr uint8_t kColours[kProfileCount][3] = {
      {255, 0, 0}, {0, 0, 255}, {255, 255, 0}, {0, 96, 96}, {255, 0, 255}};
  if (!IsProfileIndexInRange(index)) return;
  TLEDCONFIG& led = profile.ConfigInfo.LEDConfig;
  led.R = kColours[index][0];
  led.G = kColours[index][1];
  led.B = kColours[index][2];
}

QString TDM::GetProfileFolder() const {
  const QString folder =
      AddPathDelimiter(AddPathDelimiter(FEnv.DocumentsFolder) + Q(FOptionsFromConfigFile.ProfileFolder));
  if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
    Warn(QStringLiteral("cannot create the profile folder %1").arg(folder));
  return folder;
}

void TDM::DefaultProfileSetting(TProfileSetting& e, int i) const {
  const QString n = QString::number(i + 1);
  const QString prefix = Q(FOptionsFromConfigFile.ProfileNamePrefix);
  e.Reserved = 0;
  e.Storage = kStorageFile;
  if (!PutText(e.FileName, prefix + n + QStringLiteral(".pfd"), kProfileFileNameMaxUnits)) {
    // A cut name would no longer match its file: use the plain default.
    Warn(QStringLiteral("profile prefix \"%1\" too long; using \"Profile\"").arg(prefix));
    PutText(e.FileName, QStringLiteral("Profile") + n + QStringLiteral(".pfd"), kProfileFileNameMaxUnits);
  }
  if (!PutText(e.RegistryFolder, Q(FOptionsFromConfigFile.ProfileRegFolder), kFolderMaxUnits))
    Warn(QStringLiteral("settings key path too long to record"));
  const QString folder = GetProfileFolder();
  if (!PutText(e.FileFolder, folder, kFolderMaxUnits))
    Warn(QStringLiteral("profile folder %1 too long").arg(folder));
  if (!PutText(e.MacroFolder, folder + prefix + n + QStringLiteral("_Macros"), kFolderMaxUnits))
    Warn(QStringLiteral("macro folder too long"));
}

void TDM::uiProfileSettingGroupRestoreToDefault(QByteArray& AStream) {
  EditImage<TProfileSettingGroup>(AStream, [&](TProfileSettingGroup& g) {
    for (int i = 0; i < kProfileCount; ++i) DefaultProfileSetting(g.ProfileSettingList[i], i);
    g.CurrentProfileGroup = 0;
    g.ProfileIndexOfProfileGroup[0] = 0;
    g.ProfileIndexOfProfileGroup[1] = 1;
  });
}

void TDM::uiProfileAllSettingInfoRestoreToDefault(QByteArray& AStream) {
  EditImage<TALLGAMESINFO>(AStream, [](TALLGAMESINFO& a) {
    for (int i = 0; i < kProfileCount; ++i) {
      a.Allgameset[i].Reserved = 0;
      a.Allgameset[i].Storage = kStorageRegistry;
      a.Allgameset[i].FileFolder[0] = u'\0';
    }
    a.CurrentGame = 0;
    a.Allgameset[0].Reserved = 1;
    a.CurrentLanguage = 0;
  });
}

void TDM::uiProfileGame1RestoreToDefault(QByteArray& AStream) {
  EditImage<TMOUSEPROFILEINFO>(AStream, [](TMOUSEPROFILEINFO& p) {
    p.ProfileHeader.FFileVersion = kProfileFileVersion;
    TMOUSECONFIGINFO& c = p.ConfigInfo;
    c.ButtonCount = 7;
    for (int j = 0; j < 10; ++j) std::memset(static_cast<void*>(&c.ButtonFuncInfo[j]), 0, kButtonParamBytes);
    for (int j = 0; j < 5; ++j)
      SetButton(c.ButtonFuncInfo[j], j, kFunctionTypeMouse, j, DeviceFunctionTable[j].FunctionClass, j + 1);
    SetButton(c.ButtonFuncInfo[5], 5, kFunctionTypeDpi, 30, kFunctionClassDpiUp, 13);
    SetButton(c.ButtonFuncInfo[6], 6, kFunctionTypeDpi, 31, kFunctionClassDpiDown, 14);
    SetButton(c.VWheelButtonFuncInfo[0], 0, kFunctionTypeMouse, 0, kFunctionClassWheelUp, 1);
    SetButton(c.VWheelButtonFuncInfo[1], 1, kFunctionTypeMouse, 1, kFunctionClassWheelDown, 2);
    c.HWVWheelValue = 1;
    c.WheelLedOnOff = 1;
    c.VWheelSpeed = 3;
    c.DoubleClickSpeed = 550;
    c.PointerSpeed = 10;
    c.PointerAcceleration = 0;
    c.ReportRate = 125;
    c.CPILevel = 4;
    c.LEDConfig.R = 255;
    c.LEDConfig.G = 0;
    c.LEDConfig.B = 0;
    c.LEDConfig.BRIGHT_LEVEL = 2;
    c.LEDConfig.BREATH_SPEED = 2;
    DefaultCpiLevels(c);
    for (int l = 0; l < 4; ++l) c.UseDiffentXY[l] = 1;
    p.MacroKeyInfoList.nMacroInfoCount = 0;
    c.ApplyCPISettingEachProfile = 1;
    c.ApplyAccelaration = 0;
    c.ApplyDiffirentXY = 0;
    c.FireKeySpeed = 10;
    c.FireKeyCount = 2;
  });
}

void TDM::uiProfileTestRestoreToDefault(QByteArray& AStream) {
  if (AStream.isEmpty()) return;
  EditImage<TMOUSEPROFILEINFO>(AStream, [](TMOUSEPROFILEINFO& p) {
    ZeroImage(p);
    p.ProfileHeader.FFileVersion = kProfileFileVersion;
    TMOUSECONFIGINFO& c = p.ConfigInfo;
    c.ButtonCount = 8;
    for (int j = 0; j < 5; ++j)
      SetButton(c.ButtonFuncInfo[j], j, kFunctionTypeMouse, j, DeviceFunctionTable[j].FunctionClass, 0);
    for (int j = 5; j < 8; ++j) {
      SetButton(c.ButtonFuncInfo[j], j, kFunctionTypeMicMute, 14, kFunctionClassMicMute, 0);
      for (int k = 0; k < 3; ++k) c.ButtonFuncInfo[j].MicMask[k] = ButtonMaskTable[j][k + 1];
    }
  });
}

// ---------------------------------------------------------------------------

bool TDM::ChangeCurrentProfileFileNameAndPath(const QString& AProfileFilePath) {
  const QFileInfo info(AProfileFilePath);
  const QString name = info.fileName();
  const QString folder = AddPathDelimiter(info.absolutePath());
  if (name.isEmpty() || name.size() > kProfileFileNameMaxUnits || size_t(folder.size()) > kFolderMaxUnits) {
    Warn(QStringLiteral("%1: file name or folder too long for a profile").arg(AProfileFilePath));
    return false;
  }
  if (IsFileNameTaken(name, FProfileIndex)) {
    Warn(QStringLiteral("%1: name already used by another profile or a setting").arg(name));
    return false;
  }
  TuiProfile& s = *CurrentStore();
  s.SetFileName(name);
  s.SetFilePath(folder);
  TProfileSetting& e = FProfileSettingGroup.ProfileSettingList[FProfileIndex];
  PutText(e.FileName, name, kProfileFileNameMaxUnits);
  PutText(e.FileFolder, folder, kFolderMaxUnits);
  return true;
}

bool TDM::IsFileNameTaken(const QString& name, int exceptIndex) const {
  if (name.compare(Q(kProfileSettingGroupValue), Qt::CaseInsensitive) == 0 ||
      name.compare(Q(kAllProfileValue), Qt::CaseInsensitive) == 0)
    return true;
  for (int i = 0; i < kProfileCount; ++i)
    if (i != exceptIndex &&
        name.compare(QText(FProfileSettingGroup.ProfileSettingList[i].FileName), Qt::CaseInsensitive) == 0)
      return true;
  return false;
}
