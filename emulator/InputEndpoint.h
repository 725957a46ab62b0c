#pragma once
// The emulated desk's keyboard and mouse as the hook library sees them.
// Hook clients subscribe for keyboard and/or mouse events; each event (from
// the control endpoint, or synthesised by a program through Inject) is
// offered to the subscribers of its kind in the order they subscribed, one
// at a time, until one swallows it. A subscriber that does not answer within
// kOfferTimeoutMs lets the event pass, so a hung hook never stalls the desk.
// Events nobody swallowed reach "applications": the delivered log.
//
// Not thread-safe on its own: MouseHub calls it under its lock.

#include "platform/EmulatorProtocol.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace emulator {

namespace emu = platform::emu;

class InputEndpoint {
 public:
  using ClientId = uint64_t;
  using Clock = std::chrono::steady_clock;
  // Receives encoded frames for one client (the hub's sink).
  using Sink = std::function<void(ClientId, std::vector<uint8_t>&&)>;

  static constexpr int kOfferTimeoutMs = 300;
  // Events waiting to be offered; beyond this new ones are refused.
  static constexpr std::size_t kMaxQueued = 1024;
  // The delivered log keeps the newest this many events.
  static constexpr std::size_t kMaxLog = 4096;
  static constexpr std::size_t kMaxSubscribers = 16;

  explicit InputEndpoint(Sink sink);

  // A frame of Endpoint::InputSource from a client (requests and the replies
  // to our offers).
  void handle(ClientId client, const emu::Frame& frame, Clock::time_point now);
  // ControlOp::InputEvent, InputLog and AwaitHooks.
  void handleControl(ClientId client, const emu::Frame& frame, Clock::time_point now);
  void disconnected(ClientId client, Clock::time_point now);
  // Lets an unanswered offer pass once its time is up.
  void tick(Clock::time_point now);
  // Milliseconds until tick() has something to do; -1: nothing pending.
  int timeoutMs(Clock::time_point now) const;

  void clearLog() { log_.clear(); }
  const std::deque<emu::InputEvent>& log() const { return log_; }
  // The emulator's own millisecond clock, used when an event comes without a time.
  uint32_t clockMs(Clock::time_point now) const;

 private:
  struct Requester {
    ClientId client = 0;
    emu::FrameHeader header;
  };
  struct Pending {
    emu::InputEvent event;
    std::optional<Requester> requester;  // control request answered when settled
    std::size_t nextSubscriber = 0;      // index into subscribers_ order (by serial)
    uint64_t afterSerial = 0;            // offered to subscribers with a larger serial next
    bool swallowed = false;
  };
  struct Subscriber {
    ClientId client = 0;
    uint8_t kinds = 0;
    uint64_t serial = 0;  // subscription order
  };
  struct Offer {
    ClientId client = 0;
    uint32_t seq = 0;
    Clock::time_point deadline;
  };

  void reply(ClientId client, const emu::FrameHeader& request, emu::Status status,
             std::span<const uint8_t> payload = {});
  void enqueue(Pending&& p, Clock::time_point now);
  // Offers the front event to its next subscriber, or settles it and goes
  // on, until an offer is out or the queue is empty.
  void advance(Clock::time_point now);
  void settleFront();
  void answerLogRequests();
  uint8_t subscribedKinds() const;
  void answerHookWaiters();
  void resolveOffer(bool swallowed, Clock::time_point now);

  Sink sink_;
  Clock::time_point epoch_;
  std::vector<Subscriber> subscribers_;
  uint64_t nextSerial_ = 1;
  std::deque<Pending> queue_;
  std::optional<Offer> offer_;
  uint32_t nextSeq_ = 1;
  std::deque<emu::InputEvent> log_;
  std::vector<Requester> logRequests_;
  std::vector<std::pair<Requester, uint8_t>> hookWaiters_;
};

}  // namespace emulator
