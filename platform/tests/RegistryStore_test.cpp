#include "platform/RegistryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/SettingsStoreFiles.h"
#include "platform/tests/ChildProcess.h"
#include "platform/testing/StoreDamage.h"

using namespace platform;

namespace {

const QString kKey = QStringLiteral("software\\Orvelline");

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath("cfg/gaming-mouse/registry.sqlite");
    store_ = openSqliteRegistryStore(path_);
  }
  QTemporaryDir dir_;
  QString path_;
  std::unique_ptr<RegistryStore> store_;
};

}  // namespace

TEST_F(RegistryStoreTest, InvalidArgumentsNeverTouchTheDatabase) {
  QByteArray data;
  std::int32_t v = 0;
  EXPECT_EQ(store_->readBinary(0, kKey, "ALLPROFILE.pfd", data), RegStatus::Error);
  EXPECT_EQ(store_->writeBinary(0, kKey, "ALLPROFILE.pfd", "x"), RegStatus::Error);
  EXPECT_EQ(store_->writeBinary(HKEY_CURRENT_USER, "", "ALLPROFILE.pfd", "x"), RegStatus::Error);
  EXPECT_EQ(store_->writeBinary(HKEY_CURRENT_USER, kKey, "", "x"), RegStatus::Error);
  EXPECT_EQ(store_->writeInteger(0x80000003u, kKey, "ProfileID", 1), RegStatus::Error);
  EXPECT_EQ(store_->readInteger(HKEY_CURRENT_USER, "\\", "ProfileID", v), RegStatus::Error);
  EXPECT_EQ(store_->keyExists(HKEY_LOCAL_MACHINE, ""), RegStatus::Error);
  EXPECT_FALSE(QFile::exists(path_));
}

