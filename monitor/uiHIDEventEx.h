#pragma once
// TuiHIDEventEx: tells its owner which HID hardware IDs came and went. It
// keeps the present HID interfaces by path, each with its hardware IDs (the
// first two of each top-level collection, built by the HID link's own code,
// so one config.ini entry matches here and there), and after every arrival or
// removal event rescans and reports the IDs of the interfaces that are new or
// gone.
//
// Keeping the set by path rather than by ID string means a second identical
// mouse, or a fast unplug and replug, is still reported as an arrival.
// Everything runs on the thread that created the component.

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "device/uiHIDEvent.h"
#include "platform/HidBackend.h"

// The IDs handed to the list events; the list is the component's, valid
// during the call only.
using TuiNewHIDDevicesArrival = std::function<void(const QStringList& ANewDevicesList)>;
using TuiPresentHIDDevicesRemoval = std::function<void(const QStringList& ARemovalDevicesList)>;

class TuiHIDEventEx : public QObject {
  Q_OBJECT
 public:
  static constexpr int kStartArrivalDelayMs = 1500;
  // A watcher that cannot start (no event source, every slot of the source
  // taken) is tried again after 1 s, then after twice the last wait, at most
  // a minute apart, until it starts.
  static constexpr int kWatchRetryFirstMs = 1000;
  static constexpr int kWatchRetryMaxMs = 60000;

  // backend: what the scans enumerate; notifier: the arrival and removal
  // source (nullptr: no events but the two at start-up).
  TuiHIDEventEx(QObject* AOwner, std::shared_ptr<platform::HidBackend> backend,
                std::unique_ptr<platform::HidDeviceNotifier> notifier);
  ~TuiHIDEventEx() override;

  enum ScanMode { ScanFill = 0, ScanArrivals = 1, ScanRemovals = 2 };
  // eventPath: the interface the event named (may be empty).
  void ScanDevices(int mode, const std::string& eventPath = {});

  // One event of the notifier (public so tests can feed events by hand).
  void HandleDeviceEvent(const platform::HidDeviceEvent& event);

  // IDs of the present interfaces, for tests.
  QStringList PresentDevices() const;
  // The watcher runs; the wait before the next try when it does not (0: none due).
  bool Watching() const { return FWatching; }
  int WatchRetryDelayMs() const;
  // The waits between tries (tests use short ones).
  void SetWatchRetryDelays(int firstMs, int maxMs);

  TuiHIDNotifyEvent OnDeviceArrival;
  TuiHIDNotifyEvent OnDeviceRemove;
  TuiHIDNotifyEvent OnDeviceChange;
  TuiNewHIDDevicesArrival OnNewDeviceArrival;
  TuiPresentHIDDevicesRemoval OnPresentDeviceRemoval;

 private:
  std::map<std::string, std::vector<std::string>> Scan(bool& ok);
  // Starts the watcher, or plans the next try.
  void StartWatching();

  std::shared_ptr<platform::HidBackend> FBackend;
  std::unique_ptr<platform::HidDeviceNotifier> FNotifier;
  // path -> hardware IDs of that interface.
  std::map<std::string, std::vector<std::string>> FPresentDevices;
  QTimer* FTimerToStartMonitor = nullptr;
  QTimer* FTimerWatchRetry = nullptr;
  bool FWatching = false;
  int FWatchFailures = 0;
  int FWatchRetryFirstMs = kWatchRetryFirstMs;
  int FWatchRetryMaxMs = kWatchRetryMaxMs;
};
