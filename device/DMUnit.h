#pragma once
// TDM, the data module: the single owner of every profile record of its
// process. It loads the mode settings, the all-profile settings and the five
// profiles at start-up (from the settings store or from their files), makes
// defaults where nothing loads, and offers switching, saving and restoring.
//
// One instance per process; it holds several large records, so create it on
// the heap. Main thread only.
#include <QString>
#include <QStringList>
#include <array>
#include <memory>

#include "device/ProfileCheck.h"
#include "device/pubunit_quindle.h"
#include "device/uiProfile.h"
#include "platform/RegistryStore.h"

// The world a data module lives in; tests build one in temporary folders.
struct TDMEnvironment {
  platform::RegistryStore* Store = nullptr;  // not owned
  QString ProgramFolder;                     // where config.ini is
  QString DocumentsFolder;                   // the user's documents folder
};

// The answer of a save or load. Ok is false when something asked for was not
// done; Skipped names profiles left alone because they never loaded (their
// stored data is kept until the user edits, resets or imports them).
// One value or file that could not be stored or read, and why.
struct TStoreFailure {
  QString What;  // empty when the reason names everything
  QString Why;
  bool operator==(const TStoreFailure&) const = default;
};

struct TStoreStatus {
  bool Ok = true;
  QStringList Skipped;
  QString Error;  // every failure for a reader, "; " between them
  QList<TStoreFailure> Failures;

  explicit operator bool() const { return Ok; }
  void Fail(const QString& why) { Fail(TStoreFailure{QString(), why}); }
  void Fail(const QString& what, const QString& why) { Fail(TStoreFailure{what, why}); }
  void Fail(const TProfileIOResult& r) { Fail(TStoreFailure{r.what, r.why}); }
  void Fail(const TStoreFailure& failure);
  void Merge(const TStoreStatus& other);
  // For the user, short enough for a message dialog: every value or file
  // that was not stored, named once, grouped by the reason they share.
  QString Summary() const;
};

// Names of the settings values and of the two test stores.
inline constexpr char16_t kProfileSettingGroupValue[] = u"ProfileSettingGroup.pfd";
inline constexpr char16_t kAllProfileValue[] = u"ALLPROFILE.pfd";
inline constexpr char16_t kDefaultGameValue[] = u"QRX7714ProfileDef.pfd";
inline constexpr char16_t kTestGameValue[] = u"QRX7714ProfileTest.pfd";

inline constexpr int kProfileGroupCount = 2;

// Sets the vendor-collection selector (usage 1, usage page 0xFFA0) that every
// device request goes to.
void SetVendorCollection();

class TDM {
 public:
  explicit TDM(TDMEnvironment env);
  TDM(const TDM&) = delete;
  TDM& operator=(const TDM&) = delete;

  // Start-up: config.ini, the mode settings, the all-profile settings, the
  // five profiles, the current mode and the device collection. Problems are
  // reported on stderr and in the answer; the module is usable either way.
  TStoreStatus InitData();

  // --- switching
  bool SwitchToProfileGroup(int AProfileGroupIndex);
  bool SwitchToProfile(int AProfileIndex);
  static bool IsProfileGroupIndexInRange(int g) { return g >= 0 && g < kProfileGroupCount; }
  static bool IsProfileIndexInRange(int i) { return i >= 0 && i < kProfileCount; }

  // --- copying between the working records and the stores (memory only)
  void SaveBackToCurrentProfileInfo();
  void SaveBackToProfileGroupSettingInfo();
  bool SaveBackToProfileInfo(const TMOUSEPROFILEINFO& AProfileInfo, int AProfileIndex);
  bool ReadProfileInfo(TMOUSEPROFILEINFO& AProfileInfo, int AProfileIndex) const;
  bool ReadCurrentProfileInfo();

  // --- saving
  TStoreStatus SaveCurrentProfileInfoToRegistry();
  // The current store as last saved back, to its own file.
  TStoreStatus SaveCurrentProfileInfoToFile();
  // The current store to a file of the user's choice (export).
  TStoreStatus SaveCurrentProfileInfoToFile(const QString& AFile);
  TStoreStatus SaveBackAllProfileInfo();
  TStoreStatus SaveBackAllProfileInfoToRegistry();
  TStoreStatus SaveBackAllProfileInfoToFile();
  TStoreStatus SaveBackAllProfileSettingInfo();
  TStoreStatus SaveProfileGroupSettingInfoToRegistry();
  // The monitor's save after the mouse switched mode: only CurrentProfileGroup
  // changes in the stored value, read and written in one transaction, so a
  // file name the configurator stored meanwhile survives. The stored record
  // then becomes the module's mode settings.
  TStoreStatus SaveProfileGroupIndexToRegistry();
  bool SaveProfileInfoToRegistry(int AProfileIndex);

  // --- loading
  // The current profile's stored value into its store, then the store into
  // the working copy, also when nothing was stored or the load failed.
  TStoreStatus LoadCurrentProfileInfoFromRegistry();
  // Loads a whole profile file into the current store and working copy; a
  // file shorter than a profile, or one that fails FirstProfileFault, is
  // refused and changes nothing.
  TStoreStatus LoadCurrentProfileInfoFromFile(const QString& AFile);
  // Takes a checked profile image (at least a whole record; the rest is cut)
  // as the current profile: store and working copy.
  bool ImportCurrentProfileImage(const QByteArray& image);
  TStoreStatus LoadProfileInfoFromRegistry(int AProfileIndex);
  TStoreStatus LoadProfileGroupSettingInfoFromRegistry();
  TStoreStatus LoadAllProfileInfoFromRegistry();

