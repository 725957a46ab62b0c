#include "platform/RegistryStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>

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
