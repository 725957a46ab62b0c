#include "monitor/uiHIDEventEx.h"

#include <QCoreApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "platform/FakeHidBackend.h"

namespace {

using platform::HidDeviceEvent;

platform::HidInterfaceInfo Mouse(const std::string& path, const std::string& product) {
  platform::HidInterfaceInfo i;
  i.path = path;
  platform::HidCollectionInfo mouse;
  mouse.hardwareIds = {"HID\\VID_1209&PID_" + product + "&REV_0100&Col01", "HID\\VID_1209&PID_" + product + "&Col01",
                       "HID_DEVICE_SYSTEM_MOUSE"};
  platform::HidCollectionInfo vendor;
  vendor.hardwareIds = {"HID\\VID_1209&PID_" + product + "&REV_0100&Col02", "HID\\VID_1209&PID_" + product + "&Col02",
                        "HID_DEVICE_UP:FFA0_U:0001"};
  i.collections = {mouse, vendor};
  return i;
}

class HIDEventExTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_ = std::make_shared<platform::FakeHidBackend>();
    backend_->setInterfaces({Mouse("/dev/hidraw1", "0001")});
    ev_ = std::make_unique<TuiHIDEventEx>(nullptr, backend_, nullptr);
    ev_->OnNewDeviceArrival = [this](const QStringList& l) { arrived_.push_back(l); };
    ev_->OnPresentDeviceRemoval = [this](const QStringList& l) { removed_.push_back(l); };
  }
  void Event(HidDeviceEvent::Kind kind, const std::string& path) { ev_->HandleDeviceEvent({kind, path}); }

  std::shared_ptr<platform::FakeHidBackend> backend_;
  std::unique_ptr<TuiHIDEventEx> ev_;
  std::vector<QStringList> arrived_, removed_;
};

TEST_F(HIDEventExTest, StartUpFillsWithoutEventsTwoIdsPerCollection) {
  EXPECT_EQ(ev_->PresentDevices().size(), 4);
  EXPECT_TRUE(ev_->PresentDevices().contains("hid\\vid_1209&pid_0001&rev_0100&col02", Qt::CaseInsensitive));
  EXPECT_FALSE(ev_->PresentDevices().contains("HID_DEVICE_UP:FFA0_U:0001"));
  EXPECT_TRUE(arrived_.empty());
}

TEST_F(HIDEventExTest, ArrivalReportsOnlyNewInterfacesAndNothingWhenNothingIsNew) {
  Event(HidDeviceEvent::Kind::Arrival, "");
  EXPECT_TRUE(arrived_.empty());
  backend_->setInterfaces({Mouse("/dev/hidraw1", "0001"), Mouse("/dev/hidraw2", "0002")});
  Event(HidDeviceEvent::Kind::Arrival, "/dev/hidraw2");
  ASSERT_EQ(arrived_.size(), 1u);
  EXPECT_EQ(arrived_[0].size(), 4);
  EXPECT_TRUE(arrived_[0].contains("HID\\VID_1209&PID_0002&REV_0100&Col02"));
}

TEST_F(HIDEventExTest, SecondIdenticalMouseIsStillAnArrival) {
  backend_->setInterfaces({Mouse("/dev/hidraw1", "0001"), Mouse("/dev/hidraw5", "0001")});
  Event(HidDeviceEvent::Kind::Arrival, "/dev/hidraw5");
  ASSERT_EQ(arrived_.size(), 1u);
  EXPECT_TRUE(arrived_[0].contains("HID\\VID_1209&PID_0001&REV_0100&Col02"));
}

TEST_F(HIDEventExTest, RemovalThenReplugReportsBoth) {
  backend_->setInterfaces({});
  Event(HidDeviceEvent::Kind::Removal, "/dev/hidraw1");
  ASSERT_EQ(removed_.size(), 1u);
  EXPECT_EQ(removed_[0].size(), 4);
  EXPECT_TRUE(ev_->PresentDevices().isEmpty());
  Event(HidDeviceEvent::Kind::Removal, "/dev/hidraw1");
  EXPECT_EQ(removed_.size(), 1u);
  backend_->setInterfaces({Mouse("/dev/hidraw1", "0001")});
  Event(HidDeviceEvent::Kind::Arrival, "/dev/hidraw1");
  ASSERT_EQ(arrived_.size(), 1u);
  EXPECT_EQ(arrived_[0].size(), 4);
}

