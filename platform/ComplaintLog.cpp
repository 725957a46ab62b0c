#include "platform/ComplaintLog.h"

#include <algorithm>
#include <cstdio>

namespace platform {

ComplaintLog::ComplaintLog(std::string subject, Clock clock, Sink sink)
    : subject_(std::move(subject)), clock_(std::move(clock)), sink_(std::move(sink)) {
  if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
  if (!sink_) sink_ = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
}

ComplaintLog::~ComplaintLog() {
  if (!counts_.empty() || others_ > 0) say(clock_());
}

void ComplaintLog::dropped(std::string_view why) {
  const auto it = std::find_if(counts_.begin(), counts_.end(), [&](const Count& c) { return c.why == why; });
  if (it != counts_.end())
    ++it->drops;
  else if (counts_.size() < kMaxReasons)
    counts_.push_back({std::string(why), 1});
  else
    ++others_;
  const auto now = clock_();
  if (!lastLine_ || now - *lastLine_ >= kInterval) say(now);
}

std::optional<ComplaintLog::TimePoint> ComplaintLog::due() const {
  if (counts_.empty() && others_ == 0) return std::nullopt;
  // Nothing waits without a line before it: the first drop is said at once.
  return *lastLine_ + kInterval;
}

void ComplaintLog::flush() {
  const auto when = due();
  if (!when) return;
  const auto now = clock_();
  if (now >= *when) say(now);
}

void ComplaintLog::say(TimePoint now) {
  const std::string since = lastLine_ ? " since the last line)" : " since start)";
  for (const Count& c : counts_) sink_(subject_ + ": dropped " + c.why + " (" + std::to_string(c.drops) + since);
  if (others_ > 0) sink_(subject_ + ": dropped for other reasons (" + std::to_string(others_) + since);
  counts_.clear();
  others_ = 0;
  lastLine_ = now;
}

}  // namespace platform
