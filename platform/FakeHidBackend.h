#pragma once
// An in-memory HidBackend for tests: a list of interfaces set by the test, a
// log of every transfer, scriptable answers, queued input reports and
// unplugging. Header-only so any folder's tests can use it.

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

#include "platform/HidBackend.h"

namespace platform {

class FakeHidBackend : public HidBackend {
 public:
  struct Transfer {
    enum class Kind { SetFeature, GetFeature, Output };
    Kind kind;
    std::string path;
    std::vector<uint8_t> bytes;  // as sent; for a get, the answer handed back
  };
  // Answers a get-feature: fill report (report[0] holds the ID) and return a code.
  using GetHandler = std::function<uint32_t(const std::string& path, std::span<uint8_t> report)>;
  using SetHandler = std::function<uint32_t(const std::string& path, std::span<const uint8_t> report)>;

  void setInterfaces(std::vector<HidInterfaceInfo> interfaces) {
    std::lock_guard lock(mutex_);
    interfaces_ = std::move(interfaces);
  }
  void setGetHandler(GetHandler h) {
    std::lock_guard lock(mutex_);
    onGet_ = std::move(h);
  }
  void setSetHandler(SetHandler h) {
    std::lock_guard lock(mutex_);
    onSet_ = std::move(h);
  }
  // open() of this path fails with this code (0 removes the failure).
  void setOpenError(const std::string& path, uint32_t code) {
    std::lock_guard lock(mutex_);
    openErrors_[path] = code;
  }

  std::vector<Transfer> log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }
  void clearLog() {
    std::lock_guard lock(mutex_);
    log_.clear();
  }
  int openCount() const {
    std::lock_guard lock(mutex_);
    return opens_;
  }

  // Queues one input report (ID byte first) for every open reader of path.
  void pushInput(const std::string& path, std::vector<uint8_t> report) {
    std::lock_guard lock(mutex_);
    for (auto& [id, r] : readers_)
      if (r.path == path) r.queue.push_back(report);
    cv_.notify_all();
  }
  // Removes the interface; reads and transfers on it fail as on a gone device.
  void unplug(const std::string& path) {
    std::lock_guard lock(mutex_);
    interfaces_.erase(std::remove_if(interfaces_.begin(), interfaces_.end(),
                                     [&](const HidInterfaceInfo& i) { return i.path == path; }),
                      interfaces_.end());
    gone_.push_back(path);
    cv_.notify_all();
  }
  // Number of readers currently blocked in readInputReport().
  int blockedReaders() const {
    std::lock_guard lock(mutex_);
    return blocked_;
  }
  // Waits (bounded) until n readers are blocked.
  bool waitBlockedReaders(int n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return blockedCv_.wait_for(lock, timeout, [&] { return blocked_ >= n; });
  }

  std::vector<HidInterfaceInfo> enumerate() override {
    std::lock_guard lock(mutex_);
    return interfaces_;
  }

  std::unique_ptr<HidDevice> open(const std::string& path, uint32_t& error) override {
    std::lock_guard lock(mutex_);
    if (auto it = openErrors_.find(path); it != openErrors_.end() && it->second != 0) {
      error = it->second;
      return nullptr;
    }
    const bool present = std::any_of(interfaces_.begin(), interfaces_.end(),
                                     [&](const HidInterfaceInfo& i) { return i.path == path; });
    if (!present) {
      error = hid_error::kDeviceNotConnected;
      return nullptr;
    }
    ++opens_;
    const int id = nextReader_++;
    readers_[id].path = path;
    return std::make_unique<Device>(this, id, path);
  }

 private:
  struct ReaderState {
    std::string path;
    std::deque<std::vector<uint8_t>> queue;
    bool cancelled = false;
  };

  class Device : public HidDevice {
   public:
    Device(FakeHidBackend* owner, int id, std::string path) : owner_(owner), id_(id), path_(std::move(path)) {}
    ~Device() override {
      std::lock_guard lock(owner_->mutex_);
      owner_->readers_.erase(id_);
    }
    uint32_t sendFeatureReport(std::span<const uint8_t> report) override {
      std::unique_lock lock(owner_->mutex_);
      if (isGone()) return hid_error::kDeviceNotConnected;
      owner_->log_.push_back({Transfer::Kind::SetFeature, path_, {report.begin(), report.end()}});
      SetHandler h = owner_->onSet_;
      lock.unlock();
      return h ? h(path_, report) : 0;
    }
    uint32_t getFeatureReport(std::span<uint8_t> report) override {
      std::unique_lock lock(owner_->mutex_);
      if (isGone()) return hid_error::kDeviceNotConnected;
      GetHandler h = owner_->onGet_;
      lock.unlock();
      std::vector<uint8_t> answer(report.begin(), report.end());
      const uint32_t rc = h ? h(path_, answer) : 0;
      lock.lock();
      owner_->log_.push_back({Transfer::Kind::GetFeature, path_, answer});
      if (rc == 0) std::copy(answer.begin(), answer.end(), report.begin());
      return rc;
    }
    uint32_t writeOutputReport(std::span<const uint8_t> report) override {
      std::lock_guard lock(owner_->mutex_);
      if (isGone()) return hid_error::kDeviceNotConnected;
      owner_->log_.push_back({Transfer::Kind::Output, path_, {report.begin(), report.end()}});
      return 0;
    }
    uint32_t readInputReport(std::span<uint8_t> buffer, std::size_t& bytesRead) override {
      std::unique_lock lock(owner_->mutex_);
      ReaderState& s = owner_->readers_[id_];
      ++owner_->blocked_;
      owner_->blockedCv_.notify_all();
      owner_->cv_.wait(lock, [&] { return s.cancelled || isGone() || !s.queue.empty(); });
      --owner_->blocked_;
      if (s.cancelled) return hid_error::kOperationAborted;
      if (isGone()) return hid_error::kDeviceNotConnected;
      std::vector<uint8_t> r = std::move(s.queue.front());
      s.queue.pop_front();
      bytesRead = std::min(r.size(), buffer.size());
      std::copy_n(r.begin(), bytesRead, buffer.begin());
      return 0;
    }
    void cancelRead() override {
      std::lock_guard lock(owner_->mutex_);
      owner_->readers_[id_].cancelled = true;
      owner_->cv_.notify_all();
    }

   private:
    bool isGone() const {
      return std::find(owner_->gone_.begin(), owner_->gone_.end(), path_) != owner_->gone_.end();
    }
    FakeHidBackend* owner_;
    int id_;
    std::string path_;
  };

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::condition_variable blockedCv_;
  std::vector<HidInterfaceInfo> interfaces_;
  std::map<std::string, uint32_t> openErrors_;
  std::map<int, ReaderState> readers_;
  std::vector<std::string> gone_;
  std::vector<Transfer> log_;
  GetHandler onGet_;
  SetHandler onSet_;
  int opens_ = 0;
  int nextReader_ = 0;
  int blocked_ = 0;
};

}  // namespace platform
