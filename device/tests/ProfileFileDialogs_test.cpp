#include "device/ProfileFileDialogs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::HKEY_CURRENT_USER;
using platform::RegStatus;

namespace {

constexpr int kProfile = 109896;
const QString kKey = QStringLiteral("software\\Orvelline");

class FakeChooser : public TProfileFileChooser {
 public:
  QString ChooseOpenFile(const QString& folder) override {
    openFolder = folder;
    return answer;
  }
  QString ChooseSaveFile(const QString& folder) override {
    saveFolder = folder;
    return answer;
  }
  void ShowMessage(const QString& text) override { messages << text; }
  QString answer, openFolder, saveFolder;
  QStringList messages;
};

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}
void putFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}
QByteArray profileImage(char fill, int size = kProfile, int version = 258) {
  QByteArray b(size, fill);
  if (size >= 4) std::memcpy(b.data(), &version, 4);
  return b;
}

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    docs_ = root_.filePath("Documents");
    QDir().mkpath(root_.filePath("program"));
    QDir().mkpath(root_.filePath("import"));
    store_ = platform::openSqliteRegistryStore(root_.filePath("registry.sqlite"));
    dm_ = std::make_unique<TDM>(TDMEnvironment{store_.get(), root_.filePath("program"), docs_});
    dm_->InitData();
  }
  QByteArray settings() const { return QByteArray(reinterpret_cast<const char*>(&dm_->FProfileSettingGroup), 30964); }
  QByteArray current() const { return QByteArray(reinterpret_cast<const char*>(&dm_->FCurrentProfileInfo), kProfile); }
  QByteArray stored(const QString& name) {
    QByteArray d;
    return store_->readBinary(HKEY_CURRENT_USER, kKey, name, d) == RegStatus::Ok ? d : QByteArray("<absent>");
  }
  // The first-start profile 0 with its reserved application list filled, so
  // each file is told apart.
  QByteArray usableImage(char fill, int version = 258) const {
    auto p = NewZeroImage<TMOUSEPROFILEINFO>();
    dm_->ReadProfileInfo(*p, 0);
    std::memset(p->ConfigInfo.ApplicationList, fill, sizeof p->ConfigInfo.ApplicationList);
    p->ProfileHeader.FFileVersion = version;
    return QByteArray(reinterpret_cast<const char*>(p.get()), kProfile);
  }
  QTemporaryDir root_;
  QString docs_;
  std::unique_ptr<platform::RegistryStore> store_;
  std::unique_ptr<TDM> dm_;
  FakeChooser chooser_;
};

}  // namespace

