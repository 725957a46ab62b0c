// How the real programs start and what the processes they start inherit:
// the configurator the monitor starts ends on SIGTERM, a program opened
// through the file opener does not inherit our choice of Qt platform, and
// without a display each program says in one line what is missing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "emulator/testing/EmulatorProcess.h"
#include "platform/FilterDriverProtocol.h"
#include "platform/MessageChannel.h"
#include "platform/testing/QtTestEnvironment.h"
#include "tests/e2e/RealProgram.h"
#include "tests/e2e/UserFolders.h"

namespace {

using e2e::Program;
using e2e::ReadFile;
using e2e::SetVariable;
using e2e::WriteFile;

MOUSE_QT_TEST_ENVIRONMENT(QCoreApplication);

constexpr int kBoundMs = Program::kBoundMs;
constexpr char kMouseId[] = "HID\\VID_1209&PID_0001&REV_0100&Col02";

// The line of /proc/<pid>/status that starts with `field` ("SigBlk:"), its value.
std::string StatusField(pid_t pid, const char* field) {
  const QByteArray status = ReadFile(QStringLiteral("/proc/%1/status").arg(pid));
  for (const QByteArray& line : status.split('\n'))
    if (line.startsWith(field)) return line.mid(qsizetype(std::strlen(field))).trimmed().toStdString();
  return {};
}

// The process whose executable is `exe`, if one runs.
std::optional<pid_t> ProcessOf(const QString& exe) {
  const QString wanted = QFileInfo(exe).canonicalFilePath();
  for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool number = false;
    const int pid = entry.toInt(&number);
    if (!number) continue;
    if (QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid)) == wanted &&
        StatusField(pid, "State:").rfind("Z", 0) != 0)
      return pid_t(pid);
  }
  return std::nullopt;
}

// Both real programs in one program folder, the user's folders and one
// emulated mouse, all in a temporary folder.
class ProgramStart : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    root_ = QDir(tmp_.path());
    root_.mkpath("program");
    e2e::PointUserFoldersAt(root_);
    ::unsetenv("MOUSE_PROGRAM_DIR");

    const QDir program(root_.filePath("program"));
    for (const auto& [from, name] : {std::pair{TESSOLD_EXE, "tessold"}, std::pair{MARVANE_EXE, "Marvane"}}) {
      ASSERT_TRUE(QFile::copy(QString::fromUtf8(from), program.filePath(name)));
      QFile(program.filePath(name)).setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    if (QFile::exists(QStringLiteral(MOUSE_PROGRAM_DIR "/libuiHook.so")))
      QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/libuiHook.so"), program.filePath("libuiHook.so"));
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), program.filePath("Images"));
    QFile::link(QStringLiteral(MOUSE_PROGRAM_DIR "/Images"), program.filePath("images"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(MOUSE_PROGRAM_DIR "/ui.local"), program.filePath("ui.local")));
    ASSERT_TRUE(WriteFile(program.filePath("config.ini"), QByteArray("[IncludeHIDDeviceList]\r\nid1=") + kMouseId + "\r\n"));

    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    mouse_.exportEnvironment();
  }

  QString Exe(const char* name) const { return QDir(root_.filePath("program")).filePath(name); }

  int CpiTables() {
    int n = 0;
    for (auto& r : mouse_.driverLog()) n += r.code == platform::kIoctlSetCpiUnit;
    return n;
  }

  QTemporaryDir tmp_;
  QDir root_;
  emulator::testing::EmulatorProcess mouse_;
};

// The monitor ends on SIGTERM through its own handling; the configurator it
// starts when the mouse comes back must not inherit any of that: it starts
// with no signal blocked and ends on SIGTERM like any program.
TEST_F(ProgramStart, ConfiguratorStartedOnReplugEndsOnSigterm) {
  Program monitor(Exe("tessold"), root_.filePath("tessold.err"));
  ASSERT_TRUE(monitor.spawned());
  // Start-up ran to its end: the table at start and the one for the mouse found.
  ASSERT_TRUE(monitor.waitReadyOrExit([&] { return CpiTables() >= 2; }, kBoundMs)) << monitor.errors().toStdString();
  EXPECT_EQ(StatusField(monitor.pid(), "SigBlk:"), "0000000000000000");

  ASSERT_TRUE(mouse_.unplug()) << mouse_.lastError();
  ASSERT_TRUE(mouse_.plug()) << mouse_.lastError();
  std::optional<pid_t> configurator;
  ASSERT_TRUE(monitor.waitReadyOrExit(
      [&] { return (configurator = ProcessOf(Exe("Marvane"))) && platform::find(platform::kConfiguratorClass); },
      kBoundMs))
      << monitor.errors().toStdString();

  EXPECT_EQ(StatusField(*configurator, "SigBlk:"), "0000000000000000");
  // Signals 32 and 33 belong to the C library's threads; no program can set them.
  const auto ignored = std::stoull(StatusField(*configurator, "SigIgn:"), nullptr, 16) & ~0x180000000ull;
  EXPECT_EQ(ignored, 0u) << StatusField(*configurator, "SigIgn:");
  const int pidfd = int(::syscall(SYS_pidfd_open, *configurator, 0));
  ASSERT_GE(pidfd, 0);
  ::kill(*configurator, SIGTERM);
  pollfd p{pidfd, POLLIN, 0};
  const bool ended = ::poll(&p, 1, kBoundMs) == 1;
  if (!ended) ::kill(*configurator, SIGKILL);
  ::close(pidfd);
  EXPECT_TRUE(ended) << "the configurator did not end on SIGTERM";

  monitor.terminate();
  ASSERT_TRUE(monitor.waitExit(kBoundMs));
  EXPECT_TRUE(WIFEXITED(*monitor.status()) && WEXITSTATUS(*monitor.status()) == 0) << monitor.errors().toStdString();
}

