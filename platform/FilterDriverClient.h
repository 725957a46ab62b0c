#pragma once
#include <QString>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The monitor's side of the filter driver: the Linux stand-in for opening the
// driver's control device and calling DeviceIoControl on it. Every request
// opens its own connection, as the control device was opened per request.
class FilterDriverClient {
 public:
  // deviceName as config.ini [DEVICE] DeviceName holds it (checked here);
  // dir defaults to driverSocketDir().
  explicit FilterDriverClient(std::string_view deviceName = {}, std::string dir = {});

  // [DEVICE] DeviceName of the config.ini at iniPath, default "zovadrv00001".
  static std::string deviceNameFromConfig(const QString& iniPath);

  // Sends code and the count bytes of buffer; copies the driver's answer back
  // over buffer, never more than count bytes. Returns 0 on success, 21 when
  // no driver listens, else the driver's status or a Windows error code
  // (13 bad reply, 87 buffer too large, 1460 no answer in time).
  std::uint32_t deviceRW(void* buffer, std::size_t count, std::uint32_t ioControlCode);

  const std::string& socketPath() const { return path_; }
  // For tests: how long a request may take in all.
  void setTimeout(std::chrono::milliseconds t) { timeout_ = t; }

 private:
  std::string path_;
  std::chrono::milliseconds timeout_{2000};
};

}  // namespace platform
