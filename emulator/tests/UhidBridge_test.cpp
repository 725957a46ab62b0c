// The emulated mouse's kernel side against a stand-in for the kernel: each
// channel is a socket pair, and the test plays the kernel's half of the
// uhid protocol by hand (creation, get-report and set-report with their
// replies, input events, destruction). Observed: the events the mouse sends,
// its memory and its wire log. The real kernel is met in the kernel test run.

#include "emulator/EmulatorServer.h"
#include "emulator/UhidBridge.h"
#include "platform/HidBackend.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>

using namespace emulator;
using Bytes = std::vector<uint8_t>;

namespace {

// One channel as the kernel sees it.
class FakeKernel {
 public:
  explicit FakeKernel(int fd) : fd_(fd) {}
  ~FakeKernel() { ::close(fd_); }

  // The next event from the mouse, waited for up to 5 s; nullptr on time-out.
  std::unique_ptr<uhid_event> next(int timeoutMs = 5000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return nullptr;
    auto ev = std::make_unique<uhid_event>();
    std::memset(ev.get(), 0, sizeof *ev);
    if (::read(fd_, ev.get(), sizeof *ev) < ssize_t(sizeof ev->type)) return nullptr;
    return ev;
  }
  // True when nothing is waiting (the mouse sent nothing more).
  bool quiet() {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0;
  }
  void send(const uhid_event& ev) { ASSERT_EQ(::write(fd_, &ev, sizeof ev), ssize_t(sizeof ev)); }

  // A set-report of a feature report; the reply's error (0 = taken), -1
  // when no reply came.
  int setFeature(const Bytes& report, uint8_t rtype = UHID_FEATURE_REPORT) {
    auto ev = std::make_unique<uhid_event>();
    std::memset(ev.get(), 0, sizeof *ev);
    ev->type = UHID_SET_REPORT;
    ev->u.set_report.id = ++serial_;
    ev->u.set_report.rnum = report.empty() ? 0 : report[0];
    ev->u.set_report.rtype = rtype;
    ev->u.set_report.size = uint16_t(report.size());
    std::copy(report.begin(), report.end(), ev->u.set_report.data);
    send(*ev);
    auto reply = next();
    if (!reply || reply->type != UHID_SET_REPORT_REPLY || reply->u.set_report_reply.id != serial_) return -1;
    return reply->u.set_report_reply.err;
  }
  // A get-report; the reply's error (-1 without a reply) and its data.
  int getFeature(uint8_t id, Bytes& answer, uint8_t rtype = UHID_FEATURE_REPORT) {
    uhid_event ev;
    std::memset(&ev, 0, sizeof ev);
    ev.type = UHID_GET_REPORT;
    ev.u.get_report.id = ++serial_;
    ev.u.get_report.rnum = id;
    ev.u.get_report.rtype = rtype;
    send(ev);
    auto reply = next();
    if (!reply || reply->type != UHID_GET_REPORT_REPLY || reply->u.get_report_reply.id != serial_) return -1;
    const auto& r = reply->u.get_report_reply;
    answer.assign(r.data, r.data + std::min<std::size_t>(r.size, UHID_DATA_MAX));
    return r.err;
  }

