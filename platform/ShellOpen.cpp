#include "platform/ShellOpen.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <cstdio>

namespace platform {

bool openUrl(const QUrl& url) {
  if (!url.isValid() || url.isEmpty()) {
    std::fprintf(stderr, "open: not a valid address: %s\n", qPrintable(url.toString()));
    return false;
  }
  const bool ok = QDesktopServices::openUrl(url);
  if (!ok) std::fprintf(stderr, "open %s: failed\n", qPrintable(url.toString()));
  return ok;
}

bool openFile(const QString& path) {
  return openUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

bool openAddress(const QString& text) { return openUrl(QUrl(text.trimmed(), QUrl::StrictMode)); }

}  // namespace platform