TEST_F(RegistryStoreTest, KeysAndValuesLikeTheRegistry) {
  // Reads create nothing.
  QByteArray data;
  EXPECT_EQ(store_->readBinary(HKEY_CURRENT_USER, kKey, "ALLPROFILE.pfd", data), RegStatus::Absent);
  EXPECT_EQ(store_->keyExists(HKEY_CURRENT_USER, kKey), RegStatus::Absent);
  EXPECT_EQ(store_->writeInteger(HKEY_CURRENT_USER, kKey, "ProfileID", 3, /*onlyIfKeyExists=*/true),
            RegStatus::Absent);
  EXPECT_EQ(store_->keyExists(HKEY_CURRENT_USER, kKey), RegStatus::Absent);

  // A write creates the key and its parents; names compare without case.
  const QByteArray image("\x02\x01\x00\x00\xff", 5);
  ASSERT_EQ(store_->writeBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", image), RegStatus::Ok);
  EXPECT_EQ(store_->keyExists(HKEY_CURRENT_USER, "SOFTWARE"), RegStatus::Ok);
  EXPECT_EQ(store_->keyExists(HKEY_CURRENT_USER, "Software\\ORVELLINE"), RegStatus::Ok);
  EXPECT_EQ(store_->keyExists(HKEY_LOCAL_MACHINE, kKey), RegStatus::Absent);
  ASSERT_EQ(store_->readBinary(HKEY_CURRENT_USER, "SOFTWARE\\orvelline", "PROFILE1.PFD", data), RegStatus::Ok);
  EXPECT_EQ(data, image);
  EXPECT_EQ(store_->valueExists(HKEY_CURRENT_USER, kKey, "profile1.pfd"), RegStatus::Ok);
  EXPECT_EQ(store_->valueExists(HKEY_CURRENT_USER, kKey, "Profile2.pfd"), RegStatus::Absent);

  // Overwrite, empty values, integers, and the existing-key-only write.
  ASSERT_EQ(store_->writeBinary(HKEY_CURRENT_USER, kKey, "profile1.PFD", QByteArray()), RegStatus::Ok);
  ASSERT_EQ(store_->readBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", data), RegStatus::Ok);
  EXPECT_TRUE(data.isEmpty());
  EXPECT_EQ(store_->writeInteger(HKEY_CURRENT_USER, kKey, "ProfileID", -2, true), RegStatus::Ok);
  std::int32_t v = 0;
  ASSERT_EQ(store_->readInteger(HKEY_CURRENT_USER, kKey, "profileid", v), RegStatus::Ok);
  EXPECT_EQ(v, -2);

  // Wrong types are errors, not crashes, and not "absent".
  EXPECT_EQ(store_->readBinary(HKEY_CURRENT_USER, kKey, "ProfileID", data), RegStatus::Error);
  EXPECT_EQ(store_->readInteger(HKEY_CURRENT_USER, kKey, "Profile1.pfd", v), RegStatus::Error);
  EXPECT_FALSE(store_->lastError().isEmpty());
  bool called = false;
  EXPECT_EQ(store_->updateBinary(HKEY_CURRENT_USER, kKey, "ProfileID",
                                 [&](QByteArray&, RegStatus) { return called = true; }),
            RegStatus::Error);
  EXPECT_FALSE(called);
}

TEST_F(RegistryStoreTest, UpdateBinaryReadsAndWritesInOneStep) {
  ASSERT_EQ(store_->updateBinary(HKEY_CURRENT_USER, kKey, "ProfileSettingGroup.pfd",
                                 [](QByteArray& d, RegStatus found) {
                                   EXPECT_EQ(found, RegStatus::Absent);
                                   d = "abcd";
                                   return true;
                                 }),
            RegStatus::Ok);
  ASSERT_EQ(store_->updateBinary(HKEY_CURRENT_USER, kKey, "ProfileSettingGroup.pfd",
                                 [](QByteArray& d, RegStatus found) {
                                   EXPECT_EQ(found, RegStatus::Ok);
                                   EXPECT_EQ(d, "abcd");
                                   d[0] = 'X';
                                   return true;
                                 }),
            RegStatus::Ok);
  // Declining writes nothing.
  ASSERT_EQ(store_->updateBinary(HKEY_CURRENT_USER, kKey, "ProfileSettingGroup.pfd",
                                 [](QByteArray& d, RegStatus) {
                                   d = "zz";
                                   return false;
                                 }),
            RegStatus::Ok);
  QByteArray data;
  ASSERT_EQ(store_->readBinary(HKEY_CURRENT_USER, kKey, "ProfileSettingGroup.pfd", data), RegStatus::Ok);
  EXPECT_EQ(data, "Xbcd");
}

TEST_F(RegistryStoreTest, DamagedDatabaseIsAnErrorAndIsLeftAlone) {
  const QString bad = dir_.filePath("bad.sqlite");
  QByteArray garbage(8192, 'q');
  {
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(garbage);
  }
  auto store = openSqliteRegistryStore(bad);
  QByteArray data;
  EXPECT_EQ(store->readBinary(HKEY_CURRENT_USER, kKey, "ALLPROFILE.pfd", data), RegStatus::Error);
  EXPECT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, "ALLPROFILE.pfd", "x"), RegStatus::Error);
  QFile f(bad);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll(), garbage);
}

