#include "platform/FilterDriverClient.h"

#include "platform/FilterDriverProtocol.h"
#include "platform/RuntimeDir.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

class FilterDriverClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    base_ = tmp_.path().toStdString();
    ::setenv("HOME", base_.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", base_.c_str(), 1);
    ::setenv("MOUSE_RUNTIME_DIR", (base_ + "/rt").c_str(), 1);
    ::setenv("MOUSE_DRIVER_DIR", (base_ + "/drv").c_str(), 1);
    ASSERT_EQ(::mkdir((base_ + "/drv").c_str(), 0700), 0);
  }
  void TearDown() override { ::unsetenv("MOUSE_DRIVER_DIR"); }

  QString writeIni(const char* text) {
    const QString path = tmp_.path() + "/config.ini";
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path;
  }

  QTemporaryDir tmp_;
  std::string base_;
};

// A driver stand-in: accepts one connection, reads `expect` bytes, answers
// with `reply` and closes; hands back what it read.
class OneShotServer {
 public:
  OneShotServer(const std::string& path, std::size_t expect, Bytes reply) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd_, 4) == 0;
    received_ = std::async(std::launch::async, [this, expect, reply] {
      Bytes got;
      int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return got;
      std::uint8_t buf[512];
      while (got.size() < expect) {
        pollfd p{c, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) break;
        const ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
      }
      if (!reply.empty()) (void)!::write(c, reply.data(), reply.size());
      ::close(c);
      return got;
    });
  }
  ~OneShotServer() { ::close(fd_); }
  bool ok() const { return ok_; }
  Bytes received() { return received_.get(); }

 private:
  int fd_ = -1;
  bool ok_ = false;
  std::future<Bytes> received_;
};

TEST_F(FilterDriverClientTest, DefaultNameWithoutConfig) {
  EXPECT_EQ(platform::FilterDriverClient::deviceNameFromConfig(tmp_.path() + "/none.ini"), "zovadrv00001");
  platform::FilterDriverClient client(
      platform::FilterDriverClient::deviceNameFromConfig(tmp_.path() + "/none.ini"));
  EXPECT_EQ(client.socketPath(), base_ + "/drv/zovadrv00001");
  ::unsetenv("MOUSE_DRIVER_DIR");
  platform::FilterDriverClient inRuntime("zovadrv00001");
  EXPECT_EQ(inRuntime.socketPath(), platform::runtimeDir() + "/zovadrv00001");
}

TEST_F(FilterDriverClientTest, NameFromConfig) {
  const QString ini = writeIni("[DEVICE]\r\nInfFileName=x.inf\r\nDeviceName=mydrv_2.0-a\r\n");
  platform::FilterDriverClient client(platform::FilterDriverClient::deviceNameFromConfig(ini));
  EXPECT_EQ(client.socketPath(), base_ + "/drv/mydrv_2.0-a");
}

TEST_F(FilterDriverClientTest, HostileNamesNeverLeaveTheFolder) {
  const std::string tooLong(120, 'a');
  for (const std::string name : {"", ".", "..", "../evil", "a/b", "/etc/passwd", "x..y", "name with space",
                                 "\xC3\xBC", "tab\t", tooLong.c_str()}) {
    platform::FilterDriverClient client(name);
    EXPECT_EQ(client.socketPath(), base_ + "/drv/zovadrv00001") << "name: " << name;
  }
  const QString ini = writeIni("[DEVICE]\nDeviceName=../../tmp/x\n");
  platform::FilterDriverClient fromIni(platform::FilterDriverClient::deviceNameFromConfig(ini));
  EXPECT_EQ(fromIni.socketPath(), base_ + "/drv/zovadrv00001");
}

TEST_F(FilterDriverClientTest, NotReadyWithoutADriver) {
  platform::FilterDriverClient client("zovadrv00001");
  std::uint8_t level[2] = {3, 0};
  EXPECT_EQ(client.deviceRW(level, 2, platform::kIoctlSetCurrentCpi), 21u);
  // A socket file nobody listens on refuses the connection: the same.
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, client.socketPath().c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(client.deviceRW(level, 2, platform::kIoctlSetCurrentCpi), 21u);
  ::close(fd);
  EXPECT_EQ(level[0], 3);
  EXPECT_EQ(level[1], 0);
}

TEST_F(FilterDriverClientTest, LevelRequestBytesAndReplyCopiedBack) {
  platform::FilterDriverClient client("zovadrv00001");
  // Status 0, three bytes of answer: only two may reach the 2-byte buffer.
  const Bytes reply = {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                       0x03, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0xCC};
  OneShotServer server(client.socketPath(), 18, reply);
  ASSERT_TRUE(server.ok());
  std::uint8_t buffer[4] = {0x03, 0x01, 0x77, 0x77};  // level 259, then a guard
  EXPECT_EQ(client.deviceRW(buffer, 2, platform::kIoctlSetCurrentCpi), 0u);
  const Bytes want = {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x01, 0x00, 0x0C, 0x80, 0x00, 0x80,
                      0x02, 0x00, 0x00, 0x00, 0x03, 0x01};
  EXPECT_EQ(server.received(), want);
  EXPECT_EQ(buffer[0], 0xAA);
  EXPECT_EQ(buffer[1], 0xBB);
  EXPECT_EQ(buffer[2], 0x77);
  EXPECT_EQ(buffer[3], 0x77);
}

