// The udev notifier picks its event source by whether a udev daemon runs and
// either starts or says why not; no real device is needed.
#include "platform/UdevNotifier.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

namespace {

class UdevNotifierTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char arg0[] = "UdevNotifier_test";
    static char* argv[] = {arg0, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }
  QTemporaryDir dir_;
};

TEST_F(UdevNotifierTest, FallsBackToKernelEventsWithoutDaemon) {
  platform::UdevNotifier notifier(dir_.filePath("no-control").toStdString());
  std::string error;
  const bool started = notifier.start([](const platform::HidDeviceEvent&) {}, error);
  EXPECT_TRUE(notifier.usesKernelEvents());
  if (!started) {
    EXPECT_FALSE(error.empty());  // e.g. netlink not allowed here
  }
  EXPECT_FALSE(notifier.start([](const platform::HidDeviceEvent&) {}, error));  // only once
}

TEST_F(UdevNotifierTest, UsesUdevEventsWhenDaemonRuns) {
  const QString control = dir_.filePath("control");
  QFile f(control);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  platform::UdevNotifier notifier(control.toStdString());
  std::string error;
  const bool started = notifier.start([](const platform::HidDeviceEvent&) {}, error);
  EXPECT_FALSE(notifier.usesKernelEvents());
  if (!started) {
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
