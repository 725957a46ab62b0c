#pragma once
// The mouse's DPI steps and the encoders that turn a profile into the byte
// images kept in each of the mouse's two profile slots.
//
// Every encoder is a pure function over a profile taken by const reference;
// it writes only its output and fills the whole of it. A profile may come
// from an imported file and hold any value: nothing it holds makes an encoder
// write outside its output or encode one key or function as another.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "device/pubunit_quindle.h"

// ---------------------------------------------------------------------------
// DPI steps

// The sixteen DPI values the sensor runs at; the mouse names step i by the
// code i + 1.
inline constexpr int kCpiStepCount = 16;
inline constexpr std::array<uint32_t, kCpiStepCount> CPISteps = {
    250, 500, 750, 1000, 1250, 1500, 1750, 2000, 2250, 2500, 2750, 3000, 3250, 3500, 3750, 4000};

// The larger of two values.
uint32_t MaxOf(uint32_t a, uint32_t b);
// `high` only when it is strictly nearer to `value` than `low`, else `low`.
uint32_t NearestOf(uint32_t low, uint32_t high, uint32_t value);
// The step nearest to `value` (250 for anything up to 250, 4000 from 4000
// on); a tie goes to the lower step: 375 gives 250, 376 gives 500.
uint32_t NearestCPIStep(int64_t value);
// The index 0..15 of NearestCPIStep(value).
int NearestCPIStepIndex(int64_t value);
// 0 when x or y is 0, else the step index of the larger of the two.
int CPIStepCode(uint32_t x, uint32_t y);

// Fills XYCpiRate of the filter driver's DPI table: for each of the ten
// levels, the wanted DPI (STCpi) in percent of the step the sensor runs at
// (HWCpi), 0 where that step is 0. Saturates at 32,767.
void CalcXYCpiRate(CPI_UNIT& unit);

// ---------------------------------------------------------------------------
// Byte images of one profile slot

inline constexpr size_t kButtonTableSize = 65;
inline constexpr size_t kMacroBlockSize = 384;
inline constexpr size_t kMacroImageSize = kDeviceMacroBlocks * kMacroBlockSize + 4 * kDeviceMacroBlocks;  // 1940
inline constexpr size_t kCpiTableSize = 32;
inline constexpr size_t kLedBlockSize = 6;
inline constexpr int kButtonTableEntries = 15;
inline constexpr int kCpiTableLevels = 10;

// The steps of a macro as the mouse receives them: at most 128, the loop step
// included. A loop step that would be the 129th is dropped.
inline constexpr int kMacroBlockSteps = kMacroBlockSize / 3;

// Buttons whose function could not be encoded and went to the mouse as
// "Disable" (class 14, 0 0 0) instead: bit j for button j.
using TDroppedButtons = uint16_t;

// The 65-byte button table: the count (0..15), then per button its function
// class and three parameters. A button that names a sixth distinct macro, a
// macro without a block or a class outside 0..255 is encoded as "Disable"
// and reported in the result.
TDroppedButtons BuildButtonTable(const TMOUSEPROFILEINFO& profile, std::span<uint8_t, kButtonTableSize> out);

// The 1940-byte macro image: five 384-byte blocks, then their five 32-bit
// lengths. Block k holds the macro with the k-th distinct macro number on
// buttons 0..9; unused bytes are zero.
void BuildMacroImage(const TMOUSEPROFILEINFO& profile, std::span<uint8_t, kMacroImageSize> out);

// The 32-byte DPI table: level count, active level, then per level its state
// and step codes for X and Y.
void BuildCPITable(const TMOUSEPROFILEINFO& profile, std::span<uint8_t, kCpiTableSize> out);

// result = [b, c, a, source[3], source[4], source[5]]. With a = 255 - R,
// b = 255 - G, c = 255 - B and the profile's LEDConfig as the source this is
// the device's LED block (colour inverted, in the order G, B, R).
void PackLedConfig(uint8_t a, uint8_t b, uint8_t c, std::span<const uint8_t, kLedBlockSize> source,
                   std::span<uint8_t, kLedBlockSize> out);
// The device's LED block of a profile.
void BuildLedBlock(const TMOUSEPROFILEINFO& profile, std::span<uint8_t, kLedBlockSize> out);

// The 4-bit report-rate code: 1000 Hz 1, 500 Hz 2, 250 Hz 4, anything else
// (125 Hz included) 8.
uint8_t ReportRateCode(const TMOUSEPROFILEINFO& profile);

// One macro step as the mouse takes it (3 bytes).
void EncodeMacroStep(uint32_t type, uint32_t state, uint32_t value1, uint32_t value2, std::span<uint8_t, 3> out);
// The number of steps of the macro's device block: its steps (0..128) plus the
// loop step when it has a loop count and there is room for it.
int MacroStepCount(const TMACROKEYINFO& macro);

// Exchanges two button entries; false (nothing changed) for an index outside 0..14.
bool SwapButtonFuncInfo(TMOUSEPROFILEINFO& profile, int i, int j);
