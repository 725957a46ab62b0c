// Loads arbitrary bytes as stored settings and profile values through the
// data module's start-up, reload and import paths: the stores' loads with
// their size checks, the repair of damaged settings values and the "not
// loaded" decision. Any crash, leak, undefined behaviour or index out of range
// is a finding. The input's first byte picks which value it becomes.
//
// The values live in a store in memory and every profile is kept in the store,
// so a run touches no file and thousands of runs fit in a second. A run works
// in a folder of the sandbox: a crash found while running the binary by hand
// lands there unless -artifact_prefix is absolute (scripts/fuzz makes it so).
//
// The seed corpus holds each value whole as a first start stores it: those are
// the inputs that load without repair, and the largest of them lifts libFuzzer's
// length limit (the largest seed, at least 4,096 bytes) to a whole profile.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <map>
#include <set>

#include "device/DMUnit.h"

namespace {

using platform::RegistryRoot;
using platform::RegStatus;

const QString kKey = QStringLiteral("software\\Orvelline");
// TProfileSettingGroup: entry i at 12 + i * 6190; in an entry FileFolder and
// MacroFolder (1,024 UTF-16 units each) at 2 and 4140, the Storage byte at 6188.
constexpr int kStorageAt = 6188;
constexpr int kFolderAt[] = {2, 4140};
constexpr int kFolderUnits = 1024;
constexpr int entryAt(int i) { return 12 + i * 6190; }

// The settings store's contract in memory: key paths and value names compare
// case-insensitively, writes create the key and its parents, reads create
// nothing, root 0 and empty names are Error, values of another type are Error.
class MemoryStore : public platform::RegistryStore {
 public:
  struct Value {
    bool integer = false;
    QByteArray bytes;
    std::int32_t number = 0;
  };
  std::map<QString, Value> values;  // "<root>\<key>\\<name>", lower case
  std::set<QString> keys;           // "<root>\<key>", lower case, with every parent

  RegStatus readBinary(RegistryRoot r, const QString& k, const QString& n, QByteArray& d) override {
    const Value* v = nullptr;
    if (RegStatus s = find(r, k, n, v); s != RegStatus::Ok) return s;
    if (v->integer) return RegStatus::Error;
    d = v->bytes;
    return RegStatus::Ok;
  }
  RegStatus writeBinary(RegistryRoot r, const QString& k, const QString& n, const QByteArray& d) override {
    if (!valid(r, k, n)) return RegStatus::Error;
    makeKey(r, k);
    values[name(r, k, n)] = Value{false, d, 0};
    return RegStatus::Ok;
  }
  RegStatus readInteger(RegistryRoot r, const QString& k, const QString& n, std::int32_t& out) override {
    const Value* v = nullptr;
    if (RegStatus s = find(r, k, n, v); s != RegStatus::Ok) return s;
    if (!v->integer) return RegStatus::Error;
    out = v->number;
    return RegStatus::Ok;
  }
  RegStatus writeInteger(RegistryRoot r, const QString& k, const QString& n, std::int32_t v,
                         bool onlyIfKeyExists) override {
    if (!valid(r, k, n)) return RegStatus::Error;
    if (onlyIfKeyExists && !keys.count(key(r, k))) return RegStatus::Absent;
    makeKey(r, k);
    values[name(r, k, n)] = Value{true, {}, v};
    return RegStatus::Ok;
  }
  RegStatus valueExists(RegistryRoot r, const QString& k, const QString& n) override {
    const Value* v = nullptr;
    return find(r, k, n, v);
  }
  RegStatus keyExists(RegistryRoot r, const QString& k) override {
    if (!validRoot(r) || k.isEmpty()) return RegStatus::Error;
    return keys.count(key(r, k)) ? RegStatus::Ok : RegStatus::Absent;
  }
  RegStatus updateBinary(RegistryRoot r, const QString& k, const QString& n,
                         const std::function<bool(QByteArray&, RegStatus)>& edit) override {
    const Value* v = nullptr;
    const RegStatus found = find(r, k, n, v);
    if (found == RegStatus::Error || (v && v->integer)) return RegStatus::Error;
    QByteArray d = v ? v->bytes : QByteArray();
    if (!edit(d, found)) return RegStatus::Ok;
    return writeBinary(r, k, n, d);
  }
  QString lastError() const override { return QStringLiteral("bad argument or wrong value type"); }

