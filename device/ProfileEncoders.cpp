#include "device/ProfileEncoders.h"

#include <algorithm>

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
