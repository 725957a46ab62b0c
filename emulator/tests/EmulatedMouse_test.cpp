// The mouse model against reports written by hand from the wire format.

#include "emulator/EmulatedMouse.h"

#include <gtest/gtest.h>

#include <initializer_list>

using emulator::EmulatedMouse;

namespace {

// A feature report of `size` bytes starting with `head`, zero elsewhere.
std::vector<uint8_t> report(std::size_t size, std::initializer_list<uint8_t> head,
                            std::vector<uint8_t> payload = {}) {
  std::vector<uint8_t> r(size, 0);
  std::copy(head.begin(), head.end(), r.begin());
  std::copy(payload.begin(), payload.end(), r.begin() + 8);
  return r;
}

std::vector<uint8_t> mem(const EmulatedMouse& m, uint32_t a, uint32_t n) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(m.peek(a, n, out));
  return out;
}

}  // namespace

TEST(EmulatedMouse, FactoryImageHasBothDpiTablesAndSlotZero) {
  EmulatedMouse m;
  const std::vector<uint8_t> table = {4, 1, 1, 2, 2, 1, 4, 4, 1, 8, 8, 1, 16, 16, 0, 0,
                                      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  0,  0, 0};
  EXPECT_EQ(mem(m, 72, 32), table);
  EXPECT_EQ(mem(m, 2376, 32), table);
  EXPECT_EQ(mem(m, 64, 1), std::vector<uint8_t>{0});
  EXPECT_EQ(m.activeSlot(), 0);

  m.reset(true);
  EXPECT_EQ(mem(m, 72, 32), std::vector<uint8_t>(32, 0));
}

TEST(EmulatedMouse, WritesTheExampleReportsIntoMemory) {
  EmulatedMouse m(true);
  std::string why;
  // One byte v = 1 at 64: 02 02 40 00 01 00 FA FA 01, 16 bytes.
  EXPECT_TRUE(m.setFeature(report(16, {0x02, 0x02, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}, {0x01}),
                           why))
      << why;
  EXPECT_EQ(m.activeSlot(), 1);
  // The 32-byte DPI table at 72 in a 64-byte report 3.
  std::vector<uint8_t> table(32);
  for (int i = 0; i < 32; ++i) table[i] = uint8_t(0xA0 + i);
  EXPECT_TRUE(
      m.setFeature(report(64, {0x03, 0x02, 0x48, 0x00, 0x20, 0x00, 0xFA, 0xFA}, table), why))
      << why;
  EXPECT_EQ(mem(m, 72, 32), table);
  // The 65-byte button table at 2448 in a 1024-byte report 4.
  std::vector<uint8_t> buttons(65, 0x33);
  EXPECT_TRUE(
      m.setFeature(report(1024, {0x04, 0x02, 0x90, 0x09, 0x41, 0x00, 0xFA, 0xFA}, buttons), why))
      << why;
  EXPECT_EQ(mem(m, 2448, 65), buttons);
  EXPECT_EQ(mem(m, 2447, 1), std::vector<uint8_t>{0});
  EXPECT_EQ(mem(m, 2513, 1), std::vector<uint8_t>{0});
  // 2040 bytes fill report 5 exactly; 2041 need report 6.
  std::vector<uint8_t> big(2040, 0x5A);
  EXPECT_TRUE(
      m.setFeature(report(2048, {0x05, 0x02, 0x00, 0x10, 0xF8, 0x07, 0xFA, 0xFA}, big), why))
      << why;
  big.push_back(0x5A);
  EXPECT_TRUE(
      m.setFeature(report(4096, {0x06, 0x02, 0x00, 0x20, 0xF9, 0x07, 0xFA, 0xFA}, big), why))
      << why;
  EXPECT_EQ(mem(m, 0x2000, 2041), big);
  // The last byte of memory is writable.
  EXPECT_TRUE(
      m.setFeature(report(16, {0x02, 0x02, 0xFF, 0xFF, 0x01, 0x00, 0xFA, 0xFA}, {0x77}), why));
  EXPECT_EQ(mem(m, 65535, 1), std::vector<uint8_t>{0x77});
}

struct Refused {
  const char* name;
  std::vector<uint8_t> bytes;
};

class EmulatedMouseRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(EmulatedMouseRefuses, AndChangesNothing) {
  EmulatedMouse m;
  std::vector<uint8_t> before;
  ASSERT_TRUE(m.peek(0, 65536, before));
  std::string why;
  EXPECT_FALSE(m.setFeature(GetParam().bytes, why));
  EXPECT_FALSE(why.empty());
  std::vector<uint8_t> after;
  ASSERT_TRUE(m.peek(0, 65536, after));
  EXPECT_EQ(before, after);
  EXPECT_FALSE(m.readArmed());
  EXPECT_FALSE(m.led().has_value());
  EXPECT_TRUE(m.commands().empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadReports, EmulatedMouseRefuses,
    ::testing::Values(
        Refused{"Empty", {}},
        Refused{"InputReportId", report(16, {0x07, 0x06})},
        Refused{"ShortReport2", report(15, {0x02, 0x06})},
        Refused{"LongReport2", report(17, {0x02, 0x06})},
        Refused{"Report3SizeOf2", report(16, {0x03, 0x06})},
        Refused{"UnknownCommand", report(16, {0x02, 0x05})},
        Refused{"TopBitCommand", report(16, {0x02, 0x82, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA})},
        Refused{"WriteWithoutFillers", report(16, {0x02, 0x02, 0x40, 0x00, 0x01, 0x00, 0x00, 0x00},
                                              {1})},
        Refused{"WriteOneFiller", report(16, {0x02, 0x02, 0x40, 0x00, 0x01, 0x00, 0xFA, 0x00},
                                         {1})},
        Refused{"WriteZeroBytes", report(16, {0x02, 0x02, 0x40, 0x00, 0x00, 0x00, 0xFA, 0xFA})},
        Refused{"WriteInTooBigReport",
                report(64, {0x03, 0x02, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}, {1})},
        Refused{"WriteLongerThanReport",
                report(16, {0x02, 0x02, 0x40, 0x00, 0x09, 0x00, 0xFA, 0xFA})},
        Refused{"WritePastEnd", report(16, {0x02, 0x02, 0xFF, 0xFF, 0x02, 0x00, 0xFA, 0xFA},
                                       {1, 2})},
        Refused{"WriteGarbageAfterPayload",
                report(16, {0x02, 0x02, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}, {1, 0, 0, 0, 0, 9})},
        Refused{"ReadInReport3", report(64, {0x03, 0x03, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA})},
        Refused{"ReadZero", report(16, {0x02, 0x03, 0x40, 0x00, 0x00, 0x00, 0xFA, 0xFA})},
        Refused{"ReadPastEnd", report(16, {0x02, 0x03, 0xF0, 0xFF, 0x20, 0x00, 0xFA, 0xFA})},
        Refused{"ReadTooLongForAnyReport",
                report(16, {0x02, 0x03, 0x00, 0x00, 0xF9, 0x0F, 0xFA, 0xFA})},
        Refused{"ReadWithoutFillers", report(16, {0x02, 0x03, 0x40, 0x00, 0x01, 0x00, 0, 0})},
        Refused{"LedWithP6", report(16, {0x02, 0x04, 1, 2, 3, 4, 5, 6})},
        Refused{"LedInReport3", report(64, {0x03, 0x04, 1, 2, 3, 4, 5})},
        Refused{"FrameWithP3", report(16, {0x02, 0x06, 0, 0, 1})},
        Refused{"NoticeWithTrailingByte", report(16, {0x02, 0x01, 1, 3, 0, 0, 0, 0, 1})}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EmulatedMouse, ReadAnswersOnceInTheReportItsLengthSelects) {
  EmulatedMouse m;
  std::string why;
  std::vector<uint8_t> answer;
  EXPECT_FALSE(m.getFeature(2, 16, answer, why)) << "no read armed yet";

  // One byte at 64: request 02 03 40 00 01 00 FA FA, answer in report 2.
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x03, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}), why));
  EXPECT_FALSE(m.getFeature(3, 64, answer, why)) << "wrong report";
  EXPECT_FALSE(m.getFeature(2, 64, answer, why)) << "wrong size";
  ASSERT_TRUE(m.getFeature(2, 16, answer, why)) << why;
  EXPECT_EQ(answer, report(16, {0x02, 0x03, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}, {0x00}));
  EXPECT_FALSE(m.getFeature(2, 16, answer, why)) << "the answer is given once";

  // 32 bytes at 2376: answer in report 3, data in bytes 8..39.
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x03, 0x48, 0x09, 0x20, 0x00, 0xFA, 0xFA}), why));
  ASSERT_TRUE(m.getFeature(3, 64, answer, why)) << why;
  EXPECT_EQ(answer, report(64, {0x03, 0x03, 0x48, 0x09, 0x20, 0x00, 0xFA, 0xFA},
                           {4, 1, 1, 2, 2, 1, 4, 4, 1, 8, 8, 1, 16, 16}));

  // A second request replaces the first (one pending read, like the firmware).
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x03, 0x48, 0x00, 0x20, 0x00, 0xFA, 0xFA}), why));
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x03, 0x45, 0x00, 0x01, 0x00, 0xFA, 0xFA}), why));
  EXPECT_FALSE(m.getFeature(3, 64, answer, why));
  ASSERT_TRUE(m.getFeature(2, 16, answer, why));
  EXPECT_EQ(answer[8], 0x11);

  // An unplug forgets the pending read.
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x03, 0x40, 0x00, 0x01, 0x00, 0xFA, 0xFA}), why));
  m.powerCycle();
  EXPECT_FALSE(m.getFeature(2, 16, answer, why));
}

