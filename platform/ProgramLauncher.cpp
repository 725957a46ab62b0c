#include "platform/ProgramLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <cstdio>

namespace platform {

namespace {
struct ProgramName {
  const char* windowsName;
  const char* executable;
};
// The one place that maps the Windows names to our executables.
constexpr ProgramName kPrograms[] = {
    {"tessold.exe", "tessold"},
    {"Marvane.exe", "Marvane"},
};
}  // namespace

std::optional<QString> executableFor(std::string_view windowsName) {
  const QString wanted = QString::fromUtf8(windowsName.data(), static_cast<qsizetype>(windowsName.size()));
  for (const auto& p : kPrograms)
    if (wanted.compare(QLatin1String(p.windowsName), Qt::CaseInsensitive) == 0)
      return QString::fromLatin1(p.executable);
  return std::nullopt;
}

bool startProgram(std::string_view windowsName, const QString& folder) {
  const auto exe = executableFor(windowsName);
  if (!exe) {
    std::fprintf(stderr, "start %.*s: not one of our programs\n", static_cast<int>(windowsName.size()),
                 windowsName.data());
    return false;
  }
  const QString dir = folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
  const QString program = QDir(dir).absoluteFilePath(*exe);
  if (!QProcess::startDetached(program, {}, dir)) {
    std::fprintf(stderr, "start %s: failed\n", qPrintable(program));
    return false;
  }
  return true;
}

}  // namespace platform
