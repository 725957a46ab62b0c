#pragma once
// One short line per transfer of the emulated mouse's wire log, so a test can
// assert the order of a whole device sequence at a glance: "6(0,0)", "1(1,3)"
// (commands 6 and 1 with their two parameters), "W144+65" (a memory write at
// 144 of 65 bytes), "R64+1" (a read request), "G" (the fetch of an answer),
// "?n" for any other command. Input reports are left out. Transfers() keeps
// when the mouse saw each one, for the pauses between them.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/EmulatorProtocol.h"

namespace emulator::testing {

struct Transfer {
  std::string what;  // as in Summary()
  double ms = 0;     // when the mouse saw it, in ms since the emulator started
  bool ok = true;    // the mouse took it
};

inline std::vector<Transfer> Transfers(const std::vector<platform::emu::LogEntry>& log) {
  using platform::emu::Direction;
  std::vector<Transfer> out;
  for (const auto& e : log) {
    Transfer t;
    t.ms = double(e.timeUs) / 1000.0;
    t.ok = e.status == platform::emu::Status::Ok;
    if (e.direction == Direction::GetFeature) {
      t.what = "G";
      out.push_back(t);
      continue;
    }
    if (e.direction != Direction::SetFeature || e.bytes.size() < 6) continue;
    const std::vector<uint8_t>& b = e.bytes;
    const unsigned a = b[2] | b[3] << 8, n = b[4] | b[5] << 8;
    if (b[1] == 6 || b[1] == 1)
      t.what = std::to_string(b[1]) + "(" + std::to_string(b[2]) + "," + std::to_string(b[3]) + ")";
    else if (b[1] == 2)
      t.what = "W" + std::to_string(a) + "+" + std::to_string(n);
    else if (b[1] == 3)
      t.what = "R" + std::to_string(a) + "+" + std::to_string(n);
    else
      t.what = "?" + std::to_string(b[1]);
    out.push_back(std::move(t));
  }
  return out;
}

inline std::vector<std::string> Summary(const std::vector<platform::emu::LogEntry>& log) {
  std::vector<std::string> out;
  for (auto& t : Transfers(log)) out.push_back(std::move(t.what));
  return out;
}

// A frame that does nothing but read the current DPI level: "6(0,0)", the
// active slot's request and fetch, a DPI table's request and fetch, "6(1,0)",
// with the pause before the read and the one after it.
struct LevelReadFrame {
  std::size_t at = 0;      // index of its "6(0,0)" in Transfers()
  double openToRead = 0;   // from the opening to the first request
  double readToClose = 0;  // from the last fetch to the closing
};

inline std::vector<LevelReadFrame> LevelReadFrames(const std::vector<Transfer>& t) {
  std::vector<LevelReadFrame> out;
  auto is = [&](std::size_t i, const char* what) { return i < t.size() && t[i].what == what; };
  auto isTableRead = [&](std::size_t i) {
    return i < t.size() && (t[i].what == "R72+32" || t[i].what == "R2376+32");
  };
  for (std::size_t i = 0; i + 5 < t.size(); ++i) {
    if (is(i, "6(0,0)") && is(i + 1, "R64+1") && is(i + 2, "G") && isTableRead(i + 3) && is(i + 4, "G") &&
        is(i + 5, "6(1,0)"))
      out.push_back({i, t[i + 1].ms - t[i].ms, t[i + 5].ms - t[i + 4].ms});
  }
  return out;
}

}  // namespace emulator::testing
