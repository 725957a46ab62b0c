#include "device/ProfileEncoders.h"

#include <algorithm>

#include "device/uiKeyCode.h"

uint32_t MaxOf(uint32_t a, uint32_t b) { return a > b ? a : b; }

uint32_t NearestOf(uint32_t low, uint32_t high, uint32_t value) {
  const uint64_t toLow = value > low ? uint64_t(value) - low : uint64_t(low) - value;
  const uint64_t toHigh = value > high ? uint64_t(value) - high : uint64_t(high) - value;
  return toHigh < toLow ? high : low;
}

int NearestCPIStepIndex(int64_t value) {
  if (value <= int64_t(CPISteps.front())) return 0;
  if (value >= int64_t(CPISteps.back())) return kCpiStepCount - 1;
  const uint32_t v = uint32_t(value);
  for (int i = 0; i + 1 < kCpiStepCount; ++i) {
    if (CPISteps[i] <= v && v < CPISteps[i + 1])
      return NearestOf(CPISteps[i], CPISteps[i + 1], v) == CPISteps[i] ? i : i + 1;
  }
  return kCpiStepCount - 1;  // not reached: the steps ascend
}

uint32_t NearestCPIStep(int64_t value) { return CPISteps[size_t(NearestCPIStepIndex(value))]; }

int CPIStepCode(uint32_t x, uint32_t y) {
  if (x == 0 || y == 0) return 0;
  return NearestCPIStepIndex(MaxOf(x, y));
}

namespace {

int16_t RatePercent(uint32_t wanted, uint32_t step) {
  const uint64_t rate = uint64_t(wanted) * 100 / step;
  return int16_t(std::min<uint64_t>(rate, INT16_MAX));
}

}  // namespace

void CalcXYCpiRate(CPI_UNIT& unit) {
  for (int k = 0; k < kCpiUnitLevels; ++k) {
    const CPI_ITEM& hw = unit.HWCpi[k];
    const CPI_ITEM& st = unit.STCpi[k];
    XY& rate = unit.XYCpiRate[k];
    if (hw.X() != 0 && hw.Y() != 0) {
      rate.X = RatePercent(st.X(), hw.X());
      rate.Y = RatePercent(st.Y(), hw.Y());
    } else {
      rate.X = 0;
      rate.Y = 0;
    }
  }
}

// ---------------------------------------------------------------------------
// Byte images


namespace {

// A value that does not fit its byte is sent as 0 (no key, no parameter),
// never cut down to another, valid value: usage 548 would become the "7" key.
uint8_t FitByte(int64_t value) { return value >= 0 && value <= 0xFF ? uint8_t(value) : 0; }

uint8_t ClampByte(int64_t value, int64_t high) { return uint8_t(std::clamp<int64_t>(value, 0, high)); }

// The macros that get one of the mouse's five blocks: the distinct macro
// numbers of the macro buttons among buttons 0..9, in button order, first
// occurrence kept; a sixth distinct number gets none. Each block's macro is
// the first one of the profile's list with that number.
struct MacroBlocks {
  int count = 0;
  uint16_t number[kDeviceMacroBlocks] = {};
  const TMACROKEYINFO* macro[kDeviceMacroBlocks] = {};

  explicit MacroBlocks(const TMOUSEPROFILEINFO& profile) {
    const TMOUSECONFIGINFO& config = profile.ConfigInfo;
    for (int j = 0; j < 10 && count < kDeviceMacroBlocks; ++j) {
      const TBUTTONFUNCINFO& button = config.ButtonFuncInfo[j];
      if (button.FunctionType == kFunctionTypeMacro && !BlockOf(button.MacroInfo.nMacroIndex))
        number[count++] = button.MacroInfo.nMacroIndex;
    }
    const TMACROKEYINFOLIST& list = profile.MacroKeyInfoList;
    const int listCount = UsableMacroCount(list);
    for (int k = 0; k < count; ++k) {
      for (int i = 0; i < listCount; ++i) {
        if (list.MacroInfos[i].nMacroIndex == number[k]) {
          macro[k] = &list.MacroInfos[i];
          break;
        }
      }
    }
  }

  std::optional<int> BlockOf(uint16_t macroNumber) const {
    for (int k = 0; k < count; ++k)
      if (number[k] == macroNumber) return k;
    return std::nullopt;
  }
};

bool HasLoopStep(const TMACROKEYINFO& macro) {
  return macro.nLoopCount > 0 && UsableStepCount(macro) < kMacroBlockSteps;
}

// The "Disable" form of a button: media class, no key.
constexpr uint8_t kDisabledEntry[4] = {uint8_t(kFunctionClassMedia), 0, 0, 0};

}  // namespace

