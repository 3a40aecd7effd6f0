// The mice plugged in now, as the suite sees them: every hidraw node whose report
// descriptor has a Mouse or Pointer collection (platform/HidrawNodes.h), with what the
// descriptor says it has, whether the suite serves it (one of its own products, or
// adopted: AdoptedMice.h) and whether a driver daemon serves the node. The rewritten
// mouse our daemon presents is not a mouse of the desk and is left out.
//
// Threads: any.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "device/AdoptedMice.h"
#include "device/MouseCapabilities.h"
#include "platform/HidrawNodes.h"

namespace zv::device {

struct PresentMouse {
  platform::HidrawNode node;
  MouseCapabilities capabilities;
  bool automatic = false;  // one of the suite's own products
  bool adopted = false;
  bool driverRunning = false;  // a daemon's socket for the node is in the services folder

  bool served() const { return automatic || adopted; }
  std::string identifier() const { return mouseIdentifier(vendor(), product()); }
  std::uint16_t vendor() const { return static_cast<std::uint16_t>(node.id.vendor); }
  std::uint16_t product() const { return static_cast<std::uint16_t>(node.id.product); }
  // HID_NAME, else "mouse VVVV:PPPP".
  std::string name() const;
};

// The mice present, in hidraw order; `adopted` is the list of adopted mice to compare
// with (by default read from the udev rules folder).
std::vector<PresentMouse> presentMice(const std::filesystem::path& sysfs = platform::sysfsRoot(),
                                      const std::vector<AdoptedMouse>& adopted = adoptedMice());

// "found mouse 046d:c52b (Name), not adopted: kinetra adopt 046d:c52b": what to say about a
// mouse that nothing serves, where a program would otherwise only say "not connected".
std::string notAdoptedNotice(const PresentMouse& mouse);
// The notices of every present mouse that is neither ours nor adopted, one mouse model
// once.
std::vector<std::string> notAdoptedNotices();

}  // namespace zv::device
