// The device protocol against a recording fake mouse: every expected report
// below is written out byte by byte.
#include "device/DeviceProtocol.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "emulator/testing/EmulatorProcess.h"
#include "platform/FakeHidBackend.h"
#include "platform/HardwareIds.h"

namespace {

using platform::FakeHidBackend;
using Bytes = std::vector<uint8_t>;

// Report bytes, padded with zeros to size.
Bytes report(std::initializer_list<uint8_t> head, size_t size, const Bytes& data = {}) {
  Bytes r(head);
  r.insert(r.end(), data.begin(), data.end());
  r.resize(size, 0);
  return r;
}

platform::HidInterfaceInfo vendorMouse(const std::string& path) {
  platform::HidInterfaceInfo i;
  i.path = path;
  platform::HidCollectionInfo c;
  c.usagePage = 0xFFA0;
  c.usage = 1;
  c.hardwareIds = platform::makeHardwareIds({0x1209, 0x0001, 0x0100, 0, false, 1, 1, 0xFFA0, 1});
  for (auto [id, size] : {std::pair{2, 16}, {3, 64}, {4, 1024}, {5, 2048}, {6, 4096}})
    c.featureReports.push_back({uint8_t(id), uint32_t(size)});
  c.inputReports = {{7, 8}, {8, 8}};
  c.featureReportLength = 4096;
  c.inputReportLength = 8;
  i.collections.push_back(c);
  return i;
}

class DeviceProtocolTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char arg0[] = "DeviceProtocol_test";
    static char* argv[] = {arg0, nullptr};
    if (!QCoreApplication::instance()) app_ = new QCoreApplication(argc, argv);
  }

  void SetUp() override {
    ASSERT_TRUE(runtime_.isValid());
    qputenv("MOUSE_RUNTIME_DIR", runtime_.path().toUtf8());
    backend_->setInterfaces({vendorMouse("fake:mouse")});
    // A small memory model: command 2 writes, command 3 arms the next fetch.
    backend_->setSetHandler([this](const std::string&, std::span<const uint8_t> r) -> uint32_t {
      const uint16_t a = uint16_t(r[2] | r[3] << 8), n = uint16_t(r[4] | r[5] << 8);
      if (r[1] == 2) std::copy_n(r.begin() + 8, n, memory_.begin() + a);
      if (r[1] == 3) pending_ = {r.begin(), r.begin() + 8};
      return setError_;
    });
    backend_->setGetHandler([this](const std::string&, std::span<uint8_t> r) -> uint32_t {
      if (getError_) return getError_;
      const uint16_t a = uint16_t(pending_[2] | pending_[3] << 8), n = uint16_t(pending_[4] | pending_[5] << 8);
      const uint8_t id = r[0];  // the mouse answers in the report asked for
      std::fill(r.begin(), r.end(), 0);
      r[0] = id;
      std::copy(pending_.begin() + 1, pending_.end(), r.begin() + 1);
      std::copy_n(memory_.begin() + a, n, r.begin() + 8);
      return 0;
    });
    DeviceUsageAndPage = {1, 0xFFA0};
    hid_ = std::make_unique<TuiHIDData>(nullptr, backend_, runtime_.filePath("absent-config.ini"));
  }

  Bytes sent(size_t i) const { return backend_->log().at(i).bytes; }

  static inline QCoreApplication* app_ = nullptr;
  QTemporaryDir runtime_;
  std::shared_ptr<FakeHidBackend> backend_ = std::make_shared<FakeHidBackend>();
  std::unique_ptr<TuiHIDData> hid_;
  std::array<uint8_t, 65536> memory_{};
  Bytes pending_ = Bytes(8, 0);
  uint32_t setError_ = 0;
  uint32_t getError_ = 0;
};

TEST(DeviceProtocolRules, ReportIdAndSizeByLength) {
  const std::pair<uint32_t, uint8_t> ids[] = {{0, 2},    {8, 2},    {16, 2},   {17, 3},   {64, 3},    {65, 4},
                                              {1024, 4}, {1025, 5}, {2048, 5}, {2049, 6}, {4096, 6}, {4097, 2},
                                              {0xFFFFFFFFu, 2}};
  for (auto [L, id] : ids) EXPECT_EQ(ReportIdForLength(L), id) << "L=" << L;
  const std::pair<uint8_t, uint32_t> sizes[] = {{0, 16}, {1, 16}, {2, 16}, {3, 64}, {4, 1024},
                                                {5, 2048}, {6, 4096}, {7, 16}, {255, 16}};
  for (auto [id, size] : sizes) EXPECT_EQ(ReportSizeForId(id), size) << "id=" << int(id);
}

