#include "device/ProfileFileDialogs.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>
#include <cstring>

namespace {

constexpr qint64 kProfileSize = sizeof(TMOUSEPROFILEINFO);
constexpr qsizetype kFolderMaxUnits = 1023;

// The name must fit its fields whole: a cut name would no longer lead to
// its file. Shows why when it does not.
bool AcceptableBinding(TDM& DM, TProfileFileChooser& chooser, const QString& path) {
  const QFileInfo info(path);
  if (info.fileName().size() > kProfileFileNameMaxUnits ||
      AddPathDelimiter(info.absolutePath()).size() > kFolderMaxUnits) {
    chooser.ShowMessage(QString::fromLatin1(kNameTooLongMessage));
    return false;
  }
  if (DM.IsFileNameTaken(info.fileName(), DM.ProfileIndex())) {
    chooser.ShowMessage(QString::fromLatin1(kNameTakenMessage));
    return false;
  }
  return true;
}

void StoreBinding(TDM& DM) {
  TStoreStatus st = DM.SaveCurrentProfileInfoToRegistry();
  DM.SaveBackToProfileGroupSettingInfo();
  st.Merge(DM.SaveProfileGroupSettingInfoToRegistry());
  if (!st) std::fprintf(stderr, "profiles: storing the profile binding failed: %s\n", qPrintable(st.Error));
}

}  // namespace

bool NewProfileFileDialog(TDM& DM, TProfileFileChooser& chooser, const QString& initialFolder) {
  const QString name = chooser.ChooseSaveFile(initialFolder);
  if (name.isEmpty()) return false;
  if (!AcceptableBinding(DM, chooser, name)) return false;
  // Write the file first: when that fails, the profile keeps its old binding.
  const QByteArray image = DM.CurrentProfileRestoredImage();
  QSaveFile f(name);
  f.setDirectWriteFallback(false);
  if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size() || !f.commit()) {
    chooser.ShowMessage(QString::fromLatin1(kNoPermissionMessage));
    return false;
  }
  if (!DM.ChangeCurrentProfileFileNameAndPath(name)) return false;
  DM.RestoreCurrentProfileInfoToDefault();
  StoreBinding(DM);
  return true;
}

bool LoadProfileFileDialog(TDM& DM, TProfileFileChooser& chooser, const QString& initialFolder) {
  const QString name = chooser.ChooseOpenFile(AddPathDelimiter(initialFolder));
  if (name.isEmpty()) return false;
  // Read once; one byte past a profile is enough to know a file is longer.
  if (!FileExists(name)) return false;
  QFile f(name);
  if (!f.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "profiles: %s: %s\n", qPrintable(name), qPrintable(f.errorString()));
    return false;
  }
  const QByteArray image = f.read(kProfileSize + 1);
  if (f.error() != QFileDevice::NoError || image.size() < kProfileSize) return false;
  int32_t version = 0;
  std::memcpy(&version, image.constData(), sizeof version);
  if (version != kProfileFileVersion) return false;
  if (!AcceptableBinding(DM, chooser, name)) return false;
  if (!DM.ChangeCurrentProfileFileNameAndPath(name)) return false;
  DM.ImportCurrentProfileImage(image);
  StoreBinding(DM);
  return true;
}

bool SaveProfileFileDialog(TDM& DM, TProfileFileChooser& chooser, const QString& initialFolder) {
  const QString name = chooser.ChooseSaveFile(AddPathDelimiter(initialFolder));
  if (name.isEmpty()) return false;
  // The save itself is the permission test: it goes through a temporary file
  // and leaves nothing behind when it fails.
  if (!DM.SaveCurrentProfileInfoToFile(name)) {
    chooser.ShowMessage(QString::fromLatin1(kNoPermissionMessage));
    return false;
  }
  return true;
}
