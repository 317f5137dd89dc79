// The start-up priority raise, each case in a child process so the test run
// itself keeps its priority.
#include <pwd.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "session/ProcessPriority.h"

namespace orvex {
namespace {

int NiceOf(pid_t tid) {
  errno = 0;
  return getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
}

// Runs body in a child with a second thread already running; the child's
// exit code is body's answer (0 for success).
int InChild(const std::function<int(pid_t otherThread)>& body) {
  const pid_t child = fork();
  if (child == 0) {
    std::atomic<pid_t> other{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
      other = static_cast<pid_t>(syscall(SYS_gettid));
      while (!done) std::this_thread::yield();
    });
    while (other == 0) std::this_thread::yield();
    const int code = body(other);
    done = true;
    worker.join();
    _exit(code);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(ProcessPriorityTest, RaisesEveryThreadAsFarAsAllowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs the right to raise priorities";
  // Allowed: the threads running already are raised with the calling one.
  EXPECT_EQ(InChild([](pid_t other) {
              if (!RaiseProcessPriority(-10)) return 1;
              if (NiceOf(0) != -10) return 2;
              if (NiceOf(other) != -10) return 3;
              // Never lowered: a second, smaller raise keeps -10.
              if (!RaiseProcessPriority(-5) || NiceOf(0) != -10) return 4;
              return 0;
            }),
            0);

  // No right at all: the process goes on at its priority, and says so.
  EXPECT_EQ(InChild([](pid_t) {
              const rlimit limit{0, 0};
              if (setrlimit(RLIMIT_NICE, &limit) != 0) return 20;
              const passwd* nobody = getpwnam("nobody");
              if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) return 21;
              const int before = NiceOf(0);
              if (RaiseProcessPriority(-10)) return 22;
              return NiceOf(0) == before ? 0 : 23;
            }),
            0);
}

TEST(ProcessPriorityTest, AnOrdinaryUserGetsAsFarAsTheLimitAllows) {
  if (geteuid() != 0) GTEST_SKIP() << "needs the right to set the limit and change user";
  // A limit that allows nice -5: -5 rather than a failure.
  const int code = InChild([](pid_t other) {
    const rlimit limit{25, 25};  // floor 20 - 25 = -5
    if (setrlimit(RLIMIT_NICE, &limit) != 0) return 77;
    const passwd* nobody = getpwnam("nobody");
    if (!nobody || setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) return 11;
    if (!RaiseProcessPriority(-10)) return 12;
    return NiceOf(0) == -5 && NiceOf(other) == -5 ? 0 : 13;
  });
  if (code == 77) GTEST_SKIP() << "this machine does not let the limit be raised";
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace orvex
