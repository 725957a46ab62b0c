// The hidraw road against the real kernel: `mouse-emulator serve --uhid`
// makes the emulated mouse a kernel HID device, and the hidraw backend and
// the udev notifier meet its real hidraw node, libudev's enumeration and the
// kernel's (or the udev daemon's) device events. Observed: what the backend
// reports, the emulated mouse's memory and wire log.
//
// Needs /dev/uhid (root, or a user given access); skipped without it. Run by
// the kernel test run twice: without a udev daemon and with Debian's
// running. MOUSE_EXPECT_UDEV_DAEMON (0 or 1), when set, is the source the
// notifier must have taken.

#include "emulator/testing/EmulatorProcess.h"
#include "platform/HidBackend.h"
#include "platform/HidrawBackend.h"
#include "platform/UdevNotifier.h"
#include "platform/testing/QtTestEnvironment.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <libudev.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

namespace {

using Bytes = std::vector<uint8_t>;
using emulator::testing::EmulatorProcess;
using namespace platform;

MOUSE_QT_TEST_ENVIRONMENT(QCoreApplication);

Bytes FeatureReport(std::size_t size, std::initializer_list<uint8_t> head, const Bytes& payload = {}) {
  Bytes r(size, 0);
  std::copy(head.begin(), head.end(), r.begin());
  std::copy(payload.begin(), payload.end(), r.begin() + 8);
  return r;
}

bool IsEmulatedMouse(const HidInterfaceInfo& i) { return i.vendorId == 0x1209 && i.productId == 0x0001; }

// With a udev daemon running, a new node is ready once the daemon has been
// through its rules and knows it in its database; until then its arrival
// event is still to come. Without a daemon the kernel's event was all.
bool UdevDone(const std::string& node) {
  if (::access("/run/udev/control", F_OK) != 0) return true;
  struct stat st {};
  if (::stat(node.c_str(), &st) != 0) return false;
  udev* u = udev_new();
  if (!u) return false;
  udev_device* d = udev_device_new_from_devnum(u, 'c', st.st_rdev);
  const bool done = d && udev_device_get_is_initialized(d) > 0;
  if (d) udev_device_unref(d);
  udev_unref(u);
  return done;
}

class HidrawKernel : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!emulator::testing::EmulatorProcess::uhidUsable(why)) GTEST_SKIP() << why;
    EmulatorProcess::Options o;
    o.uhid = true;
    mouse_ = std::make_unique<EmulatorProcess>(o);
    ASSERT_TRUE(mouse_->start()) << mouse_->lastError();
    ASSERT_TRUE(WaitForMouse()) << "no hidraw node of the emulated mouse";
  }

  // The emulated mouse's interface, once its node is there (bounded).
  bool WaitForMouse(HidInterfaceInfo* out = nullptr) {
    HidInterfaceInfo found;
    const bool ok = QTest::qWaitFor(
        [&] {
          for (auto& i : backend_.enumerate())
            if (IsEmulatedMouse(i) && ::access(i.path.c_str(), R_OK | W_OK) == 0 && UdevDone(i.path)) {
              found = i;
              return true;
            }
          return false;
        },
        15000);
    if (ok) info_ = found;
    if (ok && out) *out = found;
    return ok;
  }
  std::unique_ptr<HidDevice> Open() {
    uint32_t error = 1;
    auto dev = backend_.open(info_.path, error);
    EXPECT_EQ(error, hid_error::kOk) << info_.path;
    return dev;
  }
  // Reads n reports on a helper thread; fails (and cancels the read) when
  // they do not come within 10 s.
  std::vector<Bytes> ReadReports(HidDevice& dev, std::size_t n, uint32_t* lastCode = nullptr) {
    std::promise<std::pair<std::vector<Bytes>, uint32_t>> done;
    auto result = done.get_future();
    std::thread reader([&] {
      std::vector<Bytes> got;
      uint32_t code = hid_error::kOk;
      while (got.size() < n) {
        Bytes buf(64, 0);
        std::size_t read = 0;
        code = dev.readInputReport(buf, read);
        if (code != hid_error::kOk) break;
        buf.resize(read);
        got.push_back(buf);
      }
      done.set_value({got, code});
    });
    if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << "input reports did not arrive";
      dev.cancelRead();
    }
    reader.join();
    auto [got, code] = result.get();
    if (lastCode) *lastCode = code;
    return got;
  }

  HidrawBackend backend_;
  std::unique_ptr<EmulatorProcess> mouse_;
  HidInterfaceInfo info_;
};