int MacroStepCount(const TMACROKEYINFO& macro) {
  return UsableStepCount(macro) + (HasLoopStep(macro) ? 1 : 0);
}

void EncodeMacroStep(uint32_t type, uint32_t state, uint32_t value1, uint32_t value2, std::span<uint8_t, 3> out) {
  out[0] = out[1] = out[2] = 0;
  // The top bit of the first byte is the state: a type above 127 has no room.
  if (type > 0x7F || value1 > 0xFF || value2 > 0xFF) return;
  uint32_t pressed;
  if (type == kMacroStepMouseButton || type == kMacroStepKeyboard || type == kMacroStepMedia) {
    // Key steps: everything but a press is a release, so no key is left down.
    pressed = state == kMacroKeyPress ? 1 : 0;
  } else {
    if (state > 1) return;
    pressed = state;
  }
  out[0] = uint8_t(type | (pressed << 7));
  if (type == kMacroStepKeyboard) {
    out[1] = FitByte(VKToHIDCode(value1, value2));
    out[2] = uint8_t(value2);
  } else if (type == kMacroStepDelay) {
    // Milliseconds to units of 10 ms, halves to the even neighbour.
    const uint32_t ms = value1 + 256 * value2;
    uint32_t units = ms / 10;
    const uint32_t rest = ms % 10;
    if (rest > 5 || (rest == 5 && (units & 1))) ++units;
    out[1] = uint8_t(units);
    out[2] = uint8_t(units >> 8);
  } else {
    out[1] = uint8_t(value1);
    out[2] = uint8_t(value2);
  }
}

TDroppedButtons BuildButtonTable(const TMOUSEPROFILEINFO& profile, std::span<uint8_t, kButtonTableSize> out) {
  std::fill(out.begin(), out.end(), uint8_t{0});
  const TMOUSECONFIGINFO& config = profile.ConfigInfo;
  // More than 15 would read the wheel entries as buttons and write past the table.
  const int count = ClampByte(config.ButtonCount, kButtonTableEntries);
  out[0] = uint8_t(count);
  const MacroBlocks blocks(profile);
  TDroppedButtons dropped = 0;

  for (int j = 0; j < count; ++j) {
    const TBUTTONFUNCINFO& b = config.ButtonFuncInfo[j];
    uint8_t* entry = out.data() + 1 + 4 * j;
    auto drop = [&] {
      std::copy(std::begin(kDisabledEntry), std::end(kDisabledEntry), entry);
      dropped |= TDroppedButtons(1u << j);
    };
    // A class that does not fit its byte would reach the mouse as another one.
    if (b.FunctionClass < 0 || b.FunctionClass > 0xFF) {
      drop();
      continue;
    }
    entry[0] = uint8_t(b.FunctionClass);
    uint8_t* p = entry + 1;
    switch (b.FunctionClass) {
      case kFunctionClassWheelUp:
      case kFunctionClassWheelDown:
        p[0] = FitByte(b.WheelValue);
        break;
      case kFunctionClassMedia:
        p[1] = FitByte(b.MediaCode.nKeyValue1);
        p[2] = FitByte(b.MediaCode.nKeyValue2);
        break;
      case kFunctionClassCombo:
        p[0] = ModifierToHIDModifier(uint8_t(b.ComboKey.nModifier));
        p[1] = FitByte(VKToHIDCode(b.ComboKey.nKeyValue1, b.ComboKey.nKey1Extended));
        p[2] = FitByte(VKToHIDCode(b.ComboKey.nKeyValue2, b.ComboKey.nKey2Extended));
        break;
      case kFunctionClassSingleKey:
        p[1] = FitByte(VKToHIDCode(b.SingleKey.nKeyValue1, b.SingleKey.nKey1Extended));
        break;
      case kFunctionClassMacro: {
        const std::optional<int> block = blocks.BlockOf(b.MacroInfo.nMacroIndex);
        if (!block || !blocks.macro[*block]) {
          drop();  // a sixth macro, or one the profile's list does not hold
          break;
        }
        // The length of what the block really holds, not the button's copy.
        const int bytes = 3 * MacroStepCount(*blocks.macro[*block]);
        p[0] = uint8_t(*block);
        p[1] = uint8_t(bytes);
        p[2] = uint8_t(bytes >> 8);
        break;
      }
      case kFunctionClassFireKey:
        p[0] = ClampByte(b.FireKey.nLoopCount, 0xFF);
        p[1] = uint8_t(b.FireKey.DelyValue);
        p[2] = uint8_t(b.FireKey.DelyValue >> 8);
        break;
      case kFunctionClassMicMute:
        std::copy(std::begin(b.MicMask), std::end(b.MicMask), p);
        break;
      default:
        break;
    }
  }
  return dropped;
}