TEST(EmulatedMouse, LedCommandLatchesFiveBytes) {
  EmulatedMouse m;
  std::string why;
  EXPECT_FALSE(m.led().has_value());
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x04, 0x00, 0xFF, 0x00, 0x02, 0x03}), why)) << why;
  ASSERT_TRUE(m.led().has_value());
  EXPECT_EQ(*m.led(), (std::array<uint8_t, 5>{0x00, 0xFF, 0x00, 0x02, 0x03}));
  // The live LED is not stored in memory.
  EXPECT_EQ(mem(m, 2177, 6), (std::vector<uint8_t>{0, 0, 0, 2, 0, 0}));
}

TEST(EmulatedMouse, RecordsCommandsOneAndSixWithTheirFrame) {
  EmulatedMouse m;
  std::string why;
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x01, 0x01, 0x00}), why)) << why;
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x06, 0x00, 0x00}), why)) << why;
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x01, 0x01, 0x03}), why)) << why;
  ASSERT_TRUE(m.setFeature(report(16, {0x02, 0x06, 0x01, 0x00}), why)) << why;
  const auto& c = m.commands();
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0].code, 1);
  EXPECT_FALSE(c[0].framed);
  EXPECT_EQ(c[1].code, 6);
  EXPECT_FALSE(c[1].framed);
  EXPECT_EQ(c[2].code, 1);
  EXPECT_EQ(c[2].p1, 1);
  EXPECT_EQ(c[2].p2, 3);
  EXPECT_TRUE(c[2].framed);
  EXPECT_EQ(c[2].frameP1, 0);
  EXPECT_EQ(c[3].code, 6);
  EXPECT_EQ(c[3].p1, 1);
  EXPECT_TRUE(c[3].framed);
}

TEST(EmulatedMouse, InputReports) {
  EmulatedMouse m;
  std::string why;
  using R = std::vector<std::vector<uint8_t>>;
  EXPECT_EQ(m.press(1, why), (R{{7, 0x01, 0, 0, 0, 0, 0, 0}, {7, 0, 0, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(m.press(3, why), (R{{7, 0x04, 0, 0, 0, 0, 0, 0}, {7, 0, 0, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(m.press(10, why), (R{{7, 0, 0x02, 0, 0, 0, 0, 0}, {7, 0, 0, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(m.press(24, why), (R{{7, 0, 0, 0x80, 0, 0, 0, 0}, {7, 0, 0, 0, 0, 0, 0, 0}}));
  EXPECT_TRUE(m.press(0, why).empty());
  EXPECT_TRUE(m.press(25, why).empty());

  // A DPI change updates the active slot's current level.
  EXPECT_EQ(m.dpiLevel(3, why), (R{{8, 2, 3, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(mem(m, 73, 1), std::vector<uint8_t>{3});
  EXPECT_TRUE(m.dpiLevel(10, why).empty());

  EXPECT_EQ(m.modeSwitch(1, why), (R{{8, 1, 1, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(mem(m, 64, 1), std::vector<uint8_t>{1});
  EXPECT_EQ(m.dpiLevel(2, why), (R{{8, 2, 2, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(mem(m, 2377, 1), std::vector<uint8_t>{2});
  EXPECT_EQ(mem(m, 73, 1), std::vector<uint8_t>{3});
  EXPECT_TRUE(m.modeSwitch(2, why).empty());
}

TEST(EmulatedMouse, AnyNonZeroSlotByteIsSlotOne) {
  EmulatedMouse m;
  const uint8_t two = 2;
  ASSERT_TRUE(m.poke(64, std::span(&two, 1)));
  EXPECT_EQ(m.activeSlot(), 1);
  std::string why;
  m.dpiLevel(5, why);
  EXPECT_EQ(mem(m, 2377, 1), std::vector<uint8_t>{5});
}

TEST(EmulatedMouse, PeekAndPokeStayInsideMemory) {
  EmulatedMouse m;
  std::vector<uint8_t> out;
  EXPECT_TRUE(m.peek(0, 65536, out));
  EXPECT_TRUE(m.peek(65536, 0, out));
  EXPECT_FALSE(m.peek(65535, 2, out));
  EXPECT_FALSE(m.peek(70000, 1, out));
  const uint8_t b[2] = {1, 2};
  EXPECT_FALSE(m.poke(65535, b));
  EXPECT_TRUE(m.poke(65534, b));
}

TEST(EmulatedMouse, ReportDescriptorSizes) {
  // The descriptor ends its two top-level collections properly.
  const auto d = emulator::reportDescriptor();
  ASSERT_GT(d.size(), 10u);
  EXPECT_EQ(d.back(), 0xC0);
  EXPECT_EQ(emulator::featureReportFor(16), 2);
  EXPECT_EQ(emulator::featureReportFor(17), 3);
  EXPECT_EQ(emulator::featureReportFor(1024), 4);
  EXPECT_EQ(emulator::featureReportFor(1025), 5);
  EXPECT_EQ(emulator::featureReportFor(4096), 6);
  EXPECT_EQ(emulator::featureReportFor(4097), 0);
}
