#include "platform/MessageChannel.h"
#include "platform/testing/EndpointThread.h"
#include "platform/testing/StalledPeers.h"

#include "platform/RuntimeDir.h"
#include "platform/SingleInstance.h"
#include "platform/tests/ChildProcess.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

using namespace std::chrono_literals;
using platform::MessageEndpoint;

namespace {

// Child role "receiver": a second program listening as TMarvaneMain; answers
// wParam + lParam, quits on WM_CLOSE_CONFIG with exit code 7.
int childMain(const std::string& role) {
  if (role != "receiver") return 99;
  int argc = 1;
  char arg0[] = "receiver";
  char* argv[] = {arg0, nullptr};
  QCoreApplication app(argc, argv);
  platform::SingleInstance lock(platform::kConfiguratorClass);
  if (!lock.held()) return 10;
  MessageEndpoint endpoint;
  int code = 0;
  const bool ok = endpoint.listen(lock, platform::kConfiguratorClass,
                                  [&](std::uint32_t msg, std::int64_t w, std::int64_t l) -> std::int64_t {
                                    if (msg == platform::WM_CLOSE_CONFIG) {
                                      code = 7;
                                      QCoreApplication::quit();
                                      return 0;
                                    }
                                    return w + l;
                                  });
  if (!ok) return 11;
  testchild::say("ready");
  app.exec();
  return code;
}
const bool kChildRole = testchild::runRoleIfAsked(childMain);

// Qt needs one application object for the process; offscreen, no display.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app_ = new QGuiApplication(argc_, argv_);
  }
  void TearDown() override { delete app_; }

 private:
  int argc_ = 1;
  char arg0_[8] = "test";
  char* argv_[2] = {arg0_, nullptr};
  QGuiApplication* app_ = nullptr;
};
const auto* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

using ReceiverThread = platform_test::EndpointThread;

class MessageChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.isValid());
    const std::string base = tmp_.path().toStdString();
    ::setenv("HOME", base.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", base.c_str(), 1);
    ::setenv("MOUSE_RUNTIME_DIR", (base + "/rt").c_str(), 1);
    ASSERT_FALSE(platform::runtimeDir().empty());
  }
  std::string socketPath(const char* name) const { return tmp_.path().toStdString() + "/rt/" + name; }

  // A raw client connection to name, for frames no sender of ours would write.
  int rawConnect(const char* name) const {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = socketPath(name);
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  QTemporaryDir tmp_;
};

