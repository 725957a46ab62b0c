#pragma once
// One Qt application object for a whole test program, on the offscreen
// platform unless the run names another, with HOME, the XDG folders and the
// runtime folder pointed at one temporary folder, so that no test ever reads
// or writes a real user's settings, profiles or sockets.
//
// Use: MOUSE_QT_TEST_ENVIRONMENT(QApplication);  (or QGuiApplication,
// QCoreApplication), or derive to add work after start-up or before the end.

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

template <class App>
class QtTestEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    home_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(home_->isValid());
    const QString root = home_->path();
    for (const char* sub : {"config", "data", "cache", "runtime"}) QDir(root).mkpath(QString::fromLatin1(sub));
    qputenv("HOME", root.toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (root + "/data").toUtf8());
    qputenv("XDG_CACHE_HOME", (root + "/cache").toUtf8());
    qputenv("XDG_RUNTIME_DIR", (root + "/runtime").toUtf8());
    qputenv("MOUSE_RUNTIME_DIR", (root + "/runtime").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<App>(argc_, argv_);
    Started();
  }

  void TearDown() override {
    Ending();
    // Widgets closed by the last test are deleted before the application goes.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    app_.reset();
    home_.reset();
  }

  QString HomePath() const { return home_ ? home_->path() : QString(); }

 protected:
  virtual void Started() {}
  virtual void Ending() {}

 private:
  std::unique_ptr<QTemporaryDir> home_;
  int argc_ = 1;
  char name_[8] = "test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<App> app_;
};

#define MOUSE_QT_TEST_ENVIRONMENT(App)                                          \
  [[maybe_unused]] static ::testing::Environment* const kMouseQtTestEnvironment = \
      ::testing::AddGlobalTestEnvironment(new QtTestEnvironment<App>)