TEST_F(RegistryStoreTest, ValueOfUnknownTypeOrDamagedRowIsAnError) {
  ASSERT_EQ(store_->writeBinary(HKEY_CURRENT_USER, kKey, "A", "x"), RegStatus::Ok);
  ASSERT_EQ(store_->writeInteger(HKEY_CURRENT_USER, kKey, "B", 1), RegStatus::Ok);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.toUtf8().constData(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "UPDATE reg_values SET type=1 WHERE fold='a';"
                         "UPDATE reg_values SET data='text' WHERE fold='b';",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  QByteArray data;
  std::int32_t v = 0;
  EXPECT_EQ(store_->readBinary(HKEY_CURRENT_USER, kKey, "A", data), RegStatus::Error);
  EXPECT_EQ(store_->readInteger(HKEY_CURRENT_USER, kKey, "B", v), RegStatus::Error);
}

// Writing the bytes a binary value already holds commits nothing (another
// connection sees no change, so there is no log to sync): Apply stores all
// five profiles each time, mostly unchanged. Anything else about the stored
// row is written.
TEST_F(RegistryStoreTest, RewritingTheStoredBytesCommitsNothing) {
  struct Case {
    const char* name;
    const char* before;  // SQL run on a fresh value "V" holding "abc" as binary
    QByteArray write;
    bool commits;
  };
  const Case cases[] = {
      {"same bytes", "", QByteArray("abc"), false},
      {"same bytes, other spelling of the name", "UPDATE reg_values SET name='v'", QByteArray("abc"), false},
      {"one byte differs", "", QByteArray("abd"), true},
      {"shorter", "", QByteArray("ab"), true},
      {"longer", "", QByteArray("abcd"), true},
      {"empty", "", QByteArray(), true},
      {"stored empty, written empty", "UPDATE reg_values SET data=zeroblob(0)", QByteArray(), false},
      {"stored NULL, written empty", "UPDATE reg_values SET data=NULL", QByteArray(), true},
      {"stored as text", "UPDATE reg_values SET data='abc'", QByteArray("abc"), true},
      {"stored as an integer value", "UPDATE reg_values SET type=4, data=7", QByteArray("abc"), true},
      {"stored with an unknown type", "UPDATE reg_values SET type=1", QByteArray("abc"), true},
      {"absent", "DELETE FROM reg_values", QByteArray("abc"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("registry.sqlite");
    auto store = openSqliteRegistryStore(path);
    ASSERT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, "V", "abc"), RegStatus::Ok);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, c.before, nullptr, nullptr, nullptr), SQLITE_OK);
    // data_version moves only when another connection commits a change.
    auto version = [db] {
      sqlite3_stmt* st = nullptr;
      sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &st, nullptr);
      const int64_t v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
      sqlite3_finalize(st);
      return v;
    };
    const int64_t before = version();
    EXPECT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, "V", c.write), RegStatus::Ok);
    EXPECT_EQ(version() != before, c.commits);
    sqlite3_close(db);
    QByteArray data("unread");
    ASSERT_EQ(store->readBinary(HKEY_CURRENT_USER, kKey, "V", data), RegStatus::Ok);
    EXPECT_EQ(data, c.write);
    EXPECT_EQ(store->keyExists(HKEY_CURRENT_USER, kKey), RegStatus::Ok);
  }
}

// Two processes on one database: the child writes two different profile-sized
// images in turn while this process reads in a loop (and writes a value of
// its own); every read sees one image whole and no write fails as busy.
namespace {
constexpr int kImageSize = 109896;
constexpr int kChildWrites = 150;
QByteArray imageOf(char fill) {
  QByteArray b(kImageSize, fill);
  b[0] = 2;
  b[1] = 1;
  return b;
}
}  // namespace

TEST(RegistryStoreChild, Writer) {
  const QString path = qEnvironmentVariable("MOUSE_TEST_STORE_CHILD");
  if (path.isEmpty()) GTEST_SKIP() << "run by TwoProcessesShareOneStore";
  auto store = openSqliteRegistryStore(path);
  const QByteArray a = imageOf('A'), b = imageOf('B');
  for (int i = 0; i < kChildWrites; ++i) {
    ASSERT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", i % 2 ? b : a), RegStatus::Ok)
        << store->lastError().toStdString();
    ASSERT_EQ(store->writeInteger(HKEY_CURRENT_USER, kKey, "ProfileID", i), RegStatus::Ok)
        << store->lastError().toStdString();
  }
}

