#include "platform/FilterDriverProtocol.h"

#include "platform/RuntimeDir.h"

#include <cstdlib>
#include <sys/un.h>

namespace platform {

namespace {
constexpr std::uint8_t kMagic[4] = {'Z', 'D', 'R', 'V'};

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void put16(std::vector<std::uint8_t>& v, std::uint16_t x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(x >> (8 * i)));
}

bool nameCharOk(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}
}  // namespace

DriverParse parseDriverFrame(std::span<const std::uint8_t> data, DriverFrame& out,
                             std::size_t& consumed) {
  consumed = 0;
  // Judge every header byte as soon as it is there, so garbage is refused
  // without waiting for a full header.
  for (std::size_t i = 0; i < 4 && i < data.size(); ++i)
    if (data[i] != kMagic[i]) return DriverParse::Bad;
  if (data.size() < kDriverHeaderSize) return DriverParse::NeedMore;
  const std::uint8_t* p = data.data();
  if (get16(p + 4) != kDriverProtocolVersion) return DriverParse::Bad;
  const std::uint16_t kind = get16(p + 6);
  if (kind != static_cast<std::uint16_t>(DriverFrameKind::Request) &&
      kind != static_cast<std::uint16_t>(DriverFrameKind::Reply))
    return DriverParse::Bad;
  const std::uint32_t length = get32(p + 12);
  if (length > kDriverMaxPayload) return DriverParse::Bad;
  if (data.size() - kDriverHeaderSize < length) return DriverParse::NeedMore;
  out.kind = static_cast<DriverFrameKind>(kind);
  out.value = get32(p + 8);
  out.payload.assign(p + kDriverHeaderSize, p + kDriverHeaderSize + length);
  consumed = kDriverHeaderSize + length;
  return DriverParse::Complete;
}

std::vector<std::uint8_t> encodeDriverFrame(DriverFrameKind kind, std::uint32_t value,
                                            std::span<const std::uint8_t> payload) {
  if (payload.size() > kDriverMaxPayload) payload = payload.first(kDriverMaxPayload);
  std::vector<std::uint8_t> v;
  v.reserve(kDriverHeaderSize + payload.size());
  v.insert(v.end(), kMagic, kMagic + 4);
  put16(v, kDriverProtocolVersion);
  put16(v, static_cast<std::uint16_t>(kind));
  put32(v, value);
  put32(v, static_cast<std::uint32_t>(payload.size()));
  v.insert(v.end(), payload.begin(), payload.end());
  return v;
}

std::string driverSocketDir() {
  if (const char* dir = std::getenv("MOUSE_DRIVER_DIR"); dir && *dir) return dir;
  return runtimeDir();
}

std::string sanitizeDriverDeviceName(std::string_view name, std::string_view dir) {
  bool ok = !name.empty() && name != "." && name.find("..") == std::string_view::npos;
  for (char c : name) ok = ok && nameCharOk(c);
  // dir + '/' + name + NUL must fit sockaddr_un::sun_path.
  ok = ok && dir.size() + 1 + name.size() < sizeof(sockaddr_un::sun_path);
  return ok ? std::string(name) : std::string(kDefaultDriverDeviceName);
}

std::string driverSocketPath(std::string_view deviceName, std::string_view dir) {
  std::string path(dir);
  path += '/';
  path += sanitizeDriverDeviceName(deviceName, dir);
  return path;
}

}  // namespace platform
