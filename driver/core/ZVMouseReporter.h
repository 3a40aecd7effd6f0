// Turns a held axis deflection into a steady stream of relative pointer events: while the
// latest motion (x, y) is not (0, 0), the reporter dispatches (x, y, buttons) once at once and
// then once per step (10 ms), until a later SetXYAxis brings both back to 0.
//
//   SetXYAxis(3,0)            SetXYAxis(0,0)
//        |                         |
//   t:   0    10   20   30   40   50
//        *    *    *    *    *    (nothing: stopped)     * = dispatch(3, 0, buttons)
//
// Two ways to run it:
//   - Mode::thread: a std::thread does the stepping, timed by a DriverClock (the real one unless
//     a test hands in a ManualDriverClock). SetXYAxis never blocks and takes no lock while the
//     thread is stepping or the motion stays 0; it only takes the mutex to wake an idle
//     thread. Destruction stops the thread at once, also in the middle of a step.
//   - Mode::manual: no thread; time is data. SetXYAxis makes the immediate dispatch on the
//     caller's thread and advance(elapsed) makes the steps that fall due in that span, so
//     tests and the replay tool see exactly what the thread would do.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "core/DriverClock.h"

namespace zv::driver {

class ZVMouseReporter {
 public:
  // Called with the motion per step and the button word. In thread mode it runs on the
  // reporter thread.
  using Dispatch = std::function<void(std::int16_t dx, std::int16_t dy, std::uint32_t buttons)>;
  enum class Mode { thread, manual };
  static constexpr std::chrono::milliseconds kStep{10};

  // `clock` times the thread's steps and must outlive the reporter; manual mode does not
  // use it.
  explicit ZVMouseReporter(Dispatch dispatch, Mode mode = Mode::thread,
                           std::chrono::milliseconds step = kStep,
                           DriverClock& clock = DriverClock::steady());
  ~ZVMouseReporter();
  ZVMouseReporter(const ZVMouseReporter&) = delete;
  ZVMouseReporter& operator=(const ZVMouseReporter&) = delete;

  // Stores the motion and button word of the latest report and wakes the stepping. A torn
  // pair cannot happen: the three values are stored as one word.
  void SetXYAxis(std::int16_t x, std::int16_t y, std::uint16_t buttons);

  // Manual mode: makes the steps due before now + elapsed, then moves time on. A step due
  // exactly at the new time is left to the next advance, so a SetXYAxis at that instant
  // comes first. Does nothing in thread mode.
  void advance(std::chrono::milliseconds elapsed);
  std::chrono::milliseconds now() const { return now_; }

  Mode mode() const { return mode_; }

 private:
  static std::uint64_t pack(std::int16_t x, std::int16_t y, std::uint16_t buttons);
  static bool moving(std::uint64_t motion) { return (motion & 0xFFFFFFFFu) != 0; }
  void dispatchMotion(std::uint64_t motion) const;
  void run();

  const Dispatch dispatch_;
  const Mode mode_;
  const std::chrono::milliseconds step_;
  DriverClock& clock_;

  // x in bits 0-15, y in 16-31, buttons in 32-47.
  std::atomic<std::uint64_t> motion_{0};
  // Set by the thread, under the mutex, right before it waits for motion; see SetXYAxis.
  std::atomic<bool> waiting_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool running_ = true;  // guarded by mutex_
  std::thread thread_;

  // Manual mode.
  std::chrono::milliseconds now_{0};
  std::chrono::milliseconds nextStep_{0};
  bool stepping_ = false;
};

}  // namespace zv::driver
