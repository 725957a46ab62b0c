#include "platform/ComplaintLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

// One flood of drops on a clock the test moves: a line at the first drop,
// none within the second after a line, and each line counts what came since.
TEST(ComplaintLog, AtMostOneLineASecondCountingEveryDrop) {
  std::chrono::steady_clock::time_point now{};
  std::vector<std::string> lines;
  platform::ComplaintLog log("message endpoint /run/TTessoldMain", [&] { return now; },
                             [&](const std::string& line) { lines.push_back(line); });
  struct Step {
    std::chrono::milliseconds advance;
    const char* why;
    const char* line;  // nullptr: none
  } steps[] = {
      {0ms, "a malformed frame", "message endpoint /run/TTessoldMain: dropped a malformed frame (1 since start)"},
      {0ms, "a malformed frame", nullptr},
      {200ms, "a frame unfinished within 300 ms", nullptr},
      {799ms, "a malformed frame", nullptr},
      {1ms, "a frame unfinished within 300 ms",
       "message endpoint /run/TTessoldMain: dropped a frame unfinished within 300 ms (4 since the last line)"},
      {999ms, "a malformed frame", nullptr},
      {5s, "a connection beyond the limit",
       "message endpoint /run/TTessoldMain: dropped a connection beyond the limit (2 since the last line)"},
      {1s, "a malformed frame", "message endpoint /run/TTessoldMain: dropped a malformed frame (1 since the last line)"},
  };
  std::size_t expected = 0;
  for (const auto& s : steps) {
    now += s.advance;
    log.dropped(s.why);
    if (s.line) {
      ++expected;
      ASSERT_EQ(lines.size(), expected) << s.line;
      EXPECT_EQ(lines.back(), s.line);
    } else {
      EXPECT_EQ(lines.size(), expected) << "a line within the second, after: " << s.why;
    }
  }
}

}  // namespace