TEST(DeviceProtocolRules, HeaderPackingAndCtlCode) {
  std::array<uint8_t, 8> head = {3, 0x40, 0, 1, 0, 0xFA, 0xFA, 0xFA}, packed{}, back{};
  PackReportHeader(2, head, packed);
  EXPECT_EQ(packed, (std::array<uint8_t, 8>{2, 3, 0x40, 0, 1, 0, 0xFA, 0xFA}));
  UnpackReportHeader(packed, back);
  EXPECT_EQ(back, (std::array<uint8_t, 8>{3, 0x40, 0, 1, 0, 0xFA, 0xFA, 0}));
  EXPECT_EQ(MakeCtlCode(0x22, 0x801, 0, 0), 0x00222004u);
  EXPECT_EQ(MakeCtlCode(0x8000, 1, 3, 3), 0x8000C007u);
}

TEST(DeviceProtocolRules, PayloadLengthByCode) {
  TDEVICEPACKET p;
  p.Head = {0x82, 0, 0, 0x34, 0x12};
  EXPECT_EQ(DevicePayloadLength(p), 0x1234u);  // top bit ignored
  p.Head = {0, 0, 9};
  EXPECT_EQ(DevicePayloadLength(p), 9u);
  p.Head = {4, 1, 2, 3, 4};
  EXPECT_EQ(DevicePayloadLength(p), 0u);
}

TEST_F(DeviceProtocolTest, CommandsSendTheirExactReports) {
  Bytes dpi(32);
  for (int i = 0; i < 32; ++i) dpi[i] = uint8_t(0xA0 + i);
  Bytes buttons(65);
  for (int i = 0; i < 65; ++i) buttons[i] = uint8_t(i + 1);
  const std::array<uint8_t, 6> led = {0x00, 0xFF, 0x00, 0x02, 0x03, 0x04};
  const std::array<uint8_t, 2> notice = {1, 3};

  struct Case {
    const char* name;
    std::function<uint32_t(TuiHIDData&)> send;
    Bytes expected;
  } cases[] = {
      {"command 6 (0,0)", [](TuiHIDData& h) { return DeviceCommand6(h, 0, 0); },
       report({0x02, 0x06, 0, 0, 0, 0, 0, 0}, 16)},
      {"command 6 (1,0)", [](TuiHIDData& h) { return DeviceCommand6(h, 1, 0); },
       report({0x02, 0x06, 0x01, 0, 0, 0, 0, 0}, 16)},
      {"command 1 (1,3)", [&](TuiHIDData& h) { return DeviceCommand1(h, notice); },
       report({0x02, 0x01, 0x01, 0x03, 0, 0, 0, 0}, 16)},
      {"command 4 drops the sixth LED byte", [&](TuiHIDData& h) { return DeviceCommand4(h, led); },
       report({0x02, 0x04, 0x00, 0xFF, 0x00, 0x02, 0x03, 0x00}, 16)},
      {"DPI table at 72", [&](TuiHIDData& h) { return DeviceWriteCPITable(h, std::span<const uint8_t, 32>(dpi.data(), 32), 72); },
       report({0x03, 0x02, 0x48, 0x00, 0x20, 0x00, 0xFA, 0xFA}, 64, dpi)},
      {"button table at 2448", [&](TuiHIDData& h) { return DeviceWriteButtonTable(h, std::span<const uint8_t, 65>(buttons.data(), 65), 2448); },
       report({0x04, 0x02, 0x90, 0x09, 0x41, 0x00, 0xFA, 0xFA}, 1024, buttons)},
      {"one byte at 64", [](TuiHIDData& h) { return DeviceWriteProfileSlot(h, 0x5C, 64); },
       report({0x02, 0x02, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA, 0x5C}, 16)},
      {"report rate byte", [](TuiHIDData& h) { return DeviceWriteReportRate(h, 0x21, 69); },
       report({0x02, 0x02, 0x45, 0x00, 0x01, 0x00, 0xFA, 0xFA, 0x21}, 16)},
      {"LED block at 4481", [&](TuiHIDData& h) { return DeviceWriteLed(h, led, 4481); },
       report({0x02, 0x02, 0x81, 0x11, 0x06, 0x00, 0xFA, 0xFA, 0x00, 0xFF, 0x00, 0x02, 0x03, 0x04}, 16)},
      {"wheel byte value 1 flag 1", [](TuiHIDData& h) { return DeviceWriteWheelLed(h, 1, 1, 62); },
       report({0x02, 0x02, 0x3E, 0x00, 0x01, 0x00, 0xFA, 0xFA, 0x81}, 16)},
      {"wheel byte value 0x85 flag 0", [](TuiHIDData& h) { return DeviceWriteWheelLed(h, int8_t(0x85), 0, 62); },
       report({0x02, 0x02, 0x3E, 0x00, 0x01, 0x00, 0xFA, 0xFA, 0x05}, 16)},
      {"wheel byte any non-zero flag is on", [](TuiHIDData& h) { return DeviceWriteWheelLed(h, 3, -1, 62); },
       report({0x02, 0x02, 0x3E, 0x00, 0x01, 0x00, 0xFA, 0xFA, 0x83}, 16)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    backend_->clearLog();
    EXPECT_EQ(c.send(*hid_), 0u);
    const auto log = backend_->log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, FakeHidBackend::Transfer::Kind::SetFeature);
    EXPECT_EQ(log[0].bytes, c.expected);
  }
}

