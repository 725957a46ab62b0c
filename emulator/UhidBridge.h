#pragma once
// The emulated mice as kernel HID devices through /dev/uhid, beside their
// socket: each mouse of the hub becomes a USB HID device with its own report
// descriptor, so the kernel gives it a hidraw node and programs reach it as
// they reach a real mouse. The kernel's get-report and set-report requests
// go to the hub's transfers (the same mouse, rules and wire log as the
// socket's); the hub's input reports and plug changes come back here and
// leave as input events, device destruction and re-creation, written at
// once so that they keep their order and an unplug is done when it returns.
// A request the kernel made to a device that is removed since is neither
// served nor answered: the kernel failed it when the device went, and the
// mouse behind the next device must not see it.
//
// One descriptor per mouse (each open of /dev/uhid is one device) and one
// thread that polls them all and a wake-up descriptor to answer the
// kernel's requests; it calls the hub without holding the channel lock.

#include "emulator/MouseHub.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

struct uhid_event;

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
    // Counts the removals of the channel's device, so that a request is
    // answered only by the device it was made to.
    uint64_t removals = 0;
  };
  // What became of an event for the kernel.
  struct Sent {
    enum { Written, NoDevice, Failed } outcome;
    int error = 0;  // errno of a failure
  };

  void run();
  // Reads and answers one event of a channel; false when the channel is dead.
  bool serve(int device);
  // The channel's device is still the one that was there after `removals`
  // removals. Takes channelMutex_.
  bool stillThere(int device, uint64_t removals);
  // These take channelMutex_.
  bool create(int device, std::string& error);
  bool destroy(int device, std::string& error);
  // Writes to the channel's device while it is there (and, given removals,
  // is the same device): a reply to a request of a device that is gone goes
  // nowhere, as the kernel failed the request when it removed the device.
  Sent sendTo(int device, const void* event, std::size_t size, std::optional<uint64_t> removals = std::nullopt);
  static bool writeEvent(int fd, const void* event, std::size_t size);
  // Reads one event if one waits, never blocking: the read's result (its
  // size, 0 at the end, -1 with errno), or none when nothing waits.
  static std::optional<ssize_t> readEvent(int fd, uhid_event& ev);

  MouseHub& hub_;
  Opener opener_;
  // The vector's shape is fixed while serving; the channels are guarded by
  // channelMutex_, under which the thread also reads its events, so that a
  // removal can clear what the kernel queued for the removed device.
  std::vector<Channel> channels_;
  std::mutex channelMutex_;
  int wakeFd_ = -1;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
};

}  // namespace emulator
