#include "platform/ProgramLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {
struct ProgramName {
  const char* windowsName;
  const char* executable;
};
// The one place that maps the Windows names to our executables.
constexpr ProgramName kPrograms[] = {
    {"tessold.exe", "tessold"},
    {"Marvane.exe", "Marvane"},
};

// Between fork and exec only async-signal-safe calls: the parent has threads.
[[noreturn]] void execClean(const char* path, const char* dir, char* const argv[], int errorPipe) {
  struct sigaction dflt {};
  dflt.sa_handler = SIG_DFL;
  sigemptyset(&dflt.sa_mask);
  for (int s = 1; s < NSIG; ++s)
    if (s != SIGKILL && s != SIGSTOP) sigaction(s, &dflt, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int error = 0;
  if (::chdir(dir) != 0)
    error = errno;
  else {
    ::execve(path, argv, environ);
    error = errno;
  }
  (void)!::write(errorPipe, &error, sizeof error);
  ::_exit(127);
}
}  // namespace

std::optional<QString> executableFor(std::string_view windowsName) {
  const QString wanted = QString::fromUtf8(windowsName.data(), static_cast<qsizetype>(windowsName.size()));
  for (const auto& p : kPrograms)
    if (wanted.compare(QLatin1String(p.windowsName), Qt::CaseInsensitive) == 0)
      return QString::fromLatin1(p.executable);
  return std::nullopt;
}

bool startDetachedClean(const QString& program, const QStringList& arguments, const QString& folder) {
  const QByteArray path = QFile::encodeName(program);
  const QByteArray dir = QFile::encodeName(folder);
  std::vector<QByteArray> args{path};
  for (const QString& a : arguments) args.push_back(a.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int errorPipe[2];
  if (::pipe2(errorPipe, O_CLOEXEC) != 0) return false;
  // Twice forked, so the program is no child of ours: nothing of ours has
  // to wait for it, and it outlives us.
  const pid_t middle = ::fork();
  if (middle == 0) {
    ::close(errorPipe[0]);
    const pid_t child = ::fork();
    if (child == 0) execClean(path.constData(), dir.constData(), argv.data(), errorPipe[1]);
    if (child < 0) {
      const int error = errno;
      (void)!::write(errorPipe[1], &error, sizeof error);
    }
    ::_exit(0);
  }
  ::close(errorPipe[1]);
  if (middle < 0) {
    ::close(errorPipe[0]);
    return false;
  }
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // The pipe closes at the program's exec; an errno arrives when it failed.
  int error = 0;
  ssize_t n;
  while ((n = ::read(errorPipe[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(errorPipe[0]);
  if (n > 0) {
    std::fprintf(stderr, "start %s: %s\n", path.constData(), std::strerror(error));
    return false;
  }
  return true;
}

bool startProgram(std::string_view windowsName, const QString& folder) {
  const auto exe = executableFor(windowsName);
  if (!exe) {
    std::fprintf(stderr, "start %.*s: not one of our programs\n", static_cast<int>(windowsName.size()),
                 windowsName.data());
    return false;
  }
  const QString dir = folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
  const QString program = QDir(dir).absoluteFilePath(*exe);
  return startDetachedClean(program, {}, dir);
}

}  // namespace platform
