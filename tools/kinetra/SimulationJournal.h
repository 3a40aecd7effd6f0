// What `kinetra simulate` prints: every line from the main thread and from the command
// threads, with its time, in time order, written out as the simulation goes.
//
// On the simulated clock, lines of one millisecond are ordered by what caused them:
// what happened before an event of the script comes before it; then the event and what
// the main thread did with it (shift-state change, driver calls); then what the command
// threads did, thread by thread in the order of their text, so that a run prints the
// same whichever thread the system scheduled first. Consecutive overrideElement calls
// of one moment are printed as one line.
//
// Lines are kept until time has moved past them (flushBefore), so memory holds only the
// lines of the current moment, and sorting costs each line once: the journal's work is
// linear in the length of the session.
//
// Threads: add() and addAfter() may be called from any thread; the rest from the thread
// that drives the simulation.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "device/RecordingDriver.h"
#include "engine/Clock.h"

namespace kinetra {

class SimulationJournal {
 public:
  // `byCause`: order the lines of one millisecond by cause (see above); that needs the
  // simulated clock. Otherwise they keep the order in which they were written. Lines go
  // to `out`.
  SimulationJournal(std::shared_ptr<zv::engine::Clock> clock, bool byCause, std::ostream& out);

  zv::engine::Clock::TimePoint start() const { return start_; }
  // Milliseconds since the start, of a time given as time since the clock's epoch.
  long long msAt(std::chrono::nanoseconds sinceEpoch) const;
  long long now() const;
  // Called on the driving thread before each event of the script and each heading.
  void nextStep() { step_.fetch_add(1, std::memory_order_relaxed); }

  // Adds a line at `ms`; a driver call is kept to merge overrideElement lines. Answers
  // the line's place, for addAfter().
  std::uint64_t add(long long ms, std::string text, const zv::device::DriverCall* call = nullptr);
  std::uint64_t add(std::string text) { return add(now(), std::move(text)); }
  // A note of the script: a heading between the lines, at the current time.
  void addHeading(std::string text);
  // A line placed right after the line `seq` (same time, step and thread kind). The line
  // must not have been written out yet: call it in the same step.
  void addAfter(std::uint64_t seq, std::string text);

  // Writes out every line earlier than `ms`: no line can come before them any more once
  // the clock has reached `ms` and the runs have settled there.
  void flushBefore(long long ms);
  // Writes out every line.
  void flush();

 private:
  struct Entry {
    std::thread::id thread;
    long long ms;
    std::uint64_t step;
    int phase;  // 0: the driving thread, 1: a command thread
    std::uint64_t seq;
    std::string text;
    bool heading = false;
    bool override = false;
    bool enabled = false;
    std::uint32_t element = 0;
  };

  std::uint64_t addEntry(Entry entry);
  void orderSimultaneousCommands(std::vector<Entry>& entries) const;
  void write(const std::vector<Entry>& entries);

  std::shared_ptr<zv::engine::Clock> clock_;
  zv::engine::Clock::TimePoint start_;
  std::thread::id main_;
  bool byCause_;
  std::ostream& out_;
  std::atomic<std::uint64_t> step_{0};
  std::mutex mutex_;
  std::uint64_t next_ = 0;
  std::vector<Entry> pending_;
  long long flushedBefore_ = 0;
};

}  // namespace kinetra