TEST(RegistryStoreTwoProcesses, TwoProcessesShareOneStore) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("registry.sqlite");
  auto store = openSqliteRegistryStore(path);
  const QByteArray a = imageOf('A'), b = imageOf('B');
  ASSERT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", a), RegStatus::Ok);

  int argc = 0;
  QCoreApplication app(argc, nullptr);
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("MOUSE_TEST_STORE_CHILD", path);
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  child.start(QCoreApplication::applicationFilePath(),
              {"--gtest_filter=RegistryStoreChild.Writer"});
  ASSERT_TRUE(child.waitForStarted());

  int reads = 0, writes = 0;
  while (child.state() != QProcess::NotRunning) {
    QByteArray data;
    ASSERT_EQ(store->readBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", data), RegStatus::Ok)
        << store->lastError().toStdString();
    ASSERT_TRUE(data == a || data == b) << "torn read of " << data.size() << " bytes";
    ++reads;
    ASSERT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, "ALLPROFILE.pfd", data.left(30960)),
              RegStatus::Ok)
        << store->lastError().toStdString();
    ++writes;
    child.waitForFinished(1);  // lets QProcess notice the exit; the loop itself does real work
  }
  ASSERT_EQ(child.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(child.exitCode(), 0);
  std::int32_t last = 0;
  ASSERT_EQ(store->readInteger(HKEY_CURRENT_USER, kKey, "ProfileID", last), RegStatus::Ok);
  EXPECT_EQ(last, kChildWrites - 1);
  EXPECT_GT(reads, 0);
  EXPECT_GT(writes, 0);
}

// --- a program's start: damaged stores set aside, private modes

namespace {

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
bool writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
mode_t modeOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : 07777;
}

// A store as the programs leave it: the settings and five profile images.
void fillLikeThePrograms(const QString& path) {
  auto store = openSqliteRegistryStore(path);
  ASSERT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, "ProfileSettingGroup.pfd", QByteArray(30964, '\x11')),
            RegStatus::Ok);
  for (int i = 1; i <= 5; ++i)
    ASSERT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, QStringLiteral("Profile%1.pfd").arg(i),
                                 QByteArray(109896, char('A' + i))),
              RegStatus::Ok);
}

}  // namespace

TEST(RegistryStoreAtStartTest, DamagedStoreIsSetAsideBesideItselfAndAFreshOneMade) {
  for (const platform::testing::StoreDamage& row : platform::testing::kStoreDamages) {
    SCOPED_TRACE(row.name);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("gaming-mouse/registry.sqlite");
    fillLikeThePrograms(path);
    const QByteArray damaged = row.damage(readAll(path));
    ASSERT_TRUE(writeAll(path, damaged));

    RegistryStoreAtStart opened = openSqliteRegistryStoreAtStart(path);
    ASSERT_TRUE(opened.store);
    EXPECT_TRUE(QRegularExpression(QRegularExpression::escape(path) + "\\.damaged-\\d{8}T\\d{6}Z$")
                    .match(opened.damagedPath)
                    .hasMatch())
        << opened.damagedPath.toStdString();
    EXPECT_TRUE(opened.notice.contains(path)) << opened.notice.toStdString();
    EXPECT_TRUE(opened.notice.contains(opened.damagedPath)) << opened.notice.toStdString();
    EXPECT_TRUE(readAll(opened.damagedPath) == damaged) << "the damaged store is kept byte for byte";

    // The fresh store: empty, private, and it takes writes.
    QByteArray data;
    EXPECT_EQ(opened.store->readBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", data), RegStatus::Absent)
        << opened.store->lastError().toStdString();
    EXPECT_EQ(opened.store->writeBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", "fresh"), RegStatus::Ok)
        << opened.store->lastError().toStdString();
    EXPECT_EQ(modeOf(path), 0600u);
    opened.store.reset();

    // Said once: the next start finds a sound store.
    RegistryStoreAtStart again = openSqliteRegistryStoreAtStart(path);
    EXPECT_TRUE(again.notice.isEmpty()) << again.notice.toStdString();
    ASSERT_EQ(again.store->readBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", data), RegStatus::Ok);
    EXPECT_EQ(data, QByteArray("fresh"));
    EXPECT_TRUE(readAll(opened.damagedPath) == damaged);
  }
}

TEST(RegistryStoreAtStartTest, SoundOrEmptyStoresOpenWithoutNotice) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString sound = dir.filePath("sound/registry.sqlite");
  fillLikeThePrograms(sound);
  const QString empty = dir.filePath("empty/registry.sqlite");
  ASSERT_TRUE(QDir().mkpath(dir.filePath("empty")));
  ASSERT_TRUE(writeAll(empty, QByteArray()));
  for (const QString& path : {sound, empty}) {
    SCOPED_TRACE(path.toStdString());
    RegistryStoreAtStart opened = openSqliteRegistryStoreAtStart(path);
    EXPECT_TRUE(opened.notice.isEmpty()) << opened.notice.toStdString();
    EXPECT_TRUE(opened.damagedPath.isEmpty());
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files).filter("damaged"), QStringList());
  }
  QByteArray data;
  auto store = openSqliteRegistryStore(sound);
  ASSERT_EQ(store->readBinary(HKEY_CURRENT_USER, kKey, "Profile3.pfd", data), RegStatus::Ok);
  EXPECT_EQ(data, QByteArray(109896, 'D'));
}

