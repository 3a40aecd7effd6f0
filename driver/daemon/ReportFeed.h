// The device's side of a mouse whose input reports the daemon is handed rather than reads
// from hardware: the simulated device's script input sends reports through it and unplugs
// the mouse. FakeHidraw (driver/fakes) is the one implementation; the daemon's own code
// names only this interface, so it never reaches into the fakes.
//
// Thread affinity: whichever thread feeds the device (the loop's, for the script input).
#pragma once

#include <cstdint>
#include <span>

namespace zv::driver {

class ReportFeed {
 public:
  virtual ~ReportFeed() = default;

  // Sends one input report as the mouse would, without waiting: `full` when the driver has
  // not read enough of the earlier reports yet (the caller retries once it has).
  enum class Send { sent, full, unplugged };
  virtual Send trySendReport(std::span<const std::uint8_t> report) = 0;
  // Whether reports wait that the driver has not read yet.
  virtual bool hasUnreadReports() const = 0;
  // The mouse goes away: the driver's next read finds the device gone.
  virtual void unplug() = 0;
};

}  // namespace zv::driver
