#include "macro/macrocreat.h"

#include "macro/tests/MacroTestSupport.h"

#include <QFile>
#include <QLineEdit>
#include <QTest>

namespace {

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class CreateMacro : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    SetMessageDialogAnswer([this](const QString& title, const QString&, const QString&) {
      messages_.push_back(title);
      return 1;
    });
  }
  void TearDown() override { SetMessageDialogAnswer({}); }

  // Types `name`, acts, and returns the result; the dialog is left open
  // (and then cancelled) when OK is refused.
  int run(const QString& name, const QString& folder, bool* stayedOpen = nullptr, bool enter = false) {
    WhenModal<TFrmCreat>([=](TFrmCreat* d) {
      d->TextboxMacroName->setText(name);
      if (enter) QTest::keyClick(d->TextboxMacroName, Qt::Key_Return);
      else d->BTNOK->click();
      if (stayedOpen) *stayedOpen = d->isVisible();
      if (d->isVisible()) d->BTNCANCEL->click();
    });
    return ShowCreateMacroDialog(name_, folder);
  }

  QTemporaryDir dir_;
  QString name_ = "stale";
  std::vector<QString> messages_;
};

TEST_F(CreateMacro, OkWritesAnEmptyMacroWithTheFormatVersion) {
  ASSERT_EQ(run("First", dir_.filePath("macros")), 1);  // the folder is made, one level
  EXPECT_EQ(name_, "First");
  QFile file(dir_.filePath("macros/First.macro"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  ASSERT_EQ(bytes.size(), 892);
  EXPECT_EQ(bytes.left(780), QByteArray(780, '\0'));
  EXPECT_EQ(bytes.mid(780, 12), QByteArray("F\0i\0r\0s\0t\0\0\0", 12));
  EXPECT_EQ(bytes.mid(880, 12), QByteArray("\x02\x01\0\0\0\0\0\0\0\0\0\0", 12));
}

TEST_F(CreateMacro, EnterInTheNameBoxIsOk) {
  EXPECT_EQ(run("ByEnter", dir_.path(), nullptr, true), 1);
  EXPECT_TRUE(QFile::exists(dir_.filePath("ByEnter.macro")));
}

TEST_F(CreateMacro, AnExistingFileIsLeftAsItIs) {
  QFile existing(dir_.filePath("Kept.macro"));
  ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
  existing.write("recorded content");
  existing.close();
  EXPECT_EQ(run("Kept", dir_.path()), 1);
  EXPECT_EQ(name_, "Kept");
  ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
  EXPECT_EQ(existing.readAll(), QByteArray("recorded content"));
}

TEST_F(CreateMacro, RefusedNamesAndFoldersKeepTheDialogOpen) {
  struct Case {
    const char* name;
    bool folder;
    size_t messages;
  };
  for (const Case& c : {Case{"", true, 0}, Case{"a/b", true, 0}, Case{"..", true, 0}, Case{"x", false, 1}}) {
    bool open = false;
    name_ = "stale";
    EXPECT_EQ(run(c.name, c.folder ? dir_.path() : QString(), &open), 2) << c.name;
    EXPECT_TRUE(open) << c.name;
    EXPECT_EQ(name_, "") << c.name;
    EXPECT_EQ(messages_.size(), c.messages) << c.name;
  }
  EXPECT_TRUE(QDir(dir_.path()).entryList(QDir::Files).isEmpty());
  // A folder that cannot be made: an error, and the dialog stays.
  bool open = false;
  EXPECT_EQ(run("y", dir_.filePath("no/such"), &open), 2);
  EXPECT_TRUE(open);
  EXPECT_EQ(messages_.size(), 2u);
}

TEST_F(CreateMacro, LongNamesAreCutToFiftyUnits) {
  const QString longName(60, QLatin1Char('n'));
  EXPECT_EQ(run(longName, dir_.path()), 1);
  EXPECT_EQ(name_, QString(50, QLatin1Char('n')));
  EXPECT_TRUE(QFile::exists(dir_.filePath(QString(50, QLatin1Char('n')) + ".macro")));
}

}  // namespace