TEST(RegistryStoreAtStartTest, StoreThatCannotBeOpenedIsSaidAtStartAndEveryWriteFails) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // Cases that hold for any user, root included: the folder is a file, the
  // store is a folder.
  ASSERT_TRUE(writeAll(dir.filePath("gaming-mouse"), "not a folder"));
  ASSERT_TRUE(QDir().mkpath(dir.filePath("other/registry.sqlite")));
  for (const QString& path : {dir.filePath("gaming-mouse/registry.sqlite"), dir.filePath("other/registry.sqlite")}) {
    SCOPED_TRACE(path.toStdString());
    RegistryStoreAtStart opened = openSqliteRegistryStoreAtStart(path);
    ASSERT_TRUE(opened.store);
    EXPECT_TRUE(opened.damagedPath.isEmpty());
    EXPECT_TRUE(opened.notice.contains("cannot be opened")) << opened.notice.toStdString();
    EXPECT_TRUE(opened.notice.contains(QFileInfo(path).absolutePath())) << opened.notice.toStdString();
    EXPECT_EQ(opened.store->writeBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", "x"), RegStatus::Error);
    EXPECT_FALSE(opened.store->lastError().isEmpty());
  }
  EXPECT_EQ(readAll(dir.filePath("gaming-mouse")), QByteArray("not a folder"));
}

TEST(RegistryStoreModes, NewStoreAndFolderArePrivateAndWiderOnesOfOursAreNarrowed) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const mode_t oldMask = ::umask(022);
  // New: every folder made for it and the file, its journal files too.
  const QString fresh = dir.filePath("config/gaming-mouse/registry.sqlite");
  {
    auto store = openSqliteRegistryStore(fresh);
    ASSERT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, "A", "x"), RegStatus::Ok);
    EXPECT_EQ(modeOf(fresh), 0600u);
    EXPECT_EQ(modeOf(fresh + "-wal"), 0600u);
    EXPECT_EQ(modeOf(fresh + "-shm"), 0600u);
    EXPECT_EQ(modeOf(dir.filePath("config/gaming-mouse")), 0700u);
    EXPECT_EQ(modeOf(dir.filePath("config")), 0700u);
  }
  // Existing with wider modes: narrowed; the folder above is
  // the user's and stays.
  const QString old = dir.filePath("home-config/gaming-mouse/registry.sqlite");
  fillLikeThePrograms(old);
  ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("home-config")).constData(), 0755), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("home-config/gaming-mouse")).constData(), 0755), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(old).constData(), 0644), 0);
  {
    auto store = openSqliteRegistryStore(old);
    QByteArray data;
    ASSERT_EQ(store->readBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", data), RegStatus::Ok);
    EXPECT_EQ(modeOf(old), 0600u);
    EXPECT_EQ(modeOf(dir.filePath("home-config/gaming-mouse")), 0700u);
    EXPECT_EQ(modeOf(dir.filePath("home-config")), 0755u);
  }
  ::umask(oldMask);
}