// A valid send frame written by hand: message 7035 (0x1B7B), sequence 5,
// wParam 1, lParam -2.
const std::vector<std::uint8_t> kSendFrame = {
    'M', 'M', 'S', 'G', 0x01, 0x00, 0x02, 0x00, 0x7B, 0x1B, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,
    0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

TEST(MessageFrame, ParsesHandWrittenFrame) {
  platform::MessageFrame f;
  ASSERT_TRUE(platform::parseMessageFrame(kSendFrame, f));
  EXPECT_EQ(f.kind, platform::FrameKind::Send);
  EXPECT_EQ(f.message, 7035u);
  EXPECT_EQ(f.sequence, 5u);
  EXPECT_EQ(f.param1, 1);
  EXPECT_EQ(f.param2, -2);
  std::uint8_t out[platform::kMessageFrameSize];
  platform::encodeMessageFrame(f, out);
  EXPECT_EQ(std::vector<std::uint8_t>(out, out + sizeof out), kSendFrame);
}

TEST(MessageFrame, RefusesMalformedFrames) {
  struct Case {
    const char* what;
    std::size_t offset;
    std::uint8_t value;
  } cases[] = {
      {"magic", 0, 'X'},        {"version", 4, 0x02},     {"kind 0", 6, 0x00},
      {"kind 4", 6, 0x04},      {"reserved", 7, 0x01},    {"message 0x1_1B7B", 10, 0x01},
  };
  for (const auto& c : cases) {
    auto bytes = kSendFrame;
    bytes[c.offset] = c.value;
    platform::MessageFrame f;
    EXPECT_FALSE(platform::parseMessageFrame(bytes, f)) << c.what;
  }
  auto zero = kSendFrame;
  zero[8] = zero[9] = 0;
  platform::MessageFrame f;
  EXPECT_FALSE(platform::parseMessageFrame(zero, f)) << "message 0";
  EXPECT_FALSE(platform::parseMessageFrame(std::span(kSendFrame).first(31), f)) << "short";
  auto longer = kSendFrame;
  longer.push_back(0);
  EXPECT_FALSE(platform::parseMessageFrame(longer, f)) << "long";
}

TEST_F(MessageChannelTest, SendReturnsAfterTheHandlerWithItsResult) {
  std::promise<void> entered, release;
  auto releaseFuture = release.get_future().share();
  std::atomic<bool> handlerReturned{false};
  ReceiverThread receiver("TTessoldMain", [&](std::uint32_t msg, std::int64_t w, std::int64_t l) {
    EXPECT_EQ(msg, platform::WM_PROFILE_CHANGED);
    entered.set_value();
    releaseFuture.wait();
    handlerReturned = true;
    return w * 10 + l;
  });
  ASSERT_TRUE(receiver.ok());
  EXPECT_TRUE(platform::find("TTessoldMain"));

  auto result = std::async(std::launch::async, [&] {
    const auto r = platform::send("TTessoldMain", platform::WM_PROFILE_CHANGED, 1, 3);
    return std::make_pair(r, handlerReturned.load());
  });
  ASSERT_EQ(entered.get_future().wait_for(20s), std::future_status::ready);
  // The handler is blocked: the sender must still be waiting.
  EXPECT_EQ(result.wait_for(200ms), std::future_status::timeout);
  release.set_value();
  const auto [value, returnedBefore] = result.get();
  EXPECT_EQ(value, 13);
  EXPECT_TRUE(returnedBefore);
}

TEST_F(MessageChannelTest, PostReturnsWithoutWaiting) {
  std::promise<void> release;
  auto releaseFuture = release.get_future().share();
  std::promise<std::tuple<std::uint32_t, std::int64_t, std::int64_t>> seen;
  ReceiverThread receiver("TMarvaneMain", [&](std::uint32_t msg, std::int64_t w, std::int64_t l) {
    releaseFuture.wait();
    seen.set_value({msg, w, l});
    return std::int64_t{0};
  });
  ASSERT_TRUE(receiver.ok());
  // The handler cannot finish until we release it, so post must not wait for it.
  EXPECT_TRUE(platform::post("TMarvaneMain", platform::WM_CLOSE_CONFIG, 0, 0));
  release.set_value();
  auto f = seen.get_future();
  ASSERT_EQ(f.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(f.get(), std::make_tuple(platform::WM_CLOSE_CONFIG, std::int64_t{0}, std::int64_t{0}));
}

TEST_F(MessageChannelTest, AbsentPeer) {
  EXPECT_FALSE(platform::find("TTessoldMain"));
  EXPECT_FALSE(platform::post("TTessoldMain", platform::WM_CLOSE_CONFIG));
  EXPECT_FALSE(platform::trySend("TTessoldMain", platform::WM_PROFILE_CHANGED).has_value());
  EXPECT_EQ(platform::send("TTessoldMain", platform::WM_PROFILE_CHANGED), 0);
  // A socket file left behind by a crashed program is not a peer either.
  {
    platform::SingleInstance lock("TTessoldMain");
    MessageEndpoint gone;
    ASSERT_TRUE(gone.listen(lock, "TTessoldMain", {}));
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, socketPath("TTessoldMain").c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::close(fd);  // bound, never listening: what a crash leaves
  EXPECT_FALSE(platform::find("TTessoldMain"));
}

TEST_F(MessageChannelTest, HungPeerTimesOut) {
  // Listens but never accepts nor answers: the kernel takes the frame.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, socketPath("TTessoldMain").c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform::trySend("TTessoldMain", platform::WM_PROFILE_CHANGED, 0, 0, 300ms).has_value());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_EQ(platform::send("TTessoldMain", platform::WM_PROFILE_CHANGED, 0, 0, 100ms), 0);
  ::close(fd);
}

TEST_F(MessageChannelTest, MalformedFrameIsDroppedAndServingGoesOn) {
  std::atomic<int> calls{0};
  ReceiverThread receiver("TTessoldMain", [&](std::uint32_t, std::int64_t w, std::int64_t) {
    ++calls;
    return w;
  });
  ASSERT_TRUE(receiver.ok());
  auto reply = kSendFrame;
  reply[6] = 3;
  auto badMagic = kSendFrame;
  badMagic[0] = 'X';
  auto tooLong = kSendFrame;
  tooLong.insert(tooLong.end(), kSendFrame.begin(), kSendFrame.end());
  const std::vector<std::uint8_t> cut(kSendFrame.begin(), kSendFrame.begin() + 20);
  const std::vector<const std::vector<std::uint8_t>*> frames = {&badMagic, &reply, &tooLong, &cut};
  for (const auto* bytes : frames) {
    int fd = rawConnect("TTessoldMain");
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes->data(), bytes->size()), static_cast<ssize_t>(bytes->size()));
    if (bytes == &cut) ::shutdown(fd, SHUT_WR);
    // The receiver closes the connection without an answer (an end, or a
    // reset when it left bytes unread).
    char c;
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1);
    EXPECT_LE(::read(fd, &c, 1), 0);
    ::close(fd);
  }
  EXPECT_EQ(calls.load(), 0);
  EXPECT_EQ(platform::send("TTessoldMain", platform::WM_LANGUAGE_CHANGED, 42), 42);
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(MessageChannelTest, HandWrittenSendGetsHandWrittenReply) {
  ReceiverThread receiver("TTessoldMain", [](std::uint32_t, std::int64_t w, std::int64_t l) { return w - l; });
  ASSERT_TRUE(receiver.ok());
  int fd = rawConnect("TTessoldMain");
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, kSendFrame.data(), kSendFrame.size()), 32);
  std::vector<std::uint8_t> got(32);
  std::size_t have = 0;
  while (have < got.size()) {
    const ssize_t r = ::read(fd, got.data() + have, got.size() - have);
    ASSERT_GT(r, 0);
    have += static_cast<std::size_t>(r);
  }
  ::close(fd);
  // Reply, same message and sequence, result 1 - (-2) = 3.
  const std::vector<std::uint8_t> want = {
      'M', 'M', 'S', 'G', 0x01, 0x00, 0x03, 0x00, 0x7B, 0x1B, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,
      0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(got, want);
}

