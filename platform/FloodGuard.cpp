#include "platform/FloodGuard.h"

#include <algorithm>
#include <set>
#include <vector>

namespace platform {

namespace {
constexpr const char* kBeyondLimit = "a connection beyond the limit";
constexpr const char* kUnfinishedReplaced = "an unfinished frame for a newer connection";
constexpr const char* kIdleReplaced = "an idle connection for a newer one";
constexpr const char* kAnswerNotTaken = "a client that did not take its answer";
}  // namespace

FloodGuard::FloodGuard(std::size_t places, std::chrono::milliseconds frameDeadline, ComplaintLog& complaints,
                       Clock clock)
    : places_(std::max<std::size_t>(places, 1)),
      frameDeadline_(frameDeadline),
      complaints_(complaints),
      clock_(std::move(clock)),
      unfinishedWhy_("a frame unfinished within " + std::to_string(frameDeadline.count()) + " ms") {
  if (!clock_) clock_ = [] { return std::chrono::steady_clock::now(); };
}

std::optional<FloodGuard::Key> FloodGuard::replaceable() const {
  std::optional<Key> waiting, idle;
  for (const auto& [key, e] : entries_) {
    if (e.standing == Standing::Waiting) {
      if (!waiting || e.arrival < entries_.at(*waiting).arrival) waiting = key;
    } else if (e.standing == Standing::Idle && !e.deadline) {
      if (!idle || e.idleSince < entries_.at(*idle).idleSince) idle = key;
    }
  }
  return waiting ? waiting : idle;
}

bool FloodGuard::makeRoom(const Reread& reread, const Close& close) {
  // A connection read once here and still busy on the next look is dropped
  // without another read, so a peer cannot keep this loop going.
  std::set<Key> readAgain;
  while (entries_.size() >= places_) {
    const auto key = replaceable();
    if (!key) {
      complaints_.dropped(kBeyondLimit);
      return false;
    }
    if (readAgain.insert(*key).second) {
      const Entry before = entries_.at(*key);
      reread(*key);
      const auto it = entries_.find(*key);
      if (it == entries_.end()) continue;
      // A frame that came meanwhile makes it no longer the one to go.
      if (it->second.standing != before.standing || it->second.idleSince != before.idleSince ||
          it->second.deadline != before.deadline)
        continue;
    }
    const bool idle = entries_.at(*key).standing == Standing::Idle;
    close(*key);
    entries_.erase(*key);
    complaints_.dropped(idle ? kIdleReplaced : kUnfinishedReplaced);
  }
  return true;
}

void FloodGuard::add(Key key, bool timed) {
  Entry e;
  e.arrival = ++arrivals_;
  if (timed) e.deadline = clock_() + frameDeadline_;
  entries_[key] = e;
}

void FloodGuard::remove(Key key) { entries_.erase(key); }

void FloodGuard::received(Key key, bool finishedFrame, bool midFrame) {
  const auto it = entries_.find(key);
  if (it == entries_.end()) return;
  Entry& e = it->second;
  const auto now = clock_();
  if (finishedFrame && e.standing != Standing::Held) {
    e.standing = Standing::Idle;
    e.idleSince = now;
  }
  if (!midFrame)
    e.deadline.reset();
  else if (!e.deadline || finishedFrame)
    e.deadline = now + frameDeadline_;
}

void FloodGuard::hold(Key key, bool keepDeadline) {
  const auto it = entries_.find(key);
  if (it == entries_.end()) return;
  it->second.standing = Standing::Held;
  if (!keepDeadline) it->second.deadline.reset();
}

void FloodGuard::dropExpired(const Reread& reread, const Close& close) {
  const auto now = clock_();
  std::vector<Key> due;
  for (const auto& [key, e] : entries_)
    if (e.deadline && *e.deadline <= now) due.push_back(key);
  for (const Key key : due) {
    if (!entries_.count(key)) continue;
    reread(key);
    const auto it = entries_.find(key);
    if (it == entries_.end() || !it->second.deadline || *it->second.deadline > now) continue;
    const bool held = it->second.standing == Standing::Held;
    close(key);
    entries_.erase(key);
    complaints_.dropped(held ? kAnswerNotTaken : unfinishedWhy_);
  }
  complaints_.flush();
}

int FloodGuard::timeoutMs() const {
  std::optional<TimePoint> next = complaints_.due();
  for (const auto& [key, e] : entries_)
    if (e.deadline && (!next || *e.deadline < *next)) next = e.deadline;
  if (!next) return -1;
  // Rounded up, so the wake-up never comes a hair too early and spins.
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - clock_());
  return int(std::clamp<long long>(wait.count(), 1, 1 << 30));
}

}  // namespace platform