 private:
  int fd_;
  uint32_t serial_ = 100;
};

Bytes featureReport(std::size_t size, std::initializer_list<uint8_t> head, const Bytes& payload = {}) {
  Bytes r(size, 0);
  std::copy(head.begin(), head.end(), r.begin());
  std::copy(payload.begin(), payload.end(), r.begin() + 8);
  return r;
}

class UhidBridgeTest : public ::testing::Test {
 protected:
  void start(int mice = 1) {
    HubOptions options;
    options.mice = mice;
    server = std::make_unique<EmulatorServer>(options);
    ASSERT_TRUE(dir.isValid());
    std::string error;
    ASSERT_TRUE(server->start(dir.filePath("mouse.sock").toStdString(), error)) << error;
    bridge = std::make_unique<UhidBridge>(server->hub(), [this](std::string& why) {
      int fds[2];
      if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        why = std::strerror(errno);
        return -1;
      }
      kernels.push_back(std::make_unique<FakeKernel>(fds[0]));
      return fds[1];
    });
    ASSERT_TRUE(bridge->start(error)) << error;
    ASSERT_EQ(kernels.size(), std::size_t(mice));
    for (auto& k : kernels) {
      auto created = k->next();
      ASSERT_TRUE(created);
      ASSERT_EQ(created->type, UHID_CREATE2);
    }
  }
  void TearDown() override {
    if (bridge) bridge->stop();
    if (server) server->stop();
  }
  FakeKernel& kernel(int i = 0) { return *kernels[std::size_t(i)]; }
  MouseHub& hub() { return server->hub(); }
  Bytes peek(uint32_t a, uint32_t n) {
    Bytes out;
    EXPECT_EQ(hub().peek(0, a, n, out), emu::Status::Ok);
    return out;
  }

  QTemporaryDir dir;
  std::unique_ptr<EmulatorServer> server;
  std::vector<std::unique_ptr<FakeKernel>> kernels;
  std::unique_ptr<UhidBridge> bridge;
};

}  // namespace

TEST_F(UhidBridgeTest, CreatesAUsbDeviceWithTheMouseDescriptorAndNumbers) {
  HubOptions options;
  EmulatorServer s(options);
  std::string error;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(s.start(dir.filePath("one.sock").toStdString(), error)) << error;
  std::unique_ptr<FakeKernel> k;
  UhidBridge b(s.hub(), [&](std::string&) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
    k = std::make_unique<FakeKernel>(fds[0]);
    return fds[1];
  });
  ASSERT_TRUE(b.start(error)) << error;
  auto ev = k->next();
  ASSERT_TRUE(ev);
  ASSERT_EQ(ev->type, UHID_CREATE2);
  const auto& c = ev->u.create2;
  EXPECT_EQ(c.bus, BUS_USB);
  EXPECT_EQ(c.vendor, 0x1209u);
  EXPECT_EQ(c.product, 0x0001u);
  EXPECT_EQ(c.version, 0x0100u);
  EXPECT_STREQ(reinterpret_cast<const char*>(c.name), "mouse-emulator mouse 0");
  const auto desc = reportDescriptor();
  ASSERT_EQ(c.rd_size, desc.size());
  EXPECT_TRUE(std::equal(desc.begin(), desc.end(), c.rd_data));
  // The vendor collection as the kernel parses it: page 0xFFA0, usage 1.
  const Bytes vendor = {0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01};
  EXPECT_NE(std::search(c.rd_data, c.rd_data + c.rd_size, vendor.begin(), vendor.end()), c.rd_data + c.rd_size);

  // Stopping removes the device.
  b.stop();
  ev = k->next();
  ASSERT_TRUE(ev);
  EXPECT_EQ(ev->type, UHID_DESTROY);
  s.stop();
}