// --- two programs on one store at their start

namespace {

const char kStoreVar[] = "MOUSE_TEST_STORE";

QString storeOfChild() { return qEnvironmentVariable(kStoreVar); }

std::string valueText(RegistryStore& store, const QString& name) {
  QByteArray data;
  switch (store.readBinary(HKEY_CURRENT_USER, kKey, name, data)) {
    case RegStatus::Ok: return data.toStdString();
    case RegStatus::Absent: return "(absent)";
    case RegStatus::Error: break;
  }
  return "(error: " + store.lastError().toStdString() + ")";
}

std::string oneLine(QString s) { return s.replace(u'\n', u' ').toStdString(); }

// A program's part in the tests below, run as a second process: it opens
// the store as a program starts, says what the start said, stores a value
// of its own and, when told, says what it reads of the other's value.
int childMain(const std::string& role) {
  const QString path = storeOfChild();
  const QString own = qEnvironmentVariable("MOUSE_TEST_OWN"), other = qEnvironmentVariable("MOUSE_TEST_OTHER");
  if (role == "starter") {
    // Started with its partner; both open when told, as nearly at once as
    // two processes can.
    std::string go;
    char c;
    while (::read(0, &c, 1) == 1 && c != '\n') go += c;
    if (go != "go") return 2;
  }
  RegistryStoreAtStart opened = openSqliteRegistryStoreAtStart(path);
  testchild::say(("notice:" + oneLine(opened.notice)).c_str());
  if (opened.store->writeBinary(HKEY_CURRENT_USER, kKey, own, own.toUtf8()) != RegStatus::Ok) {
    testchild::say(("write failed:" + oneLine(opened.store->lastError())).c_str());
    return 1;
  }
  testchild::say("written");
  std::string line;
  char c;
  while (::read(0, &c, 1) == 1 && c != '\n') line += c;
  if (line != "read") return 2;
  testchild::say(("read:" + valueText(*opened.store, other)).c_str());
  return 0;
}
const bool kChildRole = testchild::runRoleIfAsked(childMain);

bool tell(testchild::Child& child, const char* line) {
  const std::string s = std::string(line) + "\n";
  return ::write(child.in, s.data(), s.size()) == ssize_t(s.size());
}

QStringList setAsideCopies(const QString& path) {
  const QFileInfo info(path);
  return QDir(info.absolutePath())
      .entryList({info.fileName() + ".damaged-*"}, QDir::Files, QDir::Name)
      .filter(QRegularExpression("Z(-\\d+)?$"));
}

}  // namespace

