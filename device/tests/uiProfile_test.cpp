#include "device/uiProfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

using platform::HKEY_CURRENT_USER;

namespace {

const QString kKey = QStringLiteral("software\\Orvelline");

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

// A one-byte file whose last change lies age in the past.
void makeFile(const QString& path, std::chrono::seconds age) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("x");
  f.close();
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const timespec then{now.tv_sec - time_t(age.count()), now.tv_nsec};
  const timespec times[2] = {then, then};
  ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

QStringList filesIn(const QString& folder) {
  QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
  names.sort();
  return names;
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

TEST_F(TuiProfileTest, WritingAnImageSharesItWithoutEverChangingIt) {
  const QByteArray image(8, 'a');
  EXPECT_EQ(profile_->Write(image), 8);
  EXPECT_EQ(profile_->Stream(), image);
  EXPECT_EQ(profile_->Size(), 8);
  profile_->Write("bb", 2);
  EXPECT_EQ(image, QByteArray(8, 'a')) << "a later write goes to the store's own copy";
  EXPECT_EQ(profile_->Stream(), "bbaaaaaa");
  EXPECT_EQ(profile_->Write(QByteArray("ccc")), 3);
  EXPECT_EQ(profile_->Stream(), "cccaaaaa") << "a longer stream keeps its tail";
  EXPECT_EQ(profile_->Write(QByteArray()), 0);
  EXPECT_EQ(profile_->Size(), 8);
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
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"Profile1.pfd"})
      << "no temporary file left";

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

TEST(SaveTemporaries, NamesOfThePatternOnly) {
  QString target;
  EXPECT_TRUE(IsSaveTemporaryName(".Profile1.pfd.tmp-aB3xY9", &target));
  EXPECT_EQ(target, "Profile1.pfd");
  for (const char* name : {"Profile1.pfd.tmp-aB3xY9", ".Profile1.pfd.tmp-aB3xY", ".Profile1.pfd.tmp-aB3xY90",
                           ".Profile1.pfd.tmp-aB3x-9", ".Profile1.pfd.tmp-aB3xY9.bak", "..tmp-aB3xY9",
                           ".Profile1.pfd.TMP-aB3xY9", ".Profile1.pfd.aB3xY9"})
    EXPECT_FALSE(IsSaveTemporaryName(name)) << name;
}

TEST(SaveTemporaries, OnlyOldOnesOfOurPatternAndNamesGo) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString f = dir.path();
  const auto old = std::chrono::minutes(11);
  const auto fresh = std::chrono::seconds(0);
  makeFile(f + "/.Profile1.pfd.tmp-Old123", old);          // a killed save: goes
  makeFile(f + "/.Profile1.pfd.tmp-New123", fresh);        // a save writing now
  makeFile(f + "/.Profile1.pfd.tmp-Young1", std::chrono::minutes(9));
  makeFile(f + "/Profile1.pfd.tmp-Old123", old);           // the user's
  makeFile(f + "/.Profile1.pfd.tmp-Old123.keep", old);     // the user's
  makeFile(f + "/.Profile1.pfd.tmp-Old12", old);           // the user's
  makeFile(f + "/.Notes.txt.tmp-Old123", old);             // not of our names
  makeFile(f + "/Profile1.pfd", old);
  ASSERT_TRUE(QDir(f).mkdir(".Profile1.pfd.tmp-Dir123"));  // not a file
  ASSERT_EQ(symlink("Profile1.pfd", QFile::encodeName(f + "/.Profile1.pfd.tmp-Lnk123").constData()), 0);

  EXPECT_EQ(RemoveStaleSaveTemporaries(f, [](const QString& t) { return t == "Profile1.pfd"; }), 1);
  EXPECT_EQ(filesIn(f), (QStringList{".Notes.txt.tmp-Old123", ".Profile1.pfd.tmp-Lnk123", ".Profile1.pfd.tmp-New123",
                                     ".Profile1.pfd.tmp-Old12", ".Profile1.pfd.tmp-Old123.keep",
                                     ".Profile1.pfd.tmp-Young1", "Profile1.pfd", "Profile1.pfd.tmp-Old123"}));
  EXPECT_TRUE(QFileInfo(f + "/.Profile1.pfd.tmp-Dir123").isDir());
  EXPECT_EQ(RemoveStaleSaveTemporaries(f + "/missing", [](const QString&) { return true; }), 0);
  EXPECT_EQ(RemoveStaleSaveTemporaries(QString(), [](const QString&) { return true; }), 0);
}

TEST(SaveTemporaries, AtomicWriteLeavesOnlyTheFileAndKeepsItsMode) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = QFile::encodeName(dir.filePath("Profile2.pfd")).toStdString();
  std::string why;
  ASSERT_TRUE(WriteFileAtomically(path, "one", 3, &why)) << why;
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(WriteFileAtomically(path, "two!", 4, &why)) << why;
  EXPECT_EQ(readAll(dir.filePath("Profile2.pfd")), "two!");
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(filesIn(dir.path()), QStringList{"Profile2.pfd"});
  // A missing folder fails and leaves nothing.
  EXPECT_FALSE(WriteFileAtomically(QFile::encodeName(dir.filePath("no/Profile2.pfd")).toStdString(), "x", 1, &why));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(filesIn(dir.path()), QStringList{"Profile2.pfd"});
}

