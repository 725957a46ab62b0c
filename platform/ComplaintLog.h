#pragma once
// Complaints about what the peers of one socket send (bad frames, frames
// that never finish, connections beyond the limit), on stderr at most once a
// second: a peer that floods the socket must not flood the log as well. The
// first drop after a quiet second is said at once; the drops that follow
// within the second are counted per reason and said once the second is over
// (the owner calls flush() when due() comes), so the end of a burst is told
// even when nothing more is dropped.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class ComplaintLog {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using Clock = std::function<TimePoint()>;
  using Sink = std::function<void(const std::string& line)>;
  static constexpr std::chrono::milliseconds kInterval{1000};
  // Reasons counted apart within one second; the rest share one count.
  static constexpr std::size_t kMaxReasons = 8;

  // subject starts every line ("message endpoint /run/user/1000/..."); the
  // clock defaults to the steady clock, the sink to stderr.
  explicit ComplaintLog(std::string subject = {}, Clock clock = {}, Sink sink = {});
  // Says what is still untold.
  ~ComplaintLog();
  ComplaintLog(const ComplaintLog&) = delete;
  ComplaintLog& operator=(const ComplaintLog&) = delete;

  void setSubject(std::string subject) { subject_ = std::move(subject); }
  // One connection or frame dropped, and what it was ("a malformed frame").
  void dropped(std::string_view why);
  // When the counted drops are to be said; none while nothing waits.
  std::optional<TimePoint> due() const;
  // Says the counted drops once they are due.
  void flush();

 private:
  struct Count {
    std::string why;
    std::size_t drops = 0;
  };
  void say(TimePoint now);

  std::string subject_;
  Clock clock_;
  Sink sink_;
  std::optional<TimePoint> lastLine_;
  std::vector<Count> counts_;  // untold drops, in order of their reasons' first drop
  std::size_t others_ = 0;     // untold drops beyond kMaxReasons reasons
};

}  // namespace platform
