#include "session/ProcessPriority.h"

#include <dirent.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvex {

namespace {

// On Linux the nice value belongs to each thread; threads started later take
// it from the one that starts them, but those running already (the timer
// service, the outputs) have to be raised one by one.
std::vector<pid_t> ProcessThreads() {
  std::vector<pid_t> threads;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir)) {
      const long tid = std::strtol(entry->d_name, nullptr, 10);
      if (tid > 0) threads.push_back(static_cast<pid_t>(tid));
    }
    closedir(dir);
  }
  if (threads.empty()) threads.push_back(static_cast<pid_t>(syscall(SYS_gettid)));
  return threads;
}

int NiceOf(pid_t tid) {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
  return errno == 0 ? nice : 0;
}

// The lowest nice value RLIMIT_NICE lets an unprivileged process reach.
int NiceFloor() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NICE, &limit) != 0) return 20;
  if (limit.rlim_cur == RLIM_INFINITY) return -20;
  return 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40));
}

// Sets one thread to the best of target and the allowed floor; true when it
// stands at target or better afterwards, or was raised.
bool RaiseThread(pid_t tid, int target, int& error) {
  const int before = NiceOf(tid);
  if (before <= target) return true;
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), target) == 0) return true;
  error = errno;
  const int reachable = std::max(target, NiceFloor());
  if (reachable < before && setpriority(PRIO_PROCESS, static_cast<id_t>(tid), reachable) == 0)
    return true;
  return false;
}

}  // namespace

bool RaiseProcessPriority(int target) {
  target = std::clamp(target, -20, 19);
  bool raised = true;
  int error = 0;
  for (pid_t tid : ProcessThreads()) raised = RaiseThread(tid, target, error) && raised;
  if (!raised) {
    std::fprintf(stderr, "orvex: process priority not raised (%s)\n",
                 std::strerror(error ? error : EPERM));
  }
  return raised;
}

}  // namespace orvex