TEST_F(DeviceProtocolTest, ReadsRequestInReportTwoAndFetchByLength) {
  memory_[64] = 0x01;
  for (int i = 0; i < 32; ++i) memory_[2376 + i] = uint8_t(0x40 + i);

  uint8_t value = 0;
  ASSERT_EQ(DeviceReadByte(*hid_, value, 64), 0u);
  EXPECT_EQ(value, 0x01);
  auto log = backend_->log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].bytes, report({0x02, 0x03, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}, 16));
  EXPECT_EQ(log[1].kind, FakeHidBackend::Transfer::Kind::GetFeature);
  ASSERT_EQ(log[1].bytes.size(), 16u);
  EXPECT_EQ(log[1].bytes[0], 0x02);
  EXPECT_EQ(log[1].bytes[8], 0x01);

  backend_->clearLog();
  std::array<uint8_t, 32> table{};
  ASSERT_EQ(DeviceReadCPITable(*hid_, table, 2376), 0u);
  log = backend_->log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].bytes, report({0x02, 0x03, 0x48, 0x09, 0x20, 0x00, 0xFA, 0xFA}, 16));
  ASSERT_EQ(log[1].bytes.size(), 64u);
  EXPECT_EQ(log[1].bytes[0], 0x03);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(table[i], 0x40 + i);
}

TEST_F(DeviceProtocolTest, ReadHoldsTheDeviceLockBetweenRequestAndFetch) {
  bool heldDuringFetch = false;
  auto answer = [this, &heldDuringFetch](const std::string& path, std::span<uint8_t> r) -> uint32_t {
    std::string error;
    // Another holder (the other program) cannot get in between.
    heldDuringFetch = !platform::DeviceLock::tryAcquire(path, error).held();
    r[8] = memory_[64];
    return 0;
  };
  backend_->setGetHandler(answer);
  uint8_t value = 0;
  ASSERT_EQ(DeviceReadByte(*hid_, value, 64), 0u);
  EXPECT_TRUE(heldDuringFetch);
  std::string error;
  EXPECT_TRUE(platform::DeviceLock::tryAcquire("fake:mouse", error).held()) << error;
}

TEST_F(DeviceProtocolTest, LargestReadFetchesReportFive) {
  std::vector<uint8_t> data(2040);
  ASSERT_EQ(DeviceReadBlock(*hid_, data.data(), 2040, 100), 0u);
  const auto log = backend_->log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].bytes, report({0x02, 0x03, 0x64, 0x00, 0xF8, 0x07, 0xFA, 0xFA}, 16));
  EXPECT_EQ(log[1].bytes.size(), 2048u);
  EXPECT_EQ(log[1].bytes[0], 0x05);
}