// The monitor has the store open when it becomes damaged; the configurator
// starting then must not move it away under the monitor: both go on with
// the one file, each sees what the other stores.
TEST(RegistryStoreAtStartTest, StoreAnotherProcessHasOpenIsNeverSetAside) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("gaming-mouse/registry.sqlite");
  fillLikeThePrograms(path);

  testchild::Child monitor;
  ASSERT_TRUE(monitor.start("holder", {std::string(kStoreVar) + "=" + path.toStdString(), "MOUSE_TEST_OWN=FromMonitor",
                                       "MOUSE_TEST_OTHER=FromConfigurator"}));
  ASSERT_EQ(monitor.readLine(), "notice:");
  ASSERT_EQ(monitor.readLine(), "written");

  // Damage under the running monitor: a page of profile data, in place.
  const QByteArray whole = readAll(path);
  const QByteArray damaged = platform::testing::noiseInTheMiddle(whole);
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.write(damaged) == damaged.size());
  }

  RegistryStoreAtStart configurator = openSqliteRegistryStoreAtStart(path);
  EXPECT_TRUE(configurator.damagedPath.isEmpty()) << configurator.damagedPath.toStdString();
  EXPECT_EQ(setAsideCopies(path).join(" ").toStdString(), "");
  EXPECT_TRUE(configurator.notice.contains(path)) << configurator.notice.toStdString();
  EXPECT_TRUE(configurator.notice.contains("will be set aside when both programs have ended"))
      << configurator.notice.toStdString();
  ASSERT_EQ(configurator.store->writeBinary(HKEY_CURRENT_USER, kKey, "FromConfigurator", "FromConfigurator"),
            RegStatus::Ok)
      << configurator.store->lastError().toStdString();
  EXPECT_EQ(valueText(*configurator.store, "FromMonitor"), "FromMonitor");
  ASSERT_TRUE(tell(monitor, "read"));
  EXPECT_EQ(monitor.readLine(), "read:FromConfigurator");
  EXPECT_EQ(monitor.waitExit(), 0);
  configurator.store.reset();

  // Once both have ended, the next start sets it aside.
  RegistryStoreAtStart later = openSqliteRegistryStoreAtStart(path);
  EXPECT_FALSE(later.damagedPath.isEmpty()) << later.notice.toStdString();
  EXPECT_EQ(setAsideCopies(path).size(), 1);
}

// Two programs starting at the same moment on a damaged store: it is set
// aside once, as it was found, and both run on the one fresh store.
TEST(RegistryStoreAtStartTest, TwoStartsAtOnceOnADamagedStoreShareOneFreshStore) {
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("gaming-mouse/registry.sqlite");
    fillLikeThePrograms(path);
    const QByteArray damaged = platform::testing::noiseInTheMiddle(readAll(path));
    ASSERT_TRUE(writeAll(path, damaged));

    testchild::Child a, b;
    const std::string store = std::string(kStoreVar) + "=" + path.toStdString();
    ASSERT_TRUE(a.start("starter", {store, "MOUSE_TEST_OWN=A", "MOUSE_TEST_OTHER=B"}));
    ASSERT_TRUE(b.start("starter", {store, "MOUSE_TEST_OWN=B", "MOUSE_TEST_OTHER=A"}));
    ASSERT_TRUE(tell(a, "go"));
    ASSERT_TRUE(tell(b, "go"));
    const std::string noticeA = a.readLine(), noticeB = b.readLine();
    ASSERT_EQ(a.readLine(), "written") << noticeA;
    ASSERT_EQ(b.readLine(), "written") << noticeB;
    ASSERT_TRUE(tell(a, "read"));
    ASSERT_TRUE(tell(b, "read"));
    EXPECT_EQ(a.readLine(), "read:B") << noticeA << " / " << noticeB;
    EXPECT_EQ(b.readLine(), "read:A") << noticeA << " / " << noticeB;
    EXPECT_EQ(a.waitExit(), 0);
    EXPECT_EQ(b.waitExit(), 0);

    // One said it set the store aside, the other nothing.
    const int moved = int(noticeA.find("It was moved to") != std::string::npos) +
                      int(noticeB.find("It was moved to") != std::string::npos);
    EXPECT_EQ(moved, 1) << noticeA << " / " << noticeB;
    EXPECT_TRUE(noticeA == "notice:" || noticeB == "notice:") << noticeA << " / " << noticeB;
    const QStringList aside = setAsideCopies(path);
    ASSERT_EQ(aside.size(), 1) << aside.join(' ').toStdString();
    EXPECT_TRUE(readAll(QFileInfo(path).absoluteDir().filePath(aside[0])) == damaged);
    if (::testing::Test::HasFailure()) break;
  }
}

