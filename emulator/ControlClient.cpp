#include "emulator/ControlClient.h"

#include <cstdio>

namespace emulator {

bool ControlClient::connect(const std::string& socketPath, std::string& error) {
  conn_ = emu::Connection::connect(socketPath, error);
  return conn_ != nullptr;
}

bool ControlClient::call(emu::ControlOp op, std::span<const uint8_t> payload,
                         emu::Connection::Reply& reply, std::string& error) {
  if (!conn_) {
    error = "not connected to the emulated mouse";
    return false;
  }
  if (!conn_->call(emu::Endpoint::Control, uint8_t(op), payload, reply, error)) return false;
  if (reply.status != emu::Status::Ok) {
    error = emu::statusText(reply.status);
    return false;
  }
  return true;
}

bool ControlClient::deviceCount(int& count, std::string& error) {
  emu::Connection::Reply reply;
  if (!call(emu::ControlOp::Info, {}, reply, error)) return false;
  emu::PayloadReader r(reply.payload);
  uint8_t n = 0;
  if (!r.u8(n) || !r.atEnd()) {
    error = "malformed answer";
    return false;
  }
  count = n;
  return true;
}

bool ControlClient::peek(int device, uint16_t address, uint32_t length, std::vector<uint8_t>& out,
                         std::string& error) {
  emu::PayloadWriter w;
  w.u8(uint8_t(device)).u16(address).u32(length);
  emu::Connection::Reply reply;
  if (!call(emu::ControlOp::Peek, w.data(), reply, error)) return false;
  if (reply.payload.size() != length) {
    error = "malformed answer";
    return false;
  }
  out = std::move(reply.payload);
  return true;
}

bool ControlClient::poke(int device, uint16_t address, std::span<const uint8_t> bytes,
                         std::string& error) {
  emu::PayloadWriter w;
  w.u8(uint8_t(device)).u16(address).u32(uint32_t(bytes.size())).bytes(bytes);
  emu::Connection::Reply reply;
  return call(emu::ControlOp::Poke, w.data(), reply, error);
}

bool ControlClient::sendValue(emu::ControlOp op, int device, int value, int low, int high, const char* range,
                              std::string& error) {
  if (value < low || value > high) {
    error = range;
    return false;
  }
  const uint8_t payload[] = {uint8_t(device), uint8_t(value)};
  emu::Connection::Reply reply;
  return call(op, payload, reply, error);
}

bool ControlClient::press(int device, int button, std::string& error) {
  return sendValue(emu::ControlOp::Press, device, button, 1, 24, "button must be 1..24", error);
}

bool ControlClient::dpi(int device, int level, std::string& error) {
  return sendValue(emu::ControlOp::Dpi, device, level, 0, 9, "DPI level must be 0..9", error);
}

bool ControlClient::mode(int device, int slot, std::string& error) {
  return sendValue(emu::ControlOp::Mode, device, slot, 0, 1, "slot must be 0 or 1", error);
}

bool ControlClient::rawInput(int device, std::span<const uint8_t> report, std::string& error) {
  emu::PayloadWriter w;
  w.u8(uint8_t(device)).blob16(report);
  emu::Connection::Reply reply;
  return call(emu::ControlOp::RawInput, w.data(), reply, error);
}

bool ControlClient::unplug(int device, std::string& error) {
  emu::Connection::Reply reply;
  const uint8_t d = uint8_t(device);
  return call(emu::ControlOp::Unplug, std::span(&d, 1), reply, error);
}

bool ControlClient::plug(int device, std::string& error) {
  emu::Connection::Reply reply;
  const uint8_t d = uint8_t(device);
  return call(emu::ControlOp::Plug, std::span(&d, 1), reply, error);
}

bool ControlClient::failNext(int device, uint32_t count, std::string& error) {
  emu::PayloadWriter w;
  w.u8(uint8_t(device)).u32(count);
  emu::Connection::Reply reply;
  return call(emu::ControlOp::FailNext, w.data(), reply, error);
}

bool ControlClient::reset(int device, bool blank, std::string& error) {
  emu::Connection::Reply reply;
  const uint8_t payload[] = {uint8_t(device), uint8_t(blank ? 1 : 0)};
  return call(emu::ControlOp::Reset, payload, reply, error);
}

bool ControlClient::log(std::vector<emu::LogEntry>& out, std::string& error) {
  out.clear();
  uint64_t from = 0;
  for (;;) {
    emu::PayloadWriter w;
    w.u64(from);
    emu::Connection::Reply reply;
    if (!call(emu::ControlOp::ReadLog, w.data(), reply, error)) return false;
    emu::PayloadReader r(reply.payload);
    uint32_t count = 0;
    if (!r.u32(count)) {
      error = "malformed log page";
      return false;
    }
    if (count == 0) return r.atEnd();
    for (uint32_t i = 0; i < count; ++i) {
      emu::LogEntry e;
      if (!emu::readLogEntry(r, e) || e.serial < from) {
        error = "malformed log page";
        return false;
      }
      from = e.serial + 1;
      out.push_back(std::move(e));
    }
  }
}

bool ControlClient::driverLog(std::vector<DriverRequest>& out, std::string& error) {
  out.clear();
  uint64_t from = 0;
  for (;;) {
    emu::PayloadWriter w;
    w.u64(from);
    emu::Connection::Reply reply;
    if (!call(emu::ControlOp::DriverLog, w.data(), reply, error)) return false;
    emu::PayloadReader r(reply.payload);
    uint32_t count = 0;
    if (!r.u32(count)) {
      error = "malformed driver log page";
      return false;
    }
    if (count == 0) return r.atEnd();
    for (uint32_t i = 0; i < count; ++i) {
      DriverRequest e;
      if (!r.u64(e.serial) || !r.u32(e.code) || !r.blob16(e.bytes) || e.serial < from) {
        error = "malformed driver log page";
        return false;
      }
      from = e.serial + 1;
      out.push_back(std::move(e));
    }
  }
}

bool ControlClient::clearLog(std::string& error) {
  emu::Connection::Reply reply;
  return call(emu::ControlOp::ClearLog, {}, reply, error);
}

bool ControlClient::led(int device, std::optional<std::array<uint8_t, 5>>& out,
                        std::string& error) {
  emu::Connection::Reply reply;
  const uint8_t d = uint8_t(device);
  if (!call(emu::ControlOp::Led, std::span(&d, 1), reply, error)) return false;
  if (reply.payload.size() != 6 || reply.payload[0] > 1) {
    error = "malformed answer";
    return false;
  }
  out.reset();
  if (reply.payload[0]) {
    std::array<uint8_t, 5> v{};
    std::copy(reply.payload.begin() + 1, reply.payload.end(), v.begin());
    out = v;
  }
  return true;
}

bool ControlClient::commands(int device, std::vector<CommandRecord>& out, std::string& error) {
  emu::Connection::Reply reply;
  const uint8_t d = uint8_t(device);
  if (!call(emu::ControlOp::Commands, std::span(&d, 1), reply, error)) return false;
  emu::PayloadReader r(reply.payload);
  uint32_t count = 0;
  if (!r.u32(count) || std::size_t(count) * 6 != reply.payload.size() - 4) {
    error = "malformed answer";
    return false;
  }
  out.clear();
  for (uint32_t i = 0; i < count; ++i) {
    CommandRecord c;
    uint8_t framed = 0;
    r.u8(c.code);
    r.u8(c.p1);
    r.u8(c.p2);
    r.u8(c.frameP1);
    r.u8(c.frameP2);
    r.u8(framed);
    c.framed = framed != 0;
    out.push_back(c);
  }
  return true;
}

const char* directionName(emu::Direction direction) {
  switch (direction) {
    case emu::Direction::SetFeature: return "set";
    case emu::Direction::GetFeature: return "get";
    case emu::Direction::Input: return "in";
  }
  return "?";
}

std::string formatLed(const std::array<uint8_t, 5>& led) {
  const LedColour c = ledColourShown(led[0], led[1], led[2]);
  return hexBytes(led) + "  (R G B " + std::to_string(c.r) + " " + std::to_string(c.g) + " " +
         std::to_string(c.b) + ")";
}

std::string hexBytes(std::span<const uint8_t> bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  s.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 0xF];
  }
  return s;
}