TEST_F(DeviceProtocolTest, OversizedOrOutOfRangeTransfersSendNothing) {
  std::vector<uint8_t> big(4096, 0x11);
  EXPECT_EQ(DeviceWriteBlock(*hid_, big.data(), 2049, 0), 87u);
  EXPECT_EQ(DeviceWriteBlock(*hid_, big.data(), 2, 65535), 87u);
  EXPECT_EQ(DeviceReadBlock(*hid_, big.data(), 2041, 0), 87u);
  EXPECT_EQ(DeviceReadBlock(*hid_, big.data(), 4, 65534), 87u);
  EXPECT_TRUE(backend_->log().empty());
  EXPECT_EQ(DeviceWriteBlock(*hid_, big.data(), 0, 100), 0u);  // nothing to write
  EXPECT_TRUE(backend_->log().empty());

  // The last byte of memory and a full 2048-byte block are fine.
  EXPECT_EQ(DeviceWriteBlock(*hid_, big.data(), 1, 65535), 0u);
  EXPECT_EQ(DeviceWriteBlock(*hid_, big.data(), 2048, 0), 0u);
  const auto log = backend_->log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].bytes.size(), 4096u);
  EXPECT_EQ(Bytes(log[1].bytes.begin(), log[1].bytes.begin() + 8),
            (Bytes{0x06, 0x02, 0x00, 0x00, 0x00, 0x08, 0xFA, 0xFA}));
}

TEST_F(DeviceProtocolTest, MacroImageWritesBlocksByLengthAndBlockFiveInFull) {
  std::array<uint8_t, 1940> image{};
  for (int b = 0; b < 5; ++b)
    for (int i = 0; i < 384; ++i) image[b * 384 + i] = uint8_t(0x10 * (b + 1) + (i & 0x0F));
  const uint32_t lengths[5] = {8, 0, 100, 384, 7};
  for (int b = 0; b < 5; ++b) image[1920 + 4 * b] = uint8_t(lengths[b]), image[1921 + 4 * b] = uint8_t(lengths[b] >> 8);

  for (int slot = 0; slot < 2; ++slot) {
    SCOPED_TRACE(slot);
    backend_->clearLog();
    ASSERT_EQ(slot == 0 ? DeviceWriteMacrosSlot0(*hid_, image) : DeviceWriteMacrosSlot1(*hid_, image), 0u);
    const auto log = backend_->log();
    ASSERT_EQ(log.size(), 4u);
    // Slot 0: 209 (D1 00), 977 (D1 03), 1361 (51 05), 1745 (D1 06).
    // Slot 1: 2513 (D1 09), 3281 (D1 0C), 3665 (51 0E), 4049 (D1 0F).
    const Bytes heads[2][4] = {
        {{0x02, 0x02, 0xD1, 0x00, 0x08, 0x00, 0xFA, 0xFA}, {0x04, 0x02, 0xD1, 0x03, 0x64, 0x00, 0xFA, 0xFA},
         {0x04, 0x02, 0x51, 0x05, 0x80, 0x01, 0xFA, 0xFA}, {0x04, 0x02, 0xD1, 0x06, 0x80, 0x01, 0xFA, 0xFA}},
        {{0x02, 0x02, 0xD1, 0x09, 0x08, 0x00, 0xFA, 0xFA}, {0x04, 0x02, 0xD1, 0x0C, 0x64, 0x00, 0xFA, 0xFA},
         {0x04, 0x02, 0x51, 0x0E, 0x80, 0x01, 0xFA, 0xFA}, {0x04, 0x02, 0xD1, 0x0F, 0x80, 0x01, 0xFA, 0xFA}}};
    const int blocks[4] = {0, 2, 3, 4};
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(Bytes(log[i].bytes.begin(), log[i].bytes.begin() + 8), heads[slot][i]) << i;
      EXPECT_EQ(log[i].bytes[8], 0x10 * (blocks[i] + 1)) << i;
    }
    // Block 5 is sent whole although its length says 7.
    EXPECT_EQ(log[3].bytes[8 + 383], 0x5F);
  }
}

TEST_F(DeviceProtocolTest, MacroLengthPastItsBlockIsRefusedBeforeSending) {
  std::array<uint8_t, 1940> image{};
  image[1920 + 4 * 2] = 0x81;  // block 3: 385 bytes
  image[1920 + 4 * 2 + 1] = 0x01;
  EXPECT_EQ(DeviceWriteMacrosSlot0(*hid_, image), 87u);
  EXPECT_TRUE(backend_->log().empty());
}

