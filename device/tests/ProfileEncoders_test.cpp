#include "device/ProfileEncoders.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kGuard = 0xA5;
constexpr size_t kGuardBytes = 32;

// An output buffer followed by guard bytes that no encoder may touch.
template <size_t N>
struct Guarded {
  Bytes buf = Bytes(N + kGuardBytes, kGuard);
  std::span<uint8_t, N> out() { return std::span<uint8_t, N>(buf.data(), N); }
  Bytes image() const { return Bytes(buf.begin(), buf.begin() + N); }
  Bytes slice(size_t at, size_t n) const { return Bytes(buf.begin() + at, buf.begin() + at + n); }
  bool guardsIntact() const {
    for (size_t i = N; i < buf.size(); ++i)
      if (buf[i] != kGuard) return false;
    return true;
  }
};

class Encoders : public testing::Test {
 protected:
  std::unique_ptr<TMOUSEPROFILEINFO> profile = NewZeroImage<TMOUSEPROFILEINFO>();
  TMOUSECONFIGINFO& config = profile->ConfigInfo;

  TBUTTONFUNCINFO& Button(int j, int32_t cls, uint8_t type = kFunctionTypeMouse) {
    TBUTTONFUNCINFO& b = config.ButtonFuncInfo[j];
    b.FunctionClass = cls;
    b.FunctionType = type;
    return b;
  }
  // A macro button whose own copy names macro `number`.
  TBUTTONFUNCINFO& MacroButton(int j, uint16_t number) {
    TBUTTONFUNCINFO& b = Button(j, kFunctionClassMacro, kFunctionTypeMacro);
    b.MacroInfo.nMacroIndex = number;
    return b;
  }
  // Puts a macro into the profile's list.
  TMACROKEYINFO& ListMacro(int slot, uint16_t number, std::vector<TMACROKEY> steps, uint16_t loops = 0) {
    TMACROKEYINFO& m = profile->MacroKeyInfoList.MacroInfos[slot];
    m.nMacroIndex = number;
    m.nLoopCount = loops;
    m.MacroListCount = int32_t(steps.size());
    for (size_t s = 0; s < steps.size(); ++s) m.MacroList[s] = steps[s];
    if (profile->MacroKeyInfoList.nMacroInfoCount <= slot) profile->MacroKeyInfoList.nMacroInfoCount = uint16_t(slot + 1);
    return m;
  }

  Guarded<kButtonTableSize> table;
  Guarded<kMacroImageSize> macros;
  Guarded<kCpiTableSize> cpi;

  TDroppedButtons ButtonTable() {
    const TDroppedButtons dropped = BuildButtonTable(*profile, table.out());
    EXPECT_TRUE(table.guardsIntact());
    return dropped;
  }
  void MacroImage() {
    BuildMacroImage(*profile, macros.out());
    EXPECT_TRUE(macros.guardsIntact());
  }
  Bytes Entry(int j) const { return table.slice(1 + 4 * j, 4); }
  Bytes Block(int k, size_t n) const { return macros.slice(384 * k, n); }
  Bytes Length(int k) const { return macros.slice(1920 + 4 * k, 4); }
};

// ---------------------------------------------------------------------------
// Button table

TEST_F(Encoders, MouseFunctionsOnly) {
  config.ButtonCount = 8;
  const int32_t classes[8] = {1, 2, 3, 5, 4, 8, 9, 10};
  for (int j = 0; j < 8; ++j) Button(j, classes[j]).ComboKey.nKeyValue1 = 65;  // ignored for these classes
  EXPECT_EQ(ButtonTable(), 0);
  Bytes expected(65, 0);
  expected[0] = 8;
  for (int j = 0; j < 8; ++j) expected[1 + 4 * j] = uint8_t(classes[j]);
  EXPECT_EQ(table.image(), expected);
}

