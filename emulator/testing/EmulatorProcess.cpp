#include "emulator/testing/EmulatorProcess.h"

#include "platform/FilterDriverProtocol.h"
#include "platform/testing/StopProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace emulator::testing {

EmulatorProcess::EmulatorProcess() : EmulatorProcess(Options{}) {}
EmulatorProcess::EmulatorProcess(Options options) : options_(std::move(options)) {}
EmulatorProcess::~EmulatorProcess() { stop(); }

std::string EmulatorProcess::executable() { return MOUSE_EMULATOR_EXE; }

bool EmulatorProcess::uhidUsable(std::string& why) {
  const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    why = std::string("no usable /dev/uhid: ") + std::strerror(errno);
    return false;
  }
  ::close(fd);
  return true;
}

void EmulatorProcess::exportEnvironment() const {
  ::setenv("MOUSE_EMULATOR", socketPath_.c_str(), 1);
  ::setenv("MOUSE_DRIVER_DIR", dir_.c_str(), 1);
}

void EmulatorProcess::exportDriverEnvironment() const {
  ::unsetenv("MOUSE_EMULATOR");
  ::setenv("MOUSE_DRIVER_DIR", dir_.c_str(), 1);
}

bool EmulatorProcess::start() {
  if (running()) return true;
  error_.clear();
  std::string dir = options_.directory;
  if (dir.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/mouse-emu-XXXXXX";
    if (!::mkdtemp(tmpl.data())) {
      error_ = std::string("mkdtemp: ") + std::strerror(errno);
      return false;
    }
    dir = ownDir_ = tmpl;
  }
  dir_ = dir;
  socketPath_ = dir + "/mouse.sock";
  driverSocketPath_ = platform::driverSocketPath(platform::kDefaultDriverDeviceName, dir);

  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  // Everything the child needs is built before fork: after it, only
  // async-signal-safe calls.
  const std::string exe = executable();
  std::vector<std::string> args = {exe, "--socket", socketPath_, "serve", "--mice",
                                   std::to_string(options_.mice), "--driver-dir", dir};
  if (options_.blank) args.push_back("--blank");
  if (options_.uhid) args.push_back("--uhid");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();

  const pid_t pid = ::fork();
  if (pid < 0) {
    error_ = std::string("fork: ") + std::strerror(errno);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return false;
  }
  if (pid == 0) {
    // The emulator must not outlive a test that crashed.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  pid_ = pid;
  stdoutFd_ = pipeFds[0];

  // Wait for the MOUSE_EMULATOR line: it comes once the socket listens.
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    if (out.find('\n') != std::string::npos) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      error_ = "mouse-emulator did not start in time";
      stop();
      return false;
    }
    pollfd p{stdoutFd_, POLLIN, 0};
    const int r = ::poll(&p, 1, int(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) continue;
    char buf[512];
    const ssize_t n = ::read(stdoutFd_, buf, sizeof buf);
    if (n <= 0) {
      error_ = "mouse-emulator ended before serving (see its messages above)";
      stop();
      return false;
    }
    out.append(buf, std::size_t(n));
  }
  const std::string expected = "MOUSE_EMULATOR=" + socketPath_ + "\n";
  if (out.rfind(expected, 0) != 0) {
    error_ = "unexpected first line from mouse-emulator: " + out;
    stop();
    return false;
  }
  // One call at once: it proves the program answers, and a client that has
  // spoken keeps its place when other connections crowd the socket.
  int mice = 0;
  if (!client_.connect(socketPath_, error_) || !client_.deviceCount(mice, error_)) {
    stop();
    return false;
  }
  return true;
}

bool EmulatorProcess::suspend() { return platform_test::StopChild(pid_); }
bool EmulatorProcess::resume() { return pid_ > 0 && ::kill(pid_, SIGCONT) == 0; }

