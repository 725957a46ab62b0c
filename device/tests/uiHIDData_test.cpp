// The HID link component on a fake backend: the hardware-ID filter, the
// per-method length tests and results, and the input-report readers.
#include "device/uiHIDData.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <set>

#include "emulator/testing/EmulatorProcess.h"
#include "platform/FakeHidBackend.h"
#include "platform/HardwareIds.h"

namespace {

using platform::FakeHidBackend;

constexpr USAGE_AND_PAGE kVendor{1, 0xFFA0};

// One mouse: the mouse collection first, the vendor collection second, so the
// vendor IDs carry &Col02.
platform::HidInterfaceInfo mouse(const std::string& path, uint16_t pid, uint32_t featureLength = 4096) {
  platform::HidInterfaceInfo i;
  i.path = path;
  i.vendorId = 0x1209;
  i.productId = pid;
  i.releaseNumber = 0x0100;
  platform::HidCollectionInfo m;
  m.usagePage = 1;
  m.usage = 2;
  m.hardwareIds = platform::makeHardwareIds({0x1209, pid, 0x0100, 0, false, 1, 2, 1, 2});
  m.inputReports = {{1, 4}};
  m.inputReportLength = 4;
  platform::HidCollectionInfo v;
  v.usagePage = 0xFFA0;
  v.usage = 1;
  v.hardwareIds = platform::makeHardwareIds({0x1209, pid, 0x0100, 0, false, 2, 2, 0xFFA0, 1});
  v.featureReports = {{2, 16}, {3, 64}};
  v.featureReportLength = featureLength;
  v.inputReports = {{7, 8}, {8, 8}};
  v.inputReportLength = 8;
  v.outputReportLength = 16;
  i.collections = {m, v};
  return i;
}

THIDDataParam featureParam(uint32_t size, const std::string& selector = "") {
  THIDDataParam p;
  p.UsageAndPage = kVendor;
  p.DeviceID = selector;
  p.Data.ReportID = 2;
  p.Data.DATASIZE = size;
  for (uint32_t i = 0; i + 1 < size; ++i) p.Data.DATAReally[i] = uint8_t(0x30 + i);
  return p;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  }
  return true;
}

// Proves that nothing more happens: handles what is queued for a short while.
void settle() {
  QDeadlineTimer deadline(100);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
}

class HidDataTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char arg0[] = "uiHIDData_test";
    static char* argv[] = {arg0, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
  }

  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    qputenv("MOUSE_RUNTIME_DIR", dir_.filePath("run").toUtf8());
    backend_->setInterfaces({mouse("a", 0x0001), mouse("b", 0x0002)});
  }

  // config.ini with the given text, or none when text is null.
  std::unique_ptr<TuiHIDData> make(const char* ini) {
    const QString path = dir_.filePath("config.ini");
    QFile::remove(path);
    if (ini) {
      QFile f(path);
      EXPECT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(ini);
    }
    auto hid = std::make_unique<TuiHIDData>(nullptr, backend_, path);
    hid->OnData = [this](const std::string& id, const std::string& path, uint8_t reportId, const uint8_t* data,
                         uint16_t size) {
      EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
      received_.push_back({id, path, reportId, std::vector<uint8_t>(data, data + size)});
    };
    hid->OnDeviceNotConnected = [this](const std::string& id, const std::string& path) {
      EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
      notConnected_.push_back({id, path});
    };
    return hid;
  }

  std::set<std::string> sentTo() const {
    std::set<std::string> paths;
    for (const auto& t : backend_->log()) paths.insert(t.path);
    return paths;
  }

  struct Report {
    std::string id, path;
    uint8_t reportId;
    std::vector<uint8_t> data;
  };
  QTemporaryDir dir_;
  std::shared_ptr<FakeHidBackend> backend_ = std::make_shared<FakeHidBackend>();
  std::vector<Report> received_;
  std::vector<std::pair<std::string, std::string>> notConnected_;
};

