// The socket server run in-process: single instance, socket mode, protocol
// errors, version check, notifications kept apart from replies, and a wire
// log longer than one frame.

#include "emulator/ControlClient.h"
#include "emulator/EmulatorServer.h"
#include "platform/FilterDriverProtocol.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace emulator;

namespace {

class EmulatorServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    path = dir.filePath("mouse.sock").toStdString();
    driverPath = dir.filePath("zovadrv00001").toStdString();
    server.setDriverSocket(driverPath);
    std::string error;
    ASSERT_TRUE(server.start(path, error)) << error;
  }
  // Connects to the driver socket, sends bytes, returns all it answers.
  std::vector<uint8_t> driverExchange(const std::vector<uint8_t>& bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, driverPath.c_str());
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    ::shutdown(fd, SHUT_WR);
    std::vector<uint8_t> out;
    uint8_t buf[1024];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) out.insert(out.end(), buf, buf + n);
    ::close(fd);
    return out;
  }
  // A raw connection to a socket of the server, or -1.
  int rawConnect(const std::string& to) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, to.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  std::unique_ptr<emu::Connection> connect() {
    std::string error;
    auto c = emu::Connection::connect(path, error);
    EXPECT_TRUE(c) << error;
    return c;
  }

  QTemporaryDir dir;
  std::string path;
  std::string driverPath;
  EmulatorServer server;
};

}  // namespace

TEST_F(EmulatorServerTest, OneServerPerSocketAndOwnerOnlyMode) {
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  EmulatorServer second;
  std::string error;
  EXPECT_FALSE(second.start(path, error));
  EXPECT_NE(error.find("already serves"), std::string::npos) << error;
  // The refused second server left the first one's socket alone.
  auto c = connect();
  ASSERT_TRUE(c);
  emu::Connection::Reply reply;
  ASSERT_TRUE(c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error));
  EXPECT_EQ(reply.status, emu::Status::Ok);
}

TEST_F(EmulatorServerTest, StaleSocketOfADeadServerIsReplaced) {
  server.stop();
  // A socket file nobody serves, as a crash would leave it.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);
  std::string error;
  EmulatorServer again;
  ASSERT_TRUE(again.start(path, error)) << error;
  EXPECT_TRUE(connect());
}

TEST_F(EmulatorServerTest, AnswersBadRequestsAndOtherVersionsWithoutDying) {
  auto c = connect();
  ASSERT_TRUE(c);
  std::string error;
  emu::Connection::Reply reply;
  // Unknown endpoint, unknown operation, truncated and overlong payloads.
  ASSERT_TRUE(c->call(emu::Endpoint::FilterDriver, 1, {}, reply, error));
  EXPECT_EQ(reply.status, emu::Status::BadRequest);
  ASSERT_TRUE(c->call(emu::Endpoint::Control, 99, {}, reply, error));
  EXPECT_EQ(reply.status, emu::Status::BadRequest);
  const uint8_t shortPeek[] = {0, 0x40};
  ASSERT_TRUE(c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Peek), shortPeek, reply,
                      error));
  EXPECT_EQ(reply.status, emu::Status::BadRequest);
  const uint8_t longPlug[] = {0, 1};
  ASSERT_TRUE(c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Plug), longPlug, reply,
                      error));
  EXPECT_EQ(reply.status, emu::Status::BadRequest);
  const uint8_t noMouse[] = {5};
  ASSERT_TRUE(c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Unplug), noMouse, reply,
                      error));
  EXPECT_EQ(reply.status, emu::Status::NoSuchDevice);
  // A transfer on a handle this connection never opened.
  const uint8_t get[] = {7, 0, 0, 0, 2, 16, 0};
  ASSERT_TRUE(c->call(emu::Endpoint::Hid, uint8_t(emu::HidOp::GetFeature), get, reply, error));
  EXPECT_EQ(reply.status, emu::Status::NoSuchHandle);

  // A frame of version 2 is answered, not misread.
  auto frame = emu::encodeFrame(emu::Kind::Request, 2, 1, 0, 77, {});
  frame[2] = 2;
  ASSERT_EQ(::send(c->fd(), frame.data(), frame.size(), MSG_NOSIGNAL), ssize_t(frame.size()));
  ASSERT_TRUE(c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error));
  EXPECT_EQ(reply.status, emu::Status::Ok) << "the version-2 reply (seq 77) is not taken for this";

  // Garbage ends that connection only.
  const uint8_t junk[16] = {'G', 'E', 'T', ' ', '/'};
  ASSERT_EQ(::send(c->fd(), junk, sizeof junk, MSG_NOSIGNAL), ssize_t(sizeof junk));
  EXPECT_FALSE(c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error));
  auto fresh = connect();
  ASSERT_TRUE(fresh);
  ASSERT_TRUE(
      fresh->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error));
  EXPECT_EQ(reply.payload, std::vector<uint8_t>{1});
}

