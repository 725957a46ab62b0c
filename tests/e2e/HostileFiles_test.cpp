// Damaged and hostile user files through the real programs' loading paths:
// one row per damage, each row one start of the real `tessold` and one of the
// real `Marvane` (offscreen) against one emulated mouse, in its own temporary
// folders. Each program must either come up (its message endpoint accepts)
// or end at once with a message on stderr; it must end on SIGTERM within a
// bound, print no sanitizer report, and leave the user's files alone: the
// profile files byte for byte, the store's values byte for byte, except the
// one damaged value that the programs repair by design.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <csignal>
#include <cstring>
#include <map>
#include <ostream>
#include <memory>
#include <optional>
#include <random>
#include <spawn.h>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device/DMUnit.h"
#include "device/pubunit_quindle.h"
#include "emulator/testing/EmulatorProcess.h"
#include "platform/MessageChannel.h"
#include "platform/RegistryStore.h"
#include "platform/testing/QtTestEnvironment.h"
#include "platform/testing/StoreDamage.h"
#include "tests/e2e/RealProgram.h"
#include "tests/e2e/UserFolders.h"

extern char** environ;

namespace {

using e2e::Program;
using e2e::ReadFile;
using e2e::WriteFile;

MOUSE_QT_TEST_ENVIRONMENT(QCoreApplication);

constexpr char kMouseId[] = "HID\\VID_1209&PID_0001&REV_0100&Col02";
const QByteArray kGoodIni = QByteArray("[IncludeHIDDeviceList]\r\nid1=") + kMouseId + "\r\n";
// Start-up and the end on SIGTERM, each; sanitizer builds on a busy machine.
constexpr int kBoundMs = 30000;

enum class Damage {
  ProfileThreeBytes,
  ProfileOneByteShort,
  ProfileOversized,
  MacroStepCount,
  MacroSlotCount,
  ButtonCount,
  LevelCount,
  CurrentLevel,
  MacroNameUnterminated,
  SettingsFileNameUnterminated,
  SettingsValueWrongSize,
  DeviceNameParentPath,
  DeviceNameLong,
  LanguageCountPastEnd,
  ConfigRandomBytes,
  ConfigNulInside,
};

struct Row {
  const char* name;
  Damage damage;
};

const Row kRows[] = {
    {"ProfileThreeBytes", Damage::ProfileThreeBytes},
    {"ProfileOneByteShort", Damage::ProfileOneByteShort},
    {"ProfileOversized", Damage::ProfileOversized},
    {"MacroStepCount65535", Damage::MacroStepCount},
    {"MacroSlotCount65535", Damage::MacroSlotCount},
    {"ButtonCount200", Damage::ButtonCount},
    {"LevelCount99", Damage::LevelCount},
    {"CurrentLevel50", Damage::CurrentLevel},
    {"MacroNameUnterminated", Damage::MacroNameUnterminated},
    {"SettingsFileNameUnterminated", Damage::SettingsFileNameUnterminated},
    {"SettingsValueWrongSize", Damage::SettingsValueWrongSize},
    {"DeviceNameParentPath", Damage::DeviceNameParentPath},
    {"DeviceName300Characters", Damage::DeviceNameLong},
    {"LanguageCountPastEnd", Damage::LanguageCountPastEnd},
    {"ConfigRandomBytes", Damage::ConfigRandomBytes},
    {"ConfigNulInside", Damage::ConfigNulInside},
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

// The settings record is the one value the programs repair at start-up.
bool DamagesTheSettingsRecord(Damage d) {
  return d == Damage::SettingsFileNameUnterminated || d == Damage::SettingsValueWrongSize;
}

using Values = std::map<std::string, QByteArray>;

// Every value of the store: key, name and type, then the bytes.
Values StoreValues(const QString& path) {
  Values out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    ADD_FAILURE() << "cannot open " << path.toStdString();
    return out;
  }
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT root, key_fold, name, type, data FROM reg_values", -1, &s, nullptr);
  while (s && sqlite3_step(s) == SQLITE_ROW) {
    std::string key = std::to_string(sqlite3_column_int(s, 0)) + "|" +
                      reinterpret_cast<const char*>(sqlite3_column_text(s, 1)) + "|" +
                      reinterpret_cast<const char*>(sqlite3_column_text(s, 2)) + "|" +
                      std::to_string(sqlite3_column_int(s, 3));
    const void* data = sqlite3_column_blob(s, 4);
    out[key] = QByteArray(static_cast<const char*>(data), sqlite3_column_bytes(s, 4));
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return out;
}

// Every file under a folder, by its path inside it.
Values FilesUnder(const QString& root) {
  Values out;
  QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) out[QDir(root).relativeFilePath(path).toStdString()] = f.readAll();
  }
  return out;
}

