// Crash consistency of everything the programs save: a child process writes
// generation after generation of the five profiles (settings store and files,
// through the data module), an integer and a binary settings value, and macro
// files; the parent kills it with SIGKILL at a random moment, then checks that
// every file and every stored value is whole and belongs to a generation the
// child had started, no older than the last one it finished.
//
//   crash_consistency [--kills N] [--seed S] [--keep]
//
// Prints one line per kind of item and a closing "N passed, N failed" line
// (a passed kill is one after which everything was whole). Exit 0 when no
// item was ever torn, stale or missing.
//
// Every image carries its generation in its first four bytes and is otherwise
// a pseudo-random function of (generation, item), so the checker rebuilds the
// exact bytes an item of that generation must have.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QString>

#include <sqlite3.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "device/DMUnit.h"
#include "device/pubunit_quindle.h"
#include "platform/RegistryStore.h"
#ifdef MOUSE_CRASH_MACROS
#include "macro/uiMacroClassUnit.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using platform::HKEY_CURRENT_USER;
using platform::RegStatus;

const QString kCrashKey = QStringLiteral("software\\CrashConsistency");
const QString kGenerationValue = QStringLiteral("Generation");
const QString kBlobValue = QStringLiteral("Blob");
constexpr int kMacroFiles = 3;

// --- images -------------------------------------------------------------

uint64_t splitmix(uint64_t& s) {
  uint64_t z = (s += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// `size` bytes: the generation, then bytes from (generation, item).
QByteArray image(uint32_t generation, uint32_t item, int size) {
  QByteArray out(size, '\0');
  uint64_t s = (uint64_t{generation} << 32) ^ (uint64_t{item} * 0x1000193u);
  for (int i = 0; i < size; i += 8) {
    const uint64_t v = splitmix(s);
    std::memcpy(out.data() + i, &v, std::min(8, size - i));
  }
  std::memcpy(out.data(), &generation, std::min<int>(4, size));
  return out;
}

QByteArray profileImage(uint32_t g, int i) { return image(g, 100 + i, sizeof(TMOUSEPROFILEINFO)); }
// The binary value changes size with the generation, so a value that mixed
// two writes would show in its length too.
QByteArray blobImage(uint32_t g) { return image(g, 200, 1000 + int(g % 97) * 61); }

#ifdef MOUSE_CRASH_MACROS
std::u16string macroName(int m) { return u"CrashMacro" + std::u16string(1, char16_t(u'1' + m)); }
QByteArray macroImage(uint32_t g, int m) {
  QByteArray bytes = image(g, 300 + m, sizeof(TMACROKEYINFO));
  TMACROKEYINFO info;
  std::memcpy(&info, bytes.constData(), sizeof info);
  std::memset(info.szMacroName, 0, sizeof info.szMacroName);
  const std::u16string name = macroName(m);
  std::copy(name.begin(), name.end(), info.szMacroName);
  info.Version = 258;
  std::memcpy(bytes.data(), &info, sizeof info);
  return bytes;
}
#endif

// --- the world both processes see ----------------------------------------

struct World {
  QString root;
  QString database() const { return root + "/registry.sqlite"; }
  QString program() const { return root + "/program"; }
  QString documents() const { return root + "/Documents"; }
  QString macroFolder() const { return root + "/Documents/Macro"; }
};

// Where the data module keeps each profile, learned once from a real start.
struct ProfilePlace {
  QString key, value, file;
};

void say(int fd, const std::string& line) {
  std::string text = line + "\n";
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::_Exit(4);
    }
    p += n;
    left -= size_t(n);
  }
}

// Writes generation g of every item, announcing each phase on fd (-1: quiet).
// Returns an error text, empty on success.
std::string writeGeneration(TDM& dm, platform::RegistryStore& store, const World& w, uint32_t g, int fd) {
  auto phase = [fd](const char* name) {
    if (fd >= 0) say(fd, std::string("P ") + name);
  };
  for (int i = 0; i < kProfileCount; ++i) {
    const QByteArray bytes = profileImage(g, i);
    TMOUSEPROFILEINFO info;
    std::memcpy(&info, bytes.constData(), sizeof info);
    dm.SaveBackToProfileInfo(info, i);
  }
  phase("profiles-store");
  if (auto s = dm.SaveBackAllProfileInfoToRegistry(); !s) return "profiles to the store: " + s.Error.toStdString();
  phase("profiles-files");
  if (auto s = dm.SaveBackAllProfileInfoToFile(); !s) return "profiles to files: " + s.Error.toStdString();
  phase("integer");
  if (store.writeInteger(HKEY_CURRENT_USER, kCrashKey, kGenerationValue, int32_t(g)) != RegStatus::Ok)
    return "integer value: " + store.lastError().toStdString();
  phase("binary");
  if (store.writeBinary(HKEY_CURRENT_USER, kCrashKey, kBlobValue, blobImage(g)) != RegStatus::Ok)
    return "binary value: " + store.lastError().toStdString();
#ifdef MOUSE_CRASH_MACROS
  phase("macros");
  for (int m = 0; m < kMacroFiles; ++m) {
    const QByteArray bytes = macroImage(g, m);
    TMACROKEYINFO info;
    std::memcpy(&info, bytes.constData(), sizeof info);
    std::string error;
    if (!TuiMacroClass::WriteMacroFile(info, w.macroFolder().toStdString(), &error)) return "macro file: " + error;
  }
#else
  (void)w;
#endif
  return {};
}

