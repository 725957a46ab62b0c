// The HID backend of the emulated mouse against a real `mouse-emulator`
// process: what enumeration reports, feature transfers as the wire log sees
// them, input reports, cancellation, unplug and the arrival/removal events.

#include "emulator/EmulatorServer.h"
#include "emulator/testing/EmulatorProcess.h"
#include "platform/HidBackend.h"
#include "platform/HidEmulatorBackend.h"

#include <QCoreApplication>
#include <QTest>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using emulator::testing::EmulatorProcess;
using namespace platform;
namespace emu = platform::emu;

namespace {

QCoreApplication& app() {
  static int argc = 1;
  static char name[] = "HidEmulatorBackend_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* instance = new QCoreApplication(argc, argv);
  return *instance;
}

std::vector<uint8_t> report(std::size_t size, std::initializer_list<uint8_t> head,
                            std::vector<uint8_t> payload = {}) {
  std::vector<uint8_t> r(size, 0);
  std::copy(head.begin(), head.end(), r.begin());
  std::copy(payload.begin(), payload.end(), r.begin() + 8);
  return r;
}

class HidEmulatorBackendTest : public ::testing::Test {
 protected:
  void startMice(int mice) {
    EmulatorProcess::Options o;
    o.mice = mice;
    mouse = std::make_unique<EmulatorProcess>(o);
    ASSERT_TRUE(mouse->start()) << mouse->lastError();
    backend = makeEmulatorHidBackend(mouse->socketPath());
  }
  void SetUp() override { startMice(1); }

  std::unique_ptr<HidDevice> openFirst() {
    const auto list = backend->enumerate();
    if (list.empty()) return nullptr;
    uint32_t error = 1;
    auto dev = backend->open(list[0].path, error);
    EXPECT_EQ(error, hid_error::kOk);
    return dev;
  }

  std::unique_ptr<EmulatorProcess> mouse;
  std::unique_ptr<HidBackend> backend;
};

}  // namespace

TEST_F(HidEmulatorBackendTest, EnumeratesOneInterfaceWithBothCollections) {
  const auto list = backend->enumerate();
  ASSERT_EQ(list.size(), 1u);
  const HidInterfaceInfo& i = list[0];
  EXPECT_EQ(i.path, "emulator:" + mouse->socketPath() + "#0");
  EXPECT_EQ(i.vendorId, 0x1209);
  EXPECT_EQ(i.productId, 0x0001);
  EXPECT_EQ(i.releaseNumber, 0x0100);
  EXPECT_EQ(i.interfaceNumber, 0);
  ASSERT_EQ(i.collections.size(), 2u);

  const HidCollectionInfo& m = i.collections[0];
  EXPECT_EQ(m.usagePage, 0x0001);
  EXPECT_EQ(m.usage, 0x0002);
  ASSERT_EQ(m.inputReports.size(), 1u);
  EXPECT_EQ(m.inputReports[0].id, 1);
  EXPECT_EQ(m.inputReports[0].size, 5u);
  EXPECT_TRUE(m.featureReports.empty());
  ASSERT_FALSE(m.hardwareIds.empty());
  EXPECT_EQ(m.hardwareIds[0], "HID\\VID_1209&PID_0001&REV_0100&Col01");

  const HidCollectionInfo& v = i.collections[1];
  EXPECT_EQ(v.usagePage, 0xFFA0);
  EXPECT_EQ(v.usage, 0x0001);
  ASSERT_EQ(v.featureReports.size(), 5u);
  const uint32_t sizes[] = {16, 64, 1024, 2048, 4096};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(v.featureReports[k].id, k + 2);
    EXPECT_EQ(v.featureReports[k].size, sizes[k]);
  }
  ASSERT_EQ(v.inputReports.size(), 2u);
  EXPECT_EQ(v.inputReports[0].id, 7);
  EXPECT_EQ(v.inputReports[0].size, 8u);
  EXPECT_EQ(v.inputReports[1].id, 8);
  EXPECT_EQ(v.inputReports[1].size, 8u);
  EXPECT_EQ(v.featureReportLength, 4096u);
  EXPECT_EQ(v.inputReportLength, 8u);
  EXPECT_EQ(v.outputReportLength, 0u);
  ASSERT_GE(v.hardwareIds.size(), 2u);
  EXPECT_EQ(v.hardwareIds[0], "HID\\VID_1209&PID_0001&REV_0100&Col02");
  EXPECT_EQ(v.hardwareIds[1], "HID\\VID_1209&PID_0001&Col02");
  EXPECT_EQ(v.hardwareIds.back(), "HID_DEVICE");
}

