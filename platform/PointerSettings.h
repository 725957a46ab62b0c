#pragma once
// Desktop pointer settings: what the configurator's Apply and its speed bars
// change (on Windows the system mouse parameters and SetDoubleClickTime).
//
// Pointer speed and acceleration go to the X server. Wheel scroll lines and
// the double-click time have no X server setting that other programs follow,
// so they apply to our own process only (through Qt's style hints).
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// One row of the acceleration table: the two movement thresholds and the
// acceleration level, as the profiles' PointerAcceleration selects them.
struct AccelerationRow {
  int threshold1;
  int threshold2;
  int acceleration;
};
constexpr AccelerationRow kAccelerationRows[4] = {{0, 0, 0}, {7, 0, 1}, {4, 6, 2}, {4, 0, 1}};

// X core pointer control: motion beyond threshold is multiplied by
// numerator / denominator.
struct CorePointerControl {
  int numerator;
  int denominator;
  int threshold;
  bool operator==(const CorePointerControl&) const = default;
};

// Pointer speed 1..20 (10 = unchanged) as libinput's accel speed -1..1.
double libinputAccelSpeed(int speed);
// libinput has no thresholds: any acceleration row but 0 selects the
// adaptive profile, row 0 the flat one.
bool libinputAdaptiveProfile(int row);
// Speed and acceleration row combined for servers without libinput. The
// speed scales motion as the Windows speed steps do (1/32 .. 3.5); a row
// with acceleration doubles it beyond the row's first threshold (the core
// control has one step only, so the second threshold is not used).
CorePointerControl corePointerControl(int speed, int row);

class PointerSettings {
 public:
  virtual ~PointerSettings() = default;
  // 1..20; other values change nothing. May run on any thread.
  virtual void setPointerSpeed(int speed) = 0;
  // A row of kAccelerationRows (0..3); other values change nothing. Any thread.
  virtual void setAcceleration(int row) = 0;
  // Lines per wheel notch for our own process, 1..100. Any thread; applied on the GUI thread.
  virtual void setWheelScrollLines(int lines) = 0;
  // Double-click time in ms for our own process, 1..5000. Any thread; applied on the GUI thread.
  virtual void setDoubleClickTime(int ms) = 0;
};

// The X11 backend when an X display answers (and the program is not on
// Wayland), else one that leaves the desktop alone and says so once.
std::unique_ptr<PointerSettings> createPointerSettings();
// The X11 backend on that display; each call opens its own connection.
std::unique_ptr<PointerSettings> createX11PointerSettings(const std::string& displayName);
std::unique_ptr<PointerSettings> createNoDesktopPointerSettings();

// For tests: records every call.
class RecordingPointerSettings : public PointerSettings {
 public:
  enum class What { Speed, Acceleration, WheelLines, DoubleClick };
  struct Call {
    What what;
    int value;
    bool operator==(const Call&) const = default;
  };
  void setPointerSpeed(int speed) override { record({What::Speed, speed}); }
  void setAcceleration(int row) override { record({What::Acceleration, row}); }
  void setWheelScrollLines(int lines) override { record({What::WheelLines, lines}); }
  void setDoubleClickTime(int ms) override { record({What::DoubleClick, ms}); }
  std::vector<Call> calls() const {
    std::lock_guard g(mutex_);
    return calls_;
  }

 private:
  void record(Call c) {
    std::lock_guard g(mutex_);
    calls_.push_back(c);
  }
  mutable std::mutex mutex_;
  std::vector<Call> calls_;
};

}  // namespace platform
