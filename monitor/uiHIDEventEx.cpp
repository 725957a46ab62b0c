#include "monitor/uiHIDEventEx.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "platform/HardwareIds.h"

namespace {

void AddUnique(QStringList& list, const std::vector<std::string>& ids) {
  for (const std::string& id : ids) {
    const QString text = QString::fromStdString(id);
    if (!list.contains(text, Qt::CaseInsensitive)) list.append(text);
  }
}

}  // namespace

TuiHIDEventEx::TuiHIDEventEx(QObject* AOwner, std::shared_ptr<platform::HidBackend> backend,
                             std::unique_ptr<platform::HidDeviceNotifier> notifier)
    : QObject(AOwner), FBackend(std::move(backend)), FNotifier(std::move(notifier)) {
  ScanDevices(ScanFill);
  FTimerWatchRetry = new QTimer(this);
  FTimerWatchRetry->setSingleShot(true);
  connect(FTimerWatchRetry, &QTimer::timeout, this, [this] { StartWatching(); });
  StartWatching();
  QMetaObject::invokeMethod(
      this, [this] { if (OnDeviceChange) OnDeviceChange(this); }, Qt::QueuedConnection);
  FTimerToStartMonitor = new QTimer(this);
  FTimerToStartMonitor->setSingleShot(true);
  FTimerToStartMonitor->setInterval(kStartArrivalDelayMs);
  connect(FTimerToStartMonitor, &QTimer::timeout, this, [this] {
    if (OnDeviceArrival) OnDeviceArrival(this);
  });
  FTimerToStartMonitor->start();
}

TuiHIDEventEx::~TuiHIDEventEx() = default;

void TuiHIDEventEx::StartWatching() {
  if (!FNotifier || FWatching) return;
  std::string error;
  if (FNotifier->start([this](const platform::HidDeviceEvent& e) { HandleDeviceEvent(e); }, error)) {
    FWatching = true;
    if (FWatchFailures > 0) {
      std::fprintf(stderr, "device arrival and removal watched again\n");
      // What came and went while nothing was watched, as if just seen.
      ScanDevices(ScanRemovals);
      ScanDevices(ScanArrivals);
    }
    FWatchFailures = 0;
    return;
  }
  // Said once per outage, not at every try.
  if (FWatchFailures == 0)
    std::fprintf(stderr, "device arrival and removal not watched: %s; trying again\n", error.c_str());
  ++FWatchFailures;
  FTimerWatchRetry->start(WatchRetryDelayMs());
}

int TuiHIDEventEx::WatchRetryDelayMs() const {
  if (FWatching || FWatchFailures == 0) return 0;
  qint64 delay = FWatchRetryFirstMs;
  for (int i = 1; i < FWatchFailures && delay < FWatchRetryMaxMs; ++i) delay *= 2;
  return int(std::min<qint64>(delay, FWatchRetryMaxMs));
}

void TuiHIDEventEx::SetWatchRetryDelays(int firstMs, int maxMs) {
  FWatchRetryFirstMs = std::max(1, firstMs);
  FWatchRetryMaxMs = std::max(FWatchRetryFirstMs, maxMs);
  if (FTimerWatchRetry->isActive()) FTimerWatchRetry->start(WatchRetryDelayMs());
}

std::map<std::string, std::vector<std::string>> TuiHIDEventEx::Scan(bool& ok) {
  std::map<std::string, std::vector<std::string>> found;
  ok = false;
  if (!FBackend) return found;
  std::vector<platform::HidInterfaceInfo> interfaces;
  try {
    interfaces = FBackend->enumerate();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "HID scan failed: %s\n", e.what());
    return found;
  }
  ok = true;
  for (const auto& itf : interfaces) {
    if (itf.path.empty()) continue;
    std::vector<std::string> ids;
    for (const auto& c : itf.collections) {
      for (size_t i = 0; i < c.hardwareIds.size() && i < 2; ++i) {
        const std::string& id = c.hardwareIds[i];
        const bool known = std::any_of(ids.begin(), ids.end(),
                                       [&](const std::string& s) { return platform::hardwareIdEquals(s, id); });
        if (!known) ids.push_back(id);
      }
    }
    if (!ids.empty()) found.emplace(itf.path, std::move(ids));
  }
  return found;
}

void TuiHIDEventEx::ScanDevices(int mode, const std::string& eventPath) {
  bool ok = false;
  auto found = Scan(ok);
  QStringList changed;
  if (mode == ScanRemovals) {
    // The named interface left even if a new one already took its path.
    if (!eventPath.empty()) {
      if (auto it = FPresentDevices.find(eventPath); it != FPresentDevices.end()) {
        AddUnique(changed, it->second);
        FPresentDevices.erase(it);
      }
    }
    if (ok) {
      for (auto it = FPresentDevices.begin(); it != FPresentDevices.end();) {
        if (found.count(it->first) == 0) {
          AddUnique(changed, it->second);
          it = FPresentDevices.erase(it);
        } else {
          ++it;
        }
      }
    }
    if (!changed.isEmpty() && OnPresentDeviceRemoval) OnPresentDeviceRemoval(changed);
    return;
  }
  if (!ok) return;
  for (auto& [path, ids] : found) {
    auto it = FPresentDevices.find(path);
    // An arrival event for a path we hold means its removal went unseen:
    // it is a new device all the same.
    const bool isNew = it == FPresentDevices.end() || (mode == ScanArrivals && path == eventPath);
    if (isNew) AddUnique(changed, ids);
    FPresentDevices[path] = ids;
  }
  if (mode == ScanArrivals && !changed.isEmpty() && OnNewDeviceArrival) OnNewDeviceArrival(changed);
}

void TuiHIDEventEx::HandleDeviceEvent(const platform::HidDeviceEvent& event) {
  try {
    if (event.kind == platform::HidDeviceEvent::Kind::Arrival) {
      if (OnDeviceArrival) OnDeviceArrival(this);
      ScanDevices(ScanArrivals, event.path);
    } else {
      if (OnDeviceRemove) OnDeviceRemove(this);
      ScanDevices(ScanRemovals, event.path);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "device change handler failed: %s\n", e.what());
  }
}

QStringList TuiHIDEventEx::PresentDevices() const {
  QStringList out;
  for (const auto& [path, ids] : FPresentDevices) AddUnique(out, ids);
  return out;
}
