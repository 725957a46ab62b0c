#include "monitor/uiStdCmd.h"

#include <cstring>

#include "platform/FilterDriverProtocol.h"

TuiSTDCommand::TuiSTDCommand(const QString& configIniPath, const std::string& driverDir)
    : FClient(platform::FilterDriverClient::deviceNameFromConfig(configIniPath), driverDir) {}

uint32_t TuiSTDCommand::DeviceRW(void* Buffer, uint32_t Count, uint32_t IoControlCode) {
  return FClient.deviceRW(Buffer, Count, IoControlCode);
}

namespace {

void put16(uint8_t* at, uint16_t v) {
  at[0] = uint8_t(v & 0xFF);
  at[1] = uint8_t(v >> 8);
}

void put32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

}  // namespace

std::array<uint8_t, sizeof(CPI_UNIT)> CpiUnitBytes(const CPI_UNIT& unit) {
  std::array<uint8_t, sizeof(CPI_UNIT)> b{};
  put16(&b[0], unit.password);
  put16(&b[2], unit.NeedApplyNewCPI);
  put16(&b[4], unit.ReportLength);
  b[6] = unit.X_LowByte;
  b[7] = unit.X_HighByte;
  b[8] = unit.Y_LowByte;
  b[9] = unit.Y_HighByte;
  put16(&b[10], uint16_t(unit.X_Counter));
  put16(&b[12], uint16_t(unit.Y_Counter));
  put16(&b[14], unit.CpiCount);
  put16(&b[16], unit.CurrentCpi);
  for (int i = 0; i < kCpiUnitLevels; ++i) {
    uint8_t* hw = &b[18 + 9 * size_t(i)];
    hw[0] = unit.HWCpi[i].Enabled();
    put32(hw + 1, unit.HWCpi[i].X());
    put32(hw + 5, unit.HWCpi[i].Y());
    uint8_t* st = &b[108 + 9 * size_t(i)];
    st[0] = unit.STCpi[i].Enabled();
    put32(st + 1, unit.STCpi[i].X());
    put32(st + 5, unit.STCpi[i].Y());
    uint8_t* rate = &b[198 + 4 * size_t(i)];
    put16(rate, uint16_t(unit.XYCpiRate[i].X));
    put16(rate + 2, uint16_t(unit.XYCpiRate[i].Y));
  }
  return b;
}

uint32_t SendCpiUnitToDriver(TFilterDriver& command, const CPI_UNIT& unit) {
  auto copy = CpiUnitBytes(unit);
  return command.DeviceRW(copy.data(), uint32_t(copy.size()), platform::kIoctlSetCpiUnit);
}

uint32_t SendCurrentCpiToDriver(TFilterDriver& command, uint16_t level) {
  uint8_t buffer[platform::kCurrentCpiSize] = {uint8_t(level & 0xFF), uint8_t(level >> 8)};
  return command.DeviceRW(buffer, sizeof buffer, platform::kIoctlSetCurrentCpi);
}
