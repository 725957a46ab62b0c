#include "bench/Desk.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "device/DMUnit.h"
#include "platform/RegistryStore.h"
#include "platform/UserFolders.h"

extern char** environ;

namespace bench {

std::string programFolder() { return BENCH_PROGRAM_DIR; }

bool Desk::start(bool pulse, std::string& error) {
  if (!dir_.isValid()) {
    error = "no temporary folder";
    return false;
  }
  root_ = dir_.path().toStdString();
  QDir root(dir_.path());
  for (const char* d : {"home/Documents", "config", "data", "cache", "run"}) root.mkpath(d);
  ::chmod((root_ + "/run").c_str(), 0700);
  ::setenv("HOME", (root_ + "/home").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (root_ + "/cache").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
  ::setenv("MOUSE_RUNTIME_DIR", (root_ + "/run").c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  if (!mouse_.start()) {
    error = "emulated mouse: " + mouse_.lastError();
    return false;
  }
  mouse_.exportEnvironment();
  if (pulse) {
    if (!pulse_.start(root_)) {
      error = pulse_.why();
      return false;
    }
    pulseStarted_ = true;
  } else {
    ::setenv("PULSE_SERVER", ("unix:" + root_ + "/no-pulse").c_str(), 1);
  }
  return true;
}

Desk::~Desk() {
  if (pulseStarted_) pulse_.stop();
  mouse_.stop();
}

bool Desk::storeButtonFunction(int index, uint16_t function, std::string& error) {
  auto store = platform::openSqliteRegistryStore(platform::defaultRegistryStorePath());
  if (!store) {
    error = "no store";
    return false;
  }
  TDM dm(TDMEnvironment{store.get(), QString::fromStdString(programFolder()), platform::documentsFolder()});
  dm.InitData();
  dm.FCurrentProfileInfo.ConfigInfo.ButtonFuncInfo[index].FunctionIndex = function;
  dm.SaveBackToCurrentProfileInfo();
  const TStoreStatus reg = dm.SaveCurrentProfileInfoToRegistry();
  const TStoreStatus file = dm.SaveCurrentProfileInfoToFile();
  if (!reg || !file) {
    error = "saving the profile failed: " + (reg.Error + file.Error).toStdString();
    return false;
  }
  return true;
}

bool Child::start(const std::string& name, const std::string& log, std::string& error) {
  const std::string path = programFolder() + "/" + name;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  started_ = Clock::now();
  const int rc = ::posix_spawn(&pid_, path.c_str(), &fa, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) {
    pid_ = -1;
    error = "cannot start " + path;
    return false;
  }
  return true;
}

bool Child::running() {
  if (pid_ <= 0) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

void Child::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
}

bool socketAccepts(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto rank = std::size_t(std::ceil(p / 100.0 * double(values.size())));
  return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

}  // namespace bench
