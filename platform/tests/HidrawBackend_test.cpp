// The hidraw backend on a sysfs-like tree in a temporary folder, with FIFOs
// standing in for the device nodes where a read is tested.
#include "platform/HidrawBackend.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// Mouse collection then vendor collection (feature 2 of 16 bytes, input 7 of 8).
const Bytes kTwoCollections = {0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x01, 0x75, 0x08, 0x95, 0x03, 0x81, 0x02, 0xC0,
                               0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08,
                               0x85, 0x02, 0x95, 0x0F, 0xB1, 0x02, 0x85, 0x07, 0x95, 0x07, 0x81, 0x02, 0xC0};
// The vendor collection alone.
const Bytes kVendorOnly = {0x06, 0xA0, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08,
                           0x85, 0x02, 0x95, 0x0F, 0xB1, 0x02, 0xC0};

void writeFile(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

class HidrawTree : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = fs::path(dir_.path().toStdString()) / "sys";
    dev_ = fs::path(dir_.path().toStdString()) / "dev";
    fs::create_directories(root_ / "class/hidraw");
    fs::create_directories(dev_);
  }

  // One USB HID device under usb1/<port> with interface ifNum of ifCount.
  void addNode(const std::string& node, const std::string& port, int ifNum, int ifCount, const std::string& hidId,
               const std::string& bcd, const Bytes& descriptor) {
    const fs::path usb = root_ / "devices/pci0000:00/usb1" / port;
    writeFile(usb / "bcdDevice", bcd + "\n");
    char count[8];
    std::snprintf(count, sizeof count, "%2d\n", ifCount);
    writeFile(usb / "bNumInterfaces", count);
    const fs::path iface = usb / (port + ":1." + std::to_string(ifNum));
    char num[8];
    std::snprintf(num, sizeof num, "%02x\n", ifNum);
    writeFile(iface / "bInterfaceNumber", num);
    const fs::path hid = iface / (hidId + ".000" + node.back());
    writeFile(hid / "report_descriptor", std::string(descriptor.begin(), descriptor.end()));
    writeFile(hid / "uevent", "DRIVER=hid-generic\nHID_ID=0003:0000" + hidId.substr(5, 4) + ":0000" + hidId.substr(10, 4) +
                                  "\nHID_NAME=Test Mouse\n");
    const fs::path nodeDir = hid / "hidraw" / node;
    fs::create_directories(nodeDir);
    fs::create_directory_symlink("../..", nodeDir / "device");
    fs::create_directory_symlink(nodeDir, root_ / "class/hidraw" / node);
  }

  QTemporaryDir dir_;
  fs::path root_, dev_;
};

TEST_F(HidrawTree, EnumeratesWithWindowsHardwareIds) {
  addNode("hidraw0", "1-2", 0, 1, "0003:1209:0001", "0100", kTwoCollections);
  addNode("hidraw1", "1-3", 1, 2, "0003:04B4:ABCD", "1a2f", kVendorOnly);
  platform::HidrawBackend backend(root_.string(), dev_.string());
  const auto list = backend.enumerate();
  ASSERT_EQ(list.size(), 2u);

  const auto& a = list[0];
  EXPECT_EQ(a.path, (dev_ / "hidraw0").string());
  EXPECT_EQ(a.vendorId, 0x1209);
  EXPECT_EQ(a.productId, 0x0001);
  EXPECT_EQ(a.releaseNumber, 0x0100);
  EXPECT_EQ(a.interfaceNumber, 0);
  ASSERT_EQ(a.collections.size(), 2u);
  EXPECT_EQ(a.collections[0].hardwareIds,
            (std::vector<std::string>{"HID\\VID_1209&PID_0001&REV_0100&Col01", "HID\\VID_1209&PID_0001&Col01",
                                      "HID\\VID_1209&UP:0001_U:0002", "HID_DEVICE_UP:0001_U:0002", "HID_DEVICE"}));
  EXPECT_EQ(a.collections[1].usagePage, 0xFFA0);
  EXPECT_EQ(a.collections[1].hardwareIds[0], "HID\\VID_1209&PID_0001&REV_0100&Col02");
  EXPECT_EQ(a.collections[1].featureReportLength, 16u);
  EXPECT_EQ(a.collections[1].inputReportLength, 8u);

  const auto& b = list[1];
  ASSERT_EQ(b.collections.size(), 1u);
  EXPECT_EQ(b.collections[0].hardwareIds,
            (std::vector<std::string>{"HID\\VID_04B4&PID_ABCD&REV_1A2F&MI_01", "HID\\VID_04B4&PID_ABCD&MI_01",
                                      "HID\\VID_04B4&UP:FFA0_U:0001", "HID_DEVICE_UP:FFA0_U:0001", "HID_DEVICE"}));
}

