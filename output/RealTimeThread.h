// Audio threads ask for real-time scheduling where the system grants it (a
// real-time limit, or a privileged user), so a busy machine does not make
// them late; elsewhere they stay as they are and nothing is said.
#pragma once

#include <pthread.h>
#include <sched.h>

namespace orvex {

// Below a sound server's and JACK's own threads, above everything else.
inline constexpr int kAudioThreadPriority = 10;
// The timer thread that tops up the voices and steps the fades: below the
// audio threads, above ordinary work, so a busy machine delays neither.
inline constexpr int kTimerThreadPriority = 5;

// Makes the calling thread real-time (FIFO). True when it is afterwards.
inline bool MakeThisThreadRealTime(int priority = kAudioThreadPriority) {
  sched_param param{};
  param.sched_priority = priority;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace orvex
