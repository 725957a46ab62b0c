// The udev notifier picks its event source by whether a udev daemon runs and
// either starts or says why not; no real device is needed.
#include "platform/UdevNotifier.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

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

// The sockets this process has open.
QSet<int> OpenSockets() {
  QSet<int> fds;
  for (const QString& name : QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::System)) {
    char target[64] = {};
    const QByteArray link = ("/proc/self/fd/" + name).toLocal8Bit();
    if (::readlink(link.constData(), target, sizeof target - 1) > 0 && std::strncmp(target, "socket:", 7) == 0)
      fds.insert(name.toInt());
  }
  return fds;
}

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

// The event socket fails while watched (here: it is replaced in place by a
// pipe whose writer is gone, so it hangs up): the owner is told once, no
// event handler runs any more, and a second start opens a new source.
TEST_F(UdevNotifierTest, FailedEventSocketIsToldAndStartedAgain) {
  platform::UdevNotifier notifier(dir_.filePath("no-control").toStdString());
  std::vector<std::string> lost;
  notifier.setLostHandler([&](const std::string& why) { lost.push_back(why); });
  const QSet<int> before = OpenSockets();
  std::string error;
  if (!notifier.start([](const platform::HidDeviceEvent&) {}, error)) GTEST_SKIP() << "no event source here: " << error;
  const QSet<int> opened = OpenSockets() - before;
  ASSERT_EQ(opened.size(), 1) << "cannot tell the event socket";
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  ::close(pipeFds[1]);
  ASSERT_GE(::dup3(pipeFds[0], *opened.begin(), O_CLOEXEC), 0);
  ::close(pipeFds[0]);

  ASSERT_TRUE(QTest::qWaitFor([&] { return !lost.empty(); }, 10000)) << "the failure was not told";
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0].rfind("the device event source failed", 0), 0u) << lost[0];
  QCoreApplication::processEvents();  // nothing more is told
  EXPECT_EQ(lost.size(), 1u);
  EXPECT_TRUE(notifier.start([](const platform::HidDeviceEvent&) {}, error)) << error;
  EXPECT_FALSE(notifier.start([](const platform::HidDeviceEvent&) {}, error));  // only once while it runs
}

}  // namespace
