#include "bench/ProcStats.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace bench {

namespace {
ThreadStats readOne(pid_t tid) {
  ThreadStats s;
  const std::string base = "/proc/self/task/" + std::to_string(tid);
  std::ifstream status(base + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
      s.voluntary = std::stoull(line.substr(line.find(':') + 1));
    else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
      s.involuntary = std::stoull(line.substr(line.find(':') + 1));
  }
  std::ifstream sched(base + "/schedstat");
  sched >> s.cpuNs;
  return s;
}
}  // namespace

std::set<pid_t> threadIds() {
  std::set<pid_t> ids;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ids.insert(pid_t(std::stol(e->d_name)));
    ::closedir(d);
  }
  return ids;
}

std::map<pid_t, ThreadStats> readThreadStats() {
  std::map<pid_t, ThreadStats> out;
  for (pid_t tid : threadIds()) out[tid] = readOne(tid);
  return out;
}

pid_t currentThreadId() { return pid_t(::syscall(SYS_gettid)); }

ThreadStats difference(const std::map<pid_t, ThreadStats>& before, const std::map<pid_t, ThreadStats>& after,
                       const std::set<pid_t>& group) {
  ThreadStats d;
  for (pid_t tid : group) {
    const auto a = after.find(tid);
    if (a == after.end()) continue;
    const auto b = before.find(tid);
    const ThreadStats zero;
    const ThreadStats& from = b == before.end() ? zero : b->second;
    d.voluntary += a->second.voluntary - from.voluntary;
    d.involuntary += a->second.involuntary - from.involuntary;
    d.cpuNs += a->second.cpuNs - from.cpuNs;
  }
  return d;
}

}  // namespace bench