TEST_F(EmulatorServerTest, NotificationsNeverPassForReplies) {
  auto c = connect();
  ASSERT_TRUE(c);
  std::string error;
  emu::Connection::Reply reply;
  const uint8_t dev = 0;
  ASSERT_TRUE(c->call(emu::Endpoint::Hid, uint8_t(emu::HidOp::Open), std::span(&dev, 1), reply,
                      error));
  ASSERT_EQ(reply.status, emu::Status::Ok);
  ASSERT_TRUE(c->call(emu::Endpoint::Hid, uint8_t(emu::HidOp::WatchDevices), {}, reply, error));
  // In-process control while the client waits on its own call.
  ASSERT_EQ(server.hub().press(0, 2), emu::Status::Ok);
  ASSERT_EQ(server.hub().unplug(0), emu::Status::Ok);
  ASSERT_TRUE(c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error));
  EXPECT_EQ(reply.payload, std::vector<uint8_t>{1});

  std::vector<uint8_t> ops;
  emu::Frame f;
  while (c->nextNotification(f, 2000) == emu::Connection::Wait::Frame) {
    EXPECT_EQ(f.header.kind, emu::Kind::Notification);
    ops.push_back(f.header.op);
    if (f.header.op == uint8_t(emu::HidOp::DeviceRemoved)) break;
  }
  EXPECT_EQ(ops, (std::vector<uint8_t>{uint8_t(emu::HidOp::InputReport),
                                       uint8_t(emu::HidOp::InputReport),
                                       uint8_t(emu::HidOp::InputEnded),
                                       uint8_t(emu::HidOp::DeviceRemoved)}));
}

TEST_F(EmulatorServerTest, WireLogLongerThanOneFrameComesWhole) {
  // 40 refused 4096-byte reports: far more than one reply carries.
  auto c = connect();
  ASSERT_TRUE(c);
  std::string error;
  emu::Connection::Reply reply;
  const uint8_t dev = 0;
  ASSERT_TRUE(c->call(emu::Endpoint::Hid, uint8_t(emu::HidOp::Open), std::span(&dev, 1), reply,
                      error));
  std::vector<uint8_t> big(4096, 0);
  big[0] = 6;
  big[1] = 0x55;
  for (int i = 0; i < 40; ++i) {
    emu::PayloadWriter w;
    w.u32(1).blob16(big);
    ASSERT_TRUE(c->call(emu::Endpoint::Hid, uint8_t(emu::HidOp::SetFeature), w.data(), reply,
                        error));
    EXPECT_EQ(reply.status, emu::Status::Stalled);
  }
  ControlClient control;
  ASSERT_TRUE(control.connect(path, error)) << error;
  std::vector<emu::LogEntry> log;
  ASSERT_TRUE(control.log(log, error)) << error;
  ASSERT_EQ(log.size(), 40u);
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(log[i].serial, i + 1);
    EXPECT_EQ(log[i].bytes, big);
  }
  ASSERT_TRUE(control.clearLog(error));
  ASSERT_TRUE(control.log(log, error));
  EXPECT_TRUE(log.empty());
}

