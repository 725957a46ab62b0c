#include "platform/ProgramLauncher.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(ProgramLauncher, MapsTheTwoWindowsNamesOnly) {
  EXPECT_EQ(platform::executableFor("tessold.exe"), QString("tessold"));
  EXPECT_EQ(platform::executableFor("TESSOLD.EXE"), QString("tessold"));
  EXPECT_EQ(platform::executableFor("Marvane.exe"), QString("Marvane"));
  EXPECT_EQ(platform::executableFor("marvane.exe"), QString("Marvane"));
  for (const char* other : {"", "tessold", "cmd.exe", "../tessold.exe", "tessold.exe "})
    EXPECT_FALSE(platform::executableFor(other).has_value()) << other;
  EXPECT_FALSE(platform::startProgram("cmd.exe", "/bin"));
}

// A stub "tessold" in a temporary program folder writes its working folder
// into a FIFO the test reads, so the test waits on the start itself.
TEST(ProgramLauncher, StartsTheStubDetachedInItsFolder) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString fifo = dir.path() + "/started";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  // Read-write, so opening never blocks and the FIFO never reports an end.
  const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  QFile stub(dir.path() + "/tessold");
  ASSERT_TRUE(stub.open(QIODevice::WriteOnly));
  stub.write(QByteArray("#!/bin/sh\necho \"$(pwd) $#\" > '") + QFile::encodeName(fifo) + "'\n");
  stub.close();
  ASSERT_TRUE(stub.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

  ASSERT_TRUE(platform::startProgram("tessold.exe", dir.path()));
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 20000), 1);
  char buf[4096];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  ASSERT_GT(n, 0);
  EXPECT_EQ(QString::fromLocal8Bit(buf, n).trimmed(), dir.path() + " 0");
  ::close(fd);
}

TEST(ProgramLauncher, MissingExecutableFails) {
  QTemporaryDir dir;
  EXPECT_FALSE(platform::startProgram("Marvane.exe", dir.path()));
}

TEST(ProgramLauncher, DefaultsToTheRunningProgramsFolder) {
  int argc = 1;
  char arg0[] = "/nonexistent-folder/test";
  char* argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  // No tessold beside this test binary: the start fails, and says so.
  EXPECT_FALSE(platform::startProgram("tessold.exe"));
}

}  // namespace
