#include "device/uiHIDEvent.h"

#include <QMetaObject>
#include <exception>

TuiHIDEvent::TuiHIDEvent(QObject* AOwner, std::unique_ptr<platform::HidDeviceNotifier> notifier)
    : QObject(AOwner), FNotifier(std::move(notifier)) {
  if (FNotifier) {
    std::string error;
    const bool started = FNotifier->start(
        [this](const platform::HidDeviceEvent& e) {
          Fire(e.kind == platform::HidDeviceEvent::Kind::Arrival ? OnDeviceArrival : OnDeviceRemove);
        },
        error);
    if (!started) qWarning("device notifications unavailable: %s", error.c_str());
  }
  // One device-change once the owner's event loop first runs.
  QMetaObject::invokeMethod(this, [this] { Fire(OnDeviceChange); }, Qt::QueuedConnection);
  FTimerToStartMonitor = new QTimer(this);
  FTimerToStartMonitor->setSingleShot(true);
  // A coarse timer may fire up to 5 % early; the arrival is promised no
  // sooner than the delay after creation.
  FTimerToStartMonitor->setTimerType(Qt::PreciseTimer);
  FTimerToStartMonitor->setInterval(kStartArrivalDelayMs);
  connect(FTimerToStartMonitor, &QTimer::timeout, this, &TuiHIDEvent::TimerToStartMonitorTimer);
  FTimerToStartMonitor->start();
}

TuiHIDEvent::~TuiHIDEvent() {
  // The notifier goes first so that no handler runs into a half-destroyed component.
  FNotifier.reset();
}

void TuiHIDEvent::TimerToStartMonitorTimer() {
  FTimerToStartMonitor->stop();
  Fire(OnDeviceArrival);
}

void TuiHIDEvent::Fire(const TuiHIDNotifyEvent& event) {
  if (!event) return;
  // A handler's failure must not unwind through Qt's event loop.
  try {
    event(this);
  } catch (const std::exception& e) {
    qWarning("device event handler failed: %s", e.what());
  } catch (...) {
    qWarning("device event handler failed");
  }
}
