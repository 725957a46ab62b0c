#include "bench/ProcStats.h"

#include <dirent.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace bench {

namespace {
std::string processDir(pid_t pid) { return pid == 0 ? std::string("/proc/self") : "/proc/" + std::to_string(pid); }

ThreadStats readOne(pid_t pid, pid_t tid) {
  ThreadStats s;
  const std::string base = processDir(pid) + "/task/" + std::to_string(tid);
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

std::set<pid_t> threadIds(pid_t pid) {
  std::set<pid_t> ids;
  if (DIR* d = ::opendir((processDir(pid) + "/task").c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ids.insert(pid_t(std::stol(e->d_name)));
    ::closedir(d);
  }
  return ids;
}

std::map<pid_t, ThreadStats> readThreadStats(pid_t pid) {
  std::map<pid_t, ThreadStats> out;
  for (pid_t tid : threadIds(pid)) out[tid] = readOne(pid, tid);
  return out;
}

std::string threadName(pid_t pid, pid_t tid) {
  std::ifstream comm(processDir(pid) + "/task/" + std::to_string(tid) + "/comm");
  std::string name;
  if (!std::getline(comm, name)) return "?";
  return name;
}

uint64_t processCpuNs(pid_t pid) {
  std::ifstream stat(processDir(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  // The name in parentheses may hold blanks; the fields after it are plain.
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream rest(text.substr(close + 2));
  std::string field;
  uint64_t utime = 0, stime = 0;
  // Fields 3..13 precede utime (14) and stime (15).
  for (int i = 3; i <= 13 && rest >> field; ++i) {
  }
  rest >> utime >> stime;
  const long hz = ::sysconf(_SC_CLK_TCK);
  return (utime + stime) * (1000000000ULL / uint64_t(hz > 0 ? hz : 100));
}

uint64_t residentKiB(pid_t pid) {
  std::ifstream status(processDir(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6));
  return 0;
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
