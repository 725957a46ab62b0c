#include "device/uiHIDData.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMetaObject>

#include <algorithm>
#include <cstring>

#include "platform/HardwareIds.h"
#include "platform/IniFile.h"

namespace {
constexpr int kMaxConfiguredIds = 101;
// Largest report a HID descriptor can describe (report ID byte included).
constexpr uint32_t kMaxReportLength = 65536;

bool containsId(const std::vector<std::string>& ids, const std::string& wanted) {
  return std::any_of(ids.begin(), ids.end(), [&](const std::string& id) { return platform::hardwareIdEquals(id, wanted); });
}
}  // namespace

struct TuiHIDData::Reader {
  std::string deviceId;
  std::string path;
  std::vector<uint8_t> reportIds;  // input reports of the selected collections
  uint32_t inputLength = 0;
  bool fastOnData = false;
  std::unique_ptr<platform::HidDevice> device;
  std::atomic<bool> finished{false};
  std::thread thread;
};

TuiHIDData::TuiHIDData(QObject* Aowner, std::shared_ptr<platform::HidBackend> backend, const QString& configIniPath)
    : QObject(Aowner), FBackend(std::move(backend)) {
  LoadHidDeviceList(configIniPath);
}

TuiHIDData::~TuiHIDData() { HidStopRead(); }

QString TuiHIDData::DefaultConfigIniPath() {
  return QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
}

void TuiHIDData::LoadHidDeviceList(const QString& configIniPath) {
  FHidDeviceList.clear();
  platform::IniFile ini;
  // A missing or unreadable file gives an empty list: every vendor
  // collection qualifies, as with an empty section.
  if (ini.load(configIniPath) != platform::IniFile::LoadResult::Ok) return;
  for (int n = 1; n <= kMaxConfiguredIds; ++n) {
    const QString value = ini.readString(QStringLiteral("IncludeHIDDeviceList"), QStringLiteral("id%1").arg(n));
    if (value.isEmpty()) break;  // the list ends at the first empty key
    FHidDeviceList.push_back(value.toStdString());
  }
}

bool TuiHIDData::Qualifies(const std::vector<std::string>& ids, const std::string& selector, FilterMode mode) const {
  const auto byConfiguredList = [&] {
    return std::any_of(FHidDeviceList.begin(), FHidDeviceList.end(),
                       [&](const std::string& wanted) { return containsId(ids, wanted); });
  };
  switch (mode) {
    case FilterMode::None:
      return true;
    case FilterMode::Read:
      if (FHidDeviceList.empty()) return true;
      if (selector == "*") return byConfiguredList();
      return containsId(ids, selector);
    case FilterMode::General:
      if (!selector.empty() && selector != "*") return containsId(ids, selector);
      if (FHidDeviceList.empty()) return true;
      return byConfiguredList();
  }
  return false;
}

std::vector<TuiHIDData::Target> TuiHIDData::FindTargets(USAGE_AND_PAGE usage, const std::string& selector,
                                                        FilterMode mode, uint32_t featureLength, uint32_t outputLength,
                                                        uint32_t* enumError) {
  std::vector<Target> targets;
  if (enumError) *enumError = 0;
  if (!FBackend) return targets;
  uint32_t error = 0;
  const std::vector<platform::HidInterfaceInfo> present = FBackend->enumerate(error);
  if (enumError) *enumError = error;
  for (const platform::HidInterfaceInfo& iface : present) {
    Target* target = nullptr;
    for (const platform::HidCollectionInfo& c : iface.collections) {
      if (c.usagePage != usage.UsagePage || c.usage != usage.Usage) continue;
      if (!Qualifies(c.hardwareIds, selector, mode)) continue;
      if (c.featureReportLength < featureLength || c.outputReportLength < outputLength) continue;
      if (!target) {
        targets.push_back(Target{iface.path, c.hardwareIds.empty() ? std::string() : c.hardwareIds.front(), {}, 0});
        target = &targets.back();
      }
      for (const platform::HidReportInfo& r : c.inputReports) target->inputReportIds.push_back(r.id);
      target->inputReportLength = std::max(target->inputReportLength, c.inputReportLength);
    }
  }
  return targets;
}

bool TuiHIDData::IsDeviceExist(THIDDataParam ReportData) { return DeviceExistCode(ReportData) == 0; }

