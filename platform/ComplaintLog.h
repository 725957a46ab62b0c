#pragma once
// Complaints about what the peers of one socket send (bad frames, frames
// that never finish, connections beyond the limit), on stderr at most once a
// second: a peer that floods the socket must not flood the log as well. Each
// line counts what was dropped since the line before it, the silent drops
// included.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class ComplaintLog {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Sink = std::function<void(const std::string& line)>;
  static constexpr std::chrono::milliseconds kInterval{1000};

  // subject starts every line ("message endpoint /run/user/1000/..."); the
  // clock defaults to the steady clock, the sink to stderr.
  explicit ComplaintLog(std::string subject = {}, Clock clock = {}, Sink sink = {});

  void setSubject(std::string subject) { subject_ = std::move(subject); }
  // One connection or frame dropped, and what it was ("a malformed frame").
  void dropped(std::string_view why);

 private:
  std::string subject_;
  Clock clock_;
  Sink sink_;
  std::optional<std::chrono::steady_clock::time_point> lastLine_;
  std::size_t unreported_ = 0;
};

}  // namespace platform
