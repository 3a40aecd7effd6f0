// The agent reads its mouse's element events, and answers them up to the start of the
// command, on the thread that runs the library's run loop. On a busy desktop the
// scheduler, not the agent, would decide how soon a press is answered; so the agent asks
// the session's RealtimeKit for a modest real-time priority for that thread alone (below
// the driver daemon's), and says once on standard error what it got. Command threads,
// the file watch and any thread the tray starts keep normal priority.
//
// The request runs on a thread of its own, so start-up does not wait for the answer.
// KINETRA_REALTIME=0 keeps normal priority without asking.
//
// Threads: made and destroyed on the same thread; the destructor waits for the answer.
#pragma once

#include <sys/types.h>

#include <thread>

namespace zv::agent {

class InputPriority {
 public:
  // SCHED_RR priority asked for; the driver daemon's unit runs it at SCHED_FIFO 10.
  static constexpr int kPriority = 5;

  // Asks for `thread` (a thread ID of this process).
  explicit InputPriority(pid_t thread);
  ~InputPriority();
  InputPriority(const InputPriority&) = delete;
  InputPriority& operator=(const InputPriority&) = delete;

 private:
  std::thread request_;
};

}  // namespace zv::agent
