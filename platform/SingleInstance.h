#pragma once
#include <string>
#include <string_view>

namespace platform {

// One running instance per program and user: an exclusive flock() on
// "<class name>.lock" in the runtime folder, taken without waiting. The lock
// lives as long as this object (or the process: the kernel drops it when the
// process dies, so a crashed instance never blocks the next start).
class SingleInstance {
 public:
  enum class State {
    Held,          // we are the one instance
    HeldByOther,   // another process holds it: end quietly
    Failed,        // no runtime folder or the lock file cannot be opened
  };

  // Tries once; see state().
  explicit SingleInstance(std::string_view name);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  State state() const { return state_; }
  bool held() const { return state_ == State::Held; }
  const std::string& name() const { return name_; }
  // Path of the lock file (empty without a runtime folder).
  const std::string& path() const { return path_; }

 private:
  std::string name_;
  std::string path_;
  int fd_ = -1;
  State state_ = State::Failed;
};

}  // namespace platform
