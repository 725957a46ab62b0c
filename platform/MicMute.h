#pragma once
// The microphone mute that a mouse button can toggle: the mute flag of the
// sound server's default source (PulseAudio, or PipeWire through its pulse
// server), looked up anew at every toggle so a changed default is followed.
#include <chrono>
#include <memory>
#include <optional>

namespace platform {

class MicrophoneMute {
 public:
  virtual ~MicrophoneMute() = default;
  // Reads the mute flag and sets the opposite. Silent on failure (one line
  // on stderr); when the flag cannot be read nothing is changed.
  virtual void toggle() = 0;
};

class PulseMicrophoneMute : public MicrophoneMute {
 public:
  // timeout bounds the whole toggle, so a hung sound server cannot hold the
  // caller (the monitor's GUI thread) for long.
  explicit PulseMicrophoneMute(std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
  ~PulseMicrophoneMute() override;
  PulseMicrophoneMute(const PulseMicrophoneMute&) = delete;
  PulseMicrophoneMute& operator=(const PulseMicrophoneMute&) = delete;

  void toggle() override { (void)toggleMute(); }
  // The new mute state, or nullopt when nothing could be done.
  std::optional<bool> toggleMute();

 private:
  // The connection to the sound server, kept between toggles so a toggle is
  // two round trips instead of a whole connect. It is only driven during a
  // toggle: idle, it has no subscription, no thread and no timer.
  class Connection;
  std::unique_ptr<Connection> connection_;
  std::chrono::milliseconds timeout_;
};

}  // namespace platform