TEST_F(EmulatorServerTest, ResetRestoresTheFactoryImageOrBlanks) {
  MouseHub& hub = server.hub();
  const uint8_t one = 1;
  ASSERT_EQ(hub.poke(0, 64, std::span(&one, 1)), emu::Status::Ok);
  ASSERT_EQ(hub.failNext(0, 5), emu::Status::Ok);
  ASSERT_EQ(hub.reset(0, true), emu::Status::Ok);
  std::vector<uint8_t> out;
  ASSERT_EQ(hub.peek(0, 64, 10, out), emu::Status::Ok);
  EXPECT_EQ(out, std::vector<uint8_t>(10, 0));
  ASSERT_EQ(hub.reset(0, false), emu::Status::Ok);
  ASSERT_EQ(hub.peek(0, 72, 2, out), emu::Status::Ok);
  EXPECT_EQ(out, (std::vector<uint8_t>{4, 1}));
  EXPECT_EQ(hub.peek(0, 65535, 2, out), emu::Status::OutOfRange);
}

TEST_F(EmulatorServerTest, FilterDriverAnswersOneRequestPerConnection) {
  struct stat st {};
  ASSERT_EQ(::stat(driverPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Request: "ZDRV", version 1, kind 1, code 0x8000800C, 2 bytes 01 00.
  const std::vector<uint8_t> request = {'Z', 'D', 'R', 'V', 1, 0, 1, 0, 0x0C, 0x80, 0x00, 0x80,
                                        2, 0, 0, 0, 0x01, 0x00};
  const std::vector<uint8_t> reply = {'Z', 'D', 'R', 'V', 1, 0, 2, 0, 0, 0, 0, 0,
                                      2, 0, 0, 0, 0x01, 0x00};
  EXPECT_EQ(driverExchange(request), reply);
  // Garbage and a reply-kind frame are dropped unanswered and unrecorded.
  EXPECT_TRUE(driverExchange({'G', 'E', 'T', ' ', '/', ' ', 'H', 'T', 'T', 'P', '/', '1', '.', '1',
                              '\r', '\n'})
                  .empty());
  auto wrongKind = request;
  wrongKind[6] = 2;
  EXPECT_TRUE(driverExchange(wrongKind).empty());
  const auto log = server.hub().driverLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].code, 0x8000800Cu);
  EXPECT_EQ(log[0].bytes, (std::vector<uint8_t>{0x01, 0x00}));
  server.hub().clearLog();
  EXPECT_TRUE(server.hub().driverLog().empty());
}

// A frame begun and never finished is dropped at its short deadline, on the
// mouse's socket and on the driver's; a client that sent whole frames and
// then idles keeps its connection.
TEST_F(EmulatorServerTest, AnUnfinishedFrameIsDroppedAtItsDeadline) {
  auto idle = connect();
  ASSERT_TRUE(idle);
  std::string error;
  emu::Connection::Reply reply;
  ASSERT_TRUE(idle->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error));

  // The first four bytes of a frame of each socket.
  const std::vector<uint8_t> mouseHead = {0x45, 0x4D, 0x01, 0x01};
  const std::vector<uint8_t> driverHead = {'Z', 'D', 'R', 'V'};
  for (const auto& [to, head] : {std::pair(path, mouseHead), std::pair(driverPath, driverHead)}) {
    const int fd = rawConnect(to);
    ASSERT_GE(fd, 0) << to;
    ASSERT_EQ(::send(fd, head.data(), head.size(), MSG_NOSIGNAL), ssize_t(head.size()));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1) << to << ": still open after 10 s";
    char c;
    EXPECT_LE(::recv(fd, &c, 1, 0), 0) << to;
    ::close(fd);
  }
  ASSERT_TRUE(idle->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error))
      << error;
  EXPECT_EQ(reply.payload, std::vector<uint8_t>{1});
}
