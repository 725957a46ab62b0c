#pragma once
// Keeps the peers of one socket from taking it over. Every connection has a
// place out of a fixed number; a frame once begun must be whole within the
// frame deadline; and when every place is taken, a new connection takes the
// place of the oldest one still short of its first frame, else of the one
// that has been idle longest. Only connections whose frame the owner holds
// (a handler runs, an answer goes out) keep their place. Each connection is
// read once more before it is dropped: what came while the owner was busy
// elsewhere still counts. What is dropped is said in the owner's complaint
// log.
//
// The owner (a socket's server) numbers its connections and tells the guard
// what each one does; the guard never touches a descriptor. Single thread.

#include "platform/ComplaintLog.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace platform {

class FloodGuard {
 public:
  using Key = std::uint64_t;
  using TimePoint = std::chrono::steady_clock::time_point;
  using Clock = std::function<TimePoint()>;
  // Reads what a connection sent meanwhile and reports it to the guard as
  // usual; it may end the connection (remove()).
  using Reread = std::function<void(Key)>;
  // Closes a connection the guard drops (the guard forgets it and complains).
  using Close = std::function<void(Key)>;

  FloodGuard(std::size_t places, std::chrono::milliseconds frameDeadline, ComplaintLog& complaints,
             Clock clock = {});

  // "a frame unfinished within 300 ms"
  const std::string& unfinishedWhy() const { return unfinishedWhy_; }

  // Frees a place for a new connection when every one is taken; false (and
  // a complaint) when none can go.
  bool makeRoom(const Reread& reread, const Close& close);
  // A new connection, after makeRoom(). timed: its deadline runs from now (a
  // connection that carries one frame); otherwise from its first byte.
  void add(Key key, bool timed);
  // The connection is gone; unknown keys are ignored.
  void remove(Key key);
  // What a read of a long-lived connection found: whether a frame was
  // finished, and whether one is under way now (its deadline runs from its
  // first byte).
  void received(Key key, bool finishedFrame, bool midFrame);
  // The owner holds the connection's frame: it keeps its place; keepDeadline:
  // its deadline still holds (the answer must be taken in time).
  void hold(Key key, bool keepDeadline);

  // Drops the connections past their deadline and says the complaints that
  // are due.
  void dropExpired(const Reread& reread, const Close& close);
  // Milliseconds until dropExpired() has work (rounded up, at least 1); -1:
  // none.
  int timeoutMs() const;

  std::size_t size() const { return entries_.size(); }

 private:
  enum class Standing { Waiting, Idle, Held };
  struct Entry {
    std::uint64_t arrival = 0;
    Standing standing = Standing::Waiting;
    std::optional<TimePoint> deadline;
    TimePoint idleSince{};
  };
  // The connection whose place a new one takes, if any.
  std::optional<Key> replaceable() const;

  std::size_t places_;
  std::chrono::milliseconds frameDeadline_;
  ComplaintLog& complaints_;
  Clock clock_;
  std::string unfinishedWhy_;
  std::map<Key, Entry> entries_;
  std::uint64_t arrivals_ = 0;
};

}  // namespace platform
