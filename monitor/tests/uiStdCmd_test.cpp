#include "monitor/uiStdCmd.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "device/ProfileEncoders.h"
#include "platform/FilterDriverProtocol.h"

namespace {

CPI_UNIT SampleUnit() {
  CPI_UNIT u{};
  u.password = 0x3C5A;
  u.NeedApplyNewCPI = 1;
  u.ReportLength = 8;
  u.X_LowByte = 2;
  u.X_HighByte = 3;
  u.Y_LowByte = 4;
  u.Y_HighByte = 5;
  u.CurrentCpi = 3;
  u.HWCpi[0].SetEnabled(1);
  u.HWCpi[0].SetX(800);
  u.HWCpi[0].SetY(0x01020304);
  u.STCpi[9].SetEnabled(1);
  u.STCpi[9].SetX(1000);
  u.STCpi[9].SetY(65535);
  u.XYCpiRate[0] = {125, -2};
  u.XYCpiRate[9] = {32767, 100};
  return u;
}

TEST(CpiUnitBytes, GoldenImage) {
  std::array<uint8_t, 238> want{};
  const uint8_t head[] = {0x5A, 0x3C, 0x01, 0x00, 0x08, 0x00, 0x02, 0x03, 0x04, 0x05,
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00};
  std::memcpy(want.data(), head, sizeof head);
  // HWCpi[0] at 18: enabled, X 800, Y 0x01020304.
  const uint8_t hw0[] = {0x01, 0x20, 0x03, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01};
  std::memcpy(&want[18], hw0, sizeof hw0);
  // STCpi[9] at 108 + 81 = 189: enabled, X 1000, Y 65535.
  const uint8_t st9[] = {0x01, 0xE8, 0x03, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00};
  std::memcpy(&want[189], st9, sizeof st9);
  // XYCpiRate[0] at 198, [9] at 234.
  const uint8_t r0[] = {0x7D, 0x00, 0xFE, 0xFF};
  std::memcpy(&want[198], r0, sizeof r0);
  const uint8_t r9[] = {0xFF, 0x7F, 0x64, 0x00};
  std::memcpy(&want[234], r9, sizeof r9);
  EXPECT_EQ(CpiUnitBytes(SampleUnit()), want);
}

TEST(CpiUnitBytes, RateOfSetOverHardwareValue) {
  CPI_UNIT u{};
  u.HWCpi[2].SetX(800);
  u.HWCpi[2].SetY(800);
  u.STCpi[2].SetX(1000);
  u.STCpi[2].SetY(400);
  u.HWCpi[3].SetX(100);
  u.HWCpi[3].SetY(0);
  u.STCpi[3].SetX(1000000);
  u.STCpi[3].SetY(500);
  CalcXYCpiRate(u);
  const auto b = CpiUnitBytes(u);
  EXPECT_EQ(b[198 + 8], 125);  // 1000 * 100 / 800
  EXPECT_EQ(b[198 + 9], 0);
  EXPECT_EQ(b[198 + 10], 50);
  // Far above what 16 bits hold: saturated, never wrapped; a 0 hardware value gives 0 for both.
  EXPECT_EQ(b[198 + 12], 0);
  EXPECT_EQ(b[198 + 14], 0);
  CPI_UNIT v{};
  v.HWCpi[1].SetX(100);
  v.HWCpi[1].SetY(100);
  v.STCpi[1].SetX(1000000);
  v.STCpi[1].SetY(100);
  CalcXYCpiRate(v);
  EXPECT_EQ(v.XYCpiRate[1].X, 32767);
  EXPECT_EQ(v.XYCpiRate[1].Y, 100);
}

// One-request driver: accepts one connection, records the request bytes,
// answers with status and payload.
class TestDriverServer {
 public:
  TestDriverServer(const std::string& path, uint32_t status, std::vector<uint8_t> answer) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 4) == 0;
    thread_ = std::thread([this, status, answer] {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 10000) != 1) return;
      const int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) return;
      std::vector<uint8_t> in;
      uint8_t buf[512];
      for (;;) {
        platform::DriverFrame f;
        size_t used = 0;
        if (!in.empty() && platform::parseDriverFrame(in, f, used) != platform::DriverParse::NeedMore) break;
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 10000) != 1) break;
        const ssize_t n = ::read(c, buf, sizeof buf);
        if (n <= 0) break;
        in.insert(in.end(), buf, buf + n);
      }
      request_ = in;
      const auto reply = platform::encodeDriverFrame(platform::DriverFrameKind::Reply, status, answer);
      (void)!::write(c, reply.data(), reply.size());
      ::close(c);
    });
  }
  ~TestDriverServer() {
    if (thread_.joinable()) thread_.join();
    ::close(fd_);
  }
  bool ok() const { return ok_; }
  std::vector<uint8_t> request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
  std::thread thread_;
  std::vector<uint8_t> request_;
};