// A save onto a regular file that already holds the image leaves that file
// alone (same inode, no sync); any other target is replaced by a new file
// holding the image.
TEST_F(TuiProfileTest, SaveOfTheBytesTheFileHoldsLeavesItAlone) {
  const QByteArray image = QByteArray(109896, '\x5a').append("end");
  struct Case {
    const char* name;
    std::function<void(const std::string& path)> before;
    bool kept;
  };
  auto put = [](const QByteArray& bytes) {
    return [bytes](const std::string& path) {
      QFile f(QFile::decodeName(path.c_str()));
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
      ASSERT_EQ(f.write(bytes), bytes.size());
    };
  };
  QByteArray flipped = image;
  flipped[50000] = '\x5b';
  const Case cases[] = {
      {"same bytes", put(image), true},
      {"missing", [](const std::string&) {}, false},
      {"empty", put(QByteArray()), false},
      {"short", put(image.left(image.size() - 1)), false},
      {"long", put(image + 'x'), false},
      {"one byte differs", put(flipped), false},
      {"link to a file with the same bytes",
       [&](const std::string& path) {
         put(image)(path + ".real");
         ASSERT_EQ(::symlink((path + ".real").c_str(), path.c_str()), 0);
       },
       false},
      {"pipe", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); }, false},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString folder = dir_.filePath(QString("case%1").arg(n++));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/Profile1.pfd";
    const std::string native = QFile::encodeName(path).toStdString();
    c.before(native);
    struct stat old {};
    const bool existed = ::lstat(native.c_str(), &old) == 0;
    TuiProfile profile;
    profile.Write(image.constData(), int(image.size()));
    ASSERT_TRUE(profile.SaveStreamToFile(path));
    struct stat now {};
    ASSERT_EQ(::lstat(native.c_str(), &now), 0);
    EXPECT_TRUE(S_ISREG(now.st_mode));
    EXPECT_EQ(existed && now.st_ino == old.st_ino, c.kept);
    EXPECT_EQ(readAll(path), image);
    EXPECT_TRUE(FileHoldsExactly(native, image.constData(), size_t(image.size())));
  }
}

namespace {

// What lies at a profile's path before a save.
enum class Before { Nothing, RegularFile, LinkToFile, DanglingLink };

struct ModeRow {
  const char* name;
  Before before;
  mode_t oldMode;  // the regular file's, or the link target's
  mode_t umask;
  mode_t expected;
};

const ModeRow kModeRows[] = {
    {"NewFileUmask022", Before::Nothing, 0, 022, 0644},
    {"NewFileUmask077", Before::Nothing, 0, 077, 0600},
    {"NewFileUmask002", Before::Nothing, 0, 002, 0644},
    {"RegularFileKeepsItsNarrowMode", Before::RegularFile, 0600, 022, 0600},
    {"RegularFileKeepsItsModeWhateverTheUmask", Before::RegularFile, 0640, 077, 0640},
    {"LinkToWorldWritableTargetGivesUmaskedDefault", Before::LinkToFile, 0666, 022, 0644},
    {"LinkToPrivateTargetGivesUmaskedDefault", Before::LinkToFile, 0600, 027, 0640},
    {"DanglingLinkGivesUmaskedDefault", Before::DanglingLink, 0, 077, 0600},
};

}  // namespace

TEST_F(TuiProfileTest, SaveNeverWidensAFilesModeAndReplacesALink) {
  for (const ModeRow& row : kModeRows) {
    SCOPED_TRACE(row.name);
    const QDir folder(dir_.filePath(row.name));
    ASSERT_TRUE(folder.mkpath("."));
    const QString path = folder.filePath("Profile1.pfd");
    const QString target = folder.filePath("elsewhere.pfd");
    const QByteArray native = QFile::encodeName(path), nativeTarget = QFile::encodeName(target);
    switch (row.before) {
      case Before::Nothing:
        break;
      case Before::RegularFile:
        ASSERT_TRUE(QFile(path).open(QIODevice::WriteOnly));
        ASSERT_EQ(::chmod(native.constData(), row.oldMode), 0);
        break;
      case Before::LinkToFile:
        ASSERT_TRUE(QFile(target).open(QIODevice::WriteOnly));
        ASSERT_EQ(::chmod(nativeTarget.constData(), row.oldMode), 0);
        ASSERT_EQ(::symlink(nativeTarget.constData(), native.constData()), 0);
        break;
      case Before::DanglingLink:
        ASSERT_EQ(::symlink(nativeTarget.constData(), native.constData()), 0);
        break;
    }
    const mode_t saved = ::umask(row.umask);
    profile_->Write("image", 5);
    const TProfileIOResult r = profile_->SaveStreamToFile(path);
    ::umask(saved);
    ASSERT_TRUE(r) << r.message.toStdString();

    struct stat st {};
    ASSERT_EQ(::lstat(native.constData(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "a link is replaced by the file itself";
    EXPECT_EQ(st.st_mode & 07777, row.expected);
    EXPECT_EQ(readAll(path), QByteArray("image"));
    if (row.before == Before::LinkToFile) {
      ASSERT_EQ(::stat(nativeTarget.constData(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, row.oldMode) << "the link's target is left alone";
      EXPECT_EQ(readAll(target), QByteArray());
    }
  }
}
