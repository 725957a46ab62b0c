#pragma once
// TuiHIDData: the programs' only road to the mouse. It walks the present HID
// interfaces, keeps the top-level collections with the wanted usage page and
// usage whose hardware IDs the config.ini list ([IncludeHIDDeviceList]) names,
// and on each of them sends or fetches a feature report, writes an output
// report, tests presence, or starts an input-report reader.
//
// Linux differs from Windows in one point the callers can see: several
// top-level collections share one hidraw node. A transfer is therefore made
// once per node even when two matching collections sit on it, and a reader
// delivers only the input reports whose ID belongs to its collections.

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/DeviceLock.h"
#include "platform/HidBackend.h"

// Selects a HID top-level collection.
struct USAGE_AND_PAGE {
  uint16_t Usage = 0;
  uint16_t UsagePage = 0;
};

// One report as the HID driver sees it: ReportID then DATAReally. For feature
// reports DATASIZE is the whole report's length, report-ID byte included.
struct THidReallyData {
  uint8_t ReportID = 0;
  std::array<uint8_t, 65535> DATAReally{};
  uint32_t DATASIZE = 0;
};

// One request or answer of the find methods.
struct THIDDataParam {
  USAGE_AND_PAGE UsageAndPage;
  // Hardware-ID selector: empty or "*" selects by the configured list.
  std::string DeviceID;
  THidReallyData Data;
  // Set to a non-zero value when a feature report was attempted; the device
  // is closed again before the call returns, so it only tells that.
  uint32_t DeviceHandle = 0;
};

// Event types. The report bytes are valid only during the call.
using TuiHIDDataReceived = std::function<void(const std::string& ADeviceID, const std::string& ADevicePath,
                                              uint8_t ReportID, const uint8_t* Data, uint16_t Size)>;
using TuiHIDDeviceNotConnected = std::function<void(const std::string& ADeviceID, const std::string& ADevicePath)>;

class TuiHIDData : public QObject {
  Q_OBJECT
 public:
  // The programs pass platform::makeHidBackend() (the emulated mouse when
  // MOUSE_EMULATOR is set, else hidraw); config.ini defaults to the one
  // beside the executable.
  TuiHIDData(QObject* Aowner, std::shared_ptr<platform::HidBackend> backend,
             const QString& configIniPath = DefaultConfigIniPath());
  ~TuiHIDData() override;

  TuiHIDData(const TuiHIDData&) = delete;
  TuiHIDData& operator=(const TuiHIDData&) = delete;

  // Starts one reader per matching node (none for a node that already has a
  // live reader). The monitor passes the vendor collection and "*".
  void HidFindAndReadDevice(USAGE_AND_PAGE UsageAndPage, const std::string& HIDID);
  // Output report of exactly DATASIZE bytes to every qualifying interface;
  // True when at least one write succeeded.
  bool HidFindAndWriteDevice(THIDDataParam ReportData);
  // The same without the hardware-ID filter.
  bool HidFindAndWriteDeviceBYHID(THIDDataParam ReportData);
  // 0 or an error code. With several qualifying interfaces the last one's
  // answer and code count; with none, 1167 (device not connected).
  uint32_t HidFindAndGetFeatureReport(THIDDataParam& ReportData);
  // 0 or the first non-zero code, so a failed write to one interface is not
  // hidden by a later success; 1167 when none qualified.
  uint32_t HidFindAndSetFeatureReport(THIDDataParam& ReportData);
  // Stops and joins every reader of this component. Readers started later
  // run normally.
  void HidStopRead();
  bool IsDeviceExist(THIDDataParam ReportData);
  // 0 when a qualifying device opens; kTimeout when the devices did not
  // answer in time; else why none opened (1167 when there is none).
  uint32_t DeviceExistCode(const THIDDataParam& ReportData);
  const std::vector<std::string>& GetHIDDeviceList() const { return FHidDeviceList; }
  void SetUsageAndPage(USAGE_AND_PAGE AUsageAndPage) { FUsageAndPage = AUsageAndPage; }
  USAGE_AND_PAGE GetUsageAndPage() const { return FUsageAndPage; }

  // Cross-process locks of every node the request would reach, taken in a
  // fixed order so the two programs cannot deadlock. Held around a request
  // and its fetch so the other program's traffic cannot fall in between.
  std::vector<platform::DeviceLock> LockQualifyingDevices(const THIDDataParam& ReportData);

  // Number of readers still running (finished ones are reaped first).
  int RunningReaderCount();

  static QString DefaultConfigIniPath();

  std::string DeviceID;  // kept for the component's interface; nothing reads it
  // When True, reports are delivered on the reader thread. Default False:
  // delivered on the component's thread by a queued call with a copy.
  bool FastOnData = false;
  TuiHIDDataReceived OnData;
  TuiHIDDeviceNotConnected OnDeviceNotConnected;

 private:
  struct Reader;
  enum class FilterMode { General, Read, None };
  struct Target {
    std::string path;
    std::string firstHardwareId;
    std::vector<uint8_t> inputReportIds;
    uint32_t inputReportLength = 0;
  };

  void LoadHidDeviceList(const QString& configIniPath);
  bool Qualifies(const std::vector<std::string>& ids, const std::string& selector, FilterMode mode) const;
  // Both output writers: the same report to every interface the filter lets through.
  bool WriteOutputReport(const THIDDataParam& ReportData, FilterMode mode);
  // Matching nodes in enumeration order, one entry per node.
  // enumError (when given) takes kTimeout when the devices could not be
  // asked in time, else 0.
  std::vector<Target> FindTargets(USAGE_AND_PAGE usage, const std::string& selector, FilterMode mode,
                                  uint32_t featureLength, uint32_t outputLength, uint32_t* enumError = nullptr);
  void ReapFinishedReaders();
  void ReaderLoop(Reader* reader);

  USAGE_AND_PAGE FUsageAndPage;
  std::vector<std::string> FHidDeviceList;
  std::shared_ptr<platform::HidBackend> FBackend;
  std::mutex FReadersMutex;
  std::vector<std::unique_ptr<Reader>> FReaders;
};
