#pragma once
// Shared pieces of the monitor's tests: a private pulseaudio daemon and a
// fake configurator that records the messages it receives.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "emulator/testing/WireSummary.h"
#include "platform/MessageChannel.h"
#include "platform/testing/PulseDaemon.h"

extern char** environ;

namespace monitor_test {

using platform_test::Pactl;
using platform_test::PulseDaemon;

inline QString MicMute() { return Pactl({"get-source-mute", "test_mic"}); }

// The monitor's level-read frames on the wire, `frames` of them, each
// pausing at least 50 ms after its opening and before its closing.
inline void ExpectLevelReadPauses(const std::vector<emulator::testing::Transfer>& transfers, std::size_t frames) {
  std::string trace;
  for (const auto& t : transfers) trace += t.what + "@" + std::to_string(t.ms) + " ";
  SCOPED_TRACE(trace);
  const auto found = emulator::testing::LevelReadFrames(transfers);
  ASSERT_EQ(found.size(), frames);
  for (const auto& f : found) {
    EXPECT_GE(f.openToRead, 50.0) << "frame at " << f.at;
    EXPECT_GE(f.readToClose, 50.0) << "frame at " << f.at;
  }
}

// The configurator's socket served by hand: records every frame's message.
class FakeConfigurator {
 public:
  bool start() {
    const std::string path = platform::messageSocketPath(platform::kConfiguratorClass);
    if (path.empty()) return false;
    ::unlink(path.c_str());
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 16) != 0) return false;
    if (::pipe2(stop_, O_CLOEXEC) != 0) return false;
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  // Stops listening: the configurator is then not running.
  void stop() {
    if (thread_.joinable()) {
      (void)!::write(stop_[1], "x", 1);
      thread_.join();
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(platform::messageSocketPath(platform::kConfiguratorClass).c_str());
  }
  ~FakeConfigurator() {
    stop();
    for (int fd : {stop_[0], stop_[1]})
      if (fd >= 0) ::close(fd);
  }
  std::vector<uint32_t> messages() {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  int count(uint32_t message) {
    int n = 0;
    for (uint32_t m : messages()) n += m == message;
    return n;
  }

 private:
  void Run() {
    for (;;) {
      pollfd p[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
      if (p[1].revents) return;
      if (!(p[0].revents & POLLIN)) continue;
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      uint8_t buf[platform::kMessageFrameSize];
      size_t have = 0;
      while (have < sizeof buf) {
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 2000) != 1) break;
        const ssize_t n = ::read(c, buf + have, sizeof buf - have);
        if (n <= 0) break;
        have += size_t(n);
      }
      platform::MessageFrame f;
      if (have == sizeof buf && platform::parseMessageFrame(buf, f)) {
        std::lock_guard lock(mutex_);
        messages_.push_back(f.message);
      }
      ::close(c);
    }
  }
  int fd_ = -1;
  int stop_[2] = {-1, -1};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<uint32_t> messages_;
};

}  // namespace monitor_test
