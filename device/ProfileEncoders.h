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