class DriverClientTest : public ::testing::Test {
 protected:
  QString WriteIni(const QByteArray& text) {
    const QString path = dir_.filePath("config.ini");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
    return path;
  }
  std::string Dir() const { return dir_.path().toStdString(); }
  QTemporaryDir dir_;
};

TEST_F(DriverClientTest, DeviceNameFromConfigOrDefault) {
  struct Case {
    const char* ini;
    const char* name;
  };
  const Case cases[] = {
      {"", "zovadrv00001"},
      {"[DEVICE]\nDeviceName=mydrv_2.x\n", "mydrv_2.x"},
      {"[DEVICE]\nDeviceName=../../etc/passwd\n", "zovadrv00001"},
      {"[DEVICE]\nDeviceName=a..b\n", "zovadrv00001"},
      {"[DEVICE]\nDeviceName=..\n", "zovadrv00001"},
      {"[DEVICE]\nDeviceName=sp ace\n", "zovadrv00001"},
      {"[DEVICE]\nDeviceName=\\\\.\\zov\n", "zovadrv00001"},
  };
  for (const Case& c : cases) {
    TuiSTDCommand cmd(WriteIni(c.ini), Dir());
    EXPECT_EQ(cmd.DevicePath(), Dir() + "/" + c.name) << c.ini;
  }
  TuiSTDCommand longName(WriteIni("[DEVICE]\nDeviceName=" + QByteArray(200, 'a') + "\n"), Dir());
  EXPECT_EQ(longName.DevicePath(), Dir() + "/zovadrv00001");
  TuiSTDCommand missing(dir_.filePath("absent.ini"), Dir());
  EXPECT_EQ(missing.DevicePath(), Dir() + "/zovadrv00001");
}

TEST_F(DriverClientTest, NoDriverIsNotReady) {
  TuiSTDCommand cmd(WriteIni(""), Dir());
  EXPECT_EQ(SendCpiUnitToDriver(cmd, SampleUnit()), 21u);
  EXPECT_EQ(SendCurrentCpiToDriver(cmd, 1), 21u);
}

TEST_F(DriverClientTest, TableFrameAndTheCallersCopyStaysUnchanged) {
  TestDriverServer server(Dir() + "/zovadrv00001", 0, std::vector<uint8_t>(238, 0xEE));
  ASSERT_TRUE(server.ok());
  TuiSTDCommand cmd(WriteIni(""), Dir());
  const CPI_UNIT unit = SampleUnit();
  EXPECT_EQ(SendCpiUnitToDriver(cmd, unit), 0u);
  const auto req = server.request();
  const uint8_t head[] = {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x01, 0x00, 0x04, 0x80, 0x00, 0x80, 0xEE, 0x00, 0x00, 0x00};
  ASSERT_EQ(req.size(), 16u + 238u);
  EXPECT_TRUE(std::equal(head, head + 16, req.begin()));
  const auto image = CpiUnitBytes(unit);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), req.begin() + 16));
  EXPECT_EQ(CpiUnitBytes(unit), image);
}

TEST_F(DriverClientTest, LevelFrameLowByteFirstAndReplyCopiedBack) {
  TestDriverServer server(Dir() + "/zovadrv00001", 0, {0xAB, 0xCD, 0xEF});
  ASSERT_TRUE(server.ok());
  TuiSTDCommand cmd(WriteIni(""), Dir());
  uint8_t buffer[2] = {0x02, 0x01};
  EXPECT_EQ(cmd.DeviceRW(buffer, 2, platform::kIoctlSetCurrentCpi), 0u);
  const auto req = server.request();
  const std::vector<uint8_t> want = {'Z', 'D', 'R', 'V', 0x01, 0x00, 0x01, 0x00, 0x0C, 0x80,
                                     0x00, 0x80, 0x02, 0x00, 0x00, 0x00, 0x02, 0x01};
  EXPECT_EQ(req, want);
  // At most the buffer's size comes back.
  EXPECT_EQ(buffer[0], 0xAB);
  EXPECT_EQ(buffer[1], 0xCD);
}

TEST_F(DriverClientTest, LevelSenderWritesTwoBytesLittleEndian) {
  TestDriverServer server(Dir() + "/zovadrv00001", 31, {});
  ASSERT_TRUE(server.ok());
  TuiSTDCommand cmd(WriteIni(""), Dir());
  EXPECT_EQ(SendCurrentCpiToDriver(cmd, 0x0109), 31u);
  const auto req = server.request();
  ASSERT_EQ(req.size(), 18u);
  EXPECT_EQ(req[16], 0x09);
  EXPECT_EQ(req[17], 0x01);
}

}  // namespace
