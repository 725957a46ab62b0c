#include "platform/ComplaintLog.h"

#include <cstdio>

namespace platform {

ComplaintLog::ComplaintLog(std::string subject, Clock clock, Sink sink)
    : subject_(std::move(subject)), clock_(std::move(clock)), sink_(std::move(sink)) {
  if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
  if (!sink_) sink_ = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
}

void ComplaintLog::dropped(std::string_view why) {
  ++unreported_;
  const auto now = clock_();
  if (lastLine_ && now - *lastLine_ < kInterval) return;
  std::string line = subject_ + ": dropped " + std::string(why) + " (" + std::to_string(unreported_) +
                     (lastLine_ ? " since the last line)" : " since start)");
  lastLine_ = now;
  unreported_ = 0;
  sink_(line);
}

}  // namespace platform
