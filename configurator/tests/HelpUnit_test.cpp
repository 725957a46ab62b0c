#include "configurator/HelpUnit.h"
#include "toolkit/testing/ModalWait.h"

#include <gtest/gtest.h>

#include <QFile>
#include "toolkit/ImageDataBaseUnit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "toolkit/uiLanguage.h"
#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

// Stands in for the desktop: records what it is asked to open.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.append(url); }
};

using HelpFiles = std::vector<std::pair<std::u16string, std::u16string>>;

TEST(HelpFiles, LookupByLanguageThenEnglish) {
  const HelpFiles files = {{u"0409", u"help/en.pdf"}, {u"0804", u"help/cn.pdf"}};
  struct Case {
    const char* lang;
    const HelpFiles* table;
    const char* expected;
  } cases[] = {
      {"0804", &files, "help/cn.pdf"},
      {"0419", &files, "help/en.pdf"},  // no Russian entry: the English one
      {"", &files, "help/en.pdf"},
  };
  for (const Case& c : cases) EXPECT_EQ(HelpFileValue(*c.table, c.lang), c.expected) << c.lang;
  EXPECT_EQ(HelpFileValue({{u"0804", u"x"}}, "0419"), "");  // neither: nothing to open
  EXPECT_EQ(HelpFileValue({}, "0409"), "");
}

TEST(HelpFiles, ExistingFilesOpenAsFilesEverythingElseAsWritten) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QDir().mkpath(dir.filePath("help"));
  QFile f(dir.filePath("help/manual.pdf"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  struct Case {
    const char* value;
    bool isFile;
    QString target;
  } cases[] = {
      {"help/manual.pdf", true, dir.filePath("help/manual.pdf")},
      {"help\\manual.pdf", true, dir.filePath("help/manual.pdf")},
      {"help/missing.pdf", false, "help/missing.pdf"},
      {"https://www.example.com/manual", false, "https://www.example.com/manual"},
      {"help", false, "help"},  // a folder is not a help file
  };
  for (const Case& c : cases) {
    const THelpTarget t = HelpTarget(dir.path(), c.value);
    EXPECT_EQ(t.IsFile, c.isFile) << c.value;
    EXPECT_EQ(t.Value, c.target) << c.value;
  }
}

TEST(HelpFiles, WebLinkGetsHttpOnlyWithoutAScheme) {
  const std::pair<const char*, const char*> cases[] = {
      {"www.example.com", "http://www.example.com"},
      {"http://www.example.com", "http://www.example.com"},
      {"HTTP://WWW.EXAMPLE.COM", "HTTP://WWW.EXAMPLE.COM"},
      {"https://www.example.com", "https://www.example.com"},
      {"HTTPS://x", "HTTPS://x"},
  };
  for (auto [in, out] : cases) EXPECT_EQ(WebLinkAddress(in), out) << in;
}

TEST(HelpWindow, LinksOpenThroughTheDesktopAndABackgroundClickClosesAndFrees) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile f(dir.filePath("manual.pdf"));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  UrlRecorder recorder;
  for (const char* scheme : {"file", "http", "https"}) QDesktopServices::setUrlHandler(scheme, &recorder, "open");

  TuiLanguage language(nullptr, dir.filePath("none.local"));
  language.SetLang("0419");
  QPointer<THelpForm> seen;
  WhenModal<THelpForm>([&](THelpForm* form) {
    seen = form;
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->size(), QSize(574, 638));
    EXPECT_TRUE(seen->findChild<QLabel*>("LabelContactInfo")->isHidden());
    QTest::mouseClick(seen->lbl2983, Qt::LeftButton);
    QTest::mouseClick(seen->lblwebsite, Qt::LeftButton);
    EXPECT_TRUE(seen->isVisible());  // links are not the background
    QTest::mouseClick(seen, Qt::LeftButton, {}, QPoint(300, 600));
  });
  const int result = ShowHelpForm(language, dir.path(), {{u"0409", u"manual.pdf"}});
  EXPECT_EQ(result, 2);
  EXPECT_TRUE(seen.isNull());  // freed when it closed
  ASSERT_EQ(recorder.urls.size(), 2);
  EXPECT_EQ(recorder.urls[0], QUrl::fromLocalFile(dir.filePath("manual.pdf")));
  EXPECT_EQ(recorder.urls[1].toString(), "http://www.example.com");
  for (const char* scheme : {"file", "http", "https"}) QDesktopServices::unsetUrlHandler(scheme);
}

}  // namespace

#include "HelpUnit_test.moc"