// A write of n bytes travels in the report its length picks; the read of
// the same bytes answers in that report, whole, through get-report.
TEST_F(UhidBridgeTest, FeatureRoundTripsOfEveryReportSize) {
  start();
  struct Case {
    uint16_t n;
    uint8_t id;
    std::size_t size;
  };
  for (const Case& t : {Case{1, 2, 16}, Case{32, 3, 64}, Case{100, 4, 1024}, Case{1500, 5, 2048},
                        Case{3000, 6, 4096}}) {
    SCOPED_TRACE("n = " + std::to_string(t.n));
    const uint16_t a = 0x3000;
    Bytes payload(t.n);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 7 + t.n);
    ASSERT_EQ(kernel().setFeature(featureReport(t.size, {t.id, 2, uint8_t(a), uint8_t(a >> 8), uint8_t(t.n),
                                                         uint8_t(t.n >> 8), 0xFA, 0xFA},
                                                payload)),
              0);
    EXPECT_EQ(peek(a, t.n), payload);
    ASSERT_EQ(kernel().setFeature(featureReport(16, {2, 3, uint8_t(a), uint8_t(a >> 8), uint8_t(t.n),
                                                     uint8_t(t.n >> 8), 0xFA, 0xFA})),
              0);
    Bytes answer;
    ASSERT_EQ(kernel().getFeature(t.id, answer), 0);
    ASSERT_EQ(answer.size(), t.size);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 8),
              (Bytes{t.id, 3, uint8_t(a), uint8_t(a >> 8), uint8_t(t.n), uint8_t(t.n >> 8), 0xFA, 0xFA}));
    EXPECT_EQ(Bytes(answer.begin() + 8, answer.begin() + 8 + t.n), payload);
    EXPECT_TRUE(std::all_of(answer.begin() + 8 + t.n, answer.end(), [](uint8_t b) { return b == 0; }));
  }
  // The wire log holds the kernel's transfers as it holds the socket's.
  const auto log = hub().log();
  ASSERT_EQ(log.size(), 15u);
  EXPECT_EQ(log[0].direction, emu::Direction::SetFeature);
  EXPECT_EQ(log[0].bytes.size(), 16u);
  EXPECT_EQ(log[2].direction, emu::Direction::GetFeature);
  EXPECT_EQ(log[2].status, emu::Status::Ok);
  EXPECT_EQ(log[14].bytes.size(), 4096u);
}