TEST_F(MessageChannelTest, CrossedSendsDoNotDeadlock) {
  // The monitor's handler sends back to the configurator while the
  // configurator is blocked in its own send to the monitor.
  ReceiverThread monitor("TTessoldMain", [](std::uint32_t, std::int64_t w, std::int64_t) {
    return platform::send("TMarvaneMain", platform::WM_RELOAD_CURRENT_PROFILE, w, 0, 5s) + 1;
  });
  ASSERT_TRUE(monitor.ok());
  platform::SingleInstance lock("TMarvaneMain");
  MessageEndpoint config;
  ASSERT_TRUE(config.listen(lock, "TMarvaneMain", [](std::uint32_t msg, std::int64_t w, std::int64_t) {
    return msg == platform::WM_RELOAD_CURRENT_PROFILE ? w * 2 : -1;
  }));
  EXPECT_EQ(platform::trySend("TTessoldMain", platform::WM_PROFILE_CHANGED, 20, 0, 5s), 41);
}

TEST_F(MessageChannelTest, OnlyTheLockHolderListensAndReplacesAStaleSocket) {
  platform::SingleInstance holder("TMarvaneMain");
  platform::SingleInstance other("TMarvaneMain");
  ASSERT_TRUE(holder.held());
  ASSERT_FALSE(other.held());
  const std::string path = socketPath("TMarvaneMain");
  FILE* stale = std::fopen(path.c_str(), "w");
  ASSERT_NE(stale, nullptr);
  std::fclose(stale);

  MessageEndpoint intruder;
  EXPECT_FALSE(intruder.listen(other, "TMarvaneMain", {}));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode)) << "a non-holder must not touch the file";
  platform::SingleInstance monitorLock("TTessoldMain");
  EXPECT_FALSE(intruder.listen(monitorLock, "TMarvaneMain", {})) << "the lock of another program";

  {
    MessageEndpoint endpoint;
    ASSERT_TRUE(endpoint.listen(holder, "TMarvaneMain", [](std::uint32_t, std::int64_t, std::int64_t) {
      return std::int64_t{5};
    }));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_TRUE(platform::find("TMarvaneMain"));
  }
  EXPECT_NE(::stat(path.c_str(), &st), 0) << "the endpoint removes its socket when it ends";
}

