#include "platform/RuntimeDir.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

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
