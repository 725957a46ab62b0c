#pragma once
// Per-thread counters of this process from /proc: context switches (each a
// wake-up of a thread that had slept, or a preemption) and time on the CPU.
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace bench {

struct ThreadStats {
  uint64_t voluntary = 0;    // switches away because the thread blocked
  uint64_t involuntary = 0;  // switches away because it was preempted
  uint64_t cpuNs = 0;        // time on the CPU (schedstat)
};

// Every thread of this process, by thread ID.
std::map<pid_t, ThreadStats> readThreadStats();
std::set<pid_t> threadIds();
pid_t currentThreadId();

// What the threads of `group` did between two readings.
ThreadStats difference(const std::map<pid_t, ThreadStats>& before, const std::map<pid_t, ThreadStats>& after,
                       const std::set<pid_t>& group);

}  // namespace bench
