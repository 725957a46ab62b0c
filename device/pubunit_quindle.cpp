#include "device/pubunit_quindle.h"

#include "device/uiKeyCode.h"

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

THID_CODE_INFO MakeHIDCodeInfo(uint16_t modifier, uint16_t key1, uint16_t key1Extended, uint16_t key2,
                               uint16_t key2Extended) {
  return {uint16_t(VKToHIDCode(key1, key1Extended)), uint16_t(VKToHIDCode(key2, key2Extended)), modifier};
}

TCOMBOKEYINFO MakeComboKeyInfo(uint16_t modifier, uint16_t key1, uint16_t key1Extended, uint16_t key2,
                               uint16_t key2Extended) {
  return {key1, key1Extended, key2, key2Extended, modifier};
}

namespace {

struct PresetKey {
  uint16_t systemModifier;  // Alt 1, Ctrl 2, Shift 4, Win 8
  uint16_t key;
  uint16_t extended;
};

constexpr PresetKey kOffice[] = {{2, 'X', 0}, {2, 'C', 0}, {2, 'V', 0}, {2, 'A', 0},
                                 {2, 'F', 0}, {2, 'N', 0}, {2, 'P', 0}, {2, 'S', 0}};
constexpr PresetKey kSystem[] = {{1, 9, 0}, {1, 115, 0}, {8, 'E', 0}, {8, 'R', 0}, {8, 'D', 0}, {8, 'L', 0}};
constexpr PresetKey kMedia[] = {{0, 179, 1}, {0, 178, 1}, {0, 177, 1}, {0, 176, 1},
                                {0, 175, 1}, {0, 174, 1}, {0, 173, 1}, {0, 181, 1}};

struct PresetTables {
  std::array<TCOMBOKEYINFO, kPresetRows> officeCombo{}, systemCombo{}, mediaCombo{};
  std::array<THID_CODE_INFO, kPresetRows> officeHid{}, systemHid{}, mediaHid{};
};

template <size_t N>
void FillPreset(const PresetKey (&keys)[N], std::array<TCOMBOKEYINFO, kPresetRows>& combo,
                std::array<THID_CODE_INFO, kPresetRows>& hid) {
  for (size_t i = 0; i < N; ++i) {
    const PresetKey& k = keys[i];
    combo[i] = MakeComboKeyInfo(k.systemModifier, k.key, k.extended, 0, 0);
    hid[i] = MakeHIDCodeInfo(ModifierToHIDModifier(uint8_t(k.systemModifier)), k.key, k.extended, 0, 0);
  }
}

const PresetTables& Presets() {
  static const PresetTables tables = [] {
    PresetTables t;
    FillPreset(kOffice, t.officeCombo, t.officeHid);
    FillPreset(kSystem, t.systemCombo, t.systemHid);
    FillPreset(kMedia, t.mediaCombo, t.mediaHid);
    return t;
  }();
  return tables;
}

template <class T>
bool CopyRow(const std::array<T, kPresetRows>& table, int64_t index, T& out) {
  if (index < 0 || index >= kPresetRows) return false;
  out = table[size_t(index)];
  return true;
}

}  // namespace

const std::array<TCOMBOKEYINFO, kPresetRows>& OfficeComboKeys() { return Presets().officeCombo; }
const std::array<TCOMBOKEYINFO, kPresetRows>& SystemComboKeys() { return Presets().systemCombo; }
const std::array<TCOMBOKEYINFO, kPresetRows>& MediaComboKeys() { return Presets().mediaCombo; }
const std::array<THID_CODE_INFO, kPresetRows>& OfficeHIDCodes() { return Presets().officeHid; }
const std::array<THID_CODE_INFO, kPresetRows>& SystemHIDCodes() { return Presets().systemHid; }
const std::array<THID_CODE_INFO, kPresetRows>& MediaHIDCodes() { return Presets().mediaHid; }

bool GetMediaHIDCodeInfo(int64_t index, THID_CODE_INFO& out) { return CopyRow(MediaHIDCodes(), index, out); }
bool GetOfficeComboKeyInfo(int64_t index, TCOMBOKEYINFO& out) { return CopyRow(OfficeComboKeys(), index, out); }
bool GetSystemComboKeyInfo(int64_t index, TCOMBOKEYINFO& out) { return CopyRow(SystemComboKeys(), index, out); }