// libudev finds the node; its description comes from the kernel's copy of
// the mouse's descriptor: two top-level collections, the vendor one with
// feature reports 2..6 of their sizes and input reports 7 and 8, and the
// hardware IDs built from the kernel's numbers. The kernel gives no USB
// interface and no release number for a uhid device, so neither shows.
TEST_F(HidrawKernel, EnumerationDescribesTheRealNode) {
  const auto all = backend_.enumerate();
  ASSERT_EQ(std::count_if(all.begin(), all.end(), IsEmulatedMouse), 1);
  EXPECT_EQ(info_.path.rfind("/dev/hidraw", 0), 0u) << info_.path;
  EXPECT_EQ(info_.interfaceNumber, -1);
  ASSERT_EQ(info_.collections.size(), 2u);
  const HidCollectionInfo& pointer = info_.collections[0];
  EXPECT_EQ(pointer.usagePage, 0x0001);
  EXPECT_EQ(pointer.usage, 0x0002);
  const HidCollectionInfo& vendor = info_.collections[1];
  EXPECT_EQ(vendor.usagePage, 0xFFA0);
  EXPECT_EQ(vendor.usage, 0x0001);
  std::vector<std::pair<int, uint32_t>> features, inputs;
  for (const auto& r : vendor.featureReports) features.emplace_back(r.id, r.size);
  for (const auto& r : vendor.inputReports) inputs.emplace_back(r.id, r.size);
  EXPECT_EQ(features, (std::vector<std::pair<int, uint32_t>>{{2, 16}, {3, 64}, {4, 1024}, {5, 2048}, {6, 4096}}));
  EXPECT_EQ(inputs, (std::vector<std::pair<int, uint32_t>>{{7, 8}, {8, 8}}));
  EXPECT_EQ(vendor.featureReportLength, 4096u);
  EXPECT_EQ(vendor.inputReportLength, 8u);
  EXPECT_EQ(vendor.hardwareIds,
            (std::vector<std::string>{"HID\\VID_1209&PID_0001&REV_0000&Col02", "HID\\VID_1209&PID_0001&Col02",
                                      "HID\\VID_1209&UP:FFA0_U:0001", "HID_DEVICE_UP:FFA0_U:0001", "HID_DEVICE"}));
  EXPECT_EQ(pointer.hardwareIds.front(), "HID\\VID_1209&PID_0001&REV_0000&Col01");
}

// Every report size through HIDIOCSFEATURE and HIDIOCGFEATURE: the write
// lands in memory, the read request and its answer come back whole, and the
// wire log holds exactly the reports the backend sent.
TEST_F(HidrawKernel, FeatureRoundTripsOfEveryReportSize) {
  auto dev = Open();
  ASSERT_TRUE(dev);
  ASSERT_TRUE(mouse_->clearLog());
  struct Case {
    uint16_t n;
    uint8_t id;
    std::size_t size;
  };
  std::vector<Bytes> sent;
  for (const Case& t : {Case{1, 2, 16}, Case{32, 3, 64}, Case{100, 4, 1024}, Case{1500, 5, 2048},
                        Case{3000, 6, 4096}}) {
    SCOPED_TRACE("n = " + std::to_string(t.n));
    const uint16_t a = 0x3000;
    Bytes payload(t.n);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i * 7 + t.n);
    const Bytes write = FeatureReport(
        t.size, {t.id, 2, uint8_t(a), uint8_t(a >> 8), uint8_t(t.n), uint8_t(t.n >> 8), 0xFA, 0xFA}, payload);
    ASSERT_EQ(dev->sendFeatureReport(write), hid_error::kOk);
    EXPECT_EQ(mouse_->peek(a, t.n), payload);
    const Bytes request =
        FeatureReport(16, {2, 3, uint8_t(a), uint8_t(a >> 8), uint8_t(t.n), uint8_t(t.n >> 8), 0xFA, 0xFA});
    ASSERT_EQ(dev->sendFeatureReport(request), hid_error::kOk);
    sent.push_back(write);
    sent.push_back(request);
    Bytes answer(t.size, 0);
    answer[0] = t.id;
    ASSERT_EQ(dev->getFeatureReport(answer), hid_error::kOk);
    EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 8),
              (Bytes{t.id, 3, uint8_t(a), uint8_t(a >> 8), uint8_t(t.n), uint8_t(t.n >> 8), 0xFA, 0xFA}));
    EXPECT_EQ(Bytes(answer.begin() + 8, answer.begin() + 8 + t.n), payload);
  }
  EXPECT_EQ(mouse_->sentReports(), sent);
}

