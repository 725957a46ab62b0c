#include "device/pubunit_quindle.h"

namespace {

constexpr std::array<TDeviceFunction, kDeviceFunctionCount> MakeDeviceFunctionTable() {
  std::array<TDeviceFunction, kDeviceFunctionCount> t{};
  constexpr int32_t head[7][2] = {{1, 1}, {2, 2}, {3, 3}, {5, 4}, {4, 5}, {16, 6}, {15, 7}};
  for (int i = 0; i < 7; ++i) t[i] = {i, head[i][0], head[i][1]};
  for (int i = 7; i <= 14; ++i) t[i] = {i, kFunctionClassCombo, 801 + (i - 7)};   // "Basic"
  for (int i = 15; i <= 20; ++i) t[i] = {i, kFunctionClassCombo, 901 + (i - 15)};  // "Advanced"
  for (int i = 21; i <= 27; ++i) t[i] = {i, kFunctionClassMedia, 1001 + (i - 21)};  // "Media"
  t[28] = {28, kFunctionClassMacro, 11};
  t[29] = {29, kFunctionClassDpiSwitch, 12};
  t[30] = {30, kFunctionClassDpiUp, 13};
  t[31] = {31, kFunctionClassDpiDown, 14};
  t[32] = {32, kFunctionClassFireKey, 15};
  t[33] = {33, kFunctionClassMedia, 16};  // "Disable": media class, all-zero code
  t[kMicMuteFunctionIndex] = {kMicMuteFunctionIndex, kMicMuteFunctionClass, kMicMuteMenuId};
  return t;
}

constexpr std::array<TButtonMask, kButtonMaskCount> MakeButtonMaskTable() {
  std::array<TButtonMask, kButtonMaskCount> t{};
  for (int j = 0; j < kButtonMaskCount; ++j) {
    const uint32_t mask = uint32_t{1} << j;
    t[j] = {kButtonReportId, uint8_t(mask), uint8_t(mask >> 8), uint8_t(mask >> 16)};
  }
  return t;
}

}  // namespace

constinit const std::array<TDeviceFunction, kDeviceFunctionCount> DeviceFunctionTable =
    MakeDeviceFunctionTable();

constinit const std::array<TButtonMask, kButtonMaskCount> ButtonMaskTable = MakeButtonMaskTable();

constinit const std::array<std::u16string_view, kProgramIdentityCount> ProgramIdentity = {
    u"TMarvaneMain", u"Marvane.exe",  u"Gaming Mouse Config", u"TTessoldMain",
    u"tessold.exe",  u"Gaming Mouse Monitor", u"Gaming Mouse Driver",
};

std::optional<TDeviceFunction> DeviceFunctionOf(int64_t functionIndex) {
  if (functionIndex < 0 || functionIndex >= kDeviceFunctionCount) return std::nullopt;
  return DeviceFunctionTable[size_t(functionIndex)];
}

std::optional<int32_t> FunctionClassOf(int64_t functionIndex) {
  if (auto row = DeviceFunctionOf(functionIndex)) return row->FunctionClass;
  return std::nullopt;
}

std::optional<int32_t> MenuIdOfFunction(int64_t functionIndex) {
  if (auto row = DeviceFunctionOf(functionIndex)) return row->MenuId;
  return std::nullopt;
}

std::optional<int32_t> FunctionOfMenuId(int64_t menuId) {
  for (const TDeviceFunction& row : DeviceFunctionTable)
    if (row.MenuId == menuId) return row.FunctionIndex;
  return std::nullopt;
}

std::optional<TButtonMask> ButtonMaskOf(int64_t button) {
  if (button < 0 || button >= kButtonMaskCount) return std::nullopt;
  return ButtonMaskTable[size_t(button)];
}

std::optional<std::u16string_view> ProgramIdentityOf(int64_t index) {
  if (index < 0 || index >= kProgramIdentityCount) return std::nullopt;
  return ProgramIdentity[size_t(index)];
}

std::u16string_view CutText(std::u16string_view text, size_t maxUnits) {
  if (text.size() <= maxUnits) return text;
  size_t n = maxUnits;
  // Never keep the high half of a pair whose low half is cut away.
  if (n > 0 && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF && text[n] >= 0xDC00 && text[n] <= 0xDFFF) --n;
  return text.substr(0, n);
}