TEST_F(DeviceProtocolTest, CurrentCPIIndexFollowsTheActiveSlot) {
  struct Case {
    uint8_t slotByte;
    uint16_t tableAddress;
    uint8_t level;
    uint32_t code;
    int32_t index;
  } cases[] = {
      {0, 72, 3, 0, 3},
      {1, 2376, 9, 0, 9},
      {2, 2376, 5, 0, 5},                      // any non-zero slot byte is slot 1
      {0, 72, 10, kDeviceInvalidData, -7},     // level out of range: unchanged
      {1, 2376, 0xFF, kDeviceInvalidData, -7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.slotByte));
    memory_.fill(0);
    memory_[64] = c.slotByte;
    memory_[c.tableAddress + 1] = c.level;
    backend_->clearLog();
    int32_t index = -7;
    EXPECT_EQ(DeviceReadCurrentCPIIndex(*hid_, index), c.code);
    EXPECT_EQ(index, c.index);
    const auto log = backend_->log();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2].bytes, report({0x02, 0x03, uint8_t(c.tableAddress), uint8_t(c.tableAddress >> 8), 0x20, 0x00, 0xFA, 0xFA}, 16));
  }
}

TEST_F(DeviceProtocolTest, FailuresReachTheCallerAndLeaveDataAlone) {
  // Failed request: no fetch, buffer unchanged.
  setError_ = 31;
  uint8_t value = 0x77;
  EXPECT_EQ(DeviceReadByte(*hid_, value, 64), 31u);
  EXPECT_EQ(value, 0x77);
  EXPECT_EQ(backend_->log().size(), 1u);
  EXPECT_EQ(DeviceCommand6(*hid_, 0, 0), 31u);
  const std::array<uint8_t, 32> table{};
  EXPECT_EQ(DeviceWriteCPITable(*hid_, table, 72), 31u);

  // Failed fetch.
  setError_ = 0;
  getError_ = 1460;
  int32_t index = 4;
  EXPECT_EQ(DeviceReadCurrentCPIIndex(*hid_, index), 1460u);
  EXPECT_EQ(index, 4);

  // No mouse at all: nothing qualifies, never a silent success.
  backend_->setInterfaces({});
  backend_->clearLog();
  EXPECT_EQ(DeviceCommand6(*hid_, 0, 0), 1167u);
  EXPECT_EQ(DeviceReadByte(*hid_, value, 64), 1167u);
  EXPECT_EQ(value, 0x77);
  EXPECT_TRUE(backend_->log().empty());
}

}  // namespace

// The same reports observed on the real emulated mouse's wire log, and their
// effect on its memory.
namespace {

using platform::emu::Direction;

class EmulatorWireTest : public DeviceProtocolTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(runtime_.isValid());
    qputenv("MOUSE_RUNTIME_DIR", runtime_.filePath("run").toUtf8());
    ASSERT_TRUE(mouse_.start()) << mouse_.lastError();
    DeviceUsageAndPage = {1, 0xFFA0};
    hid_ = std::make_unique<TuiHIDData>(nullptr, platform::makeEmulatorHidBackend(mouse_.socketPath()),
                                        runtime_.filePath("absent-config.ini"));
    ASSERT_TRUE(mouse_.clearLog()) << mouse_.lastError();
  }

  // (direction, bytes) of the feature transfers since the last clear.
  std::vector<std::pair<Direction, Bytes>> wire() {
    std::vector<std::pair<Direction, Bytes>> out;
    for (const auto& e : mouse_.wireLog())
      if (e.direction != Direction::Input) out.emplace_back(e.direction, e.bytes);
    return out;
  }

  emulator::testing::EmulatorProcess mouse_;
};

TEST_F(EmulatorWireTest, CommandsOnTheWire) {
  const std::array<uint8_t, 2> notice = {1, 3};
  const std::array<uint8_t, 6> led = {0x00, 0xFF, 0x00, 0x02, 0x03, 0x04};
  ASSERT_EQ(DeviceCommand6(*hid_, 0, 0), 0u);
  ASSERT_EQ(DeviceCommand1(*hid_, notice), 0u);
  ASSERT_EQ(DeviceCommand4(*hid_, led), 0u);
  const auto w = wire();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[0], std::make_pair(Direction::SetFeature, report({0x02, 0x06, 0, 0, 0, 0, 0, 0}, 16)));
  EXPECT_EQ(w[1], std::make_pair(Direction::SetFeature, report({0x02, 0x01, 0x01, 0x03, 0, 0, 0, 0}, 16)));
  EXPECT_EQ(w[2], std::make_pair(Direction::SetFeature, report({0x02, 0x04, 0x00, 0xFF, 0x00, 0x02, 0x03, 0x00}, 16)));
  const auto latched = mouse_.led();
  ASSERT_TRUE(latched.has_value());
  EXPECT_EQ(*latched, (std::array<uint8_t, 5>{0x00, 0xFF, 0x00, 0x02, 0x03}));
}