 private:
  static bool validRoot(RegistryRoot r) {
    return r == platform::HKEY_CURRENT_USER || r == platform::HKEY_LOCAL_MACHINE;
  }
  static bool valid(RegistryRoot r, const QString& k, const QString& n) {
    return validRoot(r) && !k.isEmpty() && !n.isEmpty();
  }
  static QString key(RegistryRoot r, const QString& k) { return QString::number(r) + u'\\' + k.toLower(); }
  static QString name(RegistryRoot r, const QString& k, const QString& n) {
    return key(r, k) + QStringLiteral("\\\\") + n.toLower();
  }
  void makeKey(RegistryRoot r, const QString& k) {
    QString path = k.toLower();
    for (;;) {
      keys.insert(QString::number(r) + u'\\' + path);
      const qsizetype cut = path.lastIndexOf(u'\\');
      if (cut <= 0) break;
      path.truncate(cut);
    }
  }
  RegStatus find(RegistryRoot r, const QString& k, const QString& n, const Value*& v) const {
    if (!valid(r, k, n)) return RegStatus::Error;
    const auto it = values.find(name(r, k, n));
    if (it == values.end()) return RegStatus::Absent;
    v = &it->second;
    return RegStatus::Ok;
  }
};

// Profiles kept in files would make a run write them; kept in the store, the
// same loading and checks run in memory.
void KeepProfilesInTheStore(QByteArray& group) {
  for (int i = 0; i < 5; ++i)
    if (group.size() > entryAt(i) + kStorageAt && uint8_t(group[entryAt(i) + kStorageAt]) == kStorageFile)
      group[entryAt(i) + kStorageAt] = char(kStorageRegistry);
}

// Start-up lists the profile and macro folders a value names, and removes old
// save leftovers there: a folder such as "/" or "/tmp" made every run list a
// big real folder (from about 1,300 runs a second down to under 100) and
// could remove files of the host. With each '/' turned into '_' a folder is a
// single name, relative to the working folder, an empty folder two levels
// down the sandbox (so ".." lists only the level between). Every other unit,
// the ends and the lengths stay as the input has them.
void KeepFoldersInTheSandbox(QByteArray& group) {
  for (int i = 0; i < 5; ++i)
    for (int folder : kFolderAt)
      for (int u = 0; u < kFolderUnits; ++u) {
        const qsizetype at = entryAt(i) + folder + 2 * u;
        if (at + 1 >= group.size()) break;
        if (group[at] == '/' && group[at + 1] == '\0') group[at] = '_';
      }
}

// What a first start stores, with the profiles moved from their files into the
// store; made once, in a temporary folder, before the first run.
QString gRootPath;  // the base's temporary folder, removed at exit

struct Base {
  QTemporaryDir root;
  QString program, docs;
  MemoryStore store;
  Base() {
    program = root.filePath("program");  // no config.ini: the defaults
    docs = root.filePath("Documents");
    QDir().mkpath(program);
    {
      TDM dm(TDMEnvironment{&store, program, docs});
      dm.InitData();
    }
    QByteArray group;
    store.readBinary(platform::HKEY_CURRENT_USER, kKey, "ProfileSettingGroup.pfd", group);
    KeepProfilesInTheStore(group);
    store.writeBinary(platform::HKEY_CURRENT_USER, kKey, "ProfileSettingGroup.pfd", group);
    for (int i = 1; i <= 5; ++i) {
      const QString name = QStringLiteral("Profile%1.pfd").arg(i);
      TuiProfile file;
      if (!file.LoadStreamFromFile(docs + "/Profile/" + name)) std::abort();
      store.writeBinary(platform::HKEY_CURRENT_USER, kKey, name, file.Stream());
    }
    // Later runs find no files and can make none: where the documents folder
    // was lies a plain file now.
    QDir(docs).removeRecursively();
    QFile blocker(docs);
    if (!blocker.open(QIODevice::WriteOnly)) std::abort();
    work = QFile::encodeName(root.filePath("between/work"));
    if (!QDir().mkpath(QFile::decodeName(work))) std::abort();
    launch = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (launch < 0) std::abort();
    // The base lives until libFuzzer calls exit(), which runs no destructor
    // of a leaked object: without this every run would leave its folder.
    gRootPath = root.path();
    std::atexit([] { QDir(gRootPath).removeRecursively(); });
  }
  QByteArray work;  // the working folder during a run
  int launch = -1;  // and the one libFuzzer reads its relative paths from
};

// A run's working folder is the sandbox's; libFuzzer's is back afterwards.
struct InTheSandbox {
  const Base& base;
  explicit InTheSandbox(const Base& b) : base(b) {
    if (::chdir(base.work.constData()) != 0) std::abort();
  }
  ~InTheSandbox() {
    if (::fchdir(base.launch) != 0) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Base* base = new Base;  // made once for the whole run
  if (size == 0) return 0;
  MemoryStore store = base->store;  // the values are shared until written
  QByteArray value(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
  static const char* names[] = {"ProfileSettingGroup.pfd", "ALLPROFILE.pfd", "Profile1.pfd"};
  const int pick = data[0] % 3;
  if (pick == 0) {
    KeepProfilesInTheStore(value);
    KeepFoldersInTheSandbox(value);
  }
  store.writeBinary(platform::HKEY_CURRENT_USER, kKey, names[pick], value);

  const InTheSandbox inside(*base);
  TDM dm(TDMEnvironment{&store, base->program, base->docs});
  dm.InitData();
  if (!TDM::IsProfileGroupIndexInRange(dm.ProfileGroupIndex()) || !TDM::IsProfileIndexInRange(dm.ProfileIndex()))
    std::abort();
  dm.LoadProfileGroupSettingInfoFromRegistry();
  dm.LoadAllProfileInfoFromRegistry();
  dm.LoadCurrentProfileInfoFromRegistry();
  dm.ImportCurrentProfileImage(value);
  dm.SaveBackToCurrentProfileInfo();
  return 0;
}