std::string formatLogEntry(const emu::LogEntry& e) {
  char time[40];
  std::snprintf(time, sizeof time, "t=%llu.%03llu ", static_cast<unsigned long long>(e.timeUs / 1000),
                static_cast<unsigned long long>(e.timeUs % 1000));
  std::string line = time + std::to_string(e.serial) + " mouse " + std::to_string(e.device) + " " +
                     directionName(e.direction) + " ";
  line += e.status == emu::Status::Ok ? std::string("ok") : emu::statusText(e.status);
  line += " [" + std::to_string(e.bytes.size()) + "] " + hexBytes(e.bytes);
  if (!e.note.empty()) line += " (" + e.note + ")";
  return line;
}

std::string formatDriverRequest(const DriverRequest& r) {
  char code[16];
  std::snprintf(code, sizeof code, "%08X", r.code);
  std::string line = code;
  if (!r.bytes.empty()) {
    line += ' ';
    line += hexBytes(r.bytes);
  }
  return line;
}

bool ControlClient::inputEvent(const emu::InputEvent& event, bool timeGiven, bool& swallowed,
                               std::string& error) {
  emu::PayloadWriter w;
  w.u8(timeGiven ? 1 : 0);
  emu::writeInputEvent(w, event);
  emu::Connection::Reply reply;
  if (!call(emu::ControlOp::InputEvent, w.data(), reply, error)) return false;
  emu::PayloadReader r(reply.payload);
  uint8_t v = 0;
  if (!r.u8(v) || !r.atEnd() || v > 1) {
    error = "malformed answer";
    return false;
  }
  swallowed = v == 1;
  return true;
}

bool ControlClient::inputLog(std::vector<emu::InputEvent>& out, std::string& error) {
  emu::Connection::Reply reply;
  if (!call(emu::ControlOp::InputLog, {}, reply, error)) return false;
  emu::PayloadReader r(reply.payload);
  uint32_t count = 0;
  if (!r.u32(count) || count > reply.payload.size() / emu::kInputEventSize) {
    error = "malformed answer";
    return false;
  }
  out.clear();
  for (uint32_t i = 0; i < count; ++i) {
    emu::InputEvent e;
    if (!emu::readInputEvent(r, e)) {
      error = "malformed answer";
      return false;
    }
    out.push_back(e);
  }
  if (!r.atEnd()) {
    error = "malformed answer";
    return false;
  }
  return true;
}

bool ControlClient::awaitHooks(uint8_t kinds, std::string& error) {
  emu::Connection::Reply reply;
  return call(emu::ControlOp::AwaitHooks, std::span(&kinds, 1), reply, error);
}

}  // namespace emulator
