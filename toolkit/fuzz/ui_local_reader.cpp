// Feeds arbitrary bytes to the "ui.local" reader; whatever it accepts must
// write back and read again to the same content.
#include "toolkit/LanguageFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data),
                                                   static_cast<qsizetype>(size));
  TLanguageData parsed;
  QString error;
  QString warning;
  if (!ParseLanguageFile(bytes, parsed, &error, &warning)) return 0;
  TLanguageData again;
  if (!ParseLanguageFile(SerializeLanguageFile(parsed), again, &error, &warning)) std::abort();
  if (again.Original != parsed.Original || again.Languages.size() != parsed.Languages.size())
    std::abort();
  for (size_t i = 0; i < parsed.Languages.size(); ++i) {
    if (again.Languages[i].Name != parsed.Languages[i].Name ||
        again.Languages[i].Table != parsed.Languages[i].Table)
      std::abort();
  }
  return 0;
}