// Opening the store again in a process that has it open keeps the locks
// SQLite holds for the first connection; another process must see them, or
// it takes the store for unused (and checkpoints and removes the write-ahead
// log under the first).
TEST(RegistryStoreLocks, SecondConnectionInOneProcessKeepsTheFirstOnesLocks) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("registry.sqlite");
  // Whether another process finds a lock on [start, start + length) of file.
  auto lockedForOthers = [](const QString& file, off_t start, off_t length) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CLOEXEC);
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      fl.l_start = start;
      fl.l_len = length;
      if (fd < 0 || ::fcntl(fd, F_GETLK, &fl) != 0) ::_exit(2);
      ::_exit(fl.l_type == F_UNLCK ? 1 : 0);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  // SQLite's unix locks: the shared range of the database file, and the
  // byte of the shared-memory file that says a connection is using it.
  constexpr off_t kSharedFirst = 0x40000000 + 2, kSharedSize = 510, kShmInUse = 128;

  auto first = openSqliteRegistryStore(path);
  ASSERT_EQ(first->writeBinary(HKEY_CURRENT_USER, kKey, "A", "first"), RegStatus::Ok);
  ASSERT_TRUE(lockedForOthers(path + "-shm", kShmInUse, 1));
  ASSERT_TRUE(lockedForOthers(path, kSharedFirst, kSharedSize));

  for (int i = 0; i < 2; ++i) {
    std::unique_ptr<RegistryStore> second =
        i == 0 ? openSqliteRegistryStore(path) : openSqliteRegistryStoreAtStart(path).store;
    ASSERT_EQ(valueText(*second, "A"), "first");
    EXPECT_TRUE(lockedForOthers(path + "-shm", kShmInUse, 1)) << i;
    EXPECT_TRUE(lockedForOthers(path, kSharedFirst, kSharedSize)) << i;
  }
  EXPECT_TRUE(lockedForOthers(path + "-shm", kShmInUse, 1));
  EXPECT_TRUE(lockedForOthers(path, kSharedFirst, kSharedSize));
}

// A store set aside keeps every file it had: a journal whose name beside
// the copy is taken by an earlier set-aside gets another name, never the
// bin.
TEST(RegistryStoreSetAside, EveryJournalIsKeptWhateverNamesAreTaken) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("registry.sqlite");
  const QDateTime now(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
  const QString first = path + ".damaged-20260304T050607Z";
  struct Case {
    const char* name;
    QStringList taken;  // names beside the store before the set-aside
    QString aside;      // where the database goes
  };
  const Case cases[] = {
      {"nothing taken", {}, first},
      {"an earlier copy's log without its database", {first + "-wal"}, first + "-2"},
      {"an earlier copy and its journals", {first, first + "-wal", first + "-shm", first + "-journal"}, first + "-2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const QString& f : QDir(dir.path()).entryList(QDir::Files)) ASSERT_TRUE(QFile::remove(dir.filePath(f)));
    for (const QString& t : c.taken) ASSERT_TRUE(writeAll(t, "earlier " + t.toUtf8()));
    ASSERT_TRUE(writeAll(path, "damaged database"));
    ASSERT_TRUE(writeAll(path + "-wal", "its last commits"));
    ASSERT_TRUE(writeAll(path + "-shm", "its index"));

    const storefiles::SetAside moved = storefiles::setAside(path, now);
    ASSERT_TRUE(moved.ok) << moved.error.toStdString();
    EXPECT_EQ(moved.aside.toStdString(), c.aside.toStdString());
    EXPECT_EQ(readAll(moved.aside), "damaged database");
    EXPECT_EQ(readAll(moved.aside + "-wal"), "its last commits");
    EXPECT_EQ(readAll(moved.aside + "-shm"), "its index");
    for (const QString& t : c.taken) EXPECT_EQ(readAll(t), "earlier " + t.toUtf8());
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) EXPECT_FALSE(QFile::exists(path + suffix)) << suffix;
  }
}
