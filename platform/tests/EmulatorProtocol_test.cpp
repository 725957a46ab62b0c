// Framing of the emulated mouse's socket: header bytes by hand, stream
// splitting, bounds, and the payload records.

#include "platform/EmulatorProtocol.h"

#include <gtest/gtest.h>

using namespace platform::emu;

namespace {

std::vector<Frame> decodeAll(const std::vector<uint8_t>& stream, std::size_t chunk,
                             bool* failed = nullptr) {
  FrameDecoder d;
  std::vector<Frame> out;
  std::span<const uint8_t> rest(stream);
  if (failed) *failed = false;
  while (!rest.empty()) {
    const auto piece = rest.first(std::min(chunk, rest.size()));
    std::span<const uint8_t> p = piece;
    while (!p.empty()) {
      p = p.subspan(d.feed(p));
      Frame f;
      FrameDecoder::Result r;
      while ((r = d.next(f)) == FrameDecoder::Result::Frame) out.push_back(f);
      if (r == FrameDecoder::Result::Error) {
        if (failed) *failed = true;
        return out;
      }
    }
    rest = rest.subspan(piece.size());
  }
  return out;
}

}  // namespace

TEST(EmulatorProtocol, HeaderLayout) {
  const std::vector<uint8_t> payload = {0xAA, 0xBB, 0xCC};
  const auto bytes = encodeFrame(Kind::Reply, 1, 4, 3, 0x01020304, payload);
  const std::vector<uint8_t> expected = {0x45, 0x4D, 0x02, 0x02, 0x01, 0x04, 0x03, 0x00,
                                         0x04, 0x03, 0x02, 0x01, 0x03, 0x00, 0x00, 0x00,
                                         0xAA, 0xBB, 0xCC};
  EXPECT_EQ(bytes, expected);
}