TEST_F(HidEmulatorBackendTest, FeatureTransfersAsTheWireLogSeesThem) {
  auto dev = openFirst();
  ASSERT_TRUE(dev);
  // Command 6 (0, 0), then a one-byte read at 64 answered in report 2.
  const auto frame = report(16, {0x02, 0x06, 0x00, 0x00});
  EXPECT_EQ(dev->sendFeatureReport(frame), hid_error::kOk);
  const auto request = report(16, {0x02, 0x03, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA});
  EXPECT_EQ(dev->sendFeatureReport(request), hid_error::kOk);
  std::vector<uint8_t> answer(16, 0);
  answer[0] = 2;
  EXPECT_EQ(dev->getFeatureReport(answer), hid_error::kOk);
  EXPECT_EQ(answer, report(16, {0x02, 0x03, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}, {0x00}));

  // A fetch without a request stalls and leaves the buffer alone.
  std::vector<uint8_t> again(16, 0xEE);
  again[0] = 2;
  const auto before = again;
  EXPECT_EQ(dev->getFeatureReport(again), hid_error::kGenFailure);
  EXPECT_EQ(again, before);

  const auto log = mouse->wireLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].direction, emu::Direction::SetFeature);
  EXPECT_EQ(log[0].bytes, frame);
  EXPECT_EQ(log[1].bytes, request);
  EXPECT_EQ(log[2].direction, emu::Direction::GetFeature);
  EXPECT_EQ(log[2].status, emu::Status::Ok);
  EXPECT_EQ(log[2].bytes, answer);
  EXPECT_EQ(log[3].status, emu::Status::Stalled);
  EXPECT_EQ(log[3].bytes, std::vector<uint8_t>{2});
  const auto cmds = mouse->commands();
  ASSERT_EQ(cmds.size(), 1u);
  EXPECT_EQ(cmds[0].code, 6);
}

TEST_F(HidEmulatorBackendTest, RefusedReportsFailAndChangeNothing) {
  auto dev = openFirst();
  ASSERT_TRUE(dev);
  // Report 2 one byte too long; an unknown command; a write without fillers.
  EXPECT_EQ(dev->sendFeatureReport(report(17, {0x02, 0x06})), hid_error::kGenFailure);
  EXPECT_EQ(dev->sendFeatureReport(report(16, {0x02, 0x09})), hid_error::kGenFailure);
  EXPECT_EQ(dev->sendFeatureReport(report(16, {0x02, 0x02, 0x40, 0, 1, 0, 0, 0}, {1})),
            hid_error::kGenFailure);
  EXPECT_EQ(dev->sendFeatureReport({}), hid_error::kInvalidParameter);
  EXPECT_EQ(mouse->peek(64, 1), std::vector<uint8_t>{0});
  const auto log = mouse->wireLog();
  ASSERT_EQ(log.size(), 3u);
  for (const auto& e : log) {
    EXPECT_EQ(e.status, emu::Status::Stalled);
    EXPECT_FALSE(e.note.empty());
  }
}

TEST_F(HidEmulatorBackendTest, FailNextMakesExactlyThatManyTransfersFail) {
  auto dev = openFirst();
  ASSERT_TRUE(dev);
  ASSERT_TRUE(mouse->failNext(2));
  const auto write = report(16, {0x02, 0x02, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}, {0x01});
  EXPECT_NE(dev->sendFeatureReport(write), hid_error::kOk);
  EXPECT_NE(dev->sendFeatureReport(write), hid_error::kOk);
  EXPECT_EQ(mouse->peek(64, 1), std::vector<uint8_t>{0}) << "a failed write changes nothing";
  EXPECT_EQ(dev->sendFeatureReport(write), hid_error::kOk);
  EXPECT_EQ(mouse->peek(64, 1), std::vector<uint8_t>{1});
  const auto log = mouse->wireLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].status, emu::Status::IoError);
  EXPECT_EQ(log[1].status, emu::Status::IoError);
  EXPECT_EQ(log[2].status, emu::Status::Ok);
}

