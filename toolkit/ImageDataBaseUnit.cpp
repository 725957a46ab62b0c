#include "toolkit/ImageDataBaseUnit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>

namespace {

QString withSlashes(const QString& path) {
  QString p = path;
  p.replace(u'\\', u'/');
  return p;
}

}  // namespace

QString ProgramFolder() {
  return QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
}

QString ResolveProgramPath(const QString& path, const QString& programFolder) {
  const QString p = withSlashes(path);
  if (p.isEmpty() || QFileInfo::exists(p)) return p;
  const QString root = QDir::cleanPath(withSlashes(programFolder));
  const QString clean = QDir::cleanPath(p);
  if (root.isEmpty() || !clean.startsWith(root + u'/')) return p;

  const QStringList parts = clean.mid(root.size() + 1).split(u'/', Qt::SkipEmptyParts);
  QString current = root;
  for (const QString& part : parts) {
    const QString exact = current + u'/' + part;
    if (QFileInfo::exists(exact)) {
      current = exact;
      continue;
    }
    const QStringList entries = QDir(current).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    const auto it = std::find_if(entries.begin(), entries.end(), [&](const QString& entry) {
      return entry.compare(part, Qt::CaseInsensitive) == 0;
    });
    if (it == entries.end()) return p;
    current += u'/' + *it;
  }
  return current;
}

TImageDataBase::TImageDataBase() : TImageDataBase(ProgramFolder()) {}

TImageDataBase::TImageDataBase(const QString& APath, const QString& programFolder)
    : FProgramFolder(programFolder) {
  SetImageBasePath(APath);
}

void TImageDataBase::SetImageBasePath(const QString& APath) {
  FBasePath = withSlashes(APath);
  if (!FBasePath.isEmpty() && !FBasePath.endsWith(u'/')) FBasePath += u'/';
  IMGDB.clear();
  // The style sheets name skin pictures as "skin:<sub-folder>/<name>".
  QDir::setSearchPaths(QStringLiteral("skin"), FBasePath.isEmpty() ? QStringList() : QStringList{FBasePath});
}

const TuiImageData* TImageDataBase::find(const QString& name) const {
  for (const TuiImageData& entry : IMGDB) {
    if (entry.ImageName == name) return &entry;
  }
  return nullptr;
}

const TuiImageData* TImageDataBase::load(const QString& name, const QString& path) {
  const QString resolved = ResolveProgramPath(path, FProgramFolder);
  if (!QFileInfo(resolved).isFile()) return nullptr;
  QImageReader reader(resolved);
  reader.setAutoTransform(false);
  QImage image = reader.read();
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) return nullptr;
  IMGDB.push_back(TuiImageData{name, resolved, std::move(image)});
  return &IMGDB.back();
}

void TImageDataBase::AssignIMAGE(QImage& ATargetImage, const QString& AImageName,
                                 const QString& AImageSubPath, const QString& AImagePath) {
  if (AImageName == QLatin1String("EMPTY")) {
    ATargetImage = QImage();
    return;
  }
  const TuiImageData* entry = find(AImageName);
  if (!entry) {
    QString path;
    if (!AImagePath.isEmpty()) {
      path = withSlashes(AImagePath) + AImageName;
    } else {
      path = FBasePath;
      if (!AImageSubPath.isEmpty()) path += withSlashes(AImageSubPath) + u'/';
      path += AImageName;
    }
    entry = load(AImageName, path);
  }
  // QImage copies share pixels until one side writes, so the cache and the
  // window never see each other's changes.
  if (entry) ATargetImage = entry->Image;
}

QImage TImageDataBase::IMAGE(const QString& AImageName, const QString& AImagePath) {
  const TuiImageData* entry = find(AImageName);
  if (!entry) {
    const QString path = AImagePath.isEmpty() ? FBasePath + AImageName
                                              : withSlashes(AImagePath) + AImageName;
    entry = load(AImageName, path);
  }
  return entry ? entry->Image : QImage();
}

TImageDataBase& ImageDataBase() {
  static TImageDataBase instance(ProgramFolder() + QStringLiteral("/Images/0409"));
  return instance;
}
