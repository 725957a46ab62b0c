#include "platform/UserFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace platform {

QString programFolder() {
  const QString over = qEnvironmentVariable("MOUSE_PROGRAM_DIR");
  if (!over.isEmpty()) return over;
  if (QCoreApplication::instance()) return QCoreApplication::applicationDirPath();
  // Without an application object, /proc names the executable.
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

QString documentsFolder() {
  QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (docs.isEmpty()) docs = QDir::homePath() + QStringLiteral("/Documents");
  return docs;
}

}  // namespace platform
