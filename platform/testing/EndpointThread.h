#pragma once
// The other program's message endpoint, for tests: its single-instance lock,
// its endpoint and an event loop on a thread of its own, as the other program
// would have them on its GUI thread. `setup` runs on that thread, so what the
// handler needs there (a device link, say) lives and dies with the thread;
// it returns the handler. ok() tells whether the endpoint is listening.

#include <QEventLoop>
#include <QThread>

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include "platform/MessageChannel.h"
#include "platform/SingleInstance.h"

namespace platform_test {

class EndpointThread {
 public:
  using Setup = std::function<platform::MessageEndpoint::Handler()>;

  EndpointThread(std::string className, Setup setup) {
    std::promise<bool> ready;
    auto readyFuture = ready.get_future();
    thread_.reset(QThread::create([this, className, setup = std::move(setup), &ready] {
      platform::SingleInstance lock(className);
      platform::MessageEndpoint endpoint;
      const platform::MessageEndpoint::Handler handler = setup();
      QEventLoop loop;
      {
        std::lock_guard g(mutex_);
        loop_ = &loop;
      }
      ready.set_value(lock.held() && endpoint.listen(lock, className, handler));
      loop.exec();
      std::lock_guard g(mutex_);
      loop_ = nullptr;
    }));
    thread_->start();
    ok_ = readyFuture.get();
  }
  EndpointThread(std::string className, platform::MessageEndpoint::Handler handler)
      : EndpointThread(std::move(className), [handler] { return handler; }) {}

  ~EndpointThread() {
    {
      std::lock_guard g(mutex_);
      if (loop_) QMetaObject::invokeMethod(loop_, &QEventLoop::quit, Qt::QueuedConnection);
    }
    thread_->wait();
  }
  EndpointThread(const EndpointThread&) = delete;
  EndpointThread& operator=(const EndpointThread&) = delete;

  bool ok() const { return ok_; }

 private:
  std::unique_ptr<QThread> thread_;
  std::mutex mutex_;
  QEventLoop* loop_ = nullptr;
  bool ok_ = false;
};

}  // namespace platform_test
