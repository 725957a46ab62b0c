#include "platform/RuntimeDir.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(RuntimeDir, OverrideIsCreatedPrivate) {
  QTemporaryDir tmp;
  std::string want = tmp.path().toStdString() + "/rt";
  ::setenv("MOUSE_RUNTIME_DIR", want.c_str(), 1);
  EXPECT_EQ(platform::runtimeDir(), want);
  struct stat st {};
  ASSERT_EQ(::stat(want.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ::unsetenv("MOUSE_RUNTIME_DIR");
}

TEST(RuntimeDir, FolderUnderXdgRuntimeDir) {
  QTemporaryDir tmp;
  ::unsetenv("MOUSE_RUNTIME_DIR");
  ::setenv("XDG_RUNTIME_DIR", tmp.path().toLocal8Bit().constData(), 1);
  EXPECT_EQ(platform::runtimeDir(), tmp.path().toStdString() + "/gaming-mouse");
}

namespace {

enum class Existing { Nothing, OurFolder, OtherUsersFolder, File, LinkToOurFolder };

struct RuntimeRow {
  const char* name;
  Existing existing;
  mode_t mode;  // of an existing folder
  platform::RuntimeDirCheck::State state;
  const char* problem;  // part of the message, when refused
};

const RuntimeRow kRuntimeRows[] = {
    {"New", Existing::Nothing, 0, platform::RuntimeDirCheck::State::Ok, ""},
    {"OursPrivate", Existing::OurFolder, 0700, platform::RuntimeDirCheck::State::Ok, ""},
    {"OursWritableByAllIsNarrowed", Existing::OurFolder, 0777, platform::RuntimeDirCheck::State::Ok, ""},
    {"OursReadableByGroupIsNarrowed", Existing::OurFolder, 0750, platform::RuntimeDirCheck::State::Ok, ""},
    {"OursWithStickyBitIsNarrowed", Existing::OurFolder, 01777, platform::RuntimeDirCheck::State::Ok, ""},
    {"OtherUsersIsRefused", Existing::OtherUsersFolder, 0700, platform::RuntimeDirCheck::State::Refused,
     "belongs to user 65534"},
    {"FileIsRefused", Existing::File, 0, platform::RuntimeDirCheck::State::Refused, "is not a folder"},
    {"LinkIsRefused", Existing::LinkToOurFolder, 0, platform::RuntimeDirCheck::State::Refused, "is not a folder"},
};

}  // namespace

TEST(RuntimeDir, PrivateFolderIsMadeOrNarrowedAndAForeignOneRefused) {
  ::unsetenv("MOUSE_RUNTIME_DIR");
  const mode_t oldMask = ::umask(022);
  for (const RuntimeRow& row : kRuntimeRows) {
    SCOPED_TRACE(row.name);
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    ::setenv("XDG_RUNTIME_DIR", tmp.path().toLocal8Bit().constData(), 1);
    const std::string path = tmp.path().toStdString() + "/gaming-mouse";
    switch (row.existing) {
      case Existing::Nothing:
        break;
      case Existing::OurFolder:
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(path.c_str(), row.mode), 0);
        break;
      case Existing::OtherUsersFolder:
        if (::getuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
        ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
        ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
        break;
      case Existing::File:
        ASSERT_EQ(::close(::open(path.c_str(), O_WRONLY | O_CREAT, 0600)), 0);
        break;
      case Existing::LinkToOurFolder:
        ASSERT_EQ(::mkdir((path + "-real").c_str(), 0700), 0);
        ASSERT_EQ(::symlink((path + "-real").c_str(), path.c_str()), 0);
        break;
    }
    const platform::RuntimeDirCheck check = platform::checkRuntimeDir();
    EXPECT_EQ(check.state, row.state) << check.problem;
    EXPECT_EQ(check.path, path);
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    if (row.state == platform::RuntimeDirCheck::State::Ok) {
      EXPECT_EQ(platform::runtimeDir(), path);
      EXPECT_EQ(st.st_mode & 07777, 0700u);
      EXPECT_TRUE(check.problem.empty()) << check.problem;
    } else {
      EXPECT_EQ(platform::runtimeDir(), "");
      EXPECT_NE(check.problem.find(path), std::string::npos) << check.problem;
      EXPECT_NE(check.problem.find(row.problem), std::string::npos) << check.problem;
      if (row.existing == Existing::OtherUsersFolder) {
        EXPECT_EQ(st.st_mode & 07777, 0700u) << "not ours to change";
      }
    }
  }
  ::umask(oldMask);
}