TEST_F(HidDataTest, HardwareIdFilterSelectsInterfaces) {
  struct Case {
    const char* name;
    const char* ini;  // nullptr: no config.ini
    std::string selector;
    std::set<std::string> expected;
  } cases[] = {
      {"no config.ini", nullptr, "", {"a", "b"}},
      {"no section", "[options]\nProfileRegFolder=x\n", "*", {"a", "b"}},
      {"id1 empty, id2 set", "[IncludeHIDDeviceList]\nid1=\nid2=HID\\VID_1209&PID_0002&Col02\n", "", {"a", "b"}},
      {"case-only difference", "[IncludeHIDDeviceList]\nid1=hid\\vid_1209&pid_0001&col02\n", "", {"a"}},
      {"section and key case", "[includehiddevicelist]\nID1=HID\\VID_1209&PID_0001&REV_0100&Col02\n", "*", {"a"}},
      {"whole strings only", "[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001\n", "", {}},
      {"later entries tried", "[IncludeHIDDeviceList]\nid1=HID\\VID_FFFF&PID_FFFF\nid2=HID_DEVICE_UP:FFA0_U:0001\n", "*",
       {"a", "b"}},
      {"explicit selector beats the list", "[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001&Col02\n",
       "HID\\VID_1209&PID_0002&Col02", {"b"}},
      {"explicit selector with empty list", nullptr, "HID\\VID_1209&PID_0001&REV_0100&Col02", {"a"}},
      {"mouse collection ID does not select the vendor one", "[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001&Col01\n",
       "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto hid = make(c.ini);
    backend_->clearLog();
    THIDDataParam p = featureParam(16, c.selector);
    const uint32_t rc = hid->HidFindAndSetFeatureReport(p);
    EXPECT_EQ(sentTo(), c.expected);
    EXPECT_EQ(rc, c.expected.empty() ? 1167u : 0u);
    EXPECT_EQ(hid->IsDeviceExist(featureParam(16, c.selector)), !c.expected.empty());
  }
}

TEST_F(HidDataTest, ReadFilterHasItsOwnRules) {
  struct Case {
    const char* name;
    const char* ini;
    std::string hidId;
    int readers;
  } cases[] = {
      {"empty list: any selector", nullptr, "", 2},
      {"empty list: unknown selector too", nullptr, "HID\\VID_0000&PID_0000", 2},
      {"list with *", "[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001&Col02\n", "*", 1},
      {"list with empty selector", "[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001&Col02\n", "", 0},
      {"list with explicit selector", "[IncludeHIDDeviceList]\nid1=HID\\VID_1209&PID_0001&Col02\n",
       "HID\\VID_1209&PID_0002&Col02", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto hid = make(c.ini);
    hid->HidFindAndReadDevice(kVendor, c.hidId);
    EXPECT_EQ(hid->RunningReaderCount(), c.readers);
    hid->HidStopRead();
    EXPECT_EQ(hid->RunningReaderCount(), 0);
  }
}

TEST_F(HidDataTest, WrongCollectionOrTooLongReportQualifiesNothing) {
  auto hid = make(nullptr);
  THIDDataParam other = featureParam(16);
  other.UsageAndPage = {2, 0xFFA0};
  EXPECT_FALSE(hid->IsDeviceExist(other));
  EXPECT_EQ(hid->HidFindAndSetFeatureReport(other), 1167u);

  backend_->setInterfaces({mouse("a", 1, 64)});
  THIDDataParam big = featureParam(1024);
  EXPECT_EQ(hid->HidFindAndSetFeatureReport(big), 1167u);
  EXPECT_EQ(hid->HidFindAndGetFeatureReport(big), 1167u);
  EXPECT_EQ(big.DeviceHandle, 0u);
  EXPECT_TRUE(backend_->log().empty());
  THIDDataParam fits = featureParam(64);
  EXPECT_EQ(hid->HidFindAndSetFeatureReport(fits), 0u);
  EXPECT_NE(fits.DeviceHandle, 0u);
  ASSERT_EQ(backend_->log().size(), 1u);
  EXPECT_EQ(backend_->log()[0].bytes.size(), 64u);
  EXPECT_EQ(backend_->log()[0].bytes[0], 2);
  EXPECT_EQ(backend_->log()[0].bytes[1], 0x30);

  // No interface at all: a get never "succeeds" without data.
  backend_->setInterfaces({});
  THIDDataParam none = featureParam(16);
  none.Data.DATAReally[0] = 0xEE;
  EXPECT_EQ(hid->HidFindAndGetFeatureReport(none), 1167u);
  EXPECT_EQ(none.Data.DATAReally[0], 0xEE);
}

TEST_F(HidDataTest, SetKeepsFirstFailureGetKeepsLastAnswer) {
  auto hid = make(nullptr);
  backend_->setSetHandler([](const std::string& path, std::span<const uint8_t>) { return path == "a" ? 31u : 0u; });
  THIDDataParam p = featureParam(16);
  EXPECT_EQ(hid->HidFindAndSetFeatureReport(p), 31u);
  EXPECT_EQ(sentTo(), (std::set<std::string>{"a", "b"}));

  backend_->setSetHandler([](const std::string& path, std::span<const uint8_t>) { return path == "b" ? 1460u : 0u; });
  EXPECT_EQ(hid->HidFindAndSetFeatureReport(p), 1460u);

  backend_->setGetHandler([](const std::string& path, std::span<uint8_t> r) {
    r[8] = path == "a" ? 0xAA : 0xBB;
    return 0u;
  });
  THIDDataParam g = featureParam(16);
  EXPECT_EQ(hid->HidFindAndGetFeatureReport(g), 0u);
  EXPECT_EQ(g.Data.ReportID, 2);
  EXPECT_EQ(g.Data.DATAReally[7], 0xBB);

  // The last interface's code counts for a get, even after a good answer.
  backend_->setGetHandler([](const std::string& path, std::span<uint8_t> r) {
    r[8] = 0xCC;
    return path == "b" ? 31u : 0u;
  });
  EXPECT_EQ(hid->HidFindAndGetFeatureReport(g), 31u);
}

TEST_F(HidDataTest, OneTransferPerNodeWhenTwoCollectionsMatch) {
  platform::HidInterfaceInfo twice = mouse("a", 1);
  twice.collections[0] = twice.collections[1];
  backend_->setInterfaces({twice});
  auto hid = make(nullptr);
  THIDDataParam p = featureParam(16);
  EXPECT_EQ(hid->HidFindAndSetFeatureReport(p), 0u);
  EXPECT_EQ(backend_->log().size(), 1u);
}

TEST_F(HidDataTest, OpenFailureSkipsTheInterfaceAndSaysWhy) {
  backend_->setInterfaces({mouse("a", 1)});
  backend_->setOpenError("a", 5);
  auto hid = make(nullptr);
  THIDDataParam p = featureParam(16);
  EXPECT_EQ(hid->HidFindAndSetFeatureReport(p), 5u);
  EXPECT_FALSE(hid->IsDeviceExist(p));
  hid->HidFindAndReadDevice(kVendor, "*");
  EXPECT_EQ(hid->RunningReaderCount(), 0);
}

TEST_F(HidDataTest, OutputWriteSendsExactlyDataSize) {
  auto hid = make(nullptr);
  EXPECT_TRUE(hid->HidFindAndWriteDevice(featureParam(16)));
  ASSERT_EQ(backend_->log().size(), 2u);
  EXPECT_EQ(backend_->log()[0].bytes.size(), 16u);
  EXPECT_EQ(backend_->log()[0].kind, FakeHidBackend::Transfer::Kind::Output);
  EXPECT_FALSE(hid->HidFindAndWriteDevice(featureParam(17)));  // longer than the output report
  backend_->clearLog();
  // The BYHID variant ignores the configured list.
  auto listed = make("[IncludeHIDDeviceList]\nid1=HID\\VID_9999&PID_9999\n");
  EXPECT_FALSE(listed->HidFindAndWriteDevice(featureParam(16)));
  EXPECT_TRUE(listed->HidFindAndWriteDeviceBYHID(featureParam(16)));
  EXPECT_EQ(sentTo(), (std::set<std::string>{"a", "b"}));
}

TEST_F(HidDataTest, ReaderDeliversVendorReportsOnTheGuiThread) {
  backend_->setInterfaces({mouse("a", 1)});
  auto hid = make(nullptr);
  hid->HidFindAndReadDevice(kVendor, "*");
  ASSERT_EQ(hid->RunningReaderCount(), 1);

  backend_->pushInput("a", {0x01, 0x01, 0x00, 0x00});  // mouse collection: not ours
  backend_->pushInput("a", {0x07, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  backend_->pushInput("a", {0x08, 0x02, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00});
  ASSERT_TRUE(waitUntil([&] { return received_.size() >= 2; }));
  settle();
  ASSERT_EQ(received_.size(), 2u);
  EXPECT_EQ(received_[0].id, "HID\\VID_1209&PID_0001&REV_0100&Col02");
  EXPECT_EQ(received_[0].path, "a");
  EXPECT_EQ(received_[0].reportId, 7);
  EXPECT_EQ(received_[0].data, (std::vector<uint8_t>{0x04, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(received_[1].reportId, 8);
  EXPECT_EQ(received_[1].data, (std::vector<uint8_t>{0x02, 0x03, 0, 0, 0, 0, 0}));
  EXPECT_TRUE(notConnected_.empty());
}

TEST_F(HidDataTest, SecondStartDoesNotDuplicateReports) {
  backend_->setInterfaces({mouse("a", 1)});
  auto hid = make(nullptr);
  hid->HidFindAndReadDevice(kVendor, "*");
  hid->HidFindAndReadDevice(kVendor, "*");
  EXPECT_EQ(hid->RunningReaderCount(), 1);
  backend_->pushInput("a", {0x07, 0x01, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(waitUntil([&] { return !received_.empty(); }));
  settle();
  EXPECT_EQ(received_.size(), 1u);
}

TEST_F(HidDataTest, StopEndsEveryReaderWithoutNotConnectedAndReadersRestart) {
  auto hid = make(nullptr);
  hid->HidFindAndReadDevice(kVendor, "*");
  ASSERT_EQ(hid->RunningReaderCount(), 2);
  ASSERT_TRUE(backend_->waitBlockedReaders(2));
  hid->HidStopRead();
  EXPECT_EQ(hid->RunningReaderCount(), 0);
  EXPECT_EQ(backend_->blockedReaders(), 0);
  settle();
  EXPECT_TRUE(notConnected_.empty());

  // The stop does not stay behind for readers started afterwards.
  hid->HidFindAndReadDevice(kVendor, "*");
  EXPECT_EQ(hid->RunningReaderCount(), 2);
  backend_->pushInput("b", {0x07, 0x02, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(waitUntil([&] { return !received_.empty(); }));
  EXPECT_EQ(received_[0].path, "b");
  hid.reset();  // the destructor stops and joins its readers
  EXPECT_EQ(backend_->blockedReaders(), 0);
}

TEST_F(HidDataTest, UnplugGivesOneNotConnectedPerReader) {
  auto hid = make(nullptr);
  hid->HidFindAndReadDevice(kVendor, "*");
  ASSERT_TRUE(backend_->waitBlockedReaders(2));
  backend_->unplug("a");
  backend_->unplug("b");
  ASSERT_TRUE(waitUntil([&] { return notConnected_.size() >= 2; }));
  settle();
  ASSERT_EQ(notConnected_.size(), 2u);
  std::set<std::pair<std::string, std::string>> got(notConnected_.begin(), notConnected_.end());
  EXPECT_EQ(got, (std::set<std::pair<std::string, std::string>>{{"HID\\VID_1209&PID_0001&REV_0100&Col02", "a"},
                                                                 {"HID\\VID_1209&PID_0002&REV_0100&Col02", "b"}}));
  EXPECT_EQ(hid->RunningReaderCount(), 0);
}

TEST_F(HidDataTest, InterfaceWithoutHardwareIdsGivesEmptyDeviceId) {
  platform::HidInterfaceInfo bare = mouse("a", 1);
  bare.collections[1].hardwareIds.clear();
  backend_->setInterfaces({bare});
  auto hid = make(nullptr);
  hid->HidFindAndReadDevice(kVendor, "*");
  backend_->pushInput("a", {0x07, 0x01, 0, 0, 0, 0, 0, 0});
  ASSERT_TRUE(waitUntil([&] { return !received_.empty(); }));
  EXPECT_EQ(received_[0].id, "");
}

// Readers on the real emulated mouse.
TEST_F(HidDataTest, EmulatedMouseButtonReportsAndUnplug) {
  emulator::testing::EmulatorProcess mice({2, false, {}});
  ASSERT_TRUE(mice.start()) << mice.lastError();
  auto backend = std::shared_ptr<platform::HidBackend>(platform::makeEmulatorHidBackend(mice.socketPath()));
  TuiHIDData hid(nullptr, backend, dir_.filePath("none.ini"));
  hid.OnData = [this](const std::string& id, const std::string& path, uint8_t reportId, const uint8_t* data,
                      uint16_t size) { received_.push_back({id, path, reportId, std::vector<uint8_t>(data, data + size)}); };
  hid.OnDeviceNotConnected = [this](const std::string& id, const std::string& path) {
    EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
    notConnected_.push_back({id, path});
  };
  hid.HidFindAndReadDevice(kVendor, "*");
  hid.HidFindAndReadDevice(kVendor, "*");
  ASSERT_EQ(hid.RunningReaderCount(), 2);

  // A report of the mouse collection on the same node is not ours.
  const uint8_t pointer[4] = {0x01, 0x01, 0x05, 0x05};
  ASSERT_TRUE(mice.rawInput(pointer, 0)) << mice.lastError();
  // Button 3: report 7 with mask 1 shl 2, then the release report.
  ASSERT_TRUE(mice.press(3, 0)) << mice.lastError();
  ASSERT_TRUE(waitUntil([&] { return received_.size() >= 2; }));
  settle();
  ASSERT_EQ(received_.size(), 2u);
  EXPECT_EQ(received_[0].id, "HID\\VID_1209&PID_0001&REV_0100&Col02");
  EXPECT_EQ(received_[0].reportId, 7);
  EXPECT_EQ(received_[0].data, (std::vector<uint8_t>{0x04, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(received_[1].data, std::vector<uint8_t>(7, 0));

  ASSERT_TRUE(mice.unplug(0));
  ASSERT_TRUE(mice.unplug(1));
  ASSERT_TRUE(waitUntil([&] { return notConnected_.size() >= 2; }));
  settle();
  EXPECT_EQ(notConnected_.size(), 2u);
  EXPECT_NE(notConnected_[0].second, notConnected_[1].second);
  EXPECT_EQ(hid.RunningReaderCount(), 0);
}

TEST_F(HidDataTest, EmulatedMouseStopEndsReadersQuietly) {
  emulator::testing::EmulatorProcess mice({2, false, {}});
  ASSERT_TRUE(mice.start()) << mice.lastError();
  auto backend = std::shared_ptr<platform::HidBackend>(platform::makeEmulatorHidBackend(mice.socketPath()));
  auto hid = std::make_unique<TuiHIDData>(nullptr, backend, dir_.filePath("none.ini"));
  hid->OnDeviceNotConnected = [this](const std::string& id, const std::string& path) { notConnected_.push_back({id, path}); };
  hid->HidFindAndReadDevice(kVendor, "*");
  ASSERT_EQ(hid->RunningReaderCount(), 2);
  hid->HidStopRead();
  EXPECT_EQ(hid->RunningReaderCount(), 0);
  settle();
  EXPECT_TRUE(notConnected_.empty());
}

}  // namespace
