#include "emulator/InputEndpoint.h"

#include <algorithm>

namespace emulator {

using emu::Status;

namespace {
// Pending input-log requests; more are answered at once rather than queued
// without bound.
constexpr std::size_t kMaxLogRequests = 64;
}  // namespace

InputEndpoint::InputEndpoint(Sink sink) : sink_(std::move(sink)), epoch_(Clock::now()) {}

uint32_t InputEndpoint::clockMs(Clock::time_point now) const {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - epoch_).count();
  return uint32_t(uint64_t(std::max<int64_t>(ms, 0)));
}

void InputEndpoint::reply(ClientId client, const emu::FrameHeader& request, Status status,
                          std::span<const uint8_t> payload) {
  sink_(client, emu::encodeFrame(emu::Kind::Reply, request.endpoint, request.op, uint16_t(status),
                                 request.seq, payload));
}

void InputEndpoint::handle(ClientId client, const emu::Frame& frame, Clock::time_point now) {
  emu::PayloadReader r(frame.payload);
  if (frame.header.kind == emu::Kind::Reply) {
    // Only the answer to the offer that is out counts; late or foreign
    // answers are ignored.
    if (!offer_ || offer_->client != client || frame.header.seq != offer_->seq ||
        frame.header.op != uint8_t(emu::InputOp::Offer))
      return;
    uint8_t verdict = 0;
    const bool ok = frame.header.status == uint16_t(Status::Ok) && r.u8(verdict) && r.atEnd() &&
                    verdict <= 1;
    resolveOffer(ok && verdict == 1, now);
    return;
  }
  if (frame.header.kind != emu::Kind::Request) return;
  switch (emu::InputOp(frame.header.op)) {
    case emu::InputOp::Subscribe: {
      uint8_t kinds = 0;
      if (!r.u8(kinds) || !r.atEnd() || (kinds & ~(emu::kHookKeyboard | emu::kHookMouse)))
        return reply(client, frame.header, Status::BadRequest);
      auto it = std::find_if(subscribers_.begin(), subscribers_.end(),
                             [client](const Subscriber& s) { return s.client == client; });
      if (kinds == 0) {
        if (it != subscribers_.end()) subscribers_.erase(it);
        // An offer out to it stays out: its answer (or the time-out) settles it.
      } else if (it != subscribers_.end()) {
        it->kinds = kinds;
      } else {
        if (subscribers_.size() >= kMaxSubscribers)
          return reply(client, frame.header, Status::OutOfRange);
        subscribers_.push_back({client, kinds, nextSerial_++});
      }
      reply(client, frame.header, Status::Ok);
      answerHookWaiters();
      return;
    }
    case emu::InputOp::Inject: {
      emu::InputEvent e;
      if (!emu::readInputEvent(r, e) || !r.atEnd())
        return reply(client, frame.header, Status::BadRequest);
      if (queue_.size() >= kMaxQueued) return reply(client, frame.header, Status::OutOfRange);
      e.injected = true;
      Pending p;
      p.event = e;
      reply(client, frame.header, Status::Ok);
      enqueue(std::move(p), now);
      return;
    }
    default: return reply(client, frame.header, Status::BadRequest);
  }
}

void InputEndpoint::handleControl(ClientId client, const emu::Frame& frame, Clock::time_point now) {
  emu::PayloadReader r(frame.payload);
  switch (emu::ControlOp(frame.header.op)) {
    case emu::ControlOp::InputEvent: {
      uint8_t timeGiven = 0;
      emu::InputEvent e;
      if (!r.u8(timeGiven) || timeGiven > 1 || !emu::readInputEvent(r, e) || !r.atEnd())
        return reply(client, frame.header, Status::BadRequest);
      if (queue_.size() >= kMaxQueued) return reply(client, frame.header, Status::OutOfRange);
      if (!timeGiven) e.time = clockMs(now);
      Pending p;
      p.event = e;
      p.requester = Requester{client, frame.header};
      enqueue(std::move(p), now);
      return;
    }
    case emu::ControlOp::InputLog: {
      if (!r.atEnd()) return reply(client, frame.header, Status::BadRequest);
      if (queue_.empty() || logRequests_.size() >= kMaxLogRequests) {
        logRequests_.push_back({client, frame.header});
        answerLogRequests();
        return;
      }
      logRequests_.push_back({client, frame.header});
      return;
    }
    case emu::ControlOp::AwaitHooks: {
      uint8_t kinds = 0;
      if (!r.u8(kinds) || !r.atEnd() || kinds == 0 ||
          (kinds & ~(emu::kHookKeyboard | emu::kHookMouse)))
        return reply(client, frame.header, Status::BadRequest);
      if (hookWaiters_.size() >= kMaxLogRequests)
        return reply(client, frame.header, Status::OutOfRange);
      hookWaiters_.push_back({Requester{client, frame.header}, kinds});
      answerHookWaiters();
      return;
    }
    default: return reply(client, frame.header, Status::BadRequest);
  }
}