// A transfer the mouse refuses fails through the kernel too and changes
// nothing; the mouse goes on answering.
TEST_F(HidrawKernel, RefusedTransfersFailAndChangeNothing) {
  auto dev = Open();
  ASSERT_TRUE(dev);
  const Bytes before = mouse_->peek(0, 128);
  // Fillers wrong.
  EXPECT_NE(dev->sendFeatureReport(FeatureReport(16, {2, 2, 0x40, 0, 1, 0, 0, 0}, {1})), hid_error::kOk);
  // A fetch with no read request.
  Bytes answer(16, 0);
  answer[0] = 2;
  EXPECT_NE(dev->getFeatureReport(answer), hid_error::kOk);
  EXPECT_EQ(answer, FeatureReport(16, {2}));
  // An injected failure.
  ASSERT_TRUE(mouse_->failNext(1));
  EXPECT_NE(dev->sendFeatureReport(FeatureReport(16, {2, 2, 0x40, 0, 1, 0, 0xFA, 0xFA}, {1})), hid_error::kOk);
  EXPECT_EQ(mouse_->peek(0, 128), before);
  EXPECT_EQ(dev->sendFeatureReport(FeatureReport(16, {2, 2, 0x40, 0, 1, 0, 0xFA, 0xFA}, {1})), hid_error::kOk);
  EXPECT_EQ(mouse_->peek(0x40, 1), Bytes{1});
}

// Press, DPI, mode and raw reports arrive in order, report-ID byte first.
TEST_F(HidrawKernel, InputReportsArriveInOrderWithTheirId) {
  auto dev = Open();
  ASSERT_TRUE(dev);
  ASSERT_TRUE(mouse_->press(3));
  ASSERT_TRUE(mouse_->dpi(4));
  ASSERT_TRUE(mouse_->mode(1));
  const Bytes raw = {8, 9, 1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(mouse_->rawInput(raw));
  const auto got = ReadReports(*dev, 5);
  EXPECT_EQ(got, (std::vector<Bytes>{
                     {7, 4, 0, 0, 0, 0, 0, 0}, {7, 0, 0, 0, 0, 0, 0, 0}, {8, 2, 4, 0, 0, 0, 0, 0}, {8, 1, 1, 0, 0, 0, 0, 0}, raw}));
}

// A read blocked on the real node ends at cancelRead() with "aborted",
// and an unplug ends a blocked read with "not connected".
TEST_F(HidrawKernel, BlockedReadEndsOnCancelAndOnUnplug) {
  auto dev = Open();
  ASSERT_TRUE(dev);
  std::promise<uint32_t> done;
  auto result = done.get_future();
  std::promise<void> reading;
  std::thread reader([&] {
    Bytes buf(64);
    std::size_t n = 0;
    reading.set_value();
    done.set_value(dev->readInputReport(buf, n));
  });
  reading.get_future().wait();
  dev->cancelRead();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  reader.join();
  EXPECT_EQ(result.get(), hid_error::kOperationAborted);

  auto second = Open();
  ASSERT_TRUE(second);
  ASSERT_TRUE(mouse_->unplug());
  uint32_t code = hid_error::kOk;
  const auto got = ReadReports(*second, 1, &code);
  EXPECT_TRUE(got.empty());
  EXPECT_EQ(code, hid_error::kDeviceNotConnected);
  // A transfer on the gone node fails.
  EXPECT_NE(second->sendFeatureReport(FeatureReport(16, {2, 6})), hid_error::kOk);
}

// Unplug and plug as the notifier sees them, from the kernel's events
// without a udev daemon or from the daemon's when it runs: the removal
// names the node that went, the arrival the node the mouse has again.
TEST_F(HidrawKernel, UnplugAndPlugReachTheNotifier) {
  UdevNotifier notifier;
  std::vector<HidDeviceEvent> events;
  std::string error;
  ASSERT_TRUE(notifier.start([&](const HidDeviceEvent& e) { events.push_back(e); }, error)) << error;
  if (const char* expect = std::getenv("MOUSE_EXPECT_UDEV_DAEMON")) {
    EXPECT_EQ(notifier.usesKernelEvents(), std::string(expect) == "0");
  }
  const std::string before = info_.path;

  ASSERT_TRUE(mouse_->unplug());
  auto has = [&](HidDeviceEvent::Kind kind, const std::string& path) {
    return std::any_of(events.begin(), events.end(),
                       [&](const HidDeviceEvent& e) { return e.kind == kind && (path.empty() || e.path == path); });
  };
  ASSERT_TRUE(QTest::qWaitFor([&] { return has(HidDeviceEvent::Kind::Removal, before); }, 10000));
  EXPECT_FALSE(has(HidDeviceEvent::Kind::Arrival, ""));
  const auto gone = backend_.enumerate();
  EXPECT_EQ(std::count_if(gone.begin(), gone.end(), IsEmulatedMouse), 0);

  ASSERT_TRUE(mouse_->plug());
  ASSERT_TRUE(QTest::qWaitFor([&] { return has(HidDeviceEvent::Kind::Arrival, ""); }, 10000));
  HidInterfaceInfo again;
  ASSERT_TRUE(WaitForMouse(&again));
  EXPECT_TRUE(has(HidDeviceEvent::Kind::Arrival, again.path)) << again.path;
  // And the node answers.
  auto dev = Open();
  ASSERT_TRUE(dev);
  EXPECT_EQ(dev->sendFeatureReport(FeatureReport(16, {2, 6})), hid_error::kOk);
}

}  // namespace