TEST_F(HIDEventExTest, FastUnplugAndReplugSeenOnlyAfterwardsIsStillTakenUp) {
  // Both events are handled after the mouse is back at the same path.
  Event(HidDeviceEvent::Kind::Removal, "/dev/hidraw1");
  Event(HidDeviceEvent::Kind::Arrival, "/dev/hidraw1");
  EXPECT_EQ(removed_.size(), 1u);
  ASSERT_EQ(arrived_.size(), 1u);
  EXPECT_TRUE(arrived_[0].contains("HID\\VID_1209&PID_0001&REV_0100&Col02"));
}

TEST_F(HIDEventExTest, ArrivalOfAnUnknownPathWithNothingPresentReportsNothing) {
  backend_->setInterfaces({});
  Event(HidDeviceEvent::Kind::Arrival, "/dev/hidraw9");
  EXPECT_TRUE(arrived_.empty());
  EXPECT_TRUE(removed_.empty());
}

// A watcher whose start fails a given number of times, then works.
struct FlakyWatcher : platform::HidDeviceNotifier {
  struct State {
    int failures = 0;
    int tries = 0;
    Handler handler;
  };
  explicit FlakyWatcher(State& state) : state(state) {}
  bool start(Handler handler, std::string& error) override {
    if (++state.tries <= state.failures) {
      error = "every slot of the event source is taken";
      return false;
    }
    state.handler = std::move(handler);
    return true;
  }
  State& state;
};

// The watcher cannot start at first (its event source is flooded): it is
// tried again, each wait twice the last up to the cap, until it starts;
// what came meanwhile is then reported, and later events arrive.
TEST(HIDEventExWatcher, FailedStartIsTriedAgainWithBackOffAndTakesUpWhatCameMeanwhile) {
  auto backend = std::make_shared<platform::FakeHidBackend>();
  backend->setInterfaces({Mouse("/dev/hidraw1", "0001")});
  FlakyWatcher::State state;
  state.failures = 4;
  TuiHIDEventEx ev(nullptr, backend, std::make_unique<FlakyWatcher>(state));
  std::vector<QStringList> arrived;
  ev.OnNewDeviceArrival = [&](const QStringList& l) { arrived.push_back(l); };
  EXPECT_EQ(state.tries, 1);
  EXPECT_FALSE(ev.Watching());
  EXPECT_EQ(ev.WatchRetryDelayMs(), TuiHIDEventEx::kWatchRetryFirstMs);

  ev.SetWatchRetryDelays(10, 25);
  // Waits after the first, second, third and fourth failure.
  std::vector<int> waits = {ev.WatchRetryDelayMs()};
  for (int tries = 2; tries <= 4; ++tries) {
    ASSERT_TRUE(QTest::qWaitFor([&] { return state.tries == tries; }, 10000)) << "try " << tries;
    waits.push_back(ev.WatchRetryDelayMs());
  }
  EXPECT_EQ(waits, (std::vector<int>{10, 20, 25, 25}));
  EXPECT_TRUE(arrived.empty());

  // A second mouse comes while nothing is watched.
  backend->setInterfaces({Mouse("/dev/hidraw1", "0001"), Mouse("/dev/hidraw2", "0002")});
  ASSERT_TRUE(QTest::qWaitFor([&] { return ev.Watching(); }, 10000));
  EXPECT_EQ(state.tries, 5);
  EXPECT_EQ(ev.WatchRetryDelayMs(), 0);
  ASSERT_EQ(arrived.size(), 1u);
  EXPECT_TRUE(arrived[0].contains("HID\\VID_1209&PID_0002&REV_0100&Col02"));

  // From now on the watcher's own events are heard.
  backend->setInterfaces({Mouse("/dev/hidraw1", "0001"), Mouse("/dev/hidraw2", "0002"), Mouse("/dev/hidraw3", "0003")});
  ASSERT_TRUE(state.handler);
  state.handler({HidDeviceEvent::Kind::Arrival, "/dev/hidraw3"});
  ASSERT_EQ(arrived.size(), 2u);
  EXPECT_TRUE(arrived[1].contains("HID\\VID_1209&PID_0003&REV_0100&Col02"));
  EXPECT_EQ(state.tries, 5);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