TEST_F(Encoders, EntriesByClass) {
  config.ButtonCount = 9;
  Button(0, 16, kFunctionTypeSingleKey).SingleKey = {65, 0};                   // A
  Button(1, 15, kFunctionTypeCombo).ComboKey = {90, 0, 0, 0, 2 | 4};           // Ctrl+Shift+Z
  Button(2, 14, kFunctionTypeMedia).MediaCode = {233, 0, 0};                   // volume up
  Button(3, 18, kFunctionTypeFireKey).FireKey = {3, 300};
  TBUTTONFUNCINFO& mic = Button(4, kMicMuteFunctionClass, kFunctionTypeMicMute);
  mic.MicMask[0] = 0x10;
  Button(5, 11).WheelValue = 1;
  Button(6, 15, kFunctionTypeCombo).ComboKey = {13, 1, 46, 225, 1 | 8};        // Alt+Win, keypad Enter, Del
  Button(7, 14, kFunctionTypeMedia);                                           // "Disable"
  Button(8, 13).SingleKey = {65, 0};                                           // unknown class: no parameters
  EXPECT_EQ(ButtonTable(), 0);
  EXPECT_EQ(table.buf[0], 9);
  EXPECT_EQ(Entry(0), (Bytes{0x10, 0x00, 0x04, 0x00}));
  EXPECT_EQ(Entry(1), (Bytes{0x0F, 0x03, 0x1D, 0x00}));
  EXPECT_EQ(Entry(2), (Bytes{0x0E, 0x00, 0xE9, 0x00}));
  EXPECT_EQ(Entry(3), (Bytes{0x12, 0x03, 0x2C, 0x01}));
  EXPECT_EQ(Entry(4), (Bytes{0x13, 0x10, 0x00, 0x00}));
  EXPECT_EQ(Entry(5), (Bytes{0x0B, 0x01, 0x00, 0x00}));
  EXPECT_EQ(Entry(6), (Bytes{0x0F, 0x0C, 0x58, 0x4C}));
  EXPECT_EQ(Entry(7), (Bytes{0x0E, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Entry(8), (Bytes{0x0D, 0x00, 0x00, 0x00}));
  EXPECT_EQ(table.slice(37, 28), Bytes(28, 0));
}

// A HID usage or wheel value that does not fit its byte goes out as 0, not as
// the key its low byte would name (548 & 0xFF is the "7" key).
TEST_F(Encoders, WideUsagesBecomeNoKey) {
  config.ButtonCount = 5;
  Button(0, 16, kFunctionTypeSingleKey).SingleKey = {166, 1};             // browser back, 548
  Button(1, 15, kFunctionTypeCombo).ComboKey = {167, 1, 181, 1, 2};       // 549, 387
  Button(2, 14, kFunctionTypeMedia).MediaCode = {387, 0x1E2, 0};
  Button(3, 12).WheelValue = 300;
  Button(4, 11).WheelValue = -1;
  ButtonTable();
  EXPECT_EQ(Entry(0), (Bytes{0x10, 0, 0, 0}));
  EXPECT_EQ(Entry(1), (Bytes{0x0F, 0x01, 0, 0}));
  EXPECT_EQ(Entry(2), (Bytes{0x0E, 0, 0, 0}));
  EXPECT_EQ(Entry(3), (Bytes{0x0C, 0, 0, 0}));
  EXPECT_EQ(Entry(4), (Bytes{0x0B, 0, 0, 0}));
}

TEST_F(Encoders, ButtonCountIsClamped) {
  for (int32_t count : {16, 1000, INT32_MAX}) {
    config.ButtonCount = count;
    for (int j = 0; j < 15; ++j) Button(j, 1);
    config.VWheelButtonFuncInfo[0].FunctionClass = 16;  // would follow button 14
    ButtonTable();
    EXPECT_EQ(table.buf[0], 15);
    EXPECT_EQ(Entry(14), (Bytes{0x01, 0, 0, 0}));
  }
  for (int32_t count : {-1, INT32_MIN}) {
    config.ButtonCount = count;
    ButtonTable();
    EXPECT_EQ(table.image(), Bytes(65, 0));
  }
}

TEST_F(Encoders, ClassOutsideAByteIsDisabledAndReported) {
  config.ButtonCount = 3;
  Button(0, 273);  // would be 17, the macro class
  Button(1, -1);
  Button(2, 2);
  EXPECT_EQ(ButtonTable(), 0b011);
  EXPECT_EQ(Entry(0), (Bytes{0x0E, 0, 0, 0}));
  EXPECT_EQ(Entry(1), (Bytes{0x0E, 0, 0, 0}));
  EXPECT_EQ(Entry(2), (Bytes{0x02, 0, 0, 0}));
}

TEST_F(Encoders, FireKeyCountIsClamped) {
  config.ButtonCount = 1;
  Button(0, 18, kFunctionTypeFireKey).FireKey = {300, 10};
  ButtonTable();
  EXPECT_EQ(Entry(0), (Bytes{0x12, 0xFF, 0x0A, 0x00}));
}

// ---------------------------------------------------------------------------
// Macros

const TMACROKEY kPressA = {4, 1, 65, 0};
const TMACROKEY kDelay100 = {6, 0, 100, 0};
const TMACROKEY kReleaseA = {4, 0, 65, 0};

TEST_F(Encoders, ThreeStepMacroWithLoopOnTwoButtons) {
  config.ButtonCount = 7;
  ListMacro(0, 0, {kPressA, kDelay100, kReleaseA}, 5);
  MacroButton(2, 0);
  MacroButton(6, 0);
  EXPECT_EQ(ButtonTable(), 0);
  EXPECT_EQ(Entry(2), (Bytes{0x11, 0x00, 0x0C, 0x00}));
  EXPECT_EQ(Entry(6), (Bytes{0x11, 0x00, 0x0C, 0x00}));
  MacroImage();
  EXPECT_EQ(Block(0, 15), (Bytes{0x84, 0x04, 0x00, 0x06, 0x0A, 0x00, 0x04, 0x04, 0x00, 0x07, 0x05, 0x00, 0, 0, 0}));
  EXPECT_EQ(Length(0), (Bytes{12, 0, 0, 0}));
  for (int k = 1; k < 5; ++k) EXPECT_EQ(Length(k), Bytes(4, 0));
  EXPECT_EQ(macros.slice(384, 1536), Bytes(1536, 0));
}

TEST_F(Encoders, BlocksFollowButtonOrderNotListOrder) {
  config.ButtonCount = 4;
  ListMacro(0, 2, {kPressA});
  ListMacro(1, 4, {kReleaseA, kReleaseA});
  MacroButton(1, 4);
  MacroButton(3, 2);
  ButtonTable();
  EXPECT_EQ(Entry(1), (Bytes{0x11, 0x00, 0x06, 0x00}));
  EXPECT_EQ(Entry(3), (Bytes{0x11, 0x01, 0x03, 0x00}));
  MacroImage();
  EXPECT_EQ(Block(0, 7), (Bytes{0x04, 0x04, 0x00, 0x04, 0x04, 0x00, 0}));
  EXPECT_EQ(Block(1, 4), (Bytes{0x84, 0x04, 0x00, 0}));
  EXPECT_EQ(Length(0), (Bytes{6, 0, 0, 0}));
  EXPECT_EQ(Length(1), (Bytes{3, 0, 0, 0}));
}

TEST_F(Encoders, SixthDistinctMacroHasNoBlockAndIsReported) {
  config.ButtonCount = 6;
  for (uint16_t n = 0; n < 6; ++n) {
    ListMacro(n, n, {kPressA});
    MacroButton(n, n);
  }
  EXPECT_EQ(ButtonTable(), 1 << 5);
  for (int j = 0; j < 5; ++j) EXPECT_EQ(Entry(j), (Bytes{0x11, uint8_t(j), 0x03, 0x00}));
  EXPECT_EQ(Entry(5), (Bytes{0x0E, 0, 0, 0}));
  MacroImage();
  for (int k = 0; k < 5; ++k) EXPECT_EQ(Length(k), (Bytes{3, 0, 0, 0}));
}

TEST_F(Encoders, MacroFirstSeenAfterButtonNineHasNoBlock) {
  config.ButtonCount = 12;
  ListMacro(0, 0, {kPressA});
  ListMacro(1, 1, {kPressA, kPressA});
  MacroButton(0, 0);
  MacroButton(11, 1);  // would take position 1, where the image has no macro
  MacroButton(10, 0);  // already has a block: fine
  EXPECT_EQ(ButtonTable(), 1 << 11);
  EXPECT_EQ(Entry(10), (Bytes{0x11, 0x00, 0x03, 0x00}));
  EXPECT_EQ(Entry(11), (Bytes{0x0E, 0, 0, 0}));
  MacroImage();
  EXPECT_EQ(Length(1), Bytes(4, 0));
}

TEST_F(Encoders, MacroMissingFromTheListIsDisabled) {
  config.ButtonCount = 1;
  ListMacro(0, 3, {kPressA});
  MacroButton(0, 9);
  EXPECT_EQ(ButtonTable(), 1);
  EXPECT_EQ(Entry(0), (Bytes{0x0E, 0, 0, 0}));
}

// The count word of an imported profile can say anything; the list has 21
// slots, and what lies behind them must never be taken for a macro.
TEST_F(Encoders, MacroCountIsClampedToTheList) {
  config.ButtonCount = 1;
  ListMacro(0, 1, {kPressA});
  profile->MacroKeyInfoList.nMacroInfoCount = 65535;
  TMACROKEYINFO& behind = profile->MacroInfoToDevice.MacroInfos[0];  // "slot 21" if overrun
  behind.nMacroIndex = 7;
  behind.MacroListCount = 1;
  behind.MacroList[0] = kPressA;
  MacroButton(0, 7);
  EXPECT_EQ(ButtonTable(), 1);
  MacroImage();
  EXPECT_EQ(macros.image(), Bytes(kMacroImageSize, 0));
}

TEST_F(Encoders, FirstMacroWithANumberWins) {
  config.ButtonCount = 1;
  ListMacro(0, 1, {kPressA, kReleaseA});
  ListMacro(1, 1, {kReleaseA, kReleaseA, kReleaseA, kReleaseA});
  MacroButton(0, 1);
  ButtonTable();
  EXPECT_EQ(Entry(0), (Bytes{0x11, 0x00, 0x06, 0x00}));
  MacroImage();
  EXPECT_EQ(Block(0, 7), (Bytes{0x84, 0x04, 0x00, 0x04, 0x04, 0x00, 0x00}));
  EXPECT_EQ(Length(0), (Bytes{6, 0, 0, 0}));
}

TEST_F(Encoders, MacroLengthComesFromTheEncodedMacro) {
  config.ButtonCount = 1;
  ListMacro(0, 0, {kPressA, kDelay100, kReleaseA});
  TBUTTONFUNCINFO& b = MacroButton(0, 0);
  b.MacroInfo.MacroListCount = 50;  // a stale copy
  b.MacroInfo.nLoopCount = 9;
  ButtonTable();
  EXPECT_EQ(Entry(0), (Bytes{0x11, 0x00, 0x09, 0x00}));
}

TEST_F(Encoders, OverlongMacroStaysInItsBlock) {
  // Block 4 is the last before the length words: a step or loop past 128
  // would overwrite them.
  config.ButtonCount = 5;
  for (uint16_t n = 0; n < 5; ++n) MacroButton(n, n);
  for (uint16_t n = 0; n < 4; ++n) ListMacro(n, n, {});
  TMACROKEYINFO& big = ListMacro(4, 4, {}, 3);
  for (TMACROKEY& s : big.MacroList) s = kReleaseA;
  big.MacroListCount = 1000;
  EXPECT_EQ(MacroStepCount(big), 128);
  EXPECT_EQ(ButtonTable(), 0);
  EXPECT_EQ(Entry(4), (Bytes{0x11, 0x04, 0x80, 0x01}));
  MacroImage();
  EXPECT_EQ(Block(4, 3), (Bytes{0x04, 0x04, 0x00}));
  EXPECT_EQ(macros.slice(384 * 4 + 381, 3), (Bytes{0x04, 0x04, 0x00}));
  EXPECT_EQ(Length(0), (Bytes{0, 0, 0, 0}));
  EXPECT_EQ(Length(4), (Bytes{0x80, 0x01, 0, 0}));

  // 127 steps leave room for the loop step as the 128th.
  big.MacroListCount = 127;
  EXPECT_EQ(MacroStepCount(big), 128);
  MacroImage();
  EXPECT_EQ(macros.slice(384 * 4 + 381, 3), (Bytes{0x07, 0x03, 0x00}));
  EXPECT_EQ(Length(4), (Bytes{0x80, 0x01, 0, 0}));

  big.MacroListCount = -5;
  EXPECT_EQ(MacroStepCount(big), 1);
  MacroImage();
  EXPECT_EQ(Block(4, 4), (Bytes{0x07, 0x03, 0x00, 0}));
  EXPECT_EQ(Length(4), (Bytes{3, 0, 0, 0}));
}

struct StepCase {
  uint32_t type, state, v1, v2;
  Bytes expected;
};

TEST(MacroSteps, Encoding) {
  const StepCase cases[] = {
      // Delays in units of 10 ms, halves to the even neighbour.
      {6, 0, 5, 0, {0x06, 0x00, 0x00}},
      {6, 0, 15, 0, {0x06, 0x02, 0x00}},
      {6, 0, 25, 0, {0x06, 0x02, 0x00}},
      {6, 0, 0xE8, 0x03, {0x06, 0x64, 0x00}},    // 1000 ms
      {6, 0, 0xED, 0x03, {0x06, 0x64, 0x00}},    // 1005 ms
      {6, 0, 0xF7, 0x03, {0x06, 0x66, 0x00}},    // 1015 ms
      {6, 1, 0xE8, 0x03, {0x86, 0x64, 0x00}},
      {6, 0, 0xFF, 0xFF, {0x06, 0x9A, 0x19}},    // 65535 ms: 6553.5 -> 6554
      {6, 2, 100, 0, {0x00, 0x00, 0x00}},        // no state of a delay
      // Keys: the usage and the extended flag.
      {4, 1, 13, 1, {0x84, 0x58, 0x01}},
      {4, 0, 13, 0, {0x04, 0x28, 0x00}},
      {4, 1, 166, 1, {0x84, 0x00, 0x01}},        // usage 548 does not fit
      // Every state but a press releases a key.
      {4, 2, 65, 0, {0x04, 0x04, 0x00}},
      {1, 0xFFFF, 1, 0, {0x01, 0x01, 0x00}},
      {5, 3, 0xE9, 0x00, {0x05, 0xE9, 0x00}},
      {5, 1, 0x23, 0x02, {0x85, 0x23, 0x02}},     // media usages pass as two bytes
      // A type that collides with the state bit is no step.
      {128, 0, 1, 0, {0, 0, 0}},
      {200, 1, 1, 0, {0, 0, 0}},
      {2, 1, 7, 9, {0x82, 0x07, 0x09}},
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << "/" << c.state << "/" << c.v1 << "/" << c.v2);
    Guarded<3> out;
    EncodeMacroStep(c.type, c.state, c.v1, c.v2, out.out());
    EXPECT_EQ(out.image(), c.expected);
    EXPECT_TRUE(out.guardsIntact());
  }
}

// ---------------------------------------------------------------------------
// DPI

TEST(CpiSteps, NearestStep) {
  const std::pair<int64_t, uint32_t> cases[] = {
      {375, 250}, {376, 500}, {625, 500}, {626, 750}, {3875, 3750}, {4200, 4000}, {100, 250},
      {400, 500}, {800, 750}, {0, 250},   {-7, 250},  {4000, 4000}, {250, 250},   {UINT32_MAX + 5LL, 4000}};
  for (auto [value, step] : cases) {
    EXPECT_EQ(NearestCPIStep(value), step) << value;
    EXPECT_EQ(CPISteps[size_t(NearestCPIStepIndex(value))], step) << value;
  }
  EXPECT_EQ(CPISteps[0], 250u);
  EXPECT_EQ(CPISteps[15], 4000u);
  EXPECT_EQ(NearestOf(250, 500, 375), 250u);
  EXPECT_EQ(MaxOf(3, 9), 9u);
  EXPECT_EQ(CPIStepCode(0, 800), 0);
  EXPECT_EQ(CPIStepCode(400, 800), 2);
}

TEST_F(Encoders, CpiTable) {
  config.CPILevel = 4;
  config.CurrentCPIIndex = 1;
  config.CPIState[0] = {500, 500, 1};
  config.CPIState[1] = {750, 750, 1};
  config.CPIState[2] = {1500, 1500, 1};
  config.CPIState[3] = {3500, 3500, 1};
  config.CPIState[4] = {1000, 1000, 0};  // disabled: no codes
  BuildCPITable(*profile, cpi.out());
  EXPECT_TRUE(cpi.guardsIntact());
  Bytes expected = {0x04, 0x01, 0x01, 0x02, 0x02, 0x01, 0x03, 0x03, 0x01, 0x06, 0x06, 0x01, 0x0E, 0x0E};
  expected.resize(32, 0);
  EXPECT_EQ(cpi.image(), expected);
}

TEST_F(Encoders, CpiLevelCodes) {
  const std::pair<TCPISTATE, Bytes> cases[] = {
      {{400, 400, 1}, {1, 2, 2}},   {{800, 800, 1}, {1, 3, 3}},    {{4200, 4200, 1}, {1, 16, 16}},
      {{100, 100, 1}, {1, 1, 1}},   {{625, 625, 1}, {1, 2, 2}},    {{400, 1600, 1}, {1, 6, 6}},
      {{0, 1600, 1}, {1, 1, 1}},    {{1600, 1600, 7}, {1, 6, 6}},  {{1600, 1600, 0}, {0, 0, 0}},
  };
  for (const auto& [level, bytes] : cases) {
    config.CPIState[9] = level;
    BuildCPITable(*profile, cpi.out());
    EXPECT_EQ(cpi.slice(29, 3), bytes) << level.X << "/" << level.Y << "/" << level.State;
  }
}

TEST_F(Encoders, CpiCountersAreClamped) {
  config.CPILevel = 20;
  config.CurrentCPIIndex = 15;
  BuildCPITable(*profile, cpi.out());
  EXPECT_EQ(cpi.slice(0, 2), (Bytes{10, 9}));
  config.CPILevel = 0xFFFF;
  config.CurrentCPIIndex = -1;
  BuildCPITable(*profile, cpi.out());
  EXPECT_EQ(cpi.slice(0, 2), (Bytes{10, 0}));
}

TEST(CpiRate, PercentOfTheStep) {
  CPI_UNIT u;
  ZeroImage(u);
  u.HWCpi[0].SetX(800);
  u.HWCpi[0].SetY(800);
  u.STCpi[0].SetX(1000);
  u.STCpi[0].SetY(400);
  u.HWCpi[1].SetX(0);  // no step: 0
  u.HWCpi[1].SetY(800);
  u.STCpi[1].SetX(1000);
  u.STCpi[1].SetY(1000);
  u.XYCpiRate[1] = {5, 5};
  u.HWCpi[2].SetX(1);  // would overflow 32 bits and the 16-bit field
  u.HWCpi[2].SetY(3);
  u.STCpi[2].SetX(UINT32_MAX);
  u.STCpi[2].SetY(900);
  CalcXYCpiRate(u);
  EXPECT_EQ(u.XYCpiRate[0].X, 125);
  EXPECT_EQ(u.XYCpiRate[0].Y, 50);
  EXPECT_EQ(u.XYCpiRate[1].X, 0);
  EXPECT_EQ(u.XYCpiRate[1].Y, 0);
  EXPECT_EQ(u.XYCpiRate[2].X, 32767);
  EXPECT_EQ(u.XYCpiRate[2].Y, 30000);
}

// ---------------------------------------------------------------------------
// LED, rate, swap

TEST_F(Encoders, LedBlock) {
  config.LEDConfig = {255, 0, 0, 2, 2, 0};
  Guarded<kLedBlockSize> led;
  BuildLedBlock(*profile, led.out());
  EXPECT_EQ(led.image(), (Bytes{0xFF, 0xFF, 0x00, 0x02, 0x02, 0x00}));
  EXPECT_TRUE(led.guardsIntact());

  config.LEDConfig = {0x10, 0x20, 0x30, 4, 5, 6};
  BuildLedBlock(*profile, led.out());
  EXPECT_EQ(led.image(), (Bytes{0xDF, 0xCF, 0xEF, 4, 5, 6}));

  const uint8_t source[6] = {9, 9, 9, 7, 8, 1};
  PackLedConfig(1, 2, 3, source, led.out());
  EXPECT_EQ(led.image(), (Bytes{2, 3, 1, 7, 8, 1}));
}

TEST_F(Encoders, ReportRate) {
  auto second = NewZeroImage<TMOUSEPROFILEINFO>();
  config.ReportRate = 1000;
  second->ConfigInfo.ReportRate = 125;
  EXPECT_EQ(ReportRateCode(*profile) | ReportRateCode(*second) << 4, 0x81);
  const std::pair<uint16_t, uint8_t> cases[] = {{125, 8}, {250, 4}, {500, 2}, {1000, 1}, {0, 8}, {300, 8}, {65535, 8}};
  for (auto [rate, code] : cases) {
    config.ReportRate = rate;
    EXPECT_EQ(ReportRateCode(*profile), code) << rate;
  }
}

TEST_F(Encoders, SwapCarriesEveryByte) {
  config.ButtonFuncInfo[0].FunctionClass = 1;
  config.ButtonFuncInfo[0].padding3757[1] = 0x5C;
  config.ButtonFuncInfo[0].reserved928[100] = 0x11;
  config.ButtonFuncInfo[14].FunctionClass = 2;
  EXPECT_TRUE(SwapButtonFuncInfo(*profile, 0, 14));
  EXPECT_EQ(config.ButtonFuncInfo[0].FunctionClass, 2);
  EXPECT_EQ(config.ButtonFuncInfo[14].FunctionClass, 1);
  EXPECT_EQ(config.ButtonFuncInfo[14].padding3757[1], 0x5C);
  EXPECT_EQ(config.ButtonFuncInfo[14].reserved928[100], 0x11);
  EXPECT_EQ(config.ButtonFuncInfo[0].reserved928[100], 0);
  EXPECT_FALSE(SwapButtonFuncInfo(*profile, 0, 15));
  EXPECT_FALSE(SwapButtonFuncInfo(*profile, -1, 3));
  EXPECT_EQ(config.ButtonFuncInfo[0].FunctionClass, 2);
}

}  // namespace