void EmulatorProcess::stop() {
  client_ = ControlClient();
  if (pid_ > 0) {
    // A frozen program would keep the termination pending.
    ::kill(pid_, SIGCONT);
    ::kill(pid_, SIGTERM);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
  if (stdoutFd_ >= 0) ::close(stdoutFd_);
  stdoutFd_ = -1;
  if (!ownDir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(ownDir_, ec);
    ownDir_.clear();
  }
}

ControlClient& EmulatorProcess::client() {
  // A control connection dropped by a time-out is made again on next use.
  if (!client_.connected() && running()) {
    std::string e;
    client_.connect(socketPath_, e);
  }
  return client_;
}

std::vector<uint8_t> EmulatorProcess::peek(uint16_t address, uint32_t length, int device) {
  std::vector<uint8_t> out;
  if (!client().peek(device, address, length, out, error_)) out.clear();
  return out;
}

bool EmulatorProcess::poke(uint16_t address, std::span<const uint8_t> bytes, int device) {
  return client().poke(device, address, bytes, error_);
}
bool EmulatorProcess::press(int button, int device) {
  return client().press(device, button, error_);
}
bool EmulatorProcess::dpi(int level, int device) { return client().dpi(device, level, error_); }
bool EmulatorProcess::mode(int slot, int device) { return client().mode(device, slot, error_); }
bool EmulatorProcess::rawInput(std::span<const uint8_t> report, int device) {
  return client().rawInput(device, report, error_);
}
bool EmulatorProcess::unplug(int device) { return client().unplug(device, error_); }
bool EmulatorProcess::plug(int device) { return client().plug(device, error_); }
bool EmulatorProcess::failNext(uint32_t count, int device) {
  return client().failNext(device, count, error_);
}
bool EmulatorProcess::reset(bool blank, int device) {
  return client().reset(device, blank, error_);
}

std::vector<platform::emu::LogEntry> EmulatorProcess::wireLog() {
  std::vector<platform::emu::LogEntry> out;
  if (!client().log(out, error_)) out.clear();
  return out;
}

bool EmulatorProcess::clearLog() { return client().clearLog(error_); }

std::vector<std::vector<uint8_t>> EmulatorProcess::sentReports(int device) {
  std::vector<std::vector<uint8_t>> out;
  for (auto& e : wireLog())
    if (e.device == device && e.direction == platform::emu::Direction::SetFeature)
      out.push_back(std::move(e.bytes));
  return out;
}

std::vector<DriverRequest> EmulatorProcess::driverLog() {
  std::vector<DriverRequest> out;
  if (!client().driverLog(out, error_)) out.clear();
  return out;
}

std::optional<std::array<uint8_t, 5>> EmulatorProcess::led(int device) {
  std::optional<std::array<uint8_t, 5>> out;
  if (!client().led(device, out, error_)) out.reset();
  return out;
}

std::vector<CommandRecord> EmulatorProcess::commands(int device) {
  std::vector<CommandRecord> out;
  if (!client().commands(device, out, error_)) out.clear();
  return out;
}

std::optional<bool> EmulatorProcess::input(const platform::emu::InputEvent& event,
                                           std::optional<uint32_t> time) {
  platform::emu::InputEvent e = event;
  if (time) e.time = *time;
  bool swallowed = false;
  if (!client().inputEvent(e, time.has_value(), swallowed, error_)) return std::nullopt;
  return swallowed;
}

std::optional<bool> EmulatorProcess::key(uint32_t vk, bool down, std::optional<uint32_t> time,
                                         bool injected, bool extended) {
  platform::emu::InputEvent e;
  e.kind = platform::emu::InputKind::Key;
  e.code = uint16_t(vk);
  e.down = down;
  e.injected = injected;
  e.extended = extended;
  return input(e, time);
}

std::optional<bool> EmulatorProcess::wheel(int delta, std::optional<uint32_t> time, bool injected) {
  platform::emu::InputEvent e;
  e.kind = platform::emu::InputKind::Wheel;
  e.delta = int16_t(delta);
  e.injected = injected;
  return input(e, time);
}

std::optional<bool> EmulatorProcess::button(int button, bool down, std::optional<uint32_t> time,
                                            bool injected) {
  platform::emu::InputEvent e;
  e.kind = platform::emu::InputKind::Button;
  e.code = uint16_t(button);
  e.down = down;
  e.injected = injected;
  return input(e, time);
}

std::vector<platform::emu::InputEvent> EmulatorProcess::inputLog() {
  std::vector<platform::emu::InputEvent> out;
  if (!client().inputLog(out, error_)) out.clear();
  return out;
}

bool EmulatorProcess::awaitHooks(bool keyboard, bool mouse) {
  const uint8_t kinds = uint8_t((keyboard ? platform::emu::kHookKeyboard : 0) |
                                (mouse ? platform::emu::kHookMouse : 0));
  return client().awaitHooks(kinds, error_);
}

}  // namespace emulator::testing
