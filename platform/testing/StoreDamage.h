#pragma once
// Ways a settings store file is found damaged, for tests of the start-up
// that sets such a store aside: each turns the bytes of a whole store into
// the damaged file.
#include <QByteArray>
#include <ostream>

namespace platform::testing {

struct StoreDamage {
  const char* name;
  QByteArray (*damage)(const QByteArray& whole);
};
inline void PrintTo(const StoreDamage& d, std::ostream* os) { *os << d.name; }

inline const StoreDamage kStoreDamages[] = {
    {"NotADatabase", [](const QByteArray&) { return QByteArray(8192, 'q'); }},
    {"FailsIntegrityCheck",
     [](const QByteArray& whole) {
       // The header and the schema stay readable; a page in the middle of
       // the values' tree becomes noise.
       QByteArray b = whole;
       const qsizetype page = 4096, at = (b.size() / page / 2) * page;
       for (qsizetype i = 0; i < page && at + i < b.size(); ++i) b[at + i] = char((i * 37) & 0xFF);
       return b;
     }},
    {"CutShort", [](const QByteArray& whole) { return whole.left(whole.size() / 3); }},
    {"HeaderOnly", [](const QByteArray& whole) { return whole.left(60); }},
};

}  // namespace platform::testing
