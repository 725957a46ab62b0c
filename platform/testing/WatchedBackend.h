#pragma once
// A HID backend for tests that shows every feature report on its way out
// before the wrapped backend sends it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/HidBackend.h"

namespace platform_test {

// Passes everything to the emulated mouse and tells the test of every
// feature report on its way out (on the thread that sends it: a worker of
// the configurator's device sequences, while the GUI thread waits).
class WatchedBackend : public platform::HidBackend {
 public:
  using Watch = std::function<void(std::span<const uint8_t> report)>;
  WatchedBackend(std::unique_ptr<platform::HidBackend> inner, Watch* watch) : inner_(std::move(inner)), watch_(watch) {}
  std::vector<platform::HidInterfaceInfo> enumerate() override { return inner_->enumerate(); }
  std::vector<platform::HidInterfaceInfo> enumerate(uint32_t& error) override { return inner_->enumerate(error); }
  std::unique_ptr<platform::HidDevice> open(const std::string& path, uint32_t& error) override {
    auto device = inner_->open(path, error);
    if (!device) return nullptr;
    return std::make_unique<Device>(std::move(device), watch_);
  }

 private:
  struct Device : platform::HidDevice {
    Device(std::unique_ptr<platform::HidDevice> d, Watch* w) : inner(std::move(d)), watch(w) {}
    uint32_t sendFeatureReport(std::span<const uint8_t> r) override {
      if (*watch) (*watch)(r);
      return inner->sendFeatureReport(r);
    }
    uint32_t getFeatureReport(std::span<uint8_t> r) override { return inner->getFeatureReport(r); }
    uint32_t writeOutputReport(std::span<const uint8_t> r) override { return inner->writeOutputReport(r); }
    uint32_t readInputReport(std::span<uint8_t> b, std::size_t& n) override { return inner->readInputReport(b, n); }
    void cancelRead() override { inner->cancelRead(); }
    std::unique_ptr<platform::HidDevice> inner;
    Watch* watch;
  };
  std::unique_ptr<platform::HidBackend> inner_;
  Watch* watch_;
};

}  // namespace platform_test