// Every refusal answers the kernel with an error, changes nothing of the
// memory and is logged with its reason; the mouse goes on serving.
TEST_F(UhidBridgeTest, RefusalsAnswerWithAnErrorAndChangeNothing) {
  start();
  const Bytes before = peek(0, 4096);
  const Bytes goodWrite = featureReport(16, {2, 2, 0x40, 0, 1, 0, 0xFA, 0xFA}, {1});
  struct Case {
    const char* what;
    std::function<int(FakeKernel&)> transfer;
    const char* why;  // in the log's note
  };
  const std::vector<Case> cases = {
      {"fillers wrong", [](FakeKernel& k) { return k.setFeature(featureReport(16, {2, 2, 0x40, 0, 1, 0, 0, 0}, {1})); },
       "must be 0xFA 0xFA"},
      {"report without its ID byte",
       [&](FakeKernel& k) { return k.setFeature(Bytes(goodWrite.begin() + 1, goodWrite.end())); }, "is 16 bytes, got 15"},
      {"write in too large a report",
       [](FakeKernel& k) { return k.setFeature(featureReport(64, {3, 2, 0x40, 0, 1, 0, 0xFA, 0xFA}, {1})); },
       "travels in report 2"},
      {"get without a read request",
       [](FakeKernel& k) {
         Bytes a;
         return k.getFeature(2, a);
       },
       "without a read request"},
      {"get of the wrong report",
       [](FakeKernel& k) {
         EXPECT_EQ(k.setFeature(featureReport(16, {2, 3, 0x40, 0, 1, 0, 0xFA, 0xFA})), 0);
         Bytes a;
         return k.getFeature(3, a);
       },
       "answers in report 2"},
      {"output report", [&](FakeKernel& k) { return k.setFeature(goodWrite, UHID_OUTPUT_REPORT); }, nullptr},
      {"empty report", [](FakeKernel& k) { return k.setFeature({}); }, nullptr},
      {"injected failure",
       [&](FakeKernel& k) {
         EXPECT_EQ(hub().failNext(0, 1), emu::Status::Ok);
         return k.setFeature(goodWrite);
       },
       "injected failure"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    hub().clearLog();
    EXPECT_EQ(c.transfer(kernel()), EPIPE);
    EXPECT_EQ(peek(0, 4096), before);
    if (c.why) {
      const auto log = hub().log();
      ASSERT_FALSE(log.empty());
      EXPECT_NE(log.back().status, emu::Status::Ok);
      EXPECT_NE(log.back().note.find(c.why), std::string::npos) << log.back().note;
    }
  }
  // Still serving: the good write goes through.
  EXPECT_EQ(kernel().setFeature(goodWrite), 0);
  EXPECT_EQ(peek(0x40, 1), Bytes{1});
}

// Press, DPI, mode and raw reports reach the kernel in order, ID byte first.
TEST_F(UhidBridgeTest, InputReportsReachTheKernelInOrder) {
  start();
  ASSERT_EQ(hub().press(0, 3), emu::Status::Ok);
  ASSERT_EQ(hub().dpi(0, 4), emu::Status::Ok);
  ASSERT_EQ(hub().mode(0, 1), emu::Status::Ok);
  const Bytes raw = {8, 9, 1, 2, 3, 4, 5, 6};
  ASSERT_EQ(hub().rawInput(0, raw), emu::Status::Ok);
  const std::vector<Bytes> expected = {
      {7, 4, 0, 0, 0, 0, 0, 0}, {7, 0, 0, 0, 0, 0, 0, 0}, {8, 2, 4, 0, 0, 0, 0, 0}, {8, 1, 1, 0, 0, 0, 0, 0}, raw};
  for (const auto& want : expected) {
    auto ev = kernel().next();
    ASSERT_TRUE(ev);
    ASSERT_EQ(ev->type, UHID_INPUT2);
    EXPECT_EQ(Bytes(ev->u.input2.data, ev->u.input2.data + ev->u.input2.size), want);
  }
  EXPECT_TRUE(kernel().quiet());
}

// Unplug removes the kernel device, plug creates it again; nothing of an
// unplugged mouse reaches the kernel, and a second mouse is left alone.
TEST_F(UhidBridgeTest, UnplugDestroysAndPlugCreatesAgain) {
  start(2);
  ASSERT_EQ(hub().unplug(1), emu::Status::Ok);
  auto ev = kernel(1).next();
  ASSERT_TRUE(ev);
  EXPECT_EQ(ev->type, UHID_DESTROY);
  EXPECT_NE(hub().press(1, 1), emu::Status::Ok);
  ASSERT_EQ(hub().plug(1), emu::Status::Ok);
  ev = kernel(1).next();
  ASSERT_TRUE(ev);
  ASSERT_EQ(ev->type, UHID_CREATE2);
  EXPECT_EQ(ev->u.create2.vendor, 0x1209u);
  EXPECT_STREQ(reinterpret_cast<const char*>(ev->u.create2.name), "mouse-emulator mouse 1");
  ASSERT_EQ(hub().dpi(1, 2), emu::Status::Ok);
  ev = kernel(1).next();
  ASSERT_TRUE(ev);
  ASSERT_EQ(ev->type, UHID_INPUT2);
  EXPECT_EQ(ev->u.input2.data[0], 8);
  EXPECT_TRUE(kernel(1).quiet());
  EXPECT_TRUE(kernel(0).quiet());
}

// One mouse behind both roads: a read armed through the socket is fetched
// through the kernel, and the wire log holds both in order.
TEST_F(UhidBridgeTest, SocketAndKernelShareOneMouse) {
  start();
  ASSERT_EQ(hub().poke(0, 69, Bytes{0x23}), emu::Status::Ok);
  auto backend = platform::makeEmulatorHidBackend(dir.filePath("mouse.sock").toStdString());
  const auto list = backend->enumerate();
  ASSERT_EQ(list.size(), 1u);
  uint32_t error = 1;
  auto dev = backend->open(list[0].path, error);
  ASSERT_TRUE(dev);
  hub().clearLog();
  ASSERT_EQ(dev->sendFeatureReport(featureReport(16, {2, 3, 69, 0, 1, 0, 0xFA, 0xFA})), platform::hid_error::kOk);
  Bytes answer;
  ASSERT_EQ(kernel().getFeature(2, answer), 0);
  ASSERT_EQ(answer.size(), 16u);
  EXPECT_EQ(answer[8], 0x23);
  const auto log = hub().log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].direction, emu::Direction::SetFeature);
  EXPECT_EQ(log[1].direction, emu::Direction::GetFeature);
  EXPECT_EQ(log[1].bytes, answer);
}

