// Real-time priority for one thread, as a desktop session hands it out: the system bus's
// RealtimeKit service (org.freedesktop.RealtimeKit1) makes a thread of an unprivileged
// process SCHED_RR at a priority up to its MaxRealtimePriority, for processes that have
// limited how long a real-time thread may run without blocking (RLIMIT_RTTIME, at most
// the service's RTTimeUSecMax).
//
//   auto grant = platform::requestRealtimeThread(gettid(), 5);
//   if (!grant) say(grant.failure().message);
//
// Before asking, the process's RLIMIT_RTTIME is lowered to the service's maximum (hard)
// and half of it (soft). A granted thread that reaches the soft limit without blocking
// (a bug: it should only wake, work briefly and wait again) gets SIGXCPU, which the
// handler installed here answers by putting that thread back to normal scheduling and
// saying so on standard error, before the hard limit would kill the process. The
// service itself adds SCHED_RESET_ON_FORK: threads the granted one starts run normally.
//
// Nothing here keeps the bus open. Threads: any; one request at a time per process.
#pragma once

#include <sys/types.h>

#include <chrono>

#include "base/Result.h"

struct sd_bus;

namespace zv::platform {

struct RealtimeGrant {
  int priority = 0;                     // the SCHED_RR priority the thread runs at
  std::chrono::microseconds softLimit;  // RLIMIT_RTTIME now: CPU time without a pause
  std::chrono::microseconds hardLimit;
};

// Asks the service on the system bus to run `thread` (a thread ID of this process) at
// `priority`, or at the service's maximum when that is lower. The failure says why not:
// no system bus, no service, the service's refusal.
base::Result<RealtimeGrant> requestRealtimeThread(pid_t thread, int priority);
// The same over `bus`, a connection on which the service answers (tests give a peer).
base::Result<RealtimeGrant> requestRealtimeThread(sd_bus* bus, pid_t thread, int priority);

}  // namespace zv::platform
