#pragma once
// TuiHIDEvent: turns arrival and removal of HID interfaces (of any device)
// into component events on the thread that created it, and fires its arrival
// event once 1.5 s after creation, so its owner runs the arrival work at
// start-up whether or not a device comes later. The owners decide which
// device it was, usually by testing presence through TuiHIDData.

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

#include "platform/HidBackend.h"

// A notify event: the argument is the component itself.
using TuiHIDNotifyEvent = std::function<void(QObject* Sender)>;

class TuiHIDEvent : public QObject {
  Q_OBJECT
 public:
  // The delay of the start-up arrival event.
  static constexpr int kStartArrivalDelayMs = 1500;

  // The programs pass platform::makeHidDeviceNotifier(); nullptr gives the
  // two start-up events only. A notifier that cannot start is not reported
  // beyond one warning: the start-up events still come.
  TuiHIDEvent(QObject* AOwner, std::unique_ptr<platform::HidDeviceNotifier> notifier);
  ~TuiHIDEvent() override;

  TuiHIDNotifyEvent OnDeviceArrival;
  TuiHIDNotifyEvent OnDeviceRemove;
  TuiHIDNotifyEvent OnDeviceChange;

 private:
  void TimerToStartMonitorTimer();
  void Fire(const TuiHIDNotifyEvent& event);

  std::unique_ptr<platform::HidDeviceNotifier> FNotifier;
  QTimer* FTimerToStartMonitor = nullptr;
};