uint32_t TuiHIDData::DeviceExistCode(const THIDDataParam& ReportData) {
  uint32_t result = platform::hid_error::kDeviceNotConnected;
  for (const Target& t : FindTargets(ReportData.UsageAndPage, ReportData.DeviceID, FilterMode::General, 0, 0, &result)) {
    uint32_t error = 0;
    if (FBackend->open(t.path, error)) return 0;
    if (error != 0) result = error;
  }
  return result != 0 ? result : platform::hid_error::kDeviceNotConnected;
}

uint32_t TuiHIDData::HidFindAndSetFeatureReport(THIDDataParam& ReportData) {
  const uint32_t size = ReportData.Data.DATASIZE;
  if (size == 0 || size > kMaxReportLength) return platform::hid_error::kInvalidParameter;
  std::vector<uint8_t> report(size);
  report[0] = ReportData.Data.ReportID;
  std::memcpy(report.data() + 1, ReportData.Data.DATAReally.data(), size - 1);

  uint32_t result = platform::hid_error::kDeviceNotConnected;
  bool attempted = false;
  uint32_t handle = 0;
  uint32_t enumError = 0;
  const std::vector<Target> targets =
      FindTargets(ReportData.UsageAndPage, ReportData.DeviceID, FilterMode::General, size, 0, &enumError);
  if (enumError != 0) result = enumError;  // the mouse may be there and silent
  for (const Target& t : targets) {
    uint32_t error = 0;
    auto device = FBackend->open(t.path, error);
    if (!device) {
      if (!attempted) result = error ? error : result;  // say why nothing was reached
      continue;
    }
    ReportData.DeviceHandle = ++handle;
    const uint32_t rc = device->sendFeatureReport(report);
    if (!attempted || result == 0) result = rc;  // keep the first failure
    attempted = true;
  }
  return result;
}

uint32_t TuiHIDData::HidFindAndGetFeatureReport(THIDDataParam& ReportData) {
  const uint32_t size = ReportData.Data.DATASIZE;
  if (size == 0 || size > kMaxReportLength) return platform::hid_error::kInvalidParameter;
  uint32_t result = platform::hid_error::kDeviceNotConnected;
  bool attempted = false;
  uint32_t enumError = 0;
  const std::vector<Target> targets =
      FindTargets(ReportData.UsageAndPage, ReportData.DeviceID, FilterMode::General, size, 0, &enumError);
  if (enumError != 0) result = enumError;  // the mouse may be there and silent
  for (const Target& t : targets) {
    uint32_t error = 0;
    auto device = FBackend->open(t.path, error);
    if (!device) {
      if (!attempted) result = error ? error : result;
      continue;
    }
    std::vector<uint8_t> buffer(size, 0);
    buffer[0] = ReportData.Data.ReportID;
    result = device->getFeatureReport(buffer);
    attempted = true;
    if (result == 0) {
      ReportData.Data.ReportID = buffer[0];
      std::memcpy(ReportData.Data.DATAReally.data(), buffer.data() + 1, size - 1);
    }
  }
  return result;
}

bool TuiHIDData::HidFindAndWriteDevice(THIDDataParam ReportData) {
  return WriteOutputReport(ReportData, FilterMode::General);
}

bool TuiHIDData::HidFindAndWriteDeviceBYHID(THIDDataParam ReportData) {
  return WriteOutputReport(ReportData, FilterMode::None);
}

bool TuiHIDData::WriteOutputReport(const THIDDataParam& ReportData, FilterMode mode) {
  const uint32_t size = ReportData.Data.DATASIZE;
  if (size == 0 || size > kMaxReportLength) return false;
  std::vector<uint8_t> report(size);
  report[0] = ReportData.Data.ReportID;
  std::memcpy(report.data() + 1, ReportData.Data.DATAReally.data(), size - 1);
  bool any = false;
  for (const Target& t : FindTargets(ReportData.UsageAndPage, ReportData.DeviceID, mode, 0, size)) {
    uint32_t error = 0;
    if (auto device = FBackend->open(t.path, error); device && device->writeOutputReport(report) == 0) any = true;
  }
  return any;
}

std::vector<platform::DeviceLock> TuiHIDData::LockQualifyingDevices(const THIDDataParam& ReportData) {
  std::vector<std::string> paths;
  for (const Target& t : FindTargets(ReportData.UsageAndPage, ReportData.DeviceID, FilterMode::General, 0, 0))
    paths.push_back(t.path);
  std::sort(paths.begin(), paths.end());
  paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
  std::vector<platform::DeviceLock> locks;
  for (const std::string& path : paths) {
    std::string error;
    platform::DeviceLock lock = platform::DeviceLock::acquire(path, error);
    if (lock.held())
      locks.push_back(std::move(lock));
    else
      qWarning("device lock for %s not taken: %s", path.c_str(), error.c_str());
  }
  return locks;
}

