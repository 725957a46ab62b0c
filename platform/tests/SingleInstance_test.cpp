#include "platform/SingleInstance.h"

#include "platform/tests/ChildProcess.h"

#include <QTemporaryDir>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

int childMain(const std::string& role) {
  platform::SingleInstance lock("TTessoldMain");
  if (role == "try") return static_cast<int>(lock.state());
  if (role == "hold") {
    if (!lock.held()) return 10;
    testchild::say("held");
    char c;
    while (::read(0, &c, 1) > 0) {
    }
    return 0;
  }
  return 99;
}
const bool kChildRole = testchild::runRoleIfAsked(childMain);

class SingleInstanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    const std::string base = tmp_.path().toStdString();
    ::setenv("HOME", base.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
    ::setenv("MOUSE_RUNTIME_DIR", (base + "/rt").c_str(), 1);
  }
  QTemporaryDir tmp_;
};

TEST_F(SingleInstanceTest, SecondProcessFailsWhileFirstHolds) {
  platform::SingleInstance first("TTessoldMain");
  ASSERT_TRUE(first.held());
  EXPECT_EQ(first.path(), tmp_.path().toStdString() + "/rt/TTessoldMain.lock");

  testchild::Child child;
  ASSERT_TRUE(child.start("try"));
  const int status = child.waitExit();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(platform::SingleInstance::State::HeldByOther));
}

TEST_F(SingleInstanceTest, ReleasedWithTheObject) {
  { platform::SingleInstance first("TTessoldMain"); ASSERT_TRUE(first.held()); }
  testchild::Child child;
  ASSERT_TRUE(child.start("try"));
  const int status = child.waitExit();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(platform::SingleInstance::State::Held));
}

TEST_F(SingleInstanceTest, KilledHolderNeverBlocksTheNextStart) {
  testchild::Child holder;
  ASSERT_TRUE(holder.start("hold"));
  ASSERT_EQ(holder.readLine(), "held");
  {
    platform::SingleInstance second("TTessoldMain");
    EXPECT_EQ(second.state(), platform::SingleInstance::State::HeldByOther);
  }
  ASSERT_EQ(::kill(holder.pid, SIGKILL), 0);
  const int status = holder.waitExit();
  ASSERT_TRUE(WIFSIGNALED(status));
  // The lock file is still there, left by the dead process; it must not matter.
  struct stat st {};
  ASSERT_EQ(::stat((tmp_.path().toStdString() + "/rt/TTessoldMain.lock").c_str(), &st), 0);
  platform::SingleInstance next("TTessoldMain");
  EXPECT_TRUE(next.held());
}

TEST_F(SingleInstanceTest, ProgramsLockIndependently) {
  platform::SingleInstance monitor("TTessoldMain");
  platform::SingleInstance config("TMarvaneMain");
  EXPECT_TRUE(monitor.held());
  EXPECT_TRUE(config.held());
}

TEST_F(SingleInstanceTest, NoRuntimeFolderFails) {
  // A runtime folder we cannot own: a regular file in its place.
  const std::string file = tmp_.path().toStdString() + "/notadir";
  FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ::setenv("MOUSE_RUNTIME_DIR", file.c_str(), 1);
  platform::SingleInstance lock("TTessoldMain");
  EXPECT_EQ(lock.state(), platform::SingleInstance::State::Failed);
}

}  // namespace
