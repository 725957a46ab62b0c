#include "platform/ShellOpen.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "ShellOpen_test.h"

namespace {

class ShellOpenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = new QGuiApplication(argc_, argv_);
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }
  void SetUp() override {
    for (const char* scheme : {"file", "http", "https", "mailto"})
      QDesktopServices::setUrlHandler(scheme, &recorder_, "open");
  }
  void TearDown() override {
    for (const char* scheme : {"file", "http", "https", "mailto"}) QDesktopServices::unsetUrlHandler(scheme);
  }

  UrlRecorder recorder_;
  static inline int argc_ = 1;
  static inline char arg0_[8] = "test";
  static inline char* argv_[2] = {arg0_, nullptr};
  static inline QGuiApplication* app_ = nullptr;
};

TEST_F(ShellOpenTest, FileOpensAsLocalFileUrl) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/help 0409.pdf";
  EXPECT_TRUE(platform::openFile(path));
  ASSERT_EQ(recorder_.urls.size(), 1);
  EXPECT_TRUE(recorder_.urls[0].isLocalFile());
  EXPECT_EQ(recorder_.urls[0].toLocalFile(), path);
}

TEST_F(ShellOpenTest, AddressesPassAsGiven) {
  struct Case {
    const char* text;
    const char* url;
  } cases[] = {
      {"https://example.com/support", "https://example.com/support"},
      {"http://example.com/a?b=c%20d", "http://example.com/a?b=c%20d"},
      {"  mailto:help@example.com ", "mailto:help@example.com"},
  };
  for (const auto& c : cases) {
    recorder_.urls.clear();
    EXPECT_TRUE(platform::openAddress(c.text)) << c.text;
    ASSERT_EQ(recorder_.urls.size(), 1) << c.text;
    EXPECT_EQ(recorder_.urls[0].toString(QUrl::FullyEncoded), QString(c.url));
  }
}

TEST_F(ShellOpenTest, EmptyOrInvalidIsRefused) {
  EXPECT_FALSE(platform::openAddress(""));
  EXPECT_FALSE(platform::openAddress("http://exa mple.com/"));
  EXPECT_TRUE(recorder_.urls.isEmpty());
}

}  // namespace