TEST_F(HidEmulatorBackendTest, InputReportsArriveInOrder) {
  auto dev = openFirst();
  ASSERT_TRUE(dev);
  ASSERT_TRUE(mouse->press(3));
  ASSERT_TRUE(mouse->dpi(4));
  const uint8_t mouseReport[] = {1, 0x01, 0x05, 0xFB, 0x00};
  ASSERT_TRUE(mouse->rawInput(mouseReport));
  const std::vector<std::vector<uint8_t>> expected = {
      {7, 0x04, 0, 0, 0, 0, 0, 0},
      {7, 0, 0, 0, 0, 0, 0, 0},
      {8, 2, 4, 0, 0, 0, 0, 0},
      {1, 0x01, 0x05, 0xFB, 0x00},
  };
  for (const auto& want : expected) {
    std::vector<uint8_t> buf(64, 0);
    std::size_t n = 0;
    ASSERT_EQ(dev->readInputReport(buf, n), hid_error::kOk);
    buf.resize(n);
    EXPECT_EQ(buf, want);
  }
  // A short buffer gets the report cut to its size.
  ASSERT_TRUE(mouse->press(1));
  std::vector<uint8_t> small(4, 0);
  std::size_t n = 0;
  ASSERT_EQ(dev->readInputReport(small, n), hid_error::kOk);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(small, (std::vector<uint8_t>{7, 1, 0, 0}));
}

TEST_F(HidEmulatorBackendTest, CancelReadWakesABlockedReaderAndStaysSet) {
  auto dev = openFirst();
  ASSERT_TRUE(dev);
  uint32_t result = 0;
  std::thread reader([&] {
    std::vector<uint8_t> buf(8);
    std::size_t n = 0;
    result = dev->readInputReport(buf, n);
  });
  dev->cancelRead();
  reader.join();
  EXPECT_EQ(result, hid_error::kOperationAborted);
  ASSERT_TRUE(mouse->press(1));
  std::vector<uint8_t> buf(8);
  std::size_t n = 0;
  EXPECT_EQ(dev->readInputReport(buf, n), hid_error::kOperationAborted);
}

TEST_F(HidEmulatorBackendTest, UnplugEndsReadersAndFailsTransfersLikeAGoneDevice) {
  auto dev = openFirst();
  auto other = openFirst();
  ASSERT_TRUE(dev && other);
  const std::string path = backend->enumerate().at(0).path;
  uint32_t result = 0;
  std::thread reader([&] {
    std::vector<uint8_t> buf(8);
    std::size_t n = 0;
    result = dev->readInputReport(buf, n);
  });
  ASSERT_TRUE(mouse->unplug());
  reader.join();
  EXPECT_EQ(result, hid_error::kDeviceNotConnected);

  const auto frame = report(16, {0x02, 0x06});
  EXPECT_EQ(other->sendFeatureReport(frame), hid_error::kDeviceNotConnected);
  EXPECT_TRUE(backend->enumerate().empty());
  uint32_t error = 0;
  EXPECT_EQ(backend->open(path, error), nullptr);
  EXPECT_EQ(error, hid_error::kDeviceNotConnected);
  EXPECT_FALSE(mouse->press(1)) << "an unplugged mouse sends nothing";

  // Plugged in again: a new open works, the old handles stay dead.
  ASSERT_TRUE(mouse->plug());
  EXPECT_EQ(other->sendFeatureReport(frame), hid_error::kDeviceNotConnected);
  auto fresh = backend->open(path, error);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->sendFeatureReport(frame), hid_error::kOk);
}

TEST_F(HidEmulatorBackendTest, ReaderSeesTheServerGoAway) {
  auto dev = openFirst();
  ASSERT_TRUE(dev);
  uint32_t result = 0;
  std::thread reader([&] {
    std::vector<uint8_t> buf(8);
    std::size_t n = 0;
    result = dev->readInputReport(buf, n);
  });
  mouse->stop();
  reader.join();
  EXPECT_EQ(result, hid_error::kDeviceNotConnected);
  EXPECT_TRUE(backend->enumerate().empty());
  EXPECT_EQ(dev->sendFeatureReport(report(16, {0x02, 0x06})), hid_error::kDeviceNotConnected);
}

TEST_F(HidEmulatorBackendTest, OpenRefusesForeignPaths) {
  uint32_t error = 0;
  for (const std::string& path : std::vector<std::string>{
           "/dev/hidraw0", "emulator:/elsewhere.sock#0",
        "emulator:" + mouse->socketPath() + "#9", "emulator:" + mouse->socketPath() + "#",
        "emulator:" + mouse->socketPath() + "#0x"}) {
    EXPECT_EQ(backend->open(path, error), nullptr) << path;
    EXPECT_EQ(error, hid_error::kDeviceNotConnected) << path;
  }
}