TEST_F(FilterDriverClientTest, TableRequestAndShortAnswerWithStatus) {
  platform::FilterDriverClient client("zovadrv00001");
  // Status 31 (ERROR_GEN_FAILURE), one byte of answer.
  const Bytes reply = {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x02, 0x00, 0x1F, 0x00, 0x00, 0x00,
                       0x01, 0x00, 0x00, 0x00, 0x11};
  OneShotServer server(client.socketPath(), 16 + 238, reply);
  ASSERT_TRUE(server.ok());
  Bytes table(238);
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(client.deviceRW(table.data(), table.size(), platform::kIoctlSetCpiUnit), 31u);
  const Bytes got = server.received();
  ASSERT_EQ(got.size(), 16u + 238u);
  const Bytes header = {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x01, 0x00, 0x04, 0x80, 0x00, 0x80,
                        0xEE, 0x00, 0x00, 0x00};
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 16), header);
  for (std::size_t i = 0; i < 238; ++i) ASSERT_EQ(got[16 + i], static_cast<std::uint8_t>(i)) << i;
  EXPECT_EQ(table[0], 0x11);
  EXPECT_EQ(table[1], 1) << "the rest of the buffer is left as it was";
}

TEST_F(FilterDriverClientTest, BadOrMissingAnswers) {
  platform::FilterDriverClient client("zovadrv00001");
  client.setTimeout(300ms);
  std::uint8_t level[2] = {1, 0};
  struct Case {
    const char* what;
    Bytes reply;
    std::uint32_t status;
  } cases[] = {
      {"closed without answer", {}, 13},
      {"garbage", {'H', 'T', 'T', 'P', '/', '1', '.', '1', ' ', '2', '0', '0', ' ', 'O', 'K', '\n'}, 13},
      {"a request instead of a reply",
       {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 13},
      {"length over the bound",
       {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x10, 0x00, 0x00}, 13},
      {"cut short", {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x02, 0x00, 0x00}, 13},
  };
  for (const auto& c : cases) {
    ::unlink(client.socketPath().c_str());
    OneShotServer server(client.socketPath(), 18, c.reply);
    ASSERT_TRUE(server.ok());
    EXPECT_EQ(client.deviceRW(level, 2, platform::kIoctlSetCurrentCpi), c.status) << c.what;
    server.received();
    EXPECT_EQ(level[0], 1) << c.what;
  }
  std::uint8_t big[platform::kDriverMaxPayload + 1] = {};
  EXPECT_EQ(client.deviceRW(big, sizeof big, platform::kIoctlSetCpiUnit), 87u);
}

TEST_F(FilterDriverClientTest, HungDriverTimesOut) {
  platform::FilterDriverClient client("zovadrv00001");
  client.setTimeout(200ms);
  // Listens but never accepts nor answers.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, client.socketPath().c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  std::uint8_t level[2] = {1, 0};
  EXPECT_EQ(client.deviceRW(level, 2, platform::kIoctlSetCurrentCpi), 1460u);
  ::close(fd);
}

TEST(FilterDriverProtocol, CodesAndParserEdges) {
  EXPECT_EQ(platform::ctlCode(0x8000, 0x2001, 0, 0), 0x80008004u);
  EXPECT_EQ(platform::ctlCode(0x8000, 0x2003, 0, 0), 0x8000800Cu);
  platform::DriverFrame f;
  std::size_t used = 0;
  const Bytes frame = {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x01, 0x00, 0x0C, 0x80, 0x00, 0x80,
                       0x02, 0x00, 0x00, 0x00, 0x05, 0x00, 'x'};
  for (std::size_t n = 1; n < 18; ++n)
    EXPECT_EQ(platform::parseDriverFrame(std::span(frame).first(n), f, used), platform::DriverParse::NeedMore) << n;
  ASSERT_EQ(platform::parseDriverFrame(frame, f, used), platform::DriverParse::Complete);
  EXPECT_EQ(used, 18u);
  EXPECT_EQ(f.kind, platform::DriverFrameKind::Request);
  EXPECT_EQ(f.value, 0x8000800Cu);
  EXPECT_EQ(f.payload, (Bytes{0x05, 0x00}));
  EXPECT_EQ(platform::encodeDriverFrame(f.kind, f.value, f.payload), Bytes(frame.begin(), frame.begin() + 18));
  const Bytes wrongStart = {'Z', 'X'};
  EXPECT_EQ(platform::parseDriverFrame(wrongStart, f, used), platform::DriverParse::Bad);
  Bytes version2 = frame;
  version2[4] = 2;
  EXPECT_EQ(platform::parseDriverFrame(version2, f, used), platform::DriverParse::Bad);
  Bytes kind3 = frame;
  kind3[6] = 3;
  EXPECT_EQ(platform::parseDriverFrame(kind3, f, used), platform::DriverParse::Bad);
}

}  // namespace