TEST_F(MessageChannelTest, ActivateShowsTheWindowAndSkipsTheHandler) {
  platform::SingleInstance lock("TMarvaneMain");
  MessageEndpoint endpoint;
  int calls = 0;
  ASSERT_TRUE(endpoint.listen(lock, "TMarvaneMain", [&](std::uint32_t, std::int64_t, std::int64_t) {
    ++calls;
    return std::int64_t{0};
  }));
  QWindow window;
  endpoint.setActivationWindow(&window);
  QSignalSpy shown(&window, &QWindow::visibleChanged);
  ASSERT_TRUE(platform::post("TMarvaneMain", platform::WM_ACTIVATE_WINDOW));
  ASSERT_TRUE(shown.wait(20000));
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(calls, 0);
  // A send to ourselves is served while we wait, without the event loop.
  EXPECT_EQ(platform::trySend("TMarvaneMain", platform::WM_ACTIVATE_WINDOW, 0, 0, 5s), 1);

  // Without a window (the monitor) it is answered 0 and ignored.
  endpoint.setActivationWindow(nullptr);
  EXPECT_EQ(platform::trySend("TMarvaneMain", platform::WM_ACTIVATE_WINDOW, 0, 0, 5s), 0);
  EXPECT_EQ(calls, 0);
}

TEST_F(MessageChannelTest, TwoRealProcesses) {
  testchild::Child child;
  ASSERT_TRUE(child.start("receiver"));
  ASSERT_EQ(child.readLine(), "ready");
  EXPECT_TRUE(platform::find("TMarvaneMain"));
  EXPECT_EQ(platform::send("TMarvaneMain", platform::WM_PROFILE_CHANGED, 2, 3), 5);
  EXPECT_TRUE(platform::post("TMarvaneMain", platform::WM_CLOSE_CONFIG));
  const int status = child.waitExit();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
  EXPECT_FALSE(platform::find("TMarvaneMain"));
}

// Another process of the user opens 200 connections that each send the first
// four bytes of a frame and then nothing. The receiver, a real process, still
// answers a real send, and takes the post that ends it.
TEST_F(MessageChannelTest, HalfFramesOnManyConnectionsDoNotBlockARealSend) {
  testchild::Child child;
  ASSERT_TRUE(child.start("receiver"));
  ASSERT_EQ(child.readLine(), "ready");
  const std::uint8_t magic[] = {'M', 'M', 'S', 'G'};
  platform_test::StalledPeers peers(socketPath("TMarvaneMain"), 200, magic);
  EXPECT_EQ(peers.connected(), 200);
  EXPECT_EQ(platform::trySend("TMarvaneMain", platform::WM_PROFILE_CHANGED, 2, 3, 5s), 5);
  EXPECT_TRUE(platform::post("TMarvaneMain", platform::WM_CLOSE_CONFIG));
  const int status = child.waitExit();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

// A connection that never completes its frame is closed by the receiver once
// its short deadline has passed, not held for ever.
TEST_F(MessageChannelTest, AnUnfinishedFrameIsDroppedAtItsDeadline) {
  ReceiverThread receiver("TTessoldMain", [](std::uint32_t, std::int64_t w, std::int64_t) { return w; });
  ASSERT_TRUE(receiver.ok());
  int fd = rawConnect("TTessoldMain");
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, kSendFrame.data(), 4), 4);
  pollfd p{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 10000), 1) << "still open after 10 s";
  char c;
  EXPECT_LE(::read(fd, &c, 1), 0);
  ::close(fd);
  EXPECT_EQ(platform::send("TTessoldMain", platform::WM_LANGUAGE_CHANGED, 42), 42);
}

}  // namespace
