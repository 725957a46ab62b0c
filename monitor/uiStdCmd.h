#pragma once
// TuiSTDCommand: the monitor's road to the mouse's filter driver. It reads
// the control device's name from config.ini [DEVICE] DeviceName and performs
// one I/O control per request (platform::FilterDriverClient: a Unix socket in
// the driver folder stands for the control device).
//
// Also here: the byte image of CPI_UNIT as the driver reads it and the two
// senders of the monitor, SendCpiUnitToDriver and SendCurrentCpiToDriver.
//
// The driver's installation, service, version and reader operations of the
// Windows component are not carried over: no filter-driver model exists on
// Linux and nothing in the programs calls them.

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/pubunit_quindle.h"
#include "platform/FilterDriverClient.h"

// What the monitor needs of the filter driver; tests may record instead.
class TFilterDriver {
 public:
  virtual ~TFilterDriver() = default;
  // Sends Count bytes of Buffer with the I/O control code; the driver's
  // answer is copied back over Buffer (never more than Count bytes).
  // 0 on success, 21 (ERROR_NOT_READY) without a driver, else an error code.
  virtual uint32_t DeviceRW(void* Buffer, uint32_t Count, uint32_t IoControlCode) = 0;
};

class TuiSTDCommand : public TFilterDriver {
 public:
  // configIniPath: the config.ini beside the executable; driverDir: the
  // folder of the driver socket (empty: $MOUSE_DRIVER_DIR or the runtime folder).
  explicit TuiSTDCommand(const QString& configIniPath, const std::string& driverDir = {});

  uint32_t DeviceRW(void* Buffer, uint32_t Count, uint32_t IoControlCode) override;

  // The socket that stands for "\\.\" + DeviceName.
  const std::string& DevicePath() const { return FClient.socketPath(); }

 private:
  platform::FilterDriverClient FClient;
};

// The 238 bytes of the table exactly as the driver reads them (packed,
// little-endian): marker at 0, CurrentCpi at 16, HWCpi from 18, STCpi from
// 108, XYCpiRate from 198.
std::array<uint8_t, sizeof(CPI_UNIT)> CpiUnitBytes(const CPI_UNIT& unit);

// Sends a copy of the table (I/O control 0x80008004); what the driver writes
// back stays in the copy. The result is DeviceRW's.
uint32_t SendCpiUnitToDriver(TFilterDriver& command, const CPI_UNIT& unit);
// Sends the level as two bytes, low byte first (I/O control 0x8000800C).
uint32_t SendCurrentCpiToDriver(TFilterDriver& command, uint16_t level);
