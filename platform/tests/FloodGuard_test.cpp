#include "platform/FloodGuard.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using platform::FloodGuard;

namespace {

// A guard of three places on a clock the test moves; closes and complaints
// are recorded. The reread stands for the owner's last read: the keys in
// `finishOnReread` turn out to have finished a frame by then.
struct Fixture {
  std::chrono::steady_clock::time_point now{};
  std::vector<std::string> lines;
  platform::ComplaintLog log{"s", [this] { return now; }, [this](const std::string& l) { lines.push_back(l); }};
  FloodGuard guard{3, 300ms, log, [this] { return now; }};
  std::set<FloodGuard::Key> finishOnReread;
  std::vector<FloodGuard::Key> reread, closed;

  FloodGuard::Reread onReread() {
    return [this](FloodGuard::Key k) {
      reread.push_back(k);
      if (finishOnReread.count(k)) guard.received(k, true, false);
    };
  }
  FloodGuard::Close onClose() {
    return [this](FloodGuard::Key k) { closed.push_back(k); };
  }
};

enum class Start { Waiting, Idle, MidFrame, Held };

TEST(FloodGuard, ANewConnectionTakesThePlaceOfTheRightOne) {
  struct Case {
    const char* what;
    std::vector<Start> peers;  // keys 1, 2, 3 in order of arrival, idle ones idle since their arrival
    std::set<FloodGuard::Key> finishOnReread;
    bool room;
    std::vector<FloodGuard::Key> closed;
    const char* complaint;
  } cases[] = {
      {"oldest short of a frame", {Start::Idle, Start::Waiting, Start::Waiting}, {}, true, {2},
       "s: dropped an unfinished frame for a newer connection (1 since start)"},
      {"its frame came meanwhile", {Start::Waiting, Start::Waiting, Start::Held}, {1}, true, {2},
       "s: dropped an unfinished frame for a newer connection (1 since start)"},
      {"idle longest", {Start::Held, Start::Idle, Start::Idle}, {}, true, {2},
       "s: dropped an idle connection for a newer one (1 since start)"},
      {"a frame under way keeps its place", {Start::MidFrame, Start::Held, Start::Idle}, {}, true, {3},
       "s: dropped an idle connection for a newer one (1 since start)"},
      {"every frame held", {Start::Held, Start::Held, Start::MidFrame}, {}, false, {},
       "s: dropped a connection beyond the limit (1 since start)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    f.finishOnReread = c.finishOnReread;
    FloodGuard::Key key = 0;
    for (const Start s : c.peers) {
      f.guard.add(++key, s == Start::Waiting);
      if (s == Start::Idle) f.guard.received(key, true, false);
      if (s == Start::MidFrame) f.guard.received(key, true, true);
      if (s == Start::Held) f.guard.hold(key, false);
      f.now += 10ms;
    }
    EXPECT_EQ(f.guard.makeRoom(f.onReread(), f.onClose()), c.room);
    EXPECT_EQ(f.closed, c.closed);
    EXPECT_EQ(f.guard.size(), c.peers.size() - c.closed.size());
    EXPECT_EQ(f.lines, std::vector<std::string>{c.complaint});
  }
}

// Deadlines: a connection that carries one frame has it from its arrival, a
// long-lived one from the first byte of each frame; a held one only when
// asked. The last read still counts, and the time-out names the next
// deadline or the complaints' due time.
TEST(FloodGuard, DeadlinesDropWhatDidNotFinishInTime) {
  Fixture f;
  f.guard.add(1, true);                 // one frame, never sent
  f.guard.add(2, true);                 // one frame, whole at the last read
  f.guard.add(3, false);                // long-lived, says nothing
  f.guard.add(4, false);                // long-lived, a frame begun at 100 ms
  f.guard.add(5, true);                 // answered, the answer not taken
  f.guard.add(6, true);                 // held by a handler
  f.guard.hold(5, true);
  f.guard.hold(6, false);
  f.finishOnReread = {2};
  EXPECT_EQ(f.guard.timeoutMs(), 300);
  f.now += 100ms;
  f.guard.received(4, false, true);
  f.now += 199ms;
  f.guard.dropExpired(f.onReread(), f.onClose());
  EXPECT_TRUE(f.closed.empty());
  EXPECT_EQ(f.guard.timeoutMs(), 1);
  f.now += 1ms;
  f.guard.dropExpired(f.onReread(), f.onClose());
  EXPECT_EQ(f.reread, (std::vector<FloodGuard::Key>{1, 2, 5}));
  EXPECT_EQ(f.closed, (std::vector<FloodGuard::Key>{1, 5}));
  EXPECT_EQ(f.lines, (std::vector<std::string>{"s: dropped a frame unfinished within 300 ms (1 since start)"}));
  EXPECT_EQ(f.guard.timeoutMs(), 100);  // key 4's frame, begun at 100 ms
  f.now += 100ms;
  f.lines.clear();
  f.guard.dropExpired(f.onReread(), f.onClose());
  EXPECT_EQ(f.closed, (std::vector<FloodGuard::Key>{1, 5, 4}));
  EXPECT_TRUE(f.lines.empty());
  // Nothing is timed now but the burst's count, due a second after its first line.
  EXPECT_EQ(f.guard.timeoutMs(), 900);
  f.now += 900ms;
  f.guard.dropExpired(f.onReread(), f.onClose());
  EXPECT_EQ(f.lines, (std::vector<std::string>{"s: dropped a client that did not take its answer (1 since the last line)",
                                               "s: dropped a frame unfinished within 300 ms (1 since the last line)"}));
  EXPECT_EQ(f.guard.timeoutMs(), -1);
  EXPECT_EQ(f.guard.size(), 3u);  // 2, 3 and 6
}

}  // namespace