// Both real programs' folders, the user's folders and one emulated mouse, in
// a temporary folder; the user's data as a first start makes it.
class RealPrograms : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    root_ = QDir(tmp_.path());
    for (const char* d : {"mon", "conf"}) root_.mkpath(d);
    e2e::PointUserFoldersAt(root_);
    ::unsetenv("MOUSE_PROGRAM_DIR");

    // Two copies of the program folder, each with a recording stand-in for
    // the other program, so that neither starts the real other one.
    ASSERT_TRUE(MakeFolder("mon", QStringLiteral(TESSOLD_EXE), "tessold", "Marvane"));
    ASSERT_TRUE(MakeFolder("conf", QStringLiteral(MARVANE_EXE), "Marvane", "tessold"));

    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    mouse_.exportEnvironment();

    // The user's data as the programs first make it.
    auto store = platform::openSqliteRegistryStore(platform::defaultRegistryStorePath());
    ASSERT_TRUE(store);
    TDM dm(TDMEnvironment{store.get(), root_.filePath("mon"), root_.filePath("home/Documents")});
    dm.InitData();
    ASSERT_TRUE(QFile::exists(Profile1())) << Profile1().toStdString();
  }

  bool MakeFolder(const char* name, const QString& exe, const char* real, const char* standIn) {
    const QDir dir(root_.filePath(name));
    if (!QFile::copy(exe, dir.filePath(real))) return false;
    QFile(dir.filePath(real)).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (QFile::exists(QStringLiteral(MOUSE_PROGRAM_DIR "/libuiHook.so")))
      QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/libuiHook.so"), dir.filePath("libuiHook.so"));
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), dir.filePath("Images"));
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), dir.filePath("images"));
    if (!QFile::copy(QStringLiteral(MOUSE_PROGRAM_DIR "/ui.local"), dir.filePath("ui.local"))) return false;
    if (!WriteFile(dir.filePath("config.ini"), kGoodIni)) return false;
    const QByteArray stub = "#!/bin/sh\necho started >> \"" + root_.filePath("standins.log").toLocal8Bit() + "\"\n";
    if (!WriteFile(dir.filePath(standIn), stub)) return false;
    return QFile(dir.filePath(standIn))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }

  QString Profile1() const { return root_.filePath("home/Documents/Profile/Profile1.pfd"); }
  // Both copies of the program folder get the same file.
  void WriteProgramFile(const char* name, const QByteArray& bytes) {
    ASSERT_TRUE(WriteFile(QDir(root_.filePath("mon")).filePath(name), bytes));
    ASSERT_TRUE(WriteFile(QDir(root_.filePath("conf")).filePath(name), bytes));
  }

  // Profile 1's image, changed by `edit`, written back whole.
  template <class F>
  void EditProfile1(F edit) {
    const QByteArray bytes = ReadFile(Profile1());
    ASSERT_EQ(bytes.size(), qsizetype(sizeof(TMOUSEPROFILEINFO)));
    auto image = std::make_unique<TMOUSEPROFILEINFO>();
    std::memcpy(static_cast<void*>(image.get()), bytes.constData(), sizeof(TMOUSEPROFILEINFO));
    edit(*image);
    ASSERT_TRUE(WriteFile(Profile1(), QByteArray(reinterpret_cast<const char*>(image.get()), sizeof *image)));
  }

  // The settings record in the store, changed by `edit`.
  template <class F>
  void EditSettingsRecord(F edit) {
    auto store = platform::openSqliteRegistryStore(platform::defaultRegistryStorePath());
    ASSERT_TRUE(store);
    const QString key = QStringLiteral("software\\Orvelline");
    const QString name = QString::fromUtf16(kProfileSettingGroupValue);
    QByteArray value;
    ASSERT_EQ(store->readBinary(platform::HKEY_CURRENT_USER, key, name, value), platform::RegStatus::Ok);
    ASSERT_EQ(value.size(), qsizetype(sizeof(TProfileSettingGroup)));
    edit(value);
    ASSERT_EQ(store->writeBinary(platform::HKEY_CURRENT_USER, key, name, value), platform::RegStatus::Ok);
  }

  void Apply(Damage d) {
    switch (d) {
      case Damage::ProfileThreeBytes:
        ASSERT_TRUE(WriteFile(Profile1(), ReadFile(Profile1()).left(3)));
        break;
      case Damage::ProfileOneByteShort:
        ASSERT_TRUE(WriteFile(Profile1(), ReadFile(Profile1()).left(sizeof(TMOUSEPROFILEINFO) - 1)));
        break;
      case Damage::ProfileOversized:
        ASSERT_TRUE(WriteFile(Profile1(), ReadFile(Profile1()) + QByteArray(4096, '\x5A')));
        break;
      case Damage::MacroStepCount:
        EditProfile1([](TMOUSEPROFILEINFO& p) {
          p.ConfigInfo.ButtonFuncInfo[2].MacroInfo.MacroListCount = 65535;
          p.MacroKeyInfoList.MacroInfos[0].MacroListCount = 65535;
        });
        break;
      case Damage::MacroSlotCount:
        EditProfile1([](TMOUSEPROFILEINFO& p) {
          p.MacroKeyInfoList.nMacroInfoCount = 65535;
          p.MacroInfoToDevice.nMacroInfoCount = 65535;
        });
        break;
      case Damage::ButtonCount:
        EditProfile1([](TMOUSEPROFILEINFO& p) { p.ConfigInfo.ButtonCount = 200; });
        break;
      case Damage::LevelCount:
        EditProfile1([](TMOUSEPROFILEINFO& p) { p.ConfigInfo.CPILevel = 99; });
        break;
      case Damage::CurrentLevel:
        EditProfile1([](TMOUSEPROFILEINFO& p) { p.ConfigInfo.CurrentCPIIndex = 50; });
        break;
      case Damage::MacroNameUnterminated:
        EditProfile1([](TMOUSEPROFILEINFO& p) {
          for (auto& u : p.ConfigInfo.ButtonFuncInfo[2].MacroInfo.szMacroName) u = u'M';
          for (auto& u : p.MacroKeyInfoList.MacroInfos[0].szMacroName) u = u'M';
          p.MacroKeyInfoList.nMacroInfoCount = 1;
        });
        break;
      case Damage::SettingsFileNameUnterminated:
        EditSettingsRecord([](QByteArray& v) {
          const size_t at = offsetof(TProfileSettingGroup, ProfileSettingList) + offsetof(TProfileSetting, FileName);
          for (int i = 0; i < 21; ++i) {
            v[qsizetype(at + 2 * i)] = 'F';
            v[qsizetype(at + 2 * i + 1)] = 0;
          }
        });
        break;
      case Damage::SettingsValueWrongSize:
        EditSettingsRecord([](QByteArray& v) { v.chop(7); });
        break;
      case Damage::DeviceNameParentPath:
        WriteProgramFile("config.ini", kGoodIni + "[DEVICE]\r\nDeviceName=../../x\r\n");
        break;
      case Damage::DeviceNameLong:
        WriteProgramFile("config.ini", kGoodIni + "[DEVICE]\r\nDeviceName=" + QByteArray(300, 'd') + "\r\n");
        break;
      case Damage::LanguageCountPastEnd: {
        QByteArray ui = ReadFile(QStringLiteral(MOUSE_PROGRAM_DIR "/ui.local"));
        ASSERT_GE(ui.size(), 4);
        const int32_t count = 0x7FFFFFF0;
        std::memcpy(ui.data(), &count, sizeof count);
        WriteProgramFile("ui.local", ui);
        break;
      }
      case Damage::ConfigRandomBytes: {
        std::mt19937 random(17);
        QByteArray junk(8192, '\0');
        for (auto& c : junk) c = char(random() & 0xFF);
        WriteProgramFile("config.ini", junk);
        break;
      }
      case Damage::ConfigNulInside: {
        QByteArray ini = kGoodIni + "[options]\r\nProfile";
        ini += '\0';
        ini += "RegFolder=Elsewhere\r\n[DEVICE]\r\nDevice";
        ini += '\0';
        ini += "Name=x\r\n";
        WriteProgramFile("config.ini", ini);
        break;
      }
    }
  }

  // Up (the endpoint accepts) or ended with a message; then SIGTERM.
  void RunAndEnd(Program& p, const char* name, std::string_view endpoint, bool mayEndBySignal) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(p.spawned());
    const bool up = p.waitReadyOrExit([&] { return platform::find(endpoint); }, kBoundMs);
    // Which of the two allowed outcomes each row had, for the log.
    std::printf("%s: %s\n", name, up ? "up" : "ended at start");
    if (!up) {
      ASSERT_TRUE(p.status().has_value()) << name << " neither came up nor ended";
      const int st = *p.status();
      EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) != 0) << name << " ended without a failure status: " << st;
      EXPECT_FALSE(p.errors().trimmed().isEmpty()) << name << " ended without saying why";
    } else {
      p.terminate();
      ASSERT_TRUE(p.waitExit(kBoundMs)) << name << " did not end on SIGTERM";
      const int st = *p.status();
      const bool clean = WIFEXITED(st) && WEXITSTATUS(st) == 0;
      const bool bySignal = WIFSIGNALED(st) && WTERMSIG(st) == SIGTERM;
      EXPECT_TRUE(clean || (mayEndBySignal && bySignal)) << name << " ended with status " << st << "\n"
                                                         << p.errors().toStdString();
    }
    const QString errors = p.errors();
    EXPECT_FALSE(errors.contains("AddressSanitizer")) << errors.toStdString();
    EXPECT_FALSE(errors.contains("LeakSanitizer")) << errors.toStdString();
    EXPECT_FALSE(errors.contains("runtime error")) << errors.toStdString();
  }

  QTemporaryDir tmp_;
  QDir root_;
  emulator::testing::EmulatorProcess mouse_;
};