TEST_F(DialogTest, ImportTable) {
  const QString dir = root_.filePath("import") + "/";
  struct Case {
    const char* what;
    QString name;
    QByteArray bytes;     // null: no file
    bool imported;
    const char* message;  // part of what the user is told; nullptr: nothing
  };
  const QString refused = "The file \"" + QDir::toNativeSeparators(dir);
  const Case cases[] = {
      {"full 258 file", "full.pfd", usableImage('\x11'), true, nullptr},
      {"longer file is cut", "long.pfd", usableImage('\x22') + QByteArray(500, '\x22'), true, nullptr},
      {"wrong version", "v259.pfd", usableImage('\x33', 259), false,
       "v259.pfd\" was not imported: it is not a profile this program can use (ProfileHeader.FFileVersion holds 259)."},
      {"3 bytes", "tiny.pfd", QByteArray("\x02\x01\0", 3), false,
       "tiny.pfd\" was not imported: it holds 3 bytes, and a profile holds 109896."},
      {"empty", "empty.pfd", QByteArray(""), false, "empty.pfd\" was not imported: it holds 0 bytes"},
      {"short file", "short.pfd", profileImage('\x44', 1000), false, "it holds 1000 bytes"},
      {"missing", "missing.pfd", QByteArray(), false, "missing.pfd\" was not imported: it does not exist."},
      {"random bytes, version 258", "random.pfd", profileImage('\x44'), false,
       "(ConfigInfo.ButtonFuncInfo[0].FunctionIndex holds 17476)"},
      {"name of another profile", "profile2.PFD", usableImage('\x55'), false, "already used"},
      {"name of a settings value", "ALLPROFILE.pfd", usableImage('\x66'), false, "already used"},
      {"21 characters", "abcdefghijklmnopq.pfd", usableImage('\x77'), false, "at most 20 characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (!c.bytes.isNull()) putFile(dir + c.name, c.bytes);
    chooser_.answer = dir + c.name;
    chooser_.messages.clear();
    const QByteArray settingsBefore = settings();
    const QByteArray currentBefore = current();
    const QByteArray storedBefore = stored(dm_->CurrentStore()->FileName());
    EXPECT_EQ(LoadProfileFileDialog(*dm_, chooser_, root_.filePath("import")), c.imported);
    EXPECT_EQ(chooser_.openFolder, dir);
    if (c.message) {
      ASSERT_EQ(chooser_.messages.size(), 1);
      EXPECT_TRUE(chooser_.messages[0].contains(QString::fromUtf8(c.message))) << qPrintable(chooser_.messages[0]);
      if (QString::fromUtf8(c.message).contains("was not imported")) {
        EXPECT_TRUE(chooser_.messages[0].startsWith(refused)) << qPrintable(chooser_.messages[0]);
      }
    } else {
      EXPECT_TRUE(chooser_.messages.isEmpty()) << qPrintable(chooser_.messages.join('|'));
    }
    if (!c.imported) {
      EXPECT_EQ(settings(), settingsBefore);
      EXPECT_EQ(current(), currentBefore);
      EXPECT_EQ(stored(dm_->CurrentStore()->FileName()), storedBefore);
      continue;
    }
    EXPECT_EQ(current(), c.bytes.left(kProfile));
    EXPECT_EQ(stored(c.name), c.bytes.left(kProfile)) << "exactly one profile in the store";
    EXPECT_EQ(dm_->CurrentStore()->FileName(), c.name);
    EXPECT_EQ(fileBytes(dir + c.name), c.bytes) << "the file itself is not touched";
    const QByteArray g = stored("ProfileSettingGroup.pfd");
    const QByteArray name16(reinterpret_cast<const char*>(c.name.utf16()), c.name.size() * 2);
    EXPECT_EQ(g.mid(12 + 4098, name16.size()), name16);
  }
  chooser_.answer.clear();
  chooser_.messages.clear();
  EXPECT_FALSE(LoadProfileFileDialog(*dm_, chooser_, dir)) << "cancelled";
  EXPECT_TRUE(chooser_.messages.isEmpty()) << "a cancel says nothing";
}

TEST_F(DialogTest, ExportTable) {
  const QString dir = root_.filePath("export");
  QDir().mkpath(dir);
  putFile(root_.filePath("plainfile"), "x");
  dm_->FCurrentProfileInfo.ConfigInfo.ReportRate = 1000;  // not saved back: not exported
  const QByteArray expected = dm_->CurrentStore()->Stream();
  ASSERT_EQ(expected.size(), kProfile);
  struct Case {
    const char* what;
    QString path;
    bool ok;
  };
  const Case cases[] = {
      {"new file", dir + "/out.pfd", true},
      {"over an existing file, without a question", dir + "/out.pfd", true},
      {"unwritable place", root_.filePath("plainfile/out.pfd"), false},
  };
  putFile(dir + "/old.pfd", "old");
  // A left-over folder of an old permission probe blocks nothing.
  QDir().mkpath(dir + "/tmp2323");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    chooser_.answer = c.path;
    chooser_.messages.clear();
    EXPECT_EQ(SaveProfileFileDialog(*dm_, chooser_, dir), c.ok);
    EXPECT_EQ(chooser_.saveFolder, dir + "/");
    if (c.ok) {
      EXPECT_EQ(fileBytes(c.path), expected);
      EXPECT_TRUE(chooser_.messages.isEmpty());
    } else {
      EXPECT_EQ(chooser_.messages, QStringList{"No permission to save file!please change directory!"});
    }
  }
  EXPECT_EQ(QDir(dir).entryList(QDir::Files), (QStringList{"old.pfd", "out.pfd"})) << "nothing half-written";
  EXPECT_EQ(dm_->CurrentStore()->FileName(), "Profile1.pfd") << "the profile keeps its own file";
}

TEST_F(DialogTest, NewFileWritesDefaultsThenBinds) {
  ASSERT_TRUE(dm_->SwitchToProfile(2));
  dm_->FCurrentProfileInfo.ConfigInfo.ReportRate = 1000;
  dm_->SaveBackToCurrentProfileInfo();
  const QString path = docs_ + "/Profile/Fresh.pfd";
  chooser_.answer = path;
  ASSERT_TRUE(NewProfileFileDialog(*dm_, chooser_, docs_));
  const QByteArray f = fileBytes(path);
  ASSERT_EQ(f.size(), kProfile);
  EXPECT_EQ(f.mid(82980, 3), QByteArray("\xff\xff\x00", 3));
  uint16_t rate;
  std::memcpy(&rate, f.constData() + 860 + 71686, 2);
  EXPECT_EQ(rate, 125);
  EXPECT_EQ(stored("Fresh.pfd"), f);
  EXPECT_EQ(current(), f);

  // An unwritable place changes nothing.
  putFile(root_.filePath("plainfile"), "x");
  chooser_.answer = root_.filePath("plainfile/New.pfd");
  const QByteArray before = settings();
  EXPECT_FALSE(NewProfileFileDialog(*dm_, chooser_, docs_));
  EXPECT_EQ(settings(), before);
  EXPECT_EQ(dm_->CurrentStore()->FileName(), "Fresh.pfd");
}
