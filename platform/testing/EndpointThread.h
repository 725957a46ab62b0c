#pragma once
// The other program's message endpoint, for tests: its single-instance lock,
// its endpoint and an event loop on a thread of its own, as the other program
// would have them on its GUI thread. `setup` runs on that thread, so what the
// handler needs there (a device link, say) lives and dies with the thread;
// it returns the handler. ok() tells whether the endpoint is listening.
//
// A plain std::thread, joined with join(): the end of the thread is then
// ordered before whatever follows the destructor, which ThreadSanitizer sees.

#include <QEventLoop>
#include <QMetaObject>

#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/MessageChannel.h"
#include "platform/SingleInstance.h"

namespace platform_test {

class EndpointThread {
 public:
  using Setup = std::function<platform::MessageEndpoint::Handler()>;

  EndpointThread(std::string className, Setup setup) {
    // The thread owns its promise: set_value may still be finishing inside
    // the thread when the constructor has its answer and returns.
    std::promise<bool> ready;
    std::future<bool> answer = ready.get_future();
    thread_ = std::thread([this, className = std::move(className), setup = std::move(setup),
                           ready = std::move(ready)]() mutable {
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
    });
    ok_ = answer.get();
  }
  EndpointThread(std::string className, platform::MessageEndpoint::Handler handler)
      : EndpointThread(std::move(className), [handler] { return handler; }) {}

  ~EndpointThread() {
    {
      std::lock_guard g(mutex_);
      if (loop_) QMetaObject::invokeMethod(loop_, &QEventLoop::quit, Qt::QueuedConnection);
    }
    thread_.join();
  }
  EndpointThread(const EndpointThread&) = delete;
  EndpointThread& operator=(const EndpointThread&) = delete;

  bool ok() const { return ok_; }

 private:
  std::thread thread_;
  std::mutex mutex_;
  QEventLoop* loop_ = nullptr;
  bool ok_ = false;
};

}  // namespace platform_test