std::unique_ptr<TDM> startDataModule(platform::RegistryStore& store, const World& w) {
  auto dm = std::make_unique<TDM>(TDMEnvironment{&store, w.program(), w.documents()});
  dm->InitData();
  return dm;
}

// The child: start like a program, then write generations until killed.
int runWriter(const World& w, uint32_t first) {
  auto store = platform::openSqliteRegistryStore(w.database());
  auto dm = startDataModule(*store, w);
  say(1, "R");
  for (uint32_t g = first;; ++g) {
    say(1, "S " + std::to_string(g));
    const std::string error = writeGeneration(*dm, *store, w, g, 1);
    if (!error.empty()) {
      say(1, "E " + error);
      return 3;
    }
    say(1, "D " + std::to_string(g));
  }
}

// --- checking -------------------------------------------------------------

struct Range {
  uint32_t done = 0;     // every item is at least this generation
  uint32_t started = 0;  // no item is newer than this
};

// Empty when `bytes` is a whole image of a generation in range.
std::string judge(const QByteArray& bytes, int expectedSize, const Range& r,
                  const std::function<QByteArray(uint32_t)>& make) {
  if (bytes.size() != expectedSize)
    return "size " + std::to_string(bytes.size()) + ", expected " + std::to_string(expectedSize);
  uint32_t g;
  std::memcpy(&g, bytes.constData(), 4);
  if (g < r.done || g > r.started)
    return "generation " + std::to_string(g) + " outside " + std::to_string(r.done) + ".." + std::to_string(r.started);
  if (bytes != make(g)) return "content of generation " + std::to_string(g) + " damaged";
  return {};
}

std::optional<QByteArray> readWholeFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
  return f.readAll();
}

struct Tally {
  long checked = 0;
  long bad = 0;
  std::string firstProblem;
};

class Checker {
 public:
  Checker(const World& w, std::vector<ProfilePlace> places) : w_(w), places_(std::move(places)) {}

  // Returns true when every item is whole and in range.
  bool check(const Range& r) {
    bool ok = true;
    auto note = [&](const char* kind, const std::string& what, const std::string& problem) {
      Tally& t = tallies_[kind];
      ++t.checked;
      if (problem.empty()) return;
      ++t.bad;
      ok = false;
      if (t.firstProblem.empty()) t.firstProblem = what + ": " + problem;
    };
    auto store = platform::openSqliteRegistryStore(w_.database());
    for (int i = 0; i < kProfileCount; ++i) {
      auto make = [i](uint32_t g) { return profileImage(g, i); };
      const int size = sizeof(TMOUSEPROFILEINFO);
      const auto file = readWholeFile(places_[i].file);
      note("profile file", places_[i].file.toStdString(), file ? judge(*file, size, r, make) : "missing");
      QByteArray stored;
      const RegStatus s = store->readBinary(HKEY_CURRENT_USER, places_[i].key, places_[i].value, stored);
      note("profile in store", places_[i].value.toStdString(),
           s == RegStatus::Ok ? judge(stored, size, r, make) : "unreadable: " + store->lastError().toStdString());
    }
    int32_t generation = -1;
    const RegStatus gs = store->readInteger(HKEY_CURRENT_USER, kCrashKey, kGenerationValue, generation);
    note("integer in store", "Generation",
         gs != RegStatus::Ok                                        ? "unreadable: " + store->lastError().toStdString()
         : uint32_t(generation) < r.done || uint32_t(generation) > r.started ? "value " + std::to_string(generation) + " out of range"
                                                                     : std::string());
    QByteArray blob;
    const RegStatus bs = store->readBinary(HKEY_CURRENT_USER, kCrashKey, kBlobValue, blob);
    note("binary in store", "Blob",
         bs != RegStatus::Ok ? "unreadable: " + store->lastError().toStdString()
                             : judge(blob, int(blobImage(blob.size() >= 4 ? *reinterpret_cast<const uint32_t*>(blob.constData()) : 0).size()), r,
                                     blobImage));
    store.reset();
    note("store integrity", "registry.sqlite", integrity());
#ifdef MOUSE_CRASH_MACROS
    for (int m = 0; m < kMacroFiles; ++m) {
      const std::string path =
          TuiMacroClass::MacroFilePath(w_.macroFolder().toStdString(), macroName(m));
      const auto file = readWholeFile(QString::fromStdString(path));
      auto make = [m](uint32_t g) { return macroImage(g, m); };
      note("macro file", path, file ? judge(*file, sizeof(TMACROKEYINFO), r, make) : "missing");
    }
#endif
    return ok;
  }

