// What `perch --output record[:FILE]` writes instead of sending keys to the desktop: one
// line per thing the agent did, written and flushed as it happens, each with the time
// (CLOCK_MONOTONIC, in seconds, the clock other programs of this machine can compare
// against):
//
//   [  4711.000100] device DemoMouse-1 (Zenvor Demo Mouse) connected
//   [  4711.000200] profile "Default"
//   [  4711.250000] event 0x90004 1
//   [  4711.250040] key KEY_PAGEDOWN down
//   [  4711.750000] key KEY_PAGEDOWN repeat
//   [  4712.000000] event 0x9000e 1 dropped          (no profile runs)
//   [  4712.100000] shift "Normal" -> "Media"
//   [  4712.300000] wheel up 1
//   [  4712.400000] button BTN_MIDDLE down
//   [  4712.500000] open /home/me/notes.txt
//   summary: 12 events in, 20 actions out, event to action p50 41 us, p99 80 us (10 measured)
//
// The latency is measured from an element event reaching the agent to the first action
// after it, when that action follows within kImmediate (later ones are repeats or the
// later steps of a macro, not the answer to the event).
//
// Threads: lines may be written from any thread (command threads write keys); each
// line is one write.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "LatencyHistogram.h"
#include "base/Result.h"
#include "menuAppDelegate.h"

namespace zv::agent {

class RecordStream : public AgentTrace {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kImmediate{50};

  // Standard output for "" or "-"; else the file at `target`, created or emptied (a
  // FIFO is written as it is). Refused: a folder or anything else that is not a
  // regular file or a FIFO.
  static base::Result<std::shared_ptr<RecordStream>> open(const std::string& target);
  // Writes to `fd`; closes it at the end when `owned`.
  RecordStream(int fd, bool owned);
  ~RecordStream() override;
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;

  // "[time] text".
  void line(std::string_view text, Clock::time_point when = Clock::now());
  // A line for an action (a key, a wheel step, a button, an opened file), which may
  // answer the last event.
  void action(std::string_view text, Clock::time_point when = Clock::now());

  // AgentTrace.
  void elementEvent(std::uint32_t element, std::int32_t value, bool routed) override;
  void shiftStateChanged(const std::string& from, const std::string& to) override;
  void currentProfileChanged(const std::optional<std::string>& name) override;
  void deviceConnected(const device::DeviceController& device, bool connected) override;
  void waitingForDevice(const std::string& alias) override;

  struct Summary {
    std::uint64_t eventsIn = 0;
    std::uint64_t actionsOut = 0;
    std::uint64_t measured = 0;
    std::chrono::microseconds p50{0};
    std::chrono::microseconds p99{0};
  };
  Summary summary() const;
  // The summary line (without time); written once, by the owner at the end.
  void writeSummary();

 private:
  void write(std::string_view text, std::optional<Clock::time_point> when);

  int fd_;
  bool owned_;
  mutable std::mutex mutex_;
  std::uint64_t eventsIn_ = 0;
  std::uint64_t actionsOut_ = 0;
  std::optional<Clock::time_point> pendingEvent_;
  LatencyHistogram latency_;
};

}  // namespace zv::agent
