#include "device/uiStdCmd.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct Worker {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};

// Every worker started and not yet joined. Finished ones are joined at the
// next start, the rest when the process ends, so no thread outlives main.
class WorkerList {
 public:
  ~WorkerList() { JoinAll(); }

  void Add(Worker worker) {
    std::list<Worker> finished;
    {
      std::lock_guard lock(FMutex);
      for (auto it = FWorkers.begin(); it != FWorkers.end();) {
        auto next = std::next(it);
        if (it->done->load()) finished.splice(finished.end(), FWorkers, it);
        it = next;
      }
      FWorkers.push_back(std::move(worker));
    }
    for (auto& w : finished) w.thread.join();  // already ended: returns at once
  }

  void JoinAll() {
    for (;;) {
      std::list<Worker> all;
      {
        std::lock_guard lock(FMutex);
        all.swap(FWorkers);
      }
      if (all.empty()) return;
      for (auto& w : all) w.thread.join();
    }
  }

  int Count() {
    std::lock_guard lock(FMutex);
    return static_cast<int>(FWorkers.size());
  }

 private:
  std::mutex FMutex;
  std::list<Worker> FWorkers;
};

WorkerList& Workers() {
  static WorkerList list;
  return list;
}

}  // namespace

TuiThread::TuiThread(TThreadCallFunction func, const void* buffer, uint32_t size)
    : FFunc(std::move(func)),
      FBuffer(static_cast<const uint8_t*>(buffer), static_cast<const uint8_t*>(buffer) + size) {}

void TuiThread::Execute() {
  try {
    FFunc(FBuffer.data(), static_cast<uint32_t>(FBuffer.size()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "TuiThread: callback failed: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "TuiThread: callback failed\n");
  }
}

bool TuiThread::ThreadCallFunction(TThreadCallFunction func, const void* buffer, uint32_t size) {
  if (size == 0 || buffer == nullptr || !func) return false;
  auto job = std::shared_ptr<TuiThread>(new TuiThread(std::move(func), buffer, size));
  auto done = std::make_shared<std::atomic<bool>>(false);
  Worker worker;
  worker.done = done;
  try {
    worker.thread = std::thread([job, done] {
      job->Execute();
      done->store(true);
    });
  } catch (const std::system_error& e) {
    std::fprintf(stderr, "TuiThread: cannot start a worker: %s\n", e.what());
    return false;
  }
  Workers().Add(std::move(worker));
  return true;
}

void TuiThread::WaitForAll() { Workers().JoinAll(); }

int TuiThread::PendingCount() { return Workers().Count(); }