TEST_F(HidrawTree, DamagedNodesAreLeftOut) {
  addNode("hidraw0", "1-2", 0, 1, "0003:1209:0001", "0100", kVendorOnly);
  addNode("hidraw1", "1-4", 0, 1, "0003:1209:0002", "0100", Bytes{0x05, 0x01, 0xA1});  // truncated
  addNode("hidraw2", "1-5", 0, 1, "0003:1209:0003", "0100", Bytes(5000, 0x00));       // too large
  platform::HidrawBackend backend(root_.string(), dev_.string());
  const auto list = backend.enumerate();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].productId, 1);
  EXPECT_TRUE(platform::HidrawBackend(root_.string() + "/nothing", dev_.string()).enumerate().empty());
}

// What the backend says while it skips nodes, one string a message.
std::vector<std::string>* gMessages = nullptr;
void keepMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
  if (gMessages) gMessages->push_back(text.toStdString());
}

// During an unplug the kernel takes a node's sysfs files away one by one; a
// node met halfway is skipped without a word. A node that is there but
// damaged still gets its line.
TEST_F(HidrawTree, HalfRemovedNodesAreSkippedQuietlyDamagedOnesAreReported) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& hidDir)> damage;
    const char* said;  // nullptr: nothing
  };
  const Case cases[] = {
      {"report descriptor gone", [](const fs::path& d) { fs::remove(d / "report_descriptor"); }, nullptr},
      {"uevent gone", [](const fs::path& d) { fs::remove(d / "uevent"); }, nullptr},
      {"whole device folder gone", [](const fs::path& d) { fs::remove_all(d); }, nullptr},
      {"descriptor too large",
       [](const fs::path& d) { writeFile(d / "report_descriptor", std::string(5000, '\0')); },
       "report descriptor too large"},
      {"descriptor truncated",
       [](const fs::path& d) { writeFile(d / "report_descriptor", std::string("\x05\x01\xA1", 3)); }, "hidraw1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(root_);
    fs::create_directories(root_ / "class/hidraw");
    addNode("hidraw0", "1-2", 0, 1, "0003:1209:0001", "0100", kVendorOnly);
    addNode("hidraw1", "1-3", 0, 1, "0003:1209:0002", "0100", kVendorOnly);
    c.damage(fs::canonical(root_ / "class/hidraw/hidraw1/device"));

    std::vector<std::string> messages;
    gMessages = &messages;
    const QtMessageHandler previous = qInstallMessageHandler(keepMessage);
    const auto list = platform::HidrawBackend(root_.string(), dev_.string()).enumerate();
    qInstallMessageHandler(previous);
    gMessages = nullptr;

    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].productId, 1);
    if (!c.said) {
      EXPECT_TRUE(messages.empty()) << messages.front();
    } else {
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_NE(messages[0].find(c.said), std::string::npos) << messages[0];
      EXPECT_NE(messages[0].find("hidraw1"), std::string::npos) << messages[0];
    }
  }
}

TEST_F(HidrawTree, ReadWaitsWithoutPollingAndStopsOnCancel) {
  const std::string node = (dev_ / "hidraw0").string();
  ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
  platform::HidrawBackend backend(root_.string(), dev_.string());
  uint32_t error = 99;
  auto device = backend.open(node, error);
  ASSERT_TRUE(device);
  EXPECT_EQ(error, 0u);

  const int writer = ::open(node.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  const uint8_t report[8] = {0x07, 0x04, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(::write(writer, report, sizeof report), 8);
  Bytes buffer(8);
  std::size_t got = 0;
  ASSERT_EQ(device->readInputReport(buffer, got), 0u);
  EXPECT_EQ(got, 8u);
  EXPECT_EQ(buffer, Bytes(report, report + 8));

  // A blocked read ends as soon as another thread cancels it, and stays ended.
  uint32_t rc = 0;
  std::thread reader([&] { rc = device->readInputReport(buffer, got); });
  device->cancelRead();
  reader.join();
  EXPECT_EQ(rc, platform::hid_error::kOperationAborted);
  EXPECT_EQ(device->readInputReport(buffer, got), platform::hid_error::kOperationAborted);

  // Not a HID node: the feature ioctls fail with a code, not a crash.
  Bytes feature(16, 0);
  feature[0] = 2;
  EXPECT_NE(device->sendFeatureReport(feature), 0u);
  EXPECT_NE(device->getFeatureReport(feature), 0u);
  EXPECT_EQ(feature[0], 2);
  ::close(writer);
}

TEST_F(HidrawTree, OpenFailuresGiveCodes) {
  platform::HidrawBackend backend(root_.string(), dev_.string());
  uint32_t error = 0;
  EXPECT_FALSE(backend.open((dev_ / "hidraw7").string(), error));
  EXPECT_EQ(error, platform::hid_error::kDeviceNotConnected);
  if (::geteuid() != 0) {
    const std::string locked = (dev_ / "hidraw8").string();
    writeFile(locked, "");
    ::chmod(locked.c_str(), 0);
    EXPECT_FALSE(backend.open(locked, error));
    EXPECT_EQ(error, platform::hid_error::kAccessDenied);
  }
}

}  // namespace
