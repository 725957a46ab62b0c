// The device-change component: its two start-up events and the arrival and
// removal events of a notifier, the real emulated mouse's included.
#include "device/uiHIDEvent.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include "emulator/testing/EmulatorProcess.h"

namespace {

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  }
  return true;
}

void settle(int ms = 100) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

// A notifier the test drives by hand.
class ManualNotifier : public platform::HidDeviceNotifier {
 public:
  explicit ManualNotifier(Handler* slot, bool fail = false) : slot_(slot), fail_(fail) {}
  bool start(Handler handler, std::string& error) override {
    if (fail_) {
      error = "refused";
      return false;
    }
    *slot_ = std::move(handler);
    return true;
  }

 private:
  Handler* slot_;
  bool fail_;
};

struct Counts {
  int arrival = 0, remove = 0, change = 0;
};

class HidEventTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char arg0[] = "uiHIDEvent_test";
    static char* argv[] = {arg0, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }
  void wire(TuiHIDEvent& e) {
    e.OnDeviceArrival = [&](QObject* s) { EXPECT_EQ(s, &e); ++counts_.arrival; };
    e.OnDeviceRemove = [&](QObject* s) { EXPECT_EQ(s, &e); ++counts_.remove; };
    e.OnDeviceChange = [&](QObject* s) { EXPECT_EQ(s, &e); ++counts_.change; };
  }
  Counts counts_;
};

TEST_F(HidEventTest, OneChangeThenOneArrivalAfterStartDelay) {
  platform::HidDeviceNotifier::Handler handler;
  TuiHIDEvent events(nullptr, std::make_unique<ManualNotifier>(&handler));
  wire(events);
  EXPECT_EQ(counts_.change, 0);  // not before the event loop runs
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(waitUntil([&] { return counts_.change == 1; }));
  EXPECT_EQ(counts_.arrival, 0);
  ASSERT_TRUE(waitUntil([&] { return counts_.arrival == 1; }));
  EXPECT_GE(clock.elapsed(), TuiHIDEvent::kStartArrivalDelayMs - 50);
  settle();
  EXPECT_EQ(counts_.change, 1);
  EXPECT_EQ(counts_.arrival, 1);

  handler({platform::HidDeviceEvent::Kind::Arrival, "/dev/hidraw9"});
  handler({platform::HidDeviceEvent::Kind::Removal, "/dev/hidraw9"});
  handler({platform::HidDeviceEvent::Kind::Removal, "/dev/hidraw8"});
  EXPECT_EQ(counts_.arrival, 2);
  EXPECT_EQ(counts_.remove, 2);
  EXPECT_EQ(counts_.change, 1);
}

TEST_F(HidEventTest, FailedNotifierStillGivesTheStartupEvents) {
  platform::HidDeviceNotifier::Handler handler;
  TuiHIDEvent events(nullptr, std::make_unique<ManualNotifier>(&handler, true));
  wire(events);
  ASSERT_TRUE(waitUntil([&] { return counts_.arrival == 1; }));
  EXPECT_EQ(counts_.change, 1);
}

TEST_F(HidEventTest, HandlerExceptionDoesNotEscape) {
  platform::HidDeviceNotifier::Handler handler;
  TuiHIDEvent events(nullptr, std::make_unique<ManualNotifier>(&handler));
  events.OnDeviceRemove = [](QObject*) { throw std::runtime_error("boom"); };
  EXPECT_NO_THROW(handler({platform::HidDeviceEvent::Kind::Removal, "x"}));
}

TEST_F(HidEventTest, EmulatedMouseUnplugAndPlug) {
  emulator::testing::EmulatorProcess mouse;
  ASSERT_TRUE(mouse.start()) << mouse.lastError();
  TuiHIDEvent events(nullptr, platform::makeEmulatorHidDeviceNotifier(mouse.socketPath()));
  wire(events);
  ASSERT_TRUE(waitUntil([&] { return counts_.change == 1; }));
  ASSERT_TRUE(mouse.unplug()) << mouse.lastError();
  ASSERT_TRUE(waitUntil([&] { return counts_.remove == 1; }));
  ASSERT_TRUE(mouse.plug()) << mouse.lastError();
  // The plug's arrival, and the start-up one after 1.5 s.
  ASSERT_TRUE(waitUntil([&] { return counts_.arrival == 2; }));
  settle();
  EXPECT_EQ(counts_.remove, 1);
  EXPECT_EQ(counts_.change, 1);
}

}  // namespace