  // Files beside the saved ones that a killed save left behind.
  int leftovers() const {
    int n = 0;
    for (const QString& folder : {QFileInfo(places_[0].file).absolutePath(), w_.macroFolder()}) {
      const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
      for (const QString& name : names)
        if (!name.endsWith(".pfd", Qt::CaseInsensitive) && !name.endsWith(".macro", Qt::CaseInsensitive)) ++n;
    }
    return n;
  }

  const std::map<std::string, Tally>& tallies() const { return tallies_; }

 private:
  std::string integrity() const {
    sqlite3* db = nullptr;
    std::string result;
    if (sqlite3_open_v2(w_.database().toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
      result = std::string("cannot open: ") + sqlite3_errmsg(db);
    } else {
      sqlite3_busy_timeout(db, 5000);
      sqlite3_stmt* st = nullptr;
      if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
          sqlite3_step(st) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        if (!text || std::strcmp(text, "ok") != 0) result = std::string("integrity: ") + (text ? text : "?");
      } else {
        result = std::string("integrity check failed: ") + sqlite3_errmsg(db);
      }
      sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return result;
  }

  const World& w_;
  std::vector<ProfilePlace> places_;
  std::map<std::string, Tally> tallies_;
};

// --- the parent -------------------------------------------------------------

struct Child {
  pid_t pid = -1;
  int out = -1;
  std::string buffer;
};

bool spawnWriter(const World& w, uint32_t first, Child& c) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  const std::string self = QCoreApplication::applicationFilePath().toStdString();
  const std::string root = w.root.toStdString();
  const std::string firstText = std::to_string(first);
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(fds[1], 1);
    const char* argv[] = {self.c_str(), "--writer", root.c_str(), firstText.c_str(), nullptr};
    ::execv(self.c_str(), const_cast<char* const*>(argv));
    std::_Exit(127);
  }
  ::close(fds[1]);
  c = Child{pid, fds[0], {}};
  return true;
}

// Reads what is there until `deadline` (or end of file when deadline is
// nullopt); calls `line` for each whole line. False on end of file.
bool pump(Child& c, std::optional<Clock::time_point> deadline, const std::function<void(const std::string&)>& line) {
  for (;;) {
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::microseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return true;
      timeout = int((left + 999) / 1000);
    }
    pollfd p{c.out, POLLIN, 0};
    const int n = ::poll(&p, 1, timeout);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) continue;  // the deadline is checked at the top
    char buf[4096];
    const ssize_t got = ::read(c.out, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    c.buffer.append(buf, size_t(got));
    size_t nl;
    while ((nl = c.buffer.find('\n')) != std::string::npos) {
      line(c.buffer.substr(0, nl));
      c.buffer.erase(0, nl + 1);
    }
  }
}