  // --- defaults
  void RestoreCurrentProfileInfoToDefault();
  bool RestoreProfileInfoToDefault(int AProfileIndex);
  bool RestoreProfileGroupToDefault(int AProfileGroupIndex);
  TStoreStatus RestoreProfileSettingGroupToDefault();
  void RestoreToDefaultCPISetting();
  void RestoreToDefaultLightAndReportAdvancedSetting();
  void RestoreToDefaultReportRateSetting();
  void InitTestDefaultValue();
  // What RestoreCurrentProfileInfoToDefault would make of the current store,
  // without changing anything (a new profile file is written before binding).
  QByteArray CurrentProfileRestoredImage();

  // Binds the current profile to another file (store and settings entry).
  // A name longer than 20 characters or a folder too long for its field is
  // refused: false, nothing changed. Nothing is stored.
  bool ChangeCurrentProfileFileNameAndPath(const QString& AProfileFilePath);

  // True when another profile than `exceptIndex` is bound to that file name
  // (compared without case), or the name is one of the two settings values.
  bool IsFileNameTaken(const QString& name, int exceptIndex) const;
  // False while profile i holds defaults only because its stored data could
  // not be read; saves of it are skipped until it is edited, reset or imported.
  bool IsProfileLoaded(int i) const { return IsProfileIndexInRange(i) && !FNotLoaded[i]; }

  // The profile folder under the documents folder, with a trailing
  // delimiter; created when missing.
  QString GetProfileFolder() const;
  QString GetProfilePath() const { return GetProfileFolder(); }
  static void SetDefaultLedColor(int index, TMOUSEPROFILEINFO& profile);

  TuiProfile* CurrentStore() const { return FProfileGroup[FProfileIndex]; }
  TuiProfile* ProfileStore(int i) const { return IsProfileIndexInRange(i) ? FProfileGroup[i] : nullptr; }
  int ProfileGroupIndex() const { return FProfileGroupIndex; }
  int ProfileIndex() const { return FProfileIndex; }
  const TDMEnvironment& Environment() const { return FEnv; }

  // The stores.
  TuiProfile uiProfileAllSettingInfo;
  TuiProfile uiProfileGame1, uiProfileGame2, uiProfileGame3, uiProfileGame4, uiProfileGame5;
  TuiProfile uiProfileSettingGroup;
  TuiProfile uiProfileDefaultGame;
  TuiProfile uiProfileTest;

  // The records. Windows edit FCurrentProfileInfo in place and call
  // SaveBackToCurrentProfileInfo after every change.
  TALLGAMESINFO FAllProfileSettingInfo;
  TProfileSettingGroup FProfileSettingGroup;
  TMOUSEPROFILEINFO FCurrentProfileInfo;
  TOtherConfig FOtherConfig;
  TMOUSEPROFILEINFO FDefaultProfileInfo;
  TMOUSEPROFILEINFO FTestProfileInfo;
  TOptionsFromConfigFile FOptionsFromConfigFile;

 private:
  // Default handlers of the stores.
  void uiProfileSettingGroupRestoreToDefault(QByteArray& AStream);
  void uiProfileAllSettingInfoRestoreToDefault(QByteArray& AStream);
  static void uiProfileGame1RestoreToDefault(QByteArray& AStream);
  void uiProfileTestRestoreToDefault(QByteArray& AStream);
  // One entry of the mode settings as the defaults make it.
  void DefaultProfileSetting(TProfileSetting& e, int i) const;

  void ConfigureStore(TuiProfile& s, const QString& name) const;
  void ConfigureProfileStores();
  TStoreStatus LoadProfileSettingGroup(bool atStartUp);
  TStoreStatus LoadAllProfileSettingInfo(bool atStartUp);
  TStoreStatus LoadAllProfiles();
  // Removes what killed saves left in the profiles' file and macro folders.
  void RemoveStaleSaveTemporaryFiles() const;
  // Takes the image in the settings store as the mode settings, repairing
  // what is damaged; true when something was repaired.
  bool AdoptProfileSettingGroup(const QByteArray& stored, QStringList& repairs);
  // Puts the default profile i (with its colour) into store i.
  void MakeDefaultProfile(int i);
  // Store i after a load: cut to a whole record; false when shorter.
  bool TrimProfileStore(int i);
  void MarkNotLoaded(int i, const QString& why);
  // The first field of store i that no profile of ours holds, if any.
  std::optional<TProfileFault> StoreFault(int i) const;
  TStoreStatus SaveProfileToRegistry(int i);
  TStoreStatus SaveProfileToFile(int i);

  TDMEnvironment FEnv;
  std::array<TuiProfile*, 6> FProfileGroup{};
  int FProfileGroupIndex = 0;
  int FProfileIndex = 0;
  std::array<bool, kProfileCount> FNotLoaded{};
};