class HostileFiles : public RealPrograms, public ::testing::WithParamInterface<Row> {};

TEST_P(HostileFiles, ProgramsStartOrFailClearlyEndCleanlyAndKeepTheUsersFiles) {
  const Row row = GetParam();
  Apply(row.damage);
  if (HasFatalFailure()) return;
  const QString docs = root_.filePath("home/Documents");
  const QString storePath = platform::defaultRegistryStorePath();
  const Values filesBefore = FilesUnder(docs);
  const Values storeBefore = StoreValues(storePath);

  {
    Program monitor(root_.filePath("mon/tessold"), root_.filePath("tessold.err"));
    RunAndEnd(monitor, "tessold", platform::kMonitorClass, /*mayEndBySignal=*/false);
  }
  {
    Program configurator(root_.filePath("conf/Marvane"), root_.filePath("Marvane.err"));
    RunAndEnd(configurator, "Marvane", platform::kConfiguratorClass, /*mayEndBySignal=*/true);
  }

  const Values filesAfter = FilesUnder(docs);
  for (const auto& [path, bytes] : filesBefore) {
    auto it = filesAfter.find(path);
    ASSERT_NE(it, filesAfter.end()) << path << " was removed";
    EXPECT_TRUE(it->second == bytes) << path << " changed (" << bytes.size() << " -> " << it->second.size()
                                     << " bytes)";
  }
  for (const auto& [path, bytes] : filesAfter)
    EXPECT_TRUE(filesBefore.count(path)) << path << " was added";

  Values storeAfter = StoreValues(storePath);
  if (DamagesTheSettingsRecord(row.damage)) {
    // Repaired by design: whole again; everything else stays as it was.
    bool found = false;
    for (auto it = storeAfter.begin(); it != storeAfter.end(); ++it) {
      if (!QByteArray::fromStdString(it->first).toLower().contains("|profilesettinggroup.pfd|")) continue;
      EXPECT_EQ(it->second.size(), qsizetype(sizeof(TProfileSettingGroup)));
      auto before = storeBefore.find(it->first);
      ASSERT_NE(before, storeBefore.end());
      storeAfter[it->first] = before->second;
      found = true;
    }
    EXPECT_TRUE(found) << "no settings record after the repair";
  }
  for (const auto& [key, bytes] : storeBefore) {
    auto it = storeAfter.find(key);
    ASSERT_NE(it, storeAfter.end()) << key << " was removed";
    EXPECT_TRUE(it->second == bytes) << key << " changed";
  }
  for (const auto& [key, bytes] : storeAfter) EXPECT_TRUE(storeBefore.count(key)) << key << " was added";
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileFiles, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// --- the settings store and the runtime folder at the monitor's start

// The lines of a program's stderr that contain every one of `parts`.
QStringList LinesWith(const QString& errors, const QStringList& parts) {
  QStringList out;
  for (const QString& line : errors.split(u'\n')) {
    bool all = !line.isEmpty();
    for (const QString& p : parts) all = all && line.contains(p);
    if (all) out << line;
  }
  return out;
}

class DamagedStore : public RealPrograms, public ::testing::WithParamInterface<platform::testing::StoreDamage> {};

TEST_P(DamagedStore, MonitorSetsItAsideSaysSoOnceOnStderrAndRunsOnAFreshStore) {
  const QString storePath = platform::defaultRegistryStorePath();
  const QDir folder = QFileInfo(storePath).absoluteDir();
  const QByteArray damaged = GetParam().damage(ReadFile(storePath));
  ASSERT_TRUE(WriteFile(storePath, damaged));

  QString errors;
  {
    Program monitor(root_.filePath("mon/tessold"), root_.filePath("tessold.err"));
    RunAndEnd(monitor, "tessold", platform::kMonitorClass, /*mayEndBySignal=*/false);
    errors = monitor.errors();
  }
  const QStringList aside = folder.entryList({QStringLiteral("registry.sqlite.damaged-*")}, QDir::Files)
                                .filter(QRegularExpression(QStringLiteral("Z$")));
  ASSERT_EQ(aside.size(), 1) << folder.entryList(QDir::Files).join(' ').toStdString();
  const QString asidePath = folder.filePath(aside[0]);
  EXPECT_TRUE(ReadFile(asidePath) == damaged) << "the damaged store is kept byte for byte";
  EXPECT_EQ(LinesWith(errors, {QStringLiteral("tessold: "), storePath, asidePath}).size(), 1) << errors.toStdString();

  // The fresh store holds what the monitor's start stores.
  const Values fresh = StoreValues(storePath);
  bool settings = false;
  for (const auto& [key, bytes] : fresh)
    settings = settings || (QByteArray::fromStdString(key).toLower().contains("|profilesettinggroup.pfd|") &&
                            bytes.size() == qsizetype(sizeof(TProfileSettingGroup)));
  EXPECT_TRUE(settings) << "no settings record in the fresh store";

  // Said once: the next start finds the fresh store sound and says nothing.
  {
    Program monitor(root_.filePath("mon/tessold"), root_.filePath("tessold2.err"));
    RunAndEnd(monitor, "tessold again", platform::kMonitorClass, /*mayEndBySignal=*/false);
    EXPECT_TRUE(LinesWith(monitor.errors(), {QStringLiteral("registry.sqlite")}).isEmpty())
        << monitor.errors().toStdString();
  }
  EXPECT_EQ(folder.entryList({QStringLiteral("registry.sqlite.damaged-*")}, QDir::Files)
                .filter(QRegularExpression(QStringLiteral("Z$")))
                .size(),
            1);
}

INSTANTIATE_TEST_SUITE_P(Rows, DamagedStore, ::testing::ValuesIn(platform::testing::kStoreDamages),
                         [](const ::testing::TestParamInfo<platform::testing::StoreDamage>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(RealPrograms, MonitorSaysAtStartThatTheStoreCannotBeOpened) {
  // The store's folder is a file: nothing can open it, for any user.
  const QString storePath = platform::defaultRegistryStorePath();
  const QString folder = QFileInfo(storePath).absolutePath();
  ASSERT_TRUE(QDir(folder).removeRecursively());
  ASSERT_TRUE(WriteFile(folder, "not a folder"));
  Program monitor(root_.filePath("mon/tessold"), root_.filePath("tessold.err"));
  RunAndEnd(monitor, "tessold", platform::kMonitorClass, /*mayEndBySignal=*/false);
  EXPECT_EQ(LinesWith(monitor.errors(), {QStringLiteral("tessold: "), storePath, QStringLiteral("cannot be opened")})
                .size(),
            1)
      << monitor.errors().toStdString();
  EXPECT_EQ(ReadFile(folder), QByteArray("not a folder"));
}

TEST_F(RealPrograms, MonitorSaysWhatItsStartCouldNotRead) {
  // A sound store whose all-profile value is of another type: it cannot be
  // read, and the start says so in one line naming it.
  const QString storePath = platform::defaultRegistryStorePath();
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(storePath).constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE reg_values SET type=4, data=7 WHERE fold='allprofile.pfd'", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_changes(db), 1);
    sqlite3_close(db);
  }
  Program monitor(root_.filePath("mon/tessold"), root_.filePath("tessold.err"));
  RunAndEnd(monitor, "tessold", platform::kMonitorClass, /*mayEndBySignal=*/false);
  EXPECT_EQ(LinesWith(monitor.errors(), {QStringLiteral("tessold: Start-up could not read every setting: "),
                                         QStringLiteral("ALLPROFILE.pfd")})
                .size(),
            1)
      << monitor.errors().toStdString();
}

// The runtime folder the programs are pointed at, for one test.
class RuntimeFolderScope {
 public:
  explicit RuntimeFolderScope(const QString& path) : old_(qgetenv("MOUSE_RUNTIME_DIR")) {
    ::setenv("MOUSE_RUNTIME_DIR", path.toLocal8Bit().constData(), 1);
  }
  ~RuntimeFolderScope() { ::setenv("MOUSE_RUNTIME_DIR", old_.constData(), 1); }

 private:
  QByteArray old_;
};

TEST_F(RealPrograms, RuntimeFolderOfAnotherUserIsRefusedBeforeAnyLockOrSocket) {
  if (::getuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
  const QString foreign = root_.filePath("foreign-run");
  ASSERT_TRUE(QDir().mkpath(foreign));
  ASSERT_EQ(::chown(QFile::encodeName(foreign).constData(), 65534, 65534), 0);
  RuntimeFolderScope scope(foreign);
  for (const char* name : {"tessold", "Marvane"}) {
    SCOPED_TRACE(name);
    const QString exe = root_.filePath(QStringLiteral("%1/%2").arg(name == std::string("tessold") ? "mon" : "conf", name));
    Program p(exe, root_.filePath(QStringLiteral("%1.err").arg(name)));
    ASSERT_TRUE(p.spawned());
    ASSERT_TRUE(p.waitExit(kBoundMs)) << name << " did not end";
    EXPECT_TRUE(WIFEXITED(*p.status()) && WEXITSTATUS(*p.status()) == 1) << *p.status();
    EXPECT_EQ(LinesWith(p.errors(), {QStringLiteral("%1: ").arg(name), foreign, QStringLiteral("belongs to user 65534")})
                  .size(),
              1)
        << p.errors().toStdString();
    EXPECT_EQ(QDir(foreign).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList())
        << "nothing may be made in it";
  }
}

TEST_F(RealPrograms, RuntimeFolderOpenToOthersIsNarrowedAndStillHoldsTheOneMonitor) {
  const QString wide = root_.filePath("wide-run");
  ASSERT_TRUE(QDir().mkpath(wide));
  ASSERT_EQ(::chmod(QFile::encodeName(wide).constData(), 0777), 0);
  RuntimeFolderScope scope(wide);
  Program first(root_.filePath("mon/tessold"), root_.filePath("tessold.err"));
  // Watched from outside: this process's own message layer would examine
  // (and narrow) the folder itself.
  const QByteArray socket = QFile::encodeName(QDir(wide).filePath(QString::fromLatin1(platform::kMonitorClass.data(), qsizetype(platform::kMonitorClass.size()))));
  ASSERT_TRUE(first.waitReadyOrExit(
      [&] {
        struct stat s {};
        return ::lstat(socket.constData(), &s) == 0 && S_ISSOCK(s.st_mode);
      },
      kBoundMs))
      << first.errors().toStdString();
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(wide).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_TRUE(first.waitReadyOrExit([] { return platform::find(platform::kMonitorClass); }, kBoundMs));
  // The lock in it holds: a second monitor ends at once, quietly.
  {
    Program second(root_.filePath("mon/tessold"), root_.filePath("tessold2.err"));
    ASSERT_TRUE(second.waitExit(kBoundMs));
    EXPECT_TRUE(WIFEXITED(*second.status()) && WEXITSTATUS(*second.status()) == 0) << *second.status();
  }
  EXPECT_TRUE(first.running());
  first.terminate();
  ASSERT_TRUE(first.waitExit(kBoundMs));
}

}  // namespace