int usage() {
  std::fprintf(stderr, "usage: crash_consistency [--kills N] [--seed S] [--keep]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc == 4 && std::strcmp(argv[1], "--writer") == 0) {
    World w{QString::fromLocal8Bit(argv[2])};
    return runWriter(w, uint32_t(std::strtoul(argv[3], nullptr, 10)));
  }

  long kills = 50;
  uint64_t seed = std::random_device{}();
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--kills" && i + 1 < argc) {
      char* end = nullptr;
      kills = std::strtol(argv[++i], &end, 10);
      if (*end || kills < 1) return usage();
    } else if (a == "--seed" && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--keep") {
      keep = true;
    } else {
      return usage();
    }
  }

  // A private folder: ctest runs this beside everything else.
  QByteArray base = qgetenv("TMPDIR");
  if (base.isEmpty()) base = "/tmp";
  std::string templ = base.toStdString() + "/crash-consistency-XXXXXX";
  if (!::mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  World w{QString::fromStdString(templ)};
  QDir().mkpath(w.program());
  qputenv("HOME", w.root.toUtf8());
  qputenv("XDG_CONFIG_HOME", (w.root + "/config").toUtf8());
  qputenv("XDG_DATA_HOME", (w.root + "/data").toUtf8());
  qputenv("MOUSE_RUNTIME_DIR", (w.root + "/run").toUtf8());

  // Generation 0, written here without interruption, is the first "old".
  std::vector<ProfilePlace> places;
  Clock::duration generationTime{};
  {
    auto store = platform::openSqliteRegistryStore(w.database());
    auto dm = startDataModule(*store, w);
    const auto t0 = Clock::now();
    const std::string error = writeGeneration(*dm, *store, w, 0, -1);
    generationTime = Clock::now() - t0;
    if (!error.empty()) {
      std::fprintf(stderr, "crash_consistency: cannot write the first generation: %s\n", error.c_str());
      return 1;
    }
    for (int i = 0; i < kProfileCount; ++i) {
      const TuiProfile* s = dm->ProfileStore(i);
      places.push_back({s->KeyPath(), s->FileName(), AddPathDelimiter(s->FilePath()) + s->FileName()});
    }
  }

  Checker checker(w, places);
  Range range;
  if (!checker.check(range)) {
    std::fprintf(stderr, "crash_consistency: the first generation does not read back\n");
    return 1;
  }

  std::mt19937_64 rng(seed);
  // Kill points spread over a little more than one generation after start-up.
  const auto spread = std::chrono::duration_cast<std::chrono::microseconds>(generationTime * 3 / 2).count() + 1000;
  std::uniform_int_distribution<long> delay(0, spread);
  std::map<std::string, long> killedIn;
  long passed = 0, failed = 0, writerErrors = 0;
  std::string writerError;

  for (long k = 0; k < kills; ++k) {
    Child c;
    if (!spawnWriter(w, range.started + 1, c)) {
      std::perror("crash_consistency: fork");
      return 1;
    }
    std::string phase = "start-up";
    auto line = [&](const std::string& l) {
      if (l.size() < 2) return;
      const std::string rest = l.substr(2);
      switch (l[0]) {
        case 'S': range.started = std::max<uint32_t>(range.started, std::stoul(rest)); phase = "begin"; break;
        case 'D': range.done = std::max<uint32_t>(range.done, std::stoul(rest)); phase = "between"; break;
        case 'P': phase = rest; break;
        case 'E': ++writerErrors; if (writerError.empty()) writerError = rest; break;
        default: break;
      }
    };
    // Up to start-up, bounded; then the random kill point.
    bool ready = false;
    const auto readyBy = Clock::now() + std::chrono::seconds(60);
    std::function<void(const std::string&)> untilReady = [&](const std::string& l) {
      if (l == "R") ready = true;
      else line(l);
    };
    while (!ready && Clock::now() < readyBy)
      if (!pump(c, std::min(readyBy, Clock::now() + std::chrono::milliseconds(5)), untilReady)) break;
    if (!ready) {
      std::fprintf(stderr, "crash_consistency: the writer did not start\n");
      ::kill(c.pid, SIGKILL);
      ::waitpid(c.pid, nullptr, 0);
      return 1;
    }
    pump(c, Clock::now() + std::chrono::microseconds(delay(rng)), line);
    ::kill(c.pid, SIGKILL);
    int status = 0;
    ::waitpid(c.pid, &status, 0);
    pump(c, std::nullopt, line);  // what it said before it died
    ::close(c.out);
    ++killedIn[phase];
    if (checker.check(range)) ++passed;
    else ++failed;
  }

  std::printf("crash consistency: %ld kills (seed %llu), generations %u..%u written\n", kills,
              static_cast<unsigned long long>(seed), 0u, range.started);
  std::printf("%-20s %9s %6s\n", "item", "checked", "torn");
  for (const auto& [kind, t] : checker.tallies()) {
    std::printf("%-20s %9ld %6ld\n", kind.c_str(), t.checked, t.bad);
    if (!t.firstProblem.empty()) std::printf("  first: %s\n", t.firstProblem.c_str());
  }
  std::printf("kill points:");
  for (const auto& [phase, n] : killedIn) std::printf(" %s=%ld", phase.c_str(), n);
  std::printf("\nfiles left beside the saved ones: %d\n", checker.leftovers());
  if (writerErrors) std::printf("writer errors: %ld (first: %s)\n", writerErrors, writerError.c_str());
  std::printf("%ld passed, %ld failed\n", passed, failed);
  if (!keep) QDir(w.root).removeRecursively();
  else std::printf("kept %s\n", templ.c_str());
  return failed == 0 && writerErrors == 0 ? 0 : 1;
}