// With nothing to show windows on, each program ends with status 1 and one
// line that names what is missing, before Qt gets to abort.
TEST_F(ProgramStart, WithoutADisplayEachProgramSaysWhatIsMissing) {
  struct Row {
    const char* name;
    std::vector<std::pair<const char*, const char*>> env;  // nullptr removes
    const char* missing;
  };
  const Row rows[] = {
      {"no display at all", {}, "no X display"},
      {"Wayland session without XWayland",
       {{"XDG_SESSION_TYPE", "wayland"}, {"WAYLAND_DISPLAY", "wayland-test"}},
       "XWayland"},
      {"DISPLAY names no X server", {{"DISPLAY", ":7391"}}, "cannot open the X display \":7391\""},
  };
  for (const Row& row : rows) {
    for (const char* name : {"tessold", "Marvane"}) {
      SCOPED_TRACE(std::string(row.name) + ", " + name);
      std::vector<std::string> env = e2e::OffscreenEnvironment();
      for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"})
        SetVariable(env, v, std::nullopt);
      for (const auto& [k, v] : row.env) SetVariable(env, k, std::string(v));
      Program p(Exe(name), root_.filePath(QStringLiteral("%1.err").arg(name)), env);
      ASSERT_TRUE(p.spawned());
      ASSERT_TRUE(p.waitExit(kBoundMs));
      const QString err = p.errors();
      EXPECT_TRUE(WIFEXITED(*p.status()) && WEXITSTATUS(*p.status()) == 1)
          << "status " << *p.status() << "\n" << err.toStdString();
      const QStringList lines = err.split(u'\n', Qt::SkipEmptyParts);
      ASSERT_EQ(lines.size(), 1) << err.toStdString();
      EXPECT_TRUE(lines[0].startsWith(QString::fromLatin1(name) + ": ")) << lines[0].toStdString();
      EXPECT_TRUE(lines[0].contains(QString::fromLatin1(row.missing))) << lines[0].toStdString();
    }
  }
}

// Under Wayland with XWayland the programs run as X clients; a browser or
// another Qt program that the file opener starts chooses its own platform.
TEST_F(ProgramStart, FileOpenersChildDoesNotInheritOurPlatformChoice) {
  const char* display = std::getenv("TEST_X_DISPLAY");
  if (!display) {
    if (std::getenv("CI")) FAIL() << "TEST_X_DISPLAY is not set under CI";
    GTEST_SKIP() << "no TEST_X_DISPLAY";
  }
  // A stand-in for the desktop's opener on PATH: it writes what it got into
  // a FIFO that the test reads, so the test waits on the opener itself.
  const QDir bin(root_.filePath("bin"));
  root_.mkpath("bin");
  const QByteArray fifo = QFile::encodeName(root_.filePath("opener"));
  ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
  // Read-write, so opening never blocks and the FIFO never reports an end.
  const int fd = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(WriteFile(bin.filePath("xdg-open"),
                        "#!/bin/sh\n{ env; grep -E '^Sig(Blk|Ign):' /proc/$$/status; echo END; } > '" + fifo + "'\n"));
  ASSERT_TRUE(QFile(bin.filePath("xdg-open"))
                  .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

  std::vector<std::string> env = e2e::OffscreenEnvironment();
  SetVariable(env, "QT_QPA_PLATFORM", std::nullopt);
  SetVariable(env, "XDG_CURRENT_DESKTOP", std::nullopt);
  SetVariable(env, "XDG_SESSION_TYPE", std::string("wayland"));
  SetVariable(env, "WAYLAND_DISPLAY", std::string("wayland-test"));
  SetVariable(env, "DISPLAY", std::string(display));
  SetVariable(env, "PATH", bin.path().toStdString() + ":" + std::string(std::getenv("PATH") ? std::getenv("PATH") : ""));
  // Qt's xcb platform has libxkbcommon-x11 strndup() names out of X replies
  // that hold no NUL inside their buffer: within its length, but ASan's
  // strict string checks take it for an overflow and end the program.
  SetVariable(env, "ASAN_OPTIONS",
              std::string(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "") + ":strict_string_checks=0");
  const QString document = root_.filePath("manual.txt");
  ASSERT_TRUE(WriteFile(document, "help\n"));
  SetVariable(env, "OPEN_PROBE_FILE", document.toStdString());

  Program probe(QStringLiteral(OPEN_PROBE_EXE), root_.filePath("probe.err"), env);
  ASSERT_TRUE(probe.spawned());
  ASSERT_TRUE(probe.waitExit(kBoundMs));
  EXPECT_TRUE(WIFEXITED(*probe.status()) && WEXITSTATUS(*probe.status()) == 0) << probe.errors().toStdString();
  // The opener runs detached: read its record, each wait bounded.
  QByteArray got;
  while (!got.endsWith("END\n")) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kBoundMs) != 1) break;
    char buf[4096];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) got.append(buf, n);
  }
  ::close(fd);
  ASSERT_TRUE(got.endsWith("END\n")) << "the opener was not started\n" << probe.errors().toStdString();
  const QList<QByteArray> lines = got.split('\n');
  EXPECT_FALSE(lines.contains(QByteArray("QT_QPA_PLATFORM=xcb"))) << got.toStdString();
  EXPECT_TRUE(lines.contains(QByteArray("WAYLAND_DISPLAY=wayland-test"))) << got.toStdString();
  EXPECT_TRUE(lines.contains(QByteArray("SigBlk:\t0000000000000000"))) << got.toStdString();
}

}  // namespace
