#pragma once
// The emulated mice as kernel HID devices through /dev/uhid, beside their
// socket: each mouse of the hub becomes a USB HID device with its own report
// descriptor, so the kernel gives it a hidraw node and programs reach it as
// they reach a real mouse. The kernel's get-report and set-report requests
// go to the hub's transfers (the same mouse, rules and wire log as the
// socket's); the hub's input reports and plug changes come back here and
// leave as input events, device destruction and re-creation, written at
// once so that they keep their order and an unplug is done when it returns.
//
// One descriptor per mouse (each open of /dev/uhid is one device) and one
// thread that polls them all and a wake-up descriptor to answer the
// kernel's requests; it calls the hub without holding the channel lock.

#include "emulator/MouseHub.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace emulator {

class UhidBridge : public KernelSide {
 public:
  // Opens one uhid channel: a descriptor, or -1 with the reason in error.
  using Opener = std::function<int(std::string& error)>;
  static constexpr const char* kDevicePath = "/dev/uhid";
  // Opens kDevicePath for reading and writing.
  static int openDevUhid(std::string& error);

  explicit UhidBridge(MouseHub& hub, Opener opener = &UhidBridge::openDevUhid);
  ~UhidBridge() override;
  UhidBridge(const UhidBridge&) = delete;
  UhidBridge& operator=(const UhidBridge&) = delete;

  // Opens a channel per mouse, creates the devices of the mice that are
  // plugged in and starts serving; false with the reason when a channel
  // cannot be opened or a device cannot be created (nothing stays open).
  bool start(std::string& error);
  // Removes the devices and ends the thread.
  void stop();

  // KernelSide: written to the kernel at once.
  void inputReport(int device, std::span<const uint8_t> report) override;
  void presence(int device, bool present) override;

  // The name the devices carry ("<kDeviceName> <index>").
  static constexpr const char* kDeviceName = "mouse-emulator mouse";

 private:
  struct Channel {
    int fd = -1;
    bool created = false;
  };

  void run();
  // Reads and answers one event of a channel; false when the channel is dead.
  bool serve(int device);
  // The three take channelMutex_.
  bool create(int device, std::string& error);
  bool destroy(int device);
  bool writeTo(int device, const void* event, std::size_t size, bool onlyCreated);
  static bool writeEvent(int fd, const void* event, std::size_t size);

  MouseHub& hub_;
  Opener opener_;
  // The vector's shape is fixed while serving; fd and created are guarded
  // by channelMutex_, and a descriptor is closed only by the thread (or
  // after it ended), so the thread reads it without the lock.
  std::vector<Channel> channels_;
  std::mutex channelMutex_;
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
};

}  // namespace emulator
