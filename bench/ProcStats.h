#pragma once
// Per-thread counters of a process from /proc: context switches (each a
// wake-up of a thread that had slept, or a preemption) and time on the CPU.
// pid 0 is this process.
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

// Every thread of the process, by thread ID.
std::map<pid_t, ThreadStats> readThreadStats(pid_t pid = 0);
std::set<pid_t> threadIds(pid_t pid = 0);
pid_t currentThreadId();
// The thread's name (comm), "?" once it is gone.
std::string threadName(pid_t pid, pid_t tid);
// utime + stime of the whole process from /proc/<pid>/stat, in ns.
uint64_t processCpuNs(pid_t pid);
// VmRSS from /proc/<pid>/status in KiB; 0 when unreadable.
uint64_t residentKiB(pid_t pid = 0);

// What the threads of `group` did between two readings.
ThreadStats difference(const std::map<pid_t, ThreadStats>& before, const std::map<pid_t, ThreadStats>& after,
                       const std::set<pid_t>& group);

}  // namespace bench
