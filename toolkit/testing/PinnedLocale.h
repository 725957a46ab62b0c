#pragma once
// The lines of "ui.local" are ordered by the user's locale. A test program
// that expects one order includes this header once: before anything asks
// for the system locale, the process takes English (United States), so the
// order does not depend on the machine that runs the tests.
#include <QByteArray>
#include <QtGlobal>

namespace pinnedlocale {
inline const bool kPinned = [] {
  qputenv("LC_ALL", QByteArrayLiteral("en_US.UTF-8"));
  qputenv("LC_COLLATE", QByteArrayLiteral("en_US.UTF-8"));
  qputenv("LANG", QByteArrayLiteral("en_US.UTF-8"));
  return true;
}();
}  // namespace pinnedlocale
