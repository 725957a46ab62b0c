#include "device/uiProfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::HKEY_CURRENT_USER;

namespace {

const QString kKey = QStringLiteral("software\\Orvelline");

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

class TuiProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    dbPath_ = dir_.filePath("registry.sqlite");
    store_ = platform::openSqliteRegistryStore(dbPath_);
    profile_ = std::make_unique<TuiProfile>(store_.get());
    profile_->SetRootKey(HKEY_CURRENT_USER);
    profile_->SetKeyPath(kKey);
    profile_->SetFileName("Profile1.pfd");
  }
  QTemporaryDir dir_;
  QString dbPath_;
  std::unique_ptr<platform::RegistryStore> store_;
  std::unique_ptr<TuiProfile> profile_;
};

}  // namespace

TEST_F(TuiProfileTest, UnconfiguredStoreAnswersFalseWithoutTouchingTheDatabase) {
  struct Case {
    platform::RegistryRoot root;
    const char* key;
    const char* name;
  };
  for (const Case& c : {Case{0, "software\\Orvelline", "a"}, Case{HKEY_CURRENT_USER, "", "a"},
                        Case{HKEY_CURRENT_USER, "software", ""}}) {
    TuiProfile p(store_.get());
    p.SetRootKey(c.root);
    p.SetKeyPath(c.key);
    p.SetFileName(c.name);
    p.Write("abcd", 4);
    EXPECT_EQ(p.SaveStreamToRegistry().kind, TProfileIOResult::Error);
    EXPECT_EQ(p.LoadStreamFromRegistry().kind, TProfileIOResult::Error);
    EXPECT_EQ(p.Stream(), "abcd");
  }
  EXPECT_FALSE(QFile::exists(dbPath_));
}

TEST_F(TuiProfileTest, StreamSizesFollowWritesAndLoads) {
  // A shorter write keeps the tail of the longer image; the whole image is saved.
  QByteArray big(30964, 'x');
  profile_->Write(big.constData(), big.size());
  QByteArray small(30960, 'y');
  EXPECT_EQ(profile_->Write(small.constData(), small.size()), 30960);
  EXPECT_EQ(profile_->Size(), 30964);
  ASSERT_TRUE(profile_->SaveStreamToRegistry());
  QByteArray stored;
  ASSERT_EQ(store_->readBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", stored), platform::RegStatus::Ok);
  EXPECT_EQ(stored, small + "xxxx");

  // Loading a 4-byte value leaves a 4-byte stream; Read says so.
  ASSERT_EQ(store_->writeBinary(HKEY_CURRENT_USER, kKey, "Profile1.pfd", QByteArray("\x02\x01\0\0", 4)),
            platform::RegStatus::Ok);
  ASSERT_TRUE(profile_->LoadStreamFromRegistry());
  EXPECT_EQ(profile_->Size(), 4);
  QByteArray out(109896, 'z');
  EXPECT_EQ(profile_->Read(out.data(), out.size()), 4);
  EXPECT_EQ(out.left(5), QByteArray("\x02\x01\0\0z", 5));

  // Absent and wrong-type values leave the stream as it was.
  profile_->SetFileName("Missing.pfd");
  EXPECT_EQ(profile_->LoadStreamFromRegistry().kind, TProfileIOResult::Absent);
  ASSERT_EQ(store_->writeInteger(HKEY_CURRENT_USER, kKey, "ProfileID", 1), platform::RegStatus::Ok);
  profile_->SetFileName("ProfileID");
  EXPECT_EQ(profile_->LoadStreamFromRegistry().kind, TProfileIOResult::Error);
  EXPECT_EQ(profile_->Size(), 4);

  profile_->SetSize(8);
  EXPECT_EQ(profile_->Stream(), QByteArray("\x02\x01\0\0\0\0\0\0", 8));
}

TEST_F(TuiProfileTest, FilePathSetterAndFiles) {
  const QString folder = dir_.filePath("Profile");
  profile_->SetFilePath(folder);
  EXPECT_TRUE(profile_->FilePath().isEmpty()) << "a missing folder is ignored";
  ASSERT_TRUE(QDir().mkdir(folder));
  profile_->SetFilePath(folder);
  EXPECT_EQ(profile_->FilePath(), folder + "/");

  profile_->Write("first", 5);
  ASSERT_TRUE(profile_->SaveStreamToFile());
  EXPECT_EQ(readAll(folder + "/Profile1.pfd"), "first");
  profile_->SetSize(0);
  profile_->Write("second!", 7);
  ASSERT_TRUE(profile_->SaveStreamToFile());
  EXPECT_EQ(readAll(folder + "/Profile1.pfd"), "second!");
  EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"Profile1.pfd"}) << "no temporary file left";

  TuiProfile other;
  ASSERT_TRUE(other.LoadStreamFromFile(folder + "/Profile1.pfd"));
  EXPECT_EQ(other.Stream(), "second!");
  EXPECT_EQ(other.LoadStreamFromFile(folder + "/nope.pfd").kind, TProfileIOResult::Absent);
  EXPECT_EQ(other.LoadStreamFromFile(folder).kind, TProfileIOResult::Absent) << "a folder is no file";
  EXPECT_EQ(other.LoadStreamFromFile(folder + "/Profile1.pfd", 3).kind, TProfileIOResult::Error);
  EXPECT_EQ(other.Stream(), "second!");

  // The path form creates one missing folder level, never two.
  bool before = false;
  other.OnBeforeSaveToFile = [&](QByteArray&, bool&) { before = true; };
  EXPECT_TRUE(other.SaveStreamToFile(dir_.filePath("new/p.pfd")));
  EXPECT_TRUE(before);
  before = false;
  EXPECT_EQ(other.SaveStreamToFile(dir_.filePath("a/b/p.pfd")).kind, TProfileIOResult::Error);
  EXPECT_FALSE(before);
  EXPECT_FALSE(QFile::exists(dir_.filePath("a")));

  // A cancelling handler stops the save.
  other.OnBeforeSaveToFile = [](QByteArray&, bool& go) { go = false; };
  EXPECT_FALSE(other.SaveStreamToFile(dir_.filePath("new/q.pfd")));
  EXPECT_FALSE(QFile::exists(dir_.filePath("new/q.pfd")));
}

TEST(PathHelpersTest, DelimiterAndFileExists) {
  EXPECT_EQ(AddPathDelimiter(""), "");
  EXPECT_EQ(AddPathDelimiter("/a"), "/a/");
  EXPECT_EQ(AddPathDelimiter("/a/"), "/a/");
  QTemporaryDir dir;
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(""));
  QFile f(dir.filePath("x"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  EXPECT_TRUE(FileExists(dir.filePath("x")));
}