TEST(EmulatorProtocol, DecodesFramesWhateverTheChunking) {
  std::vector<uint8_t> stream;
  for (uint32_t i = 0; i < 5; ++i) {
    std::vector<uint8_t> payload(i * 7, uint8_t(i));
    const auto f = encodeFrame(Kind::Request, 2, uint8_t(i), 0, i + 1, payload);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  for (std::size_t chunk : {std::size_t(1), std::size_t(5), std::size_t(16), stream.size()}) {
    const auto frames = decodeAll(stream, chunk);
    ASSERT_EQ(frames.size(), 5u) << "chunk " << chunk;
    for (uint32_t i = 0; i < 5; ++i) {
      EXPECT_EQ(frames[i].header.seq, i + 1);
      EXPECT_EQ(frames[i].header.op, i);
      EXPECT_EQ(frames[i].header.kind, Kind::Request);
      EXPECT_EQ(frames[i].payload, std::vector<uint8_t>(i * 7, uint8_t(i)));
    }
  }
}

TEST(EmulatorProtocol, RefusesMalformedHeadersBeforeAllocating) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"bad magic", {0x45, 0x4E, 1, 1, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
      {"kind 0", {0x45, 0x4D, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
      {"kind 4", {0x45, 0x4D, 1, 4, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
      // kMaxPayload + 1 = 0x14001
      {"length over limit", {0x45, 0x4D, 1, 1, 1, 1, 0, 0, 1, 0, 0, 0, 0x01, 0x40, 0x01, 0x00}},
      {"length 4 GiB", {0x45, 0x4D, 1, 1, 1, 1, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const auto& c : cases) {
    bool failed = false;
    const auto frames = decodeAll(c.bytes, 3, &failed);
    EXPECT_TRUE(failed) << c.name;
    EXPECT_TRUE(frames.empty()) << c.name;
  }
  // The limit itself is fine.
  bool failed = false;
  std::vector<uint8_t> atLimit = {0x45, 0x4D, 1, 1, 1, 1, 0, 0, 1, 0, 0, 0, 0x00, 0x40, 0x01, 0x00};
  atLimit.resize(kHeaderSize + kMaxPayload);
  EXPECT_EQ(decodeAll(atLimit, 4096, &failed).size(), 1u);
  EXPECT_FALSE(failed);
}

TEST(EmulatorProtocol, OtherVersionsStillParseSoTheyCanBeAnswered) {
  auto bytes = encodeFrame(Kind::Request, 1, 1, 0, 9, {});
  bytes[2] = 2;
  const auto frames = decodeAll(bytes, 16);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].header.version, 2);
  EXPECT_EQ(frames[0].header.seq, 9u);
}

TEST(EmulatorProtocol, PayloadReaderStopsAtTheEnd) {
  const std::vector<uint8_t> bytes = {1, 2, 3, 0x02, 0x00, 9};
  PayloadReader r(bytes);
  uint16_t a = 0;
  uint8_t b = 0;
  EXPECT_TRUE(r.u16(a));
  EXPECT_EQ(a, 0x0201);
  EXPECT_TRUE(r.u8(b));
  std::vector<uint8_t> blob;
  EXPECT_FALSE(r.blob16(blob)) << "blob claims 2 bytes, 1 remains";
  EXPECT_FALSE(r.ok());
  EXPECT_FALSE(r.u8(b)) << "a failed reader stays failed";
}

TEST(EmulatorProtocol, DeviceInfoAndLogEntryRoundTrip) {
  DeviceInfo info;
  info.index = 1;
  info.vendorId = 0x1209;
  info.productId = 0x0001;
  info.releaseNumber = 0x0100;
  info.reportDescriptor = {0x05, 0x01, 0xC0};
  PayloadWriter w;
  writeDeviceInfo(w, info);
  EXPECT_EQ(w.data(), (std::vector<uint8_t>{1, 0x09, 0x12, 0x01, 0x00, 0x00, 0x01, 0, 1, 3, 0,
                                            0x05, 0x01, 0xC0}));
  PayloadReader r(w.data());
  DeviceInfo back;
  ASSERT_TRUE(readDeviceInfo(r, back));
  EXPECT_EQ(back.reportDescriptor, info.reportDescriptor);
  EXPECT_EQ(back.vendorId, 0x1209);

  LogEntry e;
  e.serial = 42;
  e.device = 1;
  e.direction = Direction::GetFeature;
  e.status = Status::Stalled;
  e.bytes = {2, 3};
  e.note = "why";
  e.timeUs = 1532204;
  PayloadWriter lw;
  writeLogEntry(lw, e);
  EXPECT_EQ(lw.data().size(), logEntryWireSize(e));
  PayloadReader lr(lw.data());
  LogEntry eb;
  ASSERT_TRUE(readLogEntry(lr, eb));
  EXPECT_TRUE(lr.atEnd());
  EXPECT_EQ(eb.serial, 42u);
  EXPECT_EQ(eb.direction, Direction::GetFeature);
  EXPECT_EQ(eb.status, Status::Stalled);
  EXPECT_EQ(eb.bytes, e.bytes);
  EXPECT_EQ(eb.note, "why");
  EXPECT_EQ(eb.timeUs, 1532204u);

  // A log entry with an unknown direction is refused.
  auto bad = lw.data();
  bad[9] = 7;
  PayloadReader br(bad);
  EXPECT_FALSE(readLogEntry(br, eb));
}

TEST(EmulatorProtocol, SocketPathFromEnvironment) {
  ::setenv("MOUSE_EMULATOR", "/tmp/x/m.sock", 1);
  EXPECT_EQ(defaultSocketPath(), "/tmp/x/m.sock");
  ::unsetenv("MOUSE_EMULATOR");
  ::setenv("XDG_RUNTIME_DIR", "/tmp/rt", 1);
  EXPECT_EQ(defaultSocketPath(), "/tmp/rt/mouse-emulator.sock");
}

TEST(EmulatorProtocol, ConnectFailsClearly) {
  std::string error;
  EXPECT_EQ(Connection::connect("/nonexistent-folder/none.sock", error), nullptr);
  EXPECT_NE(error.find("cannot connect"), std::string::npos);
  EXPECT_EQ(Connection::connect(std::string(200, 'a'), error), nullptr);
  EXPECT_NE(error.find("too long"), std::string::npos);
}