void TuiHIDData::HidFindAndReadDevice(USAGE_AND_PAGE UsageAndPage, const std::string& HIDID) {
  ReapFinishedReaders();
  for (Target& t : FindTargets(UsageAndPage, HIDID, FilterMode::Read, 0, 0)) {
    {
      std::lock_guard lock(FReadersMutex);
      const bool running = std::any_of(FReaders.begin(), FReaders.end(), [&](const std::unique_ptr<Reader>& r) {
        return r->path == t.path && !r->finished.load();
      });
      // A second reader on a node would deliver every report twice.
      if (running) continue;
    }
    if (t.inputReportLength == 0 || t.inputReportLength > kMaxReportLength) continue;
    uint32_t error = 0;
    auto device = FBackend->open(t.path, error);
    if (!device) continue;
    auto reader = std::make_unique<Reader>();
    reader->deviceId = t.firstHardwareId;
    reader->path = t.path;
    reader->reportIds = std::move(t.inputReportIds);
    reader->inputLength = t.inputReportLength;
    reader->fastOnData = FastOnData;
    reader->device = std::move(device);
    Reader* raw = reader.get();
    std::lock_guard lock(FReadersMutex);
    FReaders.push_back(std::move(reader));
    raw->thread = std::thread([this, raw] { ReaderLoop(raw); });
  }
}

void TuiHIDData::ReaderLoop(Reader* reader) {
  qDebug("TuiHidDeviceReadThread start ++++++++++++++++");
  std::vector<uint8_t> buffer(std::max<uint32_t>(reader->inputLength, 1));
  for (;;) {
    std::size_t got = 0;
    const uint32_t rc = reader->device->readInputReport(buffer, got);
    if (rc == platform::hid_error::kDeviceNotConnected) {
      qDebug("ERROR_DEVICE_NOT_CONNECTED++++++++++++++++");
      // The handlers touch the tray and the hook: run them on our thread.
      QMetaObject::invokeMethod(
          this, [this, id = reader->deviceId, path = reader->path] {
            if (OnDeviceNotConnected) OnDeviceNotConnected(id, path);
          },
          Qt::QueuedConnection);
      break;
    }
    // Stopped, or a read that cannot be started: the loop would only spin.
    if (rc != 0) break;
    if (got == 0) continue;
    got = std::min(got, buffer.size());
    if (!reader->reportIds.empty() &&
        std::find(reader->reportIds.begin(), reader->reportIds.end(), buffer[0]) == reader->reportIds.end())
      continue;  // a report of another collection on the same node
    if (reader->fastOnData) {
      if (OnData) OnData(reader->deviceId, reader->path, buffer[0], buffer.data() + 1, uint16_t(got - 1));
      continue;
    }
    QMetaObject::invokeMethod(
        this, [this, id = reader->deviceId, path = reader->path, bytes = std::vector<uint8_t>(buffer.begin(), buffer.begin() + got)] {
          if (OnData) OnData(id, path, bytes[0], bytes.data() + 1, uint16_t(bytes.size() - 1));
        },
        Qt::QueuedConnection);
  }
  reader->finished.store(true);
  QMetaObject::invokeMethod(this, [this] { ReapFinishedReaders(); }, Qt::QueuedConnection);
}

void TuiHIDData::ReapFinishedReaders() {
  std::vector<std::unique_ptr<Reader>> done;
  {
    std::lock_guard lock(FReadersMutex);
    auto it = std::stable_partition(FReaders.begin(), FReaders.end(),
                                    [](const std::unique_ptr<Reader>& r) { return !r->finished.load(); });
    std::move(it, FReaders.end(), std::back_inserter(done));
    FReaders.erase(it, FReaders.end());
  }
  for (auto& r : done)
    if (r->thread.joinable()) r->thread.join();  // already past its loop: returns at once
}

int TuiHIDData::RunningReaderCount() {
  ReapFinishedReaders();
  std::lock_guard lock(FReadersMutex);
  return static_cast<int>(FReaders.size());
}

void TuiHIDData::HidStopRead() {
  std::vector<std::unique_ptr<Reader>> readers;
  {
    std::lock_guard lock(FReadersMutex);
    readers.swap(FReaders);
  }
  for (auto& r : readers) r->device->cancelRead();
  // The readers never wait on this thread, so the joins end as soon as each
  // woken read returns.
  for (auto& r : readers)
    if (r->thread.joinable()) r->thread.join();
}
