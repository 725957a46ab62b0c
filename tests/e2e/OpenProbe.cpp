// Starts up as both programs do and opens the file named by OPEN_PROBE_FILE
// through the desktop's file opener: what that opener's process inherits is
// what a browser or a document viewer opened from our programs inherits.
#include <QGuiApplication>

#include <optional>

#include "platform/QtPlatformChoice.h"
#include "platform/ShellOpen.h"

int main(int argc, char** argv) {
  std::optional<platform::QtArguments> qtArgs = platform::prepareQtPlatform("open-probe", argc, argv);
  if (!qtArgs) return 1;
  QGuiApplication app(qtArgs->argc(), qtArgs->argv());
  return platform::openFile(qEnvironmentVariable("OPEN_PROBE_FILE")) ? 0 : 1;
}
