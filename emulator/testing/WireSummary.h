#pragma once
// One short line per transfer of the emulated mouse's wire log, so a test can
// assert the order of a whole device sequence at a glance: "6(0,0)", "1(1,3)"
// (commands 6 and 1 with their two parameters), "W144+65" (a memory write at
// 144 of 65 bytes), "R64+1" (a read request), "G" (the fetch of an answer),
// "?n" for any other command. Input reports are left out.

#include <string>
#include <vector>

#include "platform/EmulatorProtocol.h"

namespace emulator::testing {

inline std::vector<std::string> Summary(const std::vector<platform::emu::LogEntry>& log) {
  using platform::emu::Direction;
  std::vector<std::string> out;
  for (const auto& e : log) {
    if (e.direction == Direction::GetFeature) {
      out.push_back("G");
      continue;
    }
    if (e.direction != Direction::SetFeature || e.bytes.size() < 6) continue;
    const std::vector<uint8_t>& b = e.bytes;
    const unsigned a = b[2] | b[3] << 8, n = b[4] | b[5] << 8;
    if (b[1] == 6 || b[1] == 1)
      out.push_back(std::to_string(b[1]) + "(" + std::to_string(b[2]) + "," + std::to_string(b[3]) + ")");
    else if (b[1] == 2)
      out.push_back("W" + std::to_string(a) + "+" + std::to_string(n));
    else if (b[1] == 3)
      out.push_back("R" + std::to_string(a) + "+" + std::to_string(n));
    else
      out.push_back("?" + std::to_string(b[1]));
  }
  return out;
}

}  // namespace emulator::testing