TEST_F(EmulatorWireTest, TablesLandInMemory) {
  Bytes dpi(32), buttons(65);
  for (int i = 0; i < 32; ++i) dpi[i] = uint8_t(i == 1 ? 2 : 0x60 + i);
  for (int i = 0; i < 65; ++i) buttons[i] = uint8_t(0x80 + i);
  ASSERT_EQ(DeviceWriteCPITable(*hid_, std::span<const uint8_t, 32>(dpi.data(), 32), 72), 0u);
  ASSERT_EQ(DeviceWriteButtonTable(*hid_, std::span<const uint8_t, 65>(buttons.data(), 65), 2448), 0u);
  ASSERT_EQ(DeviceWriteWheelLed(*hid_, 1, 1, 62), 0u);
  const auto w = wire();
  ASSERT_EQ(w.size(), 3u);
  EXPECT_EQ(w[0].second, report({0x03, 0x02, 0x48, 0x00, 0x20, 0x00, 0xFA, 0xFA}, 64, dpi));
  EXPECT_EQ(w[1].second, report({0x04, 0x02, 0x90, 0x09, 0x41, 0x00, 0xFA, 0xFA}, 1024, buttons));
  EXPECT_EQ(w[2].second, report({0x02, 0x02, 0x3E, 0x00, 0x01, 0x00, 0xFA, 0xFA, 0x81}, 16));
  EXPECT_EQ(mouse_.peek(72, 32), dpi);
  EXPECT_EQ(mouse_.peek(2448, 65), buttons);
  EXPECT_EQ(mouse_.peek(62, 1), Bytes{0x81});
  ASSERT_EQ(DeviceWriteWheelLed(*hid_, int8_t(0x85), 0, 62), 0u);
  EXPECT_EQ(mouse_.peek(62, 1), Bytes{0x05});
}

TEST_F(EmulatorWireTest, ReadsOnTheWire) {
  ASSERT_TRUE(mouse_.poke(64, Bytes{0x01}));
  Bytes table(32);
  for (int i = 0; i < 32; ++i) table[i] = uint8_t(0x20 + i);
  ASSERT_TRUE(mouse_.poke(2376, table));
  ASSERT_TRUE(mouse_.clearLog());

  uint8_t slot = 0;
  ASSERT_EQ(DeviceReadByte(*hid_, slot, 64), 0u);
  EXPECT_EQ(slot, 1);
  std::array<uint8_t, 32> got{};
  ASSERT_EQ(DeviceReadCPITable(*hid_, got, 2376), 0u);
  EXPECT_EQ(Bytes(got.begin(), got.end()), table);

  const auto w = wire();
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(w[0], std::make_pair(Direction::SetFeature, report({0x02, 0x03, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}, 16)));
  EXPECT_EQ(w[1].first, Direction::GetFeature);
  ASSERT_EQ(w[1].second.size(), 16u);
  EXPECT_EQ(w[1].second[0], 0x02);
  EXPECT_EQ(w[1].second[8], 0x01);
  EXPECT_EQ(w[2], std::make_pair(Direction::SetFeature, report({0x02, 0x03, 0x48, 0x09, 0x20, 0x00, 0xFA, 0xFA}, 16)));
  ASSERT_EQ(w[3].second.size(), 64u);
  EXPECT_EQ(w[3].second[0], 0x03);
  EXPECT_EQ(Bytes(w[3].second.begin() + 8, w[3].second.begin() + 40), table);
}

TEST_F(EmulatorWireTest, CurrentLevelOfSlotByteTwoComesFromSlotOne) {
  ASSERT_TRUE(mouse_.poke(64, Bytes{0x02}));
  ASSERT_TRUE(mouse_.poke(73, Bytes{0x07}));
  ASSERT_TRUE(mouse_.poke(2377, Bytes{0x04}));
  int32_t index = -1;
  ASSERT_EQ(DeviceReadCurrentCPIIndex(*hid_, index), 0u);
  EXPECT_EQ(index, 4);
  ASSERT_TRUE(mouse_.poke(2377, Bytes{0x0A}));
  EXPECT_EQ(DeviceReadCurrentCPIIndex(*hid_, index), kDeviceInvalidData);
  EXPECT_EQ(index, 4);
}

