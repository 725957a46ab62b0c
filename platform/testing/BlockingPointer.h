#pragma once
// Pointer settings for tests that hold the desktop-settings worker inside
// its last call until the test lets it go.
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/PointerSettings.h"

namespace platform_test {

// Pointer settings whose last call of Apply's worker blocks until released.
// Its end records whether that worker was still inside, and then lets it go
// so that a wrong teardown cannot hang the test.
class BlockingPointer : public platform::PointerSettings {
 public:
  struct Gate {
    std::mutex m;
    std::condition_variable cv;
    bool inside = false, open = false, destroyedWhileInside = false;
    void Release() {
      std::lock_guard g(m);
      open = true;
      cv.notify_all();
    }
  };
  explicit BlockingPointer(std::shared_ptr<Gate> gate) : gate_(std::move(gate)) {}
  ~BlockingPointer() override {
    std::lock_guard g(gate_->m);
    if (gate_->inside) gate_->destroyedWhileInside = true;
    gate_->open = true;
    gate_->cv.notify_all();
  }
  void setPointerSpeed(int) override {}
  void setAcceleration(int) override {}
  void setDoubleClickTime(int) override {}
  void setWheelScrollLines(int) override {
    const std::shared_ptr<Gate> gate = gate_;  // `this` may be gone when the gate opens
    std::unique_lock l(gate->m);
    gate->inside = true;
    gate->cv.notify_all();
    gate->cv.wait(l, [&] { return gate->open; });
    gate->inside = false;
  }

 private:
  std::shared_ptr<Gate> gate_;
};

}  // namespace platform_test