// A kernel channel that closes ends only that channel; the mouse keeps
// serving its socket.
TEST_F(UhidBridgeTest, ClosedKernelChannelLeavesTheSocketSideServing) {
  // A write to a socket pair whose other end is closed raises SIGPIPE; the
  // real kernel channel never does, and the emulator ignores the signal.
  std::signal(SIGPIPE, SIG_IGN);
  start();
  kernels.clear();
  ASSERT_EQ(hub().press(0, 1), emu::Status::Ok);
  Bytes out;
  EXPECT_EQ(hub().peek(0, 64, 1, out), emu::Status::Ok);
  bridge->stop();
}

namespace {

// Stands between the hub and the bridge: on the first input report, with
// the hub's lock held so the bridge cannot serve anything yet, it runs
// `meanwhile` (which may call the hub again: the lock is the same thread's).
class HoldingKernelSide : public KernelSide {
 public:
  HoldingKernelSide(KernelSide& next, std::function<void()> meanwhile)
      : next_(next), meanwhile_(std::move(meanwhile)) {}
  void inputReport(int device, std::span<const uint8_t> report) override {
    next_.inputReport(device, report);
    if (auto f = std::exchange(meanwhile_, nullptr)) f();
  }
  void presence(int device, bool present) override { next_.presence(device, present); }

 private:
  KernelSide& next_;
  std::function<void()> meanwhile_;
};

}  // namespace

// Requests the kernel queued before the mouse was unplugged died with its
// device: after the plug they change nothing and get no answer, and the
// new device's own requests are answered as usual.
TEST_F(UhidBridgeTest, RequestsQueuedBeforeAnUnplugAreNotServedAfterThePlug) {
  start();
  const Bytes before = peek(0x40, 2);
  HoldingKernelSide holder(*bridge, [&] {
    // Queued while the old device is there; the bridge may have read the
    // first (it then waits for the hub) or neither.
    auto queue = [&](uint32_t id, const Bytes& report) {
      auto ev = std::make_unique<uhid_event>();
      std::memset(ev.get(), 0, sizeof *ev);
      ev->type = UHID_SET_REPORT;
      ev->u.set_report.id = id;
      ev->u.set_report.rnum = report[0];
      ev->u.set_report.rtype = UHID_FEATURE_REPORT;
      ev->u.set_report.size = uint16_t(report.size());
      std::copy(report.begin(), report.end(), ev->u.set_report.data);
      kernel().send(*ev);
    };
    queue(1, featureReport(16, {2, 2, 0x40, 0, 1, 0, 0xFA, 0xFA}, {0x5A}));
    queue(2, featureReport(16, {2, 2, 0x41, 0, 1, 0, 0xFA, 0xFA}, {0xA5}));
    ASSERT_EQ(hub().unplug(0), emu::Status::Ok);
    ASSERT_EQ(hub().plug(0), emu::Status::Ok);
  });
  hub().setKernelSide(&holder);
  ASSERT_EQ(hub().rawInput(0, Bytes{8, 9}), emu::Status::Ok);
  hub().setKernelSide(bridge.get());

  for (const uint32_t type : {uint32_t(UHID_INPUT2), uint32_t(UHID_DESTROY), uint32_t(UHID_CREATE2)}) {
    auto ev = kernel().next();
    ASSERT_TRUE(ev);
    ASSERT_EQ(ev->type, type);
  }
  // The first answer after the plug is the new device's own request's.
  Bytes answer;
  ASSERT_EQ(kernel().setFeature(featureReport(16, {2, 3, 0x40, 0, 2, 0, 0xFA, 0xFA})), 0);
  ASSERT_EQ(kernel().getFeature(2, answer), 0);
  ASSERT_EQ(answer.size(), 16u);
  EXPECT_EQ(Bytes(answer.begin() + 8, answer.begin() + 10), before);
  EXPECT_EQ(peek(0x40, 2), before);
  EXPECT_TRUE(kernel().quiet());
}
