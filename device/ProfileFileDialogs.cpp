#include "device/ProfileFileDialogs.h"

#include "device/ProfileCheck.h"

#include <QDir>
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
  auto refuse = [&](const QString& why) {
    chooser.ShowRefusal(QStringLiteral("The file \"%1\" was not imported: %2.").arg(QDir::toNativeSeparators(name), why));
    return false;
  };
  if (!FileExists(name)) return refuse(QStringLiteral("it does not exist"));
  // Read once; one byte past a profile is enough to know a file is longer.
  QFile f(name);
  if (!f.open(QIODevice::ReadOnly)) return refuse(QStringLiteral("it cannot be read (%1)").arg(f.errorString()));
  const QByteArray image = f.read(kProfileSize + 1);
  if (f.error() != QFileDevice::NoError) return refuse(QStringLiteral("it cannot be read (%1)").arg(f.errorString()));
  if (image.size() < kProfileSize)
    return refuse(QStringLiteral("it holds %1 bytes, and a profile holds %2").arg(image.size()).arg(kProfileSize));
  auto record = NewZeroImage<TMOUSEPROFILEINFO>();
  std::memcpy(static_cast<void*>(record.get()), image.constData(), kProfileSize);
  if (const auto fault = FirstProfileFault(*record))
    return refuse(QStringLiteral("it is not a profile this program can use (%1)").arg(fault->Text()));
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
