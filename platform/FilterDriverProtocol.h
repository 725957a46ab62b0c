#pragma once
// The wire between the monitor and the mouse's filter driver, which on Linux
// is a Unix stream socket served by the emulated mouse (or a future helper).
// One connection carries one request and one reply:
//
//   header (16 bytes, little-endian)
//     0  magic   "ZDRV"
//     4  version u16 = 1
//     6  kind    u16: 1 request, 2 reply
//     8  value   u32: request: the I/O control code; reply: the status
//               (0 success, else a Windows error code)
//    12  length  u32: payload bytes that follow, at most kDriverMaxPayload
//   payload: request: the caller's buffer; reply: the driver's answer, which
//            the client copies back over the caller's buffer (never more
//            than the buffer holds).
//
// Both sides include this header, so the framing and the codes live here once.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Windows CTL_CODE: how the driver's I/O control codes are formed.
constexpr std::uint32_t ctlCode(std::uint32_t deviceType, std::uint32_t function,
                                std::uint32_t method, std::uint32_t access) {
  return (deviceType << 16) | (access << 14) | (function << 2) | method;
}

// Device type of the filter driver's control device.
constexpr std::uint32_t kDriverDeviceType = 0x8000;
// METHOD_BUFFERED: the same buffer goes in and comes back.
constexpr std::uint32_t kMethodBuffered = 0;
// FILE_ANY_ACCESS.
constexpr std::uint32_t kFileAnyAccess = 0;

// Sets the DPI table: the 238-byte CPI_UNIT record; the monitor sends it at
// start-up, after every settings change and (NeedApplyNewCPI 0) at exit.
constexpr std::uint32_t kIoctlSetCpiUnit = 0x80008004;
// Sets the current DPI level: 2 bytes, the level index, low byte first.
constexpr std::uint32_t kIoctlSetCurrentCpi = 0x8000800C;
static_assert(kIoctlSetCpiUnit == ctlCode(kDriverDeviceType, 0x2001, kMethodBuffered, kFileAnyAccess));
static_assert(kIoctlSetCurrentCpi == ctlCode(kDriverDeviceType, 0x2003, kMethodBuffered, kFileAnyAccess));

// Buffer sizes of the two I/O controls.
constexpr std::size_t kCpiUnitSize = 238;
constexpr std::size_t kCurrentCpiSize = 2;

// Windows status codes the client reports.
constexpr std::uint32_t kStatusSuccess = 0;
// ERROR_NOT_READY: no driver socket, or it refused the connection.
constexpr std::uint32_t kStatusNotReady = 21;
// ERROR_INVALID_DATA: the reply was not a valid frame.
constexpr std::uint32_t kStatusInvalidData = 13;
// ERROR_INVALID_PARAMETER: the caller's buffer is larger than a frame may carry.
constexpr std::uint32_t kStatusInvalidParameter = 87;
// ERROR_TIMEOUT: the driver did not answer in time.
constexpr std::uint32_t kStatusTimeout = 1460;

// Control device name when config.ini [DEVICE] DeviceName is missing or unusable.
constexpr std::string_view kDefaultDriverDeviceName = "zovadrv00001";

constexpr std::size_t kDriverHeaderSize = 16;
// Far above the largest control (238 bytes); bounds what either side allocates.
constexpr std::size_t kDriverMaxPayload = 4096;
constexpr std::uint16_t kDriverProtocolVersion = 1;

// What a frame is.
enum class DriverFrameKind : std::uint16_t {
  Request = 1,  // monitor -> driver: value is the I/O control code
  Reply = 2,    // driver -> monitor: value is the status
};

struct DriverFrame {
  DriverFrameKind kind = DriverFrameKind::Request;
  std::uint32_t value = 0;
  std::vector<std::uint8_t> payload;
};

enum class DriverParse {
  Complete,  // a whole frame; `consumed` bytes of the input were used
  NeedMore,  // valid so far, the frame is not complete yet
  Bad,       // not a frame of ours: the connection is to be closed
};

// Reads one frame from the start of `data`. Checks magic, version, kind and
// the length bound before it allocates anything.
DriverParse parseDriverFrame(std::span<const std::uint8_t> data, DriverFrame& out,
                             std::size_t& consumed);

// The bytes of one frame; payloads above kDriverMaxPayload are cut to it
// (callers check the size first).
std::vector<std::uint8_t> encodeDriverFrame(DriverFrameKind kind, std::uint32_t value,
                                            std::span<const std::uint8_t> payload);

// The folder of the driver socket: $MOUSE_DRIVER_DIR when set, else the
// per-user runtime folder. Both the client and the server use this.
std::string driverSocketDir();

// A name from config.ini made safe to use as a file name in that folder:
// only [A-Za-z0-9._-], not "." nor "..", no "..", not empty, short enough to
// fit sockaddr_un with the folder. Anything else gives kDefaultDriverDeviceName.
std::string sanitizeDriverDeviceName(std::string_view name, std::string_view dir);

// <dir>/<sanitised name>.
std::string driverSocketPath(std::string_view deviceName, std::string_view dir);
inline std::string driverSocketPath(std::string_view deviceName) {
  const std::string dir = driverSocketDir();
  return driverSocketPath(deviceName, dir);
}

}  // namespace platform