uint8_t InputEndpoint::subscribedKinds() const {
  uint8_t kinds = 0;
  for (const auto& s : subscribers_) kinds |= s.kinds;
  return kinds;
}

void InputEndpoint::answerHookWaiters() {
  const uint8_t have = subscribedKinds();
  std::erase_if(hookWaiters_, [&](const auto& w) {
    if ((w.second & have) != w.second) return false;
    reply(w.first.client, w.first.header, Status::Ok);
    return true;
  });
}

void InputEndpoint::disconnected(ClientId client, Clock::time_point now) {
  std::erase_if(subscribers_, [client](const Subscriber& s) { return s.client == client; });
  std::erase_if(logRequests_, [client](const Requester& q) { return q.client == client; });
  std::erase_if(hookWaiters_, [client](const auto& w) { return w.first.client == client; });
  for (auto& p : queue_)
    if (p.requester && p.requester->client == client) p.requester.reset();
  if (offer_ && offer_->client == client) resolveOffer(false, now);
}

void InputEndpoint::tick(Clock::time_point now) {
  if (offer_ && now >= offer_->deadline) resolveOffer(false, now);
}

int InputEndpoint::timeoutMs(Clock::time_point now) const {
  if (!offer_) return -1;
  if (now >= offer_->deadline) return 0;
  // Rounded up, so the wake-up never comes a hair too early and spins.
  const auto left =
      std::chrono::duration_cast<std::chrono::microseconds>(offer_->deadline - now).count();
  return int((left + 999) / 1000);
}

void InputEndpoint::enqueue(Pending&& p, Clock::time_point now) {
  queue_.push_back(std::move(p));
  if (!offer_) advance(now);
}

void InputEndpoint::resolveOffer(bool swallowed, Clock::time_point now) {
  offer_.reset();
  if (!queue_.empty() && swallowed) queue_.front().swallowed = true;
  advance(now);
}

void InputEndpoint::advance(Clock::time_point now) {
  while (!queue_.empty() && !offer_) {
    Pending& p = queue_.front();
    const uint8_t want = p.event.kind == emu::InputKind::Key ? emu::kHookKeyboard : emu::kHookMouse;
    const Subscriber* next = nullptr;
    if (!p.swallowed) {
      // The next subscriber in subscription order after the last one asked;
      // one that subscribed meanwhile still gets its turn.
      for (const auto& s : subscribers_)
        if (s.serial > p.afterSerial && (s.kinds & want) &&
            (!next || s.serial < next->serial))
          next = &s;
    }
    if (!next) {
      settleFront();
      continue;
    }
    p.afterSerial = next->serial;
    const uint32_t seq = nextSeq_++;
    emu::PayloadWriter w;
    emu::writeInputEvent(w, p.event);
    sink_(next->client, emu::encodeFrame(emu::Kind::Request, uint8_t(emu::Endpoint::InputSource),
                                         uint8_t(emu::InputOp::Offer), 0, seq, w.data()));
    offer_ = Offer{next->client, seq, now + std::chrono::milliseconds(kOfferTimeoutMs)};
  }
  if (queue_.empty()) answerLogRequests();
}

void InputEndpoint::settleFront() {
  Pending p = std::move(queue_.front());
  queue_.pop_front();
  if (!p.swallowed) {
    log_.push_back(p.event);
    while (log_.size() > kMaxLog) log_.pop_front();
  }
  if (p.requester) {
    const uint8_t swallowed = p.swallowed ? 1 : 0;
    reply(p.requester->client, p.requester->header, Status::Ok, std::span(&swallowed, 1));
  }
}

void InputEndpoint::answerLogRequests() {
  if (logRequests_.empty()) return;
  emu::PayloadWriter w;
  w.u32(uint32_t(log_.size()));
  for (const auto& e : log_) emu::writeInputEvent(w, e);
  const auto requests = std::move(logRequests_);
  logRequests_.clear();
  for (const auto& q : requests) reply(q.client, q.header, Status::Ok, w.data());
}

}  // namespace emulator