TEST_F(HidEmulatorBackendTest, TwoMiceAreTwoInterfacesWithTheSameIds) {
  startMice(2);
  const auto list = backend->enumerate();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_NE(list[0].path, list[1].path);
  EXPECT_EQ(list[0].collections[1].hardwareIds, list[1].collections[1].hardwareIds);
  uint32_t error = 0;
  auto second = backend->open(list[1].path, error);
  ASSERT_TRUE(second);
  ASSERT_EQ(second->sendFeatureReport(report(16, {0x02, 0x06, 0x01})), hid_error::kOk);
  const auto log = mouse->wireLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].device, 1);
  EXPECT_TRUE(mouse->commands(0).empty());
  EXPECT_EQ(mouse->commands(1).size(), 1u);
}

TEST_F(HidEmulatorBackendTest, NotifierReportsRemovalAndArrival) {
  app();
  auto notifier = makeEmulatorHidDeviceNotifier(mouse->socketPath());
  std::vector<HidDeviceEvent> events;
  QEventLoop loop;
  std::string error;
  ASSERT_TRUE(notifier->start(
      [&](const HidDeviceEvent& e) {
        events.push_back(e);
        loop.quit();
      },
      error))
      << error;
  const std::string path = "emulator:" + mouse->socketPath() + "#0";
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);

  ASSERT_TRUE(mouse->unplug());
  guard.start(10000);
  loop.exec();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, HidDeviceEvent::Kind::Removal);
  EXPECT_EQ(events[0].path, path);

  ASSERT_TRUE(mouse->plug());
  guard.start(10000);
  loop.exec();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].kind, HidDeviceEvent::Kind::Arrival);
  EXPECT_EQ(events[1].path, path);

  // The server going away removes the mouse with it.
  mouse->stop();
  guard.start(10000);
  loop.exec();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[2].kind, HidDeviceEvent::Kind::Removal);
}

// The server drops the watcher's connection to make room for newer clients:
// the owner is told once, with why, and a second start watches again.
TEST_F(HidEmulatorBackendTest, NotifierDroppedByTheServerTellsItsOwnerAndStartsAgain) {
  app();
  auto notifier = makeEmulatorHidDeviceNotifier(mouse->socketPath());
  std::vector<HidDeviceEvent> events;
  std::vector<std::string> lost;
  notifier->setLostHandler([&](const std::string& why) { lost.push_back(why); });
  std::string error;
  ASSERT_TRUE(notifier->start([&](const HidDeviceEvent& e) { events.push_back(e); }, error)) << error;
  EXPECT_FALSE(notifier->start([](const HidDeviceEvent&) {}, error));  // only once while it runs

  {
    std::vector<std::unique_ptr<emu::Connection>> newer;
    for (std::size_t i = 0; i < emulator::EmulatorServer::kMaxClients; ++i) {
      auto c = emu::Connection::connect(mouse->socketPath(), error);
      ASSERT_TRUE(c) << error;
      emu::Connection::Reply reply;
      ASSERT_TRUE(c->call(emu::Endpoint::Control, uint8_t(emu::ControlOp::Info), {}, reply, error)) << error;
      newer.push_back(std::move(c));
    }
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return !lost.empty(); }, 10000)) << "the loss was not told";
  EXPECT_EQ(lost, std::vector<std::string>{"the emulated mouse closed the connection"});
  events.clear();

  ASSERT_TRUE(notifier->start([&](const HidDeviceEvent& e) { events.push_back(e); }, error)) << error;
  // The test's control connection went with the flood: the first call finds that out.
  if (!mouse->unplug()) {
    ASSERT_TRUE(mouse->unplug()) << mouse->lastError();
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return !events.empty(); }, 10000)) << "no event after the second start";
  EXPECT_EQ(events[0].kind, HidDeviceEvent::Kind::Removal);
  EXPECT_EQ(events[0].path, "emulator:" + mouse->socketPath() + "#0");
  EXPECT_EQ(lost.size(), 1u);
}

TEST(HidEmulatorBackendNoServer, EverythingFailsQuietly) {
  auto backend = makeEmulatorHidBackend("/nonexistent-folder/mouse.sock");
  EXPECT_TRUE(backend->enumerate().empty());
  uint32_t error = 0;
  EXPECT_EQ(backend->open("emulator:/nonexistent-folder/mouse.sock#0", error), nullptr);
  EXPECT_EQ(error, hid_error::kDeviceNotConnected);
  auto notifier = makeEmulatorHidDeviceNotifier("/nonexistent-folder/mouse.sock");
  std::string why;
  EXPECT_FALSE(notifier->start([](const HidDeviceEvent&) {}, why));
  EXPECT_FALSE(why.empty());
}
