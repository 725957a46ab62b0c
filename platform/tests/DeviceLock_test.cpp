// The cross-process device lock: held against other holders, also in another
// process, and free again once released.
#include "platform/DeviceLock.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>

namespace {

class DeviceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    qputenv("MOUSE_RUNTIME_DIR", dir_.filePath("run").toUtf8());
  }
  // Whether a child process can take the lock at once.
  static bool childCanTake(const std::string& path) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::string error;
      const auto lock = platform::DeviceLock::tryAcquire(path, error);
      ::_exit(lock.held() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  QTemporaryDir dir_;
};

TEST_F(DeviceLockTest, ExcludesOtherHoldersUntilReleased) {
  std::string error;
  auto lock = platform::DeviceLock::acquire("/dev/hidraw3", error);
  ASSERT_TRUE(lock.held()) << error;
  EXPECT_FALSE(childCanTake("/dev/hidraw3"));
  EXPECT_FALSE(platform::DeviceLock::tryAcquire("/dev/hidraw3", error).held());
  EXPECT_TRUE(childCanTake("/dev/hidraw4"));  // another device is another lock

  platform::DeviceLock moved = std::move(lock);
  EXPECT_FALSE(lock.held());
  EXPECT_TRUE(moved.held());
  EXPECT_FALSE(childCanTake("/dev/hidraw3"));
  moved.release();
  EXPECT_TRUE(childCanTake("/dev/hidraw3"));
}

TEST_F(DeviceLockTest, FileNamesAreSafeAndDistinct) {
  EXPECT_EQ(platform::DeviceLock::lockFileName("/dev/hidraw0"), "hid-_2fdev_2fhidraw0.lock");
  EXPECT_NE(platform::DeviceLock::lockFileName("a/b"), platform::DeviceLock::lockFileName("a_b"));
  EXPECT_EQ(platform::DeviceLock::lockFileName("../..").find('/'), std::string::npos);
  EXPECT_LE(platform::DeviceLock::lockFileName(std::string(1000, '/')).size(), 205u);
}

TEST_F(DeviceLockTest, NoRuntimeFolderIsAnErrorNotAHang) {
  qputenv("MOUSE_RUNTIME_DIR", dir_.filePath("missing/deeper").toUtf8());
  std::string error;
  EXPECT_FALSE(platform::DeviceLock::acquire("/dev/hidraw0", error).held());
  EXPECT_FALSE(error.empty());
}

}  // namespace
