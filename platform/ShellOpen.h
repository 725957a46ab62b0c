#pragma once
#include <QString>
#include <QUrl>

namespace platform {

// Opening a file or an address with the desktop's default application (the
// Windows shell's "open" verb). False when the desktop could not open it;
// callers in this system show nothing then.
bool openUrl(const QUrl& url);
// A local file, by path.
bool openFile(const QString& path);
// Text as the user or a file gave it (a web address, mostly): passed on as
// it is, without guessing a scheme.
bool openAddress(const QString& text);

}  // namespace platform