void BuildMacroImage(const TMOUSEPROFILEINFO& profile, std::span<uint8_t, kMacroImageSize> out) {
  std::fill(out.begin(), out.end(), uint8_t{0});
  const MacroBlocks blocks(profile);
  for (int k = 0; k < blocks.count; ++k) {
    const TMACROKEYINFO* macro = blocks.macro[k];
    if (!macro) continue;
    uint8_t* block = out.data() + kMacroBlockSize * k;
    const int steps = UsableStepCount(*macro);
    for (int s = 0; s < steps; ++s) {
      const TMACROKEY& step = macro->MacroList[s];
      EncodeMacroStep(step.nKeyType, step.nKeyState, step.VALUE1, step.VALUE2,
                      std::span<uint8_t, 3>(block + 3 * s, 3));
    }
    if (HasLoopStep(*macro)) {
      uint8_t* loop = block + 3 * steps;
      loop[0] = kMacroStepLoop;
      loop[1] = uint8_t(macro->nLoopCount);
      loop[2] = uint8_t(macro->nLoopCount >> 8);
    }
    const uint32_t length = 3 * uint32_t(MacroStepCount(*macro));
    uint8_t* len = out.data() + kDeviceMacroBlocks * kMacroBlockSize + 4 * k;
    for (int i = 0; i < 4; ++i) len[i] = uint8_t(length >> (8 * i));
  }
}

void BuildCPITable(const TMOUSEPROFILEINFO& profile, std::span<uint8_t, kCpiTableSize> out) {
  std::fill(out.begin(), out.end(), uint8_t{0});
  const TMOUSECONFIGINFO& config = profile.ConfigInfo;
  out[0] = ClampByte(config.CPILevel, kCpiTableLevels);
  out[1] = ClampByte(config.CurrentCPIIndex, kCpiTableLevels - 1);
  for (int k = 0; k < kCpiTableLevels; ++k) {
    const TCPISTATE& level = config.CPIState[k];
    uint8_t* at = out.data() + 2 + 3 * k;
    if (level.State == 0) continue;  // disabled: 0 0 0
    const uint8_t code = uint8_t(CPIStepCode(level.X, level.Y) + 1);
    at[0] = 1;
    at[1] = code;
    at[2] = code;
  }
}

void PackLedConfig(uint8_t a, uint8_t b, uint8_t c, std::span<const uint8_t, kLedBlockSize> source,
                   std::span<uint8_t, kLedBlockSize> out) {
  const uint8_t tail[3] = {source[3], source[4], source[5]};
  out[0] = b;
  out[1] = c;
  out[2] = a;
  out[3] = tail[0];
  out[4] = tail[1];
  out[5] = tail[2];
}

void BuildLedBlock(const TMOUSEPROFILEINFO& profile, std::span<uint8_t, kLedBlockSize> out) {
  const TLEDCONFIG& led = profile.ConfigInfo.LEDConfig;
  const uint8_t source[kLedBlockSize] = {led.R, led.G, led.B, led.BRIGHT_LEVEL, led.BREATH_SPEED, led.BREATH_SECOND};
  PackLedConfig(uint8_t(255 - led.R), uint8_t(255 - led.G), uint8_t(255 - led.B), source, out);
}

uint8_t ReportRateCode(const TMOUSEPROFILEINFO& profile) {
  switch (profile.ConfigInfo.ReportRate) {
    case 1000: return 1;
    case 500: return 2;
    case 250: return 4;
    default: return 8;  // 125 Hz, also for a rate the mouse does not know
  }
}

bool SwapButtonFuncInfo(TMOUSEPROFILEINFO& profile, int i, int j) {
  if (i < 0 || i >= kButtonCount || j < 0 || j >= kButtonCount) return false;
  if (i == j) return true;
  // Byte copies, so reserved and padding bytes travel with their entry.
  auto a = ImageBytes(profile.ConfigInfo.ButtonFuncInfo[i]);
  auto b = ImageBytes(profile.ConfigInfo.ButtonFuncInfo[j]);
  std::swap_ranges(a.begin(), a.end(), b.begin());
  return true;
}