TEST_F(EmulatorWireTest, MacroImageWithEmptySecondBlock) {
  std::array<uint8_t, 1940> image{};
  for (int b = 0; b < 5; ++b)
    for (int i = 0; i < 384; ++i) image[b * 384 + i] = uint8_t(0x11 * (b + 1));
  const uint32_t lengths[5] = {6, 0, 20, 384, 0};
  for (int b = 0; b < 5; ++b) image[1920 + 4 * b] = uint8_t(lengths[b]), image[1921 + 4 * b] = uint8_t(lengths[b] >> 8);
  ASSERT_TRUE(mouse_.poke(593, Bytes(4, 0xEE)));  // block 2's area stays as it was
  ASSERT_TRUE(mouse_.clearLog());
  ASSERT_EQ(DeviceWriteMacrosSlot0(*hid_, image), 0u);
  const auto w = wire();
  ASSERT_EQ(w.size(), 4u);
  EXPECT_EQ(Bytes(w[0].second.begin(), w[0].second.begin() + 8), (Bytes{0x02, 0x02, 0xD1, 0x00, 0x06, 0x00, 0xFA, 0xFA}));
  EXPECT_EQ(Bytes(w[1].second.begin(), w[1].second.begin() + 8), (Bytes{0x03, 0x02, 0xD1, 0x03, 0x14, 0x00, 0xFA, 0xFA}));
  EXPECT_EQ(Bytes(w[2].second.begin(), w[2].second.begin() + 8), (Bytes{0x04, 0x02, 0x51, 0x05, 0x80, 0x01, 0xFA, 0xFA}));
  EXPECT_EQ(Bytes(w[3].second.begin(), w[3].second.begin() + 8), (Bytes{0x04, 0x02, 0xD1, 0x06, 0x80, 0x01, 0xFA, 0xFA}));
  EXPECT_EQ(mouse_.peek(209, 6), Bytes(6, 0x11));
  EXPECT_EQ(mouse_.peek(593, 4), Bytes(4, 0xEE));
  EXPECT_EQ(mouse_.peek(1745, 384), Bytes(384, 0x55));
}

TEST_F(EmulatorWireTest, FailuresAndAMissingMouseReachTheCaller) {
  ASSERT_TRUE(mouse_.failNext(1));
  EXPECT_NE(DeviceCommand6(*hid_, 0, 0), 0u);
  EXPECT_EQ(DeviceCommand6(*hid_, 1, 0), 0u);
  ASSERT_TRUE(mouse_.unplug());
  uint8_t value = 0x33;
  EXPECT_EQ(DeviceReadByte(*hid_, value, 64), 1167u);
  EXPECT_EQ(value, 0x33);
  EXPECT_EQ(DeviceCommand6(*hid_, 0, 0), 1167u);
}

TEST(EmulatorTwoMice, SentToAllLastAnswerWins) {
  QTemporaryDir runtime;
  qputenv("MOUSE_RUNTIME_DIR", runtime.filePath("run").toUtf8());
  emulator::testing::EmulatorProcess mice({2, false, {}});
  ASSERT_TRUE(mice.start()) << mice.lastError();
  DeviceUsageAndPage = {1, 0xFFA0};
  TuiHIDData hid(nullptr, platform::makeEmulatorHidBackend(mice.socketPath()), runtime.filePath("none.ini"));
  ASSERT_TRUE(mice.poke(64, Bytes{0x00}, 0));
  ASSERT_TRUE(mice.poke(64, Bytes{0x01}, 1));
  uint8_t slot = 0xFF;
  ASSERT_EQ(DeviceReadByte(hid, slot, 64), 0u);
  EXPECT_EQ(slot, 1);
  ASSERT_EQ(DeviceWriteReportRate(hid, 0x42, 69), 0u);
  EXPECT_EQ(mice.peek(69, 1, 0), Bytes{0x42});
  EXPECT_EQ(mice.peek(69, 1, 1), Bytes{0x42});
}

}  // namespace
