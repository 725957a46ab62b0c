#include "platform/ComplaintLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr const char* kMalformed = "a malformed frame";
constexpr const char* kUnfinished = "a frame unfinished within 300 ms";
constexpr const char* kLimit = "a connection beyond the limit";

// Floods of drops on a clock the test moves. The first drop after a quiet
// second is said at once; what follows within the second is counted per
// reason and said when the second is over, whether or not more drops come.
TEST(ComplaintLog, SaysEachBurstOnceItIsOverCountedPerReason) {
  const std::string s = "message endpoint /run/TTessoldMain: dropped ";
  std::chrono::steady_clock::time_point now{};
  const auto start = now;
  std::vector<std::string> lines;
  platform::ComplaintLog log("message endpoint /run/TTessoldMain", [&] { return now; },
                             [&](const std::string& line) { lines.push_back(line); });
  EXPECT_FALSE(log.due());
  struct Step {
    std::chrono::milliseconds at;  // since the start
    const char* why;               // dropped; nullptr: the owner's timer calls flush()
    int times;
    std::vector<std::string> lines;
    std::optional<std::chrono::milliseconds> due;  // since the start; none: nothing to say
  } steps[] = {
      {0ms, kMalformed, 1, {s + kMalformed + " (1 since start)"}, {}},
      {0ms, kMalformed, 199, {}, 1000ms},
      {200ms, kUnfinished, 3, {}, 1000ms},
      {999ms, nullptr, 1, {}, 1000ms},
      {1000ms, nullptr, 1, {s + kMalformed + " (199 since the last line)", s + kUnfinished + " (3 since the last line)"}, {}},
      {1500ms, kMalformed, 2, {}, 2000ms},
      // A drop after the due time is said at once, with what was waiting.
      {2300ms, kLimit, 1, {s + kMalformed + " (2 since the last line)", s + kLimit + " (1 since the last line)"}, {}},
      {2400ms, kLimit, 1, {}, 3300ms},
      {3300ms, nullptr, 1, {s + kLimit + " (1 since the last line)"}, {}},
      {9000ms, kUnfinished, 1, {s + kUnfinished + " (1 since the last line)"}, {}},
      {9000ms, nullptr, 1, {}, {}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::to_string(step.at.count()) + " ms, " + (step.why ? step.why : "flush"));
    now = start + step.at;
    lines.clear();
    for (int i = 0; i < step.times; ++i) step.why ? log.dropped(step.why) : log.flush();
    EXPECT_EQ(lines, step.lines);
    if (step.due) {
      ASSERT_TRUE(log.due());
      EXPECT_EQ(*log.due() - start, *step.due);
    } else {
      EXPECT_FALSE(log.due());
    }
  }
}

// A burst of more reasons than are kept apart says the rest as one count.
TEST(ComplaintLog, ManyReasonsInOneBurstAreBounded) {
  std::chrono::steady_clock::time_point now{};
  std::vector<std::string> lines;
  platform::ComplaintLog log("s", [&] { return now; }, [&](const std::string& line) { lines.push_back(line); });
  log.dropped("first");
  const std::size_t extra = 3;
  for (std::size_t i = 0; i < platform::ComplaintLog::kMaxReasons + extra; ++i)
    for (int twice = 0; twice < 2; ++twice) log.dropped("a malformed frame (payload of " + std::to_string(i) + " bytes)");
  lines.clear();
  now += 1s;
  log.flush();
  ASSERT_EQ(lines.size(), platform::ComplaintLog::kMaxReasons + 1);
  EXPECT_EQ(lines[0], "s: dropped a malformed frame (payload of 0 bytes) (2 since the last line)");
  EXPECT_EQ(lines.back(), "s: dropped for other reasons (" + std::to_string(2 * extra) + " since the last line)");
}

// What is still untold when the log ends is said then.
TEST(ComplaintLog, SaysTheRestWhenItEnds) {
  std::chrono::steady_clock::time_point now{};
  std::vector<std::string> lines;
  {
    platform::ComplaintLog log("mouse-emulator /tmp/m", [&] { return now; },
                               [&](const std::string& line) { lines.push_back(line); });
    for (int i = 0; i < 5; ++i) log.dropped(kLimit);
  }
  EXPECT_EQ(lines, (std::vector<std::string>{"mouse-emulator /tmp/m: dropped a connection beyond the limit (1 since start)",
                                             "mouse-emulator /tmp/m: dropped a connection beyond the limit (4 since the last line)"}));
}

}  // namespace
